// gridmap: the points of a data file binned on a regular grid of nodes.
//
// Usage: gridmap [--limits XMIN XMAX YMIN YMAX] [--weights] GRID [GRID_Y]
// filename. Reads the file of x y or x y z lines twice: once for the ranges
// of x and y, once to count the points nearest to each node and sum their z.
// Writes the counts (or the mean z, or with --weights the sum of the weights
// z) to "grid.matrix" and their natural logarithms to "grid_log.matrix", one
// row per x node; with --weights also every digit of the sums to
// "grid_weights.matrix". The grid spans the ranges of the data, or with
// --limits the limits given, outside which points are left out. Every
// message goes to standard output. The exit status is 1 on every path,
// success included: callers rely on it.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "arguments.hpp"
#include "grid_accumulator.hpp"
#include "gridmap_messages.hpp"
#include "matrix_files.hpp"
#include "passes.hpp"
#include "pcgrid_config.hpp"
#include "point_blocks.hpp"
#include "standard_descriptors.hpp"
#include "sum_runs.hpp"
#include "table_memory.hpp"
#include "thread_stacks.hpp"

namespace {

using gridmap::Arguments;
using gridmap::FileSeen;
using gridmap::GRID_MATRIX;
using gridmap::GridAccumulator;
using gridmap::LOG_MATRIX;
using gridmap::MatrixFile;
using gridmap::NodeLimits;
using gridmap::refuse;
using gridmap::Run;
using gridmap::say;
using gridmap::WEIGHTS_MATRIX;

constexpr char CANNOT_OPEN[] = "Can not open file %s for reading.\n";
constexpr char NOT_REGULAR[] = "Can not read file %s twice: it must be a regular file.\n";
constexpr char IS_OUTPUT[] = "Can not read file %s: it is an output file of gridmap.\n";

// Whether the data file is "grid.matrix" or "grid_log.matrix" (or with
// --weights "grid_weights.matrix") under any name (a link, or the name
// itself), which writing them would destroy.
bool is_output_file(const struct stat& data, bool weights) {
  for (const char* output : {GRID_MATRIX, LOG_MATRIX, weights ? WEIGHTS_MATRIX : nullptr}) {
    struct stat status {};
    if (output != nullptr && stat(output, &status) == 0 && status.st_dev == data.st_dev &&
        status.st_ino == data.st_ino) {
      return true;
    }
  }
  return false;
}

// The data file is read twice, so it must be a regular file: pipes, FIFOs,
// directories and devices are refused, and so are the output files, before
// any output file is touched. With limits given, one pass is enough: then
// any other file, and standard input as "-", is read once. O_NONBLOCK keeps
// the open of a FIFO from waiting for a writer. Whether the file is read
// once.
bool open_data_file(const Arguments& args, pcgrid::LineReader& reader) {
  const char* name = args.name;
  const bool standard_input = args.limits_given && std::strcmp(name, "-") == 0;
  const int fd = standard_input ? STDIN_FILENO : open(name, O_RDONLY | O_NONBLOCK);
  if (fd < 0) refuse(CANNOT_OPEN, name);
  struct stat status {};
  if (fstat(fd, &status) != 0) refuse(CANNOT_OPEN, name);
  const bool regular = S_ISREG(status.st_mode);
  if (!regular && !args.limits_given) refuse(NOT_REGULAR, name);
  if (regular && is_output_file(status, args.weights)) refuse(IS_OUTPUT, name);
  const int flags = fcntl(fd, F_GETFL);
  std::FILE* data = nullptr;
  if (flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0) data = fdopen(fd, "r");
  if (data == nullptr) refuse(CANNOT_OPEN, name);
  pcgrid::start_reading(reader, data, pcgrid::MAX_PIECE);
  return standard_input || !regular;
}

// The memory of the whole run, taken before any file is touched, so that a
// want of it ends the run with one message and nothing written: the node
// tables, the reader's buffers, and in the build's own reading the node
// records of a block and the threads that share it.
pcgrid::LineReader& reserve_memory(GridAccumulator& grid) {
  void* reader = pcgrid::grow_zeroed(nullptr, 0, sizeof(pcgrid::LineReader));
  if (reader == nullptr || !gridmap::reserve_nodes(grid) ||
      (!pcgrid::LIBC_IO && !gridmap::reserve_block_work())) {
    refuse("gridmap: out of memory\n");
  }
  return *static_cast<pcgrid::LineReader*>(reader);
}

// The data's own limits, and the limits given, which the nodes span instead.
void report_limits(const Arguments& args, const GridAccumulator& grid) {
  // Two columns, or none at all (an empty file): there is nothing to weigh.
  if (args.weights && grid.ncol != 3) refuse("--weights needs a third column (the weight).\n");
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

FileSeen first_pass(const Run& run) {
  if constexpr (pcgrid::LIBC_IO) return gridmap::first_pass_by_lines(run);
  return gridmap::first_pass_by_blocks(run);
}

void second_pass(const Run& run, const FileSeen& seen) {
  if constexpr (pcgrid::LIBC_IO) return gridmap::second_pass_by_lines(run, seen);
  gridmap::second_pass_by_blocks(run, seen);
}

std::int32_t one_pass(const Run& run) {
  if constexpr (pcgrid::LIBC_IO) return gridmap::one_pass_by_lines(run);
  return gridmap::one_pass_by_blocks(run);
}

}  // namespace

int main(int argc, char** argv) {
  pcgrid::open_closed_standard_descriptors();
  pcgrid::limit_thread_stacks();
  gridmap::set_up_output();
  const Arguments args = gridmap::read_arguments(argc, argv);
  if (args.log_count > 0) gridmap::sum_runs(args.logs, args.log_count);
  GridAccumulator grid{};
  grid.GX = args.GX;
  grid.GY = args.GY;
  pcgrid::LineReader& reader = reserve_memory(grid);
  const bool once = open_data_file(args, reader);
  pcgrid::WholeFile weights_matrix;
  if (args.weights) gridmap::begin_weights_matrix(weights_matrix);
  const MatrixFile matrix = gridmap::create_matrix(GRID_MATRIX, false);
  const Run run{args, grid, reader};
  if (once) {
    const std::int32_t left_out = one_pass(run);
    report_limits(args, grid);
    say("%d points outside the limits were left out.\n", left_out);
  } else {
    const FileSeen seen = first_pass(run);
    report_limits(args, grid);
    second_pass(run, seen);
  }
  gridmap::write_grid_matrix(matrix, grid, args.weights);
  gridmap::write_log_matrix(grid, args.weights);
  if (args.weights) gridmap::write_weights_matrix(weights_matrix, grid);
  say("All done.\n");
  gridmap::quit();
}
