// How a weight is written, one rule for every program that reads weights
// (wordclusters' weights file, gridmap's third column under --weights):
// decimal digits with an optional point and fraction, an optional exponent,
// and an optional plus sign in front. A minus sign (even on a zero or on a
// value too small to be told from zero), hexadecimal, inf and nan are not
// weights. Whether the value is finite is the caller's check, made on the
// value it converts.
#pragma once

#include <string_view>

namespace pcgrid {

constexpr bool is_decimal_digit(char c) {
  return c >= '0' && c <= '9';
}

// Whether `token` (no blanks around it) is written as a weight.
constexpr bool is_weight_text(std::string_view token) {
  std::size_t i = 0;
  const std::size_t n = token.size();
  if (i < n && token[i] == '+') ++i;
  std::size_t digits = 0;
  while (i < n && is_decimal_digit(token[i])) ++i, ++digits;
  if (i < n && token[i] == '.') {
    ++i;
    while (i < n && is_decimal_digit(token[i])) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < n && (token[i] == 'e' || token[i] == 'E')) {
    ++i;
    if (i < n && (token[i] == '+' || token[i] == '-')) ++i;
    std::size_t exponent_digits = 0;
    while (i < n && is_decimal_digit(token[i])) ++i, ++exponent_digits;
    if (exponent_digits == 0) return false;
  }
  return i == n;
}

static_assert(is_weight_text("1") && is_weight_text("+1") && is_weight_text(".5") &&
              is_weight_text("2.") && is_weight_text("1e-50") && is_weight_text("3E+2"));
static_assert(!is_weight_text("") && !is_weight_text("-1") && !is_weight_text("-0") &&
              !is_weight_text("0x10") && !is_weight_text("inf") && !is_weight_text("nan") &&
              !is_weight_text(".") && !is_weight_text("1e") && !is_weight_text("+") &&
              !is_weight_text("1 ") && !is_weight_text("++1"));

}  // namespace pcgrid
