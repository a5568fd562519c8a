// pctable's command line.
#pragma once

#include <string_view>
#include <vector>

namespace pctable {

inline constexpr int MAX_FIELDS = 4096;  // fields of an input line (of a joined xvg line)
inline constexpr int MAX_CHOSEN = 64;    // entries of --columns

struct Options {
  std::vector<std::string_view> files;  // "-" is standard input; none: standard input
  int label_column = 0;                 // 0: labels are the frame numbers
  int columns[MAX_CHOSEN] = {};         // --columns, numbered from 1
  int column_count = 0;                 // 0: the default columns
  bool points = false;
  const char* output = nullptr;  // -o OUT; null: standard output
};

// The options and files of the command line; --help and --version end the
// process with status 0, a usage error with status 2.
Options parse_options(int argc, char** argv);

}  // namespace pctable
