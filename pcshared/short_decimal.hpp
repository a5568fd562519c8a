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

namespace pcgrid {

namespace short_decimal_detail {

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

// Whether a double in the normal float range lies half-way between two floats.
inline bool is_float_midpoint(double d) {
  constexpr std::uint64_t LOW = (std::uint64_t{1} << 29) - 1;
  constexpr std::uint64_t HALF = std::uint64_t{1} << 28;
  return (std::bit_cast<std::uint64_t>(d) & LOW) == HALF;
}

}  // namespace short_decimal_detail

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
  double d = 0.0;
  if (w != 0) {
    const int q = exponent - after_point;
    if (q < -MAX_POWER || q > MAX_POWER) return false;
    d = q >= 0 ? static_cast<double>(w) * EXACT_POWERS_OF_TEN[q]
               : static_cast<double>(w) / EXACT_POWERS_OF_TEN[-q];
    if (d < FLT_MIN || d > FLT_MAX || is_float_midpoint(d)) return false;
  }
  const float f = static_cast<float>(d);
  value = negative ? -f : f;
  stop = p;
  return true;
}

}  // namespace pcgrid
