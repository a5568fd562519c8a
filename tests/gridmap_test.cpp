#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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
