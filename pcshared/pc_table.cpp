#include "pc_table.hpp"

#include <cmath>
#include <cstdlib>

#include "huge_pages.hpp"
#include "line_reader.hpp"
#include "number_scan.hpp"

namespace pcgrid {

namespace {

[[noreturn]] void refuse_line(std::string_view line) {
  std::fprintf(stderr, "Failed to read PCs at line %.*s\n", static_cast<int>(line.size()),
               line.data());
  std::exit(1);
}

[[noreturn]] void refuse(const char* message) {
  std::fputs(message, stderr);
  std::exit(1);
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

void read_pc_table(std::FILE* in, PcTable& table) {
  static LineReader reader;
  prefer_huge_pages(&table, sizeof table);
  start_reading(reader, in, LINE_CHARS);
  std::string_view line;
  if (!read_piece(reader, line)) {
    refuse("Failed to read any input (?!). Abort.\n");
  }
  table.ncol = count_columns(line);
  if (table.ncol > MAX_COLUMNS) {
    refuse("Too many columns on the first line: at most 10 components per vector.\n");
  }
  if (table.ncol < 1) refuse_line(line);
  const int dim = table.dim();
  table.n = 0;
  do {
    if (table.n == MAX_VECTORS) refuse("Too many vectors: at most 25000000 can be read.\n");
    if (!parse_pc_line(line, dim, table.indeces[table.n], table.dat[table.n])) refuse_line(line);
    ++table.n;
  } while (read_piece(reader, line));
  std::fprintf(stderr, "Read %d vectors (%d-dimensional).\n", table.n, dim);
}

}  // namespace pcgrid
