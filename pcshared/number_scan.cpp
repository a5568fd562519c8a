#include "number_scan.hpp"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>

namespace pcgrid {

namespace {

// White space as the C locale's isspace has it.
constexpr bool is_space(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}
constexpr bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

constexpr std::int64_t INT_LIMIT = std::int64_t{1} << 31;

// Everything from_chars does not read as scanf does, converted by the C
// library itself on a terminated copy. Kept out of line: its buffer would
// otherwise make every call pay for a large stack frame.
[[gnu::noinline]] FloatScan libc_scan_copy(std::string_view text) {
  char copy[MAX_SCAN_TEXT + 1];
  const std::size_t size = std::min(text.size(), MAX_SCAN_TEXT);
  std::memcpy(copy, text.data(), size);
  copy[size] = '\0';
  return libc_scan_float(copy);
}

IntScan int_result(bool negative, std::int64_t magnitude, int used) {
  const std::int64_t value = negative ? -magnitude : magnitude;
  if (magnitude > INT_LIMIT || value > INT32_MAX) return {ScanStatus::out_of_range, 0, used};
  return {ScanStatus::ok, static_cast<std::int32_t>(value), used};
}

}  // namespace

IntScan fast_scan_int(std::string_view text) {
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p < end && is_space(*p)) ++p;
  const bool negative = p < end && *p == '-';
  if (p < end && (*p == '-' || *p == '+')) ++p;
  if (p == end || !is_digit(*p)) return {ScanStatus::no_number, 0, 0};
  std::int64_t magnitude = 0;
  for (; p < end && is_digit(*p); ++p) {
    if (magnitude <= INT_LIMIT) magnitude = magnitude * 10 + (*p - '0');
  }
  return int_result(negative, magnitude, static_cast<int>(p - text.data()));
}

IntScan libc_scan_int(const char* text) {
  int used = 0;
  int wrapped = 0;
  if (std::sscanf(text, "%d%n", &wrapped, &used) != 1) return {ScanStatus::no_number, 0, 0};
  // scanf converts out-of-range integers silently; read the digits again to
  // tell them apart. They are the last characters consumed, after the sign.
  const char* end = text + used;
  const char* digits = end;
  while (digits > text && is_digit(digits[-1])) --digits;
  std::int64_t magnitude = 0;
  for (const char* p = digits; p < end; ++p) {
    if (magnitude <= INT_LIMIT) magnitude = magnitude * 10 + (*p - '0');
  }
  return int_result(digits > text && digits[-1] == '-', magnitude, used);
}

FloatScan fast_scan_float(std::string_view text) {
  const char* const begin = text.data();
  const char* const end = begin + text.size();
  const char* p = begin;
  while (p < end && is_space(*p)) ++p;
  const char* number = p;
  if (p < end && (*p == '-' || *p == '+')) ++p;
  // from_chars reads a minus sign but not a plus sign.
  const char* digits = number < end && *number == '+' ? p : number;
  const bool plain = p < end && (is_digit(*p) || *p == '.') &&
                     !(*p == '0' && p + 1 < end && (p[1] == 'x' || p[1] == 'X'));
  if (plain) {
    float value = 0.0f;
    const auto [stop, error] = std::from_chars(digits, end, value, std::chars_format::general);
    // A dangling exponent ("1e", "1e+") is consumed by scanf but not by
    // from_chars; overflow and underflow are left to the C library too.
    if (error == std::errc{} && !(stop < end && (*stop == 'e' || *stop == 'E'))) {
      return {true, value, static_cast<int>(stop - begin)};
    }
  }
  return libc_scan_copy(text);
}

FloatScan libc_scan_float(const char* text) {
  int used = 0;
  float value = 0.0f;
  if (std::sscanf(text, "%f%n", &value, &used) != 1) return {false, 0.0f, 0};
  return {true, value, used};
}

}  // namespace pcgrid
