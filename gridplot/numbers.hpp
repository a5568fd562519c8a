// Whole fields read as numbers: the field is the number, nothing more.
#pragma once

#include <charconv>
#include <string_view>

namespace gridplot {

template <typename T>
bool parse_number(std::string_view text, T& value) {
  if (text.empty()) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc{} && end == text.data() + text.size();
}

}  // namespace gridplot
