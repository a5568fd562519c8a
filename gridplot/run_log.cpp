#include "run_log.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <string_view>

#include "descriptor_io.hpp"
#include "numbers.hpp"

namespace gridplot {

namespace {

constexpr std::size_t LOG_LINE = 256;  // characters kept of each line of the log

// Half a unit of the last digit printed: how far the number written may be
// from the number that was printed.
double rounding_of(std::string_view number) {
  const std::size_t point = number.find('.');
  const std::size_t decimals = point == std::string_view::npos ? 0 : number.size() - point - 1;
  return 0.5 * std::pow(10.0, -static_cast<double>(decimals));
}

// "\ton x : %f to %f": the two numbers after the prefix, taken only when
// both are finite and in order; `reversed` tells two finite numbers out of
// order, which gridmap never writes.
bool parse_limits(std::string_view line, std::string_view prefix, double& lo, double& hi,
                  double& rounding, bool* reversed = nullptr) {
  if (!line.starts_with(prefix)) return false;
  line.remove_prefix(prefix.size());
  const std::size_t to = line.find(" to ");
  if (to == std::string_view::npos) return false;
  const std::string_view low = line.substr(0, to);
  const std::string_view high = line.substr(to + 4);
  double l = 0, h = 0;
  if (!parse_number(low, l) || !parse_number(high, h) || !std::isfinite(l) || !std::isfinite(h)) {
    return false;
  }
  if (l > h) {
    if (reversed != nullptr) *reversed = true;
    return false;
  }
  lo = l;
  hi = h;
  rounding = std::max(rounding_of(low), rounding_of(high));
  return true;
}

// "Second pass to interpolate on a %d by %d grid ...", or where gridmap read
// its data once, or added runs, "One pass ..." or "Sum of the runs ...".
bool parse_grid(std::string_view line, Run& run) {
  constexpr std::string_view prefixes[] = {
      "Second pass to interpolate on a ", "One pass to interpolate on a ", "Sum of the runs on a "};
  constexpr std::string_view suffix = " grid ...";
  const std::string_view* prefix =
      std::find_if(std::begin(prefixes), std::end(prefixes),
                   [&](std::string_view p) { return line.starts_with(p); });
  if (prefix == std::end(prefixes) || !line.ends_with(suffix)) return false;
  line = line.substr(prefix->size(), line.size() - prefix->size() - suffix.size());
  const std::size_t by = line.find(" by ");
  int nx = 0, ny = 0;
  if (by == std::string_view::npos || !parse_number(line.substr(0, by), nx) ||
      !parse_number(line.substr(by + 4), ny)) {
    return false;
  }
  run.nx = nx;
  run.ny = ny;
  return true;
}

// "Using the limits given: x %f to %f, y %f to %f" (gridmap --limits),
// which place the nodes instead of the data's limits.
bool parse_given_limits(std::string_view line, Run& given) {
  constexpr std::string_view prefix = "Using the limits given: x ";
  if (!line.starts_with(prefix)) return false;
  line.remove_prefix(prefix.size());
  const std::size_t comma = line.find(", y ");
  return comma != std::string_view::npos &&
         parse_limits(line.substr(0, comma), "", given.xmin, given.xmax, given.x_rounding) &&
         parse_limits(line.substr(comma + 4), "", given.ymin, given.ymax, given.y_rounding);
}

// False for a line of limits out of order.
bool read_log_line(std::string_view line, Run& run, Run& given) {
  bool reversed = false;
  if (line == "All done.") run.done = true;
  if (line == "Three columns found. Using the third to calculate sums.") run.mean_z = true;
  if (line == "Three columns found. Using the third as weights.") run.weights = true;
  if (line == "Negative values present. Giving-up on writing logs.") run.negative_means = true;
  if (parse_limits(line, "\ton x : ", run.xmin, run.xmax, run.x_rounding, &reversed)) {
    run.have_x = true;
  }
  if (parse_limits(line, "\ton y : ", run.ymin, run.ymax, run.y_rounding, &reversed)) {
    run.have_y = true;
  }
  if (parse_given_limits(line, given)) run.given_limits = true;
  parse_grid(line, run);
  return !reversed;
}

std::string reversed_limits(const std::string& name, long long number) {
  return name + ":" + std::to_string(number) +
         ": limits out of order (the first must not be above the second); gridmap never writes "
         "them so: was the log edited?";
}

}  // namespace

// The log is read in blocks; of each line only the first LOG_LINE
// characters are kept (the progress counter's line can be very long).
std::string read_run_log(int fd, const std::string& name, Run& run) {
  run = Run{};
  Run given;
  std::string line;
  bool longer = false;
  char last = '\0';      // of the line
  long long number = 1;  // of the line
  char block[1 << 16];
  for (;;) {
    const ssize_t got = pcgrid::read_some(fd, block, sizeof block);
    if (got < 0) return name + ": cannot read: " + std::strerror(errno);
    if (got == 0) break;
    for (ssize_t i = 0; i < got; ++i) {
      if (block[i] != '\n') {
        last = block[i];
        if (line.size() < LOG_LINE) {
          line += block[i];
        } else {
          longer = true;
        }
        continue;
      }
      if (last == '\r') return name + ":" + std::to_string(number) + ": " + WINDOWS_LINE_END;
      if (!longer && !read_log_line(line, run, given)) return reversed_limits(name, number);
      line.clear();
      longer = false;
      last = '\0';
      ++number;
    }
  }
  if (last == '\r') return name + ":" + std::to_string(number) + ": " + WINDOWS_LINE_END;
  if (!longer && !read_log_line(line, run, given)) return reversed_limits(name, number);
  // A mean-z run with a mean of 0 or below wrote its matrix whole, then gave up.
  if (run.mean_z && run.negative_means) run.done = true;
  if (run.given_limits) {
    run.xmin = given.xmin;
    run.xmax = given.xmax;
    run.x_rounding = given.x_rounding;
    run.ymin = given.ymin;
    run.ymax = given.ymax;
    run.y_rounding = given.y_rounding;
  }
  if (!run.done) return name + ": not a complete gridmap run (\"All done.\" is missing)";
  if (run.nx < 3 || run.ny < 3 || run.nx > MAX_NODES || run.ny > MAX_NODES || !run.have_x ||
      !run.have_y) {
    return name + ": not gridmap's output (no grid size or limits of x and y)";
  }
  return "";
}

namespace {

// Whether a node off the first along x (or along y) holds a value.
bool populated_beyond_first(const Run& run, const std::vector<double>& values, bool along_x) {
  for (int j = 0; j < run.nx; ++j) {
    for (int k = 0; k < run.ny; ++k) {
      if ((along_x ? j : k) > 0 && values[static_cast<std::size_t>(j) * run.ny + k] != 0) {
        return true;
      }
    }
  }
  return false;
}

// "" when the axis' nodes are placed well enough.
std::string check_axis(const std::string& name, const Run& run, const std::vector<double>& values,
                       bool along_x) {
  const double lo = along_x ? run.xmin : run.ymin;
  const double hi = along_x ? run.xmax : run.ymax;
  const double rounding = along_x ? run.x_rounding : run.y_rounding;
  const int nodes = along_x ? run.nx : run.ny;
  // Equal limits are a range of 0 only if every point is on the first node.
  const bool placed = hi > lo ? rounding <= 0.01 * (hi - lo) / (nodes - 1)
                              : !populated_beyond_first(run, values, along_x);
  if (placed) return "";
  const char* axis = along_x ? "x" : "y";
  return name + ": the limits of " + axis + " are printed too coarsely to place its " +
         std::to_string(nodes) + " nodes to 1% of their spacing; scale " + axis +
         " up (multiply it by a power of 10) and run gridmap again";
}

}  // namespace

std::string check_node_placement(const std::string& name, const Run& run,
                                 const std::vector<double>& values) {
  std::string error = check_axis(name, run, values, true);
  if (error.empty()) error = check_axis(name, run, values, false);
  return error;
}

}  // namespace gridplot
