#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>

#include "grid_accumulator.hpp"

using namespace gridmap;

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
