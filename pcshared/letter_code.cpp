#include "letter_code.hpp"

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "exact_arithmetic.hpp"
#include "pcgrid_config.hpp"

namespace pcgrid {

namespace {

// The limits of rows begin .. end-1, starting from the first vector's
// components: the loop of the definition over these rows.
void limits_of_rows(const PcTable& table, std::int32_t begin, std::int32_t end, DimLimits& limits) {
  const int dim = table.dim();
  for (int d = 0; d < dim; ++d) limits.min[d] = limits.max[d] = table.dat[0][d];
  for (std::int32_t i = begin; i < end; ++i) {
    for (int d = 0; d < dim; ++d) {
      const float x = table.dat[i][d];
      if (x < limits.min[d]) limits.min[d] = x;
      if (x > limits.max[d]) limits.max[d] = x;
    }
  }
}

constexpr int LIMIT_PARTS = 64;
constexpr std::int32_t WORTH_THREADS_ROWS = 1 << 16;  // a table's, at least

}  // namespace

// The rows are cut into parts, each part's limits are found on a thread of
// its own by the loop of the definition from the same start (the first
// vector), and the parts' limits are merged in order by that loop again.
// Why this gives the loop's own result, bit for bit, NaN included (in one
// dimension, for min; max is the same with > for <):
// the loop is m := x < m ? x : m over the column, from s = the first
// vector's component. If s is NaN, no x is less than it, so m stays s, in
// every part and in the merge. Otherwise m is never NaN (it takes x only
// when x < m, which is false for a NaN x), and over a sequence s, X the
// loop ends at the element of s, X that comes first among those of the
// least value (it takes a later element only when it is strictly less; the
// NaNs are never less; -0 and +0 are equal, so the first of them stays).
// Merging the result a of s, A with the result b of s, B: if the least
// value of s, A, B occurs in s, A, then a has it and comes first, and b is
// not less than a, so a stays; otherwise the least value lies in B alone,
// below all of s, A, and b is its first occurrence in B, less than a, so b
// is taken. Either way the merge gives the result of s, A, B, the same
// element and so the same bits; by induction over the parts in order, from
// s (the result of s alone), the result of the whole column.
void compute_limits(const PcTable& table, DimLimits& limits) {
  const int dim = table.dim();
  if (dim < 1) return;
  const int parts =
      table.n < WORTH_THREADS_ROWS || LIBC_IO ? 1 : std::min(LIMIT_PARTS, 4 * omp_get_max_threads());
  DimLimits part_limits[LIMIT_PARTS];
  const auto rows = static_cast<std::int64_t>(table.n);
#pragma omp parallel for schedule(dynamic, 1) if (parts > 1)
  for (int k = 0; k < parts; ++k) {
    limits_of_rows(table, static_cast<std::int32_t>(rows * k / parts),
                   static_cast<std::int32_t>(rows * (k + 1) / parts), part_limits[k]);
  }
  for (int d = 0; d < dim; ++d) limits.min[d] = limits.max[d] = table.dat[0][d];
  for (int k = 0; k < parts; ++k) merge_limits(limits, part_limits[k], dim);
}

void merge_limits(DimLimits& limits, const DimLimits& later, int dim) {
  for (int d = 0; d < dim; ++d) {
    if (later.min[d] < limits.min[d]) limits.min[d] = later.min[d];
    if (later.max[d] > limits.max[d]) limits.max[d] = later.max[d];
  }
}

int compute_grid_size(std::int64_t n) {
  const double p = std::pow(static_cast<double>(n), 0.2);
  const int g = static_cast<int>(p + p + 0.5);
  if (g > MAX_GRID_INTERVALS) return MAX_GRID_INTERVALS;
  if (g <= 4) return MIN_GRID_INTERVALS;
  return g;
}

int grid_size(std::int32_t n) {
  const int g = compute_grid_size(n);
  std::fprintf(stderr, "Grid along each dimension set to %d.\n", g);
  return g;
}

int bin_for(float x, float lo, float hi, int g) {
  const float range = hi - lo;
  if (range == 0.0f) return 0;
  const float q = (x - lo) / range;
  const float b = q * static_cast<float>(g);
  // Within a range that fits in single precision b lies in 0..g. When the
  // range overflows, x - lo can overflow too and b is NaN: such a component
  // lies at the top of its range, and takes the top bin.
  if (!(b < static_cast<float>(g))) return g;
  if (!(b > 0.0f)) return 0;
  return static_cast<int>(b);
}

std::string_view encode_word(const PcTable& table, std::int32_t i, const DimLimits& limits, int g,
                             std::span<char, MAX_DIM> buffer) {
  const int dim = table.dim();
  for (int d = 0; d < dim; ++d) {
    buffer[d] = letter_for_bin(bin_for(table.dat[i][d], limits.min[d], limits.max[d], g));
  }
  return {buffer.data(), static_cast<std::size_t>(dim)};
}

}  // namespace pcgrid
