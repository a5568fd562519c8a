// End-to-end: gridplot on gridmap's runs. The gnuplot script is checked
// byte for byte through a stand-in gnuplot that keeps it; the pictures
// themselves are drawn when gnuplot is installed.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "run_program.hpp"

namespace {

using pcgrid::testing::read_file;
using pcgrid::testing::run_program;
using pcgrid::testing::RunResult;
using pcgrid::testing::TempDir;

const std::string NOT_INSTALLED =
    "gridplot: gnuplot is not installed (on Debian: apt-get install --no-install-recommends "
    "gnuplot-nox)\n";

bool have_gnuplot() {
  return std::system("command -v gnuplot > /dev/null 2>&1") == 0;
}

// gridmap GRID on `points` in `dir`, its standard output saved as gridmap.log.
void run_gridmap(const TempDir& dir, const std::string& points, const std::string& grid = "3") {
  dir.write("points", points);
  const RunResult r = run_program(GRIDMAP_EXE, {grid, "points"}, {.cwd = dir.path()});
  ASSERT_NE(r.out.find("All done.\n"), std::string::npos) << r.out;
  dir.write("gridmap.log", r.out);
}

// A stand-in gnuplot in `dir`/bin that keeps its script in `dir`/script and
// writes a PNG signature where the script says, or fails with `status`.
std::string fake_gnuplot(const TempDir& dir, int status = 0) {
  std::filesystem::create_directory(dir.file("bin"));
  const std::string path = dir.file("bin/gnuplot");
  std::string text = "#!/bin/sh\ncat > '" + dir.file("script") + "'\n";
  if (status != 0) {
    text += "exit " + std::to_string(status) + "\n";
  } else {
    text += "out=$(sed -n \"s/^set output '\\(.*\\)'$/\\1/p\" '" + dir.file("script") +
            "')\nprintf '\\211PNG\\r\\n\\032\\n' > \"$out\"\n";
  }
  dir.write("bin/gnuplot", text);
  chmod(path.c_str(), 0755);
  return "PATH=" + dir.file("bin") + ":/usr/bin:/bin";
}

// What the folder holds besides the given files: no temporary left behind.
std::vector<std::string> listing(const TempDir& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The picture's size from its IHDR chunk.
void expect_png(const std::string& path, unsigned width, unsigned height) {
  const std::string png = read_file(path);
  ASSERT_GT(png.size(), 33u);
  EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
  EXPECT_EQ(png.substr(12, 4), "IHDR");
  auto be32 = [&](std::size_t at) {
    return (static_cast<unsigned char>(png[at]) << 24) |
           (static_cast<unsigned char>(png[at + 1]) << 16) |
           (static_cast<unsigned char>(png[at + 2]) << 8) | static_cast<unsigned char>(png[at + 3]);
  };
  EXPECT_EQ(be32(16), width);
  EXPECT_EQ(be32(20), height);
}

const std::string PALETTE =
    "set palette defined (0 '#440154', 0.25 '#3b528b', 0.5 '#21918c', 0.75 '#5ec962', 1 "
    "'#fde725')\n";

// Two points at node (0, 0), one each at (1, 1) and (2, 2); x and y from 0 to 1.
const std::string DIAGONAL = "0 0\n0 0\n1 1\n0.5 0.5\n";

TEST(Gridplot, FreeEnergyScriptInKT) {
  TempDir dir;
  run_gridmap(dir, DIAGONAL);
  const RunResult r =
      run_program(GRIDPLOT_EXE, {dir.file("gridmap.log")}, {.env = {fake_gnuplot(dir)}});
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "");
  ASSERT_EQ(r.status, 0);
  std::string script = read_file(dir.file("script"));
  // The temporary picture's name is random: the second line.
  const std::size_t second = script.find('\n') + 1;
  const std::size_t third = script.find('\n', second) + 1;
  EXPECT_TRUE(script.substr(second, third - second).starts_with("set output '.gridplot-"));
  EXPECT_TRUE(script.substr(second, third - second).ends_with(".png'\n"));
  script.erase(second, third - second);
  EXPECT_EQ(script,
            "set terminal pngcairo size 800,640 noenhanced\n"
            "set xlabel 'PC 1'\nset ylabel 'PC 2'\nset cblabel 'F (kT)'\nset cbrange [0:*]\n"
            "set xrange [0:1]\nset yrange [0:1]\nset tics out\n" +
                PALETTE +
                "$map << EOD\n"
                "0 0 0\n0.5 0 NaN\n1 0 NaN\n"
                "0 0.5 NaN\n0.5 0.5 0.6931471805599453\n1 0.5 NaN\n"
                "0 1 NaN\n0.5 1 NaN\n1 1 0.6931471805599453\n"
                "EOD\nplot $map using 1:2:3 with image notitle\n");
  EXPECT_EQ(read_file(dir.file("landscape.png")), "\x89PNG\r\n\x1a\n");
  EXPECT_EQ(listing(dir),
            (std::vector<std::string>{"bin", "grid.matrix", "grid_log.matrix", "gridmap.log",
                                      "landscape.png", "points", "script"}));
}

// Everything between the output line and the data.
std::string settings(const TempDir& dir) {
  const std::string script = read_file(dir.file("script"));
  const std::size_t from = script.find('\n', script.find("set output")) + 1;
  return script.substr(from, script.find("$map") - from);
}

std::string data(const TempDir& dir) {
  const std::string script = read_file(dir.file("script"));
  const std::size_t from = script.find("$map << EOD\n") + 12;
  return script.substr(from, script.find("EOD\nplot") - from);
}

TEST(Gridplot, UnitsLabelsAndTitle) {
  TempDir dir;
  run_gridmap(dir, DIAGONAL);
  const std::string path = fake_gnuplot(dir);
  const std::string log = dir.file("gridmap.log");
  const double kj = 0.0083144626 * 300;  // kJ/mol of 1 kT at 300 K
  const struct {
    std::vector<std::string> args;
    std::string settings;
    double value;  // of node (1, 1): ln 2 in the unit
  } cases[] = {
      {{"--temperature", "300"},
       "set xlabel 'PC 1'\nset ylabel 'PC 2'\nset cblabel 'F (kJ/mol)'\n",
       std::log(2.0) * kj},
      {{"--temperature=300", "--unit=kcal/mol"},
       "set xlabel 'PC 1'\nset ylabel 'PC 2'\nset cblabel 'F (kcal/mol)'\n",
       std::log(2.0) * (kj / 4.184)},
      {{"--temperature", "300", "--unit", "kT"},
       "set xlabel 'PC 1'\nset ylabel 'PC 2'\nset cblabel 'F (kT)'\n",
       std::log(2.0)},
      {{"--title", "Peptide's map", "--xlabel", "x_1 {a}", "--ylabel", "@y"},
       "set title 'Peptide''s map'\nset xlabel 'x_1 {a}'\nset ylabel '@y'\nset cblabel 'F (kT)'\n",
       std::log(2.0)},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    args.push_back(log);
    const RunResult r = run_program(GRIDPLOT_EXE, args, {.env = {path}});
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(settings(dir), c.settings +
                                 "set cbrange [0:*]\nset xrange [0:1]\nset yrange [0:1]\n" +
                                 "set tics out\n" + PALETTE);
    char value[32];
    *std::to_chars(value, value + 31, c.value).ptr = '\0';
    EXPECT_NE(data(dir).find(std::string("0.5 0.5 ") + value + "\n"), std::string::npos)
        << data(dir);
  }
}

TEST(Gridplot, MeanZScriptAndOtherFiles) {
  TempDir dir;
  // z 2 and 4 at node (0, 0), 0.5 at (2, 1); x from -1 to 3, y from 10 to 12.
  dir.write("points", "-1 10 2\n-1 10 4\n3 11 0.5\n3 12 1\n");
  RunResult r = run_program(GRIDMAP_EXE, {"3", "points"}, {.cwd = dir.path()});
  dir.write("run.log", r.out);
  std::filesystem::rename(dir.file("grid.matrix"), dir.file("z.matrix"));
  std::filesystem::create_directory(dir.file("pictures"));
  r = run_program(GRIDPLOT_EXE,
                  {"--matrix", dir.file("z.matrix"), "--zlabel", "mean distance",
                   dir.file("run.log"), dir.file("pictures/z.png")},
                  {.env = {fake_gnuplot(dir)}});
  EXPECT_EQ(r.err, "");
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(settings(dir),
            "set xlabel 'PC 1'\nset ylabel 'PC 2'\nset cblabel 'mean distance'\n"
            "set xrange [-1:3]\nset yrange [10:12]\nset tics out\n" +
                PALETTE);
  EXPECT_EQ(data(dir),
            "-1 10 3\n1 10 NaN\n3 10 NaN\n"
            "-1 11 NaN\n1 11 NaN\n3 11 0.5\n"
            "-1 12 NaN\n1 12 NaN\n3 12 1\n");
  EXPECT_EQ(read_file(dir.file("pictures/z.png")), "\x89PNG\r\n\x1a\n");
  EXPECT_FALSE(dir.exists("landscape.png"));
}

TEST(Gridplot, ZeroRangeIsDrawnAsOne) {
  TempDir dir;
  run_gridmap(dir, "5 1\n5 2\n");
  const RunResult r =
      run_program(GRIDPLOT_EXE, {dir.file("gridmap.log")}, {.env = {fake_gnuplot(dir)}});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(settings(dir).find("set xrange [5:6]\nset yrange [1:2]\n"), std::string::npos);
  EXPECT_EQ(data(dir).substr(0, 18), "5 1 0\n5.5 1 NaN\n6 ");
}

struct Refusal {
  const char* name;
  std::vector<std::string> args;  // LOG is appended
  std::string log;                // "": gridmap's own log of DIAGONAL
  std::string matrix;             // "": gridmap's own matrix
  std::string err;                // after "gridplot: ", with @ for the folder
  int status;
};

const std::string GOOD_MATRIX = "1 0 0 \n0 0 0 \n0 0 2 \n";

const Refusal refusals[] = {
    {"IncompleteRun",
     {},
     "First pass to determine limits ...\n",
     "",
     "@/gridmap.log: not a complete gridmap run (\"All done.\" is missing)",
     1},
    {"FailedLogs",
     {},
     "Limits are :\n\ton x : 0 to 1\n\ton y : 0 to 1\n"
     "\nSecond pass to interpolate on a 3 by 3 grid ...\n"
     "\nNegative values present. Giving-up on writing logs.\n",
     "",
     "@/gridmap.log: not a complete gridmap run (\"All done.\" is missing)",
     1},
    {"NoGridSize",
     {},
     "\ton x : 0.000000 to 1.000000\n\ton y : 0.000000 to 1.000000\nAll done.\n",
     "",
     "@/gridmap.log: not gridmap's output (no grid size or limits of x and y)",
     1},
    {"NoLimits",
     {},
     "\nSecond pass to interpolate on a 3 by 3 grid ...\nAll done.\n",
     "",
     "@/gridmap.log: not gridmap's output (no grid size or limits of x and y)",
     1},
    {"TooFewRows",
     {},
     "",
     "1 0 0 \n0 0 0 \n",
     "@/grid.matrix: 2 rows, but the grid has 3 along x",
     1},
    {"TooManyRows",
     {},
     "",
     GOOD_MATRIX + "0 0 0 \n",
     "@/grid.matrix:4: more rows than the 3 of the grid",
     1},
    {"TooFewValues",
     {},
     "",
     "1 0 0 \n0 0 \n0 0 2 \n",
     "@/grid.matrix:2: 2 values, but the grid has 3 along y",
     1},
    {"TooManyValues",
     {},
     "",
     "1 0 0 0 \n0 0 0 \n0 0 2 \n",
     "@/grid.matrix:1: 4 values, but the grid has 3 along y",
     1},
    {"NotANumber",
     {},
     "",
     "1 0 0 \n0 x 0 \n0 0 2 \n",
     "@/grid.matrix:2: 'x' is not a number of at least 0",
     1},
    {"Negative",
     {},
     "",
     "1 0 0 \n0 -1 0 \n0 0 2 \n",
     "@/grid.matrix:2: '-1' is not a number of at least 0",
     1},
    {"EmptyMatrix", {}, "", "", "@/grid.matrix: 0 rows, but the grid has 3 along x", 1},
    {"AllNodesEmpty",
     {},
     "",
     "0 0 0 \n0 0 0 \n0 0 0 \n",
     "@/grid.matrix: every node is empty: nothing to draw",
     1},
    {"MissingMatrix",
     {"--matrix", "@/none"},
     "",
     "",
     "@/none: cannot open: No such file or directory",
     1},
    {"NoLog", {"--title", "t"}, "", "", "", 2},
    {"UnitWithoutTemperature",
     {"--unit", "kJ/mol"},
     "",
     "",
     "--unit kJ/mol and kcal/mol need --temperature (see gridplot --help)",
     2},
    {"UnknownUnit",
     {"--unit", "K"},
     "",
     "",
     "--unit needs kT, kJ/mol or kcal/mol, not 'K' (see gridplot --help)",
     2},
    {"ZeroTemperature",
     {"--temperature", "0"},
     "",
     "",
     "--temperature needs a number of kelvin above 0, not '0' (see gridplot --help)",
     2},
    {"TwoLineLabel",
     {"--xlabel", "a\nb"},
     "",
     "",
     "--xlabel needs a text of one line (see gridplot --help)",
     2},
    {"UnknownOption", {"--size", "3"}, "", "", "unknown option '--size' (see gridplot --help)", 2},
    {"TooManyFiles",
     {"a", "b"},
     "",
     "",
     "too many files: LOG and OUT at most (see gridplot --help)",
     2},
};

std::string in_folder(std::string text, const TempDir& dir) {
  for (std::size_t at; (at = text.find('@')) != std::string::npos;) text.replace(at, 1, dir.path());
  return text;
}

class GridplotRefusal : public ::testing::TestWithParam<Refusal> {};

// Refused before gnuplot runs: with a stand-in that would accept anything.
TEST_P(GridplotRefusal, OneMessageNoPicture) {
  const Refusal& c = GetParam();
  TempDir dir;
  run_gridmap(dir, DIAGONAL);
  if (!c.log.empty()) dir.write("gridmap.log", c.log);
  if (!c.matrix.empty() || c.name == std::string("EmptyMatrix")) dir.write("grid.matrix", c.matrix);
  std::vector<std::string> args;
  for (const auto& a : c.args) args.push_back(in_folder(a, dir));
  if (c.name != std::string("NoLog")) args.push_back(dir.file("gridmap.log"));
  const RunResult r = run_program(GRIDPLOT_EXE, args, {.env = {fake_gnuplot(dir)}});
  if (c.name == std::string("NoLog")) {
    EXPECT_EQ(r.err, "gridplot: no LOG named (see gridplot --help)\n");
  } else {
    EXPECT_EQ(r.err, "gridplot: " + in_folder(c.err, dir) + "\n");
  }
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.status, c.status);
  EXPECT_FALSE(dir.exists("script"));
  EXPECT_FALSE(dir.exists("landscape.png"));
}

INSTANTIATE_TEST_SUITE_P(Inputs, GridplotRefusal, ::testing::ValuesIn(refusals),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Gridplot, GnuplotMissing) {
  TempDir dir;
  run_gridmap(dir, DIAGONAL);
  std::filesystem::create_directory(dir.file("empty"));
  const RunResult r =
      run_program(GRIDPLOT_EXE, {dir.file("gridmap.log")}, {.env = {"PATH=" + dir.file("empty")}});
  EXPECT_EQ(r.err, NOT_INSTALLED);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(listing(dir), (std::vector<std::string>{"empty", "grid.matrix", "grid_log.matrix",
                                                    "gridmap.log", "points"}));
}

TEST(Gridplot, GnuplotFails) {
  TempDir dir;
  run_gridmap(dir, DIAGONAL);
  dir.write("landscape.png", "an older picture");
  const RunResult r =
      run_program(GRIDPLOT_EXE, {dir.file("gridmap.log")}, {.env = {fake_gnuplot(dir, 3)}});
  EXPECT_EQ(r.err, "gridplot: gnuplot failed (exit status 3)\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(dir.read("landscape.png"), "an older picture");
  EXPECT_EQ(listing(dir),
            (std::vector<std::string>{"bin", "grid.matrix", "grid_log.matrix", "gridmap.log",
                                      "landscape.png", "points", "script"}));
}

TEST(Gridplot, OutputFolderMissing) {
  TempDir dir;
  run_gridmap(dir, DIAGONAL);
  const RunResult r = run_program(GRIDPLOT_EXE, {dir.file("gridmap.log"), dir.file("no/map.png")},
                                  {.env = {fake_gnuplot(dir)}});
  EXPECT_EQ(r.err, "gridplot: " + dir.file("no/map.png") +
                       ": cannot create a file beside it: No such file or directory\n");
  EXPECT_EQ(r.status, 1);
}

TEST(Gridplot, HelpVersionAndAMissingValue) {
  RunResult r = run_program(GRIDPLOT_EXE, {"gridmap.log", "--ylabel"});
  EXPECT_EQ(r.err, "gridplot: --ylabel needs a value (see gridplot --help)\n");
  EXPECT_EQ(r.status, 2);
  r = run_program(GRIDPLOT_EXE, {"--help"});
  EXPECT_EQ(r.out.rfind("Usage: gridplot [options] LOG [OUT]\n", 0), 0u);
  EXPECT_EQ(r.status, 0);
  r = run_program(GRIDPLOT_EXE, {"--version"});
  EXPECT_EQ(r.out.rfind("gridplot (pcgrid) ", 0), 0u);
  EXPECT_EQ(r.status, 0);
}

// The real gnuplot: a picture of 800 x 640 pixels, from a two-column and a
// three-column run.
TEST(Gridplot, DrawsPictures) {
  if (!have_gnuplot()) GTEST_SKIP() << "gnuplot is not installed";
  TempDir dir;
  std::string points;
  for (int i = 0; i < 400; ++i) {
    points += std::to_string(i % 20) + " " + std::to_string((i * 7) % 13) + " " +
              std::to_string(1 + i % 5) + "\n";
  }
  run_gridmap(dir, points, "30");
  RunResult r = run_program(GRIDPLOT_EXE, {"--title", "Map", dir.file("gridmap.log")});
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "");
  ASSERT_EQ(r.status, 0);
  expect_png(dir.file("landscape.png"), 800, 640);
  mode_t mask = umask(0);
  umask(mask);
  struct stat status {};
  ASSERT_EQ(stat(dir.file("landscape.png").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0666 & ~mask);

  std::string xy;
  for (std::size_t at = 0; at < points.size();) {
    const std::size_t end = points.find('\n', at);
    const std::string line = points.substr(at, end - at);
    xy += line.substr(0, line.rfind(' ')) + "\n";
    at = end + 1;
  }
  TempDir two;
  run_gridmap(two, xy, "25");
  r = run_program(GRIDPLOT_EXE,
                  {"--temperature", "310", two.file("gridmap.log"), two.file("f.png")});
  EXPECT_EQ(r.err, "");
  ASSERT_EQ(r.status, 0);
  expect_png(two.file("f.png"), 800, 640);
  EXPECT_EQ(listing(two), (std::vector<std::string>{"f.png", "grid.matrix", "grid_log.matrix",
                                                    "gridmap.log", "points"}));
}

}  // namespace
