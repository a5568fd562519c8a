#include "arguments.hpp"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "grid_accumulator.hpp"
#include "gridmap_messages.hpp"
#include "limits.hpp"
#include "number_scan.hpp"

namespace gridmap {

namespace {

// Stands for a GRID or GRID_Y beyond 32 bits: too many nodes, whatever its sign.
constexpr long long TOO_MANY_NODES = 1LL << 32;

[[noreturn]] void usage() {
  refuse("Usage : gridmap GRID [GRID_Y] filename\n");
}

constexpr char HELP[] =
    "Usage: gridmap [--limits XMIN XMAX YMIN YMAX] [--weights] GRID [GRID_Y] filename\n"
    "   or: gridmap --sum LOG...\n"
    "Reads a file of points, \"x y\" or \"x y z\" a line, and gives each point to the\n"
    "nearest node of a grid of GRID by GRID_Y nodes spanning the points' range.\n"
    "Writes in the current directory grid.matrix, the number of points of every\n"
    "node (with three columns, their mean z), one row per x node, and\n"
    "grid_log.matrix, its natural logarithm. The file is read twice, so it must\n"
    "be a regular file. Every message goes to standard output; the exit status\n"
    "is 1 on every path, success included: a good run ends with \"All done.\".\n"
    "\n"
    "  GRID [GRID_Y]     nodes along x and along y, 3 to 1001 (GRID_Y: as GRID)\n"
    "  --limits XMIN XMAX YMIN YMAX\n"
    "                    a fixed grid over these limits, whatever the data's range;\n"
    "                    points more than half a spacing beyond them are left out;\n"
    "                    then filename may be - (standard input) or a pipe, read once\n"
    "  --weights         the third column weighs each point (a number >= 0, no\n"
    "                    minus sign): grid.matrix holds each node's sum of weights\n"
    "  --sum LOG...      instead, add the matrices of runs on the same limits and\n"
    "                    grid, each beside its log (gridmap's saved output)\n"
    "  --help            this help\n"
    "  --version         the version\n"
    "Options come before GRID. See man gridmap for the formats and every message.\n";

// --help and --version: their text on standard output, exit status 0.
[[noreturn]] void show(const char* text) {
  std::fputs(text, stdout);
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) quit();
  std::exit(0);
}

// The decimal integer that a GRID or GRID_Y argument begins with, as "%d"
// reads it; false when there is none. strtoll comes first because "%d" of a
// number beyond 32 bits is undefined (and wraps in practice).
bool read_nodes(const char* text, long long& nodes) {
  char* end = nullptr;
  errno = 0;
  const long long wide = std::strtoll(text, &end, 10);
  if (end == text) return false;
  if (errno == ERANGE || wide < INT_MIN || wide > INT_MAX) {
    nodes = TOO_MANY_NODES;
    return true;
  }
  int value = 0;
  if (std::sscanf(text, "%d", &value) != 1) return false;
  nodes = value;
  return true;
}

std::size_t skip_digits(std::string_view text, std::size_t i) {
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
  return i;
}

bool is_sign(std::string_view text, std::size_t i) {
  return i < text.size() && (text[i] == '+' || text[i] == '-');
}

// Whether `text` is a decimal number and nothing else: an optional sign,
// digits with an optional decimal point (or a point and digits), an
// optional exponent. No blanks, no hexadecimal form, no inf or nan.
bool is_decimal(std::string_view text) {
  std::size_t i = is_sign(text, 0) ? 1 : 0;
  const std::size_t start = i;
  i = skip_digits(text, i);
  std::size_t digits = i - start;
  if (i < text.size() && text[i] == '.') {
    const std::size_t after_point = ++i;
    i = skip_digits(text, i);
    digits += i - after_point;
  }
  if (digits == 0) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    i = is_sign(text, i + 1) ? i + 2 : i + 1;
    const std::size_t exponent = i;
    i = skip_digits(text, i);
    if (i == exponent) return false;
  }
  return i == text.size();
}

// A limit, converted to single precision as a data value is and widened;
// false unless it is a finite decimal number.
bool read_limit(const char* text, double& value) {
  const std::string_view decimal(text);
  if (decimal.size() > pcgrid::MAX_PIECE || !is_decimal(decimal)) return false;
  const pcgrid::FloatScan f = pcgrid::scan_float(decimal);
  if (!f.ok || !std::isfinite(f.value)) return false;
  value = f.value;
  return true;
}

// XMIN XMAX YMIN YMAX, each range with its lower end first.
bool read_limits(char** values, NodeLimits& limits) {
  return read_limit(values[0], limits.xmin) && read_limit(values[1], limits.xmax) &&
         read_limit(values[2], limits.ymin) && read_limit(values[3], limits.ymax) &&
         limits.xmin < limits.xmax && limits.ymin < limits.ymax;
}

// The options before GRID; returns the index of GRID.
int read_options(int argc, char** argv, Arguments& arguments) {
  int next = 1;
  for (; next < argc && std::string_view(argv[next]).starts_with("--"); ++next) {
    const std::string_view option = argv[next];
    if (option == "--limits" && !arguments.limits_given && argc - next > 4) {
      if (!read_limits(argv + next + 1, arguments.limits)) usage();
      arguments.limits_given = true;
      next += 4;
    } else if (option == "--weights" && !arguments.weights) {
      arguments.weights = true;
    } else if (option == "--help") {
      show(HELP);
    } else if (option == "--version") {
      show("gridmap (pcgrid) " PCGRID_VERSION "\n");
    } else {
      usage();
    }
  }
  return next;
}

}  // namespace

Arguments read_arguments(int argc, char** argv) {
  Arguments arguments{};
  if (argc > 1 && std::string_view(argv[1]) == "--sum") {
    if (argc < 3) usage();
    arguments.logs = argv + 2;
    arguments.log_count = argc - 2;
    return arguments;
  }
  const int first = read_options(argc, argv, arguments);
  const int left = argc - first;  // GRID [GRID_Y] filename
  long long GRID = 0;
  long long GRID_Y = -1;  // an absent GRID_Y is taken as a negative one
  if (left < 2 || left > 3 || !read_nodes(argv[first], GRID) ||
      (left == 3 && !read_nodes(argv[first + 1], GRID_Y))) {
    usage();
  }
  if (GRID < 0) GRID = -GRID;
  if (GRID_Y < 0) GRID_Y = GRID;
  const long long GX = GRID - 1;
  const long long GY = GRID_Y - 1;
  if (GX <= 1 || GY <= 1) refuse("Selected number of grid points doesn't make sense.\n");
  if (GX >= MAXGRID || GY >= MAXGRID) refuse("Sorry. Increase MAXGRID and re-compile.\n");
  arguments.GX = static_cast<int>(GX);
  arguments.GY = static_cast<int>(GY);
  arguments.name = argv[argc - 1];
  return arguments;
}

}  // namespace gridmap
