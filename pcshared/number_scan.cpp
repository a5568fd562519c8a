#include "number_scan.hpp"

#include <cstdio>

namespace pcgrid {

IntScan scan_int(const char* text) {
  int used = 0;
  int wrapped = 0;
  if (std::sscanf(text, "%d%n", &wrapped, &used) != 1) return {ScanStatus::no_number, 0, 0};
  // scanf converts out-of-range integers silently; read the digits again to
  // tell them apart. They are the last characters consumed, after the sign.
  const char* end = text + used;
  const char* digits = end;
  while (digits > text && digits[-1] >= '0' && digits[-1] <= '9') --digits;
  const bool negative = digits > text && digits[-1] == '-';
  std::int64_t magnitude = 0;
  for (const char* p = digits; p < end; ++p) {
    magnitude = magnitude * 10 + (*p - '0');
    if (magnitude > std::int64_t{1} << 31) return {ScanStatus::out_of_range, 0, used};
  }
  const std::int64_t value = negative ? -magnitude : magnitude;
  if (value > INT32_MAX) return {ScanStatus::out_of_range, 0, used};
  return {ScanStatus::ok, static_cast<std::int32_t>(value), used};
}

FloatScan scan_float(const char* text) {
  int used = 0;
  float value = 0.0f;
  if (std::sscanf(text, "%f%n", &value, &used) != 1) return {false, 0.0f, 0};
  return {true, value, used};
}

}  // namespace pcgrid
