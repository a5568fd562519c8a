// End-to-end: lettercode's standard output, standard error and exit status.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "run_program.hpp"

namespace {

using pcgrid::testing::run_program;

std::string report(int n, int dim, int g) {
  return "Read " + std::to_string(n) + " vectors (" + std::to_string(dim) +
         "-dimensional).\nGrid along each dimension set to " + std::to_string(g) + ".\n";
}

std::string refused(const std::string& line) {
  return "Failed to read PCs at line " + line + "\n";
}

struct Case {
  const char* name;
  std::string input;
  std::string out;
  std::string err;
  int status;
};

// A case is shown by its name, in test lists and failures alike.
void PrintTo(const Case& c, std::ostream* out) {
  *out << c.name;
}

std::string repeat(const std::string& s, int times) {
  std::string r;
  for (int i = 0; i < times; ++i) r += s;
  return r;
}

// 998 characters: a label, blanks, a component.
const std::string line998 = "1" + std::string(996, ' ') + "5";

const Case cases[] = {
    {"ThreeVectors", "1 0 0\n2 0.5 1.0\n3 1.0 0.5\n", "AA\nCF\nFC\n", report(3, 2, 5), 0},
    {"LastLineWithoutNewline", "1 0\n2 1", "A\nF\n", report(2, 1, 5), 0},
    {"OneDimensionZeroAndFortyOne", "1 0\n2 41\n", "A\nF\n", report(2, 1, 5), 0},
    {"LabelsOnly", "5\n6\n-7\n", "\n\n\n", report(3, 0, 5), 0},
    {"CommaSeparatedIsLabelsOnly", "1,0.5,2.5\n2,1.0,3.0\n", "\n\n", report(2, 0, 5), 0},
    {"RepeatedValueIsA", "1 4 0\n2 4 1\n", "AA\nAF\n", report(2, 2, 5), 0},
    {"OneVector", "9 1 2 3\n", "AAA\n", report(1, 3, 5), 0},
    {"MoreFieldsThanFirstLine", "1 0 0\n2 1 1 7 8\n", "AA\nFF\n", report(2, 2, 5), 0},
    {"RealLabel", "12.5 0.1 0.2\n12.5 0.1\n3 0 0\n", "FF\nFF\nAA\n", report(3, 2, 5), 0},
    {"SignStartsNextField", "1 -1-2\n2 1 2\n", "AA\nFF\n", report(2, 2, 5), 0},
    {"TenComponents", "1 0 0 0 0 0 0 0 0 0 0\n2 1 1 1 1 1 1 1 1 1 1\n", "AAAAAAAAAA\nFFFFFFFFFF\n",
     report(2, 10, 5), 0},
    {"LabelLimits", "2147483647 0\n-2147483648 1\n", "A\nF\n", report(2, 1, 5), 0},
    {"HugeRange", "1 -3e38\n2 3e38\n3 0\n", "A\nF\nA\n", report(3, 1, 5), 0},
    {"Line998IsWhole", line998 + "\n" + line998 + "\n", "A\nA\n", report(2, 1, 5), 0},
    {"Line999IsSplit", line998 + "0\n", "", refused("\n"), 1},
    {"SplitRestIsALine", "1" + std::string(997, ' ') + "5" + "2 7\n", "A\nF\n", report(2, 1, 5), 0},
    {"NulEndsTheLine", std::string("1 2\0garbage\n2 3\n", 16), "A\nF\n", report(2, 1, 5), 0},
    {"NulInRefusedLine", std::string("1 2\n2 x\0abc\n", 12), "", refused("2 x"), 1},
    {"EmptyInput", "", "", "Failed to read any input (?!). Abort.\n", 1},
    {"OneEmptyLine", "\n", "", refused("\n"), 1},
    {"TrailingEmptyLine", "1 2\n\n", "", refused("\n"), 1},
    {"FewerFieldsThanFirstLine", "1 0.5 2.5\n2 1.0\n", "", refused("2 1.0\n"), 1},
    {"LetterEndsLabel", "1 2\n7abc 1\n", "", refused("7abc 1\n"), 1},
    {"CommaFailsComponent", "1 2 3\n2 1,3\n", "", refused("2 1,3\n"), 1},
    {"NoNumberButLabel", "0x 1 2\n", "", refused("0x 1 2\n"), 1},
    {"LabelBeyond32Bits", "1 2\n2147483648 3\n", "", refused("2147483648 3\n"), 1},
    {"LabelBelow32Bits", "-2147483649 3\n", "", refused("-2147483649 3\n"), 1},
    {"NanComponent", "1 2\n2 nan\n", "", refused("2 nan\n"), 1},
    {"InfComponent", "1 inf\n", "", refused("1 inf\n"), 1},
    {"OverflowingComponent", "1 2\n2 1e400\n", "", refused("2 1e400\n"), 1},
    {"ElevenComponents", "1 1 2 3 4 5 6 7 8 9 10 11\n", "",
     "Too many columns on the first line: at most 10 components per vector.\n", 1},
};

class LettercodeCase : public ::testing::TestWithParam<Case> {};

TEST_P(LettercodeCase, OutputErrorsAndStatus) {
  const Case& c = GetParam();
  const auto r = run_program(LETTERCODE_EXE, {}, {.input = c.input});
  EXPECT_EQ(r.out, c.out);
  EXPECT_EQ(r.err, c.err);
  EXPECT_EQ(r.status, c.status);
}

INSTANTIATE_TEST_SUITE_P(Inputs, LettercodeCase, ::testing::ValuesIn(cases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Lettercode, GridOfSixUsesSevenLetters) {
  std::string input;
  for (int i = 0; i < 158; ++i) input += std::to_string(i) + " " + std::to_string(i) + "\n";
  const auto r = run_program(LETTERCODE_EXE, {"ignored", "arguments"}, {.input = input});
  EXPECT_EQ(r.err, report(158, 1, 6));
  EXPECT_EQ(r.out.substr(0, 2), "A\n");
  EXPECT_EQ(r.out.substr(r.out.size() - 2), "G\n");
  EXPECT_EQ(r.status, 0);
}

TEST(Lettercode, WriteErrorIsReported) {
  const auto r =
      run_program(LETTERCODE_EXE, {}, {.input = "1 0\n2 1\n", .stdout_path = "/dev/full"});
  EXPECT_EQ(r.err,
            report(2, 1, 5) + "Failed to write to standard output: No space left on device\n");
  EXPECT_EQ(r.status, 1);
}

TEST(Lettercode, TableCapacity) {
  const std::string full = repeat("1\n", 25'000'000);
  auto r = run_program(LETTERCODE_EXE, {}, {.input = full});
  EXPECT_EQ(r.err, report(25'000'000, 0, 51));
  EXPECT_EQ(r.out.size(), 25'000'000u);
  EXPECT_EQ(r.status, 0);

  r = run_program(LETTERCODE_EXE, {}, {.input = full + "2\n"});
  EXPECT_EQ(r.err, "Too many vectors: at most 25000000 can be read.\n");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.status, 1);

  // A grid file's grid takes a table of any length, streaming through.
  r = run_program(LETTERCODE_EXE, {"--grid-of"}, {.input = full + "2\n"});
  const std::string grid = "pcgrid grid\ndimensions 0\nvectors 25000001\nintervals 51\n";
  EXPECT_EQ(r.out, grid);
  EXPECT_EQ(r.status, 0);
  pcgrid::testing::TempDir dir;
  dir.write("grid", grid);
  r = run_program(LETTERCODE_EXE, {"--grid", dir.file("grid")}, {.input = full + "2\n"});
  EXPECT_EQ(r.out.size(), 25'000'001u);
  EXPECT_EQ(r.status, 0);
}

}  // namespace

namespace {

// Tables long enough to be parsed on several threads: the words, and the
// first refused line, are the same on any number of them.
TEST(Lettercode, ThreadCountDoesNotMatter) {
  std::string table;
  unsigned state = 12345;
  for (int i = 0; i < 200'000; ++i) {
    state = state * 1103515245u + 12345u;
    table += std::to_string(i) + " " + std::to_string(state % 1000) + "e-3 -" +
             std::to_string(state % 77) + ".5\n";
  }
  std::string bad = table;
  bad.insert(bad.find("\n150000 ") + 1, "150000 0.5 x\n");
  bad.insert(bad.find("\n190000 ") + 1, "190000 y\n");
  std::string words;
  for (const char* threads : {"1", "2", "7"}) {
    const auto r = run_program(
        LETTERCODE_EXE, {}, {.input = table, .env = {std::string("OMP_NUM_THREADS=") + threads}});
    EXPECT_EQ(r.err, report(200'000, 2, 23)) << threads;
    EXPECT_EQ(r.status, 0) << threads;
    if (words.empty()) words = r.out;
    EXPECT_EQ(r.out, words) << threads;
    const auto refused_run = run_program(
        LETTERCODE_EXE, {}, {.input = bad, .env = {std::string("OMP_NUM_THREADS=") + threads}});
    EXPECT_EQ(refused_run.err, refused("150000 0.5 x\n")) << threads;
    EXPECT_EQ(refused_run.out, "") << threads;
    EXPECT_EQ(refused_run.status, 1) << threads;
  }
  EXPECT_EQ(words.size(), 200'000u * 3);
}

}  // namespace

// Grid files: --grid-of, and --grid, which streams the table through.
namespace {

using pcgrid::testing::TempDir;

// A table of n vectors with two components, of many magnitudes and signs.
std::string mixed_table(int n, unsigned seed) {
  std::string table;
  unsigned state = seed;
  for (int i = 0; i < n; ++i) {
    state = state * 1103515245u + 12345u;
    table += std::to_string(i) + " " + std::to_string(static_cast<int>(state % 2001) - 1000) +
             "e-" + std::to_string(state % 5) + " " + (state % 7 == 0 ? "-0" : "0.1") +
             std::to_string(state % 977) + "\n";
  }
  return table;
}

std::string grid_of(const std::vector<std::string>& args, const std::string& input = "",
                    const std::string& threads = "2") {
  std::vector<std::string> all{"--grid-of"};
  all.insert(all.end(), args.begin(), args.end());
  const auto r = run_program(LETTERCODE_EXE, all,
                             {.input = input, .env = {"OMP_NUM_THREADS=" + threads}});
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  return r.out;
}

TEST(LettercodeGrid, SmallGridFile) {
  EXPECT_EQ(grid_of({}, "1 0 0\n2 0.5 1.0\n3 1.0 0.5\n4 -0 0.1\n"),
            "pcgrid grid\ndimensions 2\nvectors 4\nintervals 5\nlimits 0 1\nlimits 0 1\n");
  EXPECT_EQ(grid_of({}, "1 -0 3e38\n2 0 -1.17549435e-38\n"),
            "pcgrid grid\ndimensions 2\nvectors 2\nintervals 5\nlimits -0 -0\n"
            "limits -1.1754944e-38 3e+38\n");
  EXPECT_EQ(grid_of({}, "7\n8\n"), "pcgrid grid\ndimensions 0\nvectors 2\nintervals 5\n");
}

// The grid of tables a, b and c is the same from the files, from their
// lines joined, from their grid files, and on any number of threads; with
// it, the words are those of the joined table's own grid.
TEST(LettercodeGrid, SameGridWhicheverWayTheVectorsArrive) {
  TempDir dir;
  const std::string a = mixed_table(150'000, 1);
  const std::string b = mixed_table(70'000, 2);
  const std::string c = mixed_table(3, 3);
  dir.write("a", a);
  dir.write("b", b);
  dir.write("c", c);
  const std::string grid = grid_of({dir.file("a"), dir.file("b"), dir.file("c")});
  EXPECT_EQ(grid.rfind("pcgrid grid\ndimensions 2\nvectors 220003\nintervals 23\n", 0), 0u);
  for (const char* name : {"a", "b", "c"}) {
    dir.write(std::string("g") + name, grid_of({dir.file(name)}));
  }
  EXPECT_EQ(grid_of({}, a + b + c, "1"), grid);
  EXPECT_EQ(grid_of({}, a + b + c, "7"), grid);
  EXPECT_EQ(grid_of({dir.file("ga"), dir.file("gb"), dir.file("gc")}), grid);
  EXPECT_EQ(grid_of({dir.file("ga"), dir.file("b"), "-"}, c), grid);
  dir.write("grid", grid);
  const auto own = run_program(LETTERCODE_EXE, {}, {.input = a + b + c});
  ASSERT_EQ(own.status, 0);
  for (const char* threads : {"1", "2", "7"}) {
    const auto r = run_program(LETTERCODE_EXE, {"--grid", dir.file("grid")},
                               {.input = a + b + c, .env = {std::string("OMP_NUM_THREADS=") + threads}});
    EXPECT_TRUE(r.out == own.out) << threads;
    EXPECT_EQ(r.err, "Grid along each dimension set to 23, from the grid file " + dir.file("grid") +
                         ".\nRead 220003 vectors (2-dimensional).\n");
    EXPECT_EQ(r.status, 0);
  }
}

struct GridCase {
  const char* name;
  std::vector<std::string> args;  // "GRID" is the grid file's path
  std::string grid;               // the grid file
  std::string input;
  std::string err;  // "GRID" is the grid file's path
  int status;
};

void PrintTo(const GridCase& c, std::ostream* out) {
  *out << c.name;
}

const std::string grid01 = "pcgrid grid\ndimensions 1\nvectors 2\nintervals 5\nlimits 0 1\n";
const std::string make = "; make GRID again, with lettercode --grid-of, from every table it "
                         "serves, this one included\n";

const GridCase grid_cases[] = {
    {"Words", {"--grid", "GRID"}, grid01, "1 0\n2 1\n3 0.5\n",
     "Grid along each dimension set to 5, from the grid file GRID.\nRead 3 vectors "
     "(1-dimensional).\n",
     0},
    {"BelowTheLimits", {"--grid", "GRID"}, grid01, "1 0\n2 1\n3 -0.5\n",
     "Grid along each dimension set to 5, from the grid file GRID.\nlettercode: -:3: component "
     "1, -0.5, lies outside the limits of the grid file GRID, 0 to 1" + make,
     1},
    {"AboveTheLimits", {"--grid=GRID"}, grid01, "1 1.0000001\n",
     "Grid along each dimension set to 5, from the grid file GRID.\nlettercode: -:1: component "
     "1, 1.0000001, lies outside the limits of the grid file GRID, 0 to 1" + make,
     1},
    {"OtherDimension", {"--grid", "GRID"}, grid01, "1 0 0\n",
     "Grid along each dimension set to 5, from the grid file GRID.\nlettercode: -:1: vectors of "
     "2 components, but the grid file GRID has 1; make the grid of this table, and of the "
     "others it serves, with lettercode --grid-of\n",
     1},
    {"BadLineAfterGoodOnes", {"--grid", "GRID"}, grid01, "1 0\n2 x\n",
     "Grid along each dimension set to 5, from the grid file GRID.\nFailed to read PCs at line "
     "2 x\n\n",
     1},
    {"NotAGridFile", {"--grid", "GRID"}, "1 0\n2 1\n", "1 0\n",
     "lettercode: GRID:1: not a grid file: expected \"pcgrid grid\" (lettercode --grid-of makes "
     "one)\n",
     1},
    {"Truncated", {"--grid", "GRID"}, grid01.substr(0, grid01.size() - 3), "1 0\n",
     "lettercode: GRID:5: the grid file ends in the middle of a line (truncated?)\n", 1},
    {"LimitsMissing", {"--grid", "GRID"}, grid01.substr(0, grid01.find("limits")), "1 0\n",
     "lettercode: GRID:5: the grid file ends before the limits of component 1 (truncated?)\n", 1},
    {"WrongIntervals", {"--grid", "GRID"},
     "pcgrid grid\ndimensions 1\nvectors 158\nintervals 5\nlimits 0 1\n", "1 0\n",
     "lettercode: GRID:4: expected \"intervals 6\", the grid of 158 vectors\n", 1},
    {"LimitsReversed", {"--grid", "GRID"},
     "pcgrid grid\ndimensions 1\nvectors 2\nintervals 5\nlimits 1 0\n", "1 0\n",
     "lettercode: GRID:5: the lower limit of component 1 is above the upper one\n", 1},
    {"InfiniteLimit", {"--grid", "GRID"},
     "pcgrid grid\ndimensions 1\nvectors 2\nintervals 5\nlimits 0 inf\n", "1 0\n",
     "lettercode: GRID:5: expected \"limits MIN MAX\", two finite numbers, for component 1\n", 1},
    {"LineAfterTheLimits", {"--grid", "GRID"}, grid01 + "limits 0 1\n", "1 0\n",
     "lettercode: GRID:6: more than the grid's 1 limits lines\n", 1},
    {"GridOfAGridAndATable", {"--grid-of", "GRID", "-"}, grid01, "3 7\n",
     "", 0},
    {"GridOfOtherDimensions", {"--grid-of", "GRID", "-"}, grid01, "3 7 8\n",
     "lettercode: -: vectors of 2 components, but those of GRID have 1\n", 1},
    {"GridOfABadGrid", {"--grid-of", "GRID"}, "pcgrid grid\ndimensions 11\n", "",
     "lettercode: GRID:2: expected \"dimensions D\" with D from 0 to 10\n", 1},
    {"GridWithoutFile", {"--grid"}, "", "1 0\n",
     "lettercode: --grid needs a grid file\nTry 'lettercode --help'.\n", 2},
    {"GridFromStandardInput", {"--grid", "-"}, "", "1 0\n",
     "lettercode: --grid needs a grid file, not '-': standard input holds the table\nTry "
     "'lettercode --help'.\n",
     2},
    {"GridAndGridOf", {"--grid", "GRID", "--grid-of"}, grid01, "1 0\n",
     "lettercode: --grid and --grid-of cannot be combined\nTry 'lettercode --help'.\n", 2},
};

class LettercodeGridCase : public ::testing::TestWithParam<GridCase> {};

std::string with_path(std::string text, const std::string& path) {
  for (std::size_t at = text.find("GRID"); at != std::string::npos; at = text.find("GRID", at)) {
    text.replace(at, 4, path);
    at += path.size();
  }
  return text;
}

TEST_P(LettercodeGridCase, ErrorsAndStatus) {
  const GridCase& c = GetParam();
  TempDir dir;
  dir.write("grid", c.grid);
  std::vector<std::string> args;
  for (const std::string& a : c.args) args.push_back(with_path(a, dir.file("grid")));
  const auto r = run_program(LETTERCODE_EXE, args, {.input = c.input});
  EXPECT_EQ(r.err, with_path(c.err, dir.file("grid")));
  EXPECT_EQ(r.status, c.status);
  if (c.status != 0) EXPECT_EQ(r.out, "");
}

INSTANTIATE_TEST_SUITE_P(GridFiles, LettercodeGridCase, ::testing::ValuesIn(grid_cases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
