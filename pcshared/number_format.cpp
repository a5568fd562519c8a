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

// Two decimal digits for each value below 100, written a pair at a time.
constexpr char PAIRS[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

char* put_pair(char* out, std::uint32_t v) {
  std::memcpy(out, PAIRS + 2 * v, 2);
  return out + 2;
}

// The seven digits of n < 10^7.
char* put_seven(char* out, std::uint32_t n) {
  *out++ = static_cast<char>('0' + n / 1'000'000);
  n %= 1'000'000;
  out = put_pair(out, n / 10'000);
  out = put_pair(out, n / 100 % 100);
  return put_pair(out, n % 100);
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
  out += whole_digits;
  *out++ = '.';
  return put_seven(out, static_cast<std::uint32_t>(n % SCALE));
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

// The eight significant digits of m × 2^e (m of 53 bits, its leading one
// at bit 52) times 10^s, rounded to an integer N, when v × 10^s lies in
// [10^7, 10^9); false where the product leaves the rounding undecided.
bool scaled_digits(std::uint64_t m, int e, int s, std::uint64_t& n) {
  const PowerOfTen& power = power_of_ten(s);
  const Uint128 product = Uint128{m << 11} * power.p;
  const auto high = static_cast<std::uint64_t>(product >> 64);
  const auto low = static_cast<std::uint64_t>(product);
  const int shift = 74 - e - power.binary_exponent;  // 97..105, as proved
  const std::uint64_t whole = high >> (shift - 64);
  const std::uint64_t fraction = high << (128 - shift) | low >> (shift - 64);
  constexpr std::uint64_t HALF = std::uint64_t{1} << 63;
  constexpr std::uint64_t SLACK = std::uint64_t{1} << 32;
  if (fraction - (HALF - SLACK + 1) < SLACK) return false;
  n = whole + (fraction > HALF);
  return true;
}

// "%*.7e" of a normal double of decimal exponent -99..99, or of zero;
// nullptr, having written nothing, for any other value or where the
// product leaves the rounding undecided.
//
// Why it is exact. printf writes d.ddddddd × 10^k, the exact binary value
// v = m × 2^e rounded to eight significant digits, to nearest with ties to
// even, k being floor(log10 |v|) or, where the rounding carries to 10^8,
// one more. Let b = e + 52, so that 2^b ≤ v < 2^(b+1), and k0 = floor(b
// log10 2), which decimal_exponent_of gives (checked by the static_assert
// above over every b it is used for): 10^k0 ≤ v < 2 × 10^(k0+1), so with
// s = 7 - k0, X = v × 10^s lies in [10^7, 2 × 10^8).
//
// With 10^s = (P + t) × 2^(c - 63) from powers_of_ten.hpp (2^63 ≤ P <
// 2^64, 0 ≤ t < 1) and m' = m × 2^11 in [2^63, 2^64), the 128-bit product
// M = m' × P is exact and X = (M + m' t) / 2^sh with sh = 74 - e - c. As
// M ≥ 2^126 and X < 2^30, sh ≥ 97; as M + m' t < 2^128 + 2^64 and X ≥
// 2^23, sh ≤ 105. In units of 2^-64, X = W × 2^64 + F + δ, where W = M /
// 2^sh (an integer) and F the 64 bits of M below it, and δ, the bits of M
// further below plus m' t / 2^(sh - 64) < 2^64 / 2^33, lies in [0, 2^32).
// So if F ≤ 2^63 - 2^32, X's fraction is below a half and X rounds to W;
// if F > 2^63, it is above a half (or X has reached W + 1, less than 2^32
// units beyond): X rounds to W + 1. In between (every tie lands there) the
// value goes to snprintf.
//
// If the rounded N exceeds 10^8, then W ≥ 10^8, X ≥ 10^8 and k = k0 + 1:
// the digits are taken again with s - 1, X then in [10^7, 2 × 10^7), where
// N rounds to at most 2 × 10^7. An N of 10^8 means X lies within half a
// unit of 10^8, below it (k = k0, and the rounding carries) or above it
// (k = k0 + 1, and X / 10 rounds to 10^7): either way printf writes
// 1.0000000 with the exponent k0 + 1. The decimal exponent, at most
// 97 + 1, keeps its two digits.
char* scientific7_of_normal(char* out, double value, int width) {
  const Binary b = binary_of(value);
  const bool negative = std::signbit(value);
  std::uint64_t n = 0;
  int k = 0;
  if (b.m != 0) {
    if (b.biased == 0 || b.biased == 0x7FF) return nullptr;
    k = decimal_exponent_of(b.e + 52);
    if (k < MIN_SCIENTIFIC || k > MAX_SCIENTIFIC) return nullptr;
    if (!scaled_digits(b.m, b.e, 7 - k, n)) return nullptr;
    if (n > 100'000'000) {
      ++k;
      if (!scaled_digits(b.m, b.e, 7 - k, n)) return nullptr;
    }
    if (n == 100'000'000) {
      n = 10'000'000;
      ++k;
    }
  }
  out = pad(out, width - (negative + 13));
  if (negative) *out++ = '-';
  const auto digits = static_cast<std::uint32_t>(n);
  *out++ = static_cast<char>('0' + digits / 10'000'000);
  *out++ = '.';
  out = put_seven(out, digits % 10'000'000);
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
