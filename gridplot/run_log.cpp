#include "run_log.hpp"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <string_view>

#include "descriptor_io.hpp"
#include "numbers.hpp"

namespace gridplot {

namespace {

constexpr std::size_t LOG_LINE = 256;  // characters kept of each line of the log

// "\ton x : %f to %f": the two numbers after the prefix.
bool parse_limits(std::string_view line, std::string_view prefix, double& lo, double& hi) {
  if (!line.starts_with(prefix)) return false;
  line.remove_prefix(prefix.size());
  const std::size_t to = line.find(" to ");
  return to != std::string_view::npos && parse_number(line.substr(0, to), lo) &&
         parse_number(line.substr(to + 4), hi) && std::isfinite(lo) && std::isfinite(hi) &&
         lo <= hi;
}

// "Second pass to interpolate on a %d by %d grid ..."
bool parse_grid(std::string_view line, Run& run) {
  constexpr std::string_view prefix = "Second pass to interpolate on a ";
  constexpr std::string_view suffix = " grid ...";
  if (!line.starts_with(prefix) || !line.ends_with(suffix)) return false;
  line = line.substr(prefix.size(), line.size() - prefix.size() - suffix.size());
  const std::size_t by = line.find(" by ");
  return by != std::string_view::npos && parse_number(line.substr(0, by), run.nx) &&
         parse_number(line.substr(by + 4), run.ny);
}

void read_log_line(std::string_view line, Run& run) {
  if (line == "All done.") run.done = true;
  if (line == "Three columns found. Using the third to calculate sums.") run.three_columns = true;
  if (parse_limits(line, "\ton x : ", run.xmin, run.xmax)) run.have_x = true;
  if (parse_limits(line, "\ton y : ", run.ymin, run.ymax)) run.have_y = true;
  parse_grid(line, run);
}

}  // namespace

// The log is read in blocks; of each line only the first LOG_LINE
// characters are kept (the progress counter's line can be very long).
std::string read_run_log(int fd, const std::string& name, Run& run) {
  run = Run{};
  std::string line;
  bool longer = false;
  char block[1 << 16];
  for (;;) {
    const ssize_t got = pcgrid::read_some(fd, block, sizeof block);
    if (got < 0) return name + ": cannot read: " + std::strerror(errno);
    if (got == 0) break;
    for (ssize_t i = 0; i < got; ++i) {
      if (block[i] == '\n') {
        if (!longer) read_log_line(line, run);
        line.clear();
        longer = false;
      } else if (line.size() < LOG_LINE) {
        line += block[i];
      } else {
        longer = true;
      }
    }
  }
  if (!longer) read_log_line(line, run);
  if (!run.done) return name + ": not a complete gridmap run (\"All done.\" is missing)";
  if (run.nx < 3 || run.ny < 3 || run.nx > MAX_NODES || run.ny > MAX_NODES || !run.have_x ||
      !run.have_y) {
    return name + ": not gridmap's output (no grid size or limits of x and y)";
  }
  return "";
}

}  // namespace gridplot
