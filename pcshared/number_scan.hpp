// Number conversions with the semantics of the C library's scanf.
//
// Each function reads one number from the start of a text, skipping
// leading white space, and reports how many characters it consumed, exactly
// as sscanf(text, "%d%n") or sscanf(text, "%f%n") would on the text as a C
// string. The fast versions take the text's end from the view; the libc
// versions, the reference, need a NUL at text[size] (or earlier).
#pragma once

#include <cstdint>
#include <string_view>

#include "pcgrid_config.hpp"

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
IntScan fast_scan_int(std::string_view text);
IntScan libc_scan_int(const char* text);

// The longest text that the fast float conversion reads (longer texts are
// read as if they ended there); a line piece is never longer.
inline constexpr std::size_t MAX_SCAN_TEXT = 99'998;

// "%f%n": every form the C library accepts, with its rounding and quirks.
// The plain decimal forms are converted with std::from_chars, which rounds
// correctly as the C library does; the rest (hexadecimal, inf and nan, a
// dangling exponent, overflow and underflow) goes to the C library itself.
FloatScan fast_scan_float(std::string_view text);
FloatScan libc_scan_float(const char* text);

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

}  // namespace pcgrid
