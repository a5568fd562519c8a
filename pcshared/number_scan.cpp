#include "number_scan.hpp"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>

namespace pcgrid {

FloatScan libc_scan_float_copy(std::string_view text) {
  char copy[MAX_PIECE + 1];
  const std::size_t size = std::min(text.size(), MAX_PIECE);
  std::memcpy(copy, text.data(), size);
  copy[size] = '\0';
  return libc_scan_float(copy);
}

IntScan libc_scan_int(const char* text) {
  int used = 0;
  int wrapped = 0;
  if (std::sscanf(text, "%d%n", &wrapped, &used) != 1) return {ScanStatus::no_number, 0, 0};
  // scanf converts out-of-range integers silently; read the digits again to
  // tell them apart. They are the last characters consumed, after the sign.
  const char* end = text + used;
  const char* digits = end;
  while (digits > text && scan_detail::is_digit(digits[-1])) --digits;
  std::int64_t magnitude = 0;
  for (const char* p = digits; p < end; ++p) {
    if (magnitude <= scan_detail::INT_LIMIT) magnitude = magnitude * 10 + (*p - '0');
  }
  return scan_detail::int_result(digits > text && digits[-1] == '-', magnitude, used);
}

FloatScan libc_scan_float(const char* text) {
  int used = 0;
  float value = 0.0f;
  if (std::sscanf(text, "%f%n", &value, &used) != 1) return {false, 0.0f, 0};
  return {true, value, used};
}

}  // namespace pcgrid
