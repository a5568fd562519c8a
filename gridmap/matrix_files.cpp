#include "matrix_files.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstring>

#include "descriptor_io.hpp"
#include "gridmap_messages.hpp"
#include "number_format.hpp"
#include "output.hpp"
#include "pcgrid_config.hpp"

namespace gridmap {

namespace {

constexpr char CANNOT_CREATE[] = "Can not open output file for writing.\n";
constexpr char CANNOT_WRITE[] = "Can not write output file %s.\n";

// Rows are built here and written out with ::write when it is full and at
// the end; the two files are written one after the other.
constexpr std::size_t BUFFER = 1 << 20;
char buffer[BUFFER];
pcgrid::OutputBuffer gathered{.fd = -1, .data = buffer, .capacity = BUFFER, .filled = 0};
std::size_t& filled = gathered.filled;

// One "%8.7e " value takes at most 16 characters ("-1.2345678e+308 "), a
// double in its shortest form at most 25 ("-2.2250738585072014e-308 "); a
// row ends with a newline.
constexpr std::size_t ROW_CHARS = MAXGRID * 25 + 1;

// A matrix file that cannot be written is not left half-written:
// "grid.matrix" is emptied, as every failed run leaves it,
// "grid_log.matrix" is removed, and "grid_weights.matrix" is left as it
// was. `open` tells whether matrix.fd is still open.
[[noreturn]] void cannot_write(const MatrixFile& matrix, bool open) {
  if (matrix.whole != nullptr) {
    pcgrid::abandon_whole_file(*matrix.whole);
    refuse(CANNOT_WRITE, matrix.name);
  }
  if (open) {
    // A device (/dev/full) has nothing to empty: its refusal is no failure.
    [[maybe_unused]] const bool emptied = matrix.remove_on_failure || ftruncate(matrix.fd, 0) == 0;
    close(matrix.fd);
  }
  if (matrix.remove_on_failure) {
    unlink(matrix.name);
  } else if (!open) {
    [[maybe_unused]] const bool emptied = truncate(matrix.name, 0) == 0;  // as above
  }
  refuse(CANNOT_WRITE, matrix.name);
}

// Writes out the buffered rows, however many calls it takes.
void flush_matrix(const MatrixFile& matrix) {
  gathered.fd = matrix.fd;
  pcgrid::write_gathered(gathered, [&](int) { cannot_write(matrix, true); });
}

// Room for a row of `length` characters at the end of the buffer.
char* start_row(const MatrixFile& matrix, std::size_t length) {
  gathered.fd = matrix.fd;
  return pcgrid::room(gathered, length, [&](int) { cannot_write(matrix, true); });
}

// Appends "%8.7e " of `value` to the row being built.
char* put_value(char* out, double value) {
  out = pcgrid::format_scientific7(out, value, 8);
  *out++ = ' ';
  return out;
}

// Appends the shortest text that reads back as `value`, and a space.
char* put_exact_value(char* out, double value) {
  out = std::to_chars(out, out + 24, value).ptr;
  *out++ = ' ';
  return out;
}

// What a matrix file holds of each node.
enum class Values {
  printed,  // "grid.matrix": its count, mean z or sum of weights
  logs,     // "grid_log.matrix": the logarithm of that
  exact,    // "grid_weights.matrix": the sum of weights, every digit
};

// The rows are formatted ROWS_AT_ONCE at a time on all threads, each in a
// slot of its own, then copied in order into the buffer: the file is
// written in the same calls whatever the number of threads. The reference
// build formats them one by one.
constexpr int NODES_WORTH_THREADS = 4096;  // a matrix of fewer nodes is formatted on one thread
constexpr int ROWS_AT_ONCE = 64;
char rows[ROWS_AT_ONCE][ROW_CHARS];
std::size_t row_lengths[ROWS_AT_ONCE];
bool rows_whole[ROWS_AT_ONCE];  // false: a node of the row has no logarithm

// Row j of the matrix of `values`, its newline included; false, at the
// first node without a logarithm.
bool format_row(const GridAccumulator& grid, int j, bool weighted, Values values, char* row,
                std::size_t& length) {
  char* out = row;
  for (int k = 0; k <= grid.GY; ++k) {
    double value = 0;
    if (values == Values::exact) {
      out = put_exact_value(out, grid.sums[j][k]);
      continue;
    }
    if (values == Values::printed) {
      value =
          weighted ? grid.sums[j][k] : node_value(grid.ncol, grid.counts[j][k], grid.sums[j][k]);
    } else if (weighted) {
      value = weight_log_value(grid.sums[j][k]);
    } else if (!node_log_value(grid.ncol, grid.counts[j][k], grid.sums[j][k], value)) {
      return false;
    }
    out = put_value(out, value);
  }
  *out++ = '\n';
  length = static_cast<std::size_t>(out - row);
  return true;
}

void close_matrix(const MatrixFile& matrix) {
  flush_matrix(matrix);
  if (matrix.whole != nullptr) {
    if (pcgrid::finish_whole_file(*matrix.whole) != nullptr) cannot_write(matrix, false);
    return;
  }
  if (close(matrix.fd) != 0) cannot_write(matrix, false);
}

[[noreturn]] void give_up_logs(const MatrixFile& logs) {
  say("\nNegative values present. Giving-up on writing logs.\n");
  close(logs.fd);
  unlink(LOG_MATRIX);
  quit();
}

void write_rows(const MatrixFile& matrix, const GridAccumulator& grid, bool weighted,
                Values values) {
  const bool share = !pcgrid::LIBC_IO && (grid.GX + 1) * (grid.GY + 1) >= NODES_WORTH_THREADS;
  for (int first = 0; first <= grid.GX; first += ROWS_AT_ONCE) {
    const int count = std::min(ROWS_AT_ONCE, grid.GX + 1 - first);
#pragma omp parallel for schedule(dynamic, 4) if (share)
    for (int i = 0; i < count; ++i) {
      rows_whole[i] = format_row(grid, first + i, weighted, values, rows[i], row_lengths[i]);
    }
    for (int i = 0; i < count; ++i) {
      char* out = start_row(matrix, row_lengths[i]);
      if (!rows_whole[i]) give_up_logs(matrix);
      std::memcpy(out, rows[i], row_lengths[i]);
      filled += row_lengths[i];
    }
  }
  close_matrix(matrix);
}

}  // namespace

MatrixFile create_matrix(const char* name, bool remove_on_failure) {
  const int fd = open(name, O_WRONLY | O_CREAT | O_TRUNC, 0666);
  if (fd < 0) refuse(CANNOT_CREATE);
  return {name, fd, remove_on_failure};
}

void write_grid_matrix(const MatrixFile& matrix, const GridAccumulator& grid, bool weighted) {
  say("Writing output in grid.matrix.\n");
  write_rows(matrix, grid, weighted, Values::printed);
}

void write_log_matrix(const GridAccumulator& grid, bool weighted) {
  const MatrixFile logs = create_matrix(LOG_MATRIX, true);
  say("Writing logarithms in grid_log.matrix.\n");
  write_rows(logs, grid, weighted, Values::logs);
}

void begin_weights_matrix(pcgrid::WholeFile& file) {
  if (pcgrid::begin_whole_file(file, WEIGHTS_MATRIX) != nullptr) refuse(CANNOT_CREATE);
}

void write_weights_matrix(pcgrid::WholeFile& file, const GridAccumulator& grid) {
  const MatrixFile matrix{WEIGHTS_MATRIX, file.fd, false, &file};
  write_rows(matrix, grid, true, Values::exact);
}

}  // namespace gridmap
