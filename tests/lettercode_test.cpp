// End-to-end: lettercode's standard output, standard error and exit status.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

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
