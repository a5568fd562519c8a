// End-to-end: wordclusters' dictionary, summary, refusals and exit status.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "run_program.hpp"

namespace {

using pcgrid::testing::run_program;
using pcgrid::testing::TempDir;

std::string repeat(const std::string& line, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) text += line + "\n";
  return text;
}

// A one-letter profile with two peaks, B (20 frames) and F (10), and a
// saddle D (4 frames) between them: F's basin lies ln(10 / 4) = 0.916 kT
// above the saddle.
const std::string PROFILE = repeat("A", 5) + repeat("B", 20) + repeat("C", 8) + repeat("D", 4) +
                            repeat("E", 8) + repeat("F", 10) + repeat("G", 3);

std::string summary(int lines, int distinct, int cells, int min_frames, int states,
                    const std::string& share) {
  return "wordclusters: " + std::to_string(lines) + " lines, " + std::to_string(distinct) +
         " distinct words, " + std::to_string(cells) + " cells of at least " +
         std::to_string(min_frames) + (min_frames == 1 ? " frame, " : " frames, ") +
         std::to_string(states) + " states holding " + share + "% of the frames\n";
}

std::string refused(const std::string& what) {
  return "wordclusters: standard input:" + what + "\n";
}

std::string usage(const std::string& what) {
  return "wordclusters: " + what + " (see wordclusters --help)\n";
}

struct Case {
  const char* name;
  std::vector<std::string> args;
  std::string input;
  std::string out;
  std::string err;
  int status;
};

// A failing case is named by its name, not dumped as bytes.
[[maybe_unused]] void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

const Case cases[] = {
    // Neighbours: one letter one bin apart, Z and a included.
    {"NeighboursAcrossZa",
     {},
     repeat("Za", 3) + repeat("ZZ", 2),
     "Za 1\nZZ 1\n",
     summary(5, 2, 2, 2, 1, "100.0"),
     0},
    {"NeighboursAcrossab",
     {},
     repeat("Ab", 3) + repeat("Aa", 2),
     "Ab 1\nAa 1\n",
     summary(5, 2, 2, 2, 1, "100.0"),
     0},
    {"TwoBinsApartAreNotNeighbours",
     {},
     repeat("AA", 3) + repeat("AC", 2),
     "AA 1\nAC 2\n",
     summary(5, 2, 2, 2, 2, "100.0"),
     0},
    {"TwoLettersApartAreNotNeighbours",
     {},
     repeat("AA", 3) + repeat("BB", 2),
     "AA 1\nBB 2\n",
     summary(5, 2, 2, 2, 2, "100.0"),
     0},
    {"ZAndbAreNotNeighbours",
     {},
     repeat("Z", 3) + repeat("b", 2),
     "Z 1\nb 2\n",
     summary(5, 2, 2, 2, 2, "100.0"),
     0},
    // Ties in population: the smaller word first, in byte order (Z before a).
    {"EqualCellsSmallerWordFirst",
     {},
     repeat("BA", 2) + repeat("AA", 2),
     "AA 1\nBA 1\n",
     summary(4, 2, 2, 2, 1, "100.0"),
     0},
    {"EqualStatesSmallerPeakFirst",
     {},
     repeat("aa", 2) + repeat("ZZ", 2),
     "ZZ 1\naa 2\n",
     summary(4, 2, 2, 2, 2, "100.0"),
     0},
    {"EqualPeaksJoinTheSmallerWord",
     {"--min-frames", "1", "--barrier", "0"},
     repeat("C", 3) + "B\n" + repeat("A", 3),
     "A 1\nB 1\nC 2\n",
     summary(7, 3, 3, 1, 2, "100.0"),
     0},
    {"EqualPeaksMergeAboveTheBarrier",
     {"--min-frames", "1", "--barrier", "1.1"},
     repeat("C", 3) + "B\n" + repeat("A", 3),
     "A 1\nC 1\nB 1\n",
     summary(7, 3, 3, 1, 1, "100.0"),
     0},
    // Basins of 3 frames each: A's (peak 2 frames) before D's (peak 3).
    {"EqualBasinsSmallerPeakFirst",
     {"--min-frames", "1"},
     repeat("D", 3) + repeat("A", 2) + "B\n",
     "A 1\nB 1\nD 2\n",
     summary(6, 3, 3, 1, 2, "100.0"),
     0},
    // The two-peak profile: a barrier above the saddle's 0.916 kT merges.
    {"BarrierAboveSaddleMerges",
     {"--barrier", "1"},
     PROFILE,
     "B 1\nF 1\nC 1\nE 1\nA 1\nD 1\nG 1\n",
     summary(58, 7, 7, 2, 1, "100.0"),
     0},
    {"BarrierBelowSaddleKeepsApart",
     {"--barrier=0.9"},
     PROFILE,
     "B 1\nC 1\nA 1\nD 1\nF 2\nE 2\nG 2\n",
     summary(58, 7, 7, 2, 2, "100.0"),
     0},
    {"DefaultBarrierIsOne",
     {},
     PROFILE,
     "B 1\nF 1\nC 1\nE 1\nA 1\nD 1\nG 1\n",
     summary(58, 7, 7, 2, 1, "100.0"),
     0},
    {"ZeroBarrierNeverMerges",
     {"--barrier", "0"},
     PROFILE,
     "B 1\nC 1\nA 1\nD 1\nF 2\nE 2\nG 2\n",
     summary(58, 7, 7, 2, 2, "100.0"),
     0},
    // --min-frames: cells below it join nothing, and cut the saddle.
    {"MinFramesDropsSmallCells",
     {"--min-frames", "4"},
     PROFILE,
     "B 1\nF 1\nC 1\nE 1\nA 1\nD 1\n",
     summary(58, 7, 6, 4, 1, "94.8"),
     0},
    {"MinFramesCutsTheSaddle",
     {"--min-frames=5"},
     PROFILE,
     "B 1\nC 1\nA 1\nF 2\nE 2\n",
     summary(58, 7, 5, 5, 2, "87.9"),
     0},
    {"MinFramesOneKeepsSingletons",
     {"--min-frames", "1"},
     "A\nC\n",
     "A 1\nC 2\n",
     summary(2, 2, 2, 1, 2, "100.0"),
     0},
    {"DefaultMinFramesIsTwo", {}, "A\nC\nC\n", "C 1\n", summary(3, 2, 1, 2, 1, "66.7"), 0},
    // --min-share: population x 100 >= P x lines.
    {"MinShareDropsSmallBasins",
     {"--barrier", "0.9", "--min-share", "40"},
     PROFILE,
     "B 1\nC 1\nA 1\nD 1\n",
     summary(58, 7, 7, 2, 1, "63.8"),
     0},
    {"MinShareIsInclusive",
     {"--min-frames", "1", "--min-share", "25"},
     "A\nA\nA\nC\n",
     "A 1\nC 2\n",
     summary(4, 2, 2, 1, 2, "100.0"),
     0},
    {"MinShareJustAbove",
     {"--min-frames", "1", "--min-share", "25.0001"},
     "A\nA\nA\nC\n",
     "A 1\n",
     summary(4, 2, 2, 1, 1, "75.0"),
     0},
    {"DefaultMinShareIsOne",
     {"--min-frames", "1"},
     repeat("A", 100) + "C\n",
     "A 1\n",
     summary(101, 2, 2, 1, 1, "99.0"),
     0},
    {"MinShareZeroKeepsEveryBasin",
     {"--min-frames", "1", "--min-share", "0"},
     repeat("A", 100) + "C\n",
     "A 1\nC 2\n",
     summary(101, 2, 2, 1, 2, "100.0"),
     0},
    // Reading.
    {"LastLineWithoutNewline", {}, "AB\nAB", "AB 1\n", summary(2, 1, 1, 2, 1, "100.0"), 0},
    {"TenLetters",
     {},
     repeat("zzzzzzzzzz", 2),
     "zzzzzzzzzz 1\n",
     summary(2, 1, 1, 2, 1, "100.0"),
     0},
    {"StandardInputAsDash", {"-"}, "A\nA\n", "A 1\n", summary(2, 1, 1, 2, 1, "100.0"), 0},
    {"EmptyInput", {}, "", "", summary(0, 0, 0, 2, 0, "0.0"), 0},
    {"NoCellBigEnough", {}, "A\nB\n", "", summary(2, 2, 0, 2, 0, "0.0"), 0},
    // Refusals, with the line.
    {"UnequalLengths",
     {},
     "AB\nAB\nABC\n",
     "",
     refused("3: a word of 3 letters, but the first word has 2"),
     1},
    {"ShorterWord",
     {},
     "AB\nA",
     "",
     refused("2: a word of 1 letters, but the first word has 2"),
     1},
    {"ElevenLetters", {}, "AAAAAAAAAAA\n", "", refused("1: a word of more than 10 letters"), 1},
    {"LongLineWithoutNewline",
     {},
     "A\n" + std::string(100000, 'B'),
     "",
     refused("2: a word of more than 10 letters"),
     1},
    {"Digit",
     {},
     "AB\nA1\n",
     "",
     refused("2: '1' at column 2 is not a letter of the code (A-Z, a-z)"),
     1},
    {"Space",
     {},
     "AB \n",
     "",
     refused("1: byte 0x20 at column 3 is not a letter of the code (A-Z, a-z)"),
     1},
    {"Nul",
     {},
     std::string("A\0\n", 3),
     "",
     refused("1: byte 0x00 at column 2 is not a letter of the code (A-Z, a-z)"),
     1},
    {"Latin1",
     {},
     "A\xe9\n",
     "",
     refused("1: byte 0xE9 at column 2 is not a letter of the code (A-Z, a-z)"),
     1},
    {"CarriageReturn",
     {},
     "AB\r\n",
     "",
     refused("1: a carriage return at column 3 (lines must end with a newline alone)"),
     1},
    {"EmptyLine", {}, "AB\n\nAB\n", "", refused("2: an empty line"), 1},
    {"OnlyANewline", {}, "\n", "", refused("1: an empty line"), 1},
    {"TrailingEmptyLine", {}, "AB\n\n", "", refused("2: an empty line"), 1},
    // Usage errors.
    {"MinFramesZero",
     {"--min-frames", "0"},
     "",
     "",
     usage("--min-frames needs a whole number of at least 1, not '0'"),
     2},
    {"MinFramesNegative",
     {"--min-frames=-3"},
     "",
     "",
     usage("--min-frames needs a whole number of at least 1, not '-3'"),
     2},
    {"MinFramesFraction",
     {"--min-frames", "2.5"},
     "",
     "",
     usage("--min-frames needs a whole number of at least 1, not '2.5'"),
     2},
    {"BarrierNegative",
     {"--barrier", "-1"},
     "",
     "",
     usage("--barrier needs a number of kT of at least 0, not '-1'"),
     2},
    {"BarrierInfinite",
     {"--barrier", "inf"},
     "",
     "",
     usage("--barrier needs a number of kT of at least 0, not 'inf'"),
     2},
    {"BarrierEmpty",
     {"--barrier="},
     "",
     "",
     usage("--barrier needs a number of kT of at least 0, not ''"),
     2},
    {"MinShareAbove100",
     {"--min-share", "100.5"},
     "",
     "",
     usage("--min-share needs a percentage from 0 to 100, not '100.5'"),
     2},
    {"MinShareNan",
     {"--min-share", "nan"},
     "",
     "",
     usage("--min-share needs a percentage from 0 to 100, not 'nan'"),
     2},
    {"MissingValue", {"--barrier"}, "", "", usage("--barrier needs a value"), 2},
    {"UnknownOption", {"--frames", "2"}, "", "", usage("unknown option '--frames'"), 2},
    {"ScanTakesNoValue", {"--scan=1"}, "", "", usage("unknown option '--scan=1'"), 2},
    {"TwoFiles", {"a", "b"}, "", "", usage("one input file at most, not also 'b'"), 2},
    {"MinFramesTooLarge",
     {"--min-frames", "18446744073709551616"},
     "",
     "",
     usage("--min-frames '18446744073709551616' is too large (at most 18446744073709551615)"),
     2},
    // GNU conventions: unambiguous abbreviations; getopt's own messages
    // replaced by the program's.
    {"AbbreviatedOption",
     {"--bar", "0.9"},
     PROFILE,
     "B 1\nC 1\nA 1\nD 1\nF 2\nE 2\nG 2\n",
     summary(58, 7, 7, 2, 2, "100.0"),
     0},
    {"AmbiguousAbbreviation",
     {"--min", "2"},
     "",
     "",
     usage("option '--min' is ambiguous; possibilities: '--min-frames' '--min-share'"),
     2},
    {"AmbiguousB",
     {"--b=2"},
     "",
     "",
     usage("option '--b' is ambiguous; possibilities: '--barrier' '--blocks' '--by-segment'"),
     2},
    {"AmbiguousTr",
     {"--tr", "x"},
     "",
     "",
     usage("option '--tr' is ambiguous; possibilities: '--trajectory' '--transitions'"),
     2},
    {"BlocksWithoutReport",
     {"--blocks", "5", "--ndx", "/dev/null"},
     "",
     "",
     usage("--blocks needs --report, whose standard errors it gives"),
     2},
    {"TemperatureWithoutReport",
     {"--temperature", "300"},
     "",
     "",
     usage("--temperature needs --report, whose free energies it gives"),
     2},
    {"SegmentsWithoutVisits",
     {"--segments", "3", "--trajectory", "/dev/null"},
     "",
     "",
     usage("--segments needs --report, --transitions or --by-segment, which it cuts"),
     2},
    {"UnknownShortOption", {"-x"}, "", "", usage("unknown option '-x'"), 2},
};

class WordclustersCase : public ::testing::TestWithParam<Case> {};

TEST_P(WordclustersCase, OutputSummaryAndStatus) {
  const Case& c = GetParam();
  const auto r = run_program(WORDCLUSTERS_EXE, c.args, {.input = c.input});
  EXPECT_EQ(r.out, c.out);
  EXPECT_EQ(r.err, c.err);
  EXPECT_EQ(r.status, c.status);
}

INSTANTIATE_TEST_SUITE_P(Inputs, WordclustersCase, ::testing::ValuesIn(cases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Wordclusters, ScanTable) {
  const auto r = run_program(WORDCLUSTERS_EXE, {"--scan", "--min-share", "30"}, {.input = PROFILE});
  // F's basin (21 frames, 36.2%) is a state of its own below the saddle's
  // 0.92 kT, and part of B's above it.
  EXPECT_EQ(r.out,
            "barrier_kT states share_percent\n"
            "0.5 2 100.0\n"
            "1.0 1 100.0\n"
            "1.5 1 100.0\n"
            "2.0 1 100.0\n"
            "2.5 1 100.0\n"
            "3.0 1 100.0\n"
            "3.5 1 100.0\n"
            "4.0 1 100.0\n");
  EXPECT_EQ(r.err, "wordclusters: 58 lines, 7 distinct words, 7 cells of at least 2 frames\n");
  EXPECT_EQ(r.status, 0);
}

TEST(Wordclusters, ReadsANamedFile) {
  TempDir dir;
  dir.write("words", PROFILE);
  auto r = run_program(WORDCLUSTERS_EXE, {"--barrier", "0.9", dir.file("words")});
  EXPECT_EQ(r.out, "B 1\nC 1\nA 1\nD 1\nF 2\nE 2\nG 2\n");
  EXPECT_EQ(r.status, 0);

  dir.write("bad", "AB\nAB\nA\n");
  r = run_program(WORDCLUSTERS_EXE, {dir.file("bad")});
  EXPECT_EQ(r.err, "wordclusters: " + dir.file("bad") +
                       ":3: a word of 1 letters, but the first word has 2\n");
  EXPECT_EQ(r.status, 1);

  r = run_program(WORDCLUSTERS_EXE, {dir.file("missing")});
  EXPECT_EQ(r.err,
            "wordclusters: " + dir.file("missing") + ": cannot open: No such file or directory\n");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.status, 1);

  r = run_program(WORDCLUSTERS_EXE, {dir.path()});
  EXPECT_EQ(r.err, "wordclusters: " + dir.path() + ": cannot read: Is a directory\n");
  EXPECT_EQ(r.status, 1);
}

// Lines split across the reader's blocks, and many distinct words: the
// table grows, and every word keeps its count.
TEST(Wordclusters, ManyWordsAcrossBlocks) {
  const std::string code = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  // 26 x 26 x 26 words whose last three letters are two bins apart: no two
  // are neighbours, so each is a state of its own.
  std::string words_once;
  int words = 0;
  for (int a = 0; a < 52; a += 2) {
    for (int b = 0; b < 52; b += 2) {
      for (int c = 0; c < 52; c += 2) {
        words_once += "AAAAAAA" + std::string{code[a], code[b], code[c]} + "\n";
        ++words;
      }
    }
  }
  std::string input;
  for (int copy = 0; copy < 8; ++copy) input += words_once;  // 1.5 MB of 11-byte lines
  const auto r = run_program(WORDCLUSTERS_EXE, {"--min-share", "0"}, {.input = input});
  EXPECT_EQ(r.err, summary(8 * words, words, words, 2, words, "100.0"));
  ASSERT_EQ(r.status, 0);
  // Equal populations: states in byte order of their words.
  EXPECT_EQ(r.out.substr(0, 26), "AAAAAAAAAA 1\nAAAAAAAAAC 2\n");
  const std::string last = "AAAAAAAyyy " + std::to_string(words) + "\n";
  EXPECT_EQ(r.out.substr(r.out.size() - last.size()), last);
  std::size_t size = 0;
  for (int cluster = 1; cluster <= words; ++cluster) size += 12 + std::to_string(cluster).size();
  EXPECT_EQ(r.out.size(), size);
}

TEST(Wordclusters, WriteErrorIsReported) {
  const auto r = run_program(WORDCLUSTERS_EXE, {}, {.input = "A\nA\n", .stdout_path = "/dev/full"});
  EXPECT_EQ(r.err, "wordclusters: cannot write standard output: No space left on device\n");
  EXPECT_EQ(r.status, 1);
}

// A closed standard input is no input, and a closed standard output no
// place for the dictionary.
TEST(Wordclusters, ClosedStandardDescriptors) {
  auto r = run_program(WORDCLUSTERS_EXE, {}, {.input = "A\nA\n", .closed = {0}});
  EXPECT_EQ(r.err, "wordclusters: standard input: cannot read: Bad file descriptor\n");
  EXPECT_EQ(r.status, 1);
  r = run_program(WORDCLUSTERS_EXE, {}, {.input = "A\nA\n", .closed = {1}});
  EXPECT_EQ(r.err, "wordclusters: cannot write standard output: Bad file descriptor\n");
  EXPECT_EQ(r.status, 1);
}

// `wordclusters words >> words` would append the dictionary to its input.
TEST(Wordclusters, StandardOutputThatIsTheInputIsRefused) {
  TempDir dir;
  dir.write("words", "A\nA\n");
  for (const char* command : {"\"$0\" \"$1\" >> \"$1\"", "\"$0\" < \"$1\" >> \"$1\""}) {
    const auto r = run_program("/bin/sh", {"-c", command, WORDCLUSTERS_EXE, dir.file("words")});
    EXPECT_EQ(r.err, "wordclusters: standard output is the input, which it would change\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(dir.read("words"), "A\nA\n");
  }
}

TEST(Wordclusters, HelpAndVersion) {
  auto r = run_program(WORDCLUSTERS_EXE, {"--help"});
  EXPECT_EQ(
      r.out.rfind(
          "Usage: wordclusters [--min-frames N] [--barrier B] [--min-share P] [--scan] [FILE]\n",
          0),
      0u);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  r = run_program(WORDCLUSTERS_EXE, {"--version"});
  EXPECT_EQ(r.out.rfind("wordclusters (pcgrid) ", 0), 0u);
  EXPECT_EQ(r.status, 0);
}

}  // namespace
