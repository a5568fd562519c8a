// gridplot: a gridmap run drawn as a PNG picture, with gnuplot.
//
// Reads gridmap's saved standard output (the grid size, the limits of x and
// y, whether z was used) and its matrix, turns counts into free energies
// (or takes the mean z), leaves empty nodes blank, and has gnuplot draw the
// map into a temporary file beside the picture, which then takes its name.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "descriptor_io.hpp"
#include "standard_descriptors.hpp"

extern char** environ;

namespace {

constexpr std::string_view VERSION = PCGRID_VERSION;
constexpr double BOLTZMANN_KJ = 0.0083144626;  // kJ/(mol K)
constexpr double JOULES_PER_CALORIE = 4.184;
constexpr int MAX_NODES = 1001;         // gridmap's largest grid along an axis
constexpr std::size_t LOG_LINE = 256;   // characters kept of each line of the log
constexpr std::size_t VALUE_ROOM = 64;  // bytes a matrix value may take, separator included
constexpr char INSTALL_HINT[] = "apt-get install --no-install-recommends gnuplot-nox";

constexpr char USAGE[] =
    "Usage: gridplot [options] LOG [OUT]\n"
    "Draws the gridmap run whose standard output was saved in LOG as a PNG picture\n"
    "(OUT, default landscape.png beside LOG), with gnuplot.\n"
    "\n"
    "  --matrix FILE       the count or mean-z matrix (default grid.matrix beside LOG)\n"
    "  --temperature T     free energy in kJ/mol (or --unit) at T kelvin, not in kT\n"
    "  --unit UNIT         kT (default), kJ/mol or kcal/mol (the last two need --temperature)\n"
    "  --xlabel TEXT       the x axis' label (default PC 1)\n"
    "  --ylabel TEXT       the y axis' label (default PC 2)\n"
    "  --zlabel TEXT       the colour bar's label of a three-column run (default mean z)\n"
    "  --title TEXT        a title above the map (default none)\n"
    "  --help              this help\n"
    "  --version           the version\n";

enum class Unit { kT, kJ_per_mol, kcal_per_mol };

struct Options {
  const char* log = nullptr;
  std::string out;
  std::string matrix;
  double temperature = 0;  // 0: none given
  Unit unit = Unit::kT;
  bool unit_given = false;
  std::string xlabel = "PC 1";
  std::string ylabel = "PC 2";
  std::string zlabel = "mean z";
  std::string title;
};

// What the log says of the run.
struct Run {
  int nx = 0, ny = 0;  // nodes along x and y
  double xmin = 0, xmax = 0, ymin = 0, ymax = 0;
  bool have_x = false, have_y = false;
  bool three_columns = false;
  bool done = false;
};

Options options;
Run run;
std::vector<double> values;  // node (j, k) at j * ny + k, as the matrix holds it
std::string script;

[[noreturn]] void usage_error(const std::string& what) {
  std::fprintf(stderr, "gridplot: %s (see gridplot --help)\n", what.c_str());
  std::exit(2);
}

[[noreturn]] void refuse(const std::string& what) {
  std::fprintf(stderr, "gridplot: %s\n", what.c_str());
  std::exit(1);
}

std::string quoted(std::string_view text) {
  return "'" + std::string(text) + "'";
}

// --- The command line ---

bool parse_number(std::string_view text, double& value) {
  if (text.empty()) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc{} && end == text.data() + text.size();
}

void set_label(std::string& label, std::string_view name, std::string_view value) {
  if (value.find_first_of("\n\r") != std::string_view::npos) {
    usage_error(std::string(name) + " needs a text of one line");
  }
  label = value;
}

void set_option(std::string_view name, std::string_view value) {
  if (name == "--matrix") {
    if (value.empty()) usage_error("--matrix needs a file name");
    options.matrix = value;
  } else if (name == "--temperature") {
    if (!parse_number(value, options.temperature) || !std::isfinite(options.temperature) ||
        !(options.temperature > 0)) {
      usage_error("--temperature needs a number of kelvin above 0, not " + quoted(value));
    }
  } else if (name == "--unit") {
    if (value == "kT") {
      options.unit = Unit::kT;
    } else if (value == "kJ/mol") {
      options.unit = Unit::kJ_per_mol;
    } else if (value == "kcal/mol") {
      options.unit = Unit::kcal_per_mol;
    } else {
      usage_error("--unit needs kT, kJ/mol or kcal/mol, not " + quoted(value));
    }
    options.unit_given = true;
  } else if (name == "--xlabel") {
    set_label(options.xlabel, name, value);
  } else if (name == "--ylabel") {
    set_label(options.ylabel, name, value);
  } else if (name == "--zlabel") {
    set_label(options.zlabel, name, value);
  } else {
    set_label(options.title, name, value);
  }
}

bool takes_value(std::string_view name) {
  for (const std::string_view option :
       {"--matrix", "--temperature", "--unit", "--xlabel", "--ylabel", "--zlabel", "--title"}) {
    if (name == option) return true;
  }
  return false;
}

// The folder part of a path, with its slash ("" for a bare name).
std::string folder_of(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? "" : std::string(path.substr(0, slash + 1));
}

void read_options(int argc, char** argv) {
  std::vector<const char*> files;
  bool options_end = false;
  for (int a = 1; a < argc; ++a) {
    const std::string_view arg = argv[a];
    if (options_end || !arg.starts_with("--")) {
      files.push_back(argv[a]);
      continue;
    }
    const std::size_t equals = arg.find('=');
    const std::string_view name = arg.substr(0, equals);
    if (arg == "--") {
      options_end = true;
    } else if (arg == "--help") {
      std::fputs(USAGE, stdout);
      std::exit(std::fflush(stdout) == 0 ? 0 : 1);
    } else if (arg == "--version") {
      std::printf("gridplot (pcgrid) %.*s\n", static_cast<int>(VERSION.size()), VERSION.data());
      std::exit(std::fflush(stdout) == 0 ? 0 : 1);
    } else if (takes_value(name) && equals != std::string_view::npos) {
      set_option(name, arg.substr(equals + 1));
    } else if (takes_value(name)) {
      if (a + 1 == argc) usage_error(std::string(name) + " needs a value");
      set_option(name, argv[++a]);
    } else {
      usage_error("unknown option " + quoted(arg));
    }
  }
  if (files.empty()) usage_error("no LOG named");
  if (files.size() > 2) usage_error("too many files: LOG and OUT at most");
  if (options.unit != Unit::kT && options.temperature == 0) {
    usage_error("--unit kJ/mol and kcal/mol need --temperature");
  }
  if (options.temperature != 0 && !options.unit_given) options.unit = Unit::kJ_per_mol;
  options.log = files[0];
  const std::string folder = folder_of(options.log);
  options.out = files.size() == 2 ? files[1] : folder + "landscape.png";
  if (options.matrix.empty()) options.matrix = folder + "grid.matrix";
}

// --- gridmap's standard output ---

bool parse_int(std::string_view text, int& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc{} && end == text.data() + text.size();
}

// "\ton x : %f to %f": the two numbers after the prefix.
bool parse_limits(std::string_view line, std::string_view prefix, double& lo, double& hi) {
  if (!line.starts_with(prefix)) return false;
  line.remove_prefix(prefix.size());
  const std::size_t to = line.find(" to ");
  return to != std::string_view::npos && parse_number(line.substr(0, to), lo) &&
         parse_number(line.substr(to + 4), hi) && std::isfinite(lo) && std::isfinite(hi) &&
         lo <= hi;
}

// "Second pass to interpolate on a %d by %d grid ..."
bool parse_grid(std::string_view line) {
  constexpr std::string_view prefix = "Second pass to interpolate on a ";
  constexpr std::string_view suffix = " grid ...";
  if (!line.starts_with(prefix) || !line.ends_with(suffix)) return false;
  line = line.substr(prefix.size(), line.size() - prefix.size() - suffix.size());
  const std::size_t by = line.find(" by ");
  return by != std::string_view::npos && parse_int(line.substr(0, by), run.nx) &&
         parse_int(line.substr(by + 4), run.ny);
}

void read_log_line(std::string_view line) {
  if (line == "All done.") run.done = true;
  if (line == "Three columns found. Using the third to calculate sums.") run.three_columns = true;
  if (parse_limits(line, "\ton x : ", run.xmin, run.xmax)) run.have_x = true;
  if (parse_limits(line, "\ton y : ", run.ymin, run.ymax)) run.have_y = true;
  parse_grid(line);
}

// The log is read in blocks; of each line only the first LOG_LINE
// characters are kept (the progress counter's line can be very long).
void read_log() {
  const std::string name = options.log;
  const int fd = ::open(options.log, O_RDONLY);
  if (fd < 0) refuse(name + ": cannot open: " + std::strerror(errno));
  std::string line;
  bool longer = false;
  char block[1 << 16];
  for (;;) {
    const ssize_t got = pcgrid::read_some(fd, block, sizeof block);
    if (got < 0) refuse(name + ": cannot read: " + std::strerror(errno));
    if (got == 0) break;
    for (ssize_t i = 0; i < got; ++i) {
      if (block[i] == '\n') {
        if (!longer) read_log_line(line);
        line.clear();
        longer = false;
      } else if (line.size() < LOG_LINE) {
        line += block[i];
      } else {
        longer = true;
      }
    }
  }
  if (!longer) read_log_line(line);
  ::close(fd);
  if (!run.done) refuse(name + ": not a complete gridmap run (\"All done.\" is missing)");
  if (run.nx < 3 || run.ny < 3 || run.nx > MAX_NODES || run.ny > MAX_NODES || !run.have_x ||
      !run.have_y) {
    refuse(name + ": not gridmap's output (no grid size or limits of x and y)");
  }
}

// --- The matrix ---

std::string grid_text() {
  return std::to_string(run.nx) + " by " + std::to_string(run.ny);
}

void read_matrix() {
  const std::string& name = options.matrix;
  const int fd = ::open(name.c_str(), O_RDONLY);
  if (fd < 0) refuse(name + ": cannot open: " + std::strerror(errno));
  struct stat status {};
  if (fstat(fd, &status) != 0 || S_ISDIR(status.st_mode)) {
    refuse(name + ": cannot read: " + std::strerror(S_ISDIR(status.st_mode) ? EISDIR : errno));
  }
  const auto largest = static_cast<off_t>(run.nx * (run.ny * VALUE_ROOM + VALUE_ROOM));
  if (status.st_size > largest) {
    refuse(name + ": too large for the matrix of a " + grid_text() + " grid");
  }
  std::string text(static_cast<std::size_t>(status.st_size), '\0');
  std::size_t have = 0;
  while (have < text.size()) {
    const ssize_t got = pcgrid::read_some(fd, text.data() + have, text.size() - have);
    if (got < 0) refuse(name + ": cannot read: " + std::strerror(errno));
    if (got == 0) break;
    have += static_cast<std::size_t>(got);
  }
  ::close(fd);
  text.resize(have);

  values.clear();
  int row = 0;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string_view line(text.data() + at, end - at);
    at = end + 1;
    ++row;
    const std::string where = name + ":" + std::to_string(row) + ": ";
    if (row > run.nx)
      refuse(where + "more rows than the " + std::to_string(run.nx) + " of the grid");
    int count = 0;
    std::size_t p = 0;
    while (true) {
      p = line.find_first_not_of(" \t", p);
      if (p == std::string_view::npos) break;
      const std::size_t stop = std::min(line.find_first_of(" \t", p), line.size());
      const std::string_view field = line.substr(p, stop - p);
      double value = 0;
      if (!parse_number(field, value) || !std::isfinite(value) || value < 0) {
        refuse(where + quoted(field) + " is not a number of at least 0");
      }
      if (++count <= run.ny) values.push_back(value);
      p = stop;
    }
    if (count != run.ny) {
      refuse(where + std::to_string(count) + " values, but the grid has " + std::to_string(run.ny) +
             " along y");
    }
  }
  if (row != run.nx) {
    refuse(name + ": " + std::to_string(row) + " rows, but the grid has " + std::to_string(run.nx) +
           " along x");
  }
}

// --- The picture ---

double energy_factor() {
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

const char* unit_name() {
  switch (options.unit) {
    case Unit::kJ_per_mol:
      return "kJ/mol";
    case Unit::kcal_per_mol:
      return "kcal/mol";
    case Unit::kT:
      break;
  }
  return "kT";
}

// Counts become free energies F = -ln(count / largest count), 0 at the
// most populated node; empty nodes (0) become NaN, which gnuplot leaves
// uncoloured. Mean z is kept as it is (0 only where no point fell).
void map_values() {
  double largest = 0;
  for (const double v : values) largest = std::max(largest, v);
  if (largest == 0) refuse(options.matrix + ": every node is empty: nothing to draw");
  const double factor = energy_factor();
  for (double& v : values) {
    if (v == 0) {
      v = std::nan("");
    } else if (!run.three_columns) {
      v = std::log(largest / v) * factor;
    }
  }
}

void append_number(double value) {
  if (std::isnan(value)) {
    script += "NaN";
    return;
  }
  char digits[32];
  const auto [end, error] = std::to_chars(digits, digits + sizeof digits, value);
  script.append(digits, end);
}

// A gnuplot string: single quotes take every character as it is, except
// the quote itself, which is doubled.
void append_string(std::string_view text) {
  script += '\'';
  for (const char c : text) {
    if (c == '\'') script += '\'';
    script += c;
  }
  script += '\'';
}

void append_command(std::string_view command, std::string_view text) {
  script += command;
  append_string(text);
  script += '\n';
}

void append_range(std::string_view axis, double lo, double hi) {
  script += "set ";
  script += axis;
  script += "range [";
  append_number(lo);
  script += ':';
  append_number(hi);
  script += "]\n";
}

// Node j of n lies at lo + j (hi - lo) / (n - 1); a zero range is drawn as
// a range of 1, every point being on its first node.
double span(double lo, double hi) {
  return hi > lo ? hi - lo : 1.0;
}

void write_script(const std::string& picture) {
  script.clear();
  script += "set terminal pngcairo size 800,640 noenhanced\n";
  append_command("set output ", picture);
  if (!options.title.empty()) append_command("set title ", options.title);
  append_command("set xlabel ", options.xlabel);
  append_command("set ylabel ", options.ylabel);
  if (run.three_columns) {
    append_command("set cblabel ", options.zlabel);
  } else {
    append_command("set cblabel ", std::string("F (") + unit_name() + ")");
    script += "set cbrange [0:*]\n";
  }
  const double dx = span(run.xmin, run.xmax) / (run.nx - 1);
  const double dy = span(run.ymin, run.ymax) / (run.ny - 1);
  append_range("x", run.xmin, run.xmin + span(run.xmin, run.xmax));
  append_range("y", run.ymin, run.ymin + span(run.ymin, run.ymax));
  script += "set tics out\n";
  // Dark purple at the lowest value, through blue and green, to yellow.
  script +=
      "set palette defined (0 '#440154', 0.25 '#3b528b', 0.5 '#21918c', 0.75 '#5ec962', "
      "1 '#fde725')\n";
  script += "$map << EOD\n";
  for (int k = 0; k < run.ny; ++k) {
    for (int j = 0; j < run.nx; ++j) {
      append_number(run.xmin + j * dx);
      script += ' ';
      append_number(run.ymin + k * dy);
      script += ' ';
      append_number(values[static_cast<std::size_t>(j) * run.ny + k]);
      script += '\n';
    }
  }
  script += "EOD\nplot $map using 1:2:3 with image notitle\n";
}

// A fresh file beside the picture for gnuplot to draw into, with the
// permissions a new file would get.
std::string make_temporary(const std::string& folder) {
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
void run_gnuplot(const std::string& folder, const std::string& temporary) {
  int channel[2];
  if (pipe(channel) != 0)
    fail_drawing(temporary, std::string("cannot run gnuplot: ") + std::strerror(errno));
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, channel[0], STDIN_FILENO);
  posix_spawn_file_actions_addclose(&actions, channel[0]);
  posix_spawn_file_actions_addclose(&actions, channel[1]);
  if (!folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  char program[] = "gnuplot";
  char* argv[] = {program, nullptr};
  pid_t pid = 0;
  const int error = posix_spawnp(&pid, program, &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(channel[0]);
  if (error == ENOENT) {
    fail_drawing(temporary,
                 std::string("gnuplot is not installed (on Debian: ") + INSTALL_HINT + ")");
  }
  if (error != 0)
    fail_drawing(temporary, std::string("cannot run gnuplot: ") + std::strerror(error));
  signal(SIGPIPE, SIG_IGN);
  // A failed write means gnuplot has ended: its exit status tells why.
  pcgrid::write_fully(channel[1], script.data(), script.size());
  ::close(channel[1]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 127) {
    fail_drawing(temporary,
                 std::string("gnuplot is not installed (on Debian: ") + INSTALL_HINT + ")");
  }
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

void draw() {
  const std::string folder = folder_of(options.out);
  const std::string temporary = make_temporary(folder);
  write_script(temporary.substr(folder.size()));
  run_gnuplot(folder, temporary);
  if (!is_png(temporary)) fail_drawing(temporary, "gnuplot wrote no PNG picture");
  if (std::rename(temporary.c_str(), options.out.c_str()) != 0) {
    fail_drawing(temporary, options.out + ": cannot write: " + std::strerror(errno));
  }
}

}  // namespace

int main(int argc, char** argv) {
  pcgrid::open_closed_standard_descriptors();
  read_options(argc, argv);
  read_log();
  read_matrix();
  map_values();
  draw();
  return 0;
}
