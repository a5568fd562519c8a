// The build's own passes: the data file read a block at a time, the lines
// of a block converted on all threads (point_blocks.hpp), then taken in
// file order.
#include <unistd.h>

#include <algorithm>
#include <string_view>

#include "gridmap_messages.hpp"
#include "passes.hpp"
#include "point_blocks.hpp"

namespace gridmap {

namespace {

BlockPoints block_points;

// The next block of whole pieces; false at the end of the file.
bool read_block(const Run& run, std::string_view& block) {
  const bool more = pcgrid::read_block(run.reader, block);
  if (run.reader.failed) refuse(CANNOT_READ, run.args.name);
  return more;
}

// `count` more lines accepted, with the counter shown at each multiple of
// COUNT_EVERY among them, as accept_line shows it line by line.
void accept_lines(GridAccumulator& grid, std::int64_t count, const char* name) {
  const std::int64_t room = MAX_LINES - grid.lines;
  const std::int32_t from = grid.lines;
  grid.lines = static_cast<std::int32_t>(from + std::min(count, room));
  for (std::int64_t shown = from / COUNT_EVERY * COUNT_EVERY + COUNT_EVERY; shown <= grid.lines;
       shown += COUNT_EVERY) {
    show_count(BACKSPACES, "", static_cast<std::int32_t>(shown));
  }
  if (count > room) refuse("\nToo many lines in file %s: at most 2147483647.\n", name);
}

// The lines of a part in the first pass: its limits joined to those before
// it (the same comparisons, in the same order, as line by line), then the
// piece it stopped at refused.
void take_limits(GridAccumulator& grid, const PartPoints& part, const char* name) {
  if (part.points > 0) {
    if (grid.lines == 0) {
      grid.xmin = part.xmin;
      grid.xmax = part.xmax;
      grid.ymin = part.ymin;
      grid.ymax = part.ymax;
      show_count(COUNTER_START, "", 0);
    }
    if (part.xmax > grid.xmax) grid.xmax = part.xmax;
    if (part.xmin < grid.xmin) grid.xmin = part.xmin;
    if (part.ymax > grid.ymax) grid.ymax = part.ymax;
    if (part.ymin < grid.ymin) grid.ymin = part.ymin;
    accept_lines(grid, part.points, name);
  }
  switch (part.stop) {
    case Stop::none:
      return;
    case Stop::no_point:
      refuse_line(BAD_LINE, part.piece);
    case Stop::other_columns:
      refuse_line(NOT_CONSTANT, part.piece);
    case Stop::bad_weight:
      if (grid.lines == 0) show_count(COUNTER_START, "", 0);
      refuse_line(BAD_LINE, part.piece);
  }
}

// The points of a part in the second pass, added in file order (so that
// every sum is formed in the same order as line by line); then the piece it
// stopped at refused. The nodes of the points ahead are known, so their
// memory is fetched meanwhile.
constexpr std::size_t FETCH_AHEAD = 16;

void bin_records(GridAccumulator& grid, const NodeRecord* nodes, std::size_t count,
                 const FileSeen& seen, const char* name, std::int32_t& left_out) {
  for (std::size_t i = 0; i < count; ++i) {
    if (grid.lines == seen.lines) refuse(CHANGED, name);
    if (i + FETCH_AHEAD < count && nodes[i + FETCH_AHEAD].j >= 0) {
      const NodeRecord& ahead = nodes[i + FETCH_AHEAD];
      __builtin_prefetch(&grid.counts[ahead.j][ahead.k], 1);
      if (grid.ncol == 3) __builtin_prefetch(&grid.sums[ahead.j][ahead.k], 1);
    }
    const NodeRecord& r = nodes[i];
    if (r.j < 0) {
      ++left_out;
    } else {
      ++grid.counts[r.j][r.k];
      if (grid.ncol == 3) grid.sums[r.j][r.k] += r.z;
    }
    accept_line(grid, name);
  }
}

void bin_points(GridAccumulator& grid, const PartPoints& part, const FileSeen& seen,
                const char* name, std::int32_t& left_out) {
  bin_records(grid, part.nodes, static_cast<std::size_t>(part.points), seen, name, left_out);
  if (part.stop == Stop::none) return;
  if (grid.lines == seen.lines) refuse(CHANGED, name);
  refuse_line(BAD_LINE, part.piece);
}

// The points of a part added to their nodes, in file order; those outside
// the limits given counted in `left_out`.
void add_points(GridAccumulator& grid, const PartPoints& part, std::int32_t& left_out) {
  for (std::int64_t i = 0; i < part.points; ++i) {
    const NodeRecord& r = part.nodes[i];
    if (r.j < 0) {
      ++left_out;
    } else {
      ++grid.counts[r.j][r.k];
      if (grid.ncol == 3) grid.sums[r.j][r.k] += r.z;
    }
  }
}

}  // namespace

std::int32_t one_pass_by_blocks(const Run& run) {
  const Arguments& args = run.args;
  GridAccumulator& grid = run.grid;
  start_one_pass(grid);
  PassRules rules = {.ncol = 0,
                     .read_z = args.weights,
                     .weights = args.weights,
                     .find_nodes = true,
                     .limits_given = true,
                     .limits = args.limits,
                     .GX = grid.GX,
                     .GY = grid.GY,
                     .find_limits_too = true};
  std::int32_t left_out = 0;
  std::string_view block;
  for (bool first = true; read_block(run, block); first = false) {
    if (first) {
      grid.ncol = rules.ncol = first_columns(block);
      rules.read_z = args.weights || grid.ncol == 3;
    }
    convert_block(block, rules, block_points);
    for (int k = 0; k < block_points.parts; ++k) {
      // Every point before the line refused is added: the run ends there.
      add_points(grid, block_points.part[k], left_out);
      take_limits(grid, block_points.part[k], args.name);
    }
  }
  end_one_pass(run);
  return left_out;
}

FileSeen first_pass_by_blocks(const Run& run) {
  const Arguments& args = run.args;
  GridAccumulator& grid = run.grid;
  say("First pass to determine limits ...\n");
  grid.lines = 0;
  PassRules rules = {.ncol = 0,
                     .read_z = args.weights,
                     .weights = args.weights,
                     .find_nodes = false,
                     .limits_given = false,
                     .limits = {},
                     .GX = grid.GX,
                     .GY = grid.GY};
  std::size_t capacity = 0;
  PointRecord* kept = keeping_room(capacity);
  std::size_t kept_points = 0;
  off_t kept_bytes = 0;
  std::string_view block;
  for (bool first = true; read_block(run, block); first = false) {
    // The first line fixes the columns of every other. The points are kept
    // whole, z included, while they fit.
    if (first) grid.ncol = rules.ncol = first_columns(block);
    rules.keep_points = kept_points < capacity;
    rules.read_z = args.weights || (rules.keep_points && grid.ncol == 3);
    convert_block(block, rules, block_points);
    std::size_t points = 0;
    for (int k = 0; k < block_points.parts; ++k) {
      take_limits(grid, block_points.part[k], args.name);
      points += static_cast<std::size_t>(block_points.part[k].points);
    }
    if (!rules.keep_points) continue;
    if (points > capacity - kept_points) {
      capacity = 0;
      continue;
    }
    for (int k = 0; k < block_points.parts; ++k) {
      const PartPoints& part = block_points.part[k];
      std::copy_n(part.kept, part.points, kept + kept_points);
      kept_points += static_cast<std::size_t>(part.points);
    }
    kept_bytes += static_cast<off_t>(block.size());
  }
  FileSeen seen = end_first_pass(run);
  seen.kept = kept;
  seen.kept_points = kept_points;
  seen.kept_bytes = kept_bytes;
  return seen;
}

namespace {

// The points the first pass kept, added to their nodes as if read again,
// and the file read on after them; unless the file has changed since, when
// it is read again from its start.
void bin_kept_points(const Run& run, const FileSeen& seen, const PassRules& rules,
                     std::int32_t& left_out) {
  // The reader was rewound and holds nothing: it reads on from where it is
  // sought to.
  if (seen.kept_points == 0 || !unchanged_since(run, seen) ||
      lseek(fileno(run.reader.file), seen.kept_bytes, SEEK_SET) != seen.kept_bytes) {
    return;
  }
  for (std::size_t first = 0; first < seen.kept_points; first += NODES_AT_ONCE) {
    const std::size_t count = std::min(NODES_AT_ONCE, seen.kept_points - first);
    const NodeRecord* nodes = nodes_of(seen.kept + first, count, rules);
    bin_records(run.grid, nodes, count, seen, run.args.name, left_out);
  }
}

}  // namespace

void second_pass_by_blocks(const Run& run, const FileSeen& seen) {
  const Arguments& args = run.args;
  GridAccumulator& grid = run.grid;
  const NodeLimits data = start_second_pass(grid);
  const PassRules rules = {.ncol = grid.ncol,
                           .read_z = grid.ncol == 3,
                           .weights = args.weights,
                           .find_nodes = true,
                           .limits_given = args.limits_given,
                           .limits = args.limits_given ? args.limits : data,
                           .GX = grid.GX,
                           .GY = grid.GY};
  std::int32_t left_out = 0;
  bin_kept_points(run, seen, rules, left_out);
  std::string_view block;
  while (read_block(run, block)) {
    convert_block(block, rules, block_points);
    for (int k = 0; k < block_points.parts; ++k) {
      bin_points(grid, block_points.part[k], seen, args.name, left_out);
    }
  }
  end_second_pass(run, seen, left_out);
}

}  // namespace gridmap
