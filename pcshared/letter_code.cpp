#include "letter_code.hpp"

#include <cmath>
#include <cstdio>

#include "exact_arithmetic.hpp"

namespace pcgrid {

void compute_limits(const PcTable& table, DimLimits& limits) {
  const int dim = table.dim();
  for (int d = 0; d < dim; ++d) limits.min[d] = limits.max[d] = table.dat[0][d];
  for (std::int32_t i = 0; i < table.n; ++i) {
    for (int d = 0; d < dim; ++d) {
      const float x = table.dat[i][d];
      if (x < limits.min[d]) limits.min[d] = x;
      if (x > limits.max[d]) limits.max[d] = x;
    }
  }
}

int compute_grid_size(std::int32_t n) {
  const double p = std::pow(static_cast<double>(n), 0.2);
  const int g = static_cast<int>(p + p + 0.5);
  if (g > MAX_GRID) return MAX_GRID;
  if (g <= 4) return MIN_GRID;
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
