// pctable's .npy reader: the header and the values. The first byte chooses
// the options and whether the rest is the whole file (any header) or, in
// half the cases, the values of an array whose header is made here from the
// next three bytes (type, order, rows, columns). The components of that
// array's table must read as the floats that its values round to.
#include <bit>
#include <charconv>
#include <cstring>

#include "npy_input.hpp"
#include "pctable_fuzz.hpp"

namespace {

struct Array {
  std::size_t value_size = 0;
  bool fortran = false;
  std::size_t rows = 0;
  std::size_t columns = 0;
  std::string_view values;  // rows x columns values, in the array's order
};

std::string npy_file(const Array& array) {
  std::string dict = std::string("{'descr': '") + (array.value_size == 4 ? "<f4" : "<f8") +
                     "', 'fortran_order': " + (array.fortran ? "True" : "False") + ", 'shape': (" +
                     std::to_string(array.rows) + ", " + std::to_string(array.columns) + "), }";
  while ((10 + dict.size() + 1) % 64 != 0) dict += ' ';
  dict += '\n';
  std::string bytes = std::string("\x93NUMPY\x01\x00", 8);
  bytes += static_cast<char>(dict.size() & 255);
  bytes += static_cast<char>(dict.size() >> 8);
  return bytes + dict + std::string(array.values);
}

double value_of(const Array& array, std::size_t row, std::size_t column) {
  const std::size_t index =
      array.fortran ? column * array.rows + row : row * array.columns + column;
  const char* bytes = array.values.data() + index * array.value_size;
  if (array.value_size == 4) {
    float value = 0;
    std::memcpy(&value, bytes, 4);
    return value;
  }
  double value = 0;
  std::memcpy(&value, bytes, 8);
  return value;
}

// The array's column of the table's component `k`.
std::size_t column_of(const pctable::Options& options, std::size_t k) {
  if (options.column_count > 0) return static_cast<std::size_t>(options.columns[k] - 1);
  return options.label_column == 1 ? k + 1 : k;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace pctable;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const auto read = [](Table& table, Input& input) { read_npy(table, input); };
  if (size < 4 || (data[0] & 8) == 0) {
    fuzzing::read_and_check(bytes, Kind::npy, read,
                            [](std::size_t, std::size_t, const std::string&) { return true; });
    return 0;
  }
  Array array;
  array.value_size = (data[1] & 1) != 0 ? 8 : 4;
  array.fortran = (data[1] & 2) != 0;
  array.rows = 1 + data[2] % 16;
  array.columns = 1 + data[3] % 8;
  array.values = bytes.substr(4);
  if (array.values.size() < array.rows * array.columns * array.value_size) return 0;
  array.values = array.values.substr(0, array.rows * array.columns * array.value_size);
  const std::string file = std::string(1, bytes[0]) + npy_file(array);
  const Options options = fuzzing::options_from(data[0]);
  fuzzing::read_and_check(
      std::string_view(file), Kind::npy, read,
      [&](std::size_t row, std::size_t k, const std::string& field) {
        const float expected = static_cast<float>(value_of(array, row, column_of(options, k)));
        float found = 0;
        const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), found);
        return error == std::errc{} && end == field.data() + field.size() &&
               std::bit_cast<std::uint32_t>(found) == std::bit_cast<std::uint32_t>(expected);
      });
  return 0;
}
