#include "grid_of.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "grid_file.hpp"
#include "messages.hpp"
#include "output.hpp"
#include "pc_table.hpp"
#include "standard_descriptors.hpp"

namespace lettercode {

namespace {

// The grid of the inputs so far; `vectors` 0 before the first.
struct GridSum {
  pcgrid::Grid grid;
  const char* first_name;  // the input that fixed D
};

// Adds a grid (of an input named `name`) to the sum: limits merged in
// input order, as compute_limits merges the parts of one table.
void add_grid(GridSum& sum, const pcgrid::Grid& grid, const char* name) {
  if (sum.grid.vectors == 0) {
    sum.grid.dim = grid.dim;
    sum.grid.limits = grid.limits;
    sum.first_name = name;
  } else if (grid.dim != sum.grid.dim) {
    pcgrid::fail("lettercode: %s: vectors of %d components, but those of %s have %d\n", name,
                 grid.dim, sum.first_name, sum.grid.dim);
  } else {
    pcgrid::merge_limits(sum.grid.limits, grid.limits, grid.dim);
  }
  sum.grid.vectors += grid.vectors;
}

// The grid of a table read a batch at a time.
struct TableGrid {
  pcgrid::Grid grid;
};

void add_batch(const pcgrid::PcTable& rows, std::int64_t before, void* context) {
  pcgrid::Grid& grid = static_cast<TableGrid*>(context)->grid;
  pcgrid::DimLimits limits;
  pcgrid::compute_limits(rows, limits);
  if (before == 0) {
    grid.dim = rows.dim();
    grid.limits = limits;
  } else {
    pcgrid::merge_limits(grid.limits, limits, grid.dim);
  }
}

void add_input(GridSum& sum, std::FILE* file, const char* name, pcgrid::LineReader& reader) {
  pcgrid::start_reading(reader, file, pcgrid::LINE_CHARS, pcgrid::STREAM_BLOCK_BYTES);
  pcgrid::Grid grid{};
  if (pcgrid::starts_grid(pcgrid::peek_byte(reader))) {
    pcgrid::read_grid(reader, "lettercode", name, grid);
  } else {
    TableGrid table{};
    pcgrid::PcTable rows{};
    table.grid.vectors = pcgrid::stream_pc_table(reader, rows, {add_batch, &table});
    grid = table.grid;
  }
  add_grid(sum, grid, name);
}

}  // namespace

void write_grid_of(std::span<char* const> inputs, pcgrid::LineReader& reader) {
  GridSum sum{};
  if (inputs.empty()) add_input(sum, stdin, "-", reader);
  for (const char* name : inputs) {
    if (std::strcmp(name, "-") == 0) {
      add_input(sum, stdin, name, reader);
      continue;
    }
    std::FILE* file = std::fopen(name, "r");
    if (file == nullptr) pcgrid::fail("lettercode: %s: %s\n", name, std::strerror(errno));
    add_input(sum, file, name, reader);
    std::fclose(file);
  }
  sum.grid.g = pcgrid::compute_grid_size(sum.grid.vectors);
  pcgrid::put_output(pcgrid::grid_text(sum.grid));
}

}  // namespace lettercode
