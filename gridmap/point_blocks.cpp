#include "point_blocks.hpp"

#include <omp.h>
#include <sys/mman.h>

#include <algorithm>
#include <bit>
#include <cstring>

#include "decimal_token.hpp"
#include "grid_accumulator.hpp"
#include "grid_node.hpp"
#include "limits.hpp"
#include "line_reader.hpp"
#include "pcgrid_config.hpp"
#include "structural_scan.hpp"
#include "table_memory.hpp"

namespace gridmap {

namespace {

// A point's values and columns, as "%f %f %f" reads its line.
struct Point {
  float x, y, z;
  std::string_view z_field;  // the text z was read from, where it is read
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

// Not -1: window 0 would be taken for the one after the window held, and
// its masks for those already classified.
constexpr std::ptrdiff_t NO_WINDOW = -2;

// The windows of a part's text, 64 bytes each from its start, classified
// once each as the lines cross them: the two that the current line begins
// in and after. Bytes at or after the end of the text count as newlines.
struct Windows {
  const char* text;  // the part's start
  const char* end;
  std::ptrdiff_t first;  // index of the window in `blank[0]`, `newline[0]`; NO_WINDOW: none yet
  std::uint64_t blank[2];
  std::uint64_t newline[2];
};

void classify_window(const Windows& w, std::ptrdiff_t index, std::uint64_t& blank,
                     std::uint64_t& newline) {
  const char* p = w.text + 64 * index;
  if (p >= w.end) {
    blank = newline = ~std::uint64_t{0};
    return;
  }
  pcgrid::LineWindows classified;
  pcgrid::classify_line(p, w.end, classified);
  blank = classified.blank[0];
  newline = classified.newline[0];
}

// The masks of the 64 bytes from `line` on.
void masks_at(Windows& w, const char* line, std::uint64_t& blank, std::uint64_t& newline) {
  const std::ptrdiff_t offset = line - w.text;
  const std::ptrdiff_t index = offset / 64;
  if (index == w.first + 1) {
    w.blank[0] = w.blank[1];
    w.newline[0] = w.newline[1];
    classify_window(w, index + 1, w.blank[1], w.newline[1]);
  } else if (index != w.first) {
    classify_window(w, index, w.blank[0], w.newline[0]);
    classify_window(w, index + 1, w.blank[1], w.newline[1]);
  }
  w.first = index;
  const int shift = static_cast<int>(offset % 64);
  blank = w.blank[0] >> shift;
  newline = w.newline[0] >> shift;
  if (shift > 0) {
    blank |= w.blank[1] << (64 - shift);
    newline |= w.newline[1] << (64 - shift);
  }
}

// The tokens of a line of at most 63 characters, its newline included,
// from the masks of the 64 bytes from its start, as find_tokens finds them:
// runs of bytes that are not white space before the newline (or the end of
// the text). False, having found nothing, for a longer line.
bool short_line_tokens(Windows& w, const char* line, pcgrid::LineTokens& tokens) {
  std::uint64_t blank = 0;
  std::uint64_t newline = 0;
  masks_at(w, line, blank, newline);
  if (newline == 0) return false;
  const int last = std::countr_zero(newline);
  if (last == 63) return false;
  tokens.length = static_cast<std::size_t>(last) + (line + last < w.end ? 1 : 0);
  const std::uint64_t solid = ~blank & ((std::uint64_t{1} << last) - 1);
  std::uint64_t begins = solid & ~(solid << 1);
  std::uint64_t ends = ~solid & (solid << 1);
  int count = 0;
  for (; begins != 0 && count < 3; begins &= begins - 1, ends &= ends - 1, ++count) {
    tokens.begin[count] = static_cast<std::uint32_t>(std::countr_zero(begins));
    tokens.end[count] = static_cast<std::uint32_t>(std::countr_zero(ends));
  }
  tokens.count = count;
  return true;
}

// Whether "%f" reads a number at the start of token t, without converting
// it: a digit after an optional sign is enough, unless they begin "0x"
// (scanf refuses "0x" without hexadecimal digits), as float_follows has it.
// False also where it cannot tell.
bool number_follows(const char* line, const pcgrid::LineTokens& tokens, int t) {
  const char* p = line + tokens.begin[t];
  const char* const end = line + tokens.end[t];
  if (*p == '-' || *p == '+') ++p;
  if (p == end || *p < '0' || *p > '9') return false;
  return !(p + 1 < end && p[0] == '0' && (p[1] == 'x' || p[1] == 'X'));
}

// A line of the usual form: at most USUAL_LINE characters, whose first two
// tokens, and third if there is one, are of the form token_float takes (or,
// when z is not read, whose third token begins a number). "%f %f %f" then
// reads them as token_float does (each token is followed by white space or
// the end of the piece, where no number continues), and finds a third
// number exactly when there is a third token. Any other line is left to
// read_point: false, nothing set but the point. Lines shorter than a window
// are cut from the part's windows, longer ones by find_tokens.
bool usual_point(Windows& w, const char* line, bool read_z, Point& point, std::size_t& length) {
  pcgrid::LineTokens tokens;
  if (!short_line_tokens(w, line, tokens) &&
      !pcgrid::find_tokens(line, w.end, USUAL_LINE, 3, tokens)) {
    return false;
  }
  if (tokens.count < 2) return false;
  if (!token_value(line, tokens, 0, point.x) || !token_value(line, tokens, 1, point.y)) {
    return false;
  }
  point.columns = 2;
  if (tokens.count == 3) {
    if (!(read_z ? token_value(line, tokens, 2, point.z) : number_follows(line, tokens, 2))) {
      return false;
    }
    // The token is the field read_point finds: it begins where "%f" begins
    // to read z, and white space or the end of the piece ends both.
    point.z_field = std::string_view(line + tokens.begin[2], tokens.end[2] - tokens.begin[2]);
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
  point.columns = read_z ? read_point(piece, point.x, point.y, point.z, &point.z_field)
                         : read_point_xy(piece, point.x, point.y);
  return length;
}

// What the pass refuses in a point, in the order the lines are checked.
Stop check_point(const Point& point, const PassRules& rules) {
  if (point.columns == 0) return Stop::no_point;
  if (point.columns != rules.ncol) return Stop::other_columns;
  if (rules.weights && point.columns == 3 && !is_weight(point.z_field, point.z))
    return Stop::bad_weight;
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
    const int k = pcgrid::node_within(point.y, rules.GY, l.ymin, l.ymax);
    const int j = k < 0 ? -1 : pcgrid::node_within(point.x, rules.GX, l.xmin, l.xmax);
    if (j >= 0) r = {static_cast<std::int16_t>(j), static_cast<std::int16_t>(k), point.z};
  } else {
    r.j = static_cast<std::int16_t>(pcgrid::node_index(point.x, rules.GX, l.xmin, l.xmax));
    r.k = static_cast<std::int16_t>(pcgrid::node_index(point.y, rules.GY, l.ymin, l.ymax));
  }
  return r;
}

// Every piece that holds a point has at least three characters (two
// numbers, and something between them that does not join them into one),
// and a part stops at the first piece without a point: a part of n bytes
// records at most n / 3 points. The parts' records lie one after the other.
constexpr std::size_t MAX_RECORDS = (pcgrid::READ_BLOCK + pcgrid::MAX_PIECE) / 3 + 1 + MAX_PARTS;
NodeRecord* records;  // MAX_RECORDS of them, about 22 MB: reserve_block_work

// The points kept by the first pass, KEPT_POINTS of them (48 MB), then
// MAX_RECORDS point records of a block, laid out as `records`.
constexpr std::size_t KEPT_POINTS = std::size_t{1} << 22;
PointRecord* kept_points;
PointRecord* point_records;

template <bool USUAL_FORM>
PartPoints convert_part_with(std::string_view text, const PassRules& rules, NodeRecord* nodes,
                             PointRecord* kept) {
  PartPoints part{};
  part.nodes = nodes;
  part.kept = kept;
  const char* p = text.data();
  const char* const end = p + text.size();
  Windows windows{p, end, NO_WINDOW, {}, {}};
  while (p < end) {
    Point point{0, 0, 0, {}, 0};
    std::size_t length = 0;
    if (USUAL_FORM && usual_point(windows, p, rules.read_z, point, length)) {
      ++part.usual;
    } else {
      length = exact_point(p, end, rules.read_z, point);
    }
    part.stop = check_point(point, rules);
    if (part.stop != Stop::none) {
      pcgrid::piece_at(p, end, pcgrid::MAX_PIECE, part.piece);
      return part;
    }
    if (rules.find_nodes) nodes[part.points] = node_of(point, rules);
    if (rules.keep_points) kept[part.points] = {point.x, point.y, point.z};
    if (!rules.find_nodes || rules.find_limits_too) widen_limits(part, point);
    ++part.points;
    p += length;
  }
  return part;
}

// A few parts per thread, taken as the threads come free, keep a thread that
// shares its core with another process from holding the others up.
constexpr int PARTS_PER_THREAD = 4;
constexpr std::size_t BYTES_WORTH_THREADS = std::size_t{1}
                                            << 16;  // a block shorter stays on one thread

int cut_parts(std::string_view block, const char* (&bounds)[MAX_PARTS + 1]) {
  const int parts =
      block.size() < BYTES_WORTH_THREADS
          ? 1
          : std::clamp(omp_get_max_threads() * PARTS_PER_THREAD, PARTS_PER_THREAD, MAX_PARTS);
  pcgrid::cut_at_newlines(block, parts, bounds);
  return parts;
}

// Fewer points have their nodes found on one thread.
constexpr std::size_t POINTS_WORTH_THREADS = 4096;

// Each worker thread's stack (1 MiB, limit_thread_stacks) and guard page,
// with room to spare for what the runtime keeps for it.
constexpr std::size_t THREAD_ROOM = std::size_t{2} << 20;

}  // namespace

bool reserve_block_work() {
  records =
      static_cast<NodeRecord*>(pcgrid::grow_zeroed(nullptr, 0, MAX_RECORDS * sizeof(NodeRecord)));
  if (records == nullptr) return false;
  // The workers are started now, where a want of room for them can still be
  // told as such: the runtime would end the process in its own words. The
  // room is tried first, and given back for them.
  const int threads = omp_get_max_threads();
  if (threads <= 1) return true;
  const std::size_t room = static_cast<std::size_t>(threads) * THREAD_ROOM;
  void* trial = mmap(nullptr, room, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (trial == MAP_FAILED) return false;
  munmap(trial, room);
#pragma omp parallel
  {}
  return true;
}

PointRecord* keeping_room(std::size_t& capacity) {
  if (kept_points == nullptr) {
    const std::size_t bytes = (KEPT_POINTS + MAX_RECORDS) * sizeof(PointRecord);
    // Small pages: the parts of a block write their points far apart, and
    // each would take a huge page of its own.
    void* room = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (room != MAP_FAILED) {
      kept_points = static_cast<PointRecord*>(room);
      point_records = kept_points + KEPT_POINTS;
    }
  }
  capacity = kept_points == nullptr ? 0 : KEPT_POINTS;
  return kept_points;
}

const NodeRecord* nodes_of(const PointRecord* points, std::size_t count, const PassRules& rules) {
  const auto n = static_cast<std::int64_t>(count);
#pragma omp parallel for schedule(static) if (count >= POINTS_WORTH_THREADS)
  for (std::int64_t i = 0; i < n; ++i) {
    const PointRecord& p = points[i];
    records[i] = node_of(Point{p.x, p.y, p.z, {}, 3}, rules);
  }
  return records;
}

PartPoints convert_part(std::string_view text, const PassRules& rules, NodeRecord* nodes,
                        bool usual_form, PointRecord* kept) {
  // The reference build converts with the C library alone.
  if (usual_form && !pcgrid::LIBC_IO) return convert_part_with<true>(text, rules, nodes, kept);
  return convert_part_with<false>(text, rules, nodes, kept);
}

void convert_block(std::string_view block, const PassRules& rules, BlockPoints& points) {
  const char* bounds[MAX_PARTS + 1];
  points.parts = cut_parts(block, bounds);
#pragma omp parallel for schedule(dynamic, 1) if (points.parts > 1)
  for (int k = 0; k < points.parts; ++k) {
    const auto offset = static_cast<std::size_t>(bounds[k] - block.data());
    const std::string_view part(bounds[k], static_cast<std::size_t>(bounds[k + 1] - bounds[k]));
    const std::size_t first = offset / 3 + static_cast<std::size_t>(k);
    points.part[k] = convert_part(part, rules, records + first, true,
                                  rules.keep_points ? point_records + first : nullptr);
  }
}

std::size_t find_part_tokens(std::string_view text) {
  const char* p = text.data();
  const char* const end = p + text.size();
  Windows windows{p, end, NO_WINDOW, {}, {}};
  std::size_t found = 0;
  while (p < end) {
    pcgrid::LineTokens tokens;
    if (short_line_tokens(windows, p, tokens) ||
        pcgrid::find_tokens(p, end, USUAL_LINE, 3, tokens)) {
      found += static_cast<std::size_t>(tokens.count);
      p += tokens.length;
    } else {
      std::string_view piece;
      p += pcgrid::piece_at(p, end, pcgrid::MAX_PIECE, piece);
    }
  }
  return found;
}

int first_columns(std::string_view text) {
  Point point{0, 0, 0, {}, 0};
  exact_point(text.data(), text.data() + text.size(), true, point);
  return point.columns;
}

}  // namespace gridmap
