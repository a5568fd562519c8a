#include "grid_file.hpp"

#include <charconv>
#include <cmath>
#include <cstring>

#include "messages.hpp"

namespace pcgrid {

namespace {

void append_float(std::string& text, float value) {
  char digits[32];
  const auto [end, error] = std::to_chars(digits, digits + sizeof digits, value);
  text.append(digits, end);
}

// The lines of a grid file, each ending with a newline.
struct Lines {
  std::string_view rest;
  int number = 0;

  // The next line without its newline; false when there is no whole one.
  bool next(std::string_view& line) {
    const std::size_t newline = rest.find('\n');
    ++number;
    if (newline == std::string_view::npos) return false;
    line = rest.substr(0, newline);
    rest.remove_prefix(newline + 1);
    return true;
  }
};

// `text` as a whole number of the type of `value`, in decimal.
template <typename Number>
bool whole(std::string_view text, Number& value) {
  const char* const end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  return !text.empty() && text[0] != '-' && error == std::errc{} && stop == end;
}

// `text` as a finite float.
bool finite(std::string_view text, float& value) {
  const char* const end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  return !text.empty() && error == std::errc{} && stop == end && std::isfinite(value);
}

// "KEY VALUE" into `value`.
template <typename Number>
bool keyed(std::string_view line, std::string_view key, Number& value) {
  return line.size() > key.size() && line.substr(0, key.size()) == key &&
         line[key.size()] == ' ' && whole(line.substr(key.size() + 1), value);
}

GridParse refused(const Lines& lines, std::string what) {
  return {false, lines.number, std::move(what)};
}

// Line `line` of `lines` is "limits MIN MAX" for dimension d.
GridParse parse_limits(const Lines& lines, std::string_view line, int d, Grid& grid) {
  constexpr std::string_view KEY = "limits ";
  const std::size_t space = line.find(' ', KEY.size());
  if (line.substr(0, KEY.size()) != KEY || space == std::string_view::npos ||
      !finite(line.substr(KEY.size(), space - KEY.size()), grid.limits.min[d]) ||
      !finite(line.substr(space + 1), grid.limits.max[d])) {
    return refused(lines, "expected \"limits MIN MAX\", two finite numbers, for component " +
                              std::to_string(d + 1));
  }
  if (!(grid.limits.min[d] <= grid.limits.max[d])) {
    return refused(lines, "the lower limit of component " + std::to_string(d + 1) +
                              " is above the upper one");
  }
  return {true, 0, {}};
}

}  // namespace

std::string grid_text(const Grid& grid) {
  std::string text(GRID_MAGIC);
  text += "\ndimensions " + std::to_string(grid.dim) + "\nvectors " +
          std::to_string(grid.vectors) + "\nintervals " + std::to_string(grid.g) + "\n";
  for (int d = 0; d < grid.dim; ++d) {
    text += "limits ";
    append_float(text, grid.limits.min[d]);
    text += ' ';
    append_float(text, grid.limits.max[d]);
    text += '\n';
  }
  return text;
}

GridParse parse_grid(std::string_view text, Grid& grid) {
  Lines lines{text};
  std::string_view line;
  const char* const truncated = "the grid file ends in the middle of a line (truncated?)";
  if (!lines.next(line) || line != GRID_MAGIC) {
    if (text.substr(0, GRID_MAGIC.size()) == GRID_MAGIC && text.size() == GRID_MAGIC.size()) {
      return refused(lines, truncated);
    }
    return refused(lines, "not a grid file: expected \"pcgrid grid\" (lettercode --grid-of makes one)");
  }
  if (!lines.next(line)) return refused(lines, truncated);
  if (!keyed(line, "dimensions", grid.dim) || grid.dim > MAX_DIM) {
    return refused(lines, "expected \"dimensions D\" with D from 0 to 10");
  }
  if (!lines.next(line)) return refused(lines, truncated);
  if (!keyed(line, "vectors", grid.vectors) || grid.vectors < 1) {
    return refused(lines, "expected \"vectors N\" with N a whole number of at least 1");
  }
  if (!lines.next(line)) return refused(lines, truncated);
  const int expected = compute_grid_size(grid.vectors);
  if (!keyed(line, "intervals", grid.g) || grid.g != expected) {
    return refused(lines, "expected \"intervals " + std::to_string(expected) + "\", the grid of " +
                              std::to_string(grid.vectors) + " vectors");
  }
  for (int d = 0; d < grid.dim; ++d) {
    if (!lines.next(line)) {
      return refused(lines, lines.rest.empty() ? "the grid file ends before the limits of component " +
                                                     std::to_string(d + 1) + " (truncated?)"
                                               : truncated);
    }
    const GridParse limits = parse_limits(lines, line, d, grid);
    if (!limits.ok) return limits;
  }
  if (!lines.rest.empty()) {
    ++lines.number;
    return refused(lines, "more than the grid's " + std::to_string(grid.dim) + " limits lines");
  }
  return {true, 0, {}};
}

void read_grid(LineReader& reader, const char* program, const char* name, Grid& grid) {
  char text[GRID_FILE_BYTES];
  std::size_t size = 0;
  std::string_view piece;
  while (read_piece(reader, piece)) {
    if (piece.size() > GRID_FILE_BYTES - size) {
      fail("%s: %s: not a grid file: longer than %zu bytes\n", program, name, GRID_FILE_BYTES);
    }
    std::memcpy(text + size, piece.data(), piece.size());
    size += piece.size();
  }
  if (reader.failed) fail("%s: %s: %s\n", program, name, std::strerror(reader.error));
  const GridParse parse = parse_grid({text, size}, grid);
  if (!parse.ok) fail("%s: %s:%d: %s\n", program, name, parse.line, parse.what.c_str());
}

}  // namespace pcgrid
