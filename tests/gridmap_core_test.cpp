#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

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
      {3e38f, 1000, 0, big, 1000},  // g * v overflows to infinity
      {-3e38f, 1000, -big, 0, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(node_index(c.v, c.g, c.vmin, c.vmax), c.node) << c.v << " on 0.." << c.g;
  }
}

TEST(GridmapReadPoint, ColumnsOfALine) {
  const struct {
    const char* line;
    int columns;
  } cases[] = {
      {"1 2\n", 2},   {" 1\t2 3\n", 3}, {"1 2 3 4\n", 3}, {"1 2 nan\n", 3},
      {"1 2 x\n", 2}, {"\n", 0},        {"x y\n", 0},     {"1\n", 0},
      {"nan 1\n", 0}, {"1 -inf\n", 0},  {"1e400 0\n", 0}, {"", 0},
  };
  for (const auto& c : cases) {
    float x = 0, y = 0, z = 0;
    EXPECT_EQ(read_point(c.line, x, y, z), c.columns) << '"' << c.line << '"';
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
  EXPECT_EQ(node_value(3, 0, 0), 0.0);
  EXPECT_EQ(node_value(3, 4, 10), 2.5);
}

TEST(GridmapNodeLogValue, NoLogarithmOfAMeanThatIsNotPositive) {
  double value = -1;
  EXPECT_TRUE(node_log_value(2, 16'777'217, 0, value));
  EXPECT_EQ(value, std::log(16'777'217.0));
  EXPECT_TRUE(node_log_value(3, 0, -5, value));
  EXPECT_EQ(value, 0.0);
  for (const double sum : {0.0, -1.0, std::nan("")}) EXPECT_FALSE(node_log_value(3, 2, sum, value));
}
