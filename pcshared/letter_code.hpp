// The grid over the PC table's ranges and the 52-letter code of its cells.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "limits.hpp"
#include "pc_table.hpp"

namespace pcgrid {

// Smallest and largest value of each dimension; the first D entries count.
struct DimLimits {
  float min[MAX_DIM];
  float max[MAX_DIM];
};

void compute_limits(const PcTable& table, DimLimits& limits);

// The limits of rows A followed by rows B, from those of A (`limits`) and
// of B (`later`), each found by compute_limits: the same bits as
// compute_limits over A and B together (see its proof).
void merge_limits(DimLimits& limits, const DimLimits& later, int dim);

// Grid intervals per dimension for n vectors: trunc(2 n^0.2 + 0.5), within 5..51.
int compute_grid_size(std::int64_t n);

// compute_grid_size, reported on standard error.
int grid_size(std::int32_t n);

// Bin 0..g of a component x of a dimension spanning lo..hi.
int bin_for(float x, float lo, float hi, int g);

// Bins 0..25 are A..Z, 26..51 are a..z.
constexpr char letter_for_bin(int bin) {
  const int code = bin + 65;
  return static_cast<char>(code >= 91 ? bin + 71 : code);
}

// The word of vector i, one letter per dimension, written into `buffer`.
std::string_view encode_word(const PcTable& table, std::int32_t i, const DimLimits& limits, int g,
                             std::span<char, MAX_DIM> buffer);

}  // namespace pcgrid
