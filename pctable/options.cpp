#include "options.hpp"

#include <getopt.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "messages.hpp"
#include "pcgrid_version.hpp"

namespace pctable {

namespace {

constexpr char HELP[] =
    "Usage: pctable [OPTION]... [FILE]...\n"
    "Write one PC table (an integer label, then the components, per line) from\n"
    "GROMACS xvg files, delimited text (white space, commas, semicolons or tabs)\n"
    "and NumPy .npy arrays. With no FILE, or when FILE is -, read standard input.\n"
    "\n"
    "  --label-column N  take the labels from column N (32-bit integers);\n"
    "                    without it the labels are the frame numbers 1, 2, 3, ...\n"
    "  --columns LIST    the columns to keep as components, in this order,\n"
    "                    e.g. 2-4 or 2,5,3 (columns of the input line, from 1)\n"
    "  --points          write the 2 or 3 chosen columns, without a label, for gridmap\n"
    "  -o OUT            write OUT (whole, or not at all) instead of standard output;\n"
    "                    - is standard output\n"
    "  --help            show this help and exit\n"
    "  --version         show the version and exit\n"
    "\n"
    "Numbers in text are copied as they stand. A summary goes to standard error.\n"
    "Exit status: 0 on success, 1 on bad input, 2 on a usage error.\n";

[[noreturn]] void usage_error(const std::string& message) {
  pcgrid::refuse("pctable", message, 2, "Try 'pctable --help'.\n");
}

int column_number(std::string_view option, std::string_view text) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc{} || end != text.data() + text.size() || value < 1 ||
      value > MAX_FIELDS) {
    usage_error(std::string(option) + ": expected a column number from 1 to " +
                std::to_string(MAX_FIELDS) + ", found '" + std::string(text) + "'");
  }
  return value;
}

void add_column(Options& options, int column) {
  if (options.column_count == MAX_CHOSEN) {
    usage_error("--columns: expected at most " + std::to_string(MAX_CHOSEN) + " columns");
  }
  options.columns[options.column_count++] = column;
}

// "2-4", "2,5,3", "1,3-5": single columns and increasing ranges.
void parse_columns(Options& options, std::string_view list) {
  options.column_count = 0;
  if (list.empty()) usage_error("--columns: expected a list such as 2-4 or 2,5,3, found ''");
  while (true) {
    const std::size_t comma = list.find(',');
    const std::string_view item = list.substr(0, comma);
    const std::size_t dash = item.find('-');
    if (dash == std::string_view::npos) {
      add_column(options, column_number("--columns", item));
    } else {
      if (dash == 0 || dash + 1 == item.size()) {
        usage_error("--columns: expected a range with both ends, such as 2-4, found '" +
                    std::string(item) + "' (columns are numbered from 1)");
      }
      const int first = column_number("--columns", item.substr(0, dash));
      const int last = column_number("--columns", item.substr(dash + 1));
      if (last < first) {
        usage_error("--columns: expected an increasing range, found '" + std::string(item) + "'");
      }
      for (int column = first; column <= last; ++column) add_column(options, column);
    }
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
}

// The choices that contradict each other or the table format.
void check_options(const Options& options) {
  if (options.points && options.label_column != 0) {
    usage_error("--points writes no labels: --label-column does not go with it");
  }
  for (int i = 0; i < options.column_count; ++i) {
    if (options.columns[i] == options.label_column) {
      usage_error("--columns: column " + std::to_string(options.label_column) +
                  " is the label column");
    }
  }
  if (options.column_count > 0) {
    if (options.points && (options.column_count < 2 || options.column_count > 3)) {
      usage_error("--columns: expected 2 or 3 columns with --points, found " +
                  std::to_string(options.column_count));
    }
    if (!options.points && options.column_count > 10) {
      usage_error("--columns: expected at most 10 components, found " +
                  std::to_string(options.column_count));
    }
  }
  int standard_input = 0;
  for (const std::string_view file : options.files) standard_input += file == "-";
  if (standard_input > 1) usage_error("standard input (-) named more than once");
}

}  // namespace

Options parse_options(int argc, char** argv) {
  enum { LABEL_COLUMN = 256, COLUMNS, POINTS, HELP_OPTION, VERSION_OPTION };
  static const option LONG_OPTIONS[] = {
      {"label-column", required_argument, nullptr, LABEL_COLUMN},
      {"columns", required_argument, nullptr, COLUMNS},
      {"points", no_argument, nullptr, POINTS},
      {"help", no_argument, nullptr, HELP_OPTION},
      {"version", no_argument, nullptr, VERSION_OPTION},
      {nullptr, 0, nullptr, 0},
  };
  const auto option_name = [](int code) {
    for (const option& o : LONG_OPTIONS) {
      if (o.name != nullptr && o.val == code) return "--" + std::string(o.name);
    }
    return "-" + std::string(1, static_cast<char>(code));
  };
  Options options;
  opterr = 0;  // the messages below instead of getopt's
  for (;;) {
    const int code = getopt_long(argc, argv, ":o:", LONG_OPTIONS, nullptr);
    if (code == -1) break;
    switch (code) {
      case 'o':
        if (*optarg == '\0') usage_error("-o: expected a file name, found ''");
        options.output = optarg;
        break;
      case LABEL_COLUMN:
        options.label_column = column_number("--label-column", optarg);
        break;
      case COLUMNS:
        parse_columns(options, optarg);
        break;
      case POINTS:
        options.points = true;
        break;
      case HELP_OPTION:
        std::fputs(HELP, stdout);
        std::exit(std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1);
      case VERSION_OPTION:
        std::printf("pctable (pcgrid) %s\n", pcgrid::VERSION);
        std::exit(std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1);
      case ':':
        usage_error("option '" + option_name(optopt) + "' needs a value");
      default:
        if (optopt >= LABEL_COLUMN)
          usage_error("option '" + option_name(optopt) + "' takes no value");
        if (optopt != 0) usage_error("unknown option '" + option_name(optopt) + "'");
        const std::string_view arg = argv[optind - 1];
        usage_error("unknown option '" + std::string(arg.substr(0, arg.find('='))) + "'");
    }
  }
  for (int i = optind; i < argc; ++i) options.files.push_back(argv[i]);
  check_options(options);
  return options;
}

}  // namespace pctable
