#include "grid_accumulator.hpp"

#include <cmath>
#include <initializer_list>

#include "number_scan.hpp"
#include "table_memory.hpp"
#include "weight_text.hpp"

namespace gridmap {

namespace {

// The first two conversions of "%f %f %f" (the blanks between them skip what
// "%f" skips anyway): false unless both read a finite number. The line is
// left at what follows them.
bool read_finite_xy(std::string_view& line, float& x, float& y) {
  for (float* value : {&x, &y}) {
    const pcgrid::FloatScan f = pcgrid::scan_float(line);
    if (!f.ok) return false;
    *value = f.value;
    line.remove_prefix(static_cast<std::size_t>(f.used));
  }
  return std::isfinite(x) && std::isfinite(y);
}

// White space as "%f" skips it in the C locale.
bool is_blank(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// The field that begins after the white space at the start of `rest`, up to
// the next white space or NUL (where the line's C string ends).
std::string_view field_at(std::string_view rest) {
  std::size_t begin = 0;
  while (begin < rest.size() && is_blank(rest[begin])) ++begin;
  std::size_t end = begin;
  while (end < rest.size() && rest[end] != '\0' && !is_blank(rest[end])) ++end;
  return rest.substr(begin, end - begin);
}

}  // namespace

bool reserve_nodes(GridAccumulator& grid) {
  const auto rows = static_cast<std::size_t>(grid.GX) + 1;
  void* counts = pcgrid::grow_zeroed(nullptr, 0, rows * sizeof grid.counts[0]);
  void* sums = pcgrid::grow_zeroed(nullptr, 0, rows * sizeof grid.sums[0]);
  if (counts == nullptr || sums == nullptr) return false;
  grid.counts = static_cast<std::uint32_t(*)[MAXGRID]>(counts);
  grid.sums = static_cast<double(*)[MAXGRID]>(sums);
  return true;
}

int read_point(std::string_view line, float& x, float& y, float& z, std::string_view* z_field) {
  if (!read_finite_xy(line, x, y)) return 0;
  const pcgrid::FloatScan f = pcgrid::scan_float(line);
  if (!f.ok) return 2;
  z = f.value;
  if (z_field != nullptr) *z_field = field_at(line);
  return 3;
}

int read_point_xy(std::string_view line, float& x, float& y) {
  if (!read_finite_xy(line, x, y)) return 0;
  return pcgrid::float_follows(line) ? 3 : 2;
}

bool is_weight(std::string_view z_field, float z) {
  return pcgrid::is_weight_text(z_field) && z >= 0 && std::isfinite(z);
}

bool count_line(std::int32_t& lines) {
  if (lines == MAX_LINES) return false;
  ++lines;
  return true;
}

double node_value(int ncol, std::uint32_t count, double sum) {
  if (ncol != 3) return static_cast<float>(count);
  return count == 0 ? 0.0 : sum / count;
}

bool node_log_value(int ncol, std::uint32_t count, double sum, double& value) {
  value = 0.0;
  if (ncol != 3) {
    if (count > 1) value = std::log(static_cast<double>(count));
    return true;
  }
  if (count == 0) return true;
  const double mean = sum / count;
  if (!(mean > 0)) return false;
  value = std::log(mean);
  return true;
}

double weight_log_value(double sum) {
  return sum == 0 ? 0.0 : std::log(sum);
}

}  // namespace gridmap
