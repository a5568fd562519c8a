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
#include "pcgrid_config.hpp"

namespace pcgrid {

inline constexpr std::size_t READ_BLOCK = std::size_t{1} << 23;

// Bytes after the end of a block (read_block) that may be read, whatever
// they hold: room for the scans that read 64 bytes at a time.
inline constexpr std::size_t BLOCK_PADDING = 64;

// Blocks are read into two buffers in turn, so that one is parsed while the
// next is read; the reference build reads into one.
inline constexpr int READ_BUFFERS = LIBC_IO ? 1 : 2;

struct LineReader {
  std::FILE* file;
  std::size_t max;          // characters per piece, at most MAX_PIECE
  std::size_t block_bytes;  // bytes read at once, at most READ_BLOCK
  std::size_t begin;  // unread bytes are buffer[begin .. end)
  std::size_t end;
  bool at_end;   // the stream has nothing more to give
  bool failed;   // because reading it failed
  int error;     // errno of the failed read
  char* buffer;  // one of `buffers`: blocks are read into each in turn
  char buffers[READ_BUFFERS][READ_BLOCK + MAX_PIECE + BLOCK_PADDING];
};

// Starts reading `file` in pieces of at most `max` characters, and in
// blocks of about `block_bytes` (at most READ_BLOCK): less for a reader
// whose blocks become rows that must stay few.
void start_reading(LineReader& reader, std::FILE* file, std::size_t max,
                   std::size_t block_bytes = READ_BLOCK);

// The next byte of the stream, left unread; EOF at its end or after a
// read error (which the next read reports).
int peek_byte(LineReader& reader);

// The next piece; false at the end of the stream or after a read error.
bool read_piece(LineReader& reader, std::string_view& piece);

// The next pieces, as many as `pieces` has room for and the buffer holds
// after one refill (at least one, unless the stream has ended or failed).
// They stay valid until the next read. In the reference build, one piece.
std::size_t read_pieces(LineReader& reader, std::span<std::string_view> pieces);

// The next pieces, all those that read_pieces would give before its next
// refill, as one text: the first piece begins at its start, each begins
// where the one before ends (after a newline, or `max` characters into a
// longer line), and the last ends at its end. BLOCK_PADDING bytes after it
// may be read. It stays valid while the next block is read (blocks are read
// into two buffers in turn), until the one after. False at the end of the
// stream or after a read error. Not in the reference build.
bool read_block(LineReader& reader, std::string_view& block);

// The piece that begins at `start` in a text ending at `end`, which holds
// it whole (more than `max` characters, or the last ones of the stream):
// its length, and in `text` what C string functions see of it (up to its
// first NUL).
std::size_t piece_at(const char* start, const char* end, std::size_t max, std::string_view& text);

// Back to the start of a seekable stream; false if it cannot seek.
bool rewind_reader(LineReader& reader);

}  // namespace pcgrid
