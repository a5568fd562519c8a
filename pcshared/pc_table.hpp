// The PC vector table: labelled vectors read from a text table, one per line.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string_view>

#include "limits.hpp"

namespace pcgrid {

// Static storage of the program: only the pages actually filled cost memory.
struct PcTable {
  std::int32_t indeces[MAX_VECTORS];  // label of each vector, in input order
  float dat[MAX_VECTORS][MAX_DIM];    // components; row width 10 whatever the dimension
  std::int32_t n;                     // vectors read
  std::int32_t ncol;                  // numbers on the first line, label included

  int dim() const { return ncol - 1; }
};

// Numbers that successive "%f" conversions read from the start of `line`.
int count_columns(std::string_view line);

// Reads a label and `dim` components from `line`; anything after them is
// ignored. False when a conversion fails, when the label does not fit in 32
// bits, or when a component is not finite.
bool parse_pc_line(std::string_view line, int dim, std::int32_t& label,
                   std::span<float> components);

// Fills `table` from `in`, reading it to its end, and reports its size on
// standard error. Any failure prints its message and ends the process with
// exit status 1.
void read_pc_table(std::FILE* in, PcTable& table);

}  // namespace pcgrid
