#include "passes.hpp"

#include <sys/stat.h>

#include <cstdio>

#include "gridmap_messages.hpp"

namespace gridmap {

GridAccumulator grid;
pcgrid::LineReader reader;

namespace {

// The size of the data file now; -1 if it cannot be told.
off_t data_size() {
  struct stat status {};
  return fstat(fileno(reader.file), &status) == 0 ? status.st_size : -1;
}

}  // namespace

[[noreturn]] void refuse_line(const char* what, std::string_view line) {
  refuse("\n%s : %.*s\n", what, static_cast<int>(line.size()), line.data());
}

void show_count(const char* before, const char* after, std::int32_t count) {
  say("%s%9d%s", before, count, after);
  if (output_is_terminal()) std::fflush(stdout);
}

void accept_line(const char* name) {
  if (!count_line(grid.lines)) {
    refuse("\nToo many lines in file %s: at most 2147483647.\n", name);
  }
  if (grid.lines % COUNT_EVERY == 0) show_count(BACKSPACES);
}

FileSeen end_first_pass(const char* name) {
  show_count(BACKSPACES, "\n");
  const FileSeen seen = {grid.lines, data_size()};
  if (!pcgrid::rewind_reader(reader)) refuse(CANNOT_READ, name);
  say("Read %d lines.\n", grid.lines);
  return seen;
}

NodeLimits start_second_pass() {
  say("\nSecond pass to interpolate on a %d by %d grid ...\n", grid.GX + 1, grid.GY + 1);
  grid.lines = 0;
  show_count(COUNTER_START);
  return {grid.xmin, grid.xmax, grid.ymin, grid.ymax};
}

void end_second_pass(const Arguments& args, const FileSeen& seen, std::int32_t left_out) {
  if (grid.lines != seen.lines || data_size() != seen.size) refuse(CHANGED, args.name);
  show_count(BACKSPACES, "\n");
  std::fclose(reader.file);
  if (args.limits_given) say("%d points outside the limits were left out.\n", left_out);
}

}  // namespace gridmap
