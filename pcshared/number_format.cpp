#include "number_format.hpp"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "exact_arithmetic.hpp"

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

// "%.7f" of a value with at most 24 significant bits (a float widened to
// double, as the member report prints) and a magnitude below 2^31, into
// `text`; the length written, or 0 for any other value.
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
int fixed7_of_short_value(double value, char* text) {
  constexpr std::uint64_t SCALE = 10'000'000;
  const auto bits = std::bit_cast<std::uint64_t>(value);
  const auto biased = static_cast<int>(bits >> 52 & 0x7FF);
  if (biased == 0x7FF) return 0;  // inf and nan
  std::uint64_t m = bits & ((std::uint64_t{1} << 52) - 1);
  int e = biased == 0 ? -1074 : biased - 1075;
  if (biased != 0) m |= std::uint64_t{1} << 52;
  std::uint64_t n = 0;
  if (m != 0) {
    const int zeros = std::countr_zero(m);
    m >>= zeros;
    e += zeros;
    const int width = std::bit_width(m);
    if (width > 24) return 0;
    if (e >= 0) {
      if (width + e > 31) return 0;
      n = (m << e) * SCALE;
    } else if (e > -50) {
      const std::uint64_t p = m * SCALE;
      const int shift = -e;
      const std::uint64_t q = p >> shift;
      const std::uint64_t r = p - (q << shift);
      const std::uint64_t half = std::uint64_t{1} << (shift - 1);
      n = q + ((r > half || (r == half && (q & 1) != 0)) ? 1 : 0);
    }
  }
  char* out = text;
  if (std::signbit(value)) *out++ = '-';
  out = std::to_chars(out, out + 20, n / SCALE).ptr;
  *out++ = '.';
  std::uint64_t fraction = n % SCALE;
  for (int d = 6; d >= 0; --d) {
    out[d] = static_cast<char>('0' + fraction % 10);
    fraction /= 10;
  }
  return static_cast<int>(out + 7 - text);
}

char* printed(char* out, int length) {
  return out + (length > 0 ? length : 0);
}

}  // namespace

char* fast_format_int(char* out, std::int32_t value, int width) {
  return format_right(out, value, width);
}

char* fast_format_fixed7(char* out, double value, int width) {
  char text[FORMAT_ROOM];
  const int length = fixed7_of_short_value(value, text);
  if (length > 0) return right_align(out, text, length, width);
  return format_right(out, value, width, std::chars_format::fixed, 7);
}

char* fast_format_scientific7(char* out, double value, int width) {
  return format_right(out, value, width, std::chars_format::scientific, 7);
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
