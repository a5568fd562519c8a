#include "options.hpp"

#include <getopt.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "messages.hpp"
#include "numbers.hpp"

namespace gridplot {

namespace {

constexpr std::string_view VERSION = PCGRID_VERSION;

constexpr char USAGE[] =
    "Usage: gridplot [options] LOG [OUT]\n"
    "Draws the gridmap run whose standard output was saved in LOG as a picture (OUT,\n"
    "default landscape.png beside LOG; .png, .svg or .pdf), with gnuplot.\n"
    "\n"
    "  --matrix FILE       the count, weight or mean-z matrix (default grid.matrix beside LOG)\n"
    "  --temperature T     free energy in kJ/mol (or --unit) at T kelvin, not in kT\n"
    "  --unit UNIT         kT (default), kJ/mol or kcal/mol (the last two need --temperature)\n"
    "  --xlabel TEXT       the x axis' label (default PC 1)\n"
    "  --ylabel TEXT       the y axis' label (default PC 2)\n"
    "  --zlabel TEXT       the colour bar's label of a mean-z map (default mean z)\n"
    "  --title TEXT        a title above the map (default none)\n"
    "  --fmax F            the free-energy colour scale from 0 to F (default fitted)\n"
    "  --zrange LOW:HIGH   the mean-z colour scale from LOW to HIGH (default fitted)\n"
    "  --contours STEP     contour lines every STEP units of the map's value\n"
    "  --states MEMBERS    label the states of clusterback's report MEMBERS on the map\n"
    "  --state-columns I,J MEMBERS' columns of x and y (default 3,4)\n"
    "  --data FILE         write the values drawn to FILE: x y value per non-empty node\n"
    "  --minus OTHER       draw dF = -ln(p_LOG / p_OTHER), the difference from the run of\n"
    "                      the log OTHER on the same grid (its matrix beside it)\n"
    "  --help              this help\n"
    "  --version           the version\n";

using pcgrid::quoted;

// The length of the UTF-8 character at the start of `text`, 0 when it is
// not one (a stray byte, a cut or overlong sequence, a surrogate).
std::size_t utf8_length(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned first = byte(0);
  std::size_t length = 0;
  unsigned low = 0x80, high = 0xbf;  // the second byte's range
  if (first < 0x80) return 1;
  if (first >= 0xc2 && first <= 0xdf) length = 2;
  if (first >= 0xe0 && first <= 0xef) length = 3;
  if (first >= 0xf0 && first <= 0xf4) length = 4;
  if (first == 0xe0) low = 0xa0;
  if (first == 0xed) high = 0x9f;
  if (first == 0xf0) low = 0x90;
  if (first == 0xf4) high = 0x8f;
  if (length == 0 || text.size() < length || byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if ((byte(i) & 0xc0) != 0x80) return 0;
  }
  return length;
}

// A label is one line of UTF-8 text without control characters: pictures
// store it as text (SVG as XML), and neither takes the others.
void set_label(std::string& label, std::string_view name, std::string_view value) {
  if (value.find_first_of("\n\r") != std::string_view::npos) {
    usage_error(std::string(name) + " needs a text of one line");
  }
  for (std::size_t at = 0; at < value.size();) {
    const unsigned char c = static_cast<unsigned char>(value[at]);
    const std::size_t length = utf8_length(value.substr(at));
    if (length == 0) {
      usage_error(std::string(name) + " needs UTF-8 text; byte " + std::to_string(at + 1) +
                  " is not (convert it with iconv)");
    }
    if (c < 0x20 || c == 0x7f) {
      usage_error(std::string(name) + " needs text without control characters; byte " +
                  std::to_string(at + 1) + " is one");
    }
    at += length;
  }
  label = value;
}

double positive_number(std::string_view name, std::string_view value, std::string_view what) {
  double number = 0;
  if (!parse_number(value, number) || !std::isfinite(number) || !(number > 0)) {
    usage_error(std::string(name) + " needs " + std::string(what) + ", not " + quoted(value));
  }
  return number;
}

// Two numbers around a separator: "LOW:HIGH", "I,J".
template <typename T>
bool parse_pair(std::string_view text, char separator, T& first, T& second) {
  const std::size_t at = text.find(separator);
  return at != std::string_view::npos && parse_number(text.substr(0, at), first) &&
         parse_number(text.substr(at + 1), second);
}

void set_file(std::string& file, std::string_view name, std::string_view value) {
  if (value.empty()) usage_error(std::string(name) + " needs a file name");
  file = value;
}

void set_option(Options& options, std::string_view name, std::string_view value) {
  if (name == "--matrix") {
    set_file(options.matrix, name, value);
    options.matrix_given = true;
  } else if (name == "--temperature") {
    options.temperature = positive_number(name, value, "a number of kelvin above 0");
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
  } else if (name == "--title") {
    set_label(options.title, name, value);
  } else if (name == "--fmax") {
    options.fmax = positive_number(name, value, "a free energy above 0");
  } else if (name == "--zrange") {
    options.zrange_given = true;
    if (!parse_pair(value, ':', options.zlow, options.zhigh) || !std::isfinite(options.zlow) ||
        !std::isfinite(options.zhigh) || !(options.zlow < options.zhigh)) {
      usage_error("--zrange needs LOW:HIGH, two numbers with LOW below HIGH, not " + quoted(value));
    }
  } else if (name == "--contours") {
    options.contour_step = positive_number(name, value, "a step above 0");
  } else if (name == "--states") {
    set_file(options.members, name, value);
  } else if (name == "--state-columns") {
    options.state_columns_given = true;
    if (!parse_pair(value, ',', options.state_x, options.state_y) || options.state_x < 1 ||
        options.state_y < 1) {
      usage_error("--state-columns needs I,J, two column numbers from 1, not " + quoted(value));
    }
  } else if (name == "--minus") {
    set_file(options.minus, name, value);
  } else if (name == "--data") {
    set_file(options.data, name, value);
  }
}

}  // namespace

// The picture's format from OUT's extension: .png, .svg or .pdf, in any
// case; a name without one (a device, "-") is a PNG picture.
Format picture_format(const std::string& out) {
  const std::size_t slash = out.rfind('/');
  const std::string base = slash == std::string::npos ? out : out.substr(slash + 1);
  const std::size_t dot = base.rfind('.');
  if (dot == std::string::npos || dot == 0) return Format::png;
  std::string extension = base.substr(dot + 1);
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (extension == "png") return Format::png;
  if (extension == "svg") return Format::svg;
  if (extension == "pdf") return Format::pdf;
  usage_error(quoted(out) + " is not a .png, .svg or .pdf picture");
}

namespace {

// Each entry has its own value (its index + 1), so that getopt_long sees a
// prefix of several names as ambiguous instead of taking the first.
constexpr option LONG_OPTIONS[] = {
    {"matrix", required_argument, nullptr, 1},
    {"temperature", required_argument, nullptr, 2},
    {"unit", required_argument, nullptr, 3},
    {"xlabel", required_argument, nullptr, 4},
    {"ylabel", required_argument, nullptr, 5},
    {"zlabel", required_argument, nullptr, 6},
    {"title", required_argument, nullptr, 7},
    {"fmax", required_argument, nullptr, 8},
    {"zrange", required_argument, nullptr, 9},
    {"contours", required_argument, nullptr, 10},
    {"states", required_argument, nullptr, 11},
    {"state-columns", required_argument, nullptr, 12},
    {"data", required_argument, nullptr, 13},
    {"help", no_argument, nullptr, 14},
    {"version", no_argument, nullptr, 15},
    {"minus", required_argument, nullptr, 16},
    {nullptr, 0, nullptr, 0},
};

// The option as the user wrote it, without its value: "--size" of "--size=3".
std::string written(const char* arg) {
  const std::string_view text = arg;
  return std::string(text.substr(0, text.find('=')));
}

// A long option that getopt_long refused: a value given to one that takes
// none, a prefix of several names (ambiguous), or no name at all.
[[noreturn]] void refuse_option(const char* arg) {
  const std::string name = written(arg);
  std::string possibilities;
  int fits = 0;
  if (name.starts_with("--") && name.size() > 2) {
    const std::string_view prefix = std::string_view(name).substr(2);
    for (const option* o = LONG_OPTIONS; o->name != nullptr; ++o) {
      if (prefix == o->name) usage_error(name + " takes no value");
      if (std::string_view(o->name).starts_with(prefix)) {
        possibilities += " '--" + std::string(o->name) + "'";
        ++fits;
      }
    }
  }
  if (fits > 1) {
    usage_error("option " + quoted(name) + " is ambiguous; possibilities:" + possibilities);
  }
  if (fits == 1) usage_error(name + " takes no value");  // --hel=x
  usage_error("unknown option " + quoted(name));
}

}  // namespace

void usage_error(const std::string& what) {
  std::fprintf(stderr, "gridplot: %s (see gridplot --help)\n", what.c_str());
  std::exit(2);
}

Options read_options(int argc, char** argv) {
  Options options;
  opterr = 0;  // the messages are ours
  for (int got; (got = getopt_long(argc, argv, ":", LONG_OPTIONS, nullptr)) != -1;) {
    if (got == '?') refuse_option(argv[optind - 1]);
    if (got == ':') usage_error(written(argv[optind - 1]) + " needs a value");
    const std::string name = std::string("--") + LONG_OPTIONS[got - 1].name;
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
  if (options.fmax != 0 && options.zrange_given) {
    usage_error("--fmax is for free-energy maps, --zrange for mean-z maps: not both");
  }
  if (options.members.empty() && options.state_columns_given) {
    usage_error("--state-columns needs --states");
  }
  if (options.temperature != 0 && !options.unit_given) options.unit = Unit::kJ_per_mol;
  options.log = argv[optind];
  const std::string folder = folder_of(options.log);
  options.out = files == 2 ? argv[optind + 1] : folder + "landscape.png";
  if (options.matrix.empty()) options.matrix = folder + "grid.matrix";
  return options;
}

}  // namespace gridplot
