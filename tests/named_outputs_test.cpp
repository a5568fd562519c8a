// End-to-end: an output named by a path that leads to an anonymous pipe
// (/dev/stdout, /dev/stderr, /dev/fd/N, a shell's process substitution) is
// written in place, as a named FIFO is, and gets the bytes a regular file
// of that name would get.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run_program.hpp"

namespace {

using pcgrid::testing::run_program;
using pcgrid::testing::RunResult;
using pcgrid::testing::TempDir;

const std::string POINTS = "0.1 2\n0.25 -3e-2\n";
const std::string WORDS = "AB\nAB\nAC\nAB\nBD\nAB\n";

struct Case {
  const char* name;
  const char* program;
  const char* option;  // the option that names the output
  const char* input;   // the input file's name in the folder
  // The shell's command: "$0" is the program, "$@" its options and input,
  // each "{out}" the output's name; what reaches the shell's own standard
  // output is compared.
  const char* command;
  bool summary_in_pipe;  // the program's standard error goes to the pipe after the output
  bool stdout_in_pipe;   // so does its standard output (the word dictionary)
};

const Case cases[] = {
    {"PctableStdout", PCTABLE_EXE, "-o", "pts", "\"$0\" -o /dev/stdout \"$@\" | cat", false,
     false},
    {"PctableStderr", PCTABLE_EXE, "-o", "pts",
     "\"$0\" -o /dev/stderr \"$@\" 2>&1 >/dev/null | cat", true, false},
    {"PctableDescriptor3", PCTABLE_EXE, "-o", "pts",
     "\"$0\" -o /dev/fd/3 \"$@\" 3>&1 >/dev/null | cat", false, false},
    {"PctableProcessSubstitution", PCTABLE_EXE, "-o", "pts",
     "exec bash -c '\"$0\" -o >(cat) \"$@\"; wait $!' \"$0\" \"$@\"", false, false},
    {"WordclustersReportStdout", WORDCLUSTERS_EXE, "--report", "words",
     "\"$0\" --report /dev/stdout \"$@\" | cat", false, true},
    {"WordclustersReportDescriptor3", WORDCLUSTERS_EXE, "--report", "words",
     "\"$0\" --report /dev/fd/3 \"$@\" 3>&1 >/dev/null | cat", false, false},
    {"WordclustersTrajectoryDescriptor3", WORDCLUSTERS_EXE, "--trajectory", "words",
     "\"$0\" --trajectory /dev/fd/3 \"$@\" 3>&1 >/dev/null | cat", false, false},
};

void PrintTo(const Case& c, std::ostream* out) {
  *out << c.name;
}

class NamedOutputPipe : public ::testing::TestWithParam<Case> {};

TEST_P(NamedOutputPipe, GetsTheBytesOfARegularFile) {
  const Case& c = GetParam();
  TempDir dir;
  dir.write("pts", POINTS);
  dir.write("words", WORDS);
  const RunResult file = run_program(c.program, {c.option, "out", c.input}, {.cwd = dir.path()});
  ASSERT_EQ(file.status, 0) << file.err;
  std::string expected = dir.read("out");
  if (c.stdout_in_pipe) expected += file.out;
  if (c.summary_in_pipe) expected += file.err;

  TempDir other;
  other.write("pts", POINTS);
  other.write("words", WORDS);
  const RunResult pipe =
      run_program("/bin/sh", {"-c", c.command, c.program, c.input}, {.cwd = other.path()});
  EXPECT_EQ(pipe.out, expected);
  EXPECT_EQ(pipe.err, c.summary_in_pipe ? "" : file.err);
  EXPECT_EQ(pipe.status, 0);
}

INSTANTIATE_TEST_SUITE_P(Outputs, NamedOutputPipe, ::testing::ValuesIn(cases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
