// The two passes over gridmap's data file, and the state they share. The
// reference build reads the file a line at a time, as fgets gives it
// (line_passes.cpp); the build's own reads it a block at a time and converts
// the block's lines on all threads (block_passes.cpp). Both then take the
// lines in file order, as if each had just been read, so that every message,
// limit and sum is the same.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string_view>

#include "arguments.hpp"
#include "grid_accumulator.hpp"
#include "line_reader.hpp"
#include "point_blocks.hpp"

namespace gridmap {

inline constexpr char COUNTER_START[] = "Now reading line ";
inline constexpr char BACKSPACES[] = "\b\b\b\b\b\b\b\b\b";  // over the nine places of the counter
inline constexpr char BAD_LINE[] = "Failed to read data from line";
inline constexpr char NOT_CONSTANT[] = "Number of columns not constant";
inline constexpr char CANNOT_READ[] = "\nCan not read file %s.\n";
inline constexpr char CHANGED[] = "\nFile %s changed between the two passes.\n";
inline constexpr int COUNT_EVERY = 100;  // lines between two prints of the progress counter

// What every step of a pass works on: the command line, the node tables
// and the data file, opened for reading.
struct Run {
  const Arguments& args;
  GridAccumulator& grid;
  pcgrid::LineReader& reader;
};

// What the first pass saw, which the second must see again: its lines and
// the size of the file at its end.
struct FileSeen {
  std::int32_t lines;
  off_t size;
  timespec modified;  // when the file was last written
  // The points of the first lines of the file, kept by the first pass
  // (block reading only): their count and the bytes they were read from.
  const PointRecord* kept;
  std::size_t kept_points;
  off_t kept_bytes;
};

// Whether the file is as the first pass left it: the same size, written
// at the same time.
bool unchanged_since(const Run& run, const FileSeen& seen);

// What is wrong with a line, and the line quoted as read, its own newline
// included.
[[noreturn]] void refuse_line(const char* what, std::string_view line);

// The progress counter in nine places, after `before` (its title, or
// backspaces over the previous count); overwritten in place on a terminal,
// and flushed there so that it is seen changing.
void show_count(const char* before, const char* after, std::int32_t count);

// One more line accepted, and the counter shown at each COUNT_EVERY lines.
void accept_line(GridAccumulator& grid, const char* name);

// The counter's last count; the file rewound for the second pass.
FileSeen end_first_pass(const Run& run);

// The second pass announced and its counter started: the limits of the
// data, which place the nodes unless limits were given.
NodeLimits start_second_pass(GridAccumulator& grid);

// The second pass must have read the lines the first pass counted, no more
// and no fewer; then the file is closed.
void end_second_pass(const Run& run, const FileSeen& seen, std::int32_t left_out);

// A stream read once, on limits given: announced with the grid, and its
// counter ended, the count of its lines told and the stream closed.
void start_one_pass(GridAccumulator& grid);
void end_one_pass(const Run& run);

// The passes: every line checked, weights included, and the limits of x
// and y found; then every point added to its node.
FileSeen first_pass_by_lines(const Run& run);
void second_pass_by_lines(const Run& run, const FileSeen& seen);
FileSeen first_pass_by_blocks(const Run& run);
void second_pass_by_blocks(const Run& run, const FileSeen& seen);

// Both passes in one, over a stream on limits given: every line checked,
// the limits of x and y found and every point added to its node. Returns
// the number of points outside the limits.
std::int32_t one_pass_by_lines(const Run& run);
std::int32_t one_pass_by_blocks(const Run& run);

}  // namespace gridmap
