// The node of a grid that a value belongs to, as gridmap places its
// points and gridplot its states' members: nodes 0..g spread evenly over
// [vmin, vmax], both ends included, each value on its nearest node, ties
// upward.
#pragma once

#include <cmath>

namespace pcgrid {

namespace grid_node_detail {

// The node of v before it is cut toward zero: its distance from vmin in
// node spacings, plus one half, (g * v - g * vmin) / (vmax - vmin) + 0.5,
// g * v rounded to single precision, unless that overflows (v near the limit
// of single precision): then it is formed in double precision, so that the
// point lands on the node its value gives. A finite value when v is finite
// and vmax > vmin.
inline double node_coordinate(float v, int g, double vmin, double vmax) {
  const float product = static_cast<float>(g) * v;
  const double a = std::isinf(product) && std::isfinite(v) ? static_cast<double>(g) * v : product;
  return (a - g * vmin) / (vmax - vmin) + 0.5;
}

}  // namespace grid_node_detail

// The nearest of the nodes 0..g spread evenly over [vmin, vmax]: g * v is
// rounded to single precision (or, where that overflows, kept in double
// precision), the rest is double precision. A zero range puts every value on
// node 0; an index beyond the grid goes to its edge.
inline int node_index(float v, int g, double vmin, double vmax) {
  if (vmax == vmin) return 0;
  const double j = std::trunc(grid_node_detail::node_coordinate(v, g, vmin, vmax));
  // Clamped while still a double, so that the conversion to int is defined;
  // the comparisons also send a NaN to node 0.
  if (!(j > 0)) return 0;
  if (j > g) return g;
  return static_cast<int>(j);
}

// node_index on a grid whose limits were given rather than found: the node
// of v by the same formula, or -1 when v lies more than half a spacing
// beyond either end. Exactly half a spacing beyond an end is on the grid,
// at that end's node, on both sides alike.
inline int node_within(float v, int g, double vmin, double vmax) {
  if (!(vmax > vmin)) return -1;
  // Cutting toward zero would also give node 0 to a point between one half
  // and one and a half spacings below vmin, which lies off the grid: the
  // coordinate itself must not be negative. Its ends, 0 and g + 1, are half
  // a spacing beyond node 0 and node g: both on the grid. Also false for a
  // NaN, so that the conversion to int is defined.
  const double j = grid_node_detail::node_coordinate(v, g, vmin, vmax);
  if (!(j >= 0 && j <= g + 1)) return -1;
  return j < g ? static_cast<int>(j) : g;
}

}  // namespace pcgrid
