#include "options.hpp"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <string>

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
    "  -o OUT            write OUT (whole, or not at all) instead of standard output\n"
    "  --help            show this help and exit\n"
    "  --version         show the version and exit\n"
    "\n"
    "Numbers in text are copied as they stand. A summary goes to standard error.\n"
    "Exit status: 0 on success, 1 on bad input, 2 on a usage error.\n";

[[noreturn]] void usage_error(const std::string& message) {
  std::fprintf(stderr, "pctable: %s\nTry 'pctable --help'.\n", message.c_str());
  std::exit(2);
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
  Options options;
  bool only_files = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (only_files || arg == "-" || arg.empty() || arg[0] != '-') {
      options.files.push_back(arg);
      continue;
    }
    // The value of an option: after '=' in the same argument, or the next argument.
    const std::size_t equals = arg.find('=');
    const std::string_view name = arg.substr(0, equals);
    const bool takes_value = name == "--label-column" || name == "--columns";
    std::string_view value;
    if (takes_value && equals != std::string_view::npos) {
      value = arg.substr(equals + 1);
    } else if (takes_value || arg == "-o") {
      if (i + 1 == argc) usage_error("option '" + std::string(arg) + "' needs a value");
      value = argv[++i];
    } else if (arg.starts_with("-o")) {
      value = arg.substr(2);
    } else if (equals != std::string_view::npos && arg.starts_with("--")) {
      usage_error("option '" + std::string(name) + "' takes no value");
    }

    if (arg == "--") {
      only_files = true;
    } else if (arg == "--help") {
      std::fputs(HELP, stdout);
      std::exit(std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1);
    } else if (arg == "--version") {
      std::printf("pctable (pcgrid) %s\n", pcgrid::VERSION);
      std::exit(std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1);
    } else if (name == "--label-column") {
      options.label_column = column_number("--label-column", value);
    } else if (name == "--columns") {
      parse_columns(options, value);
    } else if (arg == "--points") {
      options.points = true;
    } else if (arg.starts_with("-o")) {
      if (value.empty()) usage_error("-o: expected a file name, found ''");
      options.output = value.data();
    } else {
      usage_error("unknown option '" + std::string(arg) + "'");
    }
  }
  check_options(options);
  return options;
}

}  // namespace pctable
