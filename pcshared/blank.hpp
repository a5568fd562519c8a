// Blanks: the space and the tab, which separate the fields of a line of
// text (the other white-space characters end lines or are not expected).
#pragma once

#include <string_view>

namespace pcgrid {

constexpr bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

// `text` without the blanks at its start.
constexpr std::string_view skip_blanks(std::string_view text) {
  while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
  return text;
}

// `text` without the blanks at its start and end.
constexpr std::string_view trim_blanks(std::string_view text) {
  text = skip_blanks(text);
  while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace pcgrid
