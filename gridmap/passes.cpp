#include "passes.hpp"

#include <sys/stat.h>

#include <cstdio>

#include "gridmap_messages.hpp"

namespace gridmap {

namespace {

// The size of the data file now; -1 if it cannot be told.
off_t data_size(const pcgrid::LineReader& reader) {
  struct stat status {};
  return fstat(fileno(reader.file), &status) == 0 ? status.st_size : -1;
}

timespec data_modified(const pcgrid::LineReader& reader) {
  struct stat status {};
  return fstat(fileno(reader.file), &status) == 0 ? status.st_mtim : timespec{-1, -1};
}

}  // namespace

[[noreturn]] void refuse_line(const char* what, std::string_view line) {
  refuse("\n%s : %.*s\n", what, static_cast<int>(line.size()), line.data());
}

void show_count(const char* before, const char* after, std::int32_t count) {
  say("%s%9d%s", before, count, after);
  if (output_is_terminal()) std::fflush(stdout);
}

void accept_line(GridAccumulator& grid, const char* name) {
  if (!count_line(grid.lines)) {
    refuse("\nToo many lines in file %s: at most 2147483647.\n", name);
  }
  if (grid.lines % COUNT_EVERY == 0) show_count(BACKSPACES, "", grid.lines);
}

FileSeen end_first_pass(const Run& run) {
  const std::int32_t lines = run.grid.lines;
  show_count(BACKSPACES, "\n", lines);
  const FileSeen seen = {lines, data_size(run.reader), data_modified(run.reader), nullptr, 0, 0};
  if (!pcgrid::rewind_reader(run.reader)) refuse(CANNOT_READ, run.args.name);
  say("Read %d lines.\n", lines);
  return seen;
}

void start_one_pass(GridAccumulator& grid) {
  say("One pass to interpolate on a %d by %d grid ...\n", grid.GX + 1, grid.GY + 1);
  grid.lines = 0;
}

void end_one_pass(const Run& run) {
  show_count(BACKSPACES, "\n", run.grid.lines);
  std::fclose(run.reader.file);
  say("Read %d lines.\n", run.grid.lines);
}

bool unchanged_since(const Run& run, const FileSeen& seen) {
  const timespec modified = data_modified(run.reader);
  return data_size(run.reader) == seen.size && modified.tv_sec == seen.modified.tv_sec &&
         modified.tv_nsec == seen.modified.tv_nsec && seen.modified.tv_sec != -1;
}

NodeLimits start_second_pass(GridAccumulator& grid) {
  say("\nSecond pass to interpolate on a %d by %d grid ...\n", grid.GX + 1, grid.GY + 1);
  grid.lines = 0;
  show_count(COUNTER_START, "", 0);
  return {grid.xmin, grid.xmax, grid.ymin, grid.ymax};
}

void end_second_pass(const Run& run, const FileSeen& seen, std::int32_t left_out) {
  if (run.grid.lines != seen.lines || data_size(run.reader) != seen.size) {
    refuse(CHANGED, run.args.name);
  }
  show_count(BACKSPACES, "\n", run.grid.lines);
  std::fclose(run.reader.file);
  if (run.args.limits_given) say("%d points outside the limits were left out.\n", left_out);
}

}  // namespace gridmap
