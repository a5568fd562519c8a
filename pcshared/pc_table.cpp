#include "pc_table.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "line_reader.hpp"
#include "messages.hpp"
#include "number_scan.hpp"
#include "table_memory.hpp"

namespace pcgrid {

namespace {

[[noreturn]] void refuse_line(std::string_view line) {
  fail("Failed to read PCs at line %.*s\n", static_cast<int>(line.size()), line.data());
}

// The next line of the table; false at its end. A read error ends the run.
bool next_line(LineReader& reader, std::string_view& line) {
  if (read_piece(reader, line)) return true;
  if (reader.failed) fail("Failed to read standard input: %s\n", std::strerror(reader.error));
  return false;
}

}  // namespace

int count_columns(std::string_view line) {
  int columns = 0;
  for (FloatScan f = scan_float(line); f.ok; f = scan_float(line)) {
    ++columns;
    line.remove_prefix(static_cast<std::size_t>(f.used));
  }
  return columns;
}

bool parse_pc_line(std::string_view line, int dim, std::int32_t& label,
                   std::span<float> components) {
  const IntScan l = scan_int(line);
  if (l.status != ScanStatus::ok) return false;
  label = l.value;
  line.remove_prefix(static_cast<std::size_t>(l.used));
  for (int d = 0; d < dim; ++d) {
    const FloatScan f = scan_float(line);
    if (!f.ok || !std::isfinite(f.value)) return false;
    components[d] = f.value;
    line.remove_prefix(static_cast<std::size_t>(f.used));
  }
  return true;
}

bool reserve_vectors(PcTable& table, std::int32_t rows) {
  if (rows <= table.capacity) return true;
  std::int32_t capacity = table.capacity;
  while (capacity < rows) capacity = std::min(capacity + VECTOR_STEP, std::int32_t{MAX_VECTORS});
  constexpr std::size_t LABEL = sizeof *table.indeces;
  constexpr std::size_t ROW = sizeof *table.dat;
  const std::size_t old_rows = static_cast<std::size_t>(table.capacity);
  const std::size_t new_rows = static_cast<std::size_t>(capacity);
  void* labels = grow_zeroed(table.indeces, old_rows * LABEL, new_rows * LABEL);
  if (labels == nullptr) return false;
  table.indeces = static_cast<std::int32_t*>(labels);
  void* components = grow_zeroed(table.dat, old_rows * ROW, new_rows * ROW);
  if (components == nullptr) return false;
  table.dat = static_cast<float(*)[MAX_DIM]>(components);
  table.capacity = capacity;
  return true;
}

void read_pc_table(std::FILE* in, PcTable& table) {
  static LineReader reader;
  start_reading(reader, in, LINE_CHARS);
  std::string_view line;
  if (!next_line(reader, line)) fail("Failed to read any input (?!). Abort.\n");
  table.ncol = count_columns(line);
  if (table.ncol > MAX_COLUMNS) {
    fail("Too many columns on the first line: at most 10 components per vector.\n");
  }
  if (table.ncol < 1) refuse_line(line);
  const int dim = table.dim();
  table.n = 0;
  do {
    if (table.n == MAX_VECTORS) fail("Too many vectors: at most 25000000 can be read.\n");
    if (table.n == table.capacity && !reserve_vectors(table, table.n + 1)) {
      fail("Memory exhausted after %d vectors were read.\n", table.n);
    }
    if (!parse_pc_line(line, dim, table.indeces[table.n], table.dat[table.n])) refuse_line(line);
    ++table.n;
  } while (next_line(reader, line));
  std::fprintf(stderr, "Read %d vectors (%d-dimensional).\n", table.n, dim);
}

}  // namespace pcgrid
