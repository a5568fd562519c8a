#include "point_blocks.hpp"

#include <omp.h>

#include <algorithm>
#include <cstring>

#include "decimal_token.hpp"
#include "grid_accumulator.hpp"
#include "limits.hpp"
#include "line_reader.hpp"
#include "pcgrid_config.hpp"
#include "structural_scan.hpp"

namespace gridmap {

namespace {

// A point's values and columns, as "%f %f %f" reads its line.
struct Point {
  float x, y, z;
  int columns;
};

// Lines up to this length (newline included) are looked at in their tokens:
// as many bytes as the structural scan classifies at once for a line.
constexpr std::size_t USUAL_LINE = pcgrid::LINE_WINDOWS * 64 - 1;

// Whether token t of the line is of the form token_float takes, and its value.
bool token_value(const char* line, const pcgrid::LineTokens& tokens, int t, float& value) {
  const std::uint32_t begin = tokens.begin[t];
  return pcgrid::token_float(line + begin, tokens.end[t] - begin, value);
}

// A line of the usual form: at most USUAL_LINE characters, whose first two
// tokens, and third if there is one, are of the form token_float takes.
// "%f %f %f" then reads them as token_float does (each token is followed by
// white space or the end of the piece, where no number continues), and
// finds a third number exactly when there is a third token. Any other line
// is left to read_point: false, nothing set but the point.
bool usual_point(const char* line, const char* end, Point& point, std::size_t& length) {
  pcgrid::LineTokens tokens;
  if (!pcgrid::find_tokens(line, end, USUAL_LINE, 3, tokens) || tokens.count < 2) return false;
  if (!token_value(line, tokens, 0, point.x) || !token_value(line, tokens, 1, point.y)) {
    return false;
  }
  point.columns = 2;
  if (tokens.count == 3) {
    if (!token_value(line, tokens, 2, point.z)) return false;
    point.columns = 3;
  }
  length = tokens.length;
  return true;
}

// The piece at `line`, converted by read_point (or read_point_xy when z is
// not wanted); its length.
std::size_t exact_point(const char* line, const char* end, bool read_z, Point& point) {
  std::string_view piece;
  const std::size_t length = pcgrid::piece_at(line, end, pcgrid::MAX_PIECE, piece);
  point.columns = read_z ? read_point(piece, point.x, point.y, point.z)
                         : read_point_xy(piece, point.x, point.y);
  return length;
}

// What the pass refuses in a point, in the order the lines are checked.
Stop check_point(const Point& point, const PassRules& rules) {
  if (point.columns == 0) return Stop::no_point;
  if (point.columns != rules.ncol) return Stop::other_columns;
  if (rules.weights && point.columns == 3 && !is_weight(point.z)) return Stop::bad_weight;
  return Stop::none;
}

void widen_limits(PartPoints& part, const Point& point) {
  if (part.points == 0) {
    part.xmin = part.xmax = point.x;
    part.ymin = part.ymax = point.y;
    return;
  }
  if (point.x > part.xmax) part.xmax = point.x;
  if (point.x < part.xmin) part.xmin = point.x;
  if (point.y > part.ymax) part.ymax = point.y;
  if (point.y < part.ymin) part.ymin = point.y;
}

NodeRecord node_of(const Point& point, const PassRules& rules) {
  const NodeLimits& l = rules.limits;
  NodeRecord r{-1, -1, point.z};
  if (rules.limits_given) {
    const int k = node_within(point.y, rules.GY, l.ymin, l.ymax);
    const int j = k < 0 ? -1 : node_within(point.x, rules.GX, l.xmin, l.xmax);
    if (j >= 0) r = {static_cast<std::int16_t>(j), static_cast<std::int16_t>(k), point.z};
  } else {
    r.j = static_cast<std::int16_t>(node_index(point.x, rules.GX, l.xmin, l.xmax));
    r.k = static_cast<std::int16_t>(node_index(point.y, rules.GY, l.ymin, l.ymax));
  }
  return r;
}

// Every piece that holds a point has at least three characters (two
// numbers, and something between them that does not join them into one),
// and a part stops at the first piece without a point: a part of n bytes
// records at most n / 3 points. The parts' records lie one after the other.
constexpr std::size_t MAX_RECORDS = (pcgrid::READ_BLOCK + pcgrid::MAX_PIECE) / 3 + 1 + MAX_PARTS;
NodeRecord records[MAX_RECORDS];  // about 22 MB; only the pages used cost memory

template <bool USUAL_FORM>
PartPoints convert_part_with(std::string_view text, const PassRules& rules, NodeRecord* nodes) {
  PartPoints part{};
  part.nodes = nodes;
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p < end) {
    Point point{0, 0, 0, 0};
    std::size_t length = 0;
    if (!(USUAL_FORM && usual_point(p, end, point, length))) {
      length = exact_point(p, end, rules.read_z, point);
    }
    part.stop = check_point(point, rules);
    if (part.stop != Stop::none) {
      pcgrid::piece_at(p, end, pcgrid::MAX_PIECE, part.piece);
      return part;
    }
    if (rules.find_nodes) {
      nodes[part.points] = node_of(point, rules);
    } else {
      widen_limits(part, point);
    }
    ++part.points;
    p += length;
  }
  return part;
}

// A few parts per thread, taken as the threads come free, keep a thread that
// shares its core with another process from holding the others up.
constexpr int PARTS_PER_THREAD = 4;
constexpr std::size_t WORTH_THREADS = std::size_t{1} << 16;  // bytes to share, at least

int cut_parts(std::string_view block, const char* (&bounds)[MAX_PARTS + 1]) {
  const int parts =
      block.size() < WORTH_THREADS
          ? 1
          : std::clamp(omp_get_max_threads() * PARTS_PER_THREAD, PARTS_PER_THREAD, MAX_PARTS);
  const char* const end = block.data() + block.size();
  bounds[0] = block.data();
  for (int k = 1; k < parts; ++k) {
    const char* p =
        block.data() + block.size() / static_cast<std::size_t>(parts) * static_cast<std::size_t>(k);
    p = std::max(p, bounds[k - 1]);
    const void* newline = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
    bounds[k] = newline != nullptr ? static_cast<const char*>(newline) + 1 : end;
  }
  bounds[parts] = end;
  return parts;
}

}  // namespace

PartPoints convert_part(std::string_view text, const PassRules& rules, NodeRecord* nodes,
                        bool usual_form) {
  // The reference build converts with the C library alone.
  if (usual_form && !pcgrid::LIBC_IO) return convert_part_with<true>(text, rules, nodes);
  return convert_part_with<false>(text, rules, nodes);
}

void convert_block(std::string_view block, const PassRules& rules, BlockPoints& points) {
  const char* bounds[MAX_PARTS + 1];
  points.parts = cut_parts(block, bounds);
#pragma omp parallel for schedule(dynamic, 1) if (points.parts > 1)
  for (int k = 0; k < points.parts; ++k) {
    const auto offset = static_cast<std::size_t>(bounds[k] - block.data());
    const std::string_view part(bounds[k], static_cast<std::size_t>(bounds[k + 1] - bounds[k]));
    points.part[k] =
        convert_part(part, rules, records + offset / 3 + static_cast<std::size_t>(k), true);
  }
}

int first_columns(std::string_view text) {
  Point point{0, 0, 0, 0};
  exact_point(text.data(), text.data() + text.size(), true, point);
  return point.columns;
}

}  // namespace gridmap
