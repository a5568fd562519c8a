#include "number_format.hpp"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "exact_arithmetic.hpp"
#include "powers_of_ten.hpp"

namespace pcgrid {

namespace {

// Writes the `length` characters of `text` right-aligned in `width`.
char* right_align(char* out, const char* text, int length, int width) {
  const int pad = width > length ? width - length : 0;
  std::memset(out, ' ', static_cast<std::size_t>(pad));
  std::memcpy(out + pad, text, static_cast<std::size_t>(length));
  return out + pad + length;
}

template <typename T, typename... Format>
char* format_right(char* out, T value, int width, Format... format) {
  char text[FORMAT_ROOM];
  const auto result = std::to_chars(text, text + sizeof text, value, format...);
  return right_align(out, text, static_cast<int>(result.ptr - text), width);
}

// The eight digits of x < 10^8, at once. Its halves of four digits go to
// the two 32-bit lanes of a word (the first half to the low lane, so that
// the first digit ends in the lowest byte); each lane is split into halves
// of two digits in 16-bit lanes, then each of those into two digits in
// bytes. A quotient is taken with a multiplication and a shift: for y <
// 10^4, floor(y × 10486 / 2^20) = floor(y / 100), as 10486 / 2^20 exceeds
// 1/100 by less than 2.3 × 10^-7, so y / 100 grows by less than 0.0023 and
// its fraction, at most 0.99, stays below 1; for z < 100, floor(z × 103 /
// 2^10) = floor(z / 10) likewise (excess below 0.06, fraction at most 0.9).
// No lane's product overflows it (10^4 × 10486 < 2^32, 100 × 103 < 2^16),
// and the bits a shift brings down from the next lane lie above the mask.
inline char* put_eight(char* out, std::uint32_t x) {
  std::uint64_t v = x / 10'000 | std::uint64_t{x % 10'000} << 32;
  const std::uint64_t hundreds = (v * 10486) >> 20 & 0x0000007F0000007F;
  v = hundreds | (v - hundreds * 100) << 16;
  const std::uint64_t tens = (v * 103) >> 10 & 0x000F000F000F000F;
  v = (tens | (v - tens * 10) << 8) + 0x3030303030303030;
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  std::memcpy(out, &v, sizeof v);
  return out + 8;
}

// Two digits of v < 100.
char* put_pair(char* out, std::uint32_t v) {
  out[0] = static_cast<char>('0' + v / 10);
  out[1] = static_cast<char>('0' + v % 10);
  return out + 2;
}

// A point and the seven digits of n < 10^7: its eight digits, the first a
// zero, overwritten by the point.
char* put_point_seven(char* out, std::uint32_t n) {
  put_eight(out, n);
  *out = '.';
  return out + 8;
}

// `count` spaces, then the text is to follow.
char* pad(char* out, int count) {
  for (int i = 0; i < count; ++i) *out++ = ' ';
  return out;
}

// A double's parts: ±m × 2^e with m < 2^53; false for inf and nan.
struct Binary {
  std::uint64_t m;
  int e;
  int biased;  // 0 for zero and the subnormals
};

Binary binary_of(double value) {
  const auto bits = std::bit_cast<std::uint64_t>(value);
  const auto biased = static_cast<int>(bits >> 52 & 0x7FF);
  std::uint64_t m = bits & ((std::uint64_t{1} << 52) - 1);
  if (biased != 0) m |= std::uint64_t{1} << 52;
  return {m, biased == 0 ? -1074 : biased - 1075, biased};
}

// "%*.7f" of a value with at most 24 significant bits (a float widened to
// double, as the member report prints) and a magnitude below 2^31; nullptr,
// having written nothing, for any other value.
//
// Why it is exact. printf prints the exact binary value rounded to 7 digits
// after the point, to nearest with ties to even. The value is ±M × 2^E with
// M < 2^24 an integer, so |value| × 10^7 = M × 10^7 × 2^E, and N, that
// product rounded to an integer, is what the digits spell: N / 10^7, a
// point, and N mod 10^7 in 7 digits. For E ≥ 0 the product is the integer
// (M << E) × 10^7 < 2^31 × 10^7 < 2^55. For E < 0, P = M × 10^7 < 2^48 is
// exact, and N is P / 2^-E rounded: the quotient q and remainder r of the
// shift, plus one when r is above half of 2^-E, or equal to it with q odd.
// When -E ≥ 50 the value is below 2^48 / 2^50, under half a unit, and N is
// 0. The sign is printed for every negative value, -0 included, as printf
// does ("-0.0000000").
char* fixed7_of_short_value(char* out, double value, int width) {
  constexpr std::uint64_t SCALE = 10'000'000;
  Binary b = binary_of(value);
  if (b.biased == 0x7FF) return nullptr;  // inf and nan
  std::uint64_t n = 0;
  if (b.m != 0) {
    const int zeros = std::countr_zero(b.m);
    b.m >>= zeros;
    b.e += zeros;
    const int bits = std::bit_width(b.m);
    if (bits > 24) return nullptr;
    if (b.e >= 0) {
      if (bits + b.e > 31) return nullptr;
      n = (b.m << b.e) * SCALE;
    } else if (b.e > -50) {
      const std::uint64_t p = b.m * SCALE;
      const int shift = -b.e;
      const std::uint64_t q = p >> shift;
      const std::uint64_t r = p - (q << shift);
      const std::uint64_t half = std::uint64_t{1} << (shift - 1);
      n = q + ((r > half || (r == half && (q & 1) != 0)) ? 1 : 0);
    }
  }
  const bool negative = std::signbit(value);
  auto whole = static_cast<std::uint32_t>(n / SCALE);
  int whole_digits = 1;
  for (std::uint32_t rest = whole; rest >= 10; rest /= 10) ++whole_digits;
  out = pad(out, width - (negative + whole_digits + 8));
  if (negative) *out++ = '-';
  for (int d = whole_digits - 1; d >= 0; --d, whole /= 10)
    out[d] = static_cast<char>('0' + whole % 10);
  return put_point_seven(out + whole_digits, static_cast<std::uint32_t>(n % SCALE));
}

// floor(log10 2^b) for the binary exponents b of the doubles whose "%.7e"
// is written here, checked below against the powers of ten themselves.
constexpr int decimal_exponent_of(int b) {
  return (b * 78913) >> 18;
}

// 10^k ≤ 2^b < 10^(k+1), read from the powers' binary exponents: 10^k lies
// in [2^c, 2^(c+1)) for c = its binary exponent, and is a power of two only
// for k = 0.
constexpr bool brackets(int k, int b) {
  const bool lower = k == 0 ? b >= 0 : power_of_ten(k).binary_exponent < b;
  const bool upper = k + 1 == 0 ? b < 0 : power_of_ten(k + 1).binary_exponent >= b;
  return lower && upper;
}

constexpr int MIN_SCIENTIFIC = -99;  // decimal exponents written by the fast path
constexpr int MAX_SCIENTIFIC = 97;

constexpr bool decimal_exponents_hold() {
  for (int b = -1022; b <= 1023; ++b) {
    const int k = decimal_exponent_of(b);
    if (k >= MIN_SCIENTIFIC && k <= MAX_SCIENTIFIC && !brackets(k, b)) return false;
  }
  return true;
}
static_assert(decimal_exponents_hold());

// "%*.7e" of a normal double of decimal exponent -99..99, or of zero;
// nullptr, having written nothing, for any other value or where the
// product leaves the rounding undecided.
//
// Why it is exact. printf writes d.ddddddd × 10^k, the exact binary value
// v = m × 2^e rounded to eight significant digits, to nearest with ties to
// even, k being floor(log10 |v|) or, where the rounding carries to 10^8,
// one more. Let m' = m × 2^11 in [2^63, 2^64) and b = e + 52, so that
// 2^b ≤ v < 2^(b+1), and k0 = floor(b log10 2), which decimal_exponent_of
// gives (checked by the static_assert above over every b it is used for):
// 10^k0 ≤ v < 2 × 10^(k0+1). With 10^q = (P_q + t_q) × 2^(c_q - 63) from
// powers_of_ten.hpp (2^63 ≤ P_q < 2^64, 0 ≤ t_q < 1, t_q = 0 for
// 0 ≤ q ≤ 27), floor(log10 v) = k0 + 1 exactly when v ≥ 10^(k0+1), which
// needs 10^(k0+1) within v's binade, c = b for q = k0 + 1; then v ≥ 10^q
// means m' ≥ P_q + t_q, so m' > P_q, or m' = P_q with t_q = 0. That gives
// k = floor(log10 v), and with s = 7 - k, X = v × 10^s lies in
// [10^7, 10^8).
//
// In the 128-bit product M = m' × P_s, exact, X = (M + m' t_s) / 2^sh with
// sh = 74 - e - c_s. As M ≥ 2^126 and X < 2^27, sh ≥ 100; as M + m' t_s <
// 2^128 + 2^64 and X ≥ 2^23, sh ≤ 105. In units of 2^-64, X = W × 2^64 +
// F + δ, where W = floor(M / 2^sh) and F the 64 bits of M below it, and δ,
// the bits of M further below plus m' t_s / 2^(sh - 64) < 2^64 / 2^36,
// lies in [0, 2^32). So if F ≤ 2^63 - 2^32, X's fraction is below a half
// and X rounds to W; if F > 2^63, it is above a half (or X has reached
// W + 1, less than 2^32 units beyond): X rounds to W + 1. In between
// (every tie lands there) the value goes to snprintf. A rounded N of 10^8
// (X within half a unit below it) is written 1.0000000 with the exponent
// k + 1, as printf writes it. The decimal exponent, at most 97 + 2, keeps
// its two digits.
char* scientific7_of_normal(char* out, double value, int width) {
  const Binary b = binary_of(value);
  const bool negative = std::signbit(value);
  std::uint64_t n = 0;
  int k = 0;
  if (b.m != 0) {
    if (b.biased == 0 || b.biased == 0x7FF) return nullptr;
    k = decimal_exponent_of(b.e + 52);
    if (k < MIN_SCIENTIFIC || k > MAX_SCIENTIFIC) return nullptr;
    const std::uint64_t m = b.m << 11;
    const PowerOfTen& next = power_of_ten(k + 1);
    const bool exact = k + 1 >= 0 && k + 1 <= 27;
    if (next.binary_exponent == b.e + 52 && (m > next.p || (m == next.p && exact))) ++k;
    const PowerOfTen& power = power_of_ten(7 - k);
    const Uint128 product = Uint128{m} * power.p;
    const auto high = static_cast<std::uint64_t>(product >> 64);
    const auto low = static_cast<std::uint64_t>(product);
    const int shift = 74 - b.e - power.binary_exponent;  // 100..105, as proved
    const std::uint64_t fraction = high << (128 - shift) | low >> (shift - 64);
    constexpr std::uint64_t HALF = std::uint64_t{1} << 63;
    constexpr std::uint64_t SLACK = std::uint64_t{1} << 32;
    if (fraction - (HALF - SLACK + 1) < SLACK) return nullptr;
    n = (high >> (shift - 64)) + (fraction > HALF);
    if (n == 100'000'000) {
      n = 10'000'000;
      ++k;
    }
  }
  out = pad(out, width - (negative + 13));
  if (negative) *out++ = '-';
  // The eight digits one place on, the first then moved before the point.
  put_eight(out + 1, static_cast<std::uint32_t>(n));
  out[0] = out[1];
  out[1] = '.';
  out += 9;
  *out++ = 'e';
  *out++ = k < 0 ? '-' : '+';
  return put_pair(out, static_cast<std::uint32_t>(k < 0 ? -k : k));
}

char* printed(char* out, int length) {
  return out + (length > 0 ? length : 0);
}

}  // namespace

char* fast_format_int(char* out, std::int32_t value, int width) {
  return format_right(out, value, width);
}

char* fast_format_fixed7(char* out, double value, int width) {
  if (char* end = fixed7_of_short_value(out, value, width)) return end;
  return format_right(out, value, width, std::chars_format::fixed, 7);
}

char* fast_format_scientific7(char* out, double value, int width) {
  if (char* end = scientific7_of_normal(out, value, width)) return end;
  return libc_format_scientific7(out, value, width);
}

char* libc_format_int(char* out, std::int32_t value, int width) {
  return printed(out, std::snprintf(out, FORMAT_ROOM, "%*d", width, value));
}

char* libc_format_fixed7(char* out, double value, int width) {
  return printed(out, std::snprintf(out, FORMAT_ROOM, "%*.7f", width, value));
}

char* libc_format_scientific7(char* out, double value, int width) {
  return printed(out, std::snprintf(out, FORMAT_ROOM, "%*.7e", width, value));
}

}  // namespace pcgrid
