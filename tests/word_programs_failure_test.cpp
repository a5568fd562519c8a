// End-to-end: the word programs under a memory limit, with failing reads of
// standard input, with closed standard descriptors, with a terminal on
// standard input, and with a dictionary that never ends.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "run_program.hpp"

namespace {

using pcgrid::testing::run_program;
using pcgrid::testing::RunOptions;
using pcgrid::testing::TempDir;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool SANITIZED = true;  // the sanitizers' shadow memory needs terabytes of addresses
#else
constexpr bool SANITIZED = false;
#endif

std::string report(int n, int dim, int g) {
  return "Read " + std::to_string(n) + " vectors (" + std::to_string(dim) +
         "-dimensional).\nGrid along each dimension set to " + std::to_string(g) + ".\n";
}

const std::string four = "1 0\n2 1\n3 2\n4 3\n";

struct Program {
  const char* name;
  const char* exe;
  std::string out_of_four;    // standard output for `four`
  std::string err_of_four;    // standard error for `four`
  std::string terminal_note;  // standard error's first line when standard input is a terminal
};

const Program programs[] = {
    {"lettercode", LETTERCODE_EXE, "A\nB\nD\nF\n", report(4, 1, 5),
     "lettercode reads a PC table (a label and up to 10 components per line) on standard input "
     "until Ctrl-D; man lettercode describes it.\n"},
    {"clusterback", CLUSTERBACK_EXE, "         4    2   3.0000000\n",
     report(4, 1, 5) + "Read 2 words.\n",
     "clusterback reads a PC table (a label and up to 10 components per line) on standard input "
     "until Ctrl-D, then cwords_clusters; man clusterback describes it.\n"},
};

// Runs `program` on `four` in a folder whose dictionary gives F cluster 2.
pcgrid::testing::RunResult run_on_four(const Program& program, RunOptions options) {
  TempDir dir;
  dir.write("cwords_clusters", "A 0\nF 2\n");
  options.cwd = dir.path();
  if (options.input.empty()) options.input = four;
  return run_program(program.exe, {}, options);
}

// --help and --version read nothing, even from a pipe, and say what the
// program is; every other argument is ignored as it always was.
TEST(WordPrograms, HelpAndVersion) {
  for (const Program& p : programs) {
    const std::string name = p.name;
    auto r = run_program(p.exe, {"--help"}, {.input = "not a table\n"});
    EXPECT_EQ(r.out.rfind("Usage: " + name + " ", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("man " + name), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "") << name;
    EXPECT_EQ(r.status, 0) << name;
    r = run_program(p.exe, {"ignored", "--version"}, {.input = "not a table\n"});
    EXPECT_EQ(r.out, name + " (pcgrid) " + PCGRID_VERSION + "\n");
    EXPECT_EQ(r.err, "") << name;
    EXPECT_EQ(r.status, 0) << name;
  }
}

TEST(WordPrograms, RunUnderAGigabyteOfAddressSpace) {
  if (SANITIZED) GTEST_SKIP() << "sanitizer build";
  for (const Program& p : programs) {
    const auto r = run_on_four(p, {.address_space_limit = 1'000'000UL * 1024});
    EXPECT_EQ(r.out, p.out_of_four) << p.name;
    EXPECT_EQ(r.err, p.err_of_four) << p.name;
    EXPECT_EQ(r.status, 0) << p.name;
  }
}

TEST(WordPrograms, MemoryExhaustedIsReported) {
  if (SANITIZED) GTEST_SKIP() << "sanitizer build";
  std::string table;
  for (int i = 0; i < 1'500'000; ++i) table += "1 0.5\n";
  // Room for the first step of 1048576 vectors (44 MB) and the read buffers,
  // not for the second step.
  for (const Program& p : programs) {
    const auto r = run_on_four(p, {.input = table, .data_limit = 80UL << 20});
    EXPECT_EQ(r.out, "") << p.name;
    EXPECT_EQ(r.err, "Memory exhausted after 1048576 vectors were read.\n") << p.name;
    EXPECT_EQ(r.status, 1) << p.name;
  }
}

// Many threads under a tight address space: every run either succeeds or
// says that the memory is exhausted, with nothing written; the runtime
// never fails to start a thread after the table took the room.
TEST(WordPrograms, ManyThreadsUnderAnAddressSpaceLimit) {
  if (SANITIZED) GTEST_SKIP() << "sanitizer build";
  std::string table;
  for (int i = 0; i < 300'000; ++i) {
    table += std::to_string(i) + " " + std::to_string(i % 97) + ".5\n";
  }
  for (const Program& p : programs) {
    std::string words;
    for (unsigned long megabytes = 60; megabytes <= 260; megabytes += 40) {
      const auto r = run_on_four(p, {.input = table,
                                     .env = {"OMP_NUM_THREADS=64"},
                                     .address_space_limit = megabytes << 20});
      if (r.status == 0) {
        if (words.empty()) words = r.out;
        EXPECT_EQ(r.out, words) << p.name << " " << megabytes;
        continue;
      }
      EXPECT_EQ(r.err.rfind("Memory exhausted after ", 0), 0u) << p.name << " " << r.err;
      EXPECT_EQ(r.out, "") << p.name << " " << megabytes;
      EXPECT_EQ(r.status, 1) << p.name << " " << megabytes;
    }
    EXPECT_FALSE(words.empty()) << p.name << ": no run succeeded";
  }
}

// With a grid file, the table that exhausts the memory above streams
// through in the same memory.
TEST(WordPrograms, GridFileNeedsNoMemoryForTheTable) {
  if (SANITIZED) GTEST_SKIP() << "sanitizer build";
  std::string table;
  for (int i = 0; i < 1'500'000; ++i) table += "1 0.5\n";
  for (const Program& p : programs) {
    TempDir dir;
    dir.write("cwords_clusters", "A 0\nF 2\n");
    dir.write("grid", "pcgrid grid\ndimensions 1\nvectors 1500000\nintervals 34\nlimits 0.5 0.5\n");
    const auto r = run_program(p.exe, {"--grid", "grid"},
                               {.input = table, .cwd = dir.path(), .data_limit = 80UL << 20});
    EXPECT_EQ(r.status, 0) << p.name << ": " << r.err;
    EXPECT_TRUE(r.err.ends_with("Read 1500000 vectors (1-dimensional).\n")) << p.name << r.err;
  }
}

struct ReadFault {
  const char* what;
  std::string rules;
  std::string err;  // empty: the run is as without faults
};

const ReadFault read_faults[] = {
    {"error at once", "read:0:1:eio", "Failed to read standard input: Input/output error\n"},
    {"error in the middle", "read:0:6:eio,read:0:1+:short",
     "Failed to read standard input: Input/output error\n"},
    {"error after the last byte", "read:0:17+:eio,read:0:1+:short",
     "Failed to read standard input: Input/output error\n"},
    {"byte by byte", "read:0:1+:short", ""},
    {"interrupted", "read:0:1:eintr,read:0:2:eintr", ""},
    {"not ready yet", "read:0:1:eagain,read:0:3:eagain,read:0:2+:short", ""},
};

TEST(WordPrograms, ReadFaultsOnStandardInput) {
  if (!pcgrid::testing::faults_available()) GTEST_SKIP() << "no failure injection in this build";
#ifdef READS_THROUGH_STDIO
  GTEST_SKIP() << "standard input is read through stdio in this build";
#endif
  for (const Program& p : programs) {
    for (const ReadFault& f : read_faults) {
      const auto r = run_on_four(p, {.env = pcgrid::testing::with_faults(f.rules)});
      EXPECT_EQ(r.out, f.err.empty() ? p.out_of_four : "") << p.name << ": " << f.what;
      EXPECT_EQ(r.err, f.err.empty() ? p.err_of_four : f.err) << p.name << ": " << f.what;
      EXPECT_EQ(r.status, f.err.empty() ? 0 : 1) << p.name << ": " << f.what;
    }
  }
}

// Standard output left non-blocking, interrupted or taking a byte at a
// time gets every byte all the same.
TEST(WordPrograms, WritesThatAreNotFailures) {
  if (!pcgrid::testing::faults_available()) GTEST_SKIP() << "no failure injection in this build";
  for (const Program& p : programs) {
    const auto r = run_on_four(
        p,
        {.env = pcgrid::testing::with_faults("write:1:1:eagain,write:1:2:eintr,write:1:3+:short")});
    EXPECT_EQ(r.out, p.out_of_four) << p.name;
    EXPECT_EQ(r.err, p.err_of_four) << p.name;
    EXPECT_EQ(r.status, 0) << p.name;
  }
}

TEST(WordPrograms, StandardInputThatIsADirectory) {
  TempDir dir;
  for (const Program& p : programs) {
    const auto r = run_program(p.exe, {}, {.stdin_path = dir.path()});
    EXPECT_EQ(r.out, "") << p.name;
    EXPECT_EQ(r.err, "Failed to read standard input: Is a directory\n") << p.name;
    EXPECT_EQ(r.status, 1) << p.name;
  }
}

TEST(Clusterback, WordFieldsOfAtMost4096Characters) {
  const std::string too_long = "Word of more than 4096 characters in cwords_clusters.\n";
  const struct {
    const char* what;
    std::string dictionary;  // empty: a link to /dev/zero
    std::string out;
    std::string err;
  } cases[] = {
      {"4096 letters", std::string(4096, 'F').append(" 2\nF 3\n"), "         4    2   3.0000000\n",
       "Read 2 words.\n"},
      {"4097 letters", std::string("F 3\n").append(4097, 'F').append(" 2\n"), "", too_long},
      {"endless NUL bytes", "", "", too_long},
  };
  for (const auto& c : cases) {
    TempDir dir;
    if (c.dictionary.empty()) {
      ASSERT_EQ(symlink("/dev/zero", dir.file("cwords_clusters").c_str()), 0);
    } else {
      dir.write("cwords_clusters", c.dictionary);
    }
    const auto r = run_program(CLUSTERBACK_EXE, {}, {.input = four, .cwd = dir.path()});
    EXPECT_EQ(r.out, c.out) << c.what;
    EXPECT_EQ(r.err, report(4, 1, 5) + c.err) << c.what;
    EXPECT_EQ(r.status, c.out.empty() ? 1 : 0) << c.what;
  }
}

}  // namespace

namespace {

// A standard descriptor closed by the caller holds /dev/null, so that no
// file of the program takes its number; but a closed standard input is no
// table, and a closed standard output no place for the data.
TEST(WordPrograms, ClosedStandardDescriptors) {
  const struct {
    const char* what;
    std::vector<int> closed;
    std::string input;      // empty: `four`
    const char* err;        // nullptr: standard error is closed too
    bool err_after_report;  // `err` follows the program's report on `four`
  } cases[] = {
      {"input", {0}, "", "Failed to read standard input: Bad file descriptor\n", false},
      {"output", {1}, "", "Failed to write to standard output: Bad file descriptor\n", true},
      {"output and error", {1, 2}, "", nullptr, false},
      {"error, bad input", {2}, "1 2\nx\n", nullptr, false},
  };
  for (const Program& p : programs) {
    for (const auto& c : cases) {
      const auto r = run_on_four(p, {.input = c.input, .closed = c.closed});
      EXPECT_EQ(r.out, "") << p.name << ": " << c.what;
      if (c.err != nullptr) {
        EXPECT_EQ(r.err, (c.err_after_report ? p.err_of_four : "") + c.err)
            << p.name << ": " << c.what;
      }
      EXPECT_EQ(r.status, 1) << p.name << ": " << c.what;
    }
  }
}

}  // namespace

namespace {

// Typed at a terminal, `four` and then Ctrl-D: the program first says what
// it waits for.
TEST(WordPrograms, NoteOnATerminal) {
  for (const Program& p : programs) {
    const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    ASSERT_EQ(grantpt(terminal), 0);
    ASSERT_EQ(unlockpt(terminal), 0);
    const std::string keyboard = ptsname(terminal);
    const int held_open = open(keyboard.c_str(), O_RDWR | O_NOCTTY);  // keeps what is typed
    ASSERT_GE(held_open, 0);
    const std::string typed = four + "\x04";
    ASSERT_EQ(write(terminal, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
    const auto r = run_on_four(p, {.stdin_path = keyboard});
    close(held_open);
    close(terminal);
    EXPECT_EQ(r.out, p.out_of_four) << p.name;
    EXPECT_EQ(r.err, p.terminal_note + p.err_of_four) << p.name;
    EXPECT_EQ(r.status, 0) << p.name;
  }
}

}  // namespace
