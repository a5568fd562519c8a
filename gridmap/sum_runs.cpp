#include "sum_runs.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

// The matrix beside a log: grid.matrix in the log's folder.
std::string matrix_beside(const char* log) {
  const std::string_view path(log);
  const std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return GRID_MATRIX;
  return std::string(path.substr(0, slash + 1)) + GRID_MATRIX;
}

// The runs' matrices are read before the sum's "grid.matrix" is created
// over the one of this folder, which must not be one of them.
void refuse_output_as_input(const std::string& matrix) {
  struct stat in {};
  struct stat out {};
  if (stat(matrix.c_str(), &in) == 0 && stat(GRID_MATRIX, &out) == 0 && in.st_dev == out.st_dev &&
      in.st_ino == out.st_ino) {
    cannot("%s: it is the grid.matrix that the sum writes: add the runs from another folder",
           matrix.c_str());
  }
}

// Adds the values of a run's "grid.matrix" to grid.sums: GX + 1 rows of
// GY + 1 values, each finite and not negative, and for counts a whole
// number.
void add_matrix(const std::string& name, Kind kind, GridAccumulator& grid) {
  std::FILE* in = std::fopen(name.c_str(), "r");
  if (in == nullptr) cannot("%s: cannot open: %s", name.c_str(), std::strerror(errno));
  const auto bad = [&](int row) {
    cannot("%s:%d: not a row of a %d by %d matrix of gridmap's", name.c_str(), row + 1, grid.GX + 1,
           grid.GY + 1);
  };
  for (int j = 0; j <= grid.GX; ++j) {
    for (int k = 0; k <= grid.GY; ++k) {
      char text[32];
      if (std::fscanf(in, "%31[^ \n]", text) != 1 || std::fgetc(in) != ' ') bad(j);
      char* end = nullptr;
      const double value = std::strtod(text, &end);
      if (*end != '\0' || !(value >= 0) || !std::isfinite(value) ||
          (kind == Kind::counts && value != std::floor(value))) {
        bad(j);
      }
      grid.sums[j][k] += value;
    }
    if (std::fgetc(in) != '\n') bad(j);
  }
  if (std::fgetc(in) != EOF) bad(grid.GX + 1);
  if (std::ferror(in)) cannot("%s: cannot read", name.c_str());
  std::fclose(in);
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
    const std::string matrix = matrix_beside(logs[i]);
    refuse_output_as_input(matrix);
    add_matrix(matrix, run.kind, grid);
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
  const MatrixFile matrix = create_matrix(GRID_MATRIX, false);
  write_grid_matrix(matrix, grid, weighted);
  write_log_matrix(grid, weighted);
  say("All done.\n");
  quit();
}

}  // namespace gridmap
