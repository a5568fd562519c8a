// End-to-end: gridmap when what surrounds the data goes wrong. Standard
// descriptors closed, a data file that is one of the output files, matrix
// files that cannot be written, a file that changes between the passes and
// a reader of the messages that goes away.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "run_program.hpp"

namespace {

using pcgrid::testing::run_program;
using pcgrid::testing::RunResult;
using pcgrid::testing::TempDir;

const std::string B9 = "\b\b\b\b\b\b\b\b\b";
const std::string FIRST = "First pass to determine limits ...\n";
const std::string UNIT_LIMITS =
    "Limits are :\n\ton x : 0.000000 to 1.000000\n\ton y : 0.000000 to 1.000000\n";
const std::string WRITING_GRID = "Writing output in grid.matrix.\n";
const std::string WRITING_LOGS = "Writing logarithms in grid_log.matrix.\n";
const std::string DIAGONAL = "0 0\n1 1\n0.5 0.5\n";

// Lines in the big file: its first pass prints about 720 kB of counter,
// less than gridmap's 1 MiB message buffer, and the two passes more, so
// the messages are first written out in the middle of the second pass.
constexpr int BIG = 4'000'000;

std::string nine(int n) {
  char text[16];
  std::snprintf(text, sizeof text, "%9d", n);
  return text;
}

// The counter of a pass that has read `lines` lines; ended with its last
// count and a newline unless the pass was cut short.
std::string counter(int lines, bool ended = true) {
  std::string text = "Now reading line " + nine(0);
  for (int n = 100; n <= lines; n += 100) text += B9 + nine(n);
  if (ended) text += B9 + nine(lines) + "\n";
  return text;
}

std::string second_pass(int grid) {
  const std::string g = std::to_string(grid);
  return "\nSecond pass to interpolate on a " + g + " by " + g + " grid ...\n";
}

// The messages of a run on x and y from 0 to 1, up to the end of the second pass.
std::string passes(int lines, int grid) {
  return FIRST + counter(lines) + "Read " + std::to_string(lines) + " lines.\n" + UNIT_LIMITS +
         second_pass(grid) + counter(lines);
}

// `rows` rows of `columns` values in "%8.7e " form: `corner` on the first
// and the last node of the diagonal, `middle` on the one between, 0 elsewhere.
std::string matrix(int rows, int columns, const std::string& corner,
                   const std::string& middle = "0.0000000e+00") {
  std::string text;
  for (int j = 0; j < rows; ++j) {
    for (int k = 0; k < columns; ++k) {
      const bool at_corner = (j == 0 && k == 0) || (j == rows - 1 && k == columns - 1);
      const bool in_middle = j == rows / 2 && k == columns / 2;
      text += at_corner ? corner : in_middle ? middle : "0.0000000e+00";
      text += ' ';
    }
    text += '\n';
  }
  return text;
}

const std::string ONE = "1.0000000e+00";
const std::string ZERO = "0.0000000e+00";

// BIG lines, half of them (0, 0), half (1, 1).
std::string big_points() {
  std::string text;
  text.reserve(4 * BIG);
  for (int i = 0; i < BIG / 2; ++i) text += "0 0\n1 1\n";
  return text;
}

const std::string BIG_GRID = matrix(3, 3, "2.0000000e+06");
const std::string BIG_LOGS = matrix(3, 3, "1.4508658e+01");  // ln(2,000,000)

// Starts gridmap in `dir` with standard output on `out` and standard error
// in the file `err`.
pid_t start_gridmap(const TempDir& dir, const std::vector<std::string>& args, int out,
                    const std::string& err) {
  std::vector<std::string> strings{GRIDMAP_EXE};
  strings.insert(strings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& s : strings) argv.push_back(s.data());
  argv.push_back(nullptr);
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (e < 0 || dup2(out, 1) < 0 || dup2(e, 2) < 0 || chdir(dir.path().c_str()) != 0) _exit(126);
    close_range(3, ~0U, 0);
    std::signal(SIGPIPE, SIG_DFL);
    execv(GRIDMAP_EXE, argv.data());
    _exit(127);
  }
  return pid;
}

int wait_for(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

// Opened on descriptors left closed, the data file and "grid.matrix" would
// take the numbers of standard input and output, and the messages would be
// written into the matrix once their buffer fills.
TEST(GridmapFailure, ClosedStandardDescriptors) {
  TempDir dir;
  dir.write("p", big_points());
  const std::string messages = passes(BIG, 3) + WRITING_GRID + WRITING_LOGS + "All done.\n";
  const std::vector<int> closings[] = {{0, 1}, {0, 1, 2}, {1, 2}, {1}, {0}, {2}};
  for (const auto& closed : closings) {
    const RunResult r = run_program(GRIDMAP_EXE, {"3", "p"}, {.cwd = dir.path(), .closed = closed});
    const bool out_closed = std::find(closed.begin(), closed.end(), 1) != closed.end();
    EXPECT_EQ(r.out, out_closed ? "" : messages) << closed.size() << " closed, first " << closed[0];
    EXPECT_EQ(r.err, "") << closed[0];
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(dir.read("grid.matrix"), BIG_GRID) << closed[0];
    EXPECT_EQ(dir.read("grid_log.matrix"), BIG_LOGS) << closed[0];
  }
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool SANITIZED = true;  // the sanitizers' shadow memory needs terabytes of addresses
#else
constexpr bool SANITIZED = false;
#endif

// Under any address-space limit a run either ends as usual or says at once
// that it lacks memory, with no file touched; it used to die of SIGSEGV
// below about 75 MB.
TEST(GridmapFailure, TightAddressSpace) {
  if (SANITIZED) GTEST_SKIP() << "no address-space limit under a sanitizer";
  TempDir dir;
  std::string points;
  for (int i = 0; i < 5000; ++i)
    points += std::to_string(i % 7) + ".5 " + std::to_string(i % 5) + " 2\n";
  dir.write("p", points);
  const RunResult whole = run_program(GRIDMAP_EXE, {"1001", "p"}, {.cwd = dir.path()});
  const std::string grid = dir.read("grid.matrix"), logs = dir.read("grid_log.matrix");
  int short_of_memory = 0;
  for (const char* threads : {"1", "7"}) {
    for (unsigned long megabytes = 24; megabytes <= 96; megabytes += 12) {
      TempDir run;
      run.write("p", points);
      const RunResult r = run_program(GRIDMAP_EXE, {"1001", "p"},
                                      {.cwd = run.path(),
                                       .env = {std::string("OMP_NUM_THREADS=") + threads},
                                       .address_space_limit = megabytes << 20});
      EXPECT_EQ(r.status, 1) << megabytes;
      EXPECT_EQ(r.err, "") << megabytes;
      if (r.out == "gridmap: out of memory\n") {
        ++short_of_memory;
        EXPECT_FALSE(run.exists("grid.matrix")) << megabytes;
        continue;
      }
      EXPECT_EQ(r.out, whole.out) << megabytes << " MB, " << threads << " threads";
      EXPECT_EQ(run.read("grid.matrix"), grid) << megabytes;
      EXPECT_EQ(run.read("grid_log.matrix"), logs) << megabytes;
    }
  }
  EXPECT_GT(short_of_memory, 0);
}

// The data file must not be an output file under any name: creating the
// output would destroy it before it is read.
TEST(GridmapFailure, OutputFileAsDataIsRefused) {
  const struct {
    std::string name;
    std::string link_to;  // a symbolic link to this output file; else a hard link, or the name
    bool hard = false;
  } cases[] = {{"grid.matrix", ""},
               {"grid_log.matrix", ""},
               {"./grid.matrix", ""},
               {"points", "grid.matrix"},
               {"points", "grid_log.matrix", true}};
  for (const auto& c : cases) {
    TempDir dir;
    dir.write("grid.matrix", DIAGONAL);
    dir.write("grid_log.matrix", DIAGONAL + "2 2\n");
    if (!c.link_to.empty()) {
      const std::string target = dir.file(c.link_to);
      ASSERT_EQ(c.hard ? link(target.c_str(), dir.file(c.name).c_str())
                       : symlink(target.c_str(), dir.file(c.name).c_str()),
                0);
    }
    const RunResult r = run_program(GRIDMAP_EXE, {"3", c.name}, {.cwd = dir.path()});
    EXPECT_EQ(r.out, "Can not read file " + c.name + ": it is an output file of gridmap.\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(dir.read("grid.matrix"), DIAGONAL) << c.name;
    EXPECT_EQ(dir.read("grid_log.matrix"), DIAGONAL + "2 2\n") << c.name;
  }
}

// The descriptors the program's first two files get: the two lowest that
// are free here, since the program inherits what this process has open.
std::pair<int, int> first_free_descriptors() {
  const int first = open("/dev/null", O_RDONLY);
  const int second = open("/dev/null", O_RDONLY);
  close(first);
  close(second);
  return {first, second};
}

// Writes of the matrices that fail, or take several calls. The data file
// gets descriptor D and "grid.matrix" G; "grid_log.matrix" is created after
// both are closed, so it gets D. A 1001 by 1001 matrix takes 14 writes, of
// 74 rows but the last.
TEST(GridmapFailure, MatrixWritesAreWholeOrNothing) {
  if (!pcgrid::testing::faults_available()) GTEST_SKIP() << "no failure injection in this build";
  const std::string grid_failed = WRITING_GRID + "Can not write output file grid.matrix.\n";
  const std::string logs_failed =
      WRITING_GRID + WRITING_LOGS + "Can not write output file grid_log.matrix.\n";
  const std::string done = WRITING_GRID + WRITING_LOGS + "All done.\n";
  const struct {
    int grid;
    std::string rules, end;
    bool grid_whole, logs_whole;
  } cases[] = {
      {3, "write:G:1:enospc", grid_failed, false, false},
      {3, "write:G:1:short,write:G:2+:eio", grid_failed, false, false},
      {1001, "write:G:3:eio", grid_failed, false, false},
      {1001, "write:G:14:enospc", grid_failed, false, false},
      {3, "write:D:1:enospc", logs_failed, true, false},
      {1001, "write:D:2:eio", logs_failed, true, false},
      {3, "write:G:1+:short", done, true, true},
      {3, "write:D:1+:short", done, true, true},
      {1001, "write:G:1:eintr,write:G:2:eagain,write:D:5:eintr", done, true, true},
  };
  const auto [data_fd, grid_fd] = first_free_descriptors();
  for (const auto& c : cases) {
    TempDir dir;
    dir.write("p", DIAGONAL);
    std::string rules;
    for (const char ch : c.rules) {
      rules += ch == 'D'   ? std::to_string(data_fd)
               : ch == 'G' ? std::to_string(grid_fd)
                           : std::string(1, ch);
    }
    const RunResult r =
        run_program(GRIDMAP_EXE, {std::to_string(c.grid), "p"},
                    {.cwd = dir.path(), .env = pcgrid::testing::with_faults(rules)});
    EXPECT_EQ(r.out, passes(3, c.grid) + c.end) << c.rules;
    EXPECT_EQ(r.err, "") << c.rules;
    EXPECT_EQ(r.status, 1);
    const std::string whole = matrix(c.grid, c.grid, ONE, ONE);
    EXPECT_EQ(dir.read("grid.matrix"), c.grid_whole ? whole : "") << c.rules;
    ASSERT_EQ(dir.exists("grid_log.matrix"), c.logs_whole) << c.rules;
    if (c.logs_whole) {
      EXPECT_EQ(dir.read("grid_log.matrix"), matrix(c.grid, c.grid, ZERO)) << c.rules;
    }
  }
}

// A device that is always full in place of each matrix file.
TEST(GridmapFailure, FullDeviceAsMatrix) {
  for (const std::string name : {"grid.matrix", "grid_log.matrix"}) {
    TempDir dir;
    dir.write("p", DIAGONAL);
    ASSERT_EQ(symlink("/dev/full", dir.file(name).c_str()), 0);
    const RunResult r = run_program(GRIDMAP_EXE, {"3", "p"}, {.cwd = dir.path()});
    const bool grid = name == "grid.matrix";
    EXPECT_EQ(r.out, passes(3, 3) + WRITING_GRID + (grid ? "" : WRITING_LOGS) +
                         "Can not write output file " + name + ".\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(dir.exists("grid_log.matrix"), false) << name;
    if (!grid) {
      EXPECT_EQ(dir.read("grid.matrix"), matrix(3, 3, ONE, ONE));
    }
  }
}

// gridmap's messages reach the pipe first in the middle of the second
// pass; until this test reads them, gridmap waits there, and the file is
// changed meanwhile.
TEST(GridmapFailure, FileChangedBetweenThePasses) {
  const std::string changed = "\nFile p changed between the two passes.\n";
  const std::string before_second = FIRST + counter(BIG) + "Read " + std::to_string(BIG) +
                                    " lines.\n" + UNIT_LIMITS + second_pass(3);
  const struct {
    std::string what;
    int seen;  // lines of the second pass
  } cases[] = {{"appended", BIG}, {"truncated", 3'000'000}, {"rewritten", BIG}};
  const std::string points = big_points();
  for (const auto& c : cases) {
    TempDir dir;
    dir.write("p", points);
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    const pid_t pid = start_gridmap(dir, {"3", "p"}, ends[1], dir.file("err"));
    close(ends[1]);
    std::string out(1, '\0');
    ASSERT_EQ(read(ends[0], out.data(), 1), 1);
    if (c.what == "appended") {
      pcgrid::testing::write_file(dir.file("p"), points + "0 0\n1 1\n");
    } else if (c.what == "truncated") {
      ASSERT_EQ(truncate(dir.file("p").c_str(), 4L * c.seen), 0);
    } else {  // the same number of lines, one longer
      pcgrid::testing::write_file(dir.file("p"), points.substr(0, points.size() - 4) + "1 1 \n");
    }
    char block[65536];
    for (ssize_t got; (got = read(ends[0], block, sizeof block)) > 0;) out.append(block, got);
    close(ends[0]);
    EXPECT_EQ(wait_for(pid), 1) << c.what;
    // The points kept from the first pass are binned without reading them
    // again, so where a change made during the second pass is seen depends
    // on how many were kept: at the line where the file ends or differs, or
    // at the end of the kept points.
    ASSERT_TRUE(out.starts_with(before_second) && out.ends_with(changed)) << c.what;
    const std::string count =
        out.substr(before_second.size(), out.size() - before_second.size() - changed.size());
    EXPECT_TRUE(counter(BIG, false).starts_with(count) &&
                count.size() >= counter(c.seen, false).size())
        << c.what;
    EXPECT_EQ(pcgrid::testing::read_file(dir.file("err")), "") << c.what;
    EXPECT_EQ(dir.read("grid.matrix"), "") << c.what;
    EXPECT_FALSE(dir.exists("grid_log.matrix")) << c.what;
  }
}

// A reader of the messages that has gone away (gridmap ... | head -1) costs
// nothing but the messages.
TEST(GridmapFailure, ClosedMessagePipe) {
  TempDir dir;
  dir.write("p", big_points());
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  close(ends[0]);
  const pid_t pid = start_gridmap(dir, {"3", "p"}, ends[1], dir.file("err"));
  close(ends[1]);
  EXPECT_EQ(wait_for(pid), 1);
  EXPECT_EQ(pcgrid::testing::read_file(dir.file("err")), "Can not write to standard output.\n");
  EXPECT_EQ(dir.read("grid.matrix"), BIG_GRID);
  EXPECT_EQ(dir.read("grid_log.matrix"), BIG_LOGS);
}
