#include "npy_input.hpp"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "blank.hpp"
#include "descriptor_io.hpp"
#include "failure.hpp"

namespace pctable {

namespace {

static_assert(std::endian::native == std::endian::little, "values are read as stored");

struct NpyHeader {
  std::size_t value_size;  // 4 or 8
  bool fortran_order;
  std::int64_t rows;
  std::int64_t columns;
  std::int64_t data_offset;  // from the start of the input
};

// Less than the bytes taken from a pipe to recognise it, so that the header
// is read from them alone.
constexpr std::size_t MAX_HEADER = 60'000;
constexpr std::size_t MAX_TEXT = 32;  // "-1.2345678901234567e-308" and more fit
// Fortran order is read in blocks of rows: each column's part of the block
// with one read.
constexpr std::size_t BLOCK = std::size_t{4} << 20;

constexpr std::size_t FIRST_BUFFER = std::size_t{1} << 20;

// What a pass over one array works in: the columns it reads, and a row's
// values as the texts of its fields.
struct Reading {
  Row row;
  char texts[MAX_FIELDS][MAX_TEXT];
  int needed[MAX_CHOSEN + 1];  // the columns read: the chosen ones and the label
  int needed_count;
};

using pcgrid::skip_blanks;

[[noreturn]] void refuse_header(const Input& input, const std::string& what) {
  fail(input.name, what);
}

// The text after "'key':" in the header's dictionary.
std::string_view value_of(const Input& input, std::string_view dict, std::string_view key) {
  const std::string quoted_key = "'" + std::string(key) + "'";
  const std::size_t at = dict.find(quoted_key);
  if (at == std::string_view::npos) {
    refuse_header(input, "expected the key " + quoted_key + " in the .npy header, found none");
  }
  std::string_view rest = skip_blanks(dict.substr(at + quoted_key.size()));
  if (!rest.starts_with(':')) {
    refuse_header(input, "expected ':' after " + quoted_key + " in the .npy header");
  }
  return skip_blanks(rest.substr(1));
}

std::string shape_text(std::string_view value) {
  return std::string(value.substr(0, value.find(')') + 1));
}

// "(r, c)" with two non-negative integers.
void parse_shape(const Input& input, std::string_view value, NpyHeader& header) {
  const std::string found = shape_text(value);
  std::int64_t dims[2] = {};
  int count = 0;
  std::string_view rest = value;
  if (!rest.starts_with('('))
    refuse_header(input, "expected a shape (rows, columns), found " + found);
  rest.remove_prefix(1);
  for (;;) {
    rest = skip_blanks(rest);
    if (rest.starts_with(')')) break;
    std::int64_t dim = 0;
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), dim);
    if (error != std::errc{} || dim < 0) {
      refuse_header(input, "expected a shape (rows, columns), found " + found);
    }
    if (count < 2) dims[count] = dim;
    ++count;
    rest = skip_blanks(rest.substr(static_cast<std::size_t>(end - rest.data())));
    if (rest.starts_with(',')) rest = rest.substr(1);
  }
  if (count != 2) {
    refuse_header(input, "expected a 2-D array (rows, columns), found shape " + found);
  }
  header.rows = dims[0];
  header.columns = dims[1];
}

NpyHeader read_header(Cursor& cursor, const Input& input) {
  const char* bytes = nullptr;
  std::size_t got = 0;
  if (!next_bytes(cursor, 8, bytes, got))
    refuse_header(input, "expected a .npy header, found the end of the file");
  const int major = static_cast<unsigned char>(bytes[6]);
  const int minor = static_cast<unsigned char>(bytes[7]);
  if ((major != 1 && major != 2 && major != 3) || minor != 0) {
    refuse_header(input, "expected .npy format version 1.0, 2.0 or 3.0, found " +
                             std::to_string(major) + "." + std::to_string(minor));
  }
  const std::size_t length_size = major == 1 ? 2 : 4;
  if (!next_bytes(cursor, length_size, bytes, got)) {
    refuse_header(input, "expected a .npy header, found the end of the file");
  }
  std::size_t length = 0;
  for (std::size_t i = length_size; i-- > 0;)
    length = length * 256 + static_cast<unsigned char>(bytes[i]);
  if (length > MAX_HEADER) {
    refuse_header(input, "expected a .npy header of at most " + std::to_string(MAX_HEADER) +
                             " bytes, found " + std::to_string(length));
  }
  if (!next_bytes(cursor, length, bytes, got)) {
    refuse_header(input, "expected a .npy header, found the end of the file");
  }
  const std::string_view dict(bytes, length);

  NpyHeader header{};
  const std::string_view descr = value_of(input, dict, "descr");
  const std::string type(descr.substr(0, descr.find_first_of(",}")));
  if (descr.starts_with("'<f4'")) {
    header.value_size = 4;
  } else if (descr.starts_with("'<f8'")) {
    header.value_size = 8;
  } else {
    refuse_header(
        input, "expected little-endian float32 or float64 values ('<f4' or '<f8'), found " + type);
  }
  const std::string_view order = value_of(input, dict, "fortran_order");
  if (order.starts_with("True")) {
    header.fortran_order = true;
  } else if (!order.starts_with("False")) {
    refuse_header(input, "expected fortran_order True or False, found " +
                             std::string(order.substr(0, order.find_first_of(",}"))));
  }
  parse_shape(input, value_of(input, dict, "shape"), header);
  if (header.columns > MAX_FIELDS) {
    refuse_header(input, "expected at most " + std::to_string(MAX_FIELDS) + " columns, found " +
                             std::to_string(header.columns));
  }
  header.data_offset = cursor.offset;
  return header;
}

std::string data_size_text(const NpyHeader& header, std::int64_t expected) {
  return std::to_string(header.rows) + " rows of " + std::to_string(header.columns) + " values (" +
         (expected < 0 ? std::string("more than 2^63") : std::to_string(expected)) + " bytes)";
}

// The bytes of data the header announces; -1 beyond 2^63.
std::int64_t data_size(const NpyHeader& header) {
  const std::int64_t values = header.columns == 0 ? 0 : header.rows;
  return values > INT64_MAX / 8 / std::max<std::int64_t>(header.columns, 1)
             ? -1
             : values * header.columns * static_cast<std::int64_t>(header.value_size);
}

// The data must be exactly rows x columns values: checked before reading
// where the size is known, at the end otherwise.
void check_size(const Input& input, const NpyHeader& header, std::int64_t have) {
  const std::int64_t expected = data_size(header);
  if (expected != have) {
    fail(input.name, "expected " + data_size_text(header, expected) +
                         " after the .npy header, found " + std::to_string(have) + " bytes");
  }
}

// An integral value below 2^31 as an integer (-0 as "-0"), any other as the
// shortest text that reads back to the same value.
template <typename T>
std::string_view number_text(T value, char* text) {
  char* end = nullptr;
  if (std::abs(value) < T{2147483648.0} && std::trunc(value) == value) {
    if (std::signbit(value)) *text++ = '-';
    end = std::to_chars(text, text + MAX_TEXT - 1, static_cast<std::int64_t>(std::abs(value))).ptr;
    if (std::signbit(value)) --text;
  } else {
    end = std::to_chars(text, text + MAX_TEXT, value).ptr;
  }
  return std::string_view(text, static_cast<std::size_t>(end - text));
}

double value_at(const NpyHeader& header, const char* bytes) {
  if (header.value_size == 4) {
    float value = 0;
    std::memcpy(&value, bytes, 4);
    return value;
  }
  double value = 0;
  std::memcpy(&value, bytes, 8);
  return value;
}

// A component: the single-precision value that a table's reader will
// store, as its shortest text.
std::string_view component_text(const Input& input, std::int64_t row_number, int column,
                                double value, char* text) {
  if (!std::isfinite(value)) {
    fail_at(input.name, row_number,
            "expected a finite number in column " + std::to_string(column + 1) + ", found " +
                (std::isnan(value) ? "nan"
                 : value > 0       ? "inf"
                                   : "-inf"));
  }
  const float single = static_cast<float>(value);
  if (std::isinf(single)) {
    fail_at(input.name, row_number,
            "expected a number within single precision (about 3.4e38) in column " +
                std::to_string(column + 1) + ", found " + std::string(number_text(value, text)));
  }
  return number_text(single, text);
}

// The columns a row needs: the chosen ones and the label.
void choose_needed(Reading& reading, const Layout& layout) {
  int* const needed = reading.needed;
  int& needed_count = reading.needed_count;
  needed_count = 0;
  for (int i = 0; i < layout.chosen_count; ++i) needed[needed_count++] = layout.chosen[i];
  if (layout.label >= 0) needed[needed_count++] = layout.label;
}

// Row `r` (from 0), whose column c is at bytes + c x stride.
void put_values(Table& table, Layout& layout, Reading& reading, const Input& input,
                const NpyHeader& header, std::int64_t r, const char* bytes, std::size_t stride) {
  Row& row = reading.row;
  for (int i = 0; i < reading.needed_count; ++i) {
    const int c = reading.needed[i];
    const double value = value_at(header, bytes + static_cast<std::size_t>(c) * stride);
    char* const text = reading.texts[c];
    row.field[c] = c == layout.label ? number_text(value, text)
                                     : component_text(input, r + 1, c, value, text);
  }
  put_row(table, layout, row, r + 1);
}

void read_c_order(Table& table, const Input& input, const NpyHeader& header, Cursor& cursor,
                  Layout& layout, Reading& reading) {
  const std::size_t row_bytes = header.value_size * static_cast<std::size_t>(header.columns);
  for (std::int64_t r = 0; r < header.rows; ++r) {
    const char* bytes = nullptr;
    std::size_t got = 0;
    if (!next_bytes(cursor, row_bytes, bytes, got)) {
      check_size(input, header, cursor.offset - header.data_offset);
    }
    put_values(table, layout, reading, input, header, r, bytes, header.value_size);
  }
  // From a pipe, bytes after the last row are found only here.
  if (has_more(cursor)) {
    constexpr std::size_t STEP = 4096;
    const char* bytes = nullptr;
    std::size_t got = STEP;
    while (got == STEP) next_bytes(cursor, STEP, bytes, got);
    check_size(input, header, cursor.offset - header.data_offset);
  }
}

// Column c starts at data_offset + c x rows x value_size: each block of
// rows is read column by column, only the columns needed.
void read_fortran_order(Table& table, const Input& input, const NpyHeader& header, Layout& layout,
                        Reading& reading) {
  const std::size_t size = header.value_size;
  const std::int64_t column_bytes = header.rows * static_cast<std::int64_t>(size);
  const auto block_rows =
      static_cast<std::int64_t>(BLOCK / (size * static_cast<std::size_t>(header.columns)));
  const std::size_t stride = static_cast<std::size_t>(block_rows) * size;
  const auto block = std::make_unique_for_overwrite<char[]>(BLOCK);
  for (std::int64_t first = 0; first < header.rows; first += block_rows) {
    const std::int64_t rows = std::min(block_rows, header.rows - first);
    const std::size_t bytes = static_cast<std::size_t>(rows) * size;
    for (int i = 0; i < reading.needed_count; ++i) {
      const int c = reading.needed[i];
      const std::int64_t at = input.start + header.data_offset + c * column_bytes +
                              first * static_cast<std::int64_t>(size);
      const ssize_t got = pcgrid::pread_fully(input.fd, block.get() + c * stride, bytes, at);
      if (got < 0) fail(input.name, std::string("read error: ") + std::strerror(errno));
      if (static_cast<std::size_t>(got) < bytes) fail(input.name, "changed while it was read");
    }
    for (std::int64_t r = 0; r < rows; ++r) {
      put_values(table, layout, reading, input, header, first + r,
                 block.get() + r * static_cast<std::int64_t>(size), stride);
    }
  }
}

}  // namespace

void read_npy(Table& table, Input& input) {
  Cursor cursor;
  const auto first_buffer = new_cursor_buffer(FIRST_BUFFER);
  start_input_cursor(cursor, input, {first_buffer.get(), FIRST_BUFFER});
  const NpyHeader header = read_header(cursor, input);
  if (header.fortran_order && input.source == Source::stream) {
    const std::int64_t expected = data_size(header);
    const std::int64_t size = copy_whole(input, expected < 0 ? 0 : header.data_offset + expected);
    check_size(input, header, size - header.data_offset);
  }
  if (input.source != Source::stream) {
    check_size(input, header, input.size - header.data_offset);
  }
  if (header.rows == 0 || header.columns == 0) {
    fail(input.name, "expected a line of numbers, found an empty array");
  }
  Layout layout = start_layout(table, input.name, 0);
  layout.numbers_checked = true;  // written here, from finite values
  const auto reading = std::make_unique<Reading>();
  reading->row.count = static_cast<int>(header.columns);
  prepare_layout(table, layout, reading->row, 1);
  choose_needed(*reading, layout);
  if (header.fortran_order) {
    read_fortran_order(table, input, header, layout, *reading);
  } else {
    read_c_order(table, input, header, cursor, layout, *reading);
  }
  note_input(table, layout,
             std::string(header.value_size == 4 ? "float32" : "float64") + " array, " +
                 (header.fortran_order ? "Fortran" : "C") + " order");
}

}  // namespace pctable
