// The weights of the frames, one a line, read as the frames are taken in
// order: each written as a weight (pcgrid::is_weight_text), with blanks
// around it and a CR LF line end allowed, and finite. A file may be read a
// second time; one that cannot be rewound (a pipe) is copied, as it is read
// the first time, to an unnamed file in $TMPDIR.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace wordclusters {

constexpr std::size_t WEIGHT_BUFFER_BYTES = std::size_t{1} << 20;

struct WeightFile {
  std::string name;  // as messages give it
  int fd = -1;
  int copy = -1;  // the copy read the second time, or -1
  bool second_reading = false;
  off_t start = 0;  // where a rewound file starts again
  off_t size = 0;   // of a regular file when it was opened, and its modification time
  timespec modified{};
  std::uint64_t line = 0;  // lines taken
  std::size_t begin = 0, end = 0;
  bool at_end = false;
  double scale = 1;  // a power of two every weight is taken times
  std::vector<char> buffer;  // WEIGHT_BUFFER_BYTES once opened; the lines at begin .. end
};

// Opens `path` ("-": standard input, already open); `twice`: it will be read
// again. Refuses what cannot be opened.
void open_weights(WeightFile& file, const char* path, bool twice);

// The next frame's weight; false after the last line. Refuses a line that is
// not a weight.
bool next_weight(WeightFile& file, double& weight);

// Refuses a file with a weight after the first `frames`, which it has just
// read; what follows is not read (it may be a stream without end).
void expect_end(WeightFile& file, std::uint64_t frames);

// Refuses a file whose weights ran out at `frames` before the input's.
[[noreturn]] void too_few_weights(const WeightFile& file, std::uint64_t frames,
                                  std::uint64_t input_frames);

// Starts the second reading.
void reread_weights(WeightFile& file);

}  // namespace wordclusters
