#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "grid_accumulator.hpp"
#include "grid_node.hpp"
#include "line_reader.hpp"
#include "pcgrid_config.hpp"
#include "point_blocks.hpp"

using namespace gridmap;
using pcgrid::node_index;

TEST(GridmapNodeIndex, NearestNodeClampedToTheGrid) {
  const double big = 3e38f;
  const struct {
    float v;
    int g;
    double vmin, vmax;
    int node;
  } cases[] = {
      {0.0f, 2, 0, 1, 0},  // the ends of the range are the end nodes
      {1.0f, 2, 0, 1, 2},
      {0.25f, 2, 0, 1, 1},  // half-way points go to the upper node
      {0.75f, 2, 0, 1, 2},
      {1000.0f, 1000, 1000, 1000.01f, 0},  // g * v rounded to single precision moves the node
      {1000.01f, 1000, 1000, 1000.01f, 999},
      {1000001.0f, 1000, 1000000, 1000001, 1000},  // 1024 before clamping
      {5.0f, 2, 5, 5, 0},                          // zero range: no division
      {-1.0f, 2, 0, 1, 0},                         // outside the range
      {2.0f, 2, 0, 1, 2},
      {3e38f, 1000, 0, big, 1000},  // g * v overflows single precision: formed in double
      {-3e38f, 1000, -big, 0, 0},
      {1e36f, 1000, 0, big, 3},
      {-1e36f, 1000, -big, 0, 997},
      {1e36f, 1000, 1e36f, big, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(node_index(c.v, c.g, c.vmin, c.vmax), c.node) << c.v << " on 0.." << c.g;
  }
}

TEST(GridmapCountLine, StopsAtTheLimit) {
  std::int32_t lines = MAX_LINES - 1;
  EXPECT_TRUE(count_line(lines));
  EXPECT_FALSE(count_line(lines));
  EXPECT_EQ(lines, MAX_LINES);
}

TEST(GridmapNodeValue, CountsThroughSinglePrecision) {
  char text[32];
  std::snprintf(text, sizeof text, "%8.7e", node_value(2, 16'777'217, 0));
  EXPECT_EQ(std::string(text), "1.6777216e+07");
}

// Every line's column count is stated, so that a good line refused (0) fails
// as surely as a bad one accepted; x, y and z must be what sscanf reads.
TEST(GridmapReadPoint, ColumnsAndValuesOfEveryLine) {
  const struct {
    std::string_view text;
    int columns;
  } lines[] = {
      {"1 2\n", 2},
      {"1 2 3\n", 3},
      {"1 2 3 4\n", 3},
      {"1 2 x\n", 2},
      {"1 2 -\n", 2},
      {"1 2 .\n", 2},
      {"1 2 .5\n", 3},
      {"1 2 -.5\n", 3},
      {"1 2 +7\n", 3},
      {"1 2 inf\n", 3},
      {"1 2 nan\n", 3},
      {"1 2 0x1p3\n", 3},
      {"1 2 1e999\n", 3},
      {"1 2 -1e-999\n", 3},
      {"1 2 ,3\n", 2},
      {"1 2\t\v3\n", 3},
      {"1 2 e5\n", 2},
      {"1-2-3\n", 3},
      {"nan 2 3\n", 0},
      {"1 inf 3\n", 0},
      {"1\n", 0},
      {"\n", 0},
      {"", 0},
      {"1 2 - 3\n", 2},
      {"1 2 +\n", 2},
      {"1 2 0x\n", 2},
      {"1 2 0Xg\n", 2},
      {"1 2 -0x1\n", 3},
      {"1 2", 2},
      {"1 2 \t\r\v\f\n", 2},
      {"1 2 \r\n", 2},
      {"  -1.5e3\t2.25  ", 2},
      {"1e400 0\n", 0},
      {"1 -1e400\n", 0},
      {"1e38 -3e38 9\n", 3},
      {"x 1 2\n", 0},
      {"1,2\n", 0},
      {"1 2.5e\n", 2},
      {"1 2 3e+\n", 3},
      {"0x10 0X.8p1\n", 2},
  };
  for (const auto& line : lines) {
    float x = -7, y = -7, z = -7, px = -7, py = -7;
    EXPECT_EQ(read_point(line.text, x, y, z), line.columns) << line.text;
    EXPECT_EQ(read_point_xy(line.text, px, py), line.columns) << line.text;
    if (line.columns == 0) continue;
    const std::string text(line.text);
    float rx = 0, ry = 0, rz = 0;
    EXPECT_EQ(std::sscanf(text.c_str(), "%f %f %f", &rx, &ry, &rz), line.columns) << text;
    EXPECT_EQ(x, rx) << text;
    EXPECT_EQ(y, ry) << text;
    EXPECT_EQ(px, rx) << text;
    EXPECT_EQ(py, ry) << text;
    if (line.columns == 3) {
      EXPECT_TRUE(z == rz || (std::isnan(z) && std::isnan(rz))) << text;
    }
  }
}

namespace {

// The block conversion of a text (in a buffer with padding that would
// continue a number), its lines of the usual form converted from their
// tokens or every piece by read_point: both must give the same points, the
// same limits to the bit, the same nodes and the same refused piece.
struct BlockReading {
  std::int64_t points;
  Stop stop;
  std::string piece;
  double limits[4];
  std::vector<NodeRecord> nodes;
};

BlockReading read_part(const std::string& text, const PassRules& rules, bool usual_form) {
  static std::vector<NodeRecord> nodes;
  nodes.assign(text.size() / 3 + 1, NodeRecord{-9, -9, -9});
  const std::string buffer = text + std::string(pcgrid::BLOCK_PADDING, '7');
  const PartPoints part =
      convert_part(std::string_view(buffer.data(), text.size()), rules, nodes.data(), usual_form);
  BlockReading r{part.points, part.stop, std::string(part.piece), {}, {}};
  if (part.points > 0 && !rules.find_nodes) {
    const double limits[4] = {part.xmin, part.xmax, part.ymin, part.ymax};
    std::memcpy(r.limits, limits, sizeof limits);
  }
  if (rules.find_nodes) r.nodes.assign(nodes.begin(), nodes.begin() + part.points);
  return r;
}

void expect_same_reading(const std::string& text, const PassRules& rules, const char* pass) {
  const BlockReading usual = read_part(text, rules, true);
  const BlockReading exact = read_part(text, rules, false);
  ASSERT_EQ(usual.points, exact.points) << pass << " [" << text << ']';
  ASSERT_EQ(usual.stop, exact.stop) << pass << " [" << text << ']';
  ASSERT_EQ(usual.piece, exact.piece) << pass << " [" << text << ']';
  ASSERT_EQ(std::memcmp(usual.limits, exact.limits, sizeof usual.limits), 0)
      << pass << " [" << text << ']';
  ASSERT_EQ(usual.nodes.size(), exact.nodes.size());
  for (std::size_t i = 0; i < usual.nodes.size(); ++i) {
    const NodeRecord& a = usual.nodes[i];
    const NodeRecord& b = exact.nodes[i];
    ASSERT_TRUE(a.j == b.j && a.k == b.k && std::memcmp(&a.z, &b.z, sizeof a.z) == 0)
        << pass << " point " << i << " [" << text << ']';
  }
}

// Both passes' rules, on two and three columns, weights and limits given.
const struct {
  const char* name;
  PassRules rules;
} PASSES[] = {
    {"limits, two columns", {2, false, false, false, false, {}, 1000, 1000}},
    {"limits, three columns", {3, false, false, false, false, {}, 1000, 1000}},
    {"limits, weights", {3, true, true, false, false, {}, 1000, 1000}},
    {"nodes, two columns", {2, false, false, true, false, {-3, 9999999, -5, 2}, 1000, 40}},
    {"nodes, three columns", {3, true, false, true, false, {-3, 3, -2, 2}, 1000, 1000}},
    {"nodes within limits, weights", {3, true, true, true, true, {-2.2, 1.5, -1, 1.25}, 999, 7}},
};

// Points that cross the 64-byte windows in different places, in the usual
// form and not: a sign glued to a number, exponents, a point without digits
// on one side, long tokens, a fourth column, a third that begins "0x".
const std::string POINTS =
    "-2.193849    -0.709981     0.224307\n"
    "0.5 +1.25 3\n"
    "  12.000001\t\t -0.000000 9999999.5 +0 0.1\n"
    "1.5-2.5 3. .5\n"
    "0.000000000000001 123456789012345 1234567890123456\n"
    "0.1234567890123456 8388608.5 16777217\n"
    "1 2 3e1\n"
    "-1 -2 -3 -4\n"
    "7 8 0x\n"
    "9 9 -0X1\n";

constexpr char SPECIAL[] = {'\n', ' ', '\t', '\v', '\f', '\r', '\0', '+', '-', '.',    'e',
                            'E',  'x', 'p',  ',',  'a',  'i',  'n',  '0', '9', '\x80', '\xff'};

}  // namespace

TEST(GridmapBlocks, EverySpecialByteAtEveryPositionOfThreeWindows) {
  for (const char c : SPECIAL) {
    for (std::size_t at = 0; at < 192; ++at) {
      std::string replaced = POINTS;
      replaced[at] = c;
      std::string inserted = POINTS;
      inserted.insert(at, 1, c);
      for (const std::string& text : {replaced, inserted, replaced.substr(0, at + 1)}) {
        for (const auto& pass : PASSES) expect_same_reading(text, pass.rules, pass.name);
        if (HasFailure()) return;
      }
    }
  }
}

// Lines around a window's length (64 bytes) and the longest that are looked
// at in their tokens (1023 characters, the newline included), and pieces of
// a line longer than 99,998 characters.
TEST(GridmapBlocks, LinesAroundTheLongestUsualOne) {
  for (const std::size_t length :
       {8,    62,   63,   64,   65,   66,     127,    128,    129,     1020,
        1021, 1022, 1023, 1024, 1025, 99'997, 99'998, 99'999, 100'000, 200'000}) {
    for (const char* tail : {" 2.5\n", " 2.5 1\n", " 2.5", " 2\n1 2\n"}) {
      const std::string line = "1" + std::string(length - 1 - std::strlen(tail), ' ') + tail;
      for (const std::string& text : {line, line + "1 2\n", "3 4\n" + line}) {
        for (const auto& pass : PASSES) expect_same_reading(text, pass.rules, pass.name);
        if (HasFailure()) return;
      }
    }
  }
}

// Every line of the usual form is converted from its tokens, those in the
// first 64 bytes of a part too (whose masks were once never classified), and
// the stage benchmark's token count is that of every line.
TEST(GridmapBlocks, SimpleLinesTakeTheTokenPath) {
  if (pcgrid::LIBC_IO) GTEST_SKIP() << "the reference build reads gridmap's points line by line";
  std::string text;
  for (int i = 0; i < 100; ++i)
    text += std::to_string(i % 10) + " " + std::to_string(i % 3) + ".5\n";
  const std::string buffer = text + std::string(pcgrid::BLOCK_PADDING, '\n');
  const std::string_view part_text(buffer.data(), text.size());
  std::vector<NodeRecord> nodes(text.size() / 3 + 1);
  const PassRules rules = {2, false, false, false, false, {}, 1000, 1000};
  const PartPoints part = convert_part(part_text, rules, nodes.data(), true);
  EXPECT_EQ(part.points, 100);
  EXPECT_EQ(part.usual, 100);
  EXPECT_EQ(find_part_tokens(part_text), 200u);
}
