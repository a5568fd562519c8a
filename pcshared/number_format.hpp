// Number formatting with the bytes of the C library's printf.
//
// Each function writes at `out` what printf would write for the format
// named, right-aligned in at least `width` characters, and returns the end
// of what it wrote. The fast versions write the values the programs print
// (every int, floats in "%.7f", normal doubles of two-digit exponents in
// "%.7e") in integers, as proved in number_format.cpp; other values go to
// std::to_chars, whose fixed form with a precision gives exactly printf's
// digits, and to snprintf.
#pragma once

#include <cstdint>

#include "pcgrid_config.hpp"

namespace pcgrid {

// Room enough for any one of the formats below with a width up to 16: the
// largest double in "%.7f" takes 317 characters.
inline constexpr int FORMAT_ROOM = 330;

char* fast_format_int(char* out, std::int32_t value, int width);    // "%*d"
char* fast_format_fixed7(char* out, double value, int width);       // "%*.7f"
char* fast_format_scientific7(char* out, double value, int width);  // "%*.7e"
char* libc_format_int(char* out, std::int32_t value, int width);
char* libc_format_fixed7(char* out, double value, int width);
char* libc_format_scientific7(char* out, double value, int width);

inline char* format_int(char* out, std::int32_t value, int width) {
  if constexpr (LIBC_IO) return libc_format_int(out, value, width);
  return fast_format_int(out, value, width);
}

inline char* format_fixed7(char* out, double value, int width) {
  if constexpr (LIBC_IO) return libc_format_fixed7(out, value, width);
  return fast_format_fixed7(out, value, width);
}

inline char* format_scientific7(char* out, double value, int width) {
  if constexpr (LIBC_IO) return libc_format_scientific7(out, value, width);
  return fast_format_scientific7(out, value, width);
}

}  // namespace pcgrid
