#include <gtest/gtest.h>

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

TEST(GridmapReadPoint, XyAloneGivesTheSameColumnsAsTheFullConversion) {
  const char* const lines[] = {
      "1 2\n",       "1 2 3\n",       "1 2 3 4\n",  "1 2 x\n",    "1 2 -\n",   "1 2 .\n",
      "1 2 .5\n",    "1 2 -.5\n",     "1 2 +7\n",   "1 2 inf\n",  "1 2 nan\n", "1 2 0x1p3\n",
      "1 2 1e999\n", "1 2 -1e-999\n", "1 2 ,3\n",   "1 2\t\v3\n", "1 2 e5\n",  "1-2-3\n",
      "nan 2 3\n",   "1 inf 3\n",     "1\n",        "\n",         "1 2 - 3\n", "1 2 +\n",
      "1 2 0x\n",    "1 2 0Xg\n",     "1 2 -0x1\n",
  };
  for (const char* text : lines) {
    float x = 0, y = 0, z = 0, px = 0, py = 0;
    const int columns = read_point(text, x, y, z);
    EXPECT_EQ(read_point_xy(text, px, py), columns) << text;
    if (columns != 0) {
      EXPECT_EQ(px, x) << text;
      EXPECT_EQ(py, y) << text;
    }
    float rx = 0, ry = 0, rz = 0;
    const int converted = std::sscanf(text, "%f %f %f", &rx, &ry, &rz);
    if (columns != 0) {
      EXPECT_EQ(columns, converted) << text;
    }
  }
}
