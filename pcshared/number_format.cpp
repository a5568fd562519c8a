#include "number_format.hpp"

#include <bit>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#if defined(__SSE2__) && defined(__x86_64__)
#include <emmintrin.h>
#endif

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
// first digit in the lowest byte.
//
// In 64-bit integers, as any target has them: the halves of four digits go
// to the two 32-bit lanes of a word (the first half to the low lane); each
// lane is split into halves of two digits in 16-bit lanes, then each of
// those into two digits in bytes. A quotient is taken with a
// multiplication and a shift: for y < 10^4, floor(y × 10486 / 2^20) =
// floor(y / 100), as 10486 / 2^20 exceeds 1/100 by less than 2.3 × 10^-7,
// so y / 100 grows by less than 0.0023 and its fraction, at most 0.99,
// stays below 1; for z < 100, floor(z × 103 / 2^10) = floor(z / 10)
// likewise (excess below 0.06, fraction at most 0.9). No lane's product
// overflows it (10^4 × 10486 < 2^32, 100 × 103 < 2^16), and the bits a
// shift brings down from the next lane lie above the mask. With q the
// quotients so found and d the divisor, each lane's y becomes q | (y - q d)
// << w, w its half's width, and as a sum over the lanes, all of whose
// parts are nonnegative and stay within their lanes, that is v << w -
// q (d << w) + q = v << w - q (d 2^w - 1); the first split is the same
// with the quotient taken by the compiler.
constexpr std::uint64_t eight_digits_in_word(std::uint32_t x) {
  const std::uint64_t high = x / 10'000;
  std::uint64_t v = (std::uint64_t{x} << 32) - high * ((10'000ULL << 32) - 1);
  const std::uint64_t hundreds = (v * 10486) >> 20 & 0x0000007F0000007F;
  v = (v << 16) - hundreds * ((100 << 16) - 1);
  const std::uint64_t tens = (v * 103) >> 10 & 0x000F000F000F000F;
  return (v << 8) - tens * ((10 << 8) - 1);
}

// Every half of four digits, alone and beside another, against division:
// the lanes never meet, as shown above, so this covers each lane's steps
// for every value it can hold.
constexpr bool word_digits_hold() {
  for (std::uint32_t y = 0; y < 10'000; ++y) {
    for (const std::uint32_t x : {y, y * 10'000, y * 10'000 + (9'999 - y)}) {
      const std::uint64_t word = eight_digits_in_word(x);
      std::uint32_t rest = x;
      for (int i = 7; i >= 0; --i, rest /= 10) {
        if ((word >> 8 * i & 0xFF) != rest % 10) return false;
      }
    }
  }
  return true;
}
static_assert(word_digits_hold());

#if defined(__SSE2__) && defined(__x86_64__)
// With SSE2, as every x86-64 has it: the two halves of four digits, hi and
// lo, split as above and times 4, are spread over 16-bit lanes as hi hi hi
// hi lo lo lo lo. Each lane gets floor(y / d) for d = 1000, 100, 10, 1 in
// turn as floor(floor(4y × m / 2^16) / 2^s) = floor(y × m / 2^(14 + s)),
// two multiplications keeping the high half, the second by 2^(16 - s) (a
// shift of its own in each lane); 4y < 2^16 and 4y × m < 2^32, and
// quotients_hold checks every y < 10^4 in each lane. A digit is then its
// lane's quotient less ten times the quotient in the lane before, that is
// floor(y / d) - 10 floor(y / 10d); the shift of each 64-bit half by one
// lane brings a zero before the first of each half and drops the last
// lane's product, which alone may overflow its lane.
constexpr int QUOTIENT_M[4] = {16778, 10486, 13108, 1 << 15};
constexpr int QUOTIENT_S[4] = {10, 6, 3, 1};

constexpr bool quotients_hold() {
  for (int lane = 0; lane < 4; ++lane) {
    const std::uint32_t d = lane == 0 ? 1000 : lane == 1 ? 100 : lane == 2 ? 10 : 1;
    const auto m = static_cast<std::uint32_t>(QUOTIENT_M[lane]);
    for (std::uint32_t y = 0; y < 10'000; ++y) {
      if ((4 * y * m >> 16) >> QUOTIENT_S[lane] != y / d) return false;
    }
  }
  return true;
}
static_assert(quotients_hold());

// The 16-bit lanes of the four values, twice.
inline __m128i lanes_of(const int (&v)[4]) {
  const auto s = [](int x) { return static_cast<short>(x); };  // 2^15 as -2^15
  return _mm_setr_epi16(s(v[0]), s(v[1]), s(v[2]), s(v[3]), s(v[0]), s(v[1]), s(v[2]), s(v[3]));
}

inline std::uint64_t eight_digits(std::uint32_t x) {
  constexpr int SHIFTS[4] = {1 << (16 - QUOTIENT_S[0]), 1 << (16 - QUOTIENT_S[1]),
                             1 << (16 - QUOTIENT_S[2]), 1 << (16 - QUOTIENT_S[3])};
  const std::uint64_t high = x / 10'000;
  const std::uint64_t halves = ((std::uint64_t{x} << 32) - high * ((10'000ULL << 32) - 1)) << 2;
  __m128i v = _mm_cvtsi64_si128(static_cast<long long>(halves));
  v = _mm_shufflelo_epi16(v, 0xA0);  // 4hi 4hi 4lo 4lo
  v = _mm_unpacklo_epi16(v, v);      // 4hi four times, 4lo four times
  const __m128i q = _mm_mulhi_epu16(_mm_mulhi_epu16(v, lanes_of(QUOTIENT_M)), lanes_of(SHIFTS));
  const __m128i tens = _mm_slli_epi64(_mm_mullo_epi16(q, _mm_set1_epi16(10)), 16);
  const __m128i digits = _mm_sub_epi16(q, tens);
  return static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_packus_epi16(digits, digits)));
}
#else
inline std::uint64_t eight_digits(std::uint32_t x) {
  return eight_digits_in_word(x);
}
#endif

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
// any byte). The field, L = max(width, length) characters, is then
// spaces up to the word's last eight bytes when L ≥ 8 (spaces written
// first, eight at a time, never past the field, then the word over the
// last eight), or else the word's last L bytes, spaces beyond the text as
// L ≥ its length: for 4 ≤ L < 8 its bytes 8 - L .. 11 - L and 4 .. 7 (the
// two meet or overlap as L ≥ 4), for 2 ≤ L < 4 its bytes 8 - L .. 9 - L
// and 6 .. 7, for L = 1 byte 7. Texts of nine characters or more are
// written a piece at a time: u's leading one or two digits, u / 10^8 < 43,
// then its last eight.
[[gnu::always_inline]] inline char* put_right(char* out, std::uint32_t u, bool negative,
                                              int width) {
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

// "%*.7f" of a value with at most 24 significant bits (a float widened to
// double, as the member report prints) and a magnitude below 2^31;
// nullptr, having written nothing, for any other value.
//
// Why it is exact. printf prints the exact binary value rounded to 7 digits
// after the point, to nearest with ties to even: N, |value| × 10^7 so
// rounded, is what the digits spell: N / 10^7, a point, and N mod 10^7 in
// 7 digits, after a '-' for every negative value, -0 included, as printf
// does ("-0.0000000"). At most 24 significant bits leave the low 29 of the
// 52 stored ones zero: |value| = M × 2^E with M < 2^24, and 10^7 = 78125 ×
// 2^7 with 78125 < 2^17, so x = |value| × 10^7 = M × 78125 × 2^(E+7) has
// at most 41 significant bits and the product in doubles is exact (the
// least such value but zero, 2^-1045, times 10^7 is still above 2^-1022,
// in the normal range). For x < 2^52, x + 2^52 lies in [2^52, 2^53),
// where the doubles are the integers, so the sum, rounded to nearest with
// ties to even (the rounding the programs never change), is 2^52 + N,
// 2^52 being even, and taking 2^52 away again is exact. Values from 2^31
// up, inf and nan (for which x < 2^52 fails too) are left to the exact
// path; below 2^31, x < 2^31 × 10^7 < 2^55, and for x ≥ 2^52, whose unit
// in the last place is 1 or more, x is an integer and N = x. Either way
// the conversion to an integer is exact.
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
  constexpr std::uint64_t SIGN = std::uint64_t{1} << 63;
  constexpr std::uint64_t LOW = (std::uint64_t{1} << 29) - 1;
  constexpr std::uint64_t LIMIT = std::uint64_t{1023 + 31} << 52;  // 2^31
  constexpr double INTEGERS = 0x1p52;
  // Where doubles are added in a wider format (the x87's), the sum would not
  // be rounded to a double: every value takes the exact path.
  if constexpr (FLT_EVAL_METHOD != 0 && FLT_EVAL_METHOD != 1) return nullptr;
  const auto bits = std::bit_cast<std::uint64_t>(value);
  if ((bits & LOW) != 0) return nullptr;  // more than 24 significant bits
  const bool negative = (bits & SIGN) != 0;
  double x = std::fabs(value) * static_cast<double>(SCALE);
  if (x < INTEGERS) {
    x = x + INTEGERS - INTEGERS;
  } else if ((bits & ~SIGN) >= LIMIT) {
    return nullptr;  // 2^31 and above, inf, nan
  }
  const auto n = static_cast<std::uint64_t>(static_cast<std::int64_t>(x));
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
