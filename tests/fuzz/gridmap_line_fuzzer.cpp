// gridmap's line conversion and node formula. The input is a data file, cut
// into pieces as gridmap reads it: each piece must convert as sscanf's
// "%f %f %f" converts it, points must have finite x and y, and every point
// must fall on a node of the grid over the limits of the file. The block
// conversion of the file, its lines of the usual form taken from their
// tokens, must give what read_point gives piece by piece. The node formula
// is also given values, limits and grids straight from the bytes.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "fuzz_input.hpp"
#include "grid_accumulator.hpp"
#include "grid_node.hpp"
#include "limits.hpp"
#include "line_reader.hpp"
#include "point_blocks.hpp"

namespace {

using namespace gridmap;
using pcgrid::node_index;
using pcgrid::fuzzing::check;
using pcgrid::fuzzing::same_bits;
using pcgrid::fuzzing::value_at;

constexpr int POINTS = 256;  // points kept for the node formula
float xs[POINTS];
float ys[POINTS];
char copy[pcgrid::MAX_PIECE + 1];
NodeRecord usual_nodes[(1 << 20) / 3 + 1];
NodeRecord exact_nodes[(1 << 20) / 3 + 1];
char padded[(1 << 20) + pcgrid::BLOCK_PADDING];

int convert_line(std::string_view line, float& x, float& y) {
  float z = 0;
  const int columns = read_point(line, x, y, z);
  std::memcpy(copy, line.data(), line.size());
  copy[line.size()] = '\0';
  float rx = 0, ry = 0, rz = 0;
  const int converted = std::sscanf(copy, "%f %f %f", &rx, &ry, &rz);
  const bool point = converted >= 2 && std::isfinite(rx) && std::isfinite(ry);
  check(columns == (point ? converted : 0), "the column count of sscanf");
  if (columns == 0) return 0;
  check(same_bits(x, rx) && same_bits(y, ry), "x and y as sscanf reads them");
  if (columns == 3) check(same_bits(z, rz), "z as sscanf reads it");
  float px = 0, py = 0;
  check(read_point_xy(line, px, py) == columns, "the column count of read_point");
  check(same_bits(px, x) && same_bits(py, y), "x and y as read_point reads them");
  return columns;
}

// The block conversion in both ways, in a pass of the given rules.
void check_block(std::string_view text, const PassRules& rules) {
  if (text.size() > sizeof padded - pcgrid::BLOCK_PADDING) return;
  std::memcpy(padded, text.data(), text.size());
  std::memset(padded + text.size(), '7', pcgrid::BLOCK_PADDING);
  const std::string_view block(padded, text.size());
  const PartPoints usual = convert_part(block, rules, usual_nodes, true);
  const PartPoints exact = convert_part(block, rules, exact_nodes, false);
  check(usual.points == exact.points && usual.stop == exact.stop && usual.piece == exact.piece,
        "the points and the refused piece of the block conversion");
  if (rules.find_nodes) {
    const auto bytes = static_cast<std::size_t>(usual.points) * sizeof(NodeRecord);
    check(std::memcmp(usual_nodes, exact_nodes, bytes) == 0, "the nodes of the block conversion");
  } else if (usual.points > 0) {
    const double a[4] = {usual.xmin, usual.xmax, usual.ymin, usual.ymax};
    const double b[4] = {exact.xmin, exact.xmax, exact.ymin, exact.ymax};
    check(std::memcmp(a, b, sizeof a) == 0, "the limits of the block conversion");
  }
}

void check_node(float v, int g, double vmin, double vmax) {
  const int node = node_index(v, g, vmin, vmax);
  check(node >= 0 && node <= g, "a node of the grid");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  // Any grid from 3 to 1001 nodes along each axis.
  const int gx = 2 + value_at<std::uint16_t>(data, size, 0) % (MAXGRID - 2);
  const int gy = 2 + value_at<std::uint16_t>(data, size, 2) % (MAXGRID - 2);

  pcgrid::fuzzing::Pieces pieces(text, pcgrid::MAX_PIECE);
  std::string_view line;
  int points = 0;
  double xmin = 0, xmax = 0, ymin = 0, ymax = 0;
  while (pieces.next(line)) {
    float x = 0, y = 0;
    if (convert_line(line, x, y) == 0) continue;
    if (points == 0) {
      xmin = xmax = x;
      ymin = ymax = y;
    }
    xmin = std::fmin(xmin, x);
    xmax = std::fmax(xmax, x);
    ymin = std::fmin(ymin, y);
    ymax = std::fmax(ymax, y);
    if (points < POINTS) {
      xs[points] = x;
      ys[points] = y;
    }
    ++points;
  }
  for (int p = 0; p < points && p < POINTS; ++p) {
    check_node(xs[p], gx, xmin, xmax);
    check_node(ys[p], gy, ymin, ymax);
  }
  const int ncol = 2 + value_at<std::uint8_t>(data, size, 24) % 2;
  const bool weights = ncol == 3 && value_at<std::uint8_t>(data, size, 25) % 2 == 1;
  const bool limits_given = value_at<std::uint8_t>(data, size, 26) % 2 == 1;
  check_block(text, {ncol, weights, weights, false, false, {}, gx, gy});
  check_block(
      text,
      {ncol, ncol == 3, weights, true, limits_given, {xmin - 1, xmax + 0.5, ymin, ymax}, gx, gy});

  // Anything at all: values and limits that are not finite, out of order,
  // or far outside each other.
  const float v = value_at<float>(data, size, 4);
  const double lo = value_at<double>(data, size, 8);
  const double hi = value_at<double>(data, size, 16);
  check_node(v, gx, lo, hi);
  check_node(v, gx, hi, lo);
  check_node(v, 1000, lo, hi);
  return 0;
}
