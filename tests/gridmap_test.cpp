#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "run_program.hpp"

using pcgrid::testing::run_program;
using pcgrid::testing::RunResult;
using pcgrid::testing::TempDir;
using namespace std::string_literals;

namespace {

const std::string B9 = "\b\b\b\b\b\b\b\b\b";
const std::string FIRST = "First pass to determine limits ...\n";
const std::string ZERO = "Now reading line         0";
const std::string USAGE = "Usage : gridmap GRID [GRID_Y] filename\n";
const std::string NONSENSE = "Selected number of grid points doesn't make sense.\n";
const std::string SORRY = "Sorry. Increase MAXGRID and re-compile.\n";
const std::string WRITING =
    "Writing output in grid.matrix.\nWriting logarithms in grid_log.matrix.\n";
const std::string GIVE_UP = "\nNegative values present. Giving-up on writing logs.\n";
const std::string DIAGONAL = "0 0\n1 1\n0.5 0.5\n";
const std::string ONE = "1.0000000e+00";

struct Cell {
  int j, k;
  std::string value;
};

// `rows` rows of `columns` zeros in "%8.7e " form, with some cells replaced.
std::string matrix(int rows, int columns, const std::vector<Cell>& cells = {}) {
  std::vector<std::vector<std::string>> m(rows, std::vector<std::string>(columns, "0.0000000e+00"));
  for (const Cell& c : cells) m[c.j][c.k] = c.value;
  std::string text;
  for (const auto& row : m) {
    for (const auto& v : row) text += v + ' ';
    text += '\n';
  }
  return text;
}

RunResult gridmap(const TempDir& dir, const std::vector<std::string>& args) {
  return run_program(GRIDMAP_EXE, args, {.cwd = dir.path()});
}

}  // namespace

TEST(Gridmap, RunSaysEverythingWithCounterEveryHundredLines) {
  TempDir dir;
  std::string data;
  for (int i = 0; i < 250; ++i) data += std::to_string(i % 2) + " " + std::to_string(i % 2) + "\n";
  dir.write("p", data);
  const std::string counter = ZERO + B9 + "      100" + B9 + "      200" + B9 + "      250\n";
  const RunResult r = gridmap(dir, {"3", "p"});
  EXPECT_EQ(r.out, FIRST + counter + "Read 250 lines.\nLimits are :\n" +
                       "\ton x : 0.000000 to 1.000000\n\ton y : 0.000000 to 1.000000\n" +
                       "\nSecond pass to interpolate on a 3 by 3 grid ...\n" + counter + WRITING +
                       "All done.\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(dir.read("grid.matrix"),
            matrix(3, 3, {{0, 0, "1.2500000e+02"}, {2, 2, "1.2500000e+02"}}));
  EXPECT_EQ(dir.read("grid_log.matrix"),
            matrix(3, 3, {{0, 0, "4.8283137e+00"}, {2, 2, "4.8283137e+00"}}));
}

TEST(Gridmap, MatricesOfGoodRuns) {
  const std::string pieces = "1 2" + std::string(99'995, ' ') + "3 4\n";  // read as two lines
  // 99,998 characters with the newline: one piece, the longest.
  const std::string longest = "0 0\n1" + std::string(99'995, ' ') + "1\n";
  const struct {
    std::vector<std::string> args;
    std::string data, grid, logs;
  } cases[] = {
      {{"3", "p"}, DIAGONAL, matrix(3, 3, {{0, 0, ONE}, {1, 1, ONE}, {2, 2, ONE}}), matrix(3, 3)},
      {{"3", "p"},
       "0 0\n0.25 0.25\n0.75 0.75\n1 1\n",  // half-way points go to the upper node
       matrix(3, 3, {{0, 0, ONE}, {1, 1, ONE}, {2, 2, "2.0000000e+00"}}),
       matrix(3, 3, {{2, 2, "6.9314718e-01"}})},
      {{"3", "p"},
       "0 0 2\n0 0 4\n1 1 1\n0.5 0.5 8 99\n",
       matrix(3, 3, {{0, 0, "3.0000000e+00"}, {1, 1, "8.0000000e+00"}, {2, 2, ONE}}),
       matrix(3, 3, {{0, 0, "1.0986123e+00"}, {1, 1, "2.0794415e+00"}})},
      {{"3", "p"}, "5 7\n", matrix(3, 3, {{0, 0, ONE}}), matrix(3, 3)},
      {{"3", "4", "p"}, "", matrix(3, 4), matrix(3, 4)},
      {{"3", "p"}, pieces, matrix(3, 3, {{0, 0, ONE}, {2, 2, ONE}}), matrix(3, 3)},
      {{"3", "p"}, longest, matrix(3, 3, {{0, 0, ONE}, {2, 2, ONE}}), matrix(3, 3)},
      {{"3", "p"},
       "0 0\n1 1\0 junk\n0.5 0.5\n"s,  // a NUL ends what the line holds
       matrix(3, 3, {{0, 0, ONE}, {1, 1, ONE}, {2, 2, ONE}}),
       matrix(3, 3)},
      {{"50", "20", "p"},
       "0 0\n1 1\n",
       matrix(50, 20, {{0, 0, ONE}, {49, 19, ONE}}),
       matrix(50, 20)},
      {{"-50", "p"}, "0 1\n", matrix(50, 50, {{0, 0, ONE}}), matrix(50, 50)},
      {{"50", "-7", "p"}, "0 1\n", matrix(50, 50, {{0, 0, ONE}}), matrix(50, 50)},
      {{" 12x", "p"}, "0 1\n", matrix(12, 12, {{0, 0, ONE}}), matrix(12, 12)},
      {{"1001", "p"},
       "1000000 0\n1000001 1\n",  // 1000001 rounds to node 1024: the edge
       matrix(1001, 1001, {{0, 0, ONE}, {1000, 1000, ONE}}),
       matrix(1001, 1001)},
      {{"1001", "p"},
       "0 0\n1e36 0.5\n3e38 1\n",  // 1000 x 1e36 overflows single precision
       matrix(1001, 1001, {{0, 0, ONE}, {3, 500, ONE}, {1000, 1000, ONE}}),
       matrix(1001, 1001)},
      {{"1001", "p"},
       "0 0\n-1e36 0.5\n-3e38 1\n",
       matrix(1001, 1001, {{1000, 0, ONE}, {997, 500, ONE}, {0, 1000, ONE}}),
       matrix(1001, 1001)}};
  for (const auto& c : cases) {
    TempDir dir;
    dir.write("p", c.data);
    const RunResult r = gridmap(dir, c.args);
    EXPECT_TRUE(r.out.ends_with(WRITING + "All done.\n")) << r.out;
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(dir.read("grid.matrix"), c.grid) << c.args[0];
    EXPECT_EQ(dir.read("grid_log.matrix"), c.logs) << c.args[0];
  }
}

// Refused before "grid.matrix" is opened, which leaves it alone, or in the first pass,
// which leaves it empty.
TEST(Gridmap, Refusals) {
  std::string ten;
  for (int i = 1; i < 10; ++i) ten += std::to_string(i) + " 0 1\n";
  const std::string bad = FIRST + ZERO + "\nFailed to read data from line : ";
  const std::string twice = " twice: it must be a regular file.\n";
  const struct {
    std::vector<std::string> args;
    std::string out, data = DIAGONAL;
  } cases[] = {
      {{}, USAGE},
      {{"3"}, USAGE},
      {{"3", "3", "3", "p"}, USAGE},
      {{"x12", "p"}, USAGE},
      {{"3", "y", "p"}, USAGE},
      {{"0", "p"}, NONSENSE},
      {{"2", "missing"}, NONSENSE},
      {{"50", "0", "p"}, NONSENSE},
      {{"99999999999", "2", "p"}, NONSENSE},
      {{"1002", "p"}, SORRY},
      {{"3", "1002", "p"}, SORRY},
      {{"99999999999", "p"}, SORRY},
      {{"4294967299", "p"}, SORRY},  // 3 if it wrapped
      {{"3", "missing"}, "Can not open file missing for reading.\n"},
      {{"3", "fifo"}, "Can not read file fifo" + twice},
      {{"3", "dir"}, "Can not read file dir" + twice},
      {{"3", "/dev/null"}, "Can not read file /dev/null" + twice},
      {{"3", "/dev/zero"}, "Can not read file /dev/zero" + twice},
      {{"3", "p"}, FIRST + ZERO + "\nNumber of columns not constant : 10 10\n\n", ten + "10 10\n"},
      {{"3", "p"}, bad + "\n\n", "0 0\n1 1\n\n"},
      {{"3", "p"}, bad + "nan 1\n\n", "0 0\nnan 1\n"},
      {{"3", "p"}, bad + "1 -inf\n\n", "0 0\n1 -inf\n"},
      {{"3", "p"}, FIRST + "\nFailed to read data from line : 1e400 0\n", "1e400 0"},
      {{"3", "p"}, FIRST + "\nFailed to read data from line : x y\n\n", "x y\n0 0\n"},
      // 99,999 characters with the newline: the newline is a piece of its own.
      {{"3", "p"}, bad + "\n\n", "1" + std::string(99'996, ' ') + "1\n"},
      {{"3", "p"}, bad + "1\n", "0 0\n1\0 1\n"s},
      {{"3", "mem"}, FIRST + "\nCan not read file mem.\n"}};
  for (const auto& c : cases) {
    TempDir dir;
    dir.write("p", c.data);
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0644), 0);
    ASSERT_EQ(mkdir(dir.file("dir").c_str(), 0755), 0);
    ASSERT_EQ(symlink("/proc/self/mem", dir.file("mem").c_str()), 0);  // fails to read
    dir.write("grid.matrix", "old\n");
    const RunResult r = gridmap(dir, c.args);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(dir.read("grid.matrix"), c.out.starts_with(FIRST) ? "" : "old\n") << c.out;
  }
}

// A file of more points than the first pass keeps for the second: the
// points kept and those read again are binned alike, z included.
TEST(Gridmap, MorePointsThanKept) {
  const int lines = 4'500'000;  // the first pass keeps 4,194,304 points at most
  std::string data;
  data.reserve(lines * 6);
  for (int i = 0; i < lines; ++i)
    data += i % 3 == 0 ? "0 0 1\n" : i % 3 == 1 ? "1 1 2\n" : "1 0 4\n";
  TempDir dir;
  dir.write("p", data);
  for (const bool weights : {false, true}) {
    const RunResult r = gridmap(dir, weights ? std::vector<std::string>{"--weights", "3", "p"}
                                             : std::vector<std::string>{"3", "p"});
    EXPECT_TRUE(r.out.ends_with(WRITING + "All done.\n"));
    EXPECT_EQ(
        dir.read("grid.matrix"),
        weights
            ? matrix(3, 3,
                     {{0, 0, "1.5000000e+06"}, {2, 2, "3.0000000e+06"}, {2, 0, "6.0000000e+06"}})
            : matrix(3, 3, {{0, 0, ONE}, {2, 2, "2.0000000e+00"}, {2, 0, "4.0000000e+00"}}));
  }
}

// --help and --version answer on standard output with status 0 and touch
// no file; a prefix of them is still the usage line.
TEST(Gridmap, HelpAndVersion) {
  TempDir dir;
  const RunResult help = gridmap(dir, {"--help"});
  EXPECT_TRUE(help.out.starts_with("Usage: gridmap [--limits XMIN XMAX YMIN YMAX] [--weights]"));
  for (const char* text : {"--limits", "--weights", "--version", "grid.matrix", "man gridmap"}) {
    EXPECT_NE(help.out.find(text), std::string::npos) << text;
  }
  EXPECT_EQ(help.err, "");
  EXPECT_EQ(help.status, 0);
  const RunResult version = gridmap(dir, {"--version"});
  EXPECT_TRUE(version.out.starts_with("gridmap (pcgrid) ")) << version.out;
  EXPECT_EQ(version.out.find('\n'), version.out.size() - 1) << version.out;
  EXPECT_EQ(version.status, 0);
  const RunResult prefix = gridmap(dir, {"--he", "3", "p"});
  EXPECT_EQ(prefix.out, USAGE);
  EXPECT_EQ(prefix.status, 1);
  EXPECT_FALSE(dir.exists("grid.matrix"));
}

TEST(Gridmap, MeanWithoutLogarithmRemovesLogFile) {
  for (const std::string z : {"0", "-2", "nan"}) {
    TempDir dir;
    dir.write("p", "0 0 1\n1 1 " + z + "\n");
    const RunResult r = gridmap(dir, {"3", "p"});
    EXPECT_TRUE(r.out.ends_with(WRITING + GIVE_UP)) << r.out;
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(dir.exists("grid_log.matrix"));
    EXPECT_TRUE(dir.exists("grid.matrix"));
  }
}

TEST(Gridmap, OutputThatCannotBeWritten) {
  const std::string after_grid = "Writing output in grid.matrix.\n";
  const struct {
    std::string file;
    bool directory;  // else a link to /dev/full, a disk that is always full
    std::string end;
  } cases[] = {
      {"grid.matrix", true, "Can not open output file for writing.\n"},
      {"grid.matrix", false, after_grid + "Can not write output file grid.matrix.\n"},
      {"grid_log.matrix", true, after_grid + "Can not open output file for writing.\n"},
      {"grid_log.matrix", false, WRITING + "Can not write output file grid_log.matrix.\n"}};
  for (const auto& c : cases) {
    TempDir dir;
    dir.write("p", DIAGONAL);
    const std::string path = dir.file(c.file);
    ASSERT_EQ(c.directory ? mkdir(path.c_str(), 0755) : symlink("/dev/full", path.c_str()), 0);
    const RunResult r = gridmap(dir, {"3", "p"});
    EXPECT_TRUE(r.out.ends_with(c.end)) << r.out;
    EXPECT_EQ(r.status, 1);
  }
  TempDir dir;
  dir.write("p", DIAGONAL);
  const RunResult r =
      run_program(GRIDMAP_EXE, {"3", "p"}, {.cwd = dir.path(), .stdout_path = "/dev/full"});
  EXPECT_EQ(r.err, "Can not write to standard output.\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(dir.read("grid_log.matrix"), matrix(3, 3));
}

// A pipe cannot be read twice: refused before "grid.matrix" is created.
TEST(Gridmap, PipeIsRefused) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);  // both ends stay open in gridmap
  const std::string name = "/dev/fd/" + std::to_string(ends[0]);
  TempDir dir;
  const RunResult r = gridmap(dir, {"3", name});
  close(ends[0]);
  close(ends[1]);
  EXPECT_EQ(r.out, "Can not read file " + name + " twice: it must be a regular file.\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(dir.exists("grid.matrix"));
}

TEST(Gridmap, UnwritableDirectory) {
  TempDir dir;
  dir.write("p", DIAGONAL);
  ASSERT_EQ(chmod(dir.path().c_str(), 0555), 0);
  const RunResult r =
      run_program(GRIDMAP_EXE, {"3", "p"}, {.cwd = dir.path(), .unprivileged = true});
  EXPECT_EQ(r.out, "Can not open output file for writing.\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(dir.exists("grid.matrix"));
}

namespace {

// Files long enough to be converted on several threads: the messages, the
// counter and every byte of both matrices are the same on any number of
// them, also where the first line seen of equal limits is -0 or 0, and the
// first refused line is the one reported.
TEST(Gridmap, ThreadCountDoesNotMatter) {
  std::string points = "-0 0 1\n0 -0 2\n";
  unsigned state = 99;
  for (int i = 0; i < 150'000; ++i) {
    state = state * 1103515245u + 12345u;
    points += std::to_string(state % 1000) + "e-3 " + std::to_string(state % 777) + ".25 " +
              std::to_string(1 + state % 5) + ".5\n";
  }
  std::string bad = points;
  bad.insert(bad.find('\n', bad.size() / 2) + 1, "1 2\n");
  bad.insert(bad.find('\n', bad.size() * 3 / 4) + 1, "x\n");
  std::string out, matrix, logs, bad_out;
  for (const char* threads : {"1", "2", "7"}) {
    TempDir dir;
    dir.write("p", points);
    dir.write("bad", bad);
    const std::vector<std::string> env = {std::string("OMP_NUM_THREADS=") + threads};
    const RunResult r = run_program(GRIDMAP_EXE, {"101", "p"}, {.cwd = dir.path(), .env = env});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("All done.\n"), std::string::npos) << threads;
    if (out.empty()) {
      out = r.out;
      matrix = dir.read("grid.matrix");
      logs = dir.read("grid_log.matrix");
    }
    EXPECT_EQ(r.out, out) << threads;
    EXPECT_EQ(dir.read("grid.matrix"), matrix) << threads;
    EXPECT_EQ(dir.read("grid_log.matrix"), logs) << threads;
    const RunResult refused =
        run_program(GRIDMAP_EXE, {"101", "bad"}, {.cwd = dir.path(), .env = env});
    if (bad_out.empty()) bad_out = refused.out;
    EXPECT_EQ(refused.out, bad_out) << threads;
    EXPECT_EQ(dir.read("grid.matrix"), "") << threads;
  }
  EXPECT_NE(out.find("\ton x : -0.000000 to 0.999000\n"), std::string::npos) << out;
  EXPECT_NE(bad_out.find("Number of columns not constant : 1 2\n"), std::string::npos);
}

}  // namespace

// --limits and --weights, against a computation of the matrices written
// here from their definitions: the nodes of today's formula, over the
// limits given (each read as a single-precision value) or the data's;
// points whose node is off the grid left out; weights summed per node in
// file order, in double precision.
namespace {

[[gnu::format(printf, 1, 2)]] std::string printed(const char* format, ...) {
  char text[160];
  va_list values;
  va_start(values, format);
  std::vsnprintf(text, sizeof text, format, values);
  va_end(values);
  return text;
}

// The counter of a pass over `lines` lines.
std::string counter(int lines) {
  std::string text = ZERO;
  for (int n = 100; n <= lines; n += 100) text += B9 + printed("%9d", n);
  return text + B9 + printed("%9d", lines) + "\n";
}

struct OptionCase {
  const char* name;
  std::vector<std::string> limits;  // XMIN XMAX YMIN YMAX, or none
  bool weights;
  int grid, grid_y, columns;
  unsigned seed;
};

const OptionCase option_cases[] = {
    {"LimitsOnCounts", {"-1", "1", "-2", "3"}, false, 5, 7, 2, 1},
    {"LimitsOnMeans", {"0.1", "0.7", "0.25", "4e-1"}, false, 11, 4, 3, 2},
    {"Weights", {}, true, 6, 9, 3, 3},
    {"WeightsAndLimits", {"-3.5", "2", "10", "10.5"}, true, 101, 3, 3, 4},
    {"FineGridAndLimits", {"-0.001", "+1e-3", "0", "1E2"}, true, 1001, 1001, 3, 5},
};

// A value of one axis: on a node, half-way between two (an edge), up to
// four half-spacings beyond the limits, or anywhere in twice their range.
float axis_value(std::mt19937& random, float lo, float hi, int g) {
  const double spacing = (static_cast<double>(hi) - lo) / g;
  switch (random() % 3) {
    case 0:
      return static_cast<float>(lo + (static_cast<int>(random() % (2 * g + 9)) - 4) * spacing / 2);
    case 1:
      return std::uniform_real_distribution<float>(lo, hi)(random);
    default: {
      const float half = (hi - lo) / 2;
      return std::uniform_real_distribution<float>(lo - half, hi + half)(random);
    }
  }
}

float weight(std::mt19937& random) {
  switch (random() % 6) {
    case 0:
      return 0;
    case 1:
      return 1e-30f;
    case 2:
      return 3e30f;
    default:
      return std::uniform_real_distribution<float>(0, 10)(random);
  }
}

// The node of v, trunc((g * v - g * lo) / (hi - lo) + 0.5) with g * v
// rounded to single precision; beyond the grid: -1 when the limits were
// given and v is more than half a spacing beyond either end, else the
// nearest end.
int node_of(float v, int g, double lo, double hi, bool given) {
  const float gv = static_cast<float>(g) * v;
  const double position = (gv - g * lo) / (hi - lo) + 0.5;
  if (given && (position < 0 || position > g + 1)) return -1;
  const double j = std::trunc(position);
  if (j < 0) return 0;
  if (j > g) return g;
  return static_cast<int>(j);
}

void PrintTo(const OptionCase& c, std::ostream* out) {
  *out << c.name;
}

class GridmapOptions : public ::testing::TestWithParam<OptionCase> {};

TEST_P(GridmapOptions, MatricesAsComputedHere) {
  const OptionCase& c = GetParam();
  std::mt19937 random(c.seed);
  const bool given = !c.limits.empty();
  float limit[4] = {-1, 1, -1, 1};  // where the points lie without --limits
  for (std::size_t i = 0; i < c.limits.size(); ++i)
    limit[i] = std::strtof(c.limits[i].c_str(), nullptr);
  const int GX = c.grid - 1, GY = c.grid_y - 1;

  const int n = 5000;  // enough to be converted on several threads
  std::vector<float> x(n), y(n), z(n, 1);
  std::string data;
  for (int i = 0; i < n; ++i) {
    x[i] = axis_value(random, limit[0], limit[1], GX);
    y[i] = axis_value(random, limit[2], limit[3], GY);
    if (c.columns == 3) z[i] = c.weights ? weight(random) : 0.5f + (random() % 100) / 8.0f;
    data +=
        printed("%.9g %.9g", x[i], y[i]) + (c.columns == 3 ? printed(" %.9g", z[i]) : "") + "\n";
  }
  double xmin = x[0], xmax = x[0], ymin = y[0], ymax = y[0];
  for (int i = 0; i < n; ++i) {
    xmin = std::min<double>(xmin, x[i]), xmax = std::max<double>(xmax, x[i]);
    ymin = std::min<double>(ymin, y[i]), ymax = std::max<double>(ymax, y[i]);
  }
  const double lo_x = given ? limit[0] : xmin, hi_x = given ? limit[1] : xmax;
  const double lo_y = given ? limit[2] : ymin, hi_y = given ? limit[3] : ymax;
  std::vector<double> count(c.grid * c.grid_y), sum(c.grid * c.grid_y);
  int left_out = 0;
  for (int i = 0; i < n; ++i) {
    const int j = node_of(x[i], GX, lo_x, hi_x, given), k = node_of(y[i], GY, lo_y, hi_y, given);
    if (j < 0 || k < 0) {
      ++left_out;
      continue;
    }
    count[j * c.grid_y + k] += 1;
    sum[j * c.grid_y + k] += z[i];
  }
  std::string grid, logs;
  for (int j = 0; j <= GX; ++j) {
    for (int k = 0; k <= GY; ++k) {
      const double m = count[j * c.grid_y + k], s = sum[j * c.grid_y + k];
      const double value = c.weights ? s : c.columns == 2 ? m : m == 0 ? 0 : s / m;
      const double log = c.weights              ? (s == 0 ? 0 : std::log(s))
                         : m == 0 || value == 1 ? 0
                                                : std::log(value);
      grid += printed("%8.7e ", value);
      logs += printed("%8.7e ", log);
    }
    grid += "\n";
    logs += "\n";
  }

  std::vector<std::string> args;
  if (given) args = {"--limits", c.limits[0], c.limits[1], c.limits[2], c.limits[3]};
  if (c.weights) args.insert(c.seed % 2 ? args.end() : args.begin(), "--weights");
  args.insert(args.end(), {std::to_string(c.grid), std::to_string(c.grid_y), "p"});
  TempDir dir;
  dir.write("p", data);
  const RunResult r = gridmap(dir, args);
  const std::string three = c.weights ? "Three columns found. Using the third as weights.\n"
                                      : "Three columns found. Using the third to calculate sums.\n";
  EXPECT_EQ(r.out,
            FIRST + counter(n) + "Read 5000 lines.\n" + (c.columns == 3 ? three : "") +
                "Limits are :\n" + printed("\ton x : %f to %f\n", xmin, xmax) +
                printed("\ton y : %f to %f\n", ymin, ymax) +
                (given ? printed("Using the limits given: x %f to %f, y %f to %f\n", limit[0],
                                 limit[1], limit[2], limit[3])
                       : "") +
                "\nSecond pass to interpolate on a " + std::to_string(c.grid) + " by " +
                std::to_string(c.grid_y) + " grid ...\n" + counter(n) +
                (given ? printed("%d points outside the limits were left out.\n", left_out) : "") +
                WRITING + "All done.\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(dir.read("grid.matrix"), grid);
  EXPECT_EQ(dir.read("grid_log.matrix"), logs);
}

INSTANTIATE_TEST_SUITE_P(Runs, GridmapOptions, ::testing::ValuesIn(option_cases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

// The nodes of a fixed grid do not move with the data: points added beyond
// the limits widen the data's range but change no byte of either matrix.
TEST(GridmapOptions, SameLimitsSameNodes) {
  const std::string points = "0 0 1\n0.3 0.7 2\n1 1 4\n-0.5 0.5 8\n0.5 1.5 16\n";
  std::string matrices[2];
  for (const std::string more : {"", "-7 9 32\n100 -3 64\n"}) {
    TempDir dir;
    dir.write("p", points + more);
    const RunResult r = gridmap(dir, {"--limits", "0", "1", "0", "1", "--weights", "5", "p"});
    EXPECT_NE(r.out.find(more.empty() ? "\n2 points outside" : "\n4 points outside"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(dir.read("grid.matrix") + dir.read("grid_log.matrix"),
              more.empty() ? matrices[0] = dir.read("grid.matrix") + dir.read("grid_log.matrix")
                           : matrices[0]);
  }
}

// Both edges of the limits given alike: a point exactly half a spacing
// beyond either end is on that end's node, one a little further is left
// out. Every way of writing a weight gives the weight "%f" reads.
TEST(GridmapOptions, EdgesAndWeightForms) {
  TempDir dir;
  dir.write("p",
            "-0.25 0.5 +1\n1.25 0.5 2.\n-0.2500001 0.5 .5\n0.5 1.2500001 4\n0.5 0.5 3E+0\n"
            "0.5 0.5 1e-50\n");
  const RunResult r = gridmap(dir, {"--limits", "0", "1", "0", "1", "--weights", "3", "p"});
  EXPECT_TRUE(
      r.out.ends_with("2 points outside the limits were left out.\n" + WRITING + "All done.\n"))
      << r.out;
  EXPECT_EQ(dir.read("grid.matrix"),
            matrix(3, 3, {{0, 1, ONE}, {1, 1, "3.0000000e+00"}, {2, 1, "2.0000000e+00"}}));
}

// With --limits, standard input ("-") or a pipe is read in one pass, with
// the matrices of the two passes over the same points in a file; without,
// "-" is a file name as before.
TEST(GridmapOptions, StandardInputReadOnceOnLimitsGiven) {
  std::mt19937 random(7);
  std::string points;
  for (int i = 0; i < 200'000; ++i) {
    points +=
        printed("%.6f %.6f %.5f\n", std::uniform_real_distribution<float>(-1.2f, 1.2f)(random),
                std::uniform_real_distribution<float>(-1, 1)(random),
                std::uniform_real_distribution<float>(0, 3)(random));
  }
  for (const bool weights : {false, true}) {
    TempDir dir;
    dir.write("p", points);
    std::vector<std::string> args = {"--limits", "-1", "1", "-1", "1", "50", "40", "p"};
    if (weights) args.insert(args.begin(), "--weights");
    const RunResult twice = gridmap(dir, args);
    const std::string grid = dir.read("grid.matrix"), logs = dir.read("grid_log.matrix");
    args.back() = "-";
    const RunResult once = run_program(GRIDMAP_EXE, args, {.input = points, .cwd = dir.path()});
    const std::size_t limits = twice.out.find("Three columns");
    const std::size_t left_out = twice.out.find("\n", twice.out.find("Second pass") + 1) + 1;
    const std::size_t counted = twice.out.find("\n", left_out) + 1;
    EXPECT_EQ(once.out, "One pass to interpolate on a 50 by 40 grid ...\n" + counter(200'000) +
                            "Read 200000 lines.\n" +
                            twice.out.substr(limits, twice.out.find("\n\nSecond") + 1 - limits) +
                            twice.out.substr(counted))
        << twice.out;
    EXPECT_EQ(once.status, 1);
    EXPECT_EQ(dir.read("grid.matrix"), grid);
    EXPECT_EQ(dir.read("grid_log.matrix"), logs);
  }
  TempDir dir;
  const RunResult bad = run_program(GRIDMAP_EXE, {"--limits", "0", "1", "0", "1", "3", "-"},
                                    {.input = "0 0\n1 1 1\n", .cwd = dir.path()});
  EXPECT_EQ(bad.out, "One pass to interpolate on a 3 by 3 grid ...\n" + ZERO +
                         "\nNumber of columns not constant : 1 1 1\n\n");
  EXPECT_EQ(dir.read("grid.matrix"), "");
  const RunResult without =
      run_program(GRIDMAP_EXE, {"3", "-"}, {.input = DIAGONAL, .cwd = dir.path()});
  EXPECT_EQ(without.out, "Can not open file - for reading.\n");
}

// --sum: the maps of shards, each made in a folder of its own, add up to
// the map of the joined file, byte for byte, weights from every digit of
// each run's "grid_weights.matrix"; runs that do not match are refused,
// naming what differs, before any file is written.
namespace {

// The run of `args` on `data` in the folder `name` of `dir`.
void run_in(const TempDir& dir, const std::string& name, std::vector<std::string> args,
            const std::string& data) {
  ASSERT_EQ(mkdir(dir.file(name).c_str(), 0755), 0);
  dir.write(name + "/p", data);
  args.push_back("p");
  const RunResult r = run_program(GRIDMAP_EXE, args, {.cwd = dir.file(name)});
  ASSERT_TRUE(r.out.ends_with("All done.\n")) << r.out;
  dir.write(name + "/gridmap.log", r.out);
}

}  // namespace

TEST(GridmapSum, ShardsAddUpToTheJoinedRun) {
  std::mt19937 random(11);
  std::normal_distribution<float> spread(0, 0.5f);
  std::string shards[3];
  for (int i = 0; i < 60'000; ++i) {
    shards[i % 7 % 3] += printed("%.6f %.6f %.4f\n", spread(random), spread(random),
                                 std::uniform_real_distribution<float>(0, 2)(random));
  }
  const std::string joined = shards[0] + shards[1] + shards[2];
  for (const bool weights : {false, true}) {
    TempDir dir;
    std::vector<std::string> args = {"--limits", "-1", "1", "-1.5", "1", "41", "31"};
    if (weights) args.insert(args.begin(), "--weights");
    const auto columns = [&](const std::string& text) {
      if (weights) return text;
      std::string two;
      std::istringstream in(text);
      for (std::string x, y, z; in >> x >> y >> z;) two += x + " " + y + "\n";
      return two;
    };
    run_in(dir, "joined", args, columns(joined));
    for (int k = 0; k < 3; ++k) run_in(dir, "s" + std::to_string(k), args, columns(shards[k]));
    // The first run's matrices are there: the sum's replace them.
    run_in(dir, "sum", args, columns(shards[0]));
    const RunResult sum = run_program(
        GRIDMAP_EXE, {"--sum", "../s0/gridmap.log", "../s1/gridmap.log", "../s2/gridmap.log"},
        {.cwd = dir.file("sum")});
    const std::string log = dir.read("joined/gridmap.log");
    const std::size_t read = log.find("Read "), second = log.find("\nSecond pass");
    const std::size_t left_out = log.find("\n", log.find("grid ...\n") + 9) + 1;
    EXPECT_TRUE(sum.out.starts_with("Adding the matrices of 3 runs ...\n\t../s0/gridmap.log: "))
        << sum.out;
    EXPECT_TRUE(sum.out.ends_with(log.substr(read, second + 1 - read) +
                                  "Sum of the runs on a 41 by 31 grid ...\n" +
                                  log.substr(left_out)))
        << sum.out;
    EXPECT_EQ(sum.status, 1);
    // A sum is a run: the sum of the sum of two shards and the third is
    // the joined run too.
    ASSERT_EQ(mkdir(dir.file("pair").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(dir.file("nested").c_str(), 0755), 0);
    dir.write("pair/gridmap.log",
              run_program(GRIDMAP_EXE, {"--sum", "../s0/gridmap.log", "../s1/gridmap.log"},
                          {.cwd = dir.file("pair")})
                  .out);
    run_program(GRIDMAP_EXE, {"--sum", "../pair/gridmap.log", "../s2/gridmap.log"},
                {.cwd = dir.file("nested")});
    for (const std::string name : {"grid.matrix", "grid_log.matrix", "grid_weights.matrix"}) {
      // Counts have no grid_weights.matrix; the weights' sums have every digit of the joined run's.
      const bool written = weights || name != "grid_weights.matrix";
      for (const std::string folder : {"joined", "s0", "sum", "pair", "nested"}) {
        ASSERT_EQ(dir.exists(folder + "/" + name), written) << folder << "/" << name;
        if (written && (folder == "sum" || folder == "nested")) {
          EXPECT_TRUE(dir.read(folder + "/" + name) == dir.read("joined/" + name))
              << folder << "/" << name;
        }
      }
    }
  }
}

// A run's grid_weights.matrix must agree with its grid.matrix; without one
// (a run of an older gridmap) its grid.matrix is added, 8 digits of each
// sum. Each of the two runs puts three weights of 1 + 2^-23 on a node: 3 +
// 3 * 2^-23 printed rounds up, so that adding what was printed gives
// 6.0000008, the sum of the weights 6.0000007.
TEST(GridmapSum, WeightsAreAddedWithEveryDigitOfEachRun) {
  const std::string heavy = "0 0 1.0000001\n0 0 1.0000001\n0 0 1.0000001\n";
  const struct {
    std::string what;  // done to b/grid_weights.matrix
    std::string sum;   // the corner of the sum's grid.matrix, or the message
  } cases[] = {
      {"kept", "6.0000007e+00"},
      {"removed", "6.0000008e+00"},
      {"left by another run",
       "gridmap: b/grid_weights.matrix:1: the two matrices disagree: column 1 is "
       "3.0000003576278687 here but 3.0000002e+00 in b/grid.matrix (is one left from another "
       "run?)\n"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    const std::vector<std::string> args = {"--limits", "0", "1", "0", "1", "--weights", "3"};
    run_in(dir, "a", args, heavy);
    run_in(dir, "b", args, c.what == "left by another run" ? "0 0 1\n0 0 2e-7\n0 0 2\n" : heavy);
    if (c.what == "left by another run") {
      dir.write("b/grid_weights.matrix", dir.read("a/grid_weights.matrix"));
    }
    if (c.what == "removed") {
      ASSERT_EQ(unlink(dir.file("b/grid_weights.matrix").c_str()), 0);
    }
    ASSERT_EQ(dir.read("a/grid_weights.matrix"), "3.0000003576278687 0 0 \n0 0 0 \n0 0 0 \n");
    const RunResult r = gridmap(dir, {"--sum", "a/gridmap.log", "b/gridmap.log"});
    const bool refused = c.sum.starts_with("gridmap: ");
    EXPECT_TRUE(r.out.starts_with("Adding the matrices of 2 runs ...\n\ta/gridmap.log: 3 lines\n"));
    EXPECT_TRUE(r.out.ends_with(refused ? c.sum : WRITING + "All done.\n")) << r.out;
    EXPECT_EQ(r.status, 1);
    if (refused) {
      EXPECT_FALSE(dir.exists("grid.matrix") || dir.exists("grid_weights.matrix")) << c.what;
    } else {
      EXPECT_EQ(dir.read("grid.matrix"), matrix(3, 3, {{0, 0, c.sum}})) << c.what;
    }
  }
}

TEST(GridmapSum, RunsThatDoNotMatchAreRefused) {
  TempDir dir;
  const std::string points = "0 0 1\n0.5 0.5 2\n1 1 3\n";
  const std::string two = "0 0\n0.5 0.5\n1 1\n";
  const std::vector<std::string> limits = {"--limits", "0", "1", "0", "1"};
  const auto with = [&](std::vector<std::string> front, std::vector<std::string> back) {
    front.insert(front.end(), back.begin(), back.end());
    return front;
  };
  run_in(dir, "a", with(limits, {"5"}), two);
  run_in(dir, "grid", with(limits, {"5", "6"}), two);
  run_in(dir, "limits", {"--limits", "0", "2", "0", "1", "5"}, two);
  run_in(dir, "weights", with(limits, {"--weights", "5"}), points);
  run_in(dir, "mean", with(limits, {"5"}), points);
  EXPECT_FALSE(dir.exists("mean/grid_weights.matrix"));
  run_in(dir, "free", {"5"}, two);
  dir.write("cut.log", dir.read("a/gridmap.log").substr(0, 200));
  ASSERT_EQ(mkdir(dir.file("bad").c_str(), 0755), 0);
  dir.write("bad/gridmap.log", dir.read("a/gridmap.log"));
  dir.write("bad/grid.matrix", "0.0000000e+00\n");
  const std::string other_limits =
      "limits x 0.000000 to 2.000000, y 0.000000 to 1.000000, but a/gridmap.log has limits "
      "x 0.000000 to 1.000000, y 0.000000 to 1.000000";
  const struct {
    std::vector<std::string> args;
    std::string out;
  } cases[] = {
      {{"--sum"}, USAGE},
      {{"--sum", "a/gridmap.log", "grid/gridmap.log"},
       "grid/gridmap.log: a 5 by 6 grid, but a/gridmap.log has a 5 by 5 grid"},
      {{"--sum", "a/gridmap.log", "limits/gridmap.log"}, "limits/gridmap.log: " + other_limits},
      {{"--sum", "a/gridmap.log", "weights/gridmap.log"},
       "weights/gridmap.log: a run of weights, but a/gridmap.log is a run of counts"},
      {{"--sum", "mean/gridmap.log"},
       "mean/gridmap.log: a run of mean z, whose matrices cannot be added"},
      {{"--sum", "free/gridmap.log"},
       "free/gridmap.log: not a run on limits given: without --limits its nodes depend on its "
       "data"},
      {{"--sum", "cut.log"}, "cut.log: not a complete gridmap run (\"All done.\" is missing)"},
      {{"--sum", "missing.log"}, "missing.log: cannot open: No such file or directory"},
      {{"--sum", "bad/gridmap.log"},
       "bad/grid.matrix:1: not a row of a 5 by 5 matrix of gridmap's"},
      {{"--sum", "a/gridmap.log", "gridmap.log"},
       "grid.matrix: it is the grid.matrix that the sum writes: add the runs from another folder"},
  };
  dir.write("gridmap.log", dir.read("a/gridmap.log"));
  dir.write("grid.matrix", dir.read("a/grid.matrix"));
  for (const auto& c : cases) {
    const RunResult r = gridmap(dir, c.args);
    EXPECT_EQ(r.out, c.out == USAGE ? USAGE
                                    : "Adding the matrices of " +
                                          std::to_string(c.args.size() - 1) + " runs ...\n" +
                                          (c.args.size() > 2 ? "\ta/gridmap.log: 3 lines\n" : "") +
                                          "gridmap: " + c.out + "\n")
        << c.out;
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(dir.read("grid.matrix"), dir.read("a/grid.matrix"));
    EXPECT_FALSE(dir.exists("grid_log.matrix"));
  }
}

// Options refused: the usage line before any file is touched; a weight that
// cannot weigh, or no weight at all, in the first pass, leaving
// "grid.matrix" empty.
namespace {

struct OptionRefusal {
  const char* name;
  std::vector<std::string> args;
  std::string data, out;
};

const std::string LINE_ONE = FIRST + ZERO + "\nFailed to read data from line : ";
const std::string THREE = "0 0 1\n1 1 2\n0.5 0.5 3\n";

const OptionRefusal option_refusals[] = {
    {"LimitsReversed", {"--limits", "1", "0", "0", "1", "3", "p"}, THREE, USAGE},
    {"LimitsEqual", {"--limits", "0", "1", "2", "2", "3", "p"}, THREE, USAGE},
    {"LimitsEqualInSinglePrecision",
     {"--limits", "0", "1", "1", "1.00000001", "3", "p"},
     THREE,
     USAGE},
    {"LimitZeroInSinglePrecision", {"--limits", "0", "1e-50", "0", "1", "3", "p"}, THREE, USAGE},
    {"LimitBeyondSinglePrecision", {"--limits", "0", "1e39", "0", "1", "3", "p"}, THREE, USAGE},
    {"LimitInfinite", {"--limits", "-inf", "1", "0", "1", "3", "p"}, THREE, USAGE},
    {"LimitNan", {"--limits", "0", "1", "nan", "1", "3", "p"}, THREE, USAGE},
    {"LimitHexadecimal", {"--limits", "0", "0x1p0", "0", "1", "3", "p"}, THREE, USAGE},
    {"LimitWithText", {"--limits", "0", "1x", "0", "1", "3", "p"}, THREE, USAGE},
    {"LimitWithBlank", {"--limits", "0", " 1", "0", "1", "3", "p"}, THREE, USAGE},
    {"LimitDanglingExponent", {"--limits", "0", "1e", "0", "1", "3", "p"}, THREE, USAGE},
    {"LimitEmpty", {"--limits", "0", "", "0", "1", "3", "p"}, THREE, USAGE},
    {"LimitsIncomplete", {"--limits", "0", "1", "0", "3", "p"}, THREE, USAGE},
    {"LimitsLast", {"3", "p", "--limits", "0", "1", "0", "1"}, THREE, USAGE},
    {"LimitsTwice",
     {"--limits", "0", "1", "0", "1", "--limits", "0", "1", "0", "1", "3", "p"},
     THREE,
     USAGE},
    {"WeightsTwice", {"--weights", "--weights", "3", "p"}, THREE, USAGE},
    {"WeightsAfterGrid", {"3", "--weights", "p"}, THREE, USAGE},
    {"UnknownOption", {"--weight", "3", "p"}, THREE, USAGE},
    {"OptionWithValue", {"--limits=0", "1", "0", "1", "3", "p"}, THREE, USAGE},
    {"OptionsOnly", {"--weights"}, THREE, USAGE},
    {"WeightsOnTwoColumns",
     {"--weights", "3", "p"},
     DIAGONAL,
     FIRST + counter(3) + "Read 3 lines.\n--weights needs a third column (the weight).\n"},
    {"WeightsOnEmptyFile",
     {"--weights", "3", "p"},
     "",
     FIRST + B9 + "        0\nRead 0 lines.\n--weights needs a third column (the weight).\n"},
    {"NegativeWeight", {"--weights", "3", "p"}, "0 0 1\n1 1 -2\n", LINE_ONE + "1 1 -2\n\n"},
    {"SmallNegativeWeight", {"--weights", "3", "p"}, "0 0 -1e-40\n", LINE_ONE + "0 0 -1e-40\n\n"},
    {"InfiniteWeight", {"--weights", "3", "p"}, "0 0 1\n1 1 inf\n", LINE_ONE + "1 1 inf\n\n"},
    {"OverflowingWeight", {"--weights", "3", "p"}, "0 0 1\n1 1 1e39\n", LINE_ONE + "1 1 1e39\n\n"},
    {"NanWeight", {"--weights", "3", "p"}, "0 0 nan\n", LINE_ONE + "0 0 nan\n\n"},
    // A weight is written without a minus sign, in decimal, as a field of
    // its own, whatever value "%f" makes of it.
    {"NegativeWeightReadAsZero",
     {"--weights", "3", "p"},
     "0 0 1\n1 1 -1e-50\n",
     LINE_ONE + "1 1 -1e-50\n\n"},
    {"MinusZeroWeight", {"--weights", "3", "p"}, "0 0 -0\n", LINE_ONE + "0 0 -0\n\n"},
    {"HexadecimalWeight", {"--weights", "3", "p"}, "0 0 0x10\n", LINE_ONE + "0 0 0x10\n\n"},
    {"WeightWithText", {"--weights", "3", "p"}, "0 0 1abc 4\n", LINE_ONE + "0 0 1abc 4\n\n"},
    {"BadWeightOutsideLimits",
     {"--limits", "0", "1", "0", "1", "--weights", "3", "p"},
     THREE + "5 5 -1\n",
     LINE_ONE + "5 5 -1\n\n"},
};

void PrintTo(const OptionRefusal& c, std::ostream* out) {
  *out << c.name;
}

class GridmapOptionRefusal : public ::testing::TestWithParam<OptionRefusal> {};

TEST_P(GridmapOptionRefusal, UsageOrLineAndNoMatrix) {
  const OptionRefusal& c = GetParam();
  TempDir dir;
  dir.write("p", c.data);
  dir.write("grid.matrix", "old\n");
  const RunResult r = gridmap(dir, c.args);
  EXPECT_EQ(r.out, c.out);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(dir.read("grid.matrix"), c.out == USAGE ? "old\n" : "");
  EXPECT_FALSE(dir.exists("grid_log.matrix"));
}

INSTANTIATE_TEST_SUITE_P(Runs, GridmapOptionRefusal, ::testing::ValuesIn(option_refusals),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
