// Number conversions with the semantics of the C library's scanf.
//
// Each function reads one number from the start of a text, skipping
// leading white space, and reports how many characters it consumed, exactly
// as sscanf(text, "%d%n") or sscanf(text, "%f%n") would on the text as a C
// string. The fast versions take the text's end from the view; the libc
// versions, the reference, need a NUL at text[size] (or earlier).
#pragma once

#include <charconv>
#include <cstdint>
#include <string_view>

#include "exact_arithmetic.hpp"
#include "limits.hpp"
#include "pcgrid_config.hpp"
#include "short_decimal.hpp"

namespace pcgrid {

enum class ScanStatus {
  ok,
  no_number,     // the text does not begin with a number: the conversion fails
  out_of_range,  // a decimal integer that does not fit in 32 bits (scanf would wrap it)
};

struct IntScan {
  ScanStatus status;
  std::int32_t value;
  int used;  // characters consumed, white space included
};

struct FloatScan {
  bool ok;
  float value;  // may be infinite or NaN: "%f" reads inf, nan and overflowing numbers
  int used;
};

// "%d%n": optional white space, an optional sign, one or more decimal digits.
inline IntScan fast_scan_int(std::string_view text);
IntScan libc_scan_int(const char* text);

// "%f%n": every form the C library accepts, with its rounding and quirks.
// Short decimals take the fast path of short_decimal.hpp; the other plain
// decimal forms are converted with std::from_chars, which rounds
// correctly as the C library does; the rest (hexadecimal, inf and nan, a
// dangling exponent, overflow and underflow) goes to the C library itself.
inline FloatScan fast_scan_float(std::string_view text);
FloatScan libc_scan_float(const char* text);

// Whether "%f" would read a number at the start of `text`, without
// converting it: a sign and a digit are enough, unless they begin "0x"
// (scanf refuses "0x" without hexadecimal digits), and white space alone is
// not; any other start is left to the C library.
inline bool fast_float_follows(std::string_view text);

// libc_scan_float on a terminated copy of `text` (at most MAX_PIECE
// characters of it, the longest line piece; a longer text is read as if it
// ended there): the fast conversion's way out for the rare forms.
FloatScan libc_scan_float_copy(std::string_view text);

// The fast conversions are inline: they run once per field of every line.
namespace scan_detail {

using short_decimal_detail::is_digit;
using short_decimal_detail::is_space;

constexpr std::int64_t INT_LIMIT = std::int64_t{1} << 31;

// "0x" or "0X" at p: a hexadecimal float, or a text scanf refuses.
constexpr bool is_hex_prefix(const char* p, const char* end) {
  return p + 1 < end && p[0] == '0' && (p[1] == 'x' || p[1] == 'X');
}

inline IntScan int_result(bool negative, std::int64_t magnitude, int used) {
  const std::int64_t value = negative ? -magnitude : magnitude;
  if (magnitude > INT_LIMIT || value > INT32_MAX) return {ScanStatus::out_of_range, 0, used};
  return {ScanStatus::ok, static_cast<std::int32_t>(value), used};
}

}  // namespace scan_detail

inline IntScan fast_scan_int(std::string_view text) {
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p < end && scan_detail::is_space(*p)) ++p;
  const bool negative = p < end && *p == '-';
  if (p < end && (*p == '-' || *p == '+')) ++p;
  if (p == end || !scan_detail::is_digit(*p)) return {ScanStatus::no_number, 0, 0};
  std::int64_t magnitude = 0;
  for (; p < end && scan_detail::is_digit(*p); ++p) {
    if (magnitude <= scan_detail::INT_LIMIT) magnitude = magnitude * 10 + (*p - '0');
  }
  return scan_detail::int_result(negative, magnitude, static_cast<int>(p - text.data()));
}

inline FloatScan fast_scan_float(std::string_view text) {
  const char* const begin = text.data();
  const char* const end = begin + text.size();
  const char* p = begin;
  p = skip_spaces(p, end);
  const char* number = p;
  float short_value = 0.0f;
  const char* short_stop = nullptr;
  if (short_decimal(number, end, short_value, short_stop)) {
    return {true, short_value, static_cast<int>(short_stop - begin)};
  }
  if (p < end && (*p == '-' || *p == '+')) ++p;
  // from_chars reads a minus sign but not a plus sign.
  const char* digits = number < end && *number == '+' ? p : number;
  const bool plain =
      p < end && (scan_detail::is_digit(*p) || *p == '.') && !scan_detail::is_hex_prefix(p, end);
  if (plain) {
    float value = 0.0f;
    const auto [stop, error] = std::from_chars(digits, end, value, std::chars_format::general);
    // A dangling exponent ("1e", "1e+") is consumed by scanf but not by
    // from_chars; overflow and underflow are left to the C library too.
    if (error == std::errc{} && !(stop < end && (*stop == 'e' || *stop == 'E'))) {
      return {true, value, static_cast<int>(stop - begin)};
    }
  }
  return libc_scan_float_copy(text);
}

inline bool fast_float_follows(std::string_view text) {
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p < end && scan_detail::is_space(*p)) ++p;
  // Nothing but white space, up to the end of the text or a NUL (where the C
  // string ends): "%f" skips the white space (the same characters as
  // is_space, in the C locale), then finds no character to begin a number
  // with, so the conversion fails. This is the rest of every two-column
  // line of gridmap, too common to hand to the C library.
  if (p == end || *p == '\0') return false;
  if (*p == '-' || *p == '+') ++p;
  if (p < end && scan_detail::is_digit(*p) && !scan_detail::is_hex_prefix(p, end)) return true;
  return libc_scan_float_copy(text).ok;
}

// The conversions the programs use: the fast ones, or the C library's in
// the reference build.
inline IntScan scan_int(std::string_view text) {
  if constexpr (LIBC_IO) return libc_scan_int(text.data());
  return fast_scan_int(text);
}

inline FloatScan scan_float(std::string_view text) {
  if constexpr (LIBC_IO) return libc_scan_float(text.data());
  return fast_scan_float(text);
}

inline bool float_follows(std::string_view text) {
  if constexpr (LIBC_IO) return libc_scan_float(text.data()).ok;
  return fast_float_follows(text);
}

}  // namespace pcgrid
