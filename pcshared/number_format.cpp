#include "number_format.hpp"

#include <charconv>
#include <cstdio>
#include <cstring>

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

char* printed(char* out, int length) {
  return out + (length > 0 ? length : 0);
}

}  // namespace

char* fast_format_int(char* out, std::int32_t value, int width) {
  return format_right(out, value, width);
}

char* fast_format_fixed7(char* out, double value, int width) {
  return format_right(out, value, width, std::chars_format::fixed, 7);
}

char* fast_format_scientific7(char* out, double value, int width) {
  return format_right(out, value, width, std::chars_format::scientific, 7);
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
