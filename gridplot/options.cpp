#include "options.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

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

bool takes_value(std::string_view name) {
  for (const std::string_view option :
       {"--matrix", "--temperature", "--unit", "--xlabel", "--ylabel", "--zlabel", "--title"}) {
    if (name == option) return true;
  }
  return false;
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
      set_option(options, name, arg.substr(equals + 1));
    } else if (takes_value(name)) {
      if (a + 1 == argc) usage_error(std::string(name) + " needs a value");
      set_option(options, name, argv[++a]);
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
  return options;
}

}  // namespace gridplot
