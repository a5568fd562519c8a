// The fast path of "%f" for the numbers that tables are made of: short
// decimals such as 0.123456, -12.5 or 3.25e-4.
//
// short_decimal reads, at `p`, an optional sign, decimal digits with an
// optional point, and an optional exponent, when
//   (a) the digits hold at most 15 significant digits (leading zeros do not
//       count) and at least one digit,
//   (b) the power of ten q, the exponent less the digits after the point,
//       lies in -22..22 (or the digits are all zeros), and
//   (c) the value rounds, in double precision, to a normal float's range and
//       not to a point half-way between two floats.
// It then sets `value` to the float nearest to the decimal (ties to even),
// `stop` to the end of the number, and returns true. For every other text
// it returns false and sets nothing: hexadecimal numbers, inf and nan, a
// dangling exponent ("1e", "2E+"), longer or more extreme decimals, and
// results near the ends of the float range are left to the general path.
//
// Why the value is exact. Let W be the digits as an integer and v = W × 10^q
// the decimal's value. By (a), W < 10^15 < 2^53, so W is a double exactly;
// 10^k for k ≤ 22 is one too (5^22 < 2^53, and the power of two is held in
// the exponent). IEEE-754 multiplication and division round their exact
// result once, to nearest, so d = W × 10^q (or W / 10^-q) is RN53(v), the
// double nearest to v. (The build forbids contraction into fused
// multiply-adds, and x86-64 computes doubles in double precision.)
// Rounding d to float then gives RN24(v), the float nearest to v, unless d
// is a midpoint of two floats: let f1 < f2 be the adjacent floats around v
// and m their midpoint, which is a double (it has 25 significant bits). If
// v < m then d ≤ m, since rounding is monotonic and m rounds to itself; d
// is not m by (c), so d < m and d rounds to f1, as v does. The same holds
// above m, and a float v gives d = v. So, outside midpoints, RN24(d) =
// RN24(v). For a d in the normal range, a float has its low 29 bits of the
// double's significand zero and a midpoint has exactly bit 28 of them set,
// also at the top of a binade (the midpoint lies in the lower binade).
// Conversions of a double to a float round to nearest, ties to even.
//
// What is consumed is what "%f" consumes for these forms: the sign, the
// digits and point, and an exponent that has digits; for a dangling exponent
// "%f" behaves differently from a strict reading, and those are handed over.
#pragma once

#include <bit>
#include <cfloat>
#include <cstdint>
#include <cstring>

#include "exact_arithmetic.hpp"

namespace pcgrid {

namespace short_decimal_detail {

// White space as the C locale's isspace has it, and decimal digits.
constexpr bool is_space(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}
constexpr bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

inline constexpr double EXACT_POWERS_OF_TEN[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                 1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                                 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
inline constexpr int MAX_POWER = 22;
inline constexpr int MAX_DIGITS = 15;
inline constexpr int MAX_EXPONENT = 100'000;  // larger exponents are handed over

// Accumulates one digit into `w`; false when the significant digits exceed
// MAX_DIGITS.
constexpr bool add_digit(char c, std::uint64_t& w, int& digits) {
  if (w == 0 && c == '0') return true;  // a leading zero
  if (++digits > MAX_DIGITS) return false;
  w = w * 10 + static_cast<std::uint64_t>(c - '0');
  return true;
}

// Eight characters read at once, the first in the lowest byte.
inline std::uint64_t load8(const char* p) {
  std::uint64_t chunk = 0;
  std::memcpy(&chunk, p, sizeof chunk);
  if constexpr (std::endian::native == std::endian::big) chunk = __builtin_bswap64(chunk);
  return chunk;
}

inline constexpr std::uint64_t BYTE_HIGH_BITS = 0x8080808080808080;

// How many of the chunk's characters, from the first, are white space as
// the C locale has it: ' ' (0x20) or '\t' to '\r' (0x09 to 0x0D). Bytes
// are taken on their own as in leading_digits: with its top bit cleared, a
// byte XOR 0x20 plus 0x7F has its top bit set exactly where it is not 0x20;
// plus 0x77 where it is at least 0x09; plus 0x72 where it is at least 0x0E.
inline int leading_spaces(std::uint64_t chunk) {
  const std::uint64_t low = chunk & ~BYTE_HIGH_BITS;
  const std::uint64_t not_blank = (low ^ 0x2020202020202020) + 0x7F7F7F7F7F7F7F7F;
  const std::uint64_t at_least_tab = low + 0x7777777777777777;
  const std::uint64_t above_return = low + 0x7272727272727272;
  const std::uint64_t spaces =
      (~not_blank | (at_least_tab & ~above_return)) & ~chunk & BYTE_HIGH_BITS;
  const std::uint64_t others = ~spaces & BYTE_HIGH_BITS;
  return others == 0 ? 8 : std::countr_zero(others) / 8;
}

// How many of the chunk's characters, from the first, are ASCII digits.
// Each byte is taken on its own, without carries between bytes: with its
// top bit cleared (at most 0x7F), adding 0x50 sets the top bit exactly where
// it is at least '0' (0x30), adding 0x46 exactly where it is above '9'
// (0x3A or more), and neither sum leaves the byte. A byte whose own top bit
// is set is no digit.
inline int leading_digits(std::uint64_t chunk) {
  const std::uint64_t low = chunk & ~BYTE_HIGH_BITS;
  const std::uint64_t at_least_zero = low + 0x5050505050505050;
  const std::uint64_t above_nine = low + 0x4646464646464646;
  const std::uint64_t digits = at_least_zero & ~above_nine & ~chunk & BYTE_HIGH_BITS;
  const std::uint64_t others = ~digits & BYTE_HIGH_BITS;
  return others == 0 ? 8 : std::countr_zero(others) / 8;
}

// The value of the first k characters of the chunk, all digits, 1 ≤ k ≤ 8.
// Shifted up by 8 - k bytes they become the last k of eight digits after as
// many zeros; the low four bits of a digit are its value; and three
// multiplications combine neighbouring digits, then pairs, then fours:
// 2561 = 10 × 2^8 + 1, 6553601 = 100 × 2^16 + 1, 42949672960001 = 10^4 ×
// 2^32 + 1, each step's sums staying below its field (99, 9999, 99999999).
inline std::uint64_t digits_value(std::uint64_t chunk, int k) {
  std::uint64_t v = (chunk << (8 * (8 - k))) & 0x0F0F0F0F0F0F0F0F;
  v = (v * 2561) >> 8;
  v = ((v & 0x00FF00FF00FF00FF) * 6553601) >> 16;
  return ((v & 0x0000FFFF0000FFFF) * 42949672960001) >> 32;
}

inline constexpr std::uint64_t POWERS_OF_TEN[] = {1,      10,      100,       1000,
                                                  10'000, 100'000, 1'000'000, 10'000'000};

// The digits of the usual form, d.dddddd, read eight characters at a time:
// 1 to 7 digits, a point, 0 to 7 digits, and then neither a digit nor an
// exponent. At most 14 digits in all, so the character-by-character reading
// of short_decimal would take them all and find the same W and the same
// count of digits after the point. False, having set nothing, for any other
// form, and where fewer than 16 characters are left (both reads stay within
// the text: the point is at most 7 characters in, the fraction's chunk ends
// at most 16 in).
inline bool short_fixed(const char* p, const char* end, std::uint64_t& w, int& after_point,
                        const char*& stop) {
  if (end - p < 16) return false;
  const std::uint64_t whole = load8(p);
  const int whole_digits = leading_digits(whole);
  if (whole_digits == 0 || whole_digits == 8 || p[whole_digits] != '.') return false;
  const char* fraction = p + whole_digits + 1;
  const std::uint64_t part = load8(fraction);
  const int fraction_digits = leading_digits(part);
  if (fraction_digits == 8 || fraction[fraction_digits] == 'e' ||
      fraction[fraction_digits] == 'E') {
    return false;
  }
  w = digits_value(whole, whole_digits) * POWERS_OF_TEN[fraction_digits];
  if (fraction_digits > 0) w += digits_value(part, fraction_digits);
  after_point = fraction_digits;
  stop = fraction + fraction_digits;
  return true;
}

// Whether a double in the normal float range lies half-way between two floats.
inline bool is_float_midpoint(double d) {
  constexpr std::uint64_t LOW = (std::uint64_t{1} << 29) - 1;
  constexpr std::uint64_t HALF = std::uint64_t{1} << 28;
  return (std::bit_cast<std::uint64_t>(d) & LOW) == HALF;
}

// The float nearest to ±w × 10^q, as proved above; false, leaving `value`
// alone, outside conditions (b) and (c).
inline bool nearest_float(std::uint64_t w, int q, bool negative, float& value) {
  double d = 0.0;
  if (w != 0) {
    if (q < -MAX_POWER || q > MAX_POWER) return false;
    d = q >= 0 ? static_cast<double>(w) * EXACT_POWERS_OF_TEN[q]
               : static_cast<double>(w) / EXACT_POWERS_OF_TEN[-q];
    if (d < FLT_MIN || d > FLT_MAX || is_float_midpoint(d)) return false;
  }
  const float f = static_cast<float>(d);
  value = negative ? -f : f;
  return true;
}

}  // namespace short_decimal_detail

// The first character at or after `p` that is not white space, or `end`.
inline const char* skip_spaces(const char* p, const char* end) {
  using namespace short_decimal_detail;
  while (end - p >= 8) {
    const int spaces = leading_spaces(load8(p));
    p += spaces;
    if (spaces < 8) return p;
  }
  while (p < end && is_space(*p)) ++p;
  return p;
}

inline bool short_decimal(const char* p, const char* end, float& value, const char*& stop) {
  using namespace short_decimal_detail;
  bool negative = false;
  if (p < end && (*p == '-' || *p == '+')) {
    negative = *p == '-';
    ++p;
  }
  if (p + 1 < end && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) return false;
  std::uint64_t w = 0;
  int digits = 0;
  int after_point = 0;
  const char* fixed_stop = nullptr;
  if (short_fixed(p, end, w, after_point, fixed_stop)) {
    if (!nearest_float(w, -after_point, negative, value)) return false;
    stop = fixed_stop;
    return true;
  }
  bool any_digit = false;
  for (; p < end && is_digit(*p); ++p) {
    any_digit = true;
    if (!add_digit(*p, w, digits)) return false;
  }
  if (p < end && *p == '.') {
    for (++p; p < end && is_digit(*p); ++p) {
      any_digit = true;
      ++after_point;
      if (!add_digit(*p, w, digits)) return false;
    }
  }
  if (!any_digit) return false;
  int exponent = 0;
  if (p < end && (*p == 'e' || *p == 'E')) {
    const char* e = p + 1;
    const bool negative_exponent = e < end && *e == '-';
    if (e < end && (*e == '-' || *e == '+')) ++e;
    if (e == end || !is_digit(*e)) return false;  // a dangling exponent
    for (; e < end && is_digit(*e); ++e) {
      if (exponent > MAX_EXPONENT) return false;
      exponent = exponent * 10 + (*e - '0');
    }
    if (negative_exponent) exponent = -exponent;
    p = e;
  }
  if (!nearest_float(w, exponent - after_point, negative, value)) return false;
  stop = p;
  return true;
}

}  // namespace pcgrid
