#include "number_text.hpp"

#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace pctable {

namespace {

constexpr bool is_digit(char c) {
  return c >= '0' && c <= '9';
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

// Whether the decimal number `text` (already checked) rounds to infinity in
// single precision. Only numbers near the limit are converted.
bool overflows(std::string_view text, std::int64_t point_digits, std::int64_t first_nonzero,
               std::int64_t exponent) {
  // The first non-zero digit stands for 10^(point_digits - 1 - first_nonzero + exponent).
  const std::int64_t low = point_digits - 1 - first_nonzero + exponent;
  if (low + 1 <= SURELY_FINITE) return false;
  if (low >= SURELY_INFINITE) return true;
  const std::string copy(text);
  return std::isinf(std::strtof(copy.c_str(), nullptr));
}

}  // namespace

NumberText check_number(std::string_view text) {
  const char* p = text.data();
  const char* const end = p + text.size();
  if (p < end && (*p == '+' || *p == '-')) ++p;
  std::int64_t digits = 0;
  std::int64_t point_digits = -1;  // digits before the point; -1 until a point is seen
  std::int64_t first_nonzero = -1;
  for (; p < end; ++p) {
    if (is_digit(*p)) {
      if (first_nonzero < 0 && *p != '0') first_nonzero = digits;
      ++digits;
    } else if (*p == '.' && point_digits < 0) {
      point_digits = digits;
    } else {
      break;
    }
  }
  if (point_digits < 0) point_digits = digits;
  std::int64_t exponent = 0;
  bool valid = digits > 0;
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
  if (first_nonzero < 0) return NumberText::ok;  // zero, whatever its exponent
  return overflows(text, point_digits, first_nonzero, exponent) ? NumberText::overflow
                                                                : NumberText::ok;
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
  constexpr std::size_t SHOWN = 40;
  constexpr char HEX[] = "0123456789abcdef";
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size() && i < SHOWN; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x20 || byte == 0x7f) {
      out += "\\x";
      out += HEX[byte >> 4];
      out += HEX[byte & 15];
    } else {
      out += text[i];
    }
  }
  if (text.size() > SHOWN) out += "...";
  out += '"';
  return out;
}

}  // namespace pctable
