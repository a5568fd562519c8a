#include "pc_table.hpp"

#include <cmath>
#include <cstdlib>

#include "number_scan.hpp"

namespace pcgrid {

namespace {

[[noreturn]] void refuse_line(const char* line) {
  std::fprintf(stderr, "Failed to read PCs at line %s\n", line);
  std::exit(1);
}

[[noreturn]] void refuse(const char* message) {
  std::fputs(message, stderr);
  std::exit(1);
}

}  // namespace

int count_columns(const char* line) {
  int columns = 0;
  for (FloatScan f = scan_float(line); f.ok; f = scan_float(line)) {
    ++columns;
    line += f.used;
  }
  return columns;
}

bool parse_pc_line(const char* line, int dim, std::int32_t& label, std::span<float> components) {
  const IntScan l = scan_int(line);
  if (l.status != ScanStatus::ok) return false;
  label = l.value;
  line += l.used;
  for (int d = 0; d < dim; ++d) {
    const FloatScan f = scan_float(line);
    if (!f.ok || !std::isfinite(f.value)) return false;
    components[d] = f.value;
    line += f.used;
  }
  return true;
}

void read_pc_table(std::FILE* in, PcTable& table) {
  static char line[LINE_BUFFER];
  if (std::fgets(line, LINE_BUFFER, in) == nullptr) {
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
  } while (std::fgets(line, LINE_BUFFER, in) != nullptr);
  std::fprintf(stderr, "Read %d vectors (%d-dimensional).\n", table.n, dim);
}

}  // namespace pcgrid
