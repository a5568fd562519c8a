#include "states.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "grid_node.hpp"
#include "line_reader.hpp"
#include "numbers.hpp"

namespace gridplot {

namespace {

constexpr std::size_t LINE_MAX_CHARS = 4096;
constexpr std::size_t PENDING = std::size_t{1} << 20;  // members kept before they are tallied
constexpr int NODE_BITS = 20;                          // MAX_NODES * MAX_NODES < 2^20

// A member's state and node as one key, ordered by state, then node.
using Key = std::uint64_t;
struct Tally {
  Key key;
  std::uint32_t count;
};

pcgrid::LineReader reader;  // over a megabyte: static

// gridmap's node of a value; -1 when it falls off the map (or the value is
// not a number). A map of zero range has its one node.
int node_of(float v, int g, double lo, double hi) {
  if (hi == lo) return 0;
  return pcgrid::node_within(v, g, lo, hi);
}

// The counts of `pending` (sorted here) merged into `tallies`.
void tally(std::vector<Key>& pending, std::vector<Tally>& tallies) {
  std::sort(pending.begin(), pending.end());
  std::vector<Tally> merged;
  merged.reserve(tallies.size() + pending.size());
  std::size_t t = 0;
  for (std::size_t p = 0; p < pending.size();) {
    std::size_t q = p;
    while (q < pending.size() && pending[q] == pending[p]) ++q;
    while (t < tallies.size() && tallies[t].key < pending[p]) merged.push_back(tallies[t++]);
    std::uint32_t count = static_cast<std::uint32_t>(q - p);
    if (t < tallies.size() && tallies[t].key == pending[p]) count += tallies[t++].count;
    merged.push_back({pending[p], count});
    p = q;
  }
  merged.insert(merged.end(), tallies.begin() + static_cast<std::ptrdiff_t>(t), tallies.end());
  tallies.swap(merged);
  pending.clear();
}

// The number of fields of a line, split at blanks; the first `room` of them
// in `fields`.
std::size_t split(std::string_view line, std::string_view* fields, std::size_t room) {
  std::size_t count = 0;
  std::size_t at = 0;
  while ((at = line.find_first_not_of(" \t", at)) != std::string_view::npos) {
    const std::size_t end = std::min(line.find_first_of(" \t", at), line.size());
    if (count < room) fields[count] = line.substr(at, end - at);
    ++count;
    at = end;
  }
  return count;
}

// One line's state and x and y; "" or what is wrong with it.
std::string read_member(std::string_view line, int x_column, int y_column, int& state, float& x,
                        float& y) {
  constexpr std::size_t ROOM = 64;
  std::string_view fields[ROOM];
  const std::size_t count = split(line, fields, ROOM);
  long long label = 0;
  bool report =
      count >= 2 && parse_number(fields[0], label) && parse_number(fields[1], state) && state > 0;
  for (std::size_t f = 2; report && f < std::min(count, ROOM); ++f) {
    float component = 0;
    report = parse_number(fields[f], component);
  }
  if (!report) return "not a line of clusterback's report (label, cluster number, components)";
  const std::size_t needed = static_cast<std::size_t>(std::max(x_column, y_column));
  if (needed > count || needed > ROOM) {
    return "no column " + std::to_string(needed) + ": the line has " + std::to_string(count);
  }
  if (!parse_number(fields[x_column - 1], x) || !parse_number(fields[y_column - 1], y)) {
    return "columns " + std::to_string(x_column) + " and " + std::to_string(y_column) +
           " are not numbers";
  }
  return "";
}

}  // namespace

std::string find_state_labels(std::FILE* file, const std::string& name, const Run& run,
                              int x_column, int y_column, std::vector<StateLabel>& labels) {
  std::vector<Key> pending;
  pending.reserve(PENDING);
  std::vector<Tally> tallies;
  pcgrid::start_reading(reader, file, LINE_MAX_CHARS);
  std::string_view piece;
  for (long long number = 1; pcgrid::read_piece(reader, piece); ++number) {
    const std::string where = name + ":" + std::to_string(number) + ": ";
    if (!piece.ends_with('\n') && piece.size() == LINE_MAX_CHARS) {
      return where + "longer than " + std::to_string(LINE_MAX_CHARS) + " characters";
    }
    if (piece.ends_with('\n')) piece.remove_suffix(1);
    if (piece.ends_with('\r')) return where + WINDOWS_LINE_END;
    int state = 0;
    float x = 0, y = 0;
    const std::string error = read_member(piece, x_column, y_column, state, x, y);
    if (!error.empty()) return where + error;
    const int j = node_of(x, run.nx - 1, run.xmin, run.xmax);
    const int k = node_of(y, run.ny - 1, run.ymin, run.ymax);
    if (j < 0 || k < 0) continue;
    pending.push_back(static_cast<Key>(state) << NODE_BITS | static_cast<Key>(j * run.ny + k));
    if (pending.size() == PENDING) tally(pending, tallies);
  }
  if (reader.failed) return name + ": cannot read: " + std::strerror(reader.error);
  tally(pending, tallies);
  // Within a state the nodes come in order of j, then k: the first of the
  // largest count wins.
  labels.clear();
  for (std::size_t t = 0; t < tallies.size();) {
    const Key state = tallies[t].key >> NODE_BITS;
    std::size_t best = t;
    for (; t < tallies.size() && tallies[t].key >> NODE_BITS == state; ++t) {
      if (tallies[t].count > tallies[best].count) best = t;
    }
    const int node = static_cast<int>(tallies[best].key & ((Key{1} << NODE_BITS) - 1));
    labels.push_back({static_cast<int>(state), node / run.ny, node % run.ny});
  }
  return "";
}

}  // namespace gridplot
