// The reference build's passes: the data file read a line at a time, as
// fgets gives it, each line converted and taken at once.
#include <cstdio>
#include <string_view>

#include "grid_node.hpp"
#include "gridmap_messages.hpp"
#include "passes.hpp"

namespace gridmap {

namespace {

// A line converted: the values "%f %f %f" read, how many were read (0: not
// a point), and in the second pass the point's node (j -1: outside the
// limits given).
struct ConvertedLine {
  float x, y, z;
  std::string_view z_field;  // the text z was read from, where it is read
  int columns;
  int j, k;
};

constexpr std::size_t LINES_PER_BATCH = 1;
std::string_view batch[LINES_PER_BATCH];
ConvertedLine converted[LINES_PER_BATCH];

// The next piece of at most MAX_PIECE characters, as fgets reads it; 0 at
// the end of the file.
std::size_t read_lines(const Run& run) {
  const std::size_t count = pcgrid::read_pieces(run.reader, batch);
  if (run.reader.failed) refuse(CANNOT_READ, run.args.name);
  return count;
}

// How the lines of a pass are converted.
struct Conversion {
  bool read_z;        // z is converted, not only recognised
  bool find_nodes;    // the second pass: the node of each point
  bool limits_given;  // a node outside the limits is not clamped to the grid, but j = -1
  NodeLimits limits;  // the limits the nodes span
  int GX, GY;         // highest node index along x and along y
};

// Converts line i of the batch: x and y, and z where it is used; in the
// second pass also the node of the point.
void convert_line(std::int64_t i, const Conversion& how) {
  ConvertedLine& c = converted[i];
  c.columns = how.read_z ? read_point(batch[i], c.x, c.y, c.z, &c.z_field)
                         : read_point_xy(batch[i], c.x, c.y);
  if (!how.find_nodes || c.columns == 0) return;
  const NodeLimits& l = how.limits;
  if (how.limits_given) {
    c.k = pcgrid::node_within(c.y, how.GY, l.ymin, l.ymax);
    c.j = c.k < 0 ? -1 : pcgrid::node_within(c.x, how.GX, l.xmin, l.xmax);
  } else {
    c.j = pcgrid::node_index(c.x, how.GX, l.xmin, l.xmax);
    c.k = pcgrid::node_index(c.y, how.GY, l.ymin, l.ymax);
  }
}

void convert_lines(std::size_t count, const Conversion& how) {
  for (std::size_t i = 0; i < count; ++i) convert_line(static_cast<std::int64_t>(i), how);
}

// The first line fixes the column count and starts the limits.
void start_limits(GridAccumulator& grid, const ConvertedLine& first) {
  grid.ncol = first.columns;
  grid.xmin = grid.xmax = first.x;
  grid.ymin = grid.ymax = first.y;
  show_count(COUNTER_START, "", 0);
}

void widen_limits(GridAccumulator& grid, const ConvertedLine& c) {
  if (c.x > grid.xmax) grid.xmax = c.x;
  if (c.x < grid.xmin) grid.xmin = c.x;
  if (c.y > grid.ymax) grid.ymax = c.y;
  if (c.y < grid.ymin) grid.ymin = c.y;
}

// Adds the point of line i to its node; false for a point outside the
// limits given, which is left out.
bool add_point(GridAccumulator& grid, std::size_t i) {
  const ConvertedLine& c = converted[i];
  if (c.j < 0) return false;
  ++grid.counts[c.j][c.k];
  if (grid.ncol == 3) grid.sums[c.j][c.k] += c.z;
  return true;
}

// Line i of the batch, taken in the order of the first pass: read at all,
// its x and y widening the limits, the columns of the first line, the weight.
void take_limits_of_line(GridAccumulator& grid, bool weights, std::size_t i) {
  const ConvertedLine& c = converted[i];
  if (c.columns == 0) refuse_line(BAD_LINE, batch[i]);
  if (grid.lines == 0) start_limits(grid, c);
  widen_limits(grid, c);
  if (c.columns != grid.ncol) refuse_line(NOT_CONSTANT, batch[i]);
  if (weights && c.columns == 3 && !is_weight(c.z_field, c.z)) refuse_line(BAD_LINE, batch[i]);
}

}  // namespace

// Every line is checked here, weights included, before any point is binned.
FileSeen first_pass_by_lines(const Run& run) {
  const Arguments& args = run.args;
  GridAccumulator& grid = run.grid;
  say("First pass to determine limits ...\n");
  grid.lines = 0;
  // The limits need x and y only; weights are checked.
  const Conversion how = {.read_z = args.weights,
                          .find_nodes = false,
                          .limits_given = false,
                          .limits = {},
                          .GX = grid.GX,
                          .GY = grid.GY};
  for (std::size_t count = read_lines(run); count > 0; count = read_lines(run)) {
    convert_lines(count, how);
    for (std::size_t i = 0; i < count; ++i) {
      take_limits_of_line(grid, args.weights, i);
      accept_line(grid, args.name);
    }
  }
  return end_first_pass(run);
}

std::int32_t one_pass_by_lines(const Run& run) {
  const Arguments& args = run.args;
  GridAccumulator& grid = run.grid;
  start_one_pass(grid);
  // z is converted whatever the columns turn out to be: read_point finds the
  // columns that read_point_xy finds.
  const Conversion how = {.read_z = true,
                          .find_nodes = true,
                          .limits_given = true,
                          .limits = args.limits,
                          .GX = grid.GX,
                          .GY = grid.GY};
  std::int32_t left_out = 0;
  for (std::size_t count = read_lines(run); count > 0; count = read_lines(run)) {
    convert_lines(count, how);
    for (std::size_t i = 0; i < count; ++i) {
      take_limits_of_line(grid, args.weights, i);
      if (!add_point(grid, i)) ++left_out;
      accept_line(grid, args.name);
    }
  }
  end_one_pass(run);
  return left_out;
}

void second_pass_by_lines(const Run& run, const FileSeen& seen) {
  const Arguments& args = run.args;
  GridAccumulator& grid = run.grid;
  const NodeLimits data = start_second_pass(grid);
  const Conversion how = {.read_z = grid.ncol == 3,
                          .find_nodes = true,
                          .limits_given = args.limits_given,
                          .limits = args.limits_given ? args.limits : data,
                          .GX = grid.GX,
                          .GY = grid.GY};
  std::int32_t left_out = 0;
  for (std::size_t count = read_lines(run); count > 0; count = read_lines(run)) {
    convert_lines(count, how);
    for (std::size_t i = 0; i < count; ++i) {
      if (grid.lines == seen.lines) refuse(CHANGED, args.name);
      const ConvertedLine& c = converted[i];
      if (c.columns == 0 || c.columns != grid.ncol ||
          (args.weights && !is_weight(c.z_field, c.z))) {
        refuse_line(BAD_LINE, batch[i]);
      }
      if (!add_point(grid, i)) ++left_out;
      accept_line(grid, args.name);
    }
  }
  end_second_pass(run, seen, left_out);
}

}  // namespace gridmap
