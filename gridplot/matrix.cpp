#include "matrix.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <string_view>

#include "descriptor_io.hpp"
#include "numbers.hpp"

namespace gridplot {

namespace {

constexpr std::size_t VALUE_ROOM = 64;  // bytes a matrix value may take, separator included

std::string grid_text(const Run& run) {
  return std::to_string(run.nx) + " by " + std::to_string(run.ny);
}

// The whole file, when it is no larger than `largest` bytes.
std::string read_text(int fd, const std::string& name, std::size_t largest,
                      const std::string& too_large, std::string& text) {
  struct stat status {};
  if (fstat(fd, &status) != 0 || S_ISDIR(status.st_mode)) {
    return name + ": cannot read: " + std::strerror(S_ISDIR(status.st_mode) ? EISDIR : errno);
  }
  if (static_cast<std::size_t>(status.st_size) > largest) return too_large;
  text.assign(static_cast<std::size_t>(status.st_size), '\0');
  std::size_t have = 0;
  while (have < text.size()) {
    const ssize_t got = pcgrid::read_some(fd, text.data() + have, text.size() - have);
    if (got < 0) return name + ": cannot read: " + std::strerror(errno);
    if (got == 0) break;
    have += static_cast<std::size_t>(got);
  }
  text.resize(have);
  return "";
}

// The values of one row; "" or what is wrong with it.
std::string read_row(std::string_view line, const Run& run, std::vector<double>& values) {
  int count = 0;
  std::size_t p = 0;
  while (true) {
    p = line.find_first_not_of(" \t", p);
    if (p == std::string_view::npos) break;
    const std::size_t stop = std::min(line.find_first_of(" \t", p), line.size());
    const std::string_view field = line.substr(p, stop - p);
    double value = 0;
    if (!parse_number(field, value) || !std::isfinite(value) ||
        (value < 0 && !run.negative_means)) {
      return "'" + std::string(field) + "' is not a " +
             (run.negative_means ? "finite number" : "number of at least 0");
    }
    if (++count <= run.ny) values.push_back(value);
    p = stop;
  }
  if (count != run.ny) {
    return std::to_string(count) + " values, but the grid has " + std::to_string(run.ny) +
           " along y";
  }
  return "";
}

}  // namespace

std::string read_matrix(int fd, const std::string& name, const Run& run,
                        std::vector<double>& values) {
  std::string text;
  const std::size_t largest = static_cast<std::size_t>(run.nx) * (run.ny * VALUE_ROOM + VALUE_ROOM);
  std::string error =
      read_text(fd, name, largest,
                name + ": too large for the matrix of a " + grid_text(run) + " grid", text);
  if (!error.empty()) return error;

  values.clear();
  values.reserve(static_cast<std::size_t>(run.nx) * run.ny);
  int row = 0;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string_view line(text.data() + at, end - at);
    at = end + 1;
    ++row;
    const std::string where = name + ":" + std::to_string(row) + ": ";
    if (line.ends_with('\r')) return where + WINDOWS_LINE_END;
    if (row > run.nx)
      return where + "more rows than the " + std::to_string(run.nx) + " of the grid";
    error = read_row(line, run, values);
    if (!error.empty()) return where + error;
  }
  if (row != run.nx) {
    return name + ": " + std::to_string(row) + " rows, but the grid has " + std::to_string(run.nx) +
           " along x";
  }
  return "";
}

}  // namespace gridplot
