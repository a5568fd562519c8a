// lettercode --grid-of: the grid file of PC tables and grid files taken as
// one table.
#pragma once

#include <span>

#include "line_reader.hpp"

namespace lettercode {

// Writes on standard output the grid file of `inputs` (PC tables or grid
// files, "-" for standard input; standard input when there are none),
// taken as one table: the limits over all, their vectors summed, and G of
// the sum. Each table is read once, a batch at a time. A failure ends the
// process with its message and status 1, with nothing written.
void write_grid_of(std::span<char* const> inputs, pcgrid::LineReader& reader);

}  // namespace lettercode
