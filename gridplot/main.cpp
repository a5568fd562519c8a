// gridplot: a gridmap run drawn as a picture, with gnuplot.
//
// Reads gridmap's saved standard output (the grid size, the limits of x and
// y, whether z was used and how) and its matrix, turns counts and weights
// into free energies (or takes the mean z), leaves empty nodes blank, places
// the states of a clusterback report on it, and has gnuplot draw the map.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "descriptor_io.hpp"
#include "difference.hpp"
#include "drawing.hpp"
#include "failure.hpp"
#include "matrix.hpp"
#include "options.hpp"
#include "piped_program.hpp"
#include "run_log.hpp"
#include "script.hpp"
#include "standard_descriptors.hpp"
#include "states.hpp"
#include "whole_file.hpp"

namespace {

using namespace gridplot;

constexpr double BOLTZMANN_KJ = 0.0083144626;  // kJ/(mol K)
constexpr double JOULES_PER_CALORIE = 4.184;
constexpr int MAX_CONTOURS = 100;

// The shortest text that reads back as `value`.
std::string format_number(double value) {
  char digits[32];
  return std::string(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
}

pcgrid::FileIdentity identity_of_output(const std::string& name) {
  return name == "-" ? pcgrid::identity_of_descriptor(STDOUT_FILENO)
                     : pcgrid::identity_of_path(name.c_str());
}

// An output that is also an input would destroy it, and two outputs in one
// file would mix: refused before anything is written.
void refuse_outputs_that_are_inputs(const Options& options) {
  for (const std::string& output : {options.out, options.data}) {
    if (output.empty()) continue;
    const pcgrid::FileIdentity written = identity_of_output(output);
    const std::string other_matrix =
        options.minus.empty() ? "" : folder_of(options.minus) + "grid.matrix";
    for (const std::string& input :
         {options.log, options.matrix, options.members, options.minus, other_matrix}) {
      if (!input.empty() && pcgrid::same_file(written, pcgrid::identity_of_path(input.c_str()))) {
        refuse(output + ": is also an input (" + input + "); name another output");
      }
    }
  }
  if (!options.data.empty() &&
      (options.data == options.out ||
       pcgrid::same_file(identity_of_output(options.data), identity_of_output(options.out)))) {
    refuse(options.data + ": is also the picture; name another file for --data");
  }
}

int open_input(const std::string& name) {
  const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) refuse(name + ": cannot open: " + reason());
  return fd;
}

Run read_log(const std::string& name) {
  Run run;
  const int fd = open_input(name);
  const std::string error = read_run_log(fd, name, run);
  ::close(fd);
  if (!error.empty()) refuse(error);
  return run;
}

// --fmax sets a free-energy scale, --zrange a mean-z scale or the
// difference's.
void check_scale(const Options& options, const Run& run) {
  if (!options.minus.empty()) {
    if (options.fmax > 0) {
      usage_error("--fmax is for free-energy maps; with --minus, --zrange LOW:HIGH sets the scale");
    }
    return;
  }
  if (options.fmax > 0 && run.mean_z) {
    usage_error("--fmax is for free-energy maps, and " + options.log +
                " is a mean-z run: use --zrange LOW:HIGH");
  }
  if (options.zrange_given && !run.mean_z) {
    usage_error("--zrange is for mean-z maps, and " + options.log +
                " is a free-energy run: use --fmax F");
  }
}

// gridmap writes grid.matrix in its current folder, and the log goes
// wherever its output is sent: a matrix missing beside the log may be in
// the current folder.
[[noreturn]] void refuse_missing_matrix(const Options& options) {
  std::string message = options.matrix + ": cannot open: " + reason() +
                        " (the matrix is looked for beside " + options.log +
                        "; --matrix names another file";
  const pcgrid::FileIdentity here = pcgrid::identity_of_path("grid.matrix");
  if (here.exists && !folder_of(options.log).empty()) {
    message += "; the current folder has a grid.matrix: --matrix grid.matrix";
  }
  refuse(message + ")");
}

// The matrix is a file that gridmap wrote: a FIFO would wait for a writer
// that never comes, so anything else is refused without waiting.
int open_matrix(const Options& options) {
  const std::string& name = options.matrix;
  const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0 && errno == ENOENT && !options.matrix_given) refuse_missing_matrix(options);
  if (fd < 0) refuse(name + ": cannot open: " + reason());
  struct stat found {};
  if (::fstat(fd, &found) != 0) refuse(name + ": cannot open: " + reason());
  if (!S_ISREG(found.st_mode)) {
    refuse(name + ": not a regular file (" +
           (S_ISFIFO(found.st_mode)  ? "a pipe"
            : S_ISDIR(found.st_mode) ? "a folder"
                                     : "a device") +
           "); --matrix names the grid.matrix file that gridmap wrote");
  }
  return fd;
}

std::vector<double> read_values(const Options& options, const Run& run) {
  std::vector<double> values;
  const int fd = open_matrix(options);
  std::string error = read_matrix(fd, options.matrix, run, values);
  ::close(fd);
  if (error.empty()) error = check_node_placement(options.log, run, values);
  if (!error.empty()) refuse(error);
  return values;
}

double energy_factor(const Options& options) {
  switch (options.unit) {
    case Unit::kJ_per_mol:
      return BOLTZMANN_KJ * options.temperature;
    case Unit::kcal_per_mol:
      return BOLTZMANN_KJ * options.temperature / JOULES_PER_CALORIE;
    case Unit::kT:
      break;
  }
  return 1.0;
}

// Counts and sums of weights become free energies F = -ln(w / largest w),
// 0 at the most populated node; empty nodes (0) become NaN, which gnuplot
// leaves uncoloured. Mean z is kept as it is (0 only where no point fell,
// or, in a run with means of 0 and below, where the mean is 0).
void map_values(const Options& options, const Run& run, std::vector<double>& values) {
  double largest = 0;
  bool empty = true;
  for (const double v : values) {
    largest = std::max(largest, v);
    empty = empty && v == 0;
  }
  if (empty) refuse(options.matrix + ": every node is empty: nothing to draw");
  const double factor = energy_factor(options);
  for (double& v : values) {
    if (v == 0) {
      v = std::nan("");
    } else if (!run.mean_z) {
      v = std::log(largest / v) * factor;
    }
  }
}

// Contour levels are the multiples of STEP above the lowest value, up to
// the highest: gnuplot traces each over the whole map, so a step far below
// the map's range would run for hours. More than MAX_CONTOURS are refused.
void check_contours(const Options& options, const std::vector<double>& values) {
  const double step = options.contour_step;
  if (step == 0) return;
  double lowest = INFINITY, highest = -INFINITY;
  for (const double v : values) {
    if (std::isnan(v)) continue;
    lowest = std::min(lowest, v);
    highest = std::max(highest, v);
  }
  const double levels = std::floor(highest / step) - std::floor(lowest / step);
  if (levels <= MAX_CONTOURS) return;
  // A step of range / (MAX_CONTOURS - 1) or more gives at most MAX_CONTOURS
  // levels: the one proposed is that, rounded up to two digits.
  const double least = (highest - lowest) / (MAX_CONTOURS - 1);
  const double unit = std::pow(10.0, std::floor(std::log10(least)) - 1);
  char text[200];
  std::snprintf(text, sizeof text,
                " gives %.4g levels over the map's range, %g to %g; at most %d are drawn: take a "
                "step of at least %g",
                levels, lowest, highest, MAX_CONTOURS, std::ceil(least / unit) * unit);
  usage_error("--contours " + format_number(step) + text);
}

// --minus: the difference of this run from the other's, on the same grid;
// the other's matrix lies beside its log.
void map_difference(const Options& options, const Run& run, std::vector<double>& values) {
  const Run other = read_log(options.minus);
  const std::string differs = different_grids(options.log, run, options.minus, other);
  if (!differs.empty()) refuse(differs);
  Options of_other = options;
  of_other.log = options.minus;
  of_other.matrix = folder_of(options.minus) + "grid.matrix";
  of_other.matrix_given = false;
  const std::vector<double> base = read_values(of_other, other);
  if (!subtract(base, energy_factor(options), values)) {
    refuse("no node holds points in both " + options.minus + " and " + options.log +
           ": nothing to draw");
  }
}

std::vector<StateLabel> read_states(const Options& options, const Run& run) {
  std::vector<StateLabel> labels;
  if (options.members.empty()) return labels;
  std::FILE* file = std::fopen(options.members.c_str(), "re");
  if (file == nullptr) refuse(options.members + ": cannot open: " + reason());
  const std::string error =
      find_state_labels(file, options.members, run, options.state_x, options.state_y, labels);
  std::fclose(file);
  if (!error.empty()) refuse(error);
  return labels;
}

// --data: the values drawn as text, written whole or not at all.
void write_data(const Options& options, const Run& run, const std::vector<double>& values) {
  if (options.data.empty()) return;
  const std::string text = map_text(run, values);
  pcgrid::WholeFile file;
  const char* failed = pcgrid::begin_whole_file(file, options.data.c_str());
  if (failed == nullptr) {
    const int error = pcgrid::write_fully(file.fd, text.data(), text.size());
    if (error != 0) {
      pcgrid::abandon_whole_file(file);
      errno = error;
      failed = "cannot write";
    }
  }
  if (failed == nullptr) failed = pcgrid::finish_whole_file(file);
  if (failed != nullptr) {
    refuse((options.data == "-" ? "" : options.data + ": ") + failed + ": " + reason());
  }
}

// An allocation that fails ends the run as any failure does, with what
// was begun removed.
void out_of_memory() {
  remove_unfinished();
  std::fputs("gridplot: out of memory\n", stderr);
  std::exit(1);
}

}  // namespace

int main(int argc, char** argv) {
  pcgrid::open_closed_standard_descriptors();
  catch_stop_signals();
  std::set_new_handler(out_of_memory);
  Options options = read_options(argc, argv);
  refuse_outputs_that_are_inputs(options);
  options.format = picture_format(options.out);
  const Run run = read_log(options.log);
  check_scale(options, run);
  std::vector<double> values = read_values(options, run);
  if (options.minus.empty()) {
    map_values(options, run, values);
  } else {
    map_difference(options, run, values);
  }
  check_contours(options, values);
  const std::vector<StateLabel> labels = read_states(options, run);
  write_data(options, run, values);
  draw(options, run, values, labels);
  return 0;
}
