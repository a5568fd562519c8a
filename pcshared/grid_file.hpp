// Grid files: the grid of one or more PC tables (the number of components
// D, each component's limits, the vector count N and the grid size G), as
// a small text that any number of runs can share. man pcgrid-grid(5)
// describes the format:
//
//   pcgrid grid
//   dimensions D
//   vectors N
//   intervals G
//   limits MIN MAX        (D lines, component 1 first)
//
// Each limit is the shortest text that reads back to the same float.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "letter_code.hpp"
#include "line_reader.hpp"

namespace pcgrid {

struct Grid {
  int dim;               // components per vector, 0 .. MAX_DIM
  DimLimits limits;      // the first `dim` entries count
  std::int64_t vectors;  // N, at least 1
  int g;                 // compute_grid_size(N)
};

inline constexpr std::string_view GRID_MAGIC = "pcgrid grid";

// A grid file is at most this long; a longer text is not one.
inline constexpr std::size_t GRID_FILE_BYTES = 4096;

// The text of the grid file of `grid`.
std::string grid_text(const Grid& grid);

// Where parse_grid stopped: ok, or the line (from 1) and what is wrong.
struct GridParse {
  bool ok;
  int line;
  std::string what;
};

// Reads a grid file's text into `grid`, refusing anything that grid_text
// cannot have written for some grid.
GridParse parse_grid(std::string_view text, Grid& grid);

// Reads the grid file that `reader` was started on, named `name` in the
// messages; what is not one ends the process with
// "PROGRAM: NAME:LINE: what is wrong" and exit status 1.
void read_grid(LineReader& reader, const char* program, const char* name, Grid& grid);

// Whether a text whose first byte is `first` (EOF for none) is to be read
// as a grid file rather than a PC table, whose lines begin with a number.
constexpr bool starts_grid(int first) {
  return first == GRID_MAGIC[0];
}

}  // namespace pcgrid
