// The fast conversions against the C library's on the same text: at the
// start of every field that a run of conversions reaches, "%f%n" and
// "%d%n" must agree with sscanf on success, consumed length and the value's
// bits. The formats must agree with snprintf on values made of the input's
// bytes and on the numbers its text holds.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "fuzz_input.hpp"
#include "number_format.hpp"
#include "number_scan.hpp"

namespace {

using namespace pcgrid;
using fuzzing::check;
using fuzzing::same_bits;
using fuzzing::value_at;

char copy[MAX_PIECE + 1];

// The fast and the C library's format of one value must be the same bytes.
template <typename T>
void check_format(char* (*fast)(char*, T, int), char* (*libc)(char*, T, int), T value, int width) {
  char a[FORMAT_ROOM];
  char b[FORMAT_ROOM];
  const char* end_a = fast(a, value, width);
  const char* end_b = libc(b, value, width);
  check(end_a - a == end_b - b && std::memcmp(a, b, static_cast<std::size_t>(end_a - a)) == 0,
        "a number formatted as printf formats it");
}

void check_formats(double value, int width) {
  check_format(fast_format_fixed7, libc_format_fixed7, value, width);
  check_format(fast_format_scientific7, libc_format_scientific7, value, width);
}

void check_int_format(std::int32_t value, int width) {
  check_format(fast_format_int, libc_format_int, value, width);
}

constexpr int MAX_WIDTH = 16;

void check_floats(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    const FloatScan fast = fast_scan_float(text.substr(at));
    const FloatScan libc = libc_scan_float(copy + at);
    check(fast.ok == libc.ok, "a float read where the C library reads one");
    if (!fast.ok) {
      ++at;
      continue;
    }
    check(fast.used == libc.used, "the float's length");
    check(same_bits(fast.value, libc.value), "the float's bits");
    // What clusterback prints: a component widened to double.
    check_formats(static_cast<double>(fast.value), static_cast<int>(at % (MAX_WIDTH + 1)));
    // What gridmap prints: means in double precision.
    check_formats(std::strtod(copy + at, nullptr), 8);
    at += static_cast<std::size_t>(fast.used);
  }
}

void check_ints(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    const IntScan fast = fast_scan_int(text.substr(at));
    const IntScan libc = libc_scan_int(copy + at);
    check(fast.status == libc.status, "an integer read where the C library reads one");
    if (fast.status == ScanStatus::no_number) {
      ++at;
      continue;
    }
    check(fast.used == libc.used, "the integer's length");
    if (fast.status == ScanStatus::ok) {
      check(fast.value == libc.value, "the integer's value");
      check_int_format(fast.value, static_cast<int>(at % (MAX_WIDTH + 1)));
    }
    at += static_cast<std::size_t>(fast.used);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The text up to its first NUL, as a view and as a C string.
  std::string_view text(reinterpret_cast<const char*>(data), size);
  text = text.substr(0, std::min({text.find('\0'), text.size(), MAX_PIECE}));
  std::memcpy(copy, text.data(), text.size());
  copy[text.size()] = '\0';
  check_floats(text);
  check_ints(text);

  for (std::size_t at = 0; at + sizeof(double) <= size; at += sizeof(double)) {
    const int width = data[at] % (MAX_WIDTH + 1);
    check_formats(value_at<double>(data, size, at), width);
    check_formats(static_cast<double>(value_at<float>(data, size, at)), width);
    check_int_format(value_at<std::int32_t>(data, size, at), width);
  }
  return 0;
}
