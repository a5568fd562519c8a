// End-to-end: clusterback's member report, messages and exit status.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <functional>
#include <optional>
#include <ostream>
#include <random>
#include <string>

#include "run_program.hpp"

namespace {

using pcgrid::testing::run_program;
using pcgrid::testing::TempDir;

std::string report(int n, int dim, int g) {
  return "Read " + std::to_string(n) + " vectors (" + std::to_string(dim) +
         "-dimensional).\nGrid along each dimension set to " + std::to_string(g) + ".\n";
}

std::string words(int k) {
  return "Read " + std::to_string(k) + " words.\n";
}

const std::string three = "1 0 0\n2 0.5 1.0\n3 1.0 0.5\n";

struct Case {
  const char* name;
  std::string input;
  std::optional<std::string> dictionary;  // none: no "cwords_clusters" at all
  std::string out;
  std::string err;
  int status;
};

// A case is shown by its name, in test lists and failures alike.
void PrintTo(const Case& c, std::ostream* out) {
  *out << c.name;
}

const Case cases[] = {
    {"TwoMembers", three, "AA 1\nFC 7\n",
     "         1    1   0.0000000  0.0000000\n         3    7   1.0000000  0.5000000\n",
     report(3, 2, 5) + words(2), 0},
    {"FirstEntryWins", three, "CF 2\nCF 3\nAA 0\nAA 5\n",
     "         2    2   0.5000000  1.0000000\n", report(3, 2, 5) + words(4), 0},
    {"NegativeHidesLaterEntry", three, "FC -4\nFC 4\n", "", report(3, 2, 5) + words(2), 0},
    {"LongerEntryMatchesPrefix", three, "CFX 4\nC 9\n", "         2    4   0.5000000  1.0000000\n",
     report(3, 2, 5) + words(2), 0},
    {"StopsAtRealNumber", three, "AA 3.5\nCF 2\n", "         1    3   0.0000000  0.0000000\n",
     report(3, 2, 5) + words(1), 0},
    {"StopsAtNonNumber", three, "AA 1\nFC 2\nCF x\nCF 3\n",
     "         1    1   0.0000000  0.0000000\n         3    2   1.0000000  0.5000000\n",
     report(3, 2, 5) + words(2), 0},
    {"EmptyDictionary", three, "", "", report(3, 2, 5) + words(0), 0},
    {"LabelsOnly", "5\n-6\n", "Q 12\n", "         5   12 \n        -6   12 \n",
     report(2, 0, 5) + words(1), 0},
    {"OneDimension", "1 0\n2 41\n", "F 3\n", "         2    3  41.0000000\n",
     report(2, 1, 5) + words(1), 0},
    {"WideValues", "-2147483648 -3e38\n2147483647 1e-7\n", "A 123456\nF 2147483647\n",
     "-2147483648 123456  -300000000549775575777803994281145270272.0000000\n"
     "2147483647 2147483647   0.0000001\n",
     report(2, 1, 5) + words(2), 0},
    {"LongWordKeepsTenLetters", "1 0 0 0 0 0 0 0 0 0 0\n", "AAAAAAAAAAAAAAA 8\n",
     "         1    8   0.0000000  0.0000000  0.0000000  0.0000000  0.0000000  0.0000000  "
     "0.0000000  0.0000000  0.0000000  0.0000000\n",
     report(1, 10, 5) + words(1), 0},
    {"TenAndElevenLetterWords", "1 0 0 0 0 0 0 0 0 0 0\n2 1 1 1 1 1 1 1 1 1 1\n",
     "AAAAAAAAAAB 8\nFFFFFFFFFF 9\n",  // the eleventh letter is dropped, not a word of its own
     "         1    8   0.0000000  0.0000000  0.0000000  0.0000000  0.0000000  0.0000000  "
     "0.0000000  0.0000000  0.0000000  0.0000000\n"
     "         2    9   1.0000000  1.0000000  1.0000000  1.0000000  1.0000000  1.0000000  "
     "1.0000000  1.0000000  1.0000000  1.0000000\n",
     report(2, 10, 5) + words(2), 0},
    {"BadTableComesFirst", "1 2\n\n", std::nullopt, "", "Failed to read PCs at line \n\n", 1},
    {"MissingDictionary", three, std::nullopt, "",
     report(3, 2, 5) + "Can not open file cwords_clusters for reading.\n", 1},
    {"ClusterBeyond32Bits", three, "AA 1\nCF 2147483648\n", "",
     report(3, 2, 5) + "Cluster number beyond 32 bits in cwords_clusters.\n", 1},
};

class ClusterbackCase : public ::testing::TestWithParam<Case> {};

TEST_P(ClusterbackCase, ReportErrorsAndStatus) {
  const Case& c = GetParam();
  TempDir dir;
  if (c.dictionary) dir.write("cwords_clusters", *c.dictionary);
  const auto r = run_program(CLUSTERBACK_EXE, {}, {.input = c.input, .cwd = dir.path()});
  EXPECT_EQ(r.out, c.out);
  EXPECT_EQ(r.err, c.err);
  EXPECT_EQ(r.status, c.status);
}

INSTANTIATE_TEST_SUITE_P(Inputs, ClusterbackCase, ::testing::ValuesIn(cases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Clusterback, DictionaryThatCannotBeRead) {
  const std::string unprivileged = pcgrid::testing::why_nobody_cannot_run();
  if (!unprivileged.empty()) GTEST_SKIP() << unprivileged;
  const std::string cannot_open = "Can not open file cwords_clusters for reading.\n";
  const struct {
    const char* what;
    std::function<int(const std::string&)> make;
    std::string err;
  } cases[] = {
      {"directory", [](const std::string& path) { return mkdir(path.c_str(), 0755); }, cannot_open},
      {"link to itself",
       [](const std::string& path) { return symlink(path.c_str(), path.c_str()); }, cannot_open},
      {"no read permission",
       [](const std::string& path) {
         pcgrid::testing::write_file(path, "AA 1\n");
         return chmod(path.c_str(), 0);
       },
       cannot_open},
      {"read error",
       [](const std::string& path) { return symlink("/proc/self/mem", path.c_str()); },
       "Can not read file cwords_clusters.\n"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);  // open to the unprivileged user
    ASSERT_EQ(c.make(dir.file("cwords_clusters")), 0) << c.what;
    const auto r =
        run_program(CLUSTERBACK_EXE, {}, {.input = three, .cwd = dir.path(), .unprivileged = true});
    EXPECT_EQ(r.out, "") << c.what;
    EXPECT_EQ(r.err, report(3, 2, 5) + c.err) << c.what;
    EXPECT_EQ(r.status, 1) << c.what;
  }
}

TEST(Clusterback, TooManyEntries) {
  TempDir dir;
  std::string dictionary;
  for (int e = 0; e < 500'000; ++e) dictionary += "AA 1\n";
  dir.write("cwords_clusters", dictionary);
  auto r = run_program(CLUSTERBACK_EXE, {}, {.input = three, .cwd = dir.path()});
  EXPECT_EQ(r.err, report(3, 2, 5) + words(500'000));
  EXPECT_EQ(r.status, 0);

  dir.write("cwords_clusters", dictionary + "CF 2\n");
  r = run_program(CLUSTERBACK_EXE, {}, {.input = three, .cwd = dir.path()});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            report(3, 2, 5) + "Too many entries in cwords_clusters: at most 500000 can be read.\n");
  EXPECT_EQ(r.status, 1);
}

TEST(Clusterback, WriteErrorIsReported) {
  TempDir dir;
  dir.write("cwords_clusters", "AA 1\n");
  const auto r = run_program(CLUSTERBACK_EXE, {},
                             {.input = three, .cwd = dir.path(), .stdout_path = "/dev/full"});
  EXPECT_EQ(r.err, report(3, 2, 5) + words(1) +
                       "Failed to write to standard output: No space left on device\n");
  EXPECT_EQ(r.status, 1);
}

// Every thread count gives the same report, and each member is a vector
// whose word, as lettercode writes it, has that cluster in the dictionary.
TEST(Clusterback, ThreadCountDoesNotMatter) {
  std::mt19937 random(7);
  std::normal_distribution<float> noise(0.0f, 0.3f);
  std::string table;
  for (int i = 0; i < 5000; ++i) {
    const float centre = static_cast<float>(i % 3);
    table += std::to_string(i) + " " + std::to_string(centre + noise(random)) + " " +
             std::to_string(centre - noise(random)) + " " + std::to_string(noise(random)) + "\n";
  }
  TempDir dir;
  std::string dictionary;
  const std::string letters = "ABCDEFGHIJ";
  for (int e = 0; e < 400; ++e) {
    dictionary +=
        std::string{letters[random() % 10], letters[random() % 10], letters[random() % 10]} + " " +
        std::to_string(static_cast<int>(random() % 7) - 1) + "\n";
  }
  dir.write("cwords_clusters", dictionary);
  const auto one = run_program(CLUSTERBACK_EXE, {},
                               {.input = table, .cwd = dir.path(), .env = {"OMP_NUM_THREADS=1"}});
  ASSERT_EQ(one.status, 0);
  ASSERT_GT(one.out.size(), 1000u);
  for (const char* threads : {"OMP_NUM_THREADS=2", "OMP_NUM_THREADS=7"}) {
    const auto many =
        run_program(CLUSTERBACK_EXE, {}, {.input = table, .cwd = dir.path(), .env = {threads}});
    EXPECT_EQ(many.out, one.out) << threads;
    EXPECT_EQ(many.err, one.err) << threads;
    EXPECT_EQ(many.status, 0);
  }
}

// A report of several blocks of vectors, the last one partial, formatted in
// parts on many threads: every other vector is a member, in input order.
TEST(Clusterback, ReportOfManyBlocks) {
  constexpr int n = 270'001;  // blocks of 131,072 vectors
  std::string table;
  std::string expected;
  for (int i = 0; i < n; ++i) {
    table += std::to_string(i) + " " + std::to_string(i % 2) + "\n";
    if (i % 2 == 0) {
      char line[64];
      std::snprintf(line, sizeof line, "%10d %4d  %10.7f\n", i, 5, 0.0);
      expected += line;
    }
  }
  TempDir dir;
  dir.write("cwords_clusters", "A 5\n");
  for (const char* threads : {"OMP_NUM_THREADS=1", "OMP_NUM_THREADS=2", "OMP_NUM_THREADS=7"}) {
    const auto run =
        run_program(CLUSTERBACK_EXE, {}, {.input = table, .cwd = dir.path(), .env = {threads}});
    EXPECT_EQ(run.status, 0) << threads;
    EXPECT_TRUE(run.out == expected) << threads;
  }
}

// With the grid file of its own table, the report is the table's own, on
// any number of threads, while the table streams through; a vector outside
// the grid is refused at its line.
TEST(Clusterback, GridFileOfTheTable) {
  constexpr int n = 270'001;
  std::string table;
  for (int i = 0; i < n; ++i) {
    table += std::to_string(i) + " " + std::to_string(i % 11) + " -" + std::to_string(i % 5) +
             ".25\n";
  }
  TempDir dir;
  dir.write("cwords_clusters", "AA 1\nYY 2\nMM 3\nTG 4\n");
  const auto grid = run_program(LETTERCODE_EXE, {"--grid-of"}, {.input = table});
  ASSERT_EQ(grid.status, 0);
  dir.write("grid", grid.out);
  const auto own = run_program(CLUSTERBACK_EXE, {}, {.input = table, .cwd = dir.path()});
  ASSERT_EQ(own.status, 0);
  ASSERT_GT(own.out.size(), 100'000u);
  for (const char* threads : {"OMP_NUM_THREADS=1", "OMP_NUM_THREADS=2", "OMP_NUM_THREADS=7"}) {
    const auto r = run_program(CLUSTERBACK_EXE, {"--grid", "grid"},
                               {.input = table, .cwd = dir.path(), .env = {threads}});
    EXPECT_TRUE(r.out == own.out) << threads;
    EXPECT_EQ(r.err, "Grid along each dimension set to 24, from the grid file grid.\n"
                     "Read 4 words.\nRead 270001 vectors (2-dimensional).\n");
    EXPECT_EQ(r.status, 0);
  }
  const auto refused =
      run_program(CLUSTERBACK_EXE, {"--grid", "grid"}, {.input = "1 0 -1.25\n2 0 -4.5\n", .cwd = dir.path()});
  EXPECT_EQ(refused.err,
            "Grid along each dimension set to 24, from the grid file grid.\nRead 4 words.\n"
            "clusterback: -:2: component 2, -4.5, lies outside the limits of the grid file grid, "
            "-4.25 to -0.25; make grid again, with lettercode --grid-of, from every table it serves, "
            "this one included\n");
  EXPECT_EQ(refused.out, "");
  EXPECT_EQ(refused.status, 1);
}

}  // namespace
