// What pctable's harnesses share: the input as a file in memory, read by
// the program's own readers; a refusal, which would end the program, thrown
// and caught instead; the table written to a file in memory and cut into
// lines and fields for the checks.
#pragma once

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "descriptor_io.hpp"
#include "failure.hpp"
#include "fuzz_input.hpp"
#include "inputs.hpp"
#include "number_text.hpp"
#include "options.hpp"
#include "table_output.hpp"

namespace pctable {

struct Refused {};

void fail_plain(std::string_view) {
  throw Refused{};
}
void fail(std::string_view, std::string_view) {
  throw Refused{};
}
void fail_at(std::string_view, std::int64_t, std::string_view) {
  throw Refused{};
}

}  // namespace pctable

namespace pctable::fuzzing {

using pcgrid::fuzzing::check;

// The options that the first byte of the input chooses: labels from column
// 1, columns 2 and 3, points.
inline Options options_from(std::uint8_t choice) {
  Options options;
  if ((choice & 1) != 0) options.label_column = 1;
  if ((choice & 2) != 0) {
    options.columns[0] = 2;
    options.columns[1] = 3;
    options.column_count = 2;
  }
  if ((choice & 4) != 0 && options.label_column == 0) options.points = true;
  return options;
}

// `bytes` as a regular file of the given kind.
inline Input input_of(std::string_view bytes, Kind kind) {
  Input input;
  input.name = "fuzz";
  input.fd = memfd_create("fuzz-input", MFD_CLOEXEC);
  check(input.fd >= 0, "memory file created");
  check(pcgrid::write_fully(input.fd, bytes.data(), bytes.size()) == 0, "memory file written");
  struct stat status {};
  check(fstat(input.fd, &status) == 0, "memory file found");
  input.source = Source::file;
  input.regular = true;
  input.size = status.st_size;
  input.modified = status.st_mtim;
  input.kind = kind;
  return input;
}

// The table's lines, each cut at its spaces.
using Lines = std::vector<std::vector<std::string>>;

// Standard output is a file in memory, emptied before each input.
inline Lines table_written(Output& output) {
  static const bool redirected = [] {
    const int fd = memfd_create("fuzz-table", MFD_CLOEXEC);
    return fd >= 0 && dup2(fd, STDOUT_FILENO) == STDOUT_FILENO;
  }();
  check(redirected, "standard output in memory");
  finish_output(output);
  const off_t size = lseek(STDOUT_FILENO, 0, SEEK_CUR);
  std::string text(static_cast<std::size_t>(size), '\0');
  check(pread(STDOUT_FILENO, text.data(), text.size(), 0) == size, "table read back");
  check(ftruncate(STDOUT_FILENO, 0) == 0 && lseek(STDOUT_FILENO, 0, SEEK_SET) == 0,
        "table emptied");
  Lines lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    check(end != std::string::npos, "every line ends with a newline");
    std::vector<std::string>& fields = lines.emplace_back();
    for (std::size_t at = start; at <= end;) {
      const std::size_t space = std::min(text.find(' ', at), end);
      fields.push_back(text.substr(at, space - at));
      at = space + 1;
    }
    start = end + 1;
  }
  return lines;
}

// Reads the input as `read` does, and checks what every table must be:
// one line per frame, each with a label (the frame number, or an integer)
// and the same number of components, or 2 or 3 columns for points; each
// component a finite decimal number that `is_from_input` accepts.
template <typename Read, typename FromInput>
void read_and_check(std::string_view bytes, Kind kind, Read read, FromInput is_from_input) {
  if (bytes.empty()) return;
  const Options options = options_from(static_cast<std::uint8_t>(bytes[0]));
  Input input = input_of(bytes.substr(1), kind);
  static Output output;
  Table table;
  table.options = &options;
  table.output = &output;
  table.writing = true;
  bool refused = false;
  try {
    read(table, input);
  } catch (const Refused&) {
    refused = true;
  }
  close(input.fd);
  const Lines lines = table_written(output);
  if (refused) return;
  check(static_cast<std::int64_t>(lines.size()) == table.frames, "a line per frame");
  const int first = options.points ? 0 : 1;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::vector<std::string>& fields = lines[i];
    check(static_cast<int>(fields.size()) == first + table.components, "every component");
    if (options.points) check(fields.size() == 2 || fields.size() == 3, "2 or 3 columns");
    if (!options.points && options.label_column == 0) {
      check(fields[0] == std::to_string(i + 1), "frame numbers as labels");
    }
    if (!options.points) check(is_int32_text(fields[0]), "32-bit labels");
    for (std::size_t f = first; f < fields.size(); ++f) {
      check(check_number(fields[f]) == NumberText::ok, "finite decimal components");
      check(is_from_input(i, f - first, fields[f]), "components from the input");
    }
  }
}

}  // namespace pctable::fuzzing
