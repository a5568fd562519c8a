#include "number_text.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "messages.hpp"

namespace pctable {

namespace {

constexpr bool is_digit(char c) {
  return static_cast<unsigned char>(c - '0') < 10;
}

constexpr char lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equals_lower(std::string_view text, std::string_view word) {
  if (text.size() != word.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (lower(text[i]) != word[i]) return false;
  }
  return true;
}

bool is_non_finite_word(std::string_view text) {
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) text.remove_prefix(1);
  return equals_lower(text, "nan") || equals_lower(text, "inf") || equals_lower(text, "infinity");
}

// Powers of ten of single precision: its largest value is about 3.4e38.
constexpr std::int64_t SURELY_FINITE = 38;    // below 1e38
constexpr std::int64_t SURELY_INFINITE = 39;  // at least 1e39
constexpr std::int64_t EXPONENT_CAP = 1'000'000'000;

// Whether the decimal number `text` (already checked), whose integer part
// of `integer_digits` digits begins at `integer`, rounds to infinity in
// single precision. Only numbers near the limit are converted.
bool overflows(std::string_view text, const char* integer, std::int64_t integer_digits,
               std::int64_t exponent) {
  // Digits before the point, then after it: find the first that is not 0.
  const char* const end = text.data() + text.size();
  std::int64_t place = integer_digits - 1;  // power of ten of the digit at p
  for (const char* p = integer; p < end && *p != 'e' && *p != 'E'; ++p) {
    if (*p == '.') continue;
    if (*p != '0') {
      const std::int64_t low = place + exponent;  // the number is at least 10^low
      if (low + 1 <= SURELY_FINITE) return false;
      if (low >= SURELY_INFINITE) return true;
      const std::string copy(text);
      return std::isinf(std::strtof(copy.c_str(), nullptr));
    }
    --place;
  }
  return false;  // zero
}

}  // namespace

NumberText check_number(std::string_view text) {
  const char* p = text.data();
  const char* const end = p + text.size();
  if (p < end && (*p == '+' || *p == '-')) ++p;
  const char* const integer = p;
  while (p < end && is_digit(*p)) ++p;
  const std::int64_t integer_digits = p - integer;
  std::int64_t fraction_digits = 0;
  if (p < end && *p == '.') {
    const char* const fraction = ++p;
    while (p < end && is_digit(*p)) ++p;
    fraction_digits = p - fraction;
  }
  bool valid = integer_digits + fraction_digits > 0;
  std::int64_t exponent = 0;
  if (valid && p < end && (*p == 'e' || *p == 'E')) {
    ++p;
    const bool negative = p < end && *p == '-';
    if (p < end && (*p == '+' || *p == '-')) ++p;
    valid = p < end && is_digit(*p);
    for (; p < end && is_digit(*p); ++p) {
      if (exponent < EXPONENT_CAP) exponent = exponent * 10 + (*p - '0');
    }
    if (negative) exponent = -exponent;
  }
  if (!valid || p != end) {
    if (text.empty()) return NumberText::empty;
    return is_non_finite_word(text) ? NumberText::not_finite : NumberText::not_a_number;
  }
  // Below 10^(integer digits + exponent): most numbers are decided here.
  if (integer_digits + exponent <= SURELY_FINITE) return NumberText::ok;
  return overflows(text, integer, integer_digits, exponent) ? NumberText::overflow : NumberText::ok;
}

double number_value(std::string_view text) {
  if (text.starts_with('+')) text.remove_prefix(1);  // which from_chars does not take
  double value = 0;
  const auto read = std::from_chars(text.data(), text.data() + text.size(), value);
  return read.ec == std::errc{} && read.ptr == text.data() + text.size() ? value : NAN;
}

bool is_int32_text(std::string_view text) {
  std::size_t i = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) i = 1;
  if (i == text.size()) return false;
  std::int64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    if (!is_digit(text[i])) return false;
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > (std::int64_t{1} << 31)) return false;
  }
  return negative || magnitude < (std::int64_t{1} << 31);
}

std::string quoted(std::string_view text) {
  return pcgrid::quoted_field(text);
}

}  // namespace pctable
