// Writing gridmap's two matrix files, "grid.matrix" and "grid_log.matrix":
// one row per x node, one "%8.7e " value per y node. A file that cannot be
// written is not left half-written, and the failure ends the run.
#pragma once

#include "grid_accumulator.hpp"

namespace gridmap {

inline constexpr char GRID_MATRIX[] = "grid.matrix";
inline constexpr char LOG_MATRIX[] = "grid_log.matrix";

struct MatrixFile {
  const char* name;
  int fd;
  bool remove_on_failure;  // "grid_log.matrix": removed; "grid.matrix": emptied
};

// Created or truncated as fopen(name, "w") does; refused with "Can not open
// output file for writing." when it cannot be.
MatrixFile create_matrix(const char* name, bool remove_on_failure);

// The value of every node of `grid`, then the file closed. `weighted`: the
// third column weighed the points, and a node's value is its sum of weights.
void write_grid_matrix(const MatrixFile& matrix, const GridAccumulator& grid, bool weighted);

// Creates "grid_log.matrix" and writes the logarithm of every node's value;
// gives up, removing it, at a mean z that has none.
void write_log_matrix(const GridAccumulator& grid, bool weighted);

}  // namespace gridmap
