// The state of one gridmap run and the conversions it is built from: one data
// line into a point, a coordinate into its nearest node, a node into the value
// each matrix file shows. None of these ends the process.
#pragma once

#include <cstdint>
#include <limits>
#include <string_view>

namespace gridmap {

inline constexpr int MAXGRID = 1001;  // nodes per axis, at most
inline constexpr std::int32_t MAX_LINES = std::numeric_limits<std::int32_t>::max();

// A node never holds more points than a pass has lines, so its count cannot wrap.
static_assert(MAX_LINES <= std::numeric_limits<std::uint32_t>::max());

// The node tables have rows of MAXGRID nodes, one for each x node: up to
// about 12 MB, reserved by reserve_nodes before the run reads any data.
struct GridAccumulator {
  int GX;    // highest node index along x
  int GY;    // and along y
  int ncol;  // columns per line, 2 or 3, fixed by the first line
  double xmin, xmax, ymin, ymax;
  std::int32_t lines;                // lines accepted so far in the current pass
  std::uint32_t (*counts)[MAXGRID];  // points per node, [x node][y node]
  double (*sums)[MAXGRID];           // sum of z per node
};

// The GX + 1 zeroed rows of both node tables of `grid`; false when the
// memory is exhausted.
bool reserve_nodes(GridAccumulator& grid);

// Converts a line with "%f %f %f". Returns the number of values read, 2 or 3
// when the line holds a point, or 0 when it does not: fewer than two numbers,
// or an x or y that is not finite. A fourth field is ignored, z is not checked.
// With `z_field`, a third number's field is also given there: its text from
// where "%f" begins to read it to the next white space (or the end of what
// the line holds), which is what a weight's form is checked on.
int read_point(std::string_view line, float& x, float& y, float& z,
               std::string_view* z_field = nullptr);

// read_point without z: the same result, but a third number is only
// recognised, not converted.
int read_point_xy(std::string_view line, float& x, float& y);

// Whether a third column can weigh a point: its field written as a weight
// (pcgrid::is_weight_text: no sign but '+', decimal, no inf or nan), and its
// value, converted as "%f" converts it, finite.
bool is_weight(std::string_view z_field, float z);

// Adds one to a line count; false, leaving it unchanged, once it is MAX_LINES.
bool count_line(std::int32_t& lines);

// The value of a node in "grid.matrix": for two columns the count, rounded to
// single precision; for three the mean z, 0 for an empty node.
double node_value(int ncol, std::uint32_t count, double sum);

// The value of a node in "grid_log.matrix", the natural logarithm of its
// node_value, 0 for an empty node and for a count of 1. False when a mean z
// has no logarithm: zero, negative or not a number.
bool node_log_value(int ncol, std::uint32_t count, double sum, double& value);

// The value of a node in "grid_log.matrix" when the points are weighted:
// the natural logarithm of its sum of weights, 0 for a sum of 0.
double weight_log_value(double sum);

}  // namespace gridmap
