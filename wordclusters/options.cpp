#include "options.hpp"

#include <getopt.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "messages.hpp"
#include "refusal.hpp"

namespace wordclusters {

namespace {

constexpr std::string_view VERSION = PCGRID_VERSION;

constexpr char USAGE[] =
    "Usage: wordclusters [--min-frames N] [--barrier B] [--min-share P] [--scan] [FILE]\n"
    "   or: wordclusters [--min-frames N] [--barrier B] [--min-share P] [--weights FILE]\n"
    "                    [--report FILE] [--ndx FILE] [--trajectory FILE] [--transitions FILE]\n"
    "                    [--segments N1,N2,...] [--blocks K] [--temperature T] [FILE]\n"
    "Reads lettercode's words, one per line, from FILE or standard input, and\n"
    "writes the cells of every metastable state as \"WORD CLUSTER\" lines.\n"
    "\n"
    "  --min-frames N      cells of fewer than N frames join no basin (default 2)\n"
    "  --barrier B         basins separated by less than B kT become one (default 1)\n"
    "  --min-share P       basins holding at least P% of the frames are states (default 1)\n"
    "  --scan              instead, a table of states and their share for barriers 0.5 to 4 kT\n"
    "  --weights FILE      one weight per frame, a line each (a number >= 0): a cell's\n"
    "                      population is the sum of its frames' weights\n"
    "  --report FILE       per state: frames, share, free energy, peak word, a representative\n"
    "                      frame, visits and their mean lifetime (tab-separated)\n"
    "  --ndx FILE          an index file: each state's frames, then the representatives\n"
    "  --trajectory FILE   the state of every frame, a line each (0: in no state)\n"
    "  --transitions FILE  \"FROM TO COUNT\" for every pair of states that follow each other\n"
    "  --segments N1,N2,...  the frames are trajectories of N1, N2, ... frames end to end\n"
    "  --blocks K          standard errors over K blocks of frames in the report\n"
    "  --temperature T     free energies in kJ/mol at T kelvin, not in kT\n"
    "  --help              this help\n"
    "  --version           the version\n"
    "See man wordclusters for every column and rule.\n";

enum OptionCode {
  MIN_FRAMES = 256,
  BARRIER,
  MIN_SHARE,
  SCAN,
  WEIGHTS,
  REPORT,
  NDX,
  TRAJECTORY,
  TRANSITIONS,
  SEGMENTS,
  BLOCKS,
  TEMPERATURE,
  HELP,
  VERSION_CODE,
};

const option LONG_OPTIONS[] = {
    {"min-frames", required_argument, nullptr, MIN_FRAMES},
    {"barrier", required_argument, nullptr, BARRIER},
    {"min-share", required_argument, nullptr, MIN_SHARE},
    {"scan", no_argument, nullptr, SCAN},
    {"weights", required_argument, nullptr, WEIGHTS},
    {"report", required_argument, nullptr, REPORT},
    {"ndx", required_argument, nullptr, NDX},
    {"trajectory", required_argument, nullptr, TRAJECTORY},
    {"transitions", required_argument, nullptr, TRANSITIONS},
    {"segments", required_argument, nullptr, SEGMENTS},
    {"blocks", required_argument, nullptr, BLOCKS},
    {"temperature", required_argument, nullptr, TEMPERATURE},
    {"help", no_argument, nullptr, HELP},
    {"version", no_argument, nullptr, VERSION_CODE},
    {nullptr, 0, nullptr, 0},
};

using pcgrid::quoted;

std::string option_name(int code) {
  for (const option& o : LONG_OPTIONS) {
    if (o.val == code) return std::string("--") + o.name;
  }
  return "";
}

// A whole number: false when it is not one; `too_large` when it is one
// beyond what Number holds.
template <typename Number>
bool parse_number(std::string_view text, Number& value, bool* too_large = nullptr) {
  if (text.empty()) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (too_large != nullptr) {
    *too_large = error == std::errc::result_out_of_range && end == text.data() + text.size();
  }
  return error == std::errc{} && end == text.data() + text.size();
}

std::uint64_t whole_number(const char* name, std::string_view value, std::uint64_t least) {
  std::uint64_t number = 0;
  bool too_large = false;
  if (!parse_number(value, number, &too_large) || number < least) {
    if (too_large) {
      usage_error(std::string(name) + " " + quoted(value) + " is too large (at most " +
                  std::to_string(UINT64_MAX) + ")");
    }
    usage_error(std::string(name) + " needs a whole number of at least " + std::to_string(least) +
                ", not " + quoted(value));
  }
  return number;
}

void read_segments(std::string_view value, Options& options) {
  options.segments_given = true;
  options.segments.clear();
  std::uint64_t total = 0;
  for (std::size_t start = 0;;) {
    const std::size_t comma = std::min(value.find(',', start), value.size());
    std::uint64_t frames = 0;
    if (!parse_number(value.substr(start, comma - start), frames) || frames > UINT64_MAX - total) {
      usage_error("--segments needs frame counts separated by commas, not " + quoted(value));
    }
    total += frames;
    options.segments.push_back(frames);
    if (comma == value.size()) break;
    start = comma + 1;
  }
}

const char* file_name(int code, const char* value) {
  if (*value == '\0') usage_error(option_name(code) + " needs a file name");
  return value;
}

const char* output_name(int code, const char* value) {
  if (std::string_view(value) == "-") {
    usage_error(option_name(code) +
                " needs a file name, not '-': standard output holds the dictionary");
  }
  return file_name(code, value);
}

[[noreturn]] void print_and_exit(const char* text) {
  std::fputs(text, stdout);
  std::exit(std::fflush(stdout) == 0 ? 0 : 1);
}

void set_option(int code, const char* value, Options& options) {
  const std::string_view text = value == nullptr ? "" : value;
  switch (code) {
    case MIN_FRAMES:
      options.min_frames = whole_number("--min-frames", text, 1);
      break;
    case BARRIER:
      if (!parse_number(text, options.barrier) || !std::isfinite(options.barrier) ||
          options.barrier < 0) {
        usage_error("--barrier needs a number of kT of at least 0, not " + quoted(text));
      }
      break;
    case MIN_SHARE:
      if (!parse_number(text, options.min_share) || !(options.min_share >= 0) ||
          !(options.min_share <= 100)) {
        usage_error("--min-share needs a percentage from 0 to 100, not " + quoted(text));
      }
      break;
    case SCAN:
      options.scan = true;
      break;
    case WEIGHTS:
      options.weights = file_name(code, value);
      break;
    case REPORT:
      options.report = output_name(code, value);
      break;
    case NDX:
      options.ndx = output_name(code, value);
      break;
    case TRAJECTORY:
      options.trajectory = output_name(code, value);
      break;
    case TRANSITIONS:
      options.transitions = output_name(code, value);
      break;
    case SEGMENTS:
      read_segments(text, options);
      break;
    case BLOCKS:
      options.blocks = whole_number("--blocks", text, 2);
      break;
    case TEMPERATURE:
      if (!parse_number(text, options.temperature) || !std::isfinite(options.temperature) ||
          !(options.temperature > 0)) {
        usage_error("--temperature needs a number of kelvin above 0, not " + quoted(text));
      }
      break;
  }
}

// The options that --scan cannot go with, in the order of the help.
void refuse_with_scan(const Options& options) {
  const std::pair<bool, int> given[] = {
      {options.weights != nullptr, WEIGHTS},
      {options.report != nullptr, REPORT},
      {options.ndx != nullptr, NDX},
      {options.trajectory != nullptr, TRAJECTORY},
      {options.transitions != nullptr, TRANSITIONS},
      {options.segments_given, SEGMENTS},
      {options.blocks != 0, BLOCKS},
      {options.temperature != 0, TEMPERATURE},
  };
  for (const auto& [is_given, code] : given) {
    if (is_given) usage_error("--scan cannot be combined with " + option_name(code));
  }
}

}  // namespace

Options read_options(int argc, char** argv) {
  Options options;
  opterr = 0;
  for (;;) {
    const int code = getopt_long(argc, argv, ":", LONG_OPTIONS, nullptr);
    if (code == -1) break;
    if (code == HELP) print_and_exit(USAGE);
    if (code == VERSION_CODE) {
      std::printf("wordclusters (pcgrid) %.*s\n", static_cast<int>(VERSION.size()), VERSION.data());
      print_and_exit("");
    }
    if (code == ':') usage_error(option_name(optopt) + " needs a value");
    if (code == '?') {
      // An unknown option, or a known one given a value it does not take.
      const bool is_short = optopt != 0 && optopt < 256;
      usage_error("unknown option " + quoted(is_short ? std::string{'-', static_cast<char>(optopt)}
                                                      : std::string(argv[optind - 1])));
    }
    set_option(code, optarg, options);
  }
  for (int a = optind; a < argc; ++a) {
    if (options.file != nullptr) usage_error("one input file at most, not also " + quoted(argv[a]));
    options.file = argv[a];
  }
  if (options.scan) refuse_with_scan(options);
  const bool words_from_standard_input =
      options.file == nullptr || std::string_view(options.file) == "-";
  if (words_from_standard_input && options.weights != nullptr &&
      std::string_view(options.weights) == "-") {
    usage_error("the words and the weights cannot both come from standard input");
  }
  return options;
}

std::vector<NamedOutput> state_outputs(const Options& options) {
  std::vector<NamedOutput> named;
  const NamedOutput all[] = {{"--report", options.report},
                             {"--ndx", options.ndx},
                             {"--trajectory", options.trajectory},
                             {"--transitions", options.transitions}};
  for (const NamedOutput& n : all) {
    if (n.name != nullptr) named.push_back(n);
  }
  return named;
}

bool keeps_frames(const Options& options) {
  return options.report != nullptr || options.ndx != nullptr || options.trajectory != nullptr ||
         options.transitions != nullptr || options.weights != nullptr;
}

}  // namespace wordclusters
