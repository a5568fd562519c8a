// Count files: the counted words of a run, "COUNT WORD" a line, in the
// words' byte order, which --counts writes and --counted adds up. A line is
// a count of 1 to 18446744073709551615 in decimal digits without a leading
// zero, one space, and a word of 1 to 10 letters of the code, the same
// length on every line of every file, then a newline (the last line's
// too: a file cut short in a line is refused). A word may come on several
// lines and in several files: its counts add up.
#pragma once

#include <cstdint>
#include <string>

#include "word_counts.hpp"

namespace wordclusters {

enum class CountError {
  none,
  read_failed,      // `number`: the errno
  not_a_count,      // the line does not begin with a count and a space
  not_a_word,       // what follows the space is not 1 to 10 letters
  other_length,     // `number` letters, the words so far `letters`
  no_newline,       // the last line
  too_many_frames,  // the counts add up beyond 2^64 - 1
};

struct CountReading {
  int letters = 0;           // of every word: the first's
  std::uint64_t frames = 0;  // the counts' sum, over every file read
  std::uint64_t line = 0;    // lines of the file being read
  CountError error = CountError::none;
  std::uint64_t number = 0;
};

// Adds the counts of the file on `fd` to `counts` (already started); false
// on a refusal, at line `line` + 1.
bool read_counts(int fd, WordCounts& counts, CountReading& reading);

// What went wrong, as the message's text after "NAME:LINE: " (after
// "NAME: " for read_failed).
std::string describe_count_error(const CountReading& reading);

// The count file of `counts` (values: the words' counts), appended.
void append_counts(const WordCounts& counts, int letters, std::string& text);

}  // namespace wordclusters
