// Number conversions with the semantics of the C library's scanf.
//
// Each function reads one number from the start of a NUL-terminated text,
// skipping leading white space, and reports how many characters it consumed,
// exactly as sscanf(text, "%d%n") or sscanf(text, "%f%n") would.
#pragma once

#include <cstdint>

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
IntScan scan_int(const char* text);

// "%f%n": every form the C library accepts, with its rounding and its quirks.
FloatScan scan_float(const char* text);

}  // namespace pcgrid
