// Reading a text stream in the pieces that fgets(buffer, max + 1, stream)
// returns: a line with its newline, or its first `max` characters when it
// is longer (the rest comes as further pieces), or the last characters of
// the stream without a newline. A read error ends the stream like its end,
// and is remembered in `failed`.
//
// Each piece is given as the text that C string functions see in it: up to
// its first NUL byte. It stays valid until the next read. In the reference
// build the pieces come from fgets itself and are NUL-terminated.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string_view>

#include "limits.hpp"

namespace pcgrid {

inline constexpr std::size_t READ_BLOCK = std::size_t{1} << 20;

struct LineReader {
  std::FILE* file;
  std::size_t max;    // characters per piece, at most MAX_PIECE
  std::size_t begin;  // unread bytes are buffer[begin .. end)
  std::size_t end;
  bool at_end;  // the stream has nothing more to give
  bool failed;  // because reading it failed
  char buffer[READ_BLOCK + MAX_PIECE + 1];
};

// Starts reading `file` in pieces of at most `max` characters.
void start_reading(LineReader& reader, std::FILE* file, std::size_t max);

// The next piece; false at the end of the stream.
bool read_piece(LineReader& reader, std::string_view& piece);

// Back to the start of a seekable stream; false if it cannot seek.
bool rewind_reader(LineReader& reader);

}  // namespace pcgrid
