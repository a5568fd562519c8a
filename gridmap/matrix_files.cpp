#include "matrix_files.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>

#include "descriptor_io.hpp"
#include "gridmap_messages.hpp"
#include "number_format.hpp"

namespace gridmap {

namespace {

constexpr char CANNOT_CREATE[] = "Can not open output file for writing.\n";
constexpr char CANNOT_WRITE[] = "Can not write output file %s.\n";

// Rows are built here and written out with ::write when it is full and at
// the end; the two files are written one after the other.
constexpr std::size_t BUFFER = 1 << 20;
char buffer[BUFFER];
std::size_t filled = 0;

// One "%8.7e " value takes at most 16 characters ("-1.2345678e+308 "); a
// row ends with a newline.
constexpr std::size_t ROW_CHARS = MAXGRID * 16 + 1;

// A matrix file that cannot be written is not left half-written:
// "grid.matrix" is emptied, as every failed run leaves it, and
// "grid_log.matrix" is removed. `open` tells whether matrix.fd is still open.
[[noreturn]] void cannot_write(const MatrixFile& matrix, bool open) {
  if (open) {
    if (!matrix.remove_on_failure && ftruncate(matrix.fd, 0) != 0) {
      // A device (/dev/full) has nothing to empty.
    }
    close(matrix.fd);
  }
  if (matrix.remove_on_failure) {
    unlink(matrix.name);
  } else if (!open && truncate(matrix.name, 0) != 0) {
    // As above.
  }
  refuse(CANNOT_WRITE, matrix.name);
}

// Writes out the buffered rows, however many calls it takes.
void flush_matrix(const MatrixFile& matrix) {
  if (pcgrid::write_fully(matrix.fd, buffer, filled) != 0) cannot_write(matrix, true);
  filled = 0;
}

// Room for one more row at the end of the buffer.
char* start_row(const MatrixFile& matrix) {
  if (BUFFER - filled < ROW_CHARS) flush_matrix(matrix);
  return buffer + filled;
}

void end_row(char* end) {
  *end++ = '\n';
  filled = static_cast<std::size_t>(end - buffer);
}

// Appends "%8.7e " of `value` to the row being built.
char* put_value(char* out, double value) {
  out = pcgrid::format_scientific7(out, value, 8);
  *out++ = ' ';
  return out;
}

void close_matrix(const MatrixFile& matrix) {
  flush_matrix(matrix);
  if (close(matrix.fd) != 0) cannot_write(matrix, false);
}

[[noreturn]] void give_up_logs(const MatrixFile& logs) {
  say("\nNegative values present. Giving-up on writing logs.\n");
  close(logs.fd);
  unlink(LOG_MATRIX);
  quit();
}

}  // namespace

MatrixFile create_matrix(const char* name, bool remove_on_failure) {
  const int fd = open(name, O_WRONLY | O_CREAT | O_TRUNC, 0666);
  if (fd < 0) refuse(CANNOT_CREATE);
  return {name, fd, remove_on_failure};
}

void write_grid_matrix(const MatrixFile& matrix, const GridAccumulator& grid, bool weighted) {
  say("Writing output in grid.matrix.\n");
  for (int j = 0; j <= grid.GX; ++j) {
    char* out = start_row(matrix);
    for (int k = 0; k <= grid.GY; ++k) {
      out = put_value(out, weighted ? grid.sums[j][k]
                                    : node_value(grid.ncol, grid.counts[j][k], grid.sums[j][k]));
    }
    end_row(out);
  }
  close_matrix(matrix);
}

void write_log_matrix(const GridAccumulator& grid, bool weighted) {
  const MatrixFile logs = create_matrix(LOG_MATRIX, true);
  say("Writing logarithms in grid_log.matrix.\n");
  for (int j = 0; j <= grid.GX; ++j) {
    char* out = start_row(logs);
    for (int k = 0; k <= grid.GY; ++k) {
      double value = 0;
      if (weighted) {
        value = weight_log_value(grid.sums[j][k]);
      } else if (!node_log_value(grid.ncol, grid.counts[j][k], grid.sums[j][k], value)) {
        give_up_logs(logs);
      }
      out = put_value(out, value);
    }
    end_row(out);
  }
  close_matrix(logs);
}

}  // namespace gridmap
