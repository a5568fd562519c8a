// End-to-end: wordclusters' state files (--report, --ndx, --trajectory,
// --transitions) with weights, segments, blocks and a temperature; their
// refusals; a comparison with a plain model of their definitions on random
// words; and the states of a real GROMACS projection.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <ostream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "run_program.hpp"

namespace {

using pcgrid::testing::run_program;
using pcgrid::testing::RunResult;
using pcgrid::testing::TempDir;

const char* const FILES[] = {"report", "ndx", "trajectory", "transitions"};

std::string lines(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += item + "\n";
  return text;
}

// Runs wordclusters on `words` (and `weights` when not empty) with every
// state file asked for in `dir`.
RunResult run_with_files(const TempDir& dir, std::vector<std::string> args,
                         const std::string& words, const std::string& weights) {
  dir.write("words", words);
  if (!weights.empty()) {
    dir.write("weights", weights);
    args.insert(args.begin(), {"--weights", dir.file("weights")});
  }
  for (const char* file : FILES) {
    args.insert(args.begin(), {std::string("--") + file, dir.file(file)});
  }
  args.push_back(dir.file("words"));
  return run_program(WORDCLUSTERS_EXE, args);
}

const std::string HEADER =
    "state\tframes\tshare\tshare_err\tdF_kT\tdF_err\tpeak\trepresentative\tvisits\tlifetime\n";

// --- Each definition on a hand-made sequence ---

struct FilesCase {
  const char* name;
  std::vector<std::string> args;
  std::string words;
  std::string weights;  // none when empty
  std::string dictionary, report, ndx, trajectory, transitions;
};

[[maybe_unused]] void PrintTo(const FilesCase& c, std::ostream* os) {
  *os << c.name;
}

// Z, J, K and L are seen once, below --min-frames: they are in no state.
// A (5 frames) and C (2) are two bins apart, states 1 and 2.
const std::string UNASSIGNED = lines({"Z", "A", "A", "J", "C", "C", "K", "L", "A", "A", "A"});
const std::string UNASSIGNED_DICTIONARY = "A 1\nC 2\n";
const std::string UNASSIGNED_NDX =
    "[ state_1 ]\n2 3 9 10 11\n[ state_2 ]\n5 6\n[ representatives ]\n2 5\n";
const std::string UNASSIGNED_TRAJECTORY =
    lines({"0", "1", "1", "0", "2", "2", "0", "0", "1", "1", "1"});
// E (1.5) outweighs A (1); C weighs nothing.
const std::string WEIGHED = lines({"A", "A", "C", "C", "E", "E"});
const std::string ZERO_WEIGHTS = lines({"1", "0", "0", "0", "1", "0.5"});

const FilesCase files_cases[] = {
    // Frame 1 comes before any state; frames 4, 7 and 8 keep the state
    // last visited: state 1's first visit lasts 3 frames, state 2's 4.
    {"MilestoningAcrossUnassignedFrames",
     {},
     UNASSIGNED,
     "",
     UNASSIGNED_DICTIONARY,
     HEADER + "1\t5\t45.455\t-\t0.000\t-\tA\t2\t2\t3.0\n" +
         "2\t2\t18.182\t-\t0.916\t-\tC\t5\t1\t4.0\n",
     UNASSIGNED_NDX,
     UNASSIGNED_TRAJECTORY,
     "1 2 1\n2 1 1\n"},
    // The second segment starts in state 1's last visit: two visits cut
    // short by a segment's end, and no transition across the boundary.
    {"SegmentBoundaryInAVisit",
     {"--segments", "10,1"},
     UNASSIGNED,
     "",
     UNASSIGNED_DICTIONARY,
     HEADER + "1\t5\t45.455\t-\t0.000\t-\tA\t2\t3\t3.0\n" +
         "2\t2\t18.182\t-\t0.916\t-\tC\t5\t1\t4.0\n",
     UNASSIGNED_NDX,
     UNASSIGNED_TRAJECTORY,
     "1 2 1\n2 1 1\n"},
    // The boundary falls in state 2's visit, and the second segment's
    // unassigned frames 7 and 8 are in no visit.
    {"SegmentBoundaryEndsAVisit",
     {"--segments=6,0,5"},
     UNASSIGNED,
     "",
     UNASSIGNED_DICTIONARY,
     HEADER + "1\t5\t45.455\t-\t0.000\t-\tA\t2\t2\t3.0\n" +
         "2\t2\t18.182\t-\t0.916\t-\tC\t5\t1\t-\n",
     UNASSIGNED_NDX,
     UNASSIGNED_TRAJECTORY,
     "1 2 1\n"},
    // Blocks of frames 1-6 and 7-11; state 2 is empty in the second.
    {"BlocksWithAnEmptyState",
     {"--blocks", "2"},
     UNASSIGNED,
     "",
     UNASSIGNED_DICTIONARY,
     HEADER + "1\t5\t45.455\t13.333\t0.000\t0.000\tA\t2\t2\t3.0\n" +
         "2\t2\t18.182\t16.667\t0.916\t-\tC\t5\t1\t4.0\n",
     UNASSIGNED_NDX,
     UNASSIGNED_TRAJECTORY,
     "1 2 1\n2 1 1\n"},
    // A has 3 frames and B 2, but B weighs 4 and A 3: B is the peak.
    {"WeightsChangeThePeak",
     {},
     lines({"A", "A", "A", "B", "B"}),
     lines({"1", "1", "1", "2", "2"}),
     "B 1\nA 1\n",
     HEADER + "1\t5\t100.000\t-\t0.000\t-\tB\t4\t1\t-\n",
     "[ state_1 ]\n1 2 3 4 5\n[ representatives ]\n4\n",
     lines({"1", "1", "1", "1", "1"}),
     ""},
    // Zero weights: frames that count for nothing still belong to their
    // state, and C, weighing nothing, is no state.
    {"ZeroWeights",
     {},
     WEIGHED,
     ZERO_WEIGHTS,
     "E 1\nA 2\n",
     HEADER + "1\t2\t60.000\t-\t0.000\t-\tE\t5\t1\t-\n" +
         "2\t2\t40.000\t-\t0.405\t-\tA\t1\t1\t4.0\n",
     "[ state_1 ]\n5 6\n[ state_2 ]\n1 2\n[ representatives ]\n5 1\n",
     lines({"2", "2", "0", "0", "1", "1"}),
     "2 1 1\n"},
    // ... unless every basin is a state: C's free energy is infinite.
    {"ZeroPopulationState",
     {"--min-share", "0"},
     WEIGHED,
     ZERO_WEIGHTS,
     "E 1\nA 2\nC 3\n",
     HEADER + "1\t2\t60.000\t-\t0.000\t-\tE\t5\t1\t-\n" +
         "2\t2\t40.000\t-\t0.405\t-\tA\t1\t1\t2.0\n" + "3\t2\t0.000\t-\t-\t-\tC\t3\t1\t2.0\n",
     "[ state_1 ]\n5 6\n[ state_2 ]\n1 2\n[ state_3 ]\n3 4\n[ representatives ]\n5 1 3\n",
     lines({"2", "2", "3", "3", "1", "1"}),
     "2 3 1\n3 1 1\n"},
    {"Temperature",
     {"--temperature", "300"},
     WEIGHED,
     ZERO_WEIGHTS,
     "E 1\nA 2\n",
     "state\tframes\tshare\tshare_err\tdF_kJmol\tdF_err\tpeak\trepresentative\tvisits\tlifetime\n"
     "1\t2\t60.000\t-\t0.000\t-\tE\t5\t1\t-\n"
     "2\t2\t40.000\t-\t1.011\t-\tA\t1\t1\t4.0\n",
     "[ state_1 ]\n5 6\n[ state_2 ]\n1 2\n[ representatives ]\n5 1\n",
     lines({"2", "2", "0", "0", "1", "1"}),
     "2 1 1\n"},
    // 32 frames of one state: index lines of 15.
    {"FifteenToALine",
     {},
     lines(std::vector<std::string>(32, "Q")),
     "",
     "Q 1\n",
     HEADER + "1\t32\t100.000\t-\t0.000\t-\tQ\t1\t1\t-\n",
     "[ state_1 ]\n1 2 3 4 5 6 7 8 9 10 11 12 13 14 15\n16 17 18 19 20 21 22 23 24 25 26 27 28 29 "
     "30\n31 32\n[ representatives ]\n1\n",
     lines(std::vector<std::string>(32, "1")),
     ""},
    {"NoState", {}, "A\nB\n", "", "", HEADER, "", "0\n0\n", ""},
};

class StateFiles : public ::testing::TestWithParam<FilesCase> {};

TEST_P(StateFiles, DefinitionsHold) {
  const FilesCase& c = GetParam();
  TempDir dir;
  const auto r = run_with_files(dir, c.args, c.words, c.weights);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, c.dictionary);
  EXPECT_EQ(dir.read("report"), c.report);
  EXPECT_EQ(dir.read("ndx"), c.ndx);
  EXPECT_EQ(dir.read("trajectory"), c.trajectory);
  EXPECT_EQ(dir.read("transitions"), c.transitions);
}

INSTANTIATE_TEST_SUITE_P(Sequences, StateFiles, ::testing::ValuesIn(files_cases),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Refusals: nothing written ---

struct Refusal {
  const char* name;
  std::vector<std::string> args;  // "{dir}" stands for the run's folder
  std::string words;
  std::string weights;
  std::string err;  // "{dir}" too
  int status;
};

[[maybe_unused]] void PrintTo(const Refusal& c, std::ostream* os) {
  *os << c.name;
}

std::string in_dir(std::string text, const TempDir& dir) {
  for (std::size_t at; (at = text.find("{dir}")) != std::string::npos;) {
    text.replace(at, 5, dir.path());
  }
  return text;
}

const std::string AB = lines({"A", "A", "B"});

std::string usage(const std::string& what) {
  return "wordclusters: " + what + " (see wordclusters --help)\n";
}

std::string bad_weight(int line, const std::string& found) {
  return "wordclusters: {dir}/weights:" + std::to_string(line) +
         ": expected a weight (a finite number >= 0), found \"" + found + "\"\n";
}

const Refusal refusals[] = {
    {"NotANumber", {}, AB, "1\nx\n1\n", bad_weight(2, "x"), 1},
    {"NegativeWeight", {}, AB, "1\n-0.5\n1\n", bad_weight(2, "-0.5"), 1},
    {"InfiniteWeight", {}, AB, "1\n1\ninf\n", bad_weight(3, "inf"), 1},
    {"EmptyWeightLine", {}, AB, "1\n\n1\n", bad_weight(2, ""), 1},
    {"TwoCarriageReturns", {}, AB, "1\r\r\n1\n1\n", bad_weight(1, "1\\x0D\\x0D"), 1},
    {"Hexadecimal", {}, AB, "1\n0x10\n1\n", bad_weight(2, "0x10"), 1},
    {"MinusZero", {}, AB, "1\n-0\n1\n", bad_weight(2, "-0"), 1},
    {"BeyondTheDoubles", {}, AB, "1\n1e400\n1\n", bad_weight(2, "1e400"), 1},
    {"TwoNumbers", {}, AB, "1\n1 1\n1\n", bad_weight(2, "1 1"), 1},
    {"TooFewWeights",
     {},
     AB,
     "1\n1\n",
     "wordclusters: {dir}/weights has 2 weights, the input has 3 frames\n",
     1},
    {"TooManyWeights",
     {},
     AB,
     "1\n1\n1\n1\n",
     "wordclusters: {dir}/weights has more than 3 weights, the input has 3 frames\n",
     1},
    {"AllWeightsZero",
     {},
     AB,
     "0\n0\n0\n",
     "wordclusters: {dir}/weights: every weight is zero\n",
     1},
    {"SegmentsDoNotAddUp",
     {"--segments", "1,1"},
     AB,
     "",
     "wordclusters: --segments adds up to 2 frames, the input has 3\n",
     1},
    {"SegmentsNotCounts",
     {"--segments", "1,,2"},
     AB,
     "",
     usage("--segments needs frame counts separated by commas, not '1,,2'"),
     2},
    {"OneBlock",
     {"--blocks", "1"},
     AB,
     "",
     usage("--blocks needs a whole number of at least 2, not '1'"),
     2},
    {"MoreBlocksThanFrames",
     {"--blocks", "4"},
     AB,
     "",
     "wordclusters: --blocks 4 is more than the 3 frames of the input\n",
     1},
    {"NoTemperature",
     {"--temperature", "0"},
     AB,
     "",
     usage("--temperature needs a number of kelvin above 0, not '0'"),
     2},
    {"WithScan", {"--scan"}, AB, "", usage("--scan cannot be combined with --report"), 2},
    {"OutputIsTheInput",
     {"--trajectory", "{dir}/words"},
     AB,
     "",
     "wordclusters: {dir}/words: the --trajectory file is the input\n",
     1},
    {"OutputIsTheWeights",
     {"--ndx", "{dir}/weights"},
     AB,
     "1\n1\n1\n",
     "wordclusters: {dir}/weights: the --ndx file is the --weights file\n",
     1},
    {"TwoOutputsOneNewFile",
     {"--ndx", "{dir}/../" + std::string("{base}") + "/report"},
     AB,
     "",
     "",
     1},
    {"WeightsAreTheWords",
     {"--weights", "{dir}/words"},
     AB,
     "",
     "wordclusters: {dir}/words: the --weights file is the input, which holds the words\n",
     1},
    {"OutputOnStandardOutput",
     {"--transitions", "-"},
     AB,
     "",
     usage("--transitions needs a file name, not '-': standard output holds the dictionary"),
     2},
};

class StateFileRefusals : public ::testing::TestWithParam<Refusal> {};

TEST_P(StateFileRefusals, NothingWritten) {
  const Refusal& c = GetParam();
  TempDir dir;
  const std::string base = dir.path().substr(dir.path().rfind('/') + 1);
  std::vector<std::string> args;
  for (const std::string& arg : c.args) {
    std::string a = in_dir(arg, dir);
    if (const std::size_t at = a.find("{base}"); at != std::string::npos) a.replace(at, 6, base);
    args.push_back(a);
  }
  const auto r = run_with_files(dir, args, c.words, c.weights);
  const std::string err =
      c.err.empty() ? "wordclusters: " + args[1] + ": the --ndx file is also the --report file\n"
                    : in_dir(c.err, dir);
  EXPECT_EQ(r.err, err);
  EXPECT_EQ(r.status, c.status);
  EXPECT_EQ(r.out, "");
  for (const char* file : FILES) EXPECT_FALSE(dir.exists(file)) << file;
  EXPECT_EQ(dir.read("words"), c.words);
}

INSTANTIATE_TEST_SUITE_P(Refusals, StateFileRefusals, ::testing::ValuesIn(refusals),
                         [](const auto& info) { return std::string(info.param.name); });

// A file that cannot be written: no dictionary, and the files already
// there are left as they were, with nothing beside them.
TEST(StateFileWrites, AllOrNothing) {
  TempDir dir;
  dir.write("words", UNASSIGNED);
  dir.write("report", "old\n");
  const auto r = run_program(WORDCLUSTERS_EXE, {"--report", dir.file("report"), "--trajectory",
                                                "/dev/full", dir.file("words")});
  EXPECT_EQ(r.err, "wordclusters: /dev/full: cannot write: No space left on device\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(dir.read("report"), "old\n");
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path()))
    ++files;
  EXPECT_EQ(files, 2u);
}

// Weights from a pipe, read a second time for the blocks from a copy.
TEST(StateFileWeights, FromAPipeWithBlocks) {
  TempDir dir;
  dir.write("words", UNASSIGNED);
  const std::string weights = "1\n2\n2\n1\n1\n1\n1\n1\n0.5\n0.5\n1\n";
  const auto r = run_program(
      "/bin/sh",
      {"-c", "printf '" + weights + "' | \"$0\" --weights - --blocks 2 --report \"$1\" \"$2\"",
       WORDCLUSTERS_EXE, dir.file("report"), dir.file("words")});
  ASSERT_EQ(r.status, 0) << r.err;
  // Block 1 (frames 1-6) weighs 8, state 1 4 and state 2 2; block 2 weighs
  // 4, state 1 2 and state 2 none.
  EXPECT_EQ(dir.read("report"), HEADER + "1\t5\t50.000\t0.000\t0.000\t0.000\tA\t2\t2\t3.0\n" +
                                    "2\t2\t16.667\t12.500\t1.099\t-\tC\t5\t1\t4.0\n");
}

// Weights times 1e300 (or near the largest double) give what the weights
// themselves give: no share overflows, and no state appears or goes. So do
// weights written with a plus sign, blanks around them and CR LF line ends.
TEST(StateFileWeights, EqualWeightsGiveEqualFiles) {
  struct ScaleCase {
    std::vector<std::string> args;
    std::string words, weights, scaled;
  };
  const ScaleCase cases[] = {
      {{"--blocks", "2"},
       UNASSIGNED,
       lines({"1", "2", "2", "1", "1", "1", "1", "1", "0.5", "0.5", "1"}),
       lines({"1e300", "2e300", "2e300", "1e300", "1e300", "1e300", "1e300", "1e300", "0.5e300",
              "0.5e300", "1e300"})},
      {{"--min-share", "50"},
       lines({"A", "A", "C", "C"}),
       lines({"80", "80", "1", "1"}),
       lines({"80e306", "80e306", "1e306", "1e306"})},
      {{"--blocks", "2"},
       UNASSIGNED,
       lines({"1", "2", "2", "1", "1", "1", "1", "1", "0.5", "0.5", "1"}),
       "+1\r\n 2\r\n2 \r\n\t1\t\r\n+1e0\n1.\n1\n1\n.5\n5E-1\n1"},
  };
  for (const ScaleCase& c : cases) {
    TempDir plain, scaled;
    const auto expected = run_with_files(plain, c.args, c.words, c.weights);
    const auto r = run_with_files(scaled, c.args, c.words, c.scaled);
    ASSERT_EQ(expected.status, 0) << expected.err;
    EXPECT_EQ(r.status, 0) << c.scaled;
    EXPECT_EQ(r.out, expected.out) << c.scaled;
    EXPECT_EQ(r.err, expected.err) << c.scaled;
    for (const char* file : FILES) EXPECT_EQ(scaled.read(file), plain.read(file)) << file;
  }
}

// A state whose population is less than 1e-308 of the first's has a
// finite free energy.
TEST(StateFileWeights, TinyShareHasAFiniteFreeEnergy) {
  TempDir dir;
  const auto r = run_with_files(dir, {"--min-share", "0"}, lines({"A", "A", "C", "C"}),
                                lines({"1e300", "1e300", "1e-300", "1e-300"}));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(dir.read("report"), HEADER + "1\t2\t100.000\t-\t0.000\t-\tA\t1\t1\t2.0\n" +
                                    "2\t2\t0.000\t-\t1381.551\t-\tC\t3\t1\t-\n");
}

// Weights without end are refused at the first weight too many, also
// when they are read twice.
TEST(StateFileWeights, EndlessWeightsAreRefused) {
  TempDir dir;
  dir.write("words", AB);
  for (const std::string options : {"", "--blocks 2 --report \"$1\""}) {
    const auto r = run_program(
        "/bin/sh",
        {"-c", "yes 1 | timeout 10 \"$0\" --weights - " + options + " \"$2\"", WORDCLUSTERS_EXE,
         dir.file("report"), dir.file("words")},
        {.env = {"TMPDIR=" + dir.path()}});
    EXPECT_EQ(r.err, "wordclusters: standard input has more than 3 weights, the input has 3 frames\n")
        << options;
    EXPECT_EQ(r.status, 1) << options;
    EXPECT_FALSE(dir.exists("report"));
  }
}

// Words and weights both read through /dev/stdin: one file given twice.
TEST(StateFileWeights, WordsAndWeightsFromOneStream) {
  const auto r = run_program("/bin/sh", {"-c", "printf 'A\\nA\\nB\\n' | \"$0\" --weights /dev/stdin /dev/stdin",
                                         WORDCLUSTERS_EXE});
  EXPECT_EQ(r.err,
            "wordclusters: /dev/stdin: the --weights file is the input, which holds the words\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
}

// --- Out of memory ---

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool SANITIZED = true;  // the sanitizers' shadow memory needs terabytes of addresses
#else
constexpr bool SANITIZED = false;
#endif

// 3,000,000 frames of 8 words, none a neighbour of another: 8 states under
// --min-share 0. In 40 MiB of address space the frames' words (12 MB) fit,
// a 32 MB pass of the index file does not, nor 1,000,000 blocks of 8 states.
TEST(StateFileMemory, OutOfMemoryIsOneMessage) {
  if (SANITIZED) GTEST_SKIP() << "sanitizer build";
  const char* const eight[] = {"AA\n", "AC\n", "CA\n", "CC\n", "EE\n", "EA\n", "AE\n", "GG\n"};
  std::string words;
  std::uint32_t x = 1;
  for (int i = 0; i < 3'000'000; ++i) {
    x = x * 1103515245u + 12345u;
    words += eight[x >> 29];
  }
  struct MemoryCase {
    std::vector<std::string> args;
    std::string err;  // empty: the run succeeds
  };
  const MemoryCase cases[] = {
      {{"--trajectory", "out"}, ""},
      {{"--ndx", "out"}, "wordclusters: out of memory\n"},
      {{"--ndx", "out", "--report", "report"}, "wordclusters: out of memory\n"},
      {{"--min-share", "0", "--blocks", "1000000", "--report", "out"},
       "wordclusters: --blocks 1000000 for 8 states needs 80 MB: out of memory\n"},
  };
  for (const MemoryCase& c : cases) {
    TempDir dir;
    dir.write("words", words);
    std::vector<std::string> args = c.args;
    for (std::string& arg : args) {
      if (arg == "out" || arg == "report") arg = dir.file(arg);
    }
    args.push_back("words");
    const auto r = run_program(WORDCLUSTERS_EXE, args,
                               {.cwd = dir.path(), .address_space_limit = 40ul << 20});
    if (c.err.empty()) {
      EXPECT_EQ(r.status, 0) << r.err;
      continue;
    }
    EXPECT_EQ(r.err, c.err) << args[0];
    EXPECT_EQ(r.status, 1) << args[0];
    EXPECT_EQ(r.out, "") << args[0];
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path()))
      ++files;
    EXPECT_EQ(files, 1u) << args[0];
  }
}

// A state file that cannot be written is refused before the input is read:
// here an input without end.
TEST(StateFileWrites, RefusedBeforeTheInputIsRead) {
  if (SANITIZED) GTEST_SKIP() << "sanitizer build";
  TempDir dir;
  const auto r =
      run_program("/bin/sh", {"-c", "yes A | timeout 20 \"$0\" --report \"$1\"", WORDCLUSTERS_EXE,
                              dir.file("no-folder/report")},
                  {.address_space_limit = 256ul << 20});
  EXPECT_EQ(r.err, "wordclusters: " + dir.file("no-folder/report") +
                       ": cannot create a file beside it: No such file or directory\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
}

// --- A plain model of the definitions ---

struct ModelRun {
  std::vector<std::string> words;
  std::vector<double> weights;  // empty: none
  std::vector<std::uint64_t> segments;
  std::uint64_t blocks = 0;
  double temperature = 0;
  std::uint64_t min_frames = 2;
  double barrier = 1;
  double min_share = 1;
};

struct Expected {
  std::string dictionary, report, ndx, trajectory, transitions;
};

std::string fixed(double value, int decimals) {
  char text[400];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  std::string s = text;
  if (s == "-0.000" || s == "-0.0") s.erase(0, 1);
  return s;
}

int letter_rank(char c) {
  return c <= 'Z' ? c - 'A' : 26 + c - 'a';
}

bool neighbours(const std::string& a, const std::string& b) {
  int differing = 0;
  bool one_bin = true;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] == b[i]) continue;
    ++differing;
    one_bin = std::abs(letter_rank(a[i]) - letter_rank(b[i])) == 1;
  }
  return differing == 1 && one_bin;
}

double standard_error(const std::vector<double>& x) {
  double mean = 0;
  for (const double v : x) mean += v;
  mean /= static_cast<double>(x.size());
  double squares = 0;
  for (const double v : x) squares += (v - mean) * (v - mean);
  const double k = static_cast<double>(x.size());
  return std::sqrt(squares / (k - 1)) / std::sqrt(k);
}

Expected model(const ModelRun& run) {
  const std::size_t n = run.words.size();
  auto weight = [&](std::size_t f) { return run.weights.empty() ? 1.0 : run.weights[f]; };
  // Cells: populations in frame order.
  std::map<std::string, std::uint64_t> frames_of;
  std::map<std::string, double> population_of;
  double total = 0;
  for (std::size_t f = 0; f < n; ++f) {
    ++frames_of[run.words[f]];
    population_of[run.words[f]] += weight(f);
    total += weight(f);
  }
  std::vector<std::string> cells;
  for (const auto& [word, frames] : frames_of) {
    if (frames >= run.min_frames) cells.push_back(word);
  }
  std::stable_sort(cells.begin(), cells.end(), [&](const std::string& a, const std::string& b) {
    return population_of[a] > population_of[b];
  });
  // Basins: each cell's basin named by its peak.
  std::map<std::string, std::string> basin;
  std::map<std::string, double> basin_population;
  for (const std::string& cell : cells) {
    std::vector<std::string> met;  // the peaks of the visited neighbours' basins
    for (const auto& [other, peak] : basin) {
      if (neighbours(cell, other) && std::find(met.begin(), met.end(), peak) == met.end()) {
        met.push_back(peak);
      }
    }
    const double c = population_of[cell];
    if (met.empty()) {
      basin[cell] = cell;
      basin_population[cell] = c;
      continue;
    }
    std::string joined = met[0];
    for (const std::string& peak : met) {
      const double p = population_of[peak], q = population_of[joined];
      if (p > q || (p == q && peak < joined)) joined = peak;
    }
    basin[cell] = joined;
    basin_population[joined] += c;
    for (const std::string& peak : met) {
      if (peak == joined || c == 0 || !(std::log(population_of[peak] / c) < run.barrier)) continue;
      for (auto& [member, its_peak] : basin) {
        if (its_peak == peak) its_peak = joined;
      }
      basin_population[joined] += basin_population[peak];
    }
  }
  std::vector<std::string> peaks;
  for (const auto& [peak, population] : basin_population) {
    bool is_peak = basin.count(peak) && basin[peak] == peak;
    if (is_peak && population * 100.0 >= run.min_share * total) peaks.push_back(peak);
  }
  std::stable_sort(peaks.begin(), peaks.end(), [&](const std::string& a, const std::string& b) {
    return basin_population[a] > basin_population[b];
  });
  const std::size_t states = peaks.size();
  std::map<std::string, std::uint32_t> state_of_word;
  Expected e;
  for (std::size_t s = 0; s < states; ++s) {
    for (const std::string& cell : cells) {
      if (basin[cell] != peaks[s]) continue;
      state_of_word[cell] = static_cast<std::uint32_t>(s + 1);
      e.dictionary += cell + " " + std::to_string(s + 1) + "\n";
    }
  }
  std::vector<std::uint32_t> state(n);
  for (std::size_t f = 0; f < n; ++f) {
    state[f] = state_of_word.count(run.words[f]) ? state_of_word[run.words[f]] : 0;
    e.trajectory += std::to_string(state[f]) + "\n";
  }
  // Visits in each segment.
  std::vector<std::uint64_t> visits(states + 1), ended(states + 1), ended_frames(states + 1);
  std::map<std::pair<std::uint32_t, std::uint32_t>, std::uint64_t> transitions;
  std::vector<std::uint64_t> segments = run.segments;
  if (segments.empty()) segments.push_back(n);
  std::size_t first = 0;
  for (const std::uint64_t length : segments) {
    std::vector<std::uint32_t> milestone(length);
    for (std::size_t i = 0; i < length; ++i) {
      const std::uint32_t s = state[first + i];
      milestone[i] = s != 0 ? s : (i > 0 ? milestone[i - 1] : 0);
    }
    // The maximal runs of one milestoned state other than 0.
    std::vector<std::pair<std::uint32_t, std::uint64_t>> runs;  // state, length
    for (std::size_t i = 0; i < length; ++i) {
      if (milestone[i] == 0) continue;
      if (runs.empty() || i == 0 || milestone[i - 1] != milestone[i])
        runs.push_back({milestone[i], 0});
      ++runs.back().second;
    }
    for (std::size_t v = 0; v < runs.size(); ++v) {
      ++visits[runs[v].first];
      if (v + 1 < runs.size()) {
        ++ended[runs[v].first];
        ended_frames[runs[v].first] += runs[v].second;
        ++transitions[{runs[v].first, runs[v + 1].first}];
      }
    }
    first += length;
  }
  for (const auto& [pair, count] : transitions) {
    e.transitions += std::to_string(pair.first) + " " + std::to_string(pair.second) + " " +
                     std::to_string(count) + "\n";
  }
  // Blocks.
  const std::uint64_t k = run.blocks;
  std::vector<double> block(k), in_block(k * (states + 1));
  for (std::size_t f = 0; f < n && k != 0; ++f) {
    const std::uint64_t b = f * k / n;
    block[b] += weight(f);
    in_block[b * (states + 1) + state[f]] += weight(f);
  }
  const double unit = run.temperature == 0 ? 1.0 : 0.0083144626 * run.temperature;
  e.report = run.temperature == 0 ? HEADER
                                  : "state\tframes\tshare\tshare_err\tdF_kJmol\tdF_err\tpeak\t"
                                    "representative\tvisits\tlifetime\n";
  std::string representatives;
  for (std::size_t s = 1; s <= states; ++s) {
    const std::string& peak = peaks[s - 1];
    std::uint64_t frames = 0, representative = 0;
    std::vector<std::uint64_t> members;
    for (std::size_t f = 0; f < n; ++f) {
      if (state[f] == s) members.push_back(f + 1);
      if (run.words[f] == peak && representative == 0) representative = f + 1;
    }
    frames = members.size();
    const double p = basin_population[peak], p1 = basin_population[peaks[0]];
    std::string share_err = "-", df_err = "-";
    if (k != 0) {
      std::vector<double> shares, energies;
      bool shares_ok = true, energies_ok = true;
      for (std::uint64_t b = 0; b < k; ++b) {
        const double ps = in_block[b * (states + 1) + s], pf = in_block[b * (states + 1) + 1];
        shares_ok = shares_ok && block[b] != 0;
        energies_ok = energies_ok && ps != 0 && pf != 0;
        if (block[b] != 0) shares.push_back(ps * 100.0 / block[b]);
        if (ps != 0 && pf != 0) energies.push_back(-std::log(ps / pf) * unit);
      }
      if (shares_ok) share_err = fixed(standard_error(shares), 3);
      if (energies_ok) df_err = fixed(standard_error(energies), 3);
    }
    e.report +=
        std::to_string(s) + "\t" + std::to_string(frames) + "\t" + fixed(p * 100.0 / total, 3) +
        "\t" + share_err + "\t" + (p == 0 ? "-" : fixed(-std::log(p / p1) * unit, 3)) + "\t" +
        df_err + "\t" + peak + "\t" + std::to_string(representative) + "\t" +
        std::to_string(visits[s]) + "\t" +
        (ended[s] == 0
             ? "-"
             : fixed(static_cast<double>(ended_frames[s]) / static_cast<double>(ended[s]), 1)) +
        "\n";
    e.ndx += "[ state_" + std::to_string(s) + " ]\n";
    for (std::size_t m = 0; m < members.size(); ++m) {
      e.ndx += std::to_string(members[m]) + (m % 15 == 14 || m + 1 == members.size() ? "\n" : " ");
    }
    representatives += std::to_string(representative) + (s % 15 == 0 || s == states ? "\n" : " ");
  }
  if (states > 0) e.ndx += "[ representatives ]\n" + representatives;
  return e;
}

std::string argument(double value) {
  std::ostringstream text;
  text << value;
  return text.str();
}

// Random walks over two-letter words across Z-a, in random segments, with
// random weights (multiples of 1/4, so that every sum is exact in any
// order), blocks and settings.
TEST(StateFilesModel, RandomRunsAgreeByteForByte) {
  std::mt19937_64 random(20261208);
  const std::string code = "XYZabc";
  auto below = [&](std::uint64_t n) {
    return std::uniform_int_distribution<std::uint64_t>(0, n - 1)(random);
  };
  TempDir dir;
  for (int round = 0; round < 150; ++round) {
    ModelRun run;
    const std::uint64_t n = 1 + below(round < 20 ? 12 : 400);
    std::string word = {code[below(6)], code[below(6)]};
    for (std::uint64_t f = 0; f < n; ++f) {
      if (below(4) == 0) word[below(2)] = code[below(6)];
      run.words.push_back(word);
    }
    if (below(2) == 0) {
      for (std::uint64_t f = 0; f < n; ++f)
        run.weights.push_back(below(3) == 0 ? 0.0 : 0.25 * static_cast<double>(below(16)));
      run.weights[below(n)] = 1.75;
    }
    if (below(2) == 0) {
      for (std::uint64_t left = n; left > 0;) {
        const std::uint64_t length = below(3) == 0 ? 0 : 1 + below(left);
        run.segments.push_back(std::min(length, left));
        left -= std::min(length, left);
      }
    }
    if (n >= 2 && below(3) != 0) run.blocks = 2 + below(std::min<std::uint64_t>(n - 1, 9));
    if (below(4) == 0) run.temperature = 300;
    run.min_frames = 1 + below(3);
    run.barrier = 0.5 * static_cast<double>(below(5));
    run.min_share = static_cast<double>(below(3)) * 5;

    std::vector<std::string> args = {"--min-frames", std::to_string(run.min_frames),
                                     "--barrier",    argument(run.barrier),
                                     "--min-share",  argument(run.min_share)};
    std::string segments;
    for (const std::uint64_t s : run.segments) {
      if (!segments.empty()) segments += ',';
      segments += std::to_string(s);
    }
    if (!run.segments.empty()) args.insert(args.end(), {"--segments", segments});
    if (run.blocks != 0) args.insert(args.end(), {"--blocks", std::to_string(run.blocks)});
    if (run.temperature != 0) args.insert(args.end(), {"--temperature", "300"});
    std::string weights;
    for (const double w : run.weights) weights += argument(w) + "\n";
    std::string words;
    for (const std::string& w : run.words) words += w + "\n";

    const Expected e = model(run);
    const auto r = run_with_files(dir, args, words, weights);
    SCOPED_TRACE("round " + std::to_string(round) + ": " + words + "weights:\n" + weights);
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(r.out, e.dictionary);
    ASSERT_EQ(dir.read("report"), e.report);
    ASSERT_EQ(dir.read("ndx"), e.ndx);
    ASSERT_EQ(dir.read("trajectory"), e.trajectory);
    ASSERT_EQ(dir.read("transitions"), e.transitions);
  }
}

// --- A real projection ---

// GROMACS's projection of a peptide run on five eigenvectors, through
// pctable and lettercode: the model agrees, and every representative is a
// frame of its state's peak cell.
TEST(StateFilesModel, RealProjection) {
  TempDir dir;
  auto r =
      run_program(PCTABLE_EXE, {"-o", dir.file("table"), TEST_DATA "/gmx-anaeig-proj-5vec.xvg"});
  ASSERT_EQ(r.status, 0) << r.err;
  r = run_program(LETTERCODE_EXE, {}, {.stdin_path = dir.file("table")});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string words = r.out;
  ModelRun run;
  std::istringstream in(words);
  for (std::string w; std::getline(in, w);) run.words.push_back(w);
  ASSERT_EQ(run.words.size(), 200u);
  run.min_frames = 1;
  run.min_share = 5;
  run.blocks = 4;
  const Expected e = model(run);
  r = run_with_files(dir, {"--min-frames", "1", "--min-share", "5", "--blocks", "4"}, words, "");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, e.dictionary);
  EXPECT_EQ(dir.read("report"), e.report);
  EXPECT_EQ(dir.read("ndx"), e.ndx);
  EXPECT_EQ(dir.read("trajectory"), e.trajectory);
  EXPECT_EQ(dir.read("transitions"), e.transitions);

  std::istringstream report(dir.read("report"));
  std::string line;
  std::getline(report, line);
  int states = 0;
  while (std::getline(report, line)) {
    std::vector<std::string> column;
    std::istringstream fields(line);
    for (std::string field; std::getline(fields, field, '\t');) column.push_back(field);
    ASSERT_EQ(column.size(), 10u);
    const std::size_t representative = std::stoul(column[7]);
    EXPECT_EQ(run.words.at(representative - 1), column[6]) << line;
    EXPECT_EQ(std::find(run.words.begin(), run.words.end(), column[6]) - run.words.begin() + 1,
              static_cast<long>(representative));
    ++states;
  }
  EXPECT_GE(states, 2);
}

}  // namespace

// --- On any number of threads ---

// 2,500,000 frames of 7 words, none a neighbour of another, each a state
// under --min-share 0. State 1's 1,560,000-odd frames make an index group
// formatted on its own, shared among the threads by frames; the other six
// share one pass, shared among them by groups; both files span several
// blocks. On 1, 2 and 7 threads the index file and the trajectory are
// those of the dictionary, and the other files the same.
TEST(StateFileThreads, SameBytesOnAnyNumberOfThreads) {
  const char* const seven[] = {"AA", "AC", "CA", "CC", "EE", "EA", "AE"};
  std::string words;
  std::vector<int> word_of_frame;
  std::uint32_t x = 1;
  for (int i = 0; i < 2'500'000; ++i) {
    x = x * 1103515245u + 12345u;
    const std::uint32_t r = x >> 28;
    word_of_frame.push_back(r < 10 ? 0 : static_cast<int>(r) - 9);
    words += seven[word_of_frame.back()];
    words += '\n';
  }
  TempDir dir;
  std::string report, transitions;
  for (const char* threads : {"1", "2", "7"}) {
    SCOPED_TRACE(std::string("OMP_NUM_THREADS=") + threads);
    dir.write("words", words);
    std::vector<std::string> args = {"--min-share", "0", "--blocks", "3"};
    for (const char* file : FILES) args.insert(args.end(), {std::string("--") + file, dir.file(file)});
    args.push_back(dir.file("words"));
    const auto r = run_program(WORDCLUSTERS_EXE, args, {.env = {std::string("OMP_NUM_THREADS=") + threads}});
    ASSERT_EQ(r.status, 0) << r.err;
    int state_of_word[7] = {};
    std::istringstream dictionary(r.out);
    std::string word;
    for (int state = 0; dictionary >> word >> state;) {
      state_of_word[std::find(std::begin(seven), std::end(seven), word) - std::begin(seven)] = state;
    }
    ASSERT_EQ(state_of_word[0], 1) << r.out;
    std::string trajectory;
    std::vector<std::vector<std::size_t>> members(8);
    for (std::size_t f = 0; f < word_of_frame.size(); ++f) {
      const int s = state_of_word[word_of_frame[f]];
      trajectory += std::to_string(s) + "\n";
      members[static_cast<std::size_t>(s)].push_back(f + 1);
    }
    std::string ndx, representatives;
    for (std::size_t s = 1; s <= 7; ++s) {
      ndx += "[ state_" + std::to_string(s) + " ]\n";
      for (std::size_t m = 0; m < members[s].size(); ++m) {
        ndx += std::to_string(members[s][m]) +
               (m % 15 == 14 || m + 1 == members[s].size() ? "\n" : " ");
      }
      representatives += std::to_string(members[s][0]) + (s == 7 ? "\n" : " ");
    }
    ndx += "[ representatives ]\n" + representatives;
    EXPECT_EQ(dir.read("trajectory"), trajectory);
    EXPECT_EQ(dir.read("ndx"), ndx);
    if (report.empty()) {
      report = dir.read("report");
      transitions = dir.read("transitions");
    }
    EXPECT_EQ(dir.read("report"), report);
    EXPECT_EQ(dir.read("transitions"), transitions);
  }
}

// --- States across runs: count files, an existing dictionary, segments ---

namespace across {

// The real projection's words (many cells of equal population: ties) and
// 3,000 random words of three letters from a small alphabet.
std::vector<std::string> word_sets(const TempDir& dir) {
  auto r =
      run_program(PCTABLE_EXE, {"-o", dir.file("table"), TEST_DATA "/gmx-anaeig-proj-5vec.xvg"});
  EXPECT_EQ(r.status, 0) << r.err;
  r = run_program(LETTERCODE_EXE, {}, {.stdin_path = dir.file("table")});
  EXPECT_EQ(r.status, 0) << r.err;
  std::string random;
  std::mt19937 generator(7);
  for (int i = 0; i < 3000; ++i) {
    for (int k = 0; k < 3; ++k) random += "ABCDEF"[generator() % 6];
    random += '\n';
  }
  return {r.out, random};
}

// `words` cut at a third and at three quarters of its lines.
std::vector<std::string> shards(const std::string& words) {
  std::vector<std::size_t> starts{0};
  for (std::size_t at = 0; (at = words.find('\n', at)) != std::string::npos; ++at) {
    starts.push_back(at + 1);
  }
  const std::size_t lines = starts.size() - 1;
  const std::size_t cut[] = {0, lines / 3, lines * 3 / 4, lines};
  std::vector<std::string> parts;
  for (int i = 0; i < 3; ++i) {
    parts.push_back(words.substr(starts[cut[i]], starts[cut[i + 1]] - starts[cut[i]]));
  }
  return parts;
}

}  // namespace across

// The dictionary (and the summary) from the counts of shards is the one
// from their words joined; counts of counts are the counts of the whole.
TEST(StatesAcrossRuns, CountsOfShardsGiveTheDictionary) {
  TempDir dir;
  for (const std::string& words : across::word_sets(dir)) {
    dir.write("words", words);
    std::vector<std::string> counted{"--counted"};
    const std::vector<std::string> parts = across::shards(words);
    for (std::size_t i = 0; i < parts.size(); ++i) {
      const std::string name = "part" + std::to_string(i);
      dir.write(name, parts[i]);
      const auto r = run_program(WORDCLUSTERS_EXE, {"--counts", dir.file(name)});
      ASSERT_EQ(r.status, 0) << r.err;
      dir.write(name + ".counts", r.out);
      counted.push_back(dir.file(name + ".counts"));
    }
    for (const std::vector<std::string>& options :
         {std::vector<std::string>{}, {"--min-frames", "1", "--min-share", "0.5"}, {"--scan"}}) {
      std::vector<std::string> args = options, shard_args = options;
      args.push_back(dir.file("words"));
      shard_args.insert(shard_args.end(), counted.begin(), counted.end());
      const auto whole = run_program(WORDCLUSTERS_EXE, args);
      const auto added = run_program(WORDCLUSTERS_EXE, shard_args);
      ASSERT_EQ(whole.status, 0) << whole.err;
      EXPECT_EQ(added.status, 0) << added.err;
      EXPECT_EQ(added.out, whole.out);
      EXPECT_EQ(added.err, whole.err);
    }
    counted.push_back("--counts");
    EXPECT_EQ(run_program(WORDCLUSTERS_EXE, counted).out,
              run_program(WORDCLUSTERS_EXE, {"--counts", dir.file("words")}).out);
  }
}

// The frames that made a dictionary, assigned to it, give the same state
// files; a shard's own frames give its slice of the trajectory.
TEST(StatesAcrossRuns, DictionaryGivesTheSameStateFiles) {
  TempDir dir;
  const std::string words = across::word_sets(dir)[1];
  const std::vector<std::string> parts = across::shards(words);
  const std::string segments = "A:" + std::to_string(std::count(parts[0].begin(), parts[0].end(), '\n')) +
                               ",B:" + std::to_string(std::count(parts[1].begin(), parts[1].end(), '\n')) +
                               ",C:" + std::to_string(std::count(parts[2].begin(), parts[2].end(), '\n'));
  const std::vector<std::string> options = {"--min-share", "0.5", "--blocks", "5", "--segments",
                                            segments};
  TempDir made, assigned;
  const auto r = run_with_files(made, options, words, "");
  ASSERT_EQ(r.status, 0) << r.err;
  dir.write("dictionary", r.out);
  std::vector<std::string> with_dictionary = options;
  with_dictionary.insert(with_dictionary.end(), {"--dictionary", dir.file("dictionary")});
  const auto again = run_with_files(assigned, with_dictionary, words, "");
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(again.out, "");
  for (const char* file : FILES) EXPECT_EQ(assigned.read(file), made.read(file)) << file;

  dir.write("shard", parts[1]);
  const auto shard = run_program(WORDCLUSTERS_EXE, {"--dictionary", dir.file("dictionary"),
                                                    "--trajectory", dir.file("trajectory"),
                                                    dir.file("shard")});
  ASSERT_EQ(shard.status, 0) << shard.err;
  const std::string trajectory = made.read("trajectory");
  const std::vector<std::string> slices = across::shards(trajectory);
  EXPECT_EQ(dir.read("trajectory"), slices[1]);

  // No frames: every state is empty, and no share is 0 / 0.
  dir.write("small", "A 1\nC 2\n");
  dir.write("none", "");
  const auto empty = run_program(WORDCLUSTERS_EXE, {"--dictionary", dir.file("small"), "--report",
                                                    dir.file("report"), dir.file("none")});
  ASSERT_EQ(empty.status, 0) << empty.err;
  EXPECT_EQ(dir.read("report"), HEADER + "1\t0\t-\t-\t-\t-\tA\t-\t0\t-\n" +
                                    "2\t0\t-\t-\t-\t-\tC\t-\t0\t-\n");
}

// Each state's frames, share and free energy in each named segment, then
// the mean share and its standard error.
TEST(StatesAcrossRuns, BySegment) {
  TempDir dir;
  dir.write("words", UNASSIGNED);
  // WT: Z A A J C C (A 2, C 2 of 6); MUT: K L A A A (A 3 of 5).
  const auto r = run_program(WORDCLUSTERS_EXE, {"--segments", "WT:6,MUT:5", "--by-segment",
                                                dir.file("table"), dir.file("words")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(dir.read("table"),
            "state\tWT_frames\tWT_share\tWT_dF_kT\tMUT_frames\tMUT_share\tMUT_dF_kT\t"
            "mean_share\tshare_err\n"
            "1\t2\t33.333\t0.000\t3\t60.000\t0.000\t46.667\t13.333\n"
            "2\t2\t33.333\t0.000\t0\t0.000\t-\t16.667\t16.667\n");
}

struct CountRefusal {
  const char* name;
  std::string counts;
  std::string err;  // after "wordclusters: {dir}/counts"
};

const CountRefusal count_refusals[] = {
    {"NoCount", "AB\n", ":1: expected \"COUNT WORD\" with a count of at least 1"},
    {"ZeroCount", "3 AB\n0 AC\n", ":2: expected \"COUNT WORD\" with a count of at least 1"},
    {"LeadingZero", "03 AB\n", ":1: expected \"COUNT WORD\" with a count of at least 1"},
    {"NotALetter", "3 A1\n",
     ":1: expected \"COUNT WORD\" with a word of 1 to 10 letters of the code (A-Z, a-z)"},
    {"TwoSpaces", "3  AB\n",
     ":1: expected \"COUNT WORD\" with a word of 1 to 10 letters of the code (A-Z, a-z)"},
    {"OtherLength", "3 AB\n2 ABC\n", ":2: a word of 3 letters, but the first word has 2"},
    {"CutShort", "3 AB\n2 A", ":2: the last line has no newline: the file is cut short"},
    {"TooManyFrames", "18446744073709551615 AB\n1 AC\n",
     ":2: the counts add up to more than 18446744073709551615 frames"},
};

class CountFileRefusals : public ::testing::TestWithParam<CountRefusal> {};

TEST_P(CountFileRefusals, OneLine) {
  const CountRefusal& c = GetParam();
  TempDir dir;
  dir.write("counts", c.counts);
  const auto r = run_program(WORDCLUSTERS_EXE, {"--counted", dir.file("counts")});
  EXPECT_EQ(r.err, "wordclusters: " + dir.file("counts") + c.err + "\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
}

INSTANTIATE_TEST_SUITE_P(Refusals, CountFileRefusals, ::testing::ValuesIn(count_refusals),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(StatesAcrossRuns, Refusals) {
  TempDir dir;
  dir.write("words", AB);
  dir.write("dictionary", "A 1\nC 2\nB 1\n");
  dir.write("long", "ABC 1\n");
  const struct {
    std::vector<std::string> args;
    std::string err;
    int status;
  } cases[] = {
      {{"--counted", "--report", "r"},
       usage("--counted cannot be combined with --report: count files hold no frames"), 2},
      {{"--counted", "--weights", "w"},
       usage("--counted cannot be combined with --weights: count files hold no frames"), 2},
      {{"--counts", "--ndx", "n"}, usage("--counts cannot be combined with --ndx"), 2},
      {{"--by-segment", "t"}, usage("--by-segment needs --segments, which names the segments"), 2},
      {{"--segments", "W T:3", "--by-segment", "t"},
       usage("--segments needs names of 1 to 64 printable characters without blanks, not 'W T'"),
       2},
      {{"--dictionary", dir.file("dictionary"), dir.file("words")},
       "wordclusters: " + dir.file("dictionary") +
           ":3: cluster 1 after cluster 2: the clusters must come in order 1, 2, 3, ... as "
           "wordclusters writes them\n",
       1},
      {{"--dictionary", dir.file("long"), dir.file("words")},
       "wordclusters: " + dir.file("long") + ": its words have 3 letters, the input's 1\n", 1},
  };
  for (const auto& c : cases) {
    const auto r = run_program(WORDCLUSTERS_EXE, c.args, {.cwd = dir.path()});
    EXPECT_EQ(r.err, c.err) << c.args[0];
    EXPECT_EQ(r.status, c.status) << c.args[0];
    EXPECT_EQ(r.out, "");
  }
}
