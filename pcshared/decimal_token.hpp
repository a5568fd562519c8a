// Numbers converted from a token of known start and length: a run of
// characters that white space (or the end of the line piece) delimits on
// both sides, as the structural scan finds them.
//
// token_float takes the tokens of the form [+-]digits[.digits] with at
// most 15 digits in all; token_int the form [+-]digits with at most 10
// digits and a value in 32 bits. Any other token is refused (false, nothing
// set), and its line goes to the character-by-character conversions.
//
// Why the result is the one of the "%f%n" (or "%d%n") chain. Where a
// conversion starts before such a token, scanf skips the white space before
// it, then reads the sign and digits, and the point and digits; the
// character after the token is white space or the end of the piece's text,
// which continues no number (no digit, point or exponent), so the
// conversion consumes exactly the token and the next one starts at the
// white space after it. For "%d" the token has no point, so the same holds.
// The value is ±W × 10^-F, with W the token's digits as an integer (less
// than 10^15) and F the digits after the point (at most 15); nearest_float
// of short_decimal.hpp rounds it correctly, under the proof written there
// (W < 10^15 and -22 ≤ -F ≤ 0 are its conditions (a) and (b); it refuses
// the rest). For "%d", W ≤ 2^31 - 1 (or 2^31 with a minus sign) is the
// value scanf stores, and anything beyond is refused.
//
// How the digits are read. The 16 bytes from the token's start (after its
// sign) are loaded at once (the text must have 16 readable bytes after any
// token's start); byte_classes.hpp gives bitmasks of the digits and points
// among its `length` bytes. The point, if any, is taken out by joining the
// bytes before it with those after it shifted down by one; the n digits
// are shifted to the top of the 16 bytes, so that zeros stand before them,
// and each half of eight digit bytes is combined into its value by three
// multiplications (digits_value of short_decimal.hpp): W is the first
// half's value times 10^8 plus the second's. In the usual case, at most
// eight digits in all, the eight bytes from the start and the eight from
// one byte further are joined at the point instead (k < 8, so the shift
// stays within 64 bits), and the n digits combined as one half.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "byte_classes.hpp"
#include "short_decimal.hpp"

namespace pcgrid {

namespace token_detail {

__extension__ using Bytes16 = unsigned __int128;

// Masks of the digits and of the points among the 16 bytes at p.
inline void classify_token(const char* p, unsigned& digits, unsigned& points) {
  digits = digit_mask16(p);
  points = byte_mask16(p, '.');
}

// The 16 bytes at p, the first in the lowest byte, on either byte order
// (load8 puts the first of eight in the lowest byte).
inline Bytes16 load16(const char* p) {
  using short_decimal_detail::load8;
  return (Bytes16{load8(p + 8)} << 64) | load8(p);
}

// Eight digit bytes, the first the most significant, as their value.
inline std::uint64_t eight_digits(std::uint64_t chunk) {
  return short_decimal_detail::digits_value(chunk, 8);
}

// The value of the first n (1..15) bytes of `text`, all digits.
inline std::uint64_t digits_of(Bytes16 text, int n) {
  const Bytes16 top = text << (8 * (16 - n));
  const auto first = static_cast<std::uint64_t>(top);
  const auto second = static_cast<std::uint64_t>(top >> 64);
  return eight_digits(first) * 100'000'000 + eight_digits(second);
}

// `text` without its byte k.
inline Bytes16 without_byte(Bytes16 text, int k) {
  const Bytes16 below = (Bytes16{1} << (8 * k)) - 1;
  return (text & below) | ((text >> 8) & ~below);
}

}  // namespace token_detail

inline bool token_float(const char* p, std::size_t length, float& value) {
  using namespace token_detail;
  // Without a branch on the sign, which varies from token to token.
  const bool negative = *p == '-';
  const bool sign = negative || *p == '+';
  p += sign;
  length -= sign;
  if (length == 0 || length > 16) return false;
  unsigned digits = 0;
  unsigned points = 0;
  classify_token(p, digits, points);
  const unsigned all = (1u << length) - 1;
  points &= all;
  if (((digits | points) & all) != all || (points & (points - 1)) != 0) return false;
  int n = static_cast<int>(length);
  int after_point = 0;
  std::uint64_t w = 0;
  if (points != 0) {
    const int k = std::countr_zero(points);
    if (k == 0 || k == n - 1) return false;  // digits on both sides of the point
    after_point = n - 1 - k;
    --n;
    if (n > short_decimal_detail::MAX_DIGITS) return false;
    if (n <= 8) {
      // The usual case: eight bytes from the token's start, the point's
      // place and those after it taken from the eight bytes one further on.
      using short_decimal_detail::digits_value;
      using short_decimal_detail::load8;
      const std::uint64_t before = (std::uint64_t{1} << (8 * k)) - 1;
      w = digits_value((load8(p) & before) | (load8(p + 1) & ~before), n);
    } else {
      w = digits_of(without_byte(load16(p), k), n);
    }
  } else if (n <= 8) {
    w = short_decimal_detail::digits_value(short_decimal_detail::load8(p), n);
  } else {
    if (n > short_decimal_detail::MAX_DIGITS) return false;
    w = digits_of(load16(p), n);
  }
  return short_decimal_detail::nearest_float(w, -after_point, negative, value);
}

inline bool token_int(const char* p, std::size_t length, std::int32_t& value) {
  using namespace token_detail;
  // Without a branch on the sign, which varies from token to token.
  const bool negative = *p == '-';
  const bool sign = negative || *p == '+';
  p += sign;
  length -= sign;
  if (length == 0 || length > 10) return false;
  unsigned digits = 0;
  unsigned points = 0;
  classify_token(p, digits, points);
  const unsigned all = (1u << length) - 1;
  if ((digits & all) != all) return false;
  const int n = static_cast<int>(length);
  const auto w = static_cast<std::int64_t>(
      n <= 8 ? short_decimal_detail::digits_value(short_decimal_detail::load8(p), n)
             : digits_of(load16(p), n));
  const std::int64_t signed_value = negative ? -w : w;
  if (signed_value > INT32_MAX || signed_value < INT32_MIN) return false;
  value = static_cast<std::int32_t>(signed_value);
  return true;
}

}  // namespace pcgrid
