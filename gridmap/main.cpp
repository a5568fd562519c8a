// gridmap: the points of a data file binned on a regular grid of nodes.
//
// Usage: gridmap [--limits XMIN XMAX YMIN YMAX] [--weights] GRID [GRID_Y]
// filename. Reads the file of x y or x y z lines twice: once for the ranges
// of x and y, once to count the points nearest to each node and sum their z.
// Writes the counts (or the mean z, or with --weights the sum of the weights
// z) to "grid.matrix" and their natural logarithms to "grid_log.matrix", one
// row per x node. The grid spans the ranges of the data, or with --limits the
// limits given, outside which points are left out. Every message goes to
// standard output. The exit status is 1 on every path, success included:
// callers rely on it.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <string_view>

#include "arguments.hpp"
#include "grid_accumulator.hpp"
#include "gridmap_messages.hpp"
#include "line_reader.hpp"
#include "matrix_files.hpp"
#include "pcgrid_config.hpp"
#include "point_blocks.hpp"
#include "standard_descriptors.hpp"
#include "thread_stacks.hpp"

namespace {

using gridmap::Arguments;
using gridmap::GRID_MATRIX;
using gridmap::GridAccumulator;
using gridmap::LOG_MATRIX;
using gridmap::MatrixFile;
using gridmap::NodeLimits;
using gridmap::refuse;
using gridmap::say;

constexpr char COUNTER_START[] = "Now reading line ";
constexpr char BACKSPACES[] = "\b\b\b\b\b\b\b\b\b";  // over the nine places of the counter
constexpr char BAD_LINE[] = "Failed to read data from line";
constexpr char NOT_CONSTANT[] = "Number of columns not constant";
constexpr char CANNOT_OPEN[] = "Can not open file %s for reading.\n";
constexpr char NOT_REGULAR[] = "Can not read file %s twice: it must be a regular file.\n";
constexpr char IS_OUTPUT[] = "Can not read file %s: it is an output file of gridmap.\n";
constexpr char CANNOT_READ[] = "\nCan not read file %s.\n";
constexpr char CHANGED[] = "\nFile %s changed between the two passes.\n";
constexpr int COUNT_EVERY = 100;  // lines between two prints of the progress counter

// A line converted ahead of its turn: the values "%f %f %f" read, how many
// were read (0: not a point), and in the second pass the point's node (j
// -1: outside the limits given).
struct ConvertedLine {
  float x, y, z;
  int columns;
  int j, k;
};

// The reference build reads its lines one at a time, as fgets gives them;
// the build's own reads blocks of lines and converts them on all threads
// (point_blocks.hpp). Both then take the lines in file order, as if each
// had just been read.
constexpr std::size_t LINES_PER_BATCH = 1;

// Static storage: about 20 MB with the node records of point_blocks.cpp, too
// much for the stack. Starts zeroed, and a process makes one run, so the
// node tables need no clearing.
GridAccumulator grid;
pcgrid::LineReader reader;
std::string_view batch[LINES_PER_BATCH];
ConvertedLine converted[LINES_PER_BATCH];
gridmap::BlockPoints block_points;

// What the first pass saw, which the second must see again: its lines and
// the size of the file at its end.
struct FileSeen {
  std::int32_t lines;
  off_t size;
};

// What is wrong with a line, and the line quoted as read, its own newline
// included.
[[noreturn]] void refuse_line(const char* what, std::string_view line) {
  refuse("\n%s : %.*s\n", what, static_cast<int>(line.size()), line.data());
}

// The progress counter in nine places, after `before` (its title, or
// backspaces over the previous count); overwritten in place on a terminal,
// and flushed there so that it is seen changing.
void show_count(const char* before, const char* after = "", std::int32_t count = grid.lines) {
  say("%s%9d%s", before, count, after);
  if (gridmap::output_is_terminal()) std::fflush(stdout);
}

// Whether the data file is "grid.matrix" or "grid_log.matrix" under any
// name (a link, or the name itself), which creating them would destroy.
bool is_output_file(const struct stat& data) {
  for (const char* output : {GRID_MATRIX, LOG_MATRIX}) {
    struct stat status {};
    if (stat(output, &status) == 0 && status.st_dev == data.st_dev &&
        status.st_ino == data.st_ino) {
      return true;
    }
  }
  return false;
}

// The data file is read twice, so it must be a regular file: pipes, FIFOs,
// directories and devices are refused, and so are the output files, before
// any output file is touched. O_NONBLOCK keeps the open of a FIFO from
// waiting for a writer.
void open_data_file(const char* name) {
  const int fd = open(name, O_RDONLY | O_NONBLOCK);
  if (fd < 0) refuse(CANNOT_OPEN, name);
  struct stat status {};
  if (fstat(fd, &status) != 0) refuse(CANNOT_OPEN, name);
  if (!S_ISREG(status.st_mode)) refuse(NOT_REGULAR, name);
  if (is_output_file(status)) refuse(IS_OUTPUT, name);
  const int flags = fcntl(fd, F_GETFL);
  std::FILE* data = nullptr;
  if (flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0) data = fdopen(fd, "r");
  if (data == nullptr) refuse(CANNOT_OPEN, name);
  pcgrid::start_reading(reader, data, pcgrid::MAX_PIECE);
}

// The size of the data file now; -1 if it cannot be told.
off_t data_size() {
  struct stat status {};
  return fstat(fileno(reader.file), &status) == 0 ? status.st_size : -1;
}

// The next pieces of at most MAX_PIECE characters each, as many as a block
// holds; 0 at the end of the file.
std::size_t read_lines(const char* name) {
  const std::size_t count = pcgrid::read_pieces(reader, batch);
  if (reader.failed) refuse(CANNOT_READ, name);
  return count;
}

// How the lines of a pass are converted.
struct Conversion {
  bool read_z;        // z is converted, not only recognised
  bool find_nodes;    // the second pass: the node of each point
  bool limits_given;  // a node outside the limits is not clamped to the grid, but j = -1
  NodeLimits limits;  // the limits the nodes span
};

// Converts line i of the batch: x and y, and z where it is used; in the
// second pass also the node of the point.
void convert_line(std::int64_t i, const Conversion& how) {
  ConvertedLine& c = converted[i];
  c.columns = how.read_z ? gridmap::read_point(batch[i], c.x, c.y, c.z)
                         : gridmap::read_point_xy(batch[i], c.x, c.y);
  if (!how.find_nodes || c.columns == 0) return;
  const NodeLimits& l = how.limits;
  if (how.limits_given) {
    c.k = gridmap::node_within(c.y, grid.GY, l.ymin, l.ymax);
    c.j = c.k < 0 ? -1 : gridmap::node_within(c.x, grid.GX, l.xmin, l.xmax);
  } else {
    c.j = gridmap::node_index(c.x, grid.GX, l.xmin, l.xmax);
    c.k = gridmap::node_index(c.y, grid.GY, l.ymin, l.ymax);
  }
}

void convert_lines(std::size_t count, const Conversion& how) {
  for (std::size_t i = 0; i < count; ++i) convert_line(static_cast<std::int64_t>(i), how);
}

void accept_line(const char* name) {
  if (!gridmap::count_line(grid.lines)) {
    refuse("\nToo many lines in file %s: at most 2147483647.\n", name);
  }
  if (grid.lines % COUNT_EVERY == 0) show_count(BACKSPACES);
}

// The first line fixes the column count and starts the limits.
void start_limits(const ConvertedLine& first) {
  grid.ncol = first.columns;
  grid.xmin = grid.xmax = first.x;
  grid.ymin = grid.ymax = first.y;
  show_count(COUNTER_START);
}

void widen_limits(const ConvertedLine& c) {
  if (c.x > grid.xmax) grid.xmax = c.x;
  if (c.x < grid.xmin) grid.xmin = c.x;
  if (c.y > grid.ymax) grid.ymax = c.y;
  if (c.y < grid.ymin) grid.ymin = c.y;
}

// The counter's last count; the file rewound for the second pass.
FileSeen end_first_pass(const char* name) {
  show_count(BACKSPACES, "\n");
  const FileSeen seen = {grid.lines, data_size()};
  if (!pcgrid::rewind_reader(reader)) refuse(CANNOT_READ, name);
  say("Read %d lines.\n", grid.lines);
  return seen;
}

// Every line is checked here, weights included, before any point is binned.
FileSeen first_pass_by_lines(const Arguments& args) {
  const char* name = args.name;
  say("First pass to determine limits ...\n");
  grid.lines = 0;
  // The limits need x and y only; weights are checked.
  const Conversion how = {
      .read_z = args.weights, .find_nodes = false, .limits_given = false, .limits = {}};
  for (std::size_t count = read_lines(name); count > 0; count = read_lines(name)) {
    convert_lines(count, how);
    for (std::size_t i = 0; i < count; ++i) {
      const ConvertedLine& c = converted[i];
      if (c.columns == 0) refuse_line(BAD_LINE, batch[i]);
      if (grid.lines == 0) start_limits(c);
      widen_limits(c);
      if (c.columns != grid.ncol) refuse_line(NOT_CONSTANT, batch[i]);
      if (args.weights && c.columns == 3 && !gridmap::is_weight(c.z)) {
        refuse_line(BAD_LINE, batch[i]);
      }
      accept_line(name);
    }
  }
  return end_first_pass(name);
}

// The data's own limits, and the limits given, which the nodes span instead.
void report_limits(const Arguments& args) {
  if (args.weights && grid.ncol == 2) refuse("--weights needs a third column (the weight).\n");
  if (grid.ncol == 3) {
    say(args.weights ? "Three columns found. Using the third as weights.\n"
                     : "Three columns found. Using the third to calculate sums.\n");
  }
  say("Limits are :\n");
  say("\ton x : %f to %f\n", grid.xmin, grid.xmax);
  say("\ton y : %f to %f\n", grid.ymin, grid.ymax);
  if (args.limits_given) {
    const NodeLimits& l = args.limits;
    say("Using the limits given: x %f to %f, y %f to %f\n", l.xmin, l.xmax, l.ymin, l.ymax);
  }
}

// Adds the point of line i to its node; false for a point outside the
// limits given, which is left out. The nodes of the lines ahead are known,
// so their memory is fetched meanwhile; points are added in file order, so
// every sum is formed in the same order as one by one.
constexpr std::size_t FETCH_AHEAD = 16;

bool add_point(std::size_t i, std::size_t count) {
  if (i + FETCH_AHEAD < count) {
    const ConvertedLine& ahead = converted[i + FETCH_AHEAD];
    if (ahead.columns != 0 && ahead.j >= 0) {
      __builtin_prefetch(&grid.counts[ahead.j][ahead.k], 1);
      if (grid.ncol == 3) __builtin_prefetch(&grid.sums[ahead.j][ahead.k], 1);
    }
  }
  const ConvertedLine& c = converted[i];
  if (c.j < 0) return false;
  ++grid.counts[c.j][c.k];
  if (grid.ncol == 3) grid.sums[c.j][c.k] += c.z;
  return true;
}

// The second pass must read the lines the first pass counted, no more and
// no fewer: a file that is written to meanwhile would give matrices that
// match neither its old nor its new contents.
void end_second_pass(const Arguments& args, const FileSeen& seen, std::int32_t left_out) {
  if (grid.lines != seen.lines || data_size() != seen.size) refuse(CHANGED, args.name);
  show_count(BACKSPACES, "\n");
  std::fclose(reader.file);
  if (args.limits_given) say("%d points outside the limits were left out.\n", left_out);
}

void second_pass_by_lines(const Arguments& args, const FileSeen& seen) {
  const char* name = args.name;
  say("\nSecond pass to interpolate on a %d by %d grid ...\n", grid.GX + 1, grid.GY + 1);
  grid.lines = 0;
  show_count(COUNTER_START);
  const NodeLimits data = {grid.xmin, grid.xmax, grid.ymin, grid.ymax};
  const Conversion how = {.read_z = grid.ncol == 3,
                          .find_nodes = true,
                          .limits_given = args.limits_given,
                          .limits = args.limits_given ? args.limits : data};
  std::int32_t left_out = 0;
  for (std::size_t count = read_lines(name); count > 0; count = read_lines(name)) {
    convert_lines(count, how);
    for (std::size_t i = 0; i < count; ++i) {
      if (grid.lines == seen.lines) refuse(CHANGED, name);
      const ConvertedLine& c = converted[i];
      if (c.columns == 0 || c.columns != grid.ncol || (args.weights && !gridmap::is_weight(c.z))) {
        refuse_line(BAD_LINE, batch[i]);
      }
      if (!add_point(i, count)) ++left_out;
      accept_line(name);
    }
  }
  end_second_pass(args, seen, left_out);
}

// The build's own passes: blocks of lines converted on all threads, then
// taken in file order.

// The next block of whole pieces; false at the end of the file.
bool read_block(const char* name, std::string_view& block) {
  const bool more = pcgrid::read_block(reader, block);
  if (reader.failed) refuse(CANNOT_READ, name);
  return more;
}

// `count` more lines accepted, with the counter shown at each multiple of
// COUNT_EVERY among them, as accept_line shows it line by line.
void accept_lines(std::int64_t count, const char* name) {
  const std::int64_t room = gridmap::MAX_LINES - grid.lines;
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
void take_limits(const gridmap::PartPoints& part, const char* name) {
  using gridmap::Stop;
  if (part.points > 0) {
    if (grid.lines == 0) {
      grid.xmin = part.xmin;
      grid.xmax = part.xmax;
      grid.ymin = part.ymin;
      grid.ymax = part.ymax;
      show_count(COUNTER_START);
    }
    if (part.xmax > grid.xmax) grid.xmax = part.xmax;
    if (part.xmin < grid.xmin) grid.xmin = part.xmin;
    if (part.ymax > grid.ymax) grid.ymax = part.ymax;
    if (part.ymin < grid.ymin) grid.ymin = part.ymin;
    accept_lines(part.points, name);
  }
  switch (part.stop) {
    case Stop::none:
      return;
    case Stop::no_point:
      refuse_line(BAD_LINE, part.piece);
    case Stop::other_columns:
      refuse_line(NOT_CONSTANT, part.piece);
    case Stop::bad_weight:
      if (grid.lines == 0) show_count(COUNTER_START);
      refuse_line(BAD_LINE, part.piece);
  }
}

FileSeen first_pass_by_blocks(const Arguments& args) {
  const char* name = args.name;
  say("First pass to determine limits ...\n");
  grid.lines = 0;
  gridmap::PassRules rules = {.ncol = 0,
                              .read_z = args.weights,
                              .weights = args.weights,
                              .find_nodes = false,
                              .limits_given = false,
                              .limits = {},
                              .GX = grid.GX,
                              .GY = grid.GY};
  std::string_view block;
  for (bool first = true; read_block(name, block); first = false) {
    // The first line fixes the columns of every other.
    if (first) grid.ncol = rules.ncol = gridmap::first_columns(block);
    gridmap::convert_block(block, rules, block_points);
    for (int k = 0; k < block_points.parts; ++k) take_limits(block_points.part[k], name);
  }
  return end_first_pass(name);
}

// The points of a part in the second pass, added in file order; then the
// piece it stopped at refused.
void bin_points(const gridmap::PartPoints& part, const FileSeen& seen, const char* name,
                std::int32_t& left_out) {
  const auto count = static_cast<std::size_t>(part.points);
  const gridmap::NodeRecord* nodes = part.nodes;
  for (std::size_t i = 0; i < count; ++i) {
    if (grid.lines == seen.lines) refuse(CHANGED, name);
    if (i + FETCH_AHEAD < count && nodes[i + FETCH_AHEAD].j >= 0) {
      const gridmap::NodeRecord& ahead = nodes[i + FETCH_AHEAD];
      __builtin_prefetch(&grid.counts[ahead.j][ahead.k], 1);
      if (grid.ncol == 3) __builtin_prefetch(&grid.sums[ahead.j][ahead.k], 1);
    }
    const gridmap::NodeRecord& r = nodes[i];
    if (r.j < 0) {
      ++left_out;
    } else {
      ++grid.counts[r.j][r.k];
      if (grid.ncol == 3) grid.sums[r.j][r.k] += r.z;
    }
    accept_line(name);
  }
  if (part.stop == gridmap::Stop::none) return;
  if (grid.lines == seen.lines) refuse(CHANGED, name);
  refuse_line(BAD_LINE, part.piece);
}

void second_pass_by_blocks(const Arguments& args, const FileSeen& seen) {
  const char* name = args.name;
  say("\nSecond pass to interpolate on a %d by %d grid ...\n", grid.GX + 1, grid.GY + 1);
  grid.lines = 0;
  show_count(COUNTER_START);
  const NodeLimits data = {grid.xmin, grid.xmax, grid.ymin, grid.ymax};
  const gridmap::PassRules rules = {.ncol = grid.ncol,
                                    .read_z = grid.ncol == 3,
                                    .weights = args.weights,
                                    .find_nodes = true,
                                    .limits_given = args.limits_given,
                                    .limits = args.limits_given ? args.limits : data,
                                    .GX = grid.GX,
                                    .GY = grid.GY};
  std::int32_t left_out = 0;
  std::string_view block;
  while (read_block(name, block)) {
    gridmap::convert_block(block, rules, block_points);
    for (int k = 0; k < block_points.parts; ++k) {
      bin_points(block_points.part[k], seen, name, left_out);
    }
  }
  end_second_pass(args, seen, left_out);
}

FileSeen first_pass(const Arguments& args) {
  if constexpr (pcgrid::LIBC_IO) return first_pass_by_lines(args);
  return first_pass_by_blocks(args);
}

void second_pass(const Arguments& args, const FileSeen& seen) {
  if constexpr (pcgrid::LIBC_IO) return second_pass_by_lines(args, seen);
  second_pass_by_blocks(args, seen);
}

}  // namespace

int main(int argc, char** argv) {
  pcgrid::open_closed_standard_descriptors();
  pcgrid::limit_thread_stacks();
  gridmap::set_up_output();
  const Arguments args = gridmap::read_arguments(argc, argv);
  grid.GX = args.GX;
  grid.GY = args.GY;
  open_data_file(args.name);
  const MatrixFile matrix = gridmap::create_matrix(GRID_MATRIX, false);
  const FileSeen seen = first_pass(args);
  report_limits(args);
  second_pass(args, seen);
  gridmap::write_grid_matrix(matrix, grid, args.weights);
  gridmap::write_log_matrix(grid, args.weights);
  say("All done.\n");
  gridmap::quit();
}
