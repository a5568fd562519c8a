// gridplot: a gridmap run drawn as a PNG picture, with gnuplot.
//
// Reads gridmap's saved standard output (the grid size, the limits of x and
// y, whether z was used) and its matrix, turns counts into free energies
// (or takes the mean z), leaves empty nodes blank, and has gnuplot draw the
// map into a temporary file beside the picture, which then takes its name.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "matrix.hpp"
#include "options.hpp"
#include "piped_program.hpp"
#include "run_log.hpp"
#include "script.hpp"
#include "standard_descriptors.hpp"

namespace {

using namespace gridplot;

constexpr double BOLTZMANN_KJ = 0.0083144626;  // kJ/(mol K)
constexpr double JOULES_PER_CALORIE = 4.184;
constexpr char INSTALL_HINT[] = "apt-get install --no-install-recommends gnuplot-nox";

[[noreturn]] void refuse(const std::string& what) {
  std::fprintf(stderr, "gridplot: %s\n", what.c_str());
  std::exit(1);
}

int open_input(const std::string& name) {
  const int fd = ::open(name.c_str(), O_RDONLY);
  if (fd < 0) refuse(name + ": cannot open: " + std::strerror(errno));
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

std::vector<double> read_values(const std::string& name, const Run& run) {
  std::vector<double> values;
  const int fd = open_input(name);
  const std::string error = read_matrix(fd, name, run, values);
  ::close(fd);
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

// Counts become free energies F = -ln(count / largest count), 0 at the
// most populated node; empty nodes (0) become NaN, which gnuplot leaves
// uncoloured. Mean z is kept as it is (0 only where no point fell).
void map_values(const Options& options, const Run& run, std::vector<double>& values) {
  double largest = 0;
  for (const double v : values) largest = std::max(largest, v);
  if (largest == 0) refuse(options.matrix + ": every node is empty: nothing to draw");
  const double factor = energy_factor(options);
  for (double& v : values) {
    if (v == 0) {
      v = std::nan("");
    } else if (!run.three_columns) {
      v = std::log(largest / v) * factor;
    }
  }
}

// A fresh file beside the picture for gnuplot to draw into, with the
// permissions a new file would get.
std::string make_temporary(const Options& options, const std::string& folder) {
  std::string path = folder + ".gridplot-XXXXXX.png";
  const int fd = mkstemps(path.data(), 4);
  if (fd < 0) refuse(options.out + ": cannot create a file beside it: " + std::strerror(errno));
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  ::close(fd);
  return path;
}

[[noreturn]] void fail_drawing(const std::string& temporary, const std::string& what) {
  ::unlink(temporary.c_str());
  refuse(what);
}

// gnuplot reads the script on its standard input, in the picture's folder.
void run_gnuplot(const std::string& script, const std::string& folder,
                 const std::string& temporary) {
  int status = 0;
  const int error = run_with_input("gnuplot", folder, script, status);
  if (error == ENOENT || (error == 0 && WIFEXITED(status) && WEXITSTATUS(status) == 127)) {
    fail_drawing(temporary,
                 std::string("gnuplot is not installed (on Debian: ") + INSTALL_HINT + ")");
  }
  if (error != 0)
    fail_drawing(temporary, std::string("cannot run gnuplot: ") + std::strerror(error));
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    fail_drawing(
        temporary,
        "gnuplot failed (exit status " +
            std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status)) + ")");
  }
}

bool is_png(const std::string& path) {
  constexpr unsigned char SIGNATURE[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  unsigned char head[sizeof SIGNATURE] = {};
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  const ssize_t got = ::read(fd, head, sizeof head);
  ::close(fd);
  return got == static_cast<ssize_t>(sizeof head) && std::memcmp(head, SIGNATURE, sizeof head) == 0;
}

void draw(const Options& options, const Run& run, const std::vector<double>& values) {
  const std::string folder = folder_of(options.out);
  const std::string temporary = make_temporary(options, folder);
  run_gnuplot(gnuplot_script(options, run, values, temporary.substr(folder.size())), folder,
              temporary);
  if (!is_png(temporary)) fail_drawing(temporary, "gnuplot wrote no PNG picture");
  if (std::rename(temporary.c_str(), options.out.c_str()) != 0) {
    fail_drawing(temporary, options.out + ": cannot write: " + std::strerror(errno));
  }
}

}  // namespace

int main(int argc, char** argv) {
  pcgrid::open_closed_standard_descriptors();
  const Options options = read_options(argc, argv);
  const Run run = read_log(options.log);
  std::vector<double> values = read_values(options.matrix, run);
  map_values(options, run, values);
  draw(options, run, values);
  return 0;
}
