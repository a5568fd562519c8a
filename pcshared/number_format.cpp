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

// The low `N` bytes of `x` at `out`, the lowest first, whatever the byte
// order.
template <int N>
void store_bytes(char* out, std::uint64_t x) {
  if constexpr (std::endian::native == std::endian::big) x = __builtin_bswap64(x);
  std::memcpy(out, &x, N);
}

constexpr std::uint64_t ZEROS = 0x3030303030303030;  // '0' in every byte

// The eight digits of x < 10^8 in the bytes of a word, as values 0..9, the
// first digit in the lowest byte. Its halves of four digits go to the two
// 32-bit lanes of a word (the first half to the low lane); each lane is
// split into halves of two digits in 16-bit lanes, then each of those into
// two digits in bytes. A quotient is taken with a multiplication and a
// shift: for y < 10^4, floor(y × 10486 / 2^20) = floor(y / 100), as 10486 /
// 2^20 exceeds 1/100 by less than 2.3 × 10^-7, so y / 100 grows by less
// than 0.0023 and its fraction, at most 0.99, stays below 1; for z < 100,
// floor(z × 103 / 2^10) = floor(z / 10) likewise (excess below 0.06,
// fraction at most 0.9). No lane's product overflows it (10^4 × 10486 <
// 2^32, 100 × 103 < 2^16), and the bits a shift brings down from the next
// lane lie above the mask.
inline std::uint64_t eight_digits(std::uint32_t x) {
  std::uint64_t v = x / 10'000 | std::uint64_t{x % 10'000} << 32;
  const std::uint64_t hundreds = (v * 10486) >> 20 & 0x0000007F0000007F;
  v = hundreds | (v - hundreds * 100) << 16;
  const std::uint64_t tens = (v * 103) >> 10 & 0x000F000F000F000F;
  return tens | (v - tens * 10) << 8;
}

// The eight digits of x < 10^8, at once.
inline char* put_eight(char* out, std::uint32_t x) {
  store_bytes<8>(out, eight_digits(x) + ZEROS);
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

// "%*d" of the integer of magnitude u, negative or not (a '-' before zero
// too, for the whole part of "-0.5"): a '-' for a negative value, u's
// digits without leading zeros ("0" for zero), right-aligned in `width`.
//
// A text of up to eight characters is made in the eight bytes of a word,
// right-aligned, the first character in the lowest byte: for u < 10^8 the
// word of its eight digits, eight of them with leading zeros, begins with
// a zero byte for each leading zero, and the first digit that is not zero
// has a bit set among its byte's low four, so the count of the word's
// trailing zero bits over 8 is the number of leading zeros; bit 56, in the
// last digit's byte, set for the count alone, keeps the last digit of zero
// (at most 7 leading zeros). Each of those bytes, '0' once ZEROS is added,
// becomes a space (0x30 - 0x10); for a negative value, whose text then has
// at most eight characters, so that there is a leading zero, the last of
// them becomes '-' (0x20 + 0x0D, shifted to byte zeros - 1, no carry in
// any byte). The field, L = max(width,
// length) characters, is then spaces up to the word's last eight bytes
// when L ≥ 8 (spaces written first, eight at a time, never past the field,
// then the word over the last eight), or else the word's last L bytes,
// spaces beyond the text as L ≥ its length: for 4 ≤ L < 8 its bytes
// 8 - L .. 11 - L and 4 .. 7 (the two meet or overlap as L ≥ 4), for
// 2 ≤ L < 4 its bytes 8 - L .. 9 - L and 6 .. 7, for L = 1 byte 7. Texts
// of nine characters or more are written a piece at a time: u's leading
// one or two digits, u / 10^8 < 43, then its last eight.
char* put_right(char* out, std::uint32_t u, bool negative, int width) {
  if (u >= 100'000'000 || (negative && u >= 10'000'000)) {
    const int digits = u >= 1'000'000'000 ? 10 : u >= 100'000'000 ? 9 : 8;
    out = pad(out, width - (negative + digits));
    if (negative) *out++ = '-';
    const std::uint32_t high = u / 100'000'000;
    if (digits == 10) {
      out = put_pair(out, high);
    } else if (digits == 9) {
      *out++ = static_cast<char>('0' + high);
    }
    return put_eight(out, u % 100'000'000);
  }
  const std::uint64_t digits = eight_digits(u);
  const int zeros = std::countr_zero(digits | std::uint64_t{1} << 56) / 8;  // 0..7
  const std::uint64_t leading = (std::uint64_t{1} << 8 * zeros) - 1;
  const std::uint64_t sign = (std::uint64_t{negative} * 0x0D << 8 * zeros) >> 8;
  const std::uint64_t word = digits + ZEROS - (leading & 0x1010101010101010) + sign;
  const int length = 8 - zeros + negative;
  const int field = width > length ? width : length;
  char* const end = out + field;
  if (field >= 8) {
    for (char* p = out; p < end - 8; p += 8) std::memcpy(p, "        ", 8);
    store_bytes<8>(end - 8, word);
  } else if (field >= 4) {
    store_bytes<4>(out, word >> 8 * (8 - field));
    store_bytes<4>(end - 4, word >> 32);
  } else if (field >= 2) {
    store_bytes<2>(out, word >> 8 * (8 - field));
    store_bytes<2>(end - 2, word >> 48);
  } else {
    *out = static_cast<char>(word >> 56);
  }
  return end;
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

// "%*.7f" of a value below 2^-25 in magnitude, or of one below 2^31 with
// at most 24 significant bits (a float widened to double, as the member
// report prints); nullptr, having written nothing, for any other value.
//
// Why it is exact. printf prints the exact binary value rounded to 7 digits
// after the point, to nearest with ties to even: N, |value| × 10^7 so
// rounded, is what the digits spell: N / 10^7, a point, and N mod 10^7 in
// 7 digits, after a '-' for every negative value, -0 included, as printf
// does ("-0.0000000"). Below 2^-25 < 5 × 10^-8, |value| × 10^7 is under
// half a unit and N is 0. Otherwise the biased exponent B, |value| lying in
// [2^(B-1023), 2^(B-1022)), is 998..1053, and at most 24 significant bits
// leave the low 29 of the 52 stored ones zero: the value is ±M × 2^E with
// M, the 53-bit significand shifted down 29 places, in [2^23, 2^24), and
// E = B - 1046 in -48..7. P = M × 10^7 < 2^48 is exact. For E ≥ 0,
// N = P × 2^E < 2^55. For E < 0, s = -E in 1..48, N is P / 2^s rounded:
// with q and r the quotient and remainder of P by 2^s and h = 2^(s-1),
// (P + h - 1 + (q mod 2)) / 2^s, taken down, is q + (r + h - 1 + (q mod
// 2)) / 2^s, taken down, and as r < 2^s that adds 1 exactly when r > h, or
// r = h with q odd. P + h < 2^49 does not overflow.
//
// N < 10^8 is a value below 10 once rounded: its eight digits are the
// whole part's one and the fraction's seven, written, for widths of 10 or
// more, after width - 10 spaces and the sign or a space, the point put
// between (the word's lowest byte is the first digit). Otherwise the whole
// part, N / 10^7 < 2^31, goes with the sign to put_right in width - 8,
// whose spaces are those of the whole field, and the point and the
// fraction's digits follow.
char* fixed7_of_short_value(char* out, double value, int width) {
  constexpr std::uint64_t SCALE = 10'000'000;
  const auto bits = std::bit_cast<std::uint64_t>(value);
  const bool negative = bits >> 63 != 0;
  const auto biased = static_cast<int>(bits >> 52 & 0x7FF);
  std::uint64_t n = 0;
  if (biased >= 1023 - 25) {
    if (biased >= 1023 + 31) return nullptr;  // 2^31 and above, inf, nan
    constexpr std::uint64_t LOW = (std::uint64_t{1} << 29) - 1;
    if ((bits & LOW) != 0) return nullptr;  // more than 24 significant bits
    const std::uint64_t m = (bits & ((std::uint64_t{1} << 52) - 1)) >> 29 | std::uint64_t{1} << 23;
    const int e = biased - 1046;
    const std::uint64_t p = m * SCALE;
    if (e >= 0) {
      n = p << e;
    } else {
      const int shift = -e;
      const std::uint64_t half = std::uint64_t{1} << (shift - 1);
      n = (p + half - 1 + (p >> shift & 1)) >> shift;
    }
  }
  if (n < 100'000'000 && width >= 10) {
    out = pad(out, width - 10);
    const std::uint64_t digits = eight_digits(static_cast<std::uint32_t>(n)) + ZEROS;
    store_bytes<2>(out, (negative ? '-' : ' ') | (digits & 0xFF) << 8);
    store_bytes<8>(out + 2, (digits & ~std::uint64_t{0xFF}) | '.');
    return out + 10;
  }
  out = put_right(out, static_cast<std::uint32_t>(n / SCALE), negative, width - 8);
  return put_point_seven(out, static_cast<std::uint32_t>(n % SCALE));
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
  const auto bits = static_cast<std::uint32_t>(value);
  return put_right(out, value < 0 ? 0 - bits : bits, value < 0, width);
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
