#include "word_options.hpp"

#include <cstdlib>
#include <cstring>
#include <string>

#include "output.hpp"

namespace pcgrid {

namespace {

// A failure to write is reported as any other write to standard output.
[[noreturn]] void print_and_exit(std::string_view text) {
  put_output(text);
  flush_output();
  std::exit(0);
}

}  // namespace

void read_word_options(int argc, char** argv, const WordProgram& program) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) print_and_exit(program.help);
    if (std::strcmp(argv[i], "--version") == 0) {
      print_and_exit(std::string(program.name) + " (pcgrid) " + PCGRID_VERSION + "\n");
    }
  }
}

}  // namespace pcgrid
