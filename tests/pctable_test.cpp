// End-to-end: pctable's table, summary, refusals and exit status, on
// xvg files, delimited text and .npy arrays, from pipes and from files.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "run_program.hpp"

namespace {

using pcgrid::testing::run_program;
using pcgrid::testing::RunResult;
using pcgrid::testing::TempDir;

const std::string USAGE_HINT = "Try 'pctable --help'.\n";

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool SANITIZED = true;  // the sanitizers' shadow memory needs terabytes of addresses
#else
constexpr bool SANITIZED = false;
#endif

// Two graphs of "time value" rows as gmx anaeig -proj writes them; only the
// last one names the time axis.
const std::string PROJ =
    "# gmx anaeig -proj\n"
    "@ with g0\n"
    "@ xaxis  ticklabel off\n"
    "@ yaxis  label \"vec 1\"\n"
    "    0.0000   -0.22557\n"
    "    0.0400   -0.23910\n"
    "    0.0800    0.25006\n"
    "&\n"
    "@ with g1\n"
    "@ xaxis  label \"Time (ps)\"\n"
    "@ yaxis  label \"vec 2\"\n"
    "    0.0000    1.5e-3\n"
    "    0.0400   -0.26264\n"
    "    0.0800   12.25\n"
    "&\n";
const std::string PROJ_TABLE = "1 -0.22557 1.5e-3\n2 -0.23910 -0.26264\n3 0.25006 12.25\n";

// gmx anaeig -2d: one set, no time axis.
const std::string TWO_D =
    "# gmx anaeig -2d\n"
    "@    title \"2D projection of trajectory\"\n"
    "@    xaxis  label \"projection on eigenvector 1 (nm)\"\n"
    "@TYPE xy\n"
    "  -0.22557   -0.27834\n"
    "  -0.23910   -0.26264\n";

struct Case {
  const char* name;
  std::vector<std::string> args;
  std::string input;
  std::string out;
  std::string err;
  int status;
};

std::string summary(const std::string& counts, const std::string& notes) {
  return "pctable: " + counts + " (standard input: " + notes + ")\n";
}

std::string refused(const std::string& line, const std::string& what) {
  return "pctable: standard input:" + line + ": " + what + "\n";
}

const Case cases[] = {
    // xvg
    {"XvgSetsJoinedTimeDropped",
     {},
     PROJ,
     PROJ_TABLE,
     summary("3 frames, 2 components", "2 data sets joined, time column dropped"),
     0},
    {"XvgTimeKeptWithColumns",
     {"--columns", "1,3"},
     PROJ,
     "1 0.0000 1.5e-3\n2 0.0400 -0.26264\n3 0.0800 12.25\n",
     summary("3 frames, 2 components", "2 data sets joined, columns 1,3"),
     0},
    {"XvgTwoD",
     {},
     TWO_D,
     "1 -0.22557 -0.27834\n2 -0.23910 -0.26264\n",
     summary("2 frames, 2 components", "1 data set"),
     0},
    {"XvgTwoDPoints",
     {"--points"},
     TWO_D,
     "-0.22557 -0.27834\n-0.23910 -0.26264\n",
     summary("2 points, 2 columns", "1 data set"),
     0},
    {"XvgProjPoints",
     {"--points", "--columns", "2-3"},
     PROJ,
     "-0.22557 1.5e-3\n-0.23910 -0.26264\n0.25006 12.25\n",
     summary("3 points, 2 columns", "2 data sets joined, time column dropped, columns 2,3"),
     0},
    {"XvgLastSetWithoutEnd",
     {},
     "@ xaxis label \"Time\"\n0 1\n1 2\n&\n0 3\n1 4",
     "1 1 3\n2 2 4\n",
     summary("2 frames, 2 components", "2 data sets joined, time column dropped"),
     0},
    {"XvgSetOfAnotherLength",
     {},
     "0 1\n1 2\n&\n0 3\n&\n",
     "",
     refused("5", "expected 2 rows in data set 2 as in data set 1, found 1"),
     1},
    {"XvgTimesDiffer",
     {},
     "@ xaxis label \"Time (ns)\"\n0 1\n1 2\n&\n0 3\n2 4\n",
     "",
     refused("6", "expected time \"1\" in data set 2 as on line 3 of data set 1, found \"2\""),
     1},
    {"XvgSameTimeOtherSpelling",
     {},
     "0.0400 1\n&\n0.04 3\n",
     "1 0.0400 1 3\n",
     summary("1 frame, 3 components", "2 data sets joined"),
     0},
    {"XvgSameTimeWithSignsAndExponents",
     {},
     "+1 1\n-0 2\n2.5 3\n&\n1 4\n+0.0 5\n+25e-1 6\n",
     "1 +1 1 4\n2 -0 2 5\n3 2.5 3 6\n",
     summary("3 frames, 3 components", "2 data sets joined"),
     0},
    {"TimeColumnKeptIsNamed",
     {},
     "0.0000 1.5 2\n0.0400 2.5 3\n0.0800 -1 4\n",
     "1 0.0000 1.5 2\n2 0.0400 2.5 3\n3 0.0800 -1 4\n",
     summary("3 frames, 3 components",
             "space-separated, column 1 kept though it rises by a constant step as a time or "
             "frame number does: --columns 2,3 drops it"),
     0},
    {"FrameNumbersKeptAsAPointColumn",
     {"--points"},
     "frame a b\n10 1.5 2\n20 2.5 3\n30 -1 4\n",
     "10 1.5 2\n20 2.5 3\n30 -1 4\n",
     summary("3 points, 3 columns",
             "space-separated, header line 1 skipped, column 1 kept though it rises by a "
             "constant step as a time or frame number does: --columns 2,3 drops it"),
     0},
    {"FirstColumnRisingUnevenly",
     {},
     "1 1.5 2\n2 2.5 3\n4 -1 4\n",
     "1 1 1.5 2\n2 2 2.5 3\n3 4 -1 4\n",
     summary("3 frames, 3 components", "space-separated"),
     0},
    {"XvgRaggedSet",
     {},
     "0 1\n1 2\n&\n0 3\n1 4 5\n",
     "",
     refused("5", "expected 2 fields as on line 1, found 3"),
     1},
    {"XvgTextField",
     {},
     "@ g0 on\n0 1\n1 x2\n",
     "",
     refused("3", "expected a number in column 2, found \"x2\""),
     1},
    {"XvgNoData",
     {},
     "# nothing\n@ g0 on\n&\n",
     "",
     refused("4", "expected a line of numbers, found the end of the input"),
     1},
    // np.savetxt and other white-space text
    {"SavetxtNoLabel",
     {},
     "3.455800000000000094e-01 8.216199999999999770e-01 3.304399999999999826e-01\n"
     "-1.000000000000000000e+00 2.500000000000000000e+00 0.000000000000000000e+00\n",
     "1 3.455800000000000094e-01 8.216199999999999770e-01 3.304399999999999826e-01\n"
     "2 -1.000000000000000000e+00 2.500000000000000000e+00 0.000000000000000000e+00\n",
     summary("2 frames, 3 components", "space-separated"),
     0},
    {"SavetxtLabelColumn",
     {"--label-column", "1"},
     "7 3.4558e-01 8.2162e-01\n-8 1e0 2E+01\n",
     "7 3.4558e-01 8.2162e-01\n-8 1e0 2E+01\n",
     summary("2 frames, 2 components", "space-separated, labels from column 1"),
     0},
    {"FloatLabelRefused",
     {"--label-column", "1"},
     "1.000000000000000000e+00 3.4558e-01\n",
     "",
     refused("1",
             "expected a 32-bit integer label in column 1, found \"1.000000000000000000e+00\""),
     1},
    {"LabelBeyond32Bits",
     {"--label-column=2"},
     "0.5 2147483647\n0.5 2147483648\n",
     "",
     refused("2", "expected a 32-bit integer label in column 2, found \"2147483648\""),
     1},
    {"LabelLimits",
     {"--label-column", "2"},
     "0.5 2147483647\n.5 -2147483648\n+1. +03\n",
     "2147483647 0.5\n-2147483648 .5\n+03 +1.\n",
     summary("3 frames, 1 component", "space-separated, labels from column 2"),
     0},
    {"CommentsBlankLinesTabs",
     {},
     "# PCs\n\n  1 2 \n# more\n3 4\n\n",
     "1 1 2\n2 3 4\n",
     summary("2 frames, 2 components", "space-separated"),
     0},
    {"Columns",
     {"--columns", "3,1"},
     "1 2 3\n4 5 6\n",
     "1 3 1\n2 6 4\n",
     summary("2 frames, 2 components", "space-separated, columns 3,1"),
     0},
    {"TenComponents",
     {},
     "1 2 3 4 5 6 7 8 9 10\n",
     "1 1 2 3 4 5 6 7 8 9 10\n",
     summary("1 frame, 10 components", "space-separated"),
     0},
    {"ElevenComponents",
     {},
     "1 2 3 4 5 6 7 8 9 10 11\n",
     "",
     refused("1", "expected at most 10 components, found 11 (choose them with --columns)"),
     1},
    {"ElevenColumnsOneLabel",
     {"--label-column", "11"},
     "1 2 3 4 5 6 7 8 9 10 11\n",
     "11 1 2 3 4 5 6 7 8 9 10\n",
     summary("1 frame, 10 components", "space-separated, labels from column 11"),
     0},
    {"OnlyALabel",
     {"--label-column", "1"},
     "5\n",
     "",
     refused("1", "expected at least one component, found none"),
     1},
    {"PointsNeedTwoOrThree",
     {"--points"},
     "1 2 3 4\n",
     "",
     refused("1", "expected 2 or 3 columns for --points, found 4 (choose them with --columns)"),
     1},
    {"ColumnBeyondLine",
     {"--columns", "2,4"},
     "1 2 3\n",
     "",
     refused("1", "expected at least 4 fields for --columns, found 3"),
     1},
    // refusals of numbers
    {"RaggedLine",
     {},
     "1 2 3\n4 5\n",
     "",
     refused("2", "expected 3 fields as on line 1, found 2"),
     1},
    {"Nan",
     {},
     "1 2\n3 nan\n",
     "",
     refused("2", "expected a finite number in column 2, found \"nan\""),
     1},
    {"FirstLineNanIsNoHeader",
     {},
     "1 -Inf\n3 4\n",
     "",
     refused("1", "expected a finite number in column 2, found \"-Inf\""),
     1},
    {"Overflow",
     {},
     "1 3.4028235e38\n1 3.5e38\n",
     "",
     refused("2",
             "expected a number within single precision (about 3.4e38) in column 2, found "
             "\"3.5e38\""),
     1},
    {"LongNumbersWithinRange",
     {},
     "0.00000000000000000000000000000000000000000000000001 1e-400\n",
     "1 0.00000000000000000000000000000000000000000000000001 1e-400\n",
     summary("1 frame, 2 components", "space-separated"),
     0},
    {"Hexadecimal",
     {},
     "1 2\n0x1p3 2\n",
     "",
     refused("2", "expected a number in column 1, found \"0x1p3\""),
     1},
    {"DanglingExponent",
     {},
     "1 2\n1e 2\n",
     "",
     refused("2", "expected a number in column 1, found \"1e\""),
     1},
    {"NulByte",
     {},
     std::string("1 2\n1 \0\n", 8),
     "",
     refused("2", "expected a number in column 2, found \"\\x00\""),
     1},
    {"SecondHeader",
     {},
     "x y\n1 2\nx y\n",
     "",
     refused("3", "expected a number in column 1, found \"x\""),
     1},
    {"EmptyInput",
     {},
     "",
     "",
     refused("1", "expected a line of numbers, found the end of the input"),
     1},
    {"HeaderOnly",
     {},
     "a,b\n",
     "",
     refused("2", "expected a line of numbers, found the end of the input"),
     1},
    // CSV, TSV, semicolons, CRLF, byte order mark
    {"CsvHeader",
     {"--label-column", "1"},
     "frame,PC1,PC2\n1,0.5,-1.25\n2, 7 ,8\n",
     "1 0.5 -1.25\n2 7 8\n",
     summary("2 frames, 2 components",
             "comma-separated, header line 1 skipped, labels from column 1"),
     0},
    {"PandasIndexHeader",
     {},
     ",0,1\n0,0.5,1\n",
     "1 0 0.5 1\n",
     summary("1 frame, 3 components", "comma-separated, header line 1 skipped"),
     0},
    {"CsvEmptyField",
     {},
     "1,,2\n",
     "",
     refused("1", "expected a number in column 2, found an empty field"),
     1},
    {"TsvHeaderWithSpaces",
     {},
     "# made by hand\nPC 1\tPC 2\n1.5\t2.5\n",
     "1 1.5 2.5\n",
     summary("1 frame, 2 components", "tab-separated, header line 2 skipped"),
     0},
    {"Semicolons",
     {},
     "1;2\n3;4\n",
     "1 1 2\n2 3 4\n",
     summary("2 frames, 2 components", "semicolon-separated"),
     0},
    {"Crlf",
     {},
     "x,y\r\n1,2\r\n3,4\r\n",
     "1 1 2\n2 3 4\n",
     summary("2 frames, 2 components", "comma-separated, header line 1 skipped"),
     0},
    {"ByteOrderMark",
     {},
     "\xEF\xBB\xBFPC1,PC2\n1,2\n",
     "1 1 2\n",
     summary("1 frame, 2 components", "comma-separated, header line 1 skipped"),
     0},
    {"DecimalCommaRefused",
     {},
     "1,5;2,5\n1,6;2,6\n",
     "",
     refused("1", "expected a number in column 2, found \"5;2\""),
     1},
    // a first line with a number among its fields is data, not a header
    {"TypoInFirstLine",
     {},
     "1 2.O 3\n4 5 6\n",
     "",
     refused("1", "expected a number in column 2, found \"2.O\""),
     1},
    {"NaInFirstLine",
     {},
     "0.5,NA,0.1\n",
     "",
     refused("1", "expected a number in column 2, found \"NA\""),
     1},
    {"CommentAfterFirstLine",
     {},
     "1 2 # first frame\n3 4\n",
     "",
     refused("1", "expected a number in column 3, found \"#\""),
     1},
    // columns that are not chosen may hold anything, quoted separators too
    {"UnchosenTextColumn",
     {"--columns", "2,3"},
     "frame,PC1,PC2,note\n1,0.5,0.25,\"first, then \"\"more\"\"\"\n2,0.75,1,nan\n",
     "1 0.5 0.25\n2 0.75 1\n",
     summary("2 frames, 2 components", "comma-separated, header line 1 skipped, columns 2,3"),
     0},
    {"UnchosenQuotedSemicolon",
     {"--label-column", "1", "--columns", "3"},
     "7;\"x;y\";0.5\n8;\"z\";0.25\n",
     "7 0.5\n8 0.25\n",
     summary("2 frames, 1 component", "semicolon-separated, columns 3, labels from column 1"),
     0},
    {"UnchosenQuotedTab",
     {"--columns", "1"},
     "0.5\t\"a\tb\"\n0.25\t-\n",
     "1 0.5\n2 0.25\n",
     summary("2 frames, 1 component", "tab-separated, columns 1"),
     0},
    // blanks and tabs are one separator
    {"TabAmongBlanks",
     {},
     "1 2\t3\n4\t5 6\n",
     "1 1 2 3\n2 4 5 6\n",
     summary("2 frames, 3 components", "space-separated"),
     0},
    // xvg
    {"XvgByteOrderMark",
     {},
     "\xEF\xBB\xBF# gmx\n@ xaxis label \"Time (ps)\"\n0 1\n",
     "1 1\n",
     summary("1 frame, 1 component", "1 data set, time column dropped"),
     0},
    {"XvgByteOrderMarkBeforeData",
     {},
     "\xEF\xBB\xBF"
     "0 1\n@ g0 on\n",
     "1 0 1\n",
     summary("1 frame, 2 components", "1 data set"),
     0},
    {"XvgTimeAsLabels",
     {"--label-column", "1"},
     "@ xaxis label \"Time (ps)\"\n0 1\n10 2\n",
     "0 1\n10 2\n",
     summary("2 frames, 1 component", "1 data set, labels from column 1"),
     0},
    {"XvgFractionalTimeAsLabels",
     {"--label-column", "1"},
     "@ xaxis label \"Time (ps)\"\n0 1\n0.5 2\n",
     "",
     refused("3", "expected a 32-bit integer label in column 1 (the time), found \"0.5\""),
     1},
    {"XvgUnchosenColumnOfASet",
     {"--columns", "2"},
     "0 1 x\n1 2 y\n&\n0 3 z\n1 4 w\n",
     "1 1\n2 2\n",
     summary("2 frames, 1 component", "2 data sets joined, columns 2"),
     0},
    // usage errors
    {"AbbreviatedOptions",
     {"--label=1", "--col", "2", "--"},
     "7 8 9\n",
     "7 8\n",
     summary("1 frame, 1 component", "space-separated, columns 2, labels from column 1"),
     0},
    {"OpenRange",
     {"--columns", "-3"},
     "",
     "",
     "pctable: --columns: expected a range with both ends, such as 2-4, found '-3' (columns are "
     "numbered from 1)\n" +
         USAGE_HINT,
     2},
    {"UnknownOption", {"--fast"}, "", "", "pctable: unknown option '--fast'\n" + USAGE_HINT, 2},
    {"BadColumns",
     {"--columns", "2-x"},
     "",
     "",
     "pctable: --columns: expected a column number from 1 to 4096, found 'x'\n" + USAGE_HINT,
     2},
    {"DescendingRange",
     {"--columns", "4-2"},
     "",
     "",
     "pctable: --columns: expected an increasing range, found '4-2'\n" + USAGE_HINT,
     2},
    {"LabelColumnZero",
     {"--label-column", "0"},
     "",
     "",
     "pctable: --label-column: expected a column number from 1 to 4096, found '0'\n" + USAGE_HINT,
     2},
    {"MissingValue", {"-o"}, "", "", "pctable: option '-o' needs a value\n" + USAGE_HINT, 2},
    {"LabelInColumns",
     {"--label-column", "2", "--columns", "1,2"},
     "",
     "",
     "pctable: --columns: column 2 is the label column\n" + USAGE_HINT,
     2},
    {"PointsWithLabels",
     {"--points", "--label-column", "1"},
     "",
     "",
     "pctable: --points writes no labels: --label-column does not go with it\n" + USAGE_HINT,
     2},
    {"PointsColumnsCount",
     {"--points", "--columns", "1-4"},
     "",
     "",
     "pctable: --columns: expected 2 or 3 columns with --points, found 4\n" + USAGE_HINT,
     2},
    {"ElevenChosen",
     {"--columns", "1-11"},
     "",
     "",
     "pctable: --columns: expected at most 10 components, found 11\n" + USAGE_HINT,
     2},
    {"StdinTwice",
     {"-", "-"},
     "",
     "",
     "pctable: standard input (-) named more than once\n" + USAGE_HINT,
     2},
};

// A failing case is shown by its name, not as bytes.
void PrintTo(const Case& c, std::ostream* out) {
  *out << c.name;
}

class PctableCase : public ::testing::TestWithParam<Case> {};

TEST_P(PctableCase, OutputSummaryAndStatus) {
  const Case& c = GetParam();
  const RunResult r = run_program(PCTABLE_EXE, c.args, {.input = c.input});
  EXPECT_EQ(r.out, c.out);
  EXPECT_EQ(r.err, c.err);
  EXPECT_EQ(r.status, c.status);
}

INSTANTIATE_TEST_SUITE_P(Inputs, PctableCase, ::testing::ValuesIn(cases),
                         [](const auto& info) { return std::string(info.param.name); });

// The program with standard input on a pipe (run_program gives it a file).
RunResult run_from_pipe(const std::vector<std::string>& args, const std::string& input) {
  std::vector<std::string> shell_args = {"-c", "cat | exec \"$0\" \"$@\"", PCTABLE_EXE};
  shell_args.insert(shell_args.end(), args.begin(), args.end());
  return run_program("/bin/sh", shell_args, {.input = input});
}

// A .npy file: format version `major`.0, values given row by row.
template <typename T>
std::string npy(const std::string& descr, bool fortran, const std::string& shape, int rows,
                int columns, const std::vector<double>& values, int major = 1) {
  std::string dict = "{'descr': '" + descr + "', 'fortran_order': " + (fortran ? "True" : "False") +
                     ", 'shape': " + shape + ", }";
  const std::size_t prefix = major == 1 ? 10 : 12;
  while ((prefix + dict.size() + 1) % 64 != 0) dict += ' ';
  dict += '\n';
  std::string bytes = std::string("\x93NUMPY", 6) + static_cast<char>(major) + '\0';
  const std::size_t length = dict.size();
  for (std::size_t i = 0; i < prefix - 8; ++i)
    bytes += static_cast<char>((length >> (8 * i)) & 255);
  bytes += dict;
  for (int k = 0; k < rows * columns; ++k) {
    const int r = fortran ? k % rows : k / columns;
    const int c = fortran ? k / rows : k % columns;
    const T value = static_cast<T>(values[static_cast<std::size_t>(r * columns + c)]);
    char raw[sizeof(T)];
    std::memcpy(raw, &value, sizeof(T));
    bytes.append(raw, sizeof(T));
  }
  return bytes;
}

// 16777217 and 1 + 2^-24 lie between two floats: a float32 array holds
// 16777216 and 1. Components are written as the float a table's reader
// stores, from either array; labels as the array holds them.
const std::vector<double> NPY_VALUES = {1,         0.1,      -2.5e-7,     2,   3.4e38,
                                        123456.75, 16777217, 1 + 0x1p-24, -0.0};

TEST(PctableNpy, EveryTypeAndOrderFromPipeAndFile) {
  struct Variant {
    const char* name;
    std::string bytes;
    std::string table;
    std::string note;
  };
  const std::string f4 = "1 0.1 -2.5e-07\n2 3.4e+38 123456.75\n16777216 1 -0\n";
  const std::string f8 = "1 0.1 -2.5e-07\n2 3.4e+38 123456.75\n16777217 1 -0\n";
  const Variant variants[] = {
      {"f4 C", npy<float>("<f4", false, "(3, 3)", 3, 3, NPY_VALUES), f4, "float32 array, C order"},
      {"f4 F", npy<float>("<f4", true, "(3, 3)", 3, 3, NPY_VALUES), f4,
       "float32 array, Fortran order"},
      {"f8 C", npy<double>("<f8", false, "(3, 3)", 3, 3, NPY_VALUES), f8, "float64 array, C order"},
      {"f8 F v2", npy<double>("<f8", true, "(3, 3)", 3, 3, NPY_VALUES, 2), f8,
       "float64 array, Fortran order"},
      {"f4 C v3", npy<float>("<f4", false, "(3, 3)", 3, 3, NPY_VALUES, 3), f4,
       "float32 array, C order"},
  };
  for (const Variant& v : variants) {
    SCOPED_TRACE(v.name);
    // Labels are the frame numbers; with --label-column 1 the first column.
    const std::string numbered = "1 1 0.1 -2.5e-07\n2 2 3.4e+38 123456.75\n3 16777216 1 -0\n";
    RunResult r = run_from_pipe({}, v.bytes);
    EXPECT_EQ(r.out, numbered);
    EXPECT_EQ(r.err, "pctable: 3 frames, 3 components (standard input: " + v.note + ")\n");
    EXPECT_EQ(r.status, 0);

    TempDir dir;
    dir.write("pcs.npy", v.bytes);
    r = run_program(PCTABLE_EXE, {"--label-column", "1", dir.file("pcs.npy")});
    EXPECT_EQ(r.out, v.table);
    EXPECT_EQ(r.err, "pctable: 3 frames, 2 components (" + dir.file("pcs.npy") + ": " + v.note +
                         ", labels from column 1)\n");
    EXPECT_EQ(r.status, 0);
  }
}

TEST(PctableNpy, Refusals) {
  struct Refusal {
    const char* name;
    std::string bytes;
    std::string err;  // after "pctable: FILE"
  };
  const std::vector<double> nan_value = {1, std::nan(""), 3, 4};
  std::string truncated = npy<double>("<f8", false, "(2, 2)", 2, 2, {1, 2, 3, 4});
  truncated.pop_back();
  const Refusal refusals[] = {
      {"big-endian", npy<double>(">f8", false, "(1, 1)", 1, 1, {1}),
       ": expected little-endian float32 or float64 values ('<f4' or '<f8'), found '>f8'\n"},
      {"integers", npy<std::int64_t>("<i8", false, "(1, 1)", 1, 1, {1}),
       ": expected little-endian float32 or float64 values ('<f4' or '<f8'), found '<i8'\n"},
      {"1-D", npy<double>("<f8", false, "(2,)", 2, 1, {1, 2}),
       ": expected a 2-D array (rows, columns), found shape (2,)\n"},
      {"3-D", npy<double>("<f8", false, "(1, 1, 1)", 1, 1, {1}),
       ": expected a 2-D array (rows, columns), found shape (1, 1, 1)\n"},
      {"version 4", npy<double>("<f8", false, "(1, 1)", 1, 1, {1}).replace(6, 1, "\x04"),
       ": expected .npy format version 1.0, 2.0 or 3.0, found 4.0\n"},
      {"nan", npy<double>("<f8", true, "(2, 2)", 2, 2, nan_value),
       ":1: expected a finite number in column 2, found nan\n"},
      {"beyond float", npy<double>("<f8", false, "(1, 2)", 1, 2, {1, -1e39}),
       ":1: expected a number within single precision (about 3.4e38) in column 2, found -1e+39\n"},
      {"truncated", truncated,
       ": expected 2 rows of 2 values (32 bytes) after the .npy header, found 31 bytes\n"},
  };
  for (const Refusal& refusal : refusals) {
    SCOPED_TRACE(refusal.name);
    TempDir dir;
    dir.write("a.npy", refusal.bytes);
    RunResult r = run_program(PCTABLE_EXE, {dir.file("a.npy")});
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "pctable: " + dir.file("a.npy") + refusal.err);
    EXPECT_EQ(r.status, 1);
    r = run_from_pipe({}, refusal.bytes);
    EXPECT_EQ(r.err, "pctable: standard input" + refusal.err);
    EXPECT_EQ(r.status, 1);
  }
  // A label that is not an integer.
  const RunResult r = run_program(PCTABLE_EXE, {"--label-column", "2"},
                                  {.input = npy<float>("<f4", false, "(1, 2)", 1, 2, {1, 2.5})});
  EXPECT_EQ(r.err,
            "pctable: standard input:1: expected a 32-bit integer label in column 2, found "
            "\"2.5\"\n");
}

TEST(PctableNpy, UnchosenColumnMayHoldAnything) {
  const std::vector<double> values = {1, std::nan(""), 2, 3, HUGE_VAL, 4};
  for (const bool fortran : {false, true}) {
    const RunResult r =
        run_from_pipe({"--columns", "1,3"}, npy<double>("<f8", fortran, "(2, 3)", 2, 3, values));
    EXPECT_EQ(r.out, "1 1 2\n2 3 4\n");
    EXPECT_EQ(r.status, 0);
  }
}

TEST(Pctable, XvgFileAndPipeGiveTheSameTable) {
  TempDir dir;
  dir.write("proj.xvg", PROJ);
  const RunResult r = run_program(PCTABLE_EXE, {dir.file("proj.xvg")});
  EXPECT_EQ(r.out, PROJ_TABLE);
  EXPECT_EQ(r.err, "pctable: 3 frames, 2 components (" + dir.file("proj.xvg") +
                       ": 2 data sets joined, time column dropped)\n");
  EXPECT_EQ(r.status, 0);
  // Standard input redirected from the file reads it in place, like a named file.
  const RunResult s = run_program(PCTABLE_EXE, {}, {.stdin_path = dir.file("proj.xvg")});
  EXPECT_EQ(s.out, PROJ_TABLE);
  const RunResult p = run_from_pipe({}, PROJ);
  EXPECT_EQ(p.out, PROJ_TABLE);
  EXPECT_EQ(p.err,
            "pctable: 3 frames, 2 components (standard input: 2 data sets joined, time "
            "column dropped)\n");
}

TEST(Pctable, EndlessXvgStreamRefusedAtItsFirstBadLine) {
  // Within a limit of memory, and at once: the stream is checked as it is read.
  const RunResult r =
      run_program("/bin/sh", {"-c", "(echo '@ g0 on'; yes x) | exec \"$0\"", PCTABLE_EXE},
                  {.address_space_limit = SANITIZED ? 0 : 1ul << 30});
  EXPECT_EQ(r.err, "pctable: standard input:2: expected a number in column 1, found \"x\"\n");
  EXPECT_EQ(r.status, 1);
}

TEST(Pctable, FilesInTurnNumberFramesOn) {
  TempDir dir;
  dir.write("a.csv", "x,y\n1,2\n");
  dir.write("b.txt", "3 4\n5 6\n");
  const RunResult r =
      run_program(PCTABLE_EXE, {dir.file("a.csv"), "-", dir.file("b.txt")}, {.input = "7 8\n"});
  EXPECT_EQ(r.out, "1 1 2\n2 7 8\n3 3 4\n4 5 6\n");
  EXPECT_EQ(r.err, "pctable: 4 frames, 2 components (" + dir.file("a.csv") +
                       ": comma-separated, header line 1 skipped; standard input: "
                       "space-separated; " +
                       dir.file("b.txt") + ": space-separated)\n");
  EXPECT_EQ(r.status, 0);

  dir.write("c.txt", "1 2 3\n");
  const RunResult s = run_program(PCTABLE_EXE, {dir.file("a.csv"), dir.file("c.txt")});
  EXPECT_EQ(s.err, "pctable: " + dir.file("c.txt") + ":1: expected 2 columns as from " +
                       dir.file("a.csv") + ", found 3\n");
  EXPECT_EQ(s.out, "");
  EXPECT_EQ(s.status, 1);
}

std::vector<std::string> entries(const std::string& path) {
  std::vector<std::string> names;
  DIR* dir = opendir(path.c_str());
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  return names;
}

TEST(Pctable, OutputFileAppearsOnlyWhenWhole) {
  TempDir dir;
  dir.write("in.txt", "1 2\n3 4\n");
  RunResult r = run_program(PCTABLE_EXE, {"-o", dir.file("table"), dir.file("in.txt")});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(dir.read("table"), "1 1 2\n2 3 4\n");

  // A refusal at the last line leaves the old table, and no temporary file.
  dir.write("bad.txt", "1 2\n3 4\n5 x\n");
  r = run_program(PCTABLE_EXE, {"-otable", dir.file("bad.txt")}, {.cwd = dir.path()});
  EXPECT_EQ(r.err,
            "pctable: " + dir.file("bad.txt") + ":3: expected a number in column 2, found \"x\"\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(dir.read("table"), "1 1 2\n2 3 4\n");
  EXPECT_EQ(entries(dir.path()).size(), 3u);

  // From a pipe too.
  r = run_program(PCTABLE_EXE, {"-o", dir.file("new")}, {.input = "x y\n1 2\n3 4\n5\n"});
  EXPECT_EQ(r.err, "pctable: standard input:4: expected 2 fields as on line 2, found 1\n");
  EXPECT_FALSE(dir.exists("new"));
  EXPECT_EQ(entries(dir.path()).size(), 3u);

  r = run_program(PCTABLE_EXE, {"-o", dir.file("no/such/dir")}, {.input = "1 2\n"});
  EXPECT_EQ(r.err, "pctable: " + dir.file("no/such/dir") +
                       ": cannot create a file beside it: No such file or directory\n");
  EXPECT_EQ(r.status, 1);
}

// The table reaches the disk before its name does, and the name before
// success is reported: a failed sync is a failed run. Descriptor 4 is the
// temporary file, then the folder.
TEST(Pctable, OutputFileSyncedBeforeAndAfterItsRename) {
  if (!pcgrid::testing::faults_available()) GTEST_SKIP() << "no fault injection in this build";
  const struct {
    const char* faults;
    std::string err;
    bool table_there;
  } cases[] = {
      {"fsync:4:1:eio", "write error: Input/output error", false},
      {"fsync:4:2:eio", "cannot sync its folder: Input/output error", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.faults);
    TempDir dir;
    dir.write("in.txt", "1 2\n");
    const RunResult r = run_program(PCTABLE_EXE, {"-o", "table", "in.txt"},
                                    {.cwd = dir.path(), .env = pcgrid::testing::with_faults(c.faults)});
    EXPECT_EQ(r.err, "pctable: table: " + c.err + "\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(dir.exists("table"), c.table_there);
    EXPECT_EQ(entries(dir.path()).size(), c.table_there ? 2u : 1u);
  }
}

// Under a tight limit on address space the table is written whole, or
// the run ends with one message and nothing beside the output's name.
TEST(Pctable, OutOfMemoryIsOneMessage) {
  if (SANITIZED) GTEST_SKIP() << "the sanitizers need terabytes of address space";
  TempDir dir;
  std::string csv = "a,b,c\n";
  for (int i = 0; i < 20'000; ++i) csv += std::to_string(i % 7) + ".5,-1," + std::to_string(i) + "e-3\n";
  dir.write("pcs.csv", csv);
  ASSERT_EQ(std::system(("cp " + std::string(PCGRID_TEST_DATA) + "/gmx-anaeig-proj-5vec.xvg " +
                         dir.file("proj.xvg"))
                            .c_str()),
            0);
  std::string sets;  // each set read through a buffer of its own
  for (int s = 0; s < 100; ++s) sets += "0 1\n1 2\n&\n";
  dir.write("sets.xvg", sets);
  int refused = 0;
  for (const char* input : {"proj.xvg", "pcs.csv", "sets.xvg"}) {
    const RunResult whole =
        run_program(PCTABLE_EXE, {"--columns", "2-3", input}, {.cwd = dir.path()});
    ASSERT_EQ(whole.status, 0) << whole.err;
    for (const unsigned long mib : {12, 16, 20, 24, 28, 32, 40}) {
      SCOPED_TRACE(std::string(input) + " in " + std::to_string(mib) + " MiB");
      const RunResult r = run_program(PCTABLE_EXE, {"--columns", "2-3", "-o", "table", input},
                                      {.cwd = dir.path(), .address_space_limit = mib << 20});
      refused += r.status != 0;
      if (r.status == 0) {
        EXPECT_EQ(r.err, whole.err);
        EXPECT_EQ(dir.read("table"), whole.out);
        unlink(dir.file("table").c_str());
      } else {
        EXPECT_EQ(r.err, "pctable: out of memory\n");
        EXPECT_EQ(r.status, 1);
      }
      EXPECT_EQ(entries(dir.path()).size(), 3u);
    }
  }
  EXPECT_GT(refused, 0);  // the message was seen
}

TEST(Pctable, StandardOutputIsEmptyAfterALateRefusalInAFile) {
  TempDir dir;
  std::string text;
  for (int i = 0; i < 300'000; ++i) text += std::to_string(i) + " 0.5\n";
  dir.write("big.txt", text + "1 nan\n");
  const RunResult r = run_program(PCTABLE_EXE, {dir.file("big.txt")});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "pctable: " + dir.file("big.txt") +
                       ":300001: expected a finite number in column 2, found \"nan\"\n");
  EXPECT_EQ(r.status, 1);
}

TEST(Pctable, UnreadableInputs) {
  TempDir dir;
  RunResult r = run_program(PCTABLE_EXE, {dir.file("missing.csv")});
  EXPECT_EQ(r.err,
            "pctable: " + dir.file("missing.csv") + ": cannot open: No such file or directory\n");
  EXPECT_EQ(r.status, 1);
  r = run_program(PCTABLE_EXE, {dir.path()});
  EXPECT_EQ(r.err, "pctable: " + dir.path() + ": cannot read: it is a directory\n");
  EXPECT_EQ(r.status, 1);
  r = run_program(PCTABLE_EXE, {}, {.input = "1 2\n", .stdout_path = "/dev/full"});
  EXPECT_EQ(r.err, "pctable: standard output: write error: No space left on device\n");
  EXPECT_EQ(r.status, 1);
}

// Someone who types "pctable" learns what it waits for; a pipe or a file
// gets no such line.
TEST(Pctable, NoteOnATerminal) {
  const std::string note =
      "pctable reads a GROMACS xvg file, delimited text or a NumPy .npy array on standard "
      "input until Ctrl-D; man pctable describes it.\n";
  const std::string table_summary =
      "pctable: 1 frame, 2 components (standard input: space-separated)\n";
  for (const std::vector<std::string>& args : {std::vector<std::string>{}, {"-"}}) {
    const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    ASSERT_EQ(grantpt(terminal), 0);
    ASSERT_EQ(unlockpt(terminal), 0);
    const std::string keyboard = ptsname(terminal);
    const int held_open = open(keyboard.c_str(), O_RDWR | O_NOCTTY);  // keeps what is typed
    ASSERT_GE(held_open, 0);
    ASSERT_EQ(write(terminal, "1 2\n\x04", 5), 5);
    // One Ctrl-D ends the input: nothing is read after it.
    std::vector<std::string> timed = {"10", PCTABLE_EXE};
    timed.insert(timed.end(), args.begin(), args.end());
    const RunResult r = run_program("/usr/bin/timeout", timed, {.stdin_path = keyboard});
    close(held_open);
    close(terminal);
    EXPECT_EQ(r.out, "1 1 2\n");
    EXPECT_EQ(r.err, note + table_summary);
    EXPECT_EQ(r.status, 0);
  }
  const RunResult r = run_program(PCTABLE_EXE, {}, {.input = "1 2\n"});
  EXPECT_EQ(r.err, table_summary);
}

TEST(Pctable, HelpAndVersion) {
  RunResult r = run_program(PCTABLE_EXE, {"--help"});
  EXPECT_EQ(r.out.rfind("Usage: pctable [OPTION]... [FILE]...\n", 0), 0u);
  EXPECT_EQ(r.status, 0);
  r = run_program(PCTABLE_EXE, {"--version"});
  EXPECT_EQ(r.out.rfind("pctable (pcgrid) ", 0), 0u);
  EXPECT_EQ(r.status, 0);
}

TEST(Pctable, WordProgramsReadTheValuesWritten) {
  // Values that the word programs misread when given the file itself.
  const std::string savetxt =
      "3.455800000000000094e-01 8.216199999999999770e-01 3.304399999999999826e-01\n"
      "-1.5e+00 7.9 1e-3\n"
      "2.5E0 -0 .25\n";
  const std::string by_hand =
      "1 3.455800000000000094e-01 8.216199999999999770e-01 3.304399999999999826e-01\n"
      "2 -1.5e+00 7.9 1e-3\n"
      "3 2.5E0 -0 .25\n";
  const RunResult table = run_program(PCTABLE_EXE, {}, {.input = savetxt});
  ASSERT_EQ(table.status, 0);
  EXPECT_EQ(table.out, by_hand);
  const RunResult words = run_program(LETTERCODE_EXE, {}, {.input = table.out});
  const RunResult expected = run_program(LETTERCODE_EXE, {}, {.input = by_hand});
  EXPECT_EQ(words.err, "Read 3 vectors (3-dimensional).\nGrid along each dimension set to 5.\n");
  EXPECT_EQ(words.out, expected.out);
  EXPECT_EQ(words.out, "CAF\nAFA\nFAD\n");
}

TEST(Pctable, TableLineLimitOfTheWordPrograms) {
  // 998 characters are read whole by the word programs; 999 are not.
  const std::string digits(994, '1');
  RunResult r = run_program(PCTABLE_EXE, {}, {.input = "0." + digits + "\n"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.size(), 999u);
  r = run_program(PCTABLE_EXE, {}, {.input = "0." + digits + "1\n"});
  EXPECT_EQ(
      r.err,
      "pctable: standard input:1: expected at most 998 characters in the table line, found 999\n");
  EXPECT_EQ(r.status, 1);
}

TEST(Pctable, RealGromacsFiles) {
  const std::string samples = PCGRID_TEST_DATA;
  const std::string proj = samples + "/gmx-anaeig-proj-5vec.xvg";
  const std::string two_d = samples + "/gmx-anaeig-2d.xvg";
  RunResult r = run_program(PCTABLE_EXE, {proj});
  EXPECT_EQ(r.err, "pctable: 200 frames, 5 components (" + proj +
                       ": 5 data sets joined, time column dropped)\n");
  EXPECT_EQ(r.out.substr(0, r.out.find('\n') + 1),
            "1 -0.22557 -0.27834 -0.24177 -0.20283 0.26344\n");
  EXPECT_EQ(r.status, 0);
  const RunResult words = run_program(LETTERCODE_EXE, {}, {.input = r.out});
  EXPECT_EQ(words.err, "Read 200 vectors (5-dimensional).\nGrid along each dimension set to 6.\n");

  r = run_program(PCTABLE_EXE, {"--points", two_d});
  EXPECT_EQ(r.err, "pctable: 200 points, 2 columns (" + two_d + ": 1 data set)\n");
  EXPECT_EQ(r.out.substr(0, r.out.find('\n') + 1), "-0.22557 -0.27834\n");
  EXPECT_EQ(r.status, 0);
}

namespace more {

using pcgrid::testing::read_file;

mode_t mode_of(const std::string& path) {
  struct stat status {};
  lstat(path.c_str(), &status);
  return status.st_mode;
}

TEST(PctableOutput, WrittenWhereTheNamePoints) {
  TempDir dir;
  dir.write("in.txt", "1 2\n");
  const std::string table = "1 1 2\n";
  // A device stays a device (a private one: /dev/null itself is not put at risk).
  if (mknod(dir.file("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) {
    std::cout << "[ skipped  ] the device case: mknod: " << std::strerror(errno) << "\n";
  } else {
    const RunResult r = run_program(PCTABLE_EXE, {"-o", dir.file("null"), dir.file("in.txt")});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(S_ISCHR(mode_of(dir.file("null"))));
  }
  // A FIFO stays a FIFO, and its reader gets the table.
  ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
  std::string read;
  std::thread reader([&] { read = read_file(dir.file("fifo")); });
  RunResult r = run_program(PCTABLE_EXE, {"-o", dir.file("fifo"), dir.file("in.txt")});
  reader.join();
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(read, table);
  EXPECT_TRUE(S_ISFIFO(mode_of(dir.file("fifo"))));
  // A link stays a link, its target replaced with its mode kept.
  dir.write("target", "old\n");
  ASSERT_EQ(chmod(dir.file("target").c_str(), 0604), 0);
  ASSERT_EQ(symlink("target", dir.file("link").c_str()), 0);
  r = run_program(PCTABLE_EXE, {"-o", dir.file("link"), dir.file("in.txt")});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(S_ISLNK(mode_of(dir.file("link"))));
  EXPECT_EQ(dir.read("target"), table);
  EXPECT_EQ(mode_of(dir.file("target")) & 07777, 0604u);
  // "-" is standard output.
  r = run_program(PCTABLE_EXE, {"-o", "-", dir.file("in.txt")}, {.cwd = dir.path()});
  EXPECT_EQ(r.out, table);
  EXPECT_FALSE(dir.exists("-"));
}

TEST(PctableOutput, AnInputIsNeverTheOutput) {
  TempDir dir;
  const std::string points = "1 2\n3 4\n";
  dir.write("pts", points);
  ASSERT_EQ(symlink("pts", dir.file("link").c_str()), 0);
  const std::string refusal = "pctable: pts: it is also the output (";
  const std::string advice = "); write the table to another file\n";
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      // Standard output appended to the input would be read on and on.
      {{"/bin/sh", "-c", "timeout 10 \"$0\" --points pts >> pts", PCTABLE_EXE},
       refusal + "standard output" + advice},
      {{PCTABLE_EXE, "-o", "pts", "pts"}, refusal + "pts" + advice},
      {{PCTABLE_EXE, "-o", "link", "pts"}, refusal + "link" + advice},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.err);
    const std::vector<std::string> args(c.args.begin() + 1, c.args.end());
    const RunResult r = run_program(c.args[0], args, {.cwd = dir.path()});
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(dir.read("pts"), points);
  }
}

TEST(PctableOutput, ClosedStandardDescriptorsAreErrors) {
  TempDir dir;
  dir.write("a.txt", "1 2\n");
  RunResult r = run_program(PCTABLE_EXE, {dir.file("a.txt")}, {.closed = {1}});
  EXPECT_EQ(r.err, "pctable: cannot write standard output: Bad file descriptor\n");
  EXPECT_EQ(r.status, 1);
  r = run_program(PCTABLE_EXE, {"-o", dir.file("t")}, {.closed = {0}});
  EXPECT_EQ(r.err, "pctable: standard input: read error: Bad file descriptor\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(dir.exists("t"));
}

// The file is changed after pctable has opened it, before it reads it:
// pctable opens its inputs in turn, and waits at the FIFO that follows it.
TEST(PctableInput, FileChangedWhileReadIsRefused) {
  std::string text;
  for (int i = 0; i < 1000; ++i) text += std::to_string(i) + " 2.756260\n";
  const struct {
    const char* name;
    bool to_file;
    void (*change)(const std::string& path, std::size_t size);
  } cases[] = {
      {"cut in a number", true,
       [](const std::string& path, std::size_t size) {
         ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(size / 2 + 3)), 0);
       }},
      {"a line appended", false,
       [](const std::string& path, std::size_t) {
         FILE* file = fopen(path.c_str(), "a");
         fputs("1 2\n", file);
         fclose(file);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    dir.write("pcs.txt", text);
    ASSERT_EQ(mkfifo(dir.file("more").c_str(), 0600), 0);
    std::vector<std::string> args = {dir.file("pcs.txt"), dir.file("more")};
    if (c.to_file) args.insert(args.begin(), {"-o", dir.file("table")});
    RunResult r;
    std::thread run([&] { r = run_program(PCTABLE_EXE, args); });
    const int more = open(dir.file("more").c_str(), O_WRONLY);
    c.change(dir.file("pcs.txt"), text.size());
    ASSERT_EQ(write(more, "5 6\n", 4), 4);
    close(more);
    run.join();
    EXPECT_EQ(r.err, "pctable: " + dir.file("pcs.txt") + ": changed while it was read\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(dir.exists("table"));
  }
}

}  // namespace more

}  // namespace
