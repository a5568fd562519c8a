// gridmap: the points of a data file binned on a regular grid of nodes.
//
// Usage: gridmap GRID [GRID_Y] filename. Reads the file of x y or x y z lines
// twice: once for the ranges of x and y, once to count the points nearest to
// each node and sum their z. Writes the counts (or the mean z) to
// "grid.matrix" and their natural logarithms to "grid_log.matrix", one row
// per x node. Every message goes to standard output. The exit status is 1 on
// every path, success included: callers rely on it.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "grid_accumulator.hpp"
#include "line_reader.hpp"
#include "number_format.hpp"

namespace {

using gridmap::GridAccumulator;
using gridmap::MAXGRID;

constexpr char FIRST_COUNT[] = "Now reading line %9d";
constexpr char NEXT_COUNT[] = "\b\b\b\b\b\b\b\b\b%9d";
constexpr char LAST_COUNT[] = "\b\b\b\b\b\b\b\b\b%9d\n";
constexpr char BAD_LINE[] = "\nFailed to read data from line : %.*s\n";
constexpr char CANNOT_OPEN[] = "Can not open file %s for reading.\n";
constexpr char CANNOT_CREATE[] = "Can not open output file for writing.\n";
constexpr char CANNOT_WRITE[] = "Can not write output file %s.\n";
constexpr char GRID_MATRIX[] = "grid.matrix";
constexpr char LOG_MATRIX[] = "grid_log.matrix";

// Stands for a GRID or GRID_Y beyond 32 bits: too many nodes, whatever its sign.
constexpr long long TOO_MANY_NODES = 1LL << 32;
constexpr int COUNT_EVERY = 100;  // lines between two prints of the progress counter
constexpr std::size_t IO_BUFFER = 1 << 20;

// One "%8.7e " value takes at most 16 characters ("-1.2345678e+308 ").
constexpr std::size_t ROW_CHARS = MAXGRID * 16 + 1;

// Static storage: about 12 MB, too much for the stack. Starts zeroed, and a
// process makes one run, so the node tables need no clearing.
GridAccumulator grid;
pcgrid::LineReader reader;
std::string_view line;  // the current line, as read
char output_buffer[IO_BUFFER];
char matrix_buffer[IO_BUFFER];  // the two matrix files are written one after the other
char row[ROW_CHARS];
bool output_is_terminal = false;

// Every way out: exit status 1, also after success.
[[noreturn]] void quit() {
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fputs("Can not write to standard output.\n", stderr);
  }
  std::exit(1);
}

[[noreturn]] void refuse(const char* message) {
  std::fputs(message, stdout);
  quit();
}

[[noreturn]] void refuse(const char* format, const char* text) {
  std::printf(format, text);
  quit();
}

[[noreturn]] void refuse_line(const char* format) {
  std::printf(format, static_cast<int>(line.size()), line.data());
  quit();
}

void set_up_output() {
  output_is_terminal = isatty(STDOUT_FILENO) != 0;
  if (!output_is_terminal) std::setvbuf(stdout, output_buffer, _IOFBF, sizeof output_buffer);
}

// The decimal integer that a GRID or GRID_Y argument begins with, as "%d"
// reads it; false when there is none. strtoll comes first because "%d" of a
// number beyond 32 bits is undefined (and wraps in practice).
bool read_nodes(const char* text, long long& nodes) {
  char* end = nullptr;
  errno = 0;
  const long long wide = std::strtoll(text, &end, 10);
  if (end == text) return false;
  if (errno == ERANGE || wide < INT_MIN || wide > INT_MAX) {
    nodes = TOO_MANY_NODES;
    return true;
  }
  int value = 0;
  if (std::sscanf(text, "%d", &value) != 1) return false;
  nodes = value;
  return true;
}

void read_arguments(int argc, char** argv) {
  long long GRID = 0;
  long long GRID_Y = -1;  // an absent GRID_Y is taken as a negative one
  if (argc < 3 || argc > 4 || !read_nodes(argv[1], GRID) ||
      (argc == 4 && !read_nodes(argv[2], GRID_Y))) {
    refuse("Usage : gridmap GRID [GRID_Y] filename\n");
  }
  if (GRID < 0) GRID = -GRID;
  if (GRID_Y < 0) GRID_Y = GRID;
  const long long GX = GRID - 1;
  const long long GY = GRID_Y - 1;
  if (GX <= 1 || GY <= 1) refuse("Selected number of grid points doesn't make sense.\n");
  if (GX >= MAXGRID || GY >= MAXGRID) refuse("Sorry. Increase MAXGRID and re-compile.\n");
  grid.GX = static_cast<int>(GX);
  grid.GY = static_cast<int>(GY);
}

// The data file is read twice, so a pipe or a FIFO (which cannot be rewound)
// and a directory are refused before any output file is touched. O_NONBLOCK
// keeps the open of a FIFO from waiting for a writer.
void open_data_file(const char* name) {
  const int fd = open(name, O_RDONLY | O_NONBLOCK);
  if (fd < 0) refuse(CANNOT_OPEN, name);
  struct stat status {};
  if (fstat(fd, &status) != 0) refuse(CANNOT_OPEN, name);
  if (S_ISDIR(status.st_mode) || lseek(fd, 0, SEEK_CUR) < 0) {
    refuse("Can not read file %s twice: it must be a regular file.\n", name);
  }
  const int flags = fcntl(fd, F_GETFL);
  std::FILE* data = nullptr;
  if (flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0) data = fdopen(fd, "r");
  if (data == nullptr) refuse(CANNOT_OPEN, name);
  pcgrid::start_reading(reader, data, pcgrid::MAX_PIECE);
}

std::FILE* create_matrix(const char* name) {
  std::FILE* matrix = std::fopen(name, "w");
  if (matrix == nullptr) refuse(CANNOT_CREATE);
  std::setvbuf(matrix, matrix_buffer, _IOFBF, sizeof matrix_buffer);
  return matrix;
}

// The progress counter, overwritten in place on a terminal; flushed there so
// that it is seen changing.
void show_count(const char* format) {
  std::printf(format, grid.lines);
  if (output_is_terminal) std::fflush(stdout);
}

// The next piece of at most MAX_PIECE characters; false at the end of the file.
bool read_line(const char* name) {
  if (pcgrid::read_piece(reader, line)) return true;
  if (reader.failed) refuse("\nCan not read file %s.\n", name);
  return false;
}

void accept_line(const char* name) {
  if (!gridmap::count_line(grid.lines)) {
    refuse("\nToo many lines in file %s: at most 2147483647.\n", name);
  }
  if (grid.lines % COUNT_EVERY == 0) show_count(NEXT_COUNT);
}

void start_limits(int columns) {
  grid.ncol = columns;
  grid.xmin = grid.xmax = grid.x;
  grid.ymin = grid.ymax = grid.y;
  show_count(FIRST_COUNT);
}

void widen_limits() {
  if (grid.x > grid.xmax) grid.xmax = grid.x;
  if (grid.x < grid.xmin) grid.xmin = grid.x;
  if (grid.y > grid.ymax) grid.ymax = grid.y;
  if (grid.y < grid.ymin) grid.ymin = grid.y;
}

void first_pass(const char* name) {
  std::puts("First pass to determine limits ...");
  grid.lines = 0;
  while (read_line(name)) {
    // The limits need x and y only.
    const int columns = gridmap::read_point_xy(line, grid.x, grid.y);
    if (columns == 0) refuse_line(BAD_LINE);
    if (grid.lines == 0) start_limits(columns);
    widen_limits();
    if (columns != grid.ncol) refuse_line("\nNumber of columns not constant : %.*s\n");
    accept_line(name);
  }
  show_count(LAST_COUNT);
  if (!pcgrid::rewind_reader(reader)) refuse("\nCan not read file %s.\n", name);
  std::printf("Read %d lines.\n", grid.lines);
}

void report_limits() {
  if (grid.ncol == 3) std::puts("Three columns found. Using the third to calculate sums.");
  std::puts("Limits are :");
  std::printf("\ton x : %f to %f\n", grid.xmin, grid.xmax);
  std::printf("\ton y : %f to %f\n", grid.ymin, grid.ymax);
}

// Points wait in a short queue between finding their node and being added
// to it, so that the node's memory can be fetched meanwhile; they are added
// in file order, so every sum is formed in the same order as without it.
struct PendingPoint {
  int j, k;
  float z;
};
constexpr int QUEUE = 16;
PendingPoint queue[QUEUE];
int queued = 0;

void add_queued_points() {
  for (int p = 0; p < queued; ++p) {
    const PendingPoint& point = queue[p];
    ++grid.counts[point.j][point.k];
    if (grid.ncol == 3) grid.sums[point.j][point.k] += point.z;
  }
  queued = 0;
}

void add_point() {
  const int j = gridmap::node_index(grid.x, grid.GX, grid.xmin, grid.xmax);
  const int k = gridmap::node_index(grid.y, grid.GY, grid.ymin, grid.ymax);
  __builtin_prefetch(&grid.counts[j][k], 1);
  __builtin_prefetch(&grid.sums[j][k], 1);
  queue[queued++] = {j, k, grid.z};
  if (queued == QUEUE) add_queued_points();
}

void second_pass(const char* name) {
  std::printf("\nSecond pass to interpolate on a %d by %d grid ...\n", grid.GX + 1, grid.GY + 1);
  grid.lines = 0;
  show_count(FIRST_COUNT);
  while (read_line(name)) {
    const int columns = grid.ncol == 3 ? gridmap::read_point(line, grid.x, grid.y, grid.z)
                                       : gridmap::read_point_xy(line, grid.x, grid.y);
    if (columns == 0 || columns != grid.ncol) refuse_line(BAD_LINE);
    add_point();
    accept_line(name);
  }
  add_queued_points();
  show_count(LAST_COUNT);
  std::fclose(reader.file);
}

// Appends "%8.7e " of `value` to the row being built.
char* put_value(char* out, double value) {
  out = pcgrid::format_scientific7(out, value, 8);
  *out++ = ' ';
  return out;
}

void write_row(std::FILE* matrix, const char* name, char* end) {
  *end = '\n';
  const std::size_t size = static_cast<std::size_t>(end + 1 - row);
  if (std::fwrite(row, 1, size, matrix) != size) refuse(CANNOT_WRITE, name);
}

void close_matrix(std::FILE* matrix, const char* name) {
  if (std::fclose(matrix) != 0) refuse(CANNOT_WRITE, name);
}

void write_grid_matrix(std::FILE* matrix) {
  std::puts("Writing output in grid.matrix.");
  for (int j = 0; j <= grid.GX; ++j) {
    char* out = row;
    for (int k = 0; k <= grid.GY; ++k) {
      out = put_value(out, gridmap::node_value(grid.ncol, grid.counts[j][k], grid.sums[j][k]));
    }
    write_row(matrix, GRID_MATRIX, out);
  }
  close_matrix(matrix, GRID_MATRIX);
}

[[noreturn]] void give_up_logs(std::FILE* logs) {
  std::puts("\nNegative values present. Giving-up on writing logs.");
  std::fclose(logs);
  std::remove(LOG_MATRIX);
  quit();
}

void write_log_matrix() {
  std::FILE* logs = create_matrix(LOG_MATRIX);
  std::puts("Writing logarithms in grid_log.matrix.");
  for (int j = 0; j <= grid.GX; ++j) {
    char* out = row;
    for (int k = 0; k <= grid.GY; ++k) {
      double value = 0;
      if (!gridmap::node_log_value(grid.ncol, grid.counts[j][k], grid.sums[j][k], value)) {
        give_up_logs(logs);
      }
      out = put_value(out, value);
    }
    write_row(logs, LOG_MATRIX, out);
  }
  close_matrix(logs, LOG_MATRIX);
}

}  // namespace

int main(int argc, char** argv) {
  set_up_output();
  read_arguments(argc, argv);
  const char* name = argv[argc - 1];
  open_data_file(name);
  std::FILE* matrix = create_matrix(GRID_MATRIX);
  first_pass(name);
  report_limits();
  second_pass(name);
  write_grid_matrix(matrix);
  write_log_matrix();
  std::puts("All done.");
  quit();
}
