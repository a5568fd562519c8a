#include "options.hpp"

#include <getopt.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "numbers.hpp"

namespace gridplot {

namespace {

constexpr std::string_view VERSION = PCGRID_VERSION;

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

std::string quoted(std::string_view text) {
  return "'" + std::string(text) + "'";
}

void set_label(std::string& label, std::string_view name, std::string_view value) {
  if (value.find_first_of("\n\r") != std::string_view::npos) {
    usage_error(std::string(name) + " needs a text of one line");
  }
  label = value;
}

void set_option(Options& options, std::string_view name, std::string_view value) {
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

constexpr option LONG_OPTIONS[] = {
    {"matrix", required_argument, nullptr, 0}, {"temperature", required_argument, nullptr, 0},
    {"unit", required_argument, nullptr, 0},   {"xlabel", required_argument, nullptr, 0},
    {"ylabel", required_argument, nullptr, 0}, {"zlabel", required_argument, nullptr, 0},
    {"title", required_argument, nullptr, 0},  {"help", no_argument, nullptr, 0},
    {"version", no_argument, nullptr, 0},      {nullptr, 0, nullptr, 0},
};

// The option as the user wrote it, without its value: "--size" of "--size=3".
std::string written(const char* arg) {
  const std::string_view text = arg;
  return std::string(text.substr(0, text.find('=')));
}

}  // namespace

void usage_error(const std::string& what) {
  std::fprintf(stderr, "gridplot: %s (see gridplot --help)\n", what.c_str());
  std::exit(2);
}

std::string folder_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

Options read_options(int argc, char** argv) {
  Options options;
  opterr = 0;  // the messages are ours
  int index = 0;
  for (int got; (got = getopt_long(argc, argv, ":", LONG_OPTIONS, &index)) != -1;) {
    if (got == '?') usage_error("unknown option " + quoted(written(argv[optind - 1])));
    if (got == ':') usage_error(written(argv[optind - 1]) + " needs a value");
    const std::string name = std::string("--") + LONG_OPTIONS[index].name;
    if (name == "--help") {
      std::fputs(USAGE, stdout);
      std::exit(std::fflush(stdout) == 0 ? 0 : 1);
    } else if (name == "--version") {
      std::printf("gridplot (pcgrid) %.*s\n", static_cast<int>(VERSION.size()), VERSION.data());
      std::exit(std::fflush(stdout) == 0 ? 0 : 1);
    }
    set_option(options, name, optarg);
  }
  const int files = argc - optind;
  if (files == 0) usage_error("no LOG named");
  if (files > 2) usage_error("too many files: LOG and OUT at most");
  if (options.unit != Unit::kT && options.temperature == 0) {
    usage_error("--unit kJ/mol and kcal/mol need --temperature");
  }
  if (options.temperature != 0 && !options.unit_given) options.unit = Unit::kJ_per_mol;
  options.log = argv[optind];
  const std::string folder = folder_of(options.log);
  options.out = files == 2 ? argv[optind + 1] : folder + "landscape.png";
  if (options.matrix.empty()) options.matrix = folder + "grid.matrix";
  return options;
}

}  // namespace gridplot
