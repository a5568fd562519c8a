#include "sum_runs.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "grid_accumulator.hpp"
#include "gridmap_messages.hpp"
#include "matrix_files.hpp"
#include "number_format.hpp"
#include "whole_file.hpp"

namespace gridmap {

namespace {

enum class Kind { counts, weights, means };

const char* kind_name(Kind kind) {
  return kind == Kind::counts    ? "a run of counts"
         : kind == Kind::weights ? "a run of weights"
                                 : "a run of mean z";
}

// What a run's log tells of it.
struct RunLog {
  bool done = false;
  Kind kind = Kind::counts;
  int nx = 0, ny = 0;                             // nodes along x and y; 0: no grid line
  std::string given;                              // the text after "Using the limits given: "
  long long lines = 0;                            // "Read N lines."
  long long left_out = 0;                         // "N points outside the limits were left out."
  double xmin = 0, xmax = 0, ymin = 0, ymax = 0;  // the data's own
};

// "gridmap: " and what is wrong, on standard output as every message.
[[noreturn, gnu::format(printf, 1, 2)]] void cannot(const char* format, ...) {
  std::fputs("gridmap: ", stdout);
  va_list values;
  va_start(values, format);
  std::vprintf(format, values);
  va_end(values);
  std::fputs("\n", stdout);
  quit();
}

bool take_grid(std::string_view line, RunLog& run) {
  for (const std::string_view prefix : {"Second pass to interpolate on a ",
                                        "One pass to interpolate on a ", "Sum of the runs on a "}) {
    if (!line.starts_with(prefix)) continue;
    const std::string text(line.substr(prefix.size()));
    char end[16] = {};
    return std::sscanf(text.c_str(), "%d by %d gri%15s", &run.nx, &run.ny, end) == 3 &&
           std::string_view(end) == "d";
  }
  return false;
}

void take_line(std::string_view line, RunLog& run) {
  constexpr std::string_view GIVEN = "Using the limits given: ";
  const std::string text(line);
  long long n = 0;
  char rest[8] = {};
  if (line == "All done.") run.done = true;
  if (line == "Three columns found. Using the third as weights.") run.kind = Kind::weights;
  if (line == "Three columns found. Using the third to calculate sums.") run.kind = Kind::means;
  if (line.starts_with(GIVEN)) run.given = std::string(line.substr(GIVEN.size()));
  take_grid(line, run);
  if (std::sscanf(text.c_str(), "Read %lld lines%1s", &n, rest) == 2 && line.ends_with(" lines.")) {
    run.lines = n;
  }
  if (line.ends_with(" points outside the limits were left out.") &&
      std::sscanf(text.c_str(), "%lld", &n) == 1) {
    run.left_out = n;
  }
  std::sscanf(text.c_str(), "\ton x : %lf to %lf", &run.xmin, &run.xmax);
  std::sscanf(text.c_str(), "\ton y : %lf to %lf", &run.ymin, &run.ymax);
}

// The lines of a log that matter are short; the counter's, which may be
// very long, are skipped.
constexpr std::size_t LONGEST_LINE = 512;

RunLog read_log(const char* name) {
  const int fd = open(name, O_RDONLY);
  if (fd < 0) cannot("%s: cannot open: %s", name, std::strerror(errno));
  RunLog run;
  char buffer[1 << 16];
  char line[LONGEST_LINE];
  std::size_t length = 0;
  bool too_long = false;
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) cannot("%s: cannot read: %s", name, std::strerror(errno));
    if (got == 0) break;
    for (ssize_t i = 0; i < got; ++i) {
      if (buffer[i] == '\n') {
        if (!too_long) take_line(std::string_view(line, length), run);
        length = 0;
        too_long = false;
      } else if (length < LONGEST_LINE) {
        line[length++] = buffer[i];
      } else {
        too_long = true;
      }
    }
  }
  close(fd);
  if (!run.done) cannot("%s: not a complete gridmap run (\"All done.\" is missing)", name);
  if (run.nx == 0) cannot("%s: not gridmap's output (no grid size)", name);
  if (run.given.empty()) {
    cannot("%s: not a run on limits given: without --limits its nodes depend on its data", name);
  }
  if (run.kind == Kind::means) cannot("%s: a run of mean z, whose matrices cannot be added", name);
  return run;
}

// The first run's grid, limits and kind, which every other run must share.
void check_same(const char* name, const RunLog& run, const char* first_name, const RunLog& first) {
  if (run.nx != first.nx || run.ny != first.ny) {
    cannot("%s: a %d by %d grid, but %s has a %d by %d grid", name, run.nx, run.ny, first_name,
           first.nx, first.ny);
  }
  if (run.given != first.given) {
    cannot("%s: limits %s, but %s has limits %s", name, run.given.c_str(), first_name,
           first.given.c_str());
  }
  if (run.kind != first.kind) {
    cannot("%s: %s, but %s is %s", name, kind_name(run.kind), first_name, kind_name(first.kind));
  }
}

// The file `name` beside a log: in the log's folder.
std::string beside(const char* log, const char* name) {
  const std::string_view path(log);
  const std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return name;
  return std::string(path.substr(0, slash + 1)) + name;
}

// The runs' matrices are read before the sum's are written over those of
// this folder, which must not be among them.
void refuse_output_as_input(const std::string& matrix, const char* output) {
  struct stat in {};
  struct stat out {};
  if (stat(matrix.c_str(), &in) == 0 && stat(output, &out) == 0 && in.st_dev == out.st_dev &&
      in.st_ino == out.st_ino) {
    cannot("%s: it is the %s that the sum writes: add the runs from another folder", matrix.c_str(),
           output);
  }
}

// A matrix file of a run, read a value at a time: GX + 1 rows of GY + 1
// values, each followed by a space, each row by a newline.
struct MatrixText {
  std::string name;
  std::FILE* in;
};

[[noreturn]] void not_a_row(const MatrixText& matrix, int row, const GridAccumulator& grid) {
  cannot("%s:%d: not a row of a %d by %d matrix of gridmap's", matrix.name.c_str(), row + 1,
         grid.GX + 1, grid.GY + 1);
}

// The text of the next value of row `row`.
void read_value(const MatrixText& matrix, int row, const GridAccumulator& grid, char (&text)[32]) {
  if (std::fscanf(matrix.in, "%31[^ \n]", text) != 1 || std::fgetc(matrix.in) != ' ') {
    not_a_row(matrix, row, grid);
  }
}

void end_row(const MatrixText& matrix, int row, const GridAccumulator& grid) {
  if (std::fgetc(matrix.in) != '\n') not_a_row(matrix, row, grid);
}

void end_matrix(const MatrixText& matrix, const GridAccumulator& grid) {
  if (std::fgetc(matrix.in) != EOF) not_a_row(matrix, grid.GX + 1, grid);
  if (std::ferror(matrix.in)) cannot("%s: cannot read", matrix.name.c_str());
  std::fclose(matrix.in);
}

// The exact sum of weights of a node in "grid_weights.matrix", which
// "grid.matrix" must show as it prints it: a file left by another run is
// refused.
double exact_weight(const MatrixText& exact, const MatrixText& matrix, int row, int column,
                    const GridAccumulator& grid, const char* printed) {
  char text[32];
  read_value(exact, row, grid, text);
  const char* end = text + std::strlen(text);
  double value = 0;
  const std::from_chars_result read = std::from_chars(text, end, value);
  if (read.ec != std::errc() || read.ptr != end || !(value >= 0) || !std::isfinite(value)) {
    not_a_row(exact, row, grid);
  }
  char shown[pcgrid::FORMAT_ROOM];
  *pcgrid::format_scientific7(shown, value, 8) = '\0';
  if (std::strcmp(shown, printed) != 0) {
    cannot(
        "%s:%d: the two matrices disagree: column %d is %s here but %s in %s (is one left "
        "from another run?)",
        exact.name.c_str(), row + 1, column + 1, text, printed, matrix.name.c_str());
  }
  return value;
}

// Adds the values of the run beside `log` to grid.sums: those of its
// "grid.matrix", each finite and not negative, and for counts a whole
// number; for weights, those of its "grid_weights.matrix" when there is
// one (a run by an older gridmap has none).
void add_run(const char* log, Kind kind, GridAccumulator& grid) {
  MatrixText matrix{beside(log, GRID_MATRIX), nullptr};
  refuse_output_as_input(matrix.name, GRID_MATRIX);
  matrix.in = std::fopen(matrix.name.c_str(), "r");
  if (matrix.in == nullptr)
    cannot("%s: cannot open: %s", matrix.name.c_str(), std::strerror(errno));
  MatrixText exact{beside(log, WEIGHTS_MATRIX), nullptr};
  if (kind == Kind::weights) {
    exact.in = std::fopen(exact.name.c_str(), "r");
    if (exact.in == nullptr && errno != ENOENT) {
      cannot("%s: cannot open: %s", exact.name.c_str(), std::strerror(errno));
    }
    if (exact.in != nullptr) refuse_output_as_input(exact.name, WEIGHTS_MATRIX);
  }
  for (int j = 0; j <= grid.GX; ++j) {
    for (int k = 0; k <= grid.GY; ++k) {
      char text[32];
      read_value(matrix, j, grid, text);
      char* end = nullptr;
      double value = std::strtod(text, &end);
      if (*end != '\0' || !(value >= 0) || !std::isfinite(value) ||
          (kind == Kind::counts && value != std::floor(value))) {
        not_a_row(matrix, j, grid);
      }
      if (exact.in != nullptr) value = exact_weight(exact, matrix, j, k, grid, text);
      grid.sums[j][k] += value;
    }
    end_row(matrix, j, grid);
    if (exact.in != nullptr) end_row(exact, j, grid);
  }
  end_matrix(matrix, grid);
  if (exact.in != nullptr) end_matrix(exact, grid);
}

// A count run's node holds a count below 2^32; so must their sum.
void counts_from_sums(GridAccumulator& grid) {
  for (int j = 0; j <= grid.GX; ++j) {
    for (int k = 0; k <= grid.GY; ++k) {
      const double sum = grid.sums[j][k];
      if (sum > std::numeric_limits<std::uint32_t>::max()) {
        cannot("the node in row %d, column %d holds more than 4294967295 points", j + 1, k + 1);
      }
      grid.counts[j][k] = static_cast<std::uint32_t>(sum);
    }
  }
}

}  // namespace

void sum_runs(char** logs, int count) {
  say("Adding the matrices of %d runs ...\n", count);
  const RunLog first = read_log(logs[0]);
  GridAccumulator grid{};
  grid.GX = first.nx - 1;
  grid.GY = first.ny - 1;
  grid.ncol = first.kind == Kind::weights ? 3 : 2;
  if (grid.GX >= MAXGRID || grid.GY >= MAXGRID || grid.GX < 2 || grid.GY < 2) {
    cannot("%s: not gridmap's output (a %d by %d grid)", logs[0], first.nx, first.ny);
  }
  if (!reserve_nodes(grid)) cannot("out of memory");
  long long lines = 0, left_out = 0;
  bool any_point = false;
  double xmin = 0, xmax = 0, ymin = 0, ymax = 0;
  for (int i = 0; i < count; ++i) {
    const RunLog run = i == 0 ? first : read_log(logs[i]);
    check_same(logs[i], run, logs[0], first);
    add_run(logs[i], run.kind, grid);
    say("\t%s: %lld lines\n", logs[i], run.lines);
    lines += run.lines;
    left_out += run.left_out;
    if (run.lines == 0) continue;
    xmin = any_point ? std::fmin(xmin, run.xmin) : run.xmin;
    xmax = any_point ? std::fmax(xmax, run.xmax) : run.xmax;
    ymin = any_point ? std::fmin(ymin, run.ymin) : run.ymin;
    ymax = any_point ? std::fmax(ymax, run.ymax) : run.ymax;
    any_point = true;
  }
  const bool weighted = first.kind == Kind::weights;
  if (!weighted) counts_from_sums(grid);
  say("Read %lld lines.\n", lines);
  if (weighted) say("Three columns found. Using the third as weights.\n");
  say("Limits are :\n");
  say("\ton x : %f to %f\n", xmin, xmax);
  say("\ton y : %f to %f\n", ymin, ymax);
  say("Using the limits given: %s\n", first.given.c_str());
  say("\nSum of the runs on a %d by %d grid ...\n", first.nx, first.ny);
  say("%lld points outside the limits were left out.\n", left_out);
  pcgrid::WholeFile weights_matrix;
  if (weighted) begin_weights_matrix(weights_matrix);
  const MatrixFile matrix = create_matrix(GRID_MATRIX, false);
  write_grid_matrix(matrix, grid, weighted);
  write_log_matrix(grid, weighted);
  if (weighted) write_weights_matrix(weights_matrix, grid);
  say("All done.\n");
  quit();
}

}  // namespace gridmap
