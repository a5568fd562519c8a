#include "word_options.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "output.hpp"

namespace pcgrid {

namespace {

// A failure to write is reported as any other write to standard output.
[[noreturn]] void print_and_exit(std::string_view text) {
  put_output(text);
  flush_output();
  std::exit(0);
}

[[noreturn]] void usage_error(const WordProgram& program, const char* what) {
  std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", program.name, what, program.name);
  std::exit(2);
}

bool is_option(const char* argument) {
  return std::strncmp(argument, "--", 2) == 0;
}

}  // namespace

WordOptions read_word_options(int argc, char** argv, const WordProgram& program) {
  WordOptions options;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) print_and_exit(program.help);
    if (std::strcmp(argv[i], "--version") == 0) {
      print_and_exit(std::string(program.name) + " (pcgrid) " + PCGRID_VERSION + "\n");
    }
  }
  char** inputs = argv;  // the inputs are gathered in place, at argv's start
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--grid" || argument.starts_with("--grid=")) {
      if (options.grid != nullptr) usage_error(program, "--grid is given twice");
      if (argument == "--grid" && i + 1 == argc) usage_error(program, "--grid needs a grid file");
      options.grid = argument == "--grid" ? argv[++i] : argv[i] + std::strlen("--grid=");
      if (*options.grid == '\0') usage_error(program, "--grid needs a grid file");
      if (std::strcmp(options.grid, "-") == 0) {
        usage_error(program, "--grid needs a grid file, not '-': standard input holds the table");
      }
    } else if (program.grid_of && argument == "--grid-of") {
      options.grid_of = true;
    } else if (!is_option(argv[i]) || argument == "--") {
      if (argument != "--") inputs[options.input_count++] = argv[i];
    }
  }
  if (options.grid != nullptr && options.grid_of) {
    usage_error(program, "--grid and --grid-of cannot be combined");
  }
  options.inputs = inputs;
  if (!options.grid_of) options.input_count = 0;
  return options;
}

}  // namespace pcgrid
