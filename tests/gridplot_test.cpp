// End-to-end: gridplot on gridmap's runs. The gnuplot script is checked
// byte for byte through a stand-in gnuplot that keeps it; the pictures
// themselves are drawn when gnuplot is installed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <ostream>
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
  // A complete matrix: after all, or after the means of 0 and below.
  ASSERT_TRUE(r.out.ends_with("All done.\n") ||
              r.out.ends_with("Negative values present. Giving-up on writing logs.\n"))
      << r.out;
  dir.write("gridmap.log", r.out);
}

// A whole PNG file, as small as can be: the signature and the last chunk.
const std::string WHOLE_PNG = std::string("\x89PNG\r\n\x1a\n\0\0\0\0IEND\xae\x42\x60\x82", 20);
const std::string DRAW_PNG =
    "printf '\\211PNG\\r\\n\\032\\n\\0\\0\\0\\0IEND\\256B`\\202' > \"$out\"";

// A stand-in gnuplot in `dir`/bin that keeps its script in `dir`/script,
// then runs the shell commands `action`,
// with $out the file the script draws into: by default, a whole PNG there.
std::string fake_gnuplot(const TempDir& dir, const std::string& action = DRAW_PNG) {
  std::filesystem::create_directory(dir.file("bin"));
  const std::string path = dir.file("bin/gnuplot");
  dir.write("bin/gnuplot", "#!/bin/sh\ncat > '" + dir.file("script") +
                               "'\nout=$(sed -n \"s/^set output '\\(.*\\)'$/\\1/p\" '" +
                               dir.file("script") + "')\n" + action + "\n");
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

// Two points at node (0, 0), one each at (1, 1) and (2, 2); x and y from 0 to 1.
const std::string DIAGONAL = "0 0\n0 0\n1 1\n0.5 0.5\n";

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

// A count run in kT: the picture where the name leads, the colour bar's
// unit, the axes over the limits, empty nodes blank (NaN), and nothing
// left behind.
TEST(Gridplot, FreeEnergyInKT) {
  TempDir dir;
  run_gridmap(dir, DIAGONAL);
  const RunResult r =
      run_program(GRIDPLOT_EXE, {dir.file("gridmap.log")}, {.env = {fake_gnuplot(dir)}});
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "");
  ASSERT_EQ(r.status, 0);
  const std::string script = "\n" + read_file(dir.file("script"));
  for (const std::string line :
       {"set terminal pngcairo size 800,640 noenhanced", "set cblabel 'F (kT)'", "set xrange [0:1]",
        "set yrange [0:1]", "plot $map using 1:2:3 with image notitle"}) {
    EXPECT_NE(script.find("\n" + line + "\n"), std::string::npos) << line << "\n" << script;
  }
  EXPECT_EQ(data(dir),
            "0 0 0\n0.5 0 NaN\n1 0 NaN\n"
            "0 0.5 NaN\n0.5 0.5 0.6931471805599453\n1 0.5 NaN\n"
            "0 1 NaN\n0.5 1 NaN\n1 1 0.6931471805599453\n");
  EXPECT_EQ(read_file(dir.file("landscape.png")), WHOLE_PNG);
  EXPECT_EQ(listing(dir),
            (std::vector<std::string>{"bin", "grid.matrix", "grid_log.matrix", "gridmap.log",
                                      "landscape.png", "points", "script"}));
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
      {{"--temp", "300"},
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
    EXPECT_NE(settings(dir).find(c.settings), std::string::npos) << settings(dir);
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
  EXPECT_NE(settings(dir).find("set cblabel 'mean distance'\nset xrange [-1:3]\nset "
                               "yrange [10:12]\n"),
            std::string::npos)
      << settings(dir);
  EXPECT_EQ(data(dir),
            "-1 10 3\n1 10 NaN\n3 10 NaN\n"
            "-1 11 NaN\n1 11 NaN\n3 11 0.5\n"
            "-1 12 NaN\n1 12 NaN\n3 12 1\n");
  EXPECT_EQ(read_file(dir.file("pictures/z.png")), WHOLE_PNG);
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
  std::string members = "";  // written as @/members when not empty
};

std::ostream& operator<<(std::ostream& out, const Refusal& c) {
  return out << c.name;
}

const std::string GOOD_MATRIX = "1 0 0 \n0 0 0 \n0 0 2 \n";

// A log of a 3 by 3 grid over the limits given.
std::string log_with_limits(const std::string& x, const std::string& y) {
  return "Limits are :\n\ton x : " + x + "\n\ton y : " + y +
         "\n\nSecond pass to interpolate on a 3 by 3 grid ...\nAll done.\n";
}

const std::string MEAN_Z_LOG = "Three columns found. Using the third to calculate sums.\n" +
                               log_with_limits("0.000000 to 1.000000", "0.000000 to 1.000000");

const std::string TOO_COARSE =
    ": the limits of x are printed too coarsely to place its 3 nodes to 1% of their spacing; "
    "scale x up (multiply it by a power of 10) and run gridmap again";
const std::string WINDOWS =
    ": a Windows line end (CR LF); convert the file with dos2unix or tr -d '\\r'";

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
    {"ReversedLimits",
     {},
     "\ton x : 1.000000 to 0.000000\n\ton y : 0.000000 to 1.000000\n"
     "\nSecond pass to interpolate on a 3 by 3 grid ...\nAll done.\n",
     "",
     "@/gridmap.log:1: limits out of order (the first must not be above the second); gridmap "
     "never writes them so: was the log edited?",
     1},
    {"MatrixIsAFolder",
     {"--matrix", "@"},
     "",
     "",
     "@: not a regular file (a folder); --matrix names the grid.matrix file that gridmap wrote",
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
    // A prefix of several names is refused, as getopt_long does when it sees it.
    {"AmbiguousT",
     {"--t", "My title"},
     "",
     "",
     "option '--t' is ambiguous; possibilities: '--temperature' '--title' (see gridplot --help)",
     2},
    {"AmbiguousSt",
     {"--st=5,6"},
     "",
     "",
     "option '--st' is ambiguous; possibilities: '--states' '--state-columns' (see gridplot "
     "--help)",
     2},
    {"AmbiguousZ",
     {"--z", "a"},
     "",
     "",
     "option '--z' is ambiguous; possibilities: '--zlabel' '--zrange' (see gridplot --help)",
     2},
    // Pictures keep labels as text, an SVG as XML: UTF-8 without controls.
    {"LabelNotUtf8",
     {"--xlabel", "caf\xe9"},
     "",
     "",
     "--xlabel needs UTF-8 text; byte 4 is not (convert it with iconv) (see gridplot --help)",
     2},
    {"LabelWithEscape",
     {"--title", "a\x1b[1m"},
     "",
     "",
     "--title needs text without control characters; byte 2 is one (see gridplot --help)",
     2},
    {"ValueOfHelp", {"--help=x"}, "", "", "--help takes no value (see gridplot --help)", 2},
    // x from 1e-7 to 5e-7 is printed from 0 to 0.000001; or both 0.
    {"TinyRange",
     {},
     log_with_limits("0.000000 to 0.000001", "0.000000 to 1.000000"),
     "",
     "@/gridmap.log" + TOO_COARSE,
     1},
    {"EqualLimitsOfARange",
     {},
     log_with_limits("0.000000 to 0.000000", "0.000000 to 1.000000"),
     "",
     "@/gridmap.log" + TOO_COARSE,
     1},
    {"WindowsLog", {}, "Limits are :\r\n", "", "@/gridmap.log:1" + WINDOWS, 1},
    {"WindowsMatrix", {}, "", "1 0 0 \r\n0 0 0 \r\n0 0 2 \r\n", "@/grid.matrix:1" + WINDOWS, 1},
    {"ShortOption", {"-x"}, "", "", "unknown option '-x' (see gridplot --help)", 2},
    {"FmaxOnMeanZ",
     {"--fmax", "3"},
     MEAN_Z_LOG,
     "",
     "--fmax is for free-energy maps, and @/gridmap.log is a mean-z run: use --zrange LOW:HIGH "
     "(see gridplot --help)",
     2},
    {"ZrangeOnFreeEnergy",
     {"--zrange", "0:1"},
     "",
     "",
     "--zrange is for mean-z maps, and @/gridmap.log is a free-energy run: use --fmax F (see "
     "gridplot --help)",
     2},
    {"ZrangeReversed",
     {"--zrange", "2:1"},
     "",
     "",
     "--zrange needs LOW:HIGH, two numbers with LOW below HIGH, not '2:1' (see gridplot --help)",
     2},
    {"ContoursOfZero",
     {"--contours", "0"},
     "",
     "",
     "--contours needs a step above 0, not '0' (see gridplot --help)",
     2},
    // Each level is traced over the whole map: 100 at most.
    {"TooManyContours",
     {"--contours", "0.005"},
     "",
     "",
     "--contours 0.005 gives 138 levels over the map's range, 0 to 0.693147; at most 100 are "
     "drawn: take a step of at least 0.0071 (see gridplot --help)",
     2},
    {"StateColumnsAlone",
     {"--state-columns", "4,3"},
     "",
     "",
     "--state-columns needs --states (see gridplot --help)",
     2},
    {"NotAMemberLine",
     {"--states", "@/members"},
     "",
     "",
     "@/members:2: not a line of clusterback's report (label, cluster number, components)",
     1,
     "         1    1   0.0000000  0.0000000\n         2    0   0.0000000  0.0000000\n"},
    // Components are finite numbers of single precision.
    {"MemberNotANumber",
     {"--states", "@/members"},
     "",
     "",
     "@/members:2: column 4: 'nan' is not a finite number",
     1,
     "         1    1   0.0000000  0.0000000\n         2    1   0.0000000  nan\n"},
    {"MemberBeyondFloat",
     {"--states", "@/members"},
     "",
     "",
     "@/members:1: column 3: '1e40' is beyond the range of single precision",
     1,
     "         1    1   1e40  0.0000000\n"},
    {"MemberColumnMissing",
     {"--states", "@/members", "--state-columns", "3,5"},
     "",
     "",
     "@/members:1: no column 5: the line has 4",
     1,
     "         1    1   0.0000000  0.0000000\n"},
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
  if (!c.members.empty()) dir.write("members", c.members);
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

// A FIFO as the matrix is refused at once rather than waited on.
TEST(Gridplot, MatrixIsAPipe) {
  TempDir dir;
  run_gridmap(dir, DIAGONAL);
  ASSERT_EQ(mkfifo(dir.file("pipe").c_str(), 0600), 0);
  const RunResult r =
      run_program("/usr/bin/timeout",
                  {"10", GRIDPLOT_EXE, "--matrix", dir.file("pipe"), dir.file("gridmap.log")},
                  {.env = {fake_gnuplot(dir)}});
  EXPECT_EQ(r.err, "gridplot: " + dir.file("pipe") +
                       ": not a regular file (a pipe); --matrix names the grid.matrix file that "
                       "gridmap wrote\n");
  EXPECT_EQ(r.status, 1);
}

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

struct GnuplotFailure {
  const char* name;
  std::string out;     // the picture, an older one in place
  std::string action;  // of the stand-in gnuplot
  std::string err;     // with @ for the picture's path
};

std::ostream& operator<<(std::ostream& out, const GnuplotFailure& c) {
  return out << c.name;
}

const GnuplotFailure gnuplot_failures[] = {
    {"ExitStatus", "landscape.png", "exit 3", "gridplot: gnuplot failed (exit status 3)\n"},
    {"ItsMessagesFirst", "landscape.png", "echo 'line 9: bad' >&2; echo out; exit 1",
     "line 9: bad\nout\ngridplot: gnuplot failed (exit status 1)\n"},
    // Found but not started (a library it could not load, too little memory).
    {"CouldNotStart", "landscape.png", "echo 'cannot load libx.so' >&2; exit 127",
     "cannot load libx.so\ngridplot: gnuplot could not start (exit status 127)\n"},
    {"KilledBySignal", "landscape.png", "kill -9 $$", "gridplot: gnuplot was killed by signal 9\n"},
    // A full disk: gnuplot ends well, its picture does not.
    {"CutPng", "landscape.png", "printf '\\211PNG\\r\\n\\032\\n' > \"$out\"",
     "gridplot: gnuplot wrote no whole PNG picture (is the disk full?); @ was left as it was\n"},
    {"CutSvg", "map.svg", "printf '<svg>\\n<g>\\n' > \"$out\"",
     "gridplot: gnuplot wrote no whole SVG picture (is the disk full?); @ was left as it was\n"},
    {"SvgNotXml", "map.svg", "printf '<svg><g></svg>\\n' > \"$out\"",
     "gridplot: gnuplot wrote an SVG picture that is not well-formed XML; @ was left as it "
     "was\n"},
    {"CutPdf", "map.pdf", "printf '%s\\n' '%PDF-1.4' > \"$out\"",
     "gridplot: gnuplot wrote no whole PDF picture (is the disk full?); @ was left as it was\n"},
};

class GridplotGnuplotFailure : public ::testing::TestWithParam<GnuplotFailure> {};

TEST_P(GridplotGnuplotFailure, OlderPictureKept) {
  const GnuplotFailure& c = GetParam();
  TempDir dir;
  run_gridmap(dir, DIAGONAL);
  dir.write(c.out, "an older picture");
  const RunResult r = run_program(GRIDPLOT_EXE, {dir.file("gridmap.log"), dir.file(c.out)},
                                  {.env = {fake_gnuplot(dir, c.action)}});
  std::string err = c.err;
  if (const std::size_t at = err.find('@'); at != std::string::npos) {
    err.replace(at, 1, dir.file(c.out));
  }
  EXPECT_EQ(r.err, err);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(dir.read(c.out), "an older picture");
  std::vector<std::string> expected = {
      "bin", "grid.matrix", "grid_log.matrix", "gridmap.log", "points", "script", c.out};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(listing(dir), expected);
}

INSTANTIATE_TEST_SUITE_P(Gnuplot, GridplotGnuplotFailure, ::testing::ValuesIn(gnuplot_failures),
                         [](const auto& info) { return std::string(info.param.name); });

// Where the picture goes: a link's target, an existing file's permissions,
// a FIFO or standard output written in place.
struct Destination {
  const char* name;
  std::string out;  // OUT, in the folder; "-" for standard output
};

std::ostream& operator<<(std::ostream& out, const Destination& c) {
  return out << c.name;
}

const Destination destinations[] = {
    {"LinkFollowed", "link.png"},
    {"ModeKept", "private.png"},
    {"Fifo", "fifo"},
    {"StandardOutput", "-"},
};

class GridplotDestination : public ::testing::TestWithParam<Destination> {};

mode_t mode_of(const std::string& path) {
  struct stat status {};
  EXPECT_EQ(lstat(path.c_str(), &status), 0) << path;
  return status.st_mode;
}

TEST_P(GridplotDestination, PictureWhereTheNameLeads) {
  const Destination& c = GetParam();
  TempDir dir;
  run_gridmap(dir, DIAGONAL);
  dir.write("target.png", "an older picture");
  chmod(dir.file("target.png").c_str(), 0640);
  std::filesystem::create_symlink("target.png", dir.file("link.png"));
  dir.write("private.png", "an older picture");
  chmod(dir.file("private.png").c_str(), 0600);
  ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0644), 0);
  // Opened for reading first, so that the writer does not wait for a reader.
  const int fifo = open(dir.file("fifo").c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(fifo, 0);
  const std::string out = c.out == "-" ? c.out : dir.file(c.out);
  const RunResult r =
      run_program(GRIDPLOT_EXE, {dir.file("gridmap.log"), out}, {.env = {fake_gnuplot(dir)}});
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  char piped[64] = {};
  const ssize_t got = read(fifo, piped, sizeof piped);
  close(fifo);
  EXPECT_TRUE(S_ISLNK(mode_of(dir.file("link.png"))));
  EXPECT_TRUE(S_ISFIFO(mode_of(dir.file("fifo"))));
  EXPECT_EQ(mode_of(dir.file("target.png")) & 07777, 0640u);
  EXPECT_EQ(mode_of(dir.file("private.png")) & 07777, 0600u);
  const std::string name = c.name;
  EXPECT_EQ(dir.read("target.png"), name == "LinkFollowed" ? WHOLE_PNG : "an older picture");
  EXPECT_EQ(dir.read("private.png"), name == "ModeKept" ? WHOLE_PNG : "an older picture");
  EXPECT_EQ(std::string(piped, got > 0 ? got : 0), name == "Fifo" ? WHOLE_PNG : "");
  EXPECT_EQ(r.out, name == "StandardOutput" ? WHOLE_PNG : "");
  EXPECT_EQ(listing(dir), (std::vector<std::string>{"bin", "fifo", "grid.matrix", "grid_log.matrix",
                                                    "gridmap.log", "link.png", "points",
                                                    "private.png", "script", "target.png"}));
}

INSTANTIATE_TEST_SUITE_P(Outputs, GridplotDestination, ::testing::ValuesIn(destinations),
                         [](const auto& info) { return std::string(info.param.name); });

// Names that lead to anonymous pipes (/dev/stdout, /dev/fd/N) are written
// in place, as FIFOs are.
TEST(Gridplot, OutputsThatArePipes) {
  TempDir dir;
  run_gridmap(dir, DIAGONAL);
  const RunResult r =
      run_program(GRIDPLOT_EXE, {"--data", "/dev/fd/2", dir.file("gridmap.log"), "/dev/stdout"},
                  {.env = {fake_gnuplot(dir)}});
  EXPECT_EQ(r.err, "0 0 0\n\n0.5 0.5 0.6931471805599453\n\n1 1 0.6931471805599453\n\n");
  EXPECT_EQ(r.out, WHOLE_PNG);
  EXPECT_EQ(r.status, 0);
}

// An output that is also an input is refused before anything is written.
TEST(Gridplot, OutputThatIsAnInput) {
  TempDir dir;
  run_gridmap(dir, DIAGONAL);
  std::filesystem::create_hard_link(dir.file("grid.matrix"), dir.file("same.png"));
  const std::string log = dir.read("gridmap.log");
  const std::string matrix = dir.read("grid.matrix");
  const std::string path = fake_gnuplot(dir);
  for (const std::string out : {"grid.matrix", "gridmap.log", "same.png"}) {
    const std::string input = out == "gridmap.log" ? "gridmap.log" : "grid.matrix";
    const RunResult r =
        run_program(GRIDPLOT_EXE, {dir.file("gridmap.log"), dir.file(out)}, {.env = {path}});
    EXPECT_EQ(r.err, "gridplot: " + dir.file(out) + ": is also an input (" + dir.file(input) +
                         "); name another output\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(dir.read("gridmap.log"), log);
    EXPECT_EQ(dir.read("grid.matrix"), matrix);
    EXPECT_FALSE(dir.exists("script"));
  }
}

// A signal that ends the process, while gnuplot draws: gnuplot is stopped
// too, and nothing is left.
class GridplotStopped : public ::testing::TestWithParam<int> {};

TEST_P(GridplotStopped, WhileDrawing) {
  const int signal = GetParam();
  TempDir dir;
  run_gridmap(dir, DIAGONAL);
  dir.write("landscape.png", "an older picture");
  const std::string path =
      fake_gnuplot(dir, "echo $$ > '" + dir.file("pid.tmp") + "'; mv '" + dir.file("pid.tmp") +
                            "' '" + dir.file("pid") + "'; exec sleep 60");
  const std::string err = dir.file("err");
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    const int fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, STDERR_FILENO);
    setenv("PATH", path.substr(5).c_str(), 1);
    execl(GRIDPLOT_EXE, "gridplot", dir.file("gridmap.log").c_str(), nullptr);
    _exit(127);
  }
  for (int tries = 0; tries < 1000 && !dir.exists("pid"); ++tries) usleep(10000);
  ASSERT_TRUE(dir.exists("pid"));
  const pid_t gnuplot = std::stoi(dir.read("pid"));
  kill(pid, signal);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
  EXPECT_EQ(read_file(err), "gridplot: stopped by signal " + std::to_string(signal) + "; " +
                                dir.file("landscape.png") + " was left as it was\n");
  EXPECT_EQ(kill(gnuplot, 0), -1);
  if (kill(gnuplot, 0) == 0) kill(gnuplot, SIGKILL);
  EXPECT_EQ(dir.read("landscape.png"), "an older picture");
  EXPECT_EQ(listing(dir),
            (std::vector<std::string>{"bin", "err", "grid.matrix", "grid_log.matrix", "gridmap.log",
                                      "landscape.png", "pid", "points", "script"}));
}

// gnuplot writes a label's "]]>" as it is, which XML does not allow in
// text, and the bold font as a family no reader has: both made right.
TEST(Gridplot, SvgTextEscaped) {
  TempDir dir;
  run_gridmap(dir, DIAGONAL);
  const RunResult r = run_program(
      GRIDPLOT_EXE, {"--xlabel", "]]>", dir.file("gridmap.log"), dir.file("map.svg")},
      {.env = {fake_gnuplot(dir,
                            "printf '<svg a=\"]]>\"><text>]]> &lt;</text><g "
                            "font-family=\"sans-serif:Bold\">1</g></svg>\\n' > \"$out\"")}});
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(dir.read("map.svg"),
            "<svg a=\"]]&gt;\"><text>]]&gt; &lt;</text><g font-family=\"sans-serif\" "
            "font-weight=\"bold\">1</g></svg>\n");
}

// The largest grid in 100 MB of address space: drawn, or refused as out of
// memory with nothing left behind.
TEST(Gridplot, LargestGridInLittleMemory) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers' shadow memory needs terabytes of addresses";
#endif
  TempDir dir;
  std::string points;
  for (int i = 0; i <= 1000; ++i) {
    points += std::to_string(i) + " " + std::to_string(i * 7 % 1001) + "\n";
  }
  run_gridmap(dir, points, "1001");
  // Every node holds a different count: a value of many digits each.
  std::string matrix;
  for (int j = 0; j < 1001; ++j) {
    for (int k = 0; k < 1001; ++k) matrix += std::to_string(j * 1001 + k + 1) + " ";
    matrix += "\n";
  }
  dir.write("grid.matrix", matrix);
  const RunResult r =
      run_program(GRIDPLOT_EXE, {"--data", dir.file("map.txt"), dir.file("gridmap.log")},
                  {.env = {fake_gnuplot(dir, DRAW_PNG + "; rm '" + dir.file("script") + "'")},
                   .address_space_limit = 100'000'000});
  if (r.status == 0) {
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(dir.read("landscape.png"), WHOLE_PNG);
  } else {
    EXPECT_EQ(r.err, "gridplot: out of memory\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(dir.exists("landscape.png"));
    EXPECT_FALSE(dir.exists("map.txt"));
  }
  for (const std::string& name : listing(dir)) {
    EXPECT_EQ(name.find('.', name.find('.') + 1), std::string::npos) << "a temporary: " << name;
  }
}

INSTANTIATE_TEST_SUITE_P(Signals, GridplotStopped,
                         ::testing::Values(SIGTERM, SIGUSR1, SIGALRM, SIGRTMIN + 1),
                         [](const auto& info) { return std::to_string(info.param); });

// gridmap writes grid.matrix in its current folder, and the log where its
// output was sent: the message says where the matrix was looked for, and
// points at one in the current folder.
TEST(Gridplot, MatrixNotBesideTheLog) {
  TempDir dir;
  run_gridmap(dir, DIAGONAL);
  std::filesystem::create_directory(dir.file("out"));
  std::filesystem::rename(dir.file("gridmap.log"), dir.file("out/gridmap.log"));
  const std::string path = fake_gnuplot(dir);
  const std::string looked =
      "gridplot: out/grid.matrix: cannot open: No such file or directory (the matrix is looked "
      "for beside out/gridmap.log; --matrix names another file";
  RunResult r = run_program(GRIDPLOT_EXE, {"out/gridmap.log"}, {.cwd = dir.path(), .env = {path}});
  EXPECT_EQ(r.err, looked + "; the current folder has a grid.matrix: --matrix grid.matrix)\n");
  EXPECT_EQ(r.status, 1);
  std::filesystem::remove(dir.file("grid.matrix"));
  r = run_program(GRIDPLOT_EXE, {"out/gridmap.log"}, {.cwd = dir.path(), .env = {path}});
  EXPECT_EQ(r.err, looked + ")\n");
  EXPECT_EQ(r.status, 1);
}

// A picture for standard output is drawn in $TMPDIR, named when missing.
TEST(Gridplot, TemporaryFolderMissing) {
  TempDir dir;
  run_gridmap(dir, DIAGONAL);
  const RunResult r = run_program(GRIDPLOT_EXE, {dir.file("gridmap.log"), "-"},
                                  {.env = {fake_gnuplot(dir), "TMPDIR=" + dir.file("none")}});
  EXPECT_EQ(r.err, "gridplot: cannot create a temporary picture in " + dir.file("none") +
                       " ($TMPDIR): No such file or directory\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
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

// The real gnuplot starts without the user's start-up file, and its warnings
// on a map of one value (an empty colour range) are not shown.
TEST(Gridplot, GnuplotStartsCleanAndQuiet) {
  if (!have_gnuplot()) GTEST_SKIP() << "gnuplot is not installed";
  TempDir dir;
  run_gridmap(dir, "0 0\n1 1\n0.5 0.5\n");
  dir.write(".gnuplot", "set datafile separator ','\nsystem 'touch " + dir.file("started") + "'\n");
  const RunResult r =
      run_program(GRIDPLOT_EXE, {dir.file("gridmap.log")}, {.env = {"HOME=" + dir.path()}});
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  expect_png(dir.file("landscape.png"), 800, 640);
  EXPECT_FALSE(dir.exists("started"));
}

// --data: the values drawn, "x y value" per non-empty node, a blank line
// after each x row; of counts, of weights and over the limits given
// (hand-written: the log lines and matrix of gridmap --weights and
// --limits) and of mean z, negative means included.
struct MapData {
  const char* name;
  std::string points;    // for gridmap GRID 3
  std::string log_line;  // added to gridmap's log
  std::string matrix;    // when not empty, the matrix instead of gridmap's
  std::vector<std::string> args;
  std::string data;
};

std::ostream& operator<<(std::ostream& out, const MapData& c) {
  return out << c.name;
}

const MapData map_data[] = {
    {"Counts",
     DIAGONAL,
     "",
     "",
     {},
     "0 0 0\n\n0.5 0.5 0.6931471805599453\n\n1 1 0.6931471805599453\n\n"},
    {"CountsInKJPerMol",
     DIAGONAL,
     "",
     "",
     {"--temperature", "300"},
     "0 0 0\n\n0.5 0.5 1.7289438927183334\n\n1 1 1.7289438927183334\n\n"},
    {"Weights",
     DIAGONAL,
     "Three columns found. Using the third as weights.\n",
     "2.5000000e+00 0.0000000e+00 0.0000000e+00 \n0.0000000e+00 0.0000000e+00 0.0000000e+00 \n"
     "0.0000000e+00 0.0000000e+00 1.0000000e+00 \n",
     {},
     "0 0 0\n\n\n1 1 0.9162907318741551\n\n"},
    {"GivenLimits",
     DIAGONAL,
     "Using the limits given: x -1.000000 to 1.000000, y 0.000000 to 2.000000\n",
     "",
     {},
     "-1 0 0\n\n0 1 0.6931471805599453\n\n1 2 0.6931471805599453\n\n"},
    // Node 1 lies at 0.1 + 0.4 / 2, 0.30000000000000004 in double precision.
    {"ShortestCoordinates",
     "0.1 0.1\n0.5 0.5\n0.3 0.3\n",
     "",
     "",
     {},
     "0.1 0.1 0\n\n0.3 0.3 0\n\n0.5 0.5 0\n\n"},
    {"NegativeMeans",
     "0 0 -2\n0 0 -4\n1 1 0.5\n0.5 0.5 1\n",
     "",
     "",
     {},
     "0 0 -3\n\n0.5 0.5 1\n\n1 1 0.5\n\n"},
};

class GridplotData : public ::testing::TestWithParam<MapData> {};

TEST_P(GridplotData, ValuesDrawn) {
  const MapData& c = GetParam();
  TempDir dir;
  run_gridmap(dir, c.points);
  std::string log = dir.read("gridmap.log");
  dir.write("gridmap.log", log.insert(log.find("\nSecond pass"), c.log_line));
  if (!c.matrix.empty()) dir.write("grid.matrix", c.matrix);
  std::vector<std::string> args = c.args;
  args.insert(args.end(), {"--data", dir.file("map.txt"), dir.file("gridmap.log")});
  const RunResult r = run_program(GRIDPLOT_EXE, args, {.env = {fake_gnuplot(dir)}});
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(dir.read("map.txt"), c.data);
  EXPECT_EQ(dir.read("landscape.png"), WHOLE_PNG);
}

INSTANTIATE_TEST_SUITE_P(Maps, GridplotData, ::testing::ValuesIn(map_data),
                         [](const auto& info) { return std::string(info.param.name); });

// --minus: dF = -ln(p_LOG / p_OTHER) of each node's share of its run, on
// a scale symmetric about 0; nodes empty in either run blank; runs on
// other grids refused, naming what differs.
TEST(Gridplot, MinusDrawsTheDifference) {
  TempDir other, dir, wide;
  run_gridmap(other, DIAGONAL);                                // shares 1/2, 1/4, 1/4
  run_gridmap(dir, "0 0\n1 1\n1 1\n0.5 0.5\n0.5 0.5\n0 1\n");  // 1/6, 1/3, 1/3 and 1/6
  run_gridmap(wide, "0 0\n2 1\n");
  const std::string path = fake_gnuplot(dir);
  RunResult r = run_program(
      GRIDPLOT_EXE,
      {"--minus", other.file("gridmap.log"), "--data", dir.file("dF.txt"), dir.file("gridmap.log")},
      {.env = {path}});
  EXPECT_EQ(r.err, "");
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(dir.read("dF.txt"),
            "0 0 1.0986122886681098\n\n0.5 0.5 -0.28768207245178085\n\n"
            "1 1 -0.28768207245178085\n\n");
  const std::string script = read_file(dir.file("script"));
  EXPECT_NE(script.find("\nset cbrange [-1.0986122886681098:1.0986122886681098]\n"),
            std::string::npos)
      << script;
  EXPECT_NE(script.find("\nset cblabel '\u0394F (kT)'\n"), std::string::npos) << script;

  r = run_program(
      GRIDPLOT_EXE,
      {"--minus", wide.file("gridmap.log"), "--zrange", "-2:2", dir.file("gridmap.log")},
      {.env = {path}});
  EXPECT_EQ(r.err, "gridplot: " + wide.file("gridmap.log") + " and " + dir.file("gridmap.log") +
                       " are on different grids: x from 0 to 2 against 0 to 1 (give both runs "
                       "the same gridmap --limits)\n");
  EXPECT_EQ(r.status, 1);
}

// The lines of the script that carry each option.
struct ScriptOption {
  const char* name;
  std::string points;  // for gridmap GRID 3
  std::vector<std::string> args;
  std::vector<std::string> lines;  // each in the script, whole
};

std::ostream& operator<<(std::ostream& out, const ScriptOption& c) {
  return out << c.name;
}

// clusterback's report of DIAGONAL's points, and of some others: state 1
// most at node (0, 0); state 2 once at (1, 1) and at (2, 2), the smaller j
// taken; state 3 only outside the limits; state 4 at x 1, y 0.
const std::string MEMBERS =
    "         1    1   0.0000000  0.0000000 9\n"
    "         2    1   0.0000000  0.0000000 9\n"
    "         3    2   1.0000000  1.0000000 9\n"
    "         4    1   0.5000000  0.5000000 9\n"
    "         5    2   0.5000000  0.5000000 9\n"
    "         6    3   5.0000000  0.5000000 9\n"
    "         7    4   1.0000000  0.0000000 9\n";

const ScriptOption script_options[] = {
    {"Fmax", DIAGONAL, {"--fmax", "2.5"}, {"set cblabel 'F (kT)'", "set cbrange [0:2.5]"}},
    {"Zrange",
     "0 0 2\n1 1 4\n",
     {"--zrange", "-1:3.5"},
     {"set cblabel 'mean z'", "set cbrange [-1:3.5]"}},
    {"Contours",
     DIAGONAL,
     {"--contours", "0.25"},
     {"set contour base", "set cntrparam levels incremental 0.25,0.25,0.6931471805599453",
      "plot $map using 1:2:3 with image notitle, $contours using 1:2 with lines lc rgb "
      "'#ffffff' lw 1 notitle"}},
    {"States",
     DIAGONAL,
     {"--states", "@/members"},
     {"set label '1' at 0,0 center front font 'sans-serif:Bold,13' textcolor rgb '#000000'",
      "set label '2' at 0.5,0.5 center front font 'sans-serif:Bold,13' textcolor rgb '#000000'",
      "set label '4' at 1,0 center front font 'sans-serif:Bold,13' textcolor rgb '#000000'"}},
    {"StateColumns",
     DIAGONAL,
     {"--states", "@/members", "--state-columns", "4,3"},
     {"set label '1' at 0,0 center front font 'sans-serif:Bold,13' textcolor rgb '#000000'",
      "set label '2' at 0.5,0.5 center front font 'sans-serif:Bold,13' textcolor rgb '#000000'",
      "set label '4' at 0,1 center front font 'sans-serif:Bold,13' textcolor rgb '#000000'"}},
};

class GridplotScript : public ::testing::TestWithParam<ScriptOption> {};

TEST_P(GridplotScript, LinesOfTheOption) {
  const ScriptOption& c = GetParam();
  TempDir dir;
  run_gridmap(dir, c.points);
  dir.write("members", MEMBERS);
  std::vector<std::string> args;
  for (const auto& a : c.args) args.push_back(in_folder(a, dir));
  args.push_back(dir.file("gridmap.log"));
  const RunResult r = run_program(GRIDPLOT_EXE, args, {.env = {fake_gnuplot(dir)}});
  EXPECT_EQ(r.err, "");
  ASSERT_EQ(r.status, 0);
  const std::string script = "\n" + read_file(dir.file("script"));
  for (const std::string& line : c.lines) {
    EXPECT_NE(script.find("\n" + line + "\n"), std::string::npos) << line << "\n" << script;
  }
  EXPECT_EQ(script.find("set label") == std::string::npos, c.args[0] != "--states") << script;
  EXPECT_EQ(script.find("set label '3'"), std::string::npos) << "state 3 is outside the map";
}

INSTANTIATE_TEST_SUITE_P(Options, GridplotScript, ::testing::ValuesIn(script_options),
                         [](const auto& info) { return std::string(info.param.name); });

// The real gnuplot draws every format, with every option that draws; any
// other extension is a usage error.
TEST(Gridplot, DrawsEveryFormat) {
  if (!have_gnuplot()) GTEST_SKIP() << "gnuplot is not installed";
  TempDir dir;
  run_gridmap(dir, DIAGONAL + "0.1 0.1\n0.9 0.8\n0.4 0.6\n", "20");
  dir.write("members", MEMBERS);
  const struct {
    const char* out;
    std::string start;
  } formats[] = {{"map.png", "\x89PNG"}, {"map.svg", "<?xml"}, {"map.PDF", "%PDF-"}};
  for (const auto& f : formats) {
    const RunResult r = run_program(
        GRIDPLOT_EXE, {"--title", "a ]]> & <b>", "--contours", "0.5", "--fmax", "3", "--states",
                       dir.file("members"), dir.file("gridmap.log"), dir.file(f.out)});
    EXPECT_EQ(r.err, "") << f.out;
    EXPECT_EQ(r.status, 0) << f.out;
    const std::string picture = read_file(dir.file(f.out));
    EXPECT_GT(picture.size(), 1000u) << f.out;
    EXPECT_EQ(picture.substr(0, f.start.size()), f.start) << f.out;
  }
  const RunResult r = run_program(GRIDPLOT_EXE, {dir.file("gridmap.log"), dir.file("map.jpg")});
  EXPECT_EQ(r.err, "gridplot: '" + dir.file("map.jpg") +
                       "' is not a .png, .svg or .pdf picture (see gridplot --help)\n");
  EXPECT_EQ(r.status, 2);
  EXPECT_FALSE(dir.exists("map.jpg"));
}

}  // namespace
