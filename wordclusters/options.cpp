#include "options.hpp"

#include <getopt.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <span>
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
    "                    [--segments [NAME:]N1,...] [--by-segment FILE] [--blocks K]\n"
    "                    [--temperature T] [--dictionary DICT] [FILE]\n"
    "   or: wordclusters --counts [FILE]\n"
    "   or: wordclusters --counted [--counts] [options of the first form] [FILE...]\n"
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
    "  --segments [NAME:]N1,...  the frames are trajectories of N1, N2, ... frames end to end\n"
    "  --by-segment FILE   per state and segment: frames, share and free energy, then the\n"
    "                      mean share over the segments and its standard error\n"
    "  --blocks K          standard errors over K blocks of frames in the report\n"
    "  --temperature T     free energies in kJ/mol at T kelvin, not in kT\n"
    "  --dictionary DICT   the states of DICT (a dictionary made before), not new ones\n"
    "  --counts            write the counted words (\"COUNT WORD\" lines), not the dictionary\n"
    "  --counted           the files are count files, whose counts are added up\n"
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
  BY_SEGMENT,
  COUNTS,
  COUNTED,
  DICTIONARY,
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
    {"by-segment", required_argument, nullptr, BY_SEGMENT},
    {"counts", no_argument, nullptr, COUNTS},
    {"counted", no_argument, nullptr, COUNTED},
    {"dictionary", required_argument, nullptr, DICTIONARY},
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

// A segment's name: 1 to 64 bytes of printable ASCII, no blank, comma or colon.
bool is_segment_name(std::string_view name) {
  return !name.empty() && name.size() <= 64 && std::all_of(name.begin(), name.end(), [](char c) {
    return c > ' ' && c < 0x7f && c != ',' && c != ':';
  });
}

void read_segments(std::string_view value, Options& options) {
  options.segments_given = true;
  options.segments.clear();
  options.segment_names.clear();
  std::uint64_t total = 0;
  for (std::size_t start = 0;;) {
    const std::size_t comma = std::min(value.find(',', start), value.size());
    std::string_view item = value.substr(start, comma - start);
    std::string name = std::to_string(options.segments.size() + 1);
    if (const std::size_t colon = item.find(':'); colon != std::string_view::npos) {
      name = item.substr(0, colon);
      item.remove_prefix(colon + 1);
      if (!is_segment_name(name)) {
        usage_error("--segments needs names of 1 to 64 printable characters without blanks, not " +
                    quoted(name));
      }
    }
    std::uint64_t frames = 0;
    if (!parse_number(item, frames) || frames > UINT64_MAX - total) {
      usage_error("--segments needs frame counts separated by commas, not " + quoted(value));
    }
    total += frames;
    options.segments.push_back(frames);
    options.segment_names.push_back(name);
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
    case BY_SEGMENT:
      options.by_segment = output_name(code, value);
      break;
    case COUNTS:
      options.counts = true;
      break;
    case COUNTED:
      options.counted = true;
      break;
    case DICTIONARY:
      options.dictionary = file_name(code, value);
      break;
    case TEMPERATURE:
      if (!parse_number(text, options.temperature) || !std::isfinite(options.temperature) ||
          !(options.temperature > 0)) {
        usage_error("--temperature needs a number of kelvin above 0, not " + quoted(text));
      }
      break;
  }
}

// A long option that begins two or more names and is none of them.
void refuse_ambiguous(std::string_view argument) {
  if (!argument.starts_with("--")) return;
  const std::string_view name = argument.substr(2, argument.find('=') - 2);
  if (name.empty()) return;
  std::string possibilities;
  int matches = 0;
  for (const option& o : LONG_OPTIONS) {
    if (o.name == nullptr) break;
    if (name == o.name) return;
    if (std::string_view(o.name).starts_with(name)) {
      possibilities += " '--" + std::string(o.name) + "'";
      ++matches;
    }
  }
  if (matches > 1) {
    usage_error("option " + quoted(argument.substr(0, name.size() + 2)) +
                " is ambiguous; possibilities:" + possibilities);
  }
}

// Options that only a state file uses, given without one.
void refuse_unused(const Options& options) {
  if (options.scan) return;  // refused with --scan instead
  if (options.by_segment != nullptr && !options.segments_given) {
    usage_error("--by-segment needs --segments, which names the segments");
  }
  if (options.blocks != 0 && options.report == nullptr) {
    usage_error("--blocks needs --report, whose standard errors it gives");
  }
  if (options.temperature != 0 && options.report == nullptr) {
    usage_error("--temperature needs --report, whose free energies it gives");
  }
  if (options.segments_given && options.report == nullptr && options.transitions == nullptr &&
      options.by_segment == nullptr) {
    usage_error("--segments needs --report, --transitions or --by-segment, which it cuts");
  }
}

// Whether the option `code` stands for was given.
bool is_given(const Options& options, int code) {
  switch (code) {
    case WEIGHTS:
      return options.weights != nullptr;
    case REPORT:
      return options.report != nullptr;
    case NDX:
      return options.ndx != nullptr;
    case TRAJECTORY:
      return options.trajectory != nullptr;
    case TRANSITIONS:
      return options.transitions != nullptr;
    case SEGMENTS:
      return options.segments_given;
    case BLOCKS:
      return options.blocks != 0;
    case TEMPERATURE:
      return options.temperature != 0;
    case BY_SEGMENT:
      return options.by_segment != nullptr;
    case COUNTS:
      return options.counts;
    case DICTIONARY:
      return options.dictionary != nullptr;
    default:
      return false;
  }
}

// The first of `codes` whose option was given, or 0.
int first_given(const Options& options, std::span<const int> codes) {
  for (const int code : codes) {
    if (is_given(options, code)) return code;
  }
  return 0;
}

// The options that --scan cannot go with, in the order of the help.
constexpr int NOT_WITH_SCAN[] = {WEIGHTS,     REPORT,   NDX,       TRAJECTORY,
                                 TRANSITIONS, SEGMENTS, BLOCKS,    TEMPERATURE,
                                 BY_SEGMENT,  COUNTS,   DICTIONARY};

// The options that need the frames, which count files do not hold.
constexpr int FRAME_OPTIONS[] = {WEIGHTS,  REPORT,     NDX,    TRAJECTORY,  TRANSITIONS,
                                 SEGMENTS, BY_SEGMENT, BLOCKS, TEMPERATURE, DICTIONARY};

void refuse_with_scan(const Options& options) {
  if (const int code = first_given(options, NOT_WITH_SCAN)) {
    usage_error("--scan cannot be combined with " + option_name(code));
  }
}

int frame_option_given(const Options& options) {
  return first_given(options, FRAME_OPTIONS);
}

void refuse_with_counted(const Options& options) {
  if (const int code = frame_option_given(options)) {
    usage_error("--counted cannot be combined with " + option_name(code) +
                ": count files hold no frames");
  }
}

// --counts writes the counts alone.
void refuse_with_counts(const Options& options) {
  if (const int code = frame_option_given(options)) {
    usage_error("--counts cannot be combined with " + option_name(code));
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
      // An unknown option, an ambiguous beginning, or a known option given
      // a value it does not take.
      const bool is_short = optopt != 0 && optopt < 256;
      if (!is_short) refuse_ambiguous(argv[optind - 1]);
      usage_error("unknown option " + quoted(is_short ? std::string{'-', static_cast<char>(optopt)}
                                                      : std::string(argv[optind - 1])));
    }
    set_option(code, optarg, options);
  }
  for (int a = optind; a < argc; ++a) {
    if (options.counted) {
      options.count_files.push_back(argv[a]);
      continue;
    }
    if (options.file != nullptr) usage_error("one input file at most, not also " + quoted(argv[a]));
    options.file = argv[a];
  }
  if (options.scan) refuse_with_scan(options);
  if (options.counted) refuse_with_counted(options);
  if (options.counts) refuse_with_counts(options);
  refuse_unused(options);
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
                             {"--transitions", options.transitions},
                             {"--by-segment", options.by_segment}};
  for (const NamedOutput& n : all) {
    if (n.name != nullptr) named.push_back(n);
  }
  return named;
}

bool keeps_frames(const Options& options) {
  return options.report != nullptr || options.ndx != nullptr || options.trajectory != nullptr ||
         options.transitions != nullptr || options.weights != nullptr ||
         options.by_segment != nullptr || options.dictionary != nullptr;
}

}  // namespace wordclusters
