// The programs against their *_reference builds, which read lines with
// fgets and convert with the C library: on generated tables, dictionaries
// and point files, standard output, standard error, exit status and the
// matrix files must be the same bytes.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "run_program.hpp"

namespace {

using pcgrid::testing::run_program;
using pcgrid::testing::RunResult;
using pcgrid::testing::TempDir;

class TextMaker {
 public:
  explicit TextMaker(unsigned seed) : random_(seed) {}

  long below(long n) { return static_cast<long>(random_() % static_cast<unsigned long>(n)); }

  std::string number() {
    char text[64];
    const double v = std::normal_distribution<double>(0.0, 3.0)(random_);
    switch (below(8)) {
      case 0:
        std::snprintf(text, sizeof text, "%g", v);
        break;
      case 1:
        std::snprintf(text, sizeof text, "%.3e", v * 1e5);
        break;
      case 2:
        std::snprintf(text, sizeof text, "%+.9f", v);
        break;
      case 3:
        std::snprintf(text, sizeof text, "%a", v);
        break;
      case 4:
        std::snprintf(text, sizeof text, "%d", static_cast<int>(v * 10));
        break;
      default:
        std::snprintf(text, sizeof text, "%12.6f", v);
        break;
    }
    return text;
  }

  std::string separator() { return below(10) == 0 ? "\t" : below(20) == 0 ? "   " : " "; }

  // Now and then a line that is wrong in some way, or awkward but right.
  std::string odd_line() {
    switch (below(9)) {
      case 0:
        return "\n";
      case 1:
        return "7 nan 1\n";
      case 2:
        return "8 1e400 2\n";
      case 3:
        return "9" + std::string(995 + below(10), ' ') + "1 2\n";
      case 4:
        return std::string("10 1\0 2 3\n", 10);
      case 5:
        return "11 1,2\n";
      case 6:
        return "12.5 1e 2e+\n";
      case 7:
        return "99999999999 1 2\n";
      default:
        return "13 -1-2 0x1p-3 4 5 6\n";
    }
  }

  std::string table(bool with_faults) {
    const int dim = static_cast<int>(below(11));
    const long n = 1 + below(400);
    std::string text;
    for (long i = 0; i < n; ++i) {
      if (with_faults && below(150) == 0) {
        text += odd_line();
        continue;
      }
      text += std::to_string(static_cast<int>(below(2000)) - 1000);
      const int fields = dim + (i > 0 && below(10) == 0 ? static_cast<int>(below(3)) : 0);
      for (int d = 0; d < fields; ++d) text += separator() + number();
      text += "\n";
    }
    if (below(5) == 0) text.pop_back();
    return text;
  }

  std::string dictionary(const std::string& words) {
    std::string text;
    std::size_t start = 0;
    while (start < words.size() && below(30) != 0) {
      const std::size_t end = words.find('\n', start);
      const std::string word = words.substr(start, end - start);
      text += (word.empty() ? "A" : word) + " " + std::to_string(below(9) - 2) + "\n";
      start = end + 1 + static_cast<std::size_t>(below(4) * 7);
    }
    if (below(4) == 0) text += "ZZ 3.5 Q 1\n";
    return text;
  }

  // What follows x and y on a two-column line: nothing, white space of
  // every kind, a NUL (where the line ends for the C library) or a word.
  std::string rest() {
    static const std::string rests[] = {"",
                                        " ",
                                        "\t",
                                        "\r",
                                        "\v",
                                        "\f",
                                        "  \t",
                                        " \r",
                                        " \v\f\r\t ",
                                        std::string("\0", 1),
                                        std::string("\0 5", 3),
                                        std::string(" \t\0 7", 5),
                                        " x"};
    return rests[below(std::size(rests))];
  }

  std::string points(bool with_faults) {
    const bool three = below(2) == 0;
    const long n = below(1500);
    std::string text;
    for (long i = 0; i < n; ++i) {
      if (with_faults && below(400) == 0) {
        text += below(2) == 0 ? "1 nan 2\n" : "\n";
        continue;
      }
      text += number() + separator() + number();
      if (three && !(with_faults && below(300) == 0)) {
        text += separator() + (below(50) == 0 ? "-1" : std::to_string(1 + below(100)));
      } else if (below(2) == 0) {
        text += rest();
      }
      text += "\n";
    }
    return text;
  }

 private:
  std::mt19937_64 random_;
};

void expect_same(const RunResult& fast, const RunResult& reference, const std::string& what) {
  EXPECT_EQ(fast.out, reference.out) << what;
  EXPECT_EQ(fast.err, reference.err) << what;
  EXPECT_EQ(fast.status, reference.status) << what;
}

TEST(BuildsDifferential, WordPrograms) {
  TextMaker maker(11);
  for (int round = 0; round < 60; ++round) {
    const std::string table = maker.table(round % 2 == 1);
    const auto words = run_program(LETTERCODE_EXE, {}, {.input = table});
    expect_same(words, run_program(LETTERCODE_REFERENCE_EXE, {}, {.input = table}),
                "lettercode, round " + std::to_string(round) + ":\n" + table);

    TempDir dir;
    dir.write("cwords_clusters", maker.dictionary(words.out));
    const pcgrid::testing::RunOptions options{.input = table, .cwd = dir.path()};
    expect_same(run_program(CLUSTERBACK_EXE, {}, options),
                run_program(CLUSTERBACK_REFERENCE_EXE, {}, options),
                "clusterback, round " + std::to_string(round) + ":\n" + table);
  }
}

// gridmap on the same points and arguments in both builds.
void expect_same_gridmap(const std::string& points, const std::vector<std::string>& args,
                         const std::string& what, const std::vector<std::string>& env = {}) {
  TempDir fast, reference;
  fast.write("points", points);
  reference.write("points", points);
  const auto a = run_program(GRIDMAP_EXE, args, {.cwd = fast.path(), .env = env});
  const auto b = run_program(GRIDMAP_REFERENCE_EXE, args, {.cwd = reference.path()});
  expect_same(a, b, what);
  for (const char* file : {"grid.matrix", "grid_log.matrix", "grid_weights.matrix"}) {
    ASSERT_EQ(fast.exists(file), reference.exists(file)) << what << ' ' << file;
    if (fast.exists(file)) {
      EXPECT_EQ(fast.read(file), reference.read(file)) << what << ' ' << file;
    }
  }
}

TEST(BuildsDifferential, Gridmap) {
  TextMaker maker(12);
  for (int round = 0; round < 40; ++round) {
    const std::string points = maker.points(round % 2 == 1);
    const std::vector<std::string> args = {std::to_string(3 + maker.below(60)),
                                           std::to_string(3 + maker.below(60)), "points"};
    expect_same_gridmap(points, args, "gridmap, round " + std::to_string(round));
  }
}

// Files of some 100,000 to 900,000 bytes, which the build's own gridmap
// converts in several parts on each of several threads, with --weights and
// --limits, and in some a line refused in either pass's terms: a weight
// below zero, a line without a point, one of other columns.
TEST(BuildsDifferential, GridmapLongFilesAndOptions) {
  TextMaker maker(13);
  for (int round = 0; round < 12; ++round) {
    const bool three = round % 4 != 3;
    const long n = 5000 + maker.below(25000);
    std::string points;
    for (long i = 0; i < n; ++i) {
      points += maker.number() + maker.separator() + maker.number();
      if (three) {
        points += maker.separator() +
                  (maker.below(4 * n) == 0 ? "-1" : std::to_string(maker.below(2000))) + ".5";
      }
      if (maker.below(4 * n) == 0) points += round % 3 == 0 ? " 1 2" : "\n";
      points += "\n";
    }
    std::vector<std::string> args;
    if (round % 2 == 0) args.push_back("--weights");
    if (round % 3 != 2) args.insert(args.end(), {"--limits", "-4", "3.5", "-2.25", "5"});
    args.insert(args.end(), {"1001", std::to_string(3 + maker.below(60)), "points"});
    const std::string threads = std::to_string(1 + round % 3 * 3);
    expect_same_gridmap(points, args, "gridmap, long round " + std::to_string(round),
                        {"OMP_NUM_THREADS=" + threads});
  }
}

}  // namespace
