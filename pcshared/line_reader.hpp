// Reading a text stream in the pieces that fgets(buffer, max + 1, stream)
// returns: a line with its newline, or its first `max` characters when it
// is longer (the rest comes as further pieces), or the last characters of
// the stream without a newline. A read error ends the stream at once, the
// pieces still buffered included, and is remembered in `failed` and
// `error`. A descriptor left non-blocking is waited on until it is readable.
//
// Each piece is given as the text that C string functions see in it: up to
// its first NUL byte. It stays valid until the next read. In the reference
// build the pieces come from fgets itself and are NUL-terminated.
#pragma once

#include <cstddef>
#include <cstdio>
#include <span>
#include <string_view>

#include "limits.hpp"

namespace pcgrid {

inline constexpr std::size_t READ_BLOCK = std::size_t{1} << 23;

struct LineReader {
  std::FILE* file;
  std::size_t max;    // characters per piece, at most MAX_PIECE
  std::size_t begin;  // unread bytes are buffer[begin .. end)
  std::size_t end;
  bool at_end;  // the stream has nothing more to give
  bool failed;  // because reading it failed
  int error;    // errno of the failed read
  char buffer[READ_BLOCK + MAX_PIECE + 1];
};

// Starts reading `file` in pieces of at most `max` characters.
void start_reading(LineReader& reader, std::FILE* file, std::size_t max);

// The next piece; false at the end of the stream or after a read error.
bool read_piece(LineReader& reader, std::string_view& piece);

// The next pieces, as many as `pieces` has room for and the buffer holds
// after one refill (at least one, unless the stream has ended or failed).
// They stay valid until the next read. In the reference build, one piece.
std::size_t read_pieces(LineReader& reader, std::span<std::string_view> pieces);

// Back to the start of a seekable stream; false if it cannot seek.
bool rewind_reader(LineReader& reader);

}  // namespace pcgrid
