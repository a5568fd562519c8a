// Reading lettercode's words, one per line, from a descriptor: every word
// counted, and, when asked, the word of every frame kept as a 4-byte number
// (the word's place in the order of first appearance), in memory reserved as
// the frames come. A refusal stops the reading and says where and why.
#pragma once

#include <cstdint>
#include <string>

#include "word_counts.hpp"

namespace wordclusters {

enum class WordError {
  none,
  read_failed,  // `number`: the errno
  empty_line,
  not_a_letter,     // `byte` at `column`
  too_long,         // more than 10 letters
  other_length,     // `number` letters, the first word's `letters`
  too_many_frames,  // more frames than 4-byte numbers can name
  out_of_memory,    // for the frames' words
};

struct WordInput {
  WordCounts counts;
  int letters = 0;  // of every word: the first's
  std::uint64_t lines = 0;
  // When `keep_frames`: frame f's word number (from 0) is frame_word[f];
  // each slot's value holds the word's number in its high 32 bits and its
  // count in the low 32.
  bool keep_frames = false;
  std::uint32_t* frame_word = nullptr;
  std::size_t reserved_frames = 0;
  // The refusal, at line lines + 1.
  WordError error = WordError::none;
  std::uint64_t number = 0;
  std::size_t column = 0;
  unsigned char byte = 0;
};

// Reads `fd` to its end or its first refusal; false on a refusal. `input`
// must be fresh (its keep_frames set as wanted).
bool read_words(int fd, WordInput& input);

// What went wrong, as the message's text after "NAME:LINE: " (or after
// "NAME: " for read_failed and too_many_frames; out_of_memory's text is the
// whole message).
std::string describe_error(const WordInput& input);
bool error_has_line(WordError error);

// Gives back every table of `input`.
void release_words(WordInput& input);

}  // namespace wordclusters
