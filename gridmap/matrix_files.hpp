// Writing gridmap's matrix files, "grid.matrix" and "grid_log.matrix": one
// row per x node, one "%8.7e " value per y node; and for weights
// "grid_weights.matrix", the same rows with each node's sum of weights in
// the shortest text that reads back to the same double, from which --sum
// adds runs exactly. A file that cannot be written is not left
// half-written, and the failure ends the run.
#pragma once

#include "grid_accumulator.hpp"
#include "whole_file.hpp"

namespace gridmap {

inline constexpr char GRID_MATRIX[] = "grid.matrix";
inline constexpr char LOG_MATRIX[] = "grid_log.matrix";
inline constexpr char WEIGHTS_MATRIX[] = "grid_weights.matrix";

struct MatrixFile {
  const char* name;
  int fd;
  bool remove_on_failure;              // "grid_log.matrix": removed; "grid.matrix": emptied
  pcgrid::WholeFile* whole = nullptr;  // "grid_weights.matrix": left as it was
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

// Begins "grid_weights.matrix", written whole or not at all (a temporary
// file beside it, renamed over it once complete; a FIFO or a device in
// place); refused with "Can not open output file for writing." when it
// cannot be. Begun before "grid.matrix" is touched, so that a folder where
// it cannot be made fails the run before anything is written.
void begin_weights_matrix(pcgrid::WholeFile& file);

// Writes every node's sum of weights into the file begun and puts it in
// place; on failure the file is left as it was.
void write_weights_matrix(pcgrid::WholeFile& file, const GridAccumulator& grid);

}  // namespace gridmap
