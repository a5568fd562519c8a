// NumPy .npy files: a 2-D array of little-endian float32 ('<f4') or
// float64 ('<f8') values, in C or Fortran order, format version 1.0, 2.0 or
// 3.0. Each value is written as the shortest text that reads back to it
// (an integral value below 2^31 in magnitude as an integer).
#pragma once

#include "inputs.hpp"
#include "table_output.hpp"

namespace pctable {

void read_npy(Table& table, Input& input);

}  // namespace pctable
