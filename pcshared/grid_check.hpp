// The word programs' --grid: a grid file's grid instead of the table's
// own, and every vector of the table checked against it.
#pragma once

#include <cstdint>

#include "grid_file.hpp"
#include "line_reader.hpp"
#include "pc_table.hpp"

namespace pcgrid {

struct GridCheck {
  const char* program;
  const char* grid_file;   // the grid file's name
  const char* table_name;  // the table's name in messages
  Grid grid;
};

// Reads the grid file check.grid_file with `reader` into check.grid and
// says on standard error which grid is used. A file that cannot be read,
// or is not a grid file, ends the process with status 1.
void load_grid(LineReader& reader, GridCheck& check);

// Refuses, with "PROGRAM: TABLE:LINE: ..." naming the grid file to make
// and exit status 1, a table of another dimension or the first of `rows`
// with a component outside the grid's limits. `before` vectors came
// before the rows; a vector's line is its position from 1.
void check_rows(const GridCheck& check, const PcTable& rows, std::int64_t before);

}  // namespace pcgrid
