#include "grid_check.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "messages.hpp"

namespace pcgrid {

namespace {

constexpr std::int32_t WORTH_THREADS_ROWS = 1 << 16;  // a batch's, at least

// `value` as the shortest text that reads back to it.
struct FloatText {
  char text[32];
  explicit FloatText(float value) {
    *std::to_chars(text, text + sizeof text - 1, value).ptr = '\0';
  }
};

bool outside(const PcTable& rows, std::int32_t i, const DimLimits& limits, int dim) {
  for (int d = 0; d < dim; ++d) {
    const float x = rows.dat[i][d];
    if (x < limits.min[d] || x > limits.max[d]) return true;
  }
  return false;
}

}  // namespace

void load_grid(LineReader& reader, GridCheck& check) {
  std::FILE* file = std::fopen(check.grid_file, "r");
  if (file == nullptr) {
    fail("%s: %s: %s\n", check.program, check.grid_file, std::strerror(errno));
  }
  start_reading(reader, file, LINE_CHARS);
  read_grid(reader, check.program, check.grid_file, check.grid);
  std::fclose(file);
  std::fprintf(stderr, "Grid along each dimension set to %d, from the grid file %s.\n",
               check.grid.g, check.grid_file);
}

void check_rows(const GridCheck& check, const PcTable& rows, std::int64_t before) {
  const Grid& grid = check.grid;
  if (rows.dim() != grid.dim) {
    fail("%s: %s:%lld: vectors of %d components, but the grid file %s has %d; make the grid "
         "of this table, and of the others it serves, with lettercode --grid-of\n",
         check.program, check.table_name, static_cast<long long>(before + 1), rows.dim(),
         check.grid_file, grid.dim);
  }
  std::int32_t first = rows.n;
#pragma omp parallel for schedule(static) reduction(min : first) if (rows.n >= WORTH_THREADS_ROWS)
  for (std::int32_t i = 0; i < rows.n; ++i) {
    if (outside(rows, i, grid.limits, grid.dim)) first = std::min(first, i);
  }
  if (first == rows.n) return;
  for (int d = 0; d < grid.dim; ++d) {
    const float x = rows.dat[first][d];
    if (x >= grid.limits.min[d] && x <= grid.limits.max[d]) continue;
    fail("%s: %s:%lld: component %d, %s, lies outside the limits of the grid file %s, %s to %s; "
         "make %s again, with lettercode --grid-of, from every table it serves, this one "
         "included\n",
         check.program, check.table_name, static_cast<long long>(before + first + 1), d + 1,
         FloatText(x).text, check.grid_file, FloatText(grid.limits.min[d]).text,
         FloatText(grid.limits.max[d]).text, check.grid_file);
  }
}

}  // namespace pcgrid
