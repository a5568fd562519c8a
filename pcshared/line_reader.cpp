#include "line_reader.hpp"

#include <string.h>  // memrchr
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "descriptor_io.hpp"
#include "pcgrid_config.hpp"

namespace pcgrid {

namespace {

// Fills the buffer until it holds more than `wanted` bytes (a whole piece
// when `wanted` is the piece size) or the stream ends; with `turn`, into the
// other buffer, the unread bytes moved there first.
void refill(LineReader& r, std::size_t wanted, bool turn = false) {
  const std::size_t left = r.end - r.begin;
  char* const other = r.buffers[(r.buffer == r.buffers[0] ? 1 : 0) % READ_BUFFERS];
  char* const into = turn ? other : r.buffer;
  std::memmove(into, r.buffer + r.begin, left);
  r.buffer = into;
  r.begin = 0;
  r.end = left;
  const int fd = fileno(r.file);
  while (r.end <= wanted && !r.at_end) {
    const ssize_t got = read_some(fd, r.buffer + r.end, r.block_bytes + r.max - r.end);
    if (got <= 0) {
      r.at_end = true;
      r.failed = got < 0;
      r.error = got < 0 ? errno : 0;
      break;
    }
    r.end += static_cast<std::size_t>(got);
  }
}

// Whether the buffer holds a whole piece: more than a piece's characters,
// or the last ones of the stream.
bool holds_piece(const LineReader& r) {
  return r.end - r.begin > r.max || r.at_end;
}

// The next piece from the buffer, which holds a whole one.
bool cut_piece(LineReader& r, std::string_view& piece) {
  if (r.end == r.begin) return false;
  r.begin += piece_at(r.buffer + r.begin, r.buffer + r.end, r.max, piece);
  return true;
}

// Where the pieces that the buffer holds whole end: those that begin more
// than a piece's characters before its end, or all at the end of the
// stream. The last such piece holds the byte `last` characters before the
// end; it begins after the last newline before that byte, or a multiple of
// `max` characters after it in a longer line, and ends within the buffer.
std::size_t whole_pieces_end(const LineReader& r) {
  if (r.at_end) return r.end;
  const std::size_t last = r.end - r.max - 1;
  const void* newline = memrchr(r.buffer + r.begin, '\n', last - r.begin);
  const std::size_t line =
      newline != nullptr
          ? static_cast<std::size_t>(static_cast<const char*>(newline) - r.buffer) + 1
          : r.begin;
  const std::size_t start = line + (last - line) / r.max * r.max;
  std::string_view text;
  return start + piece_at(r.buffer + start, r.buffer + r.end, r.max, text);
}

[[maybe_unused]] bool read_libc_piece(LineReader& r, std::string_view& piece) {
  errno = 0;
  if (std::fgets(r.buffer, static_cast<int>(r.max + 1), r.file) == nullptr) {
    r.failed = std::ferror(r.file) != 0;
    r.error = errno;
    return false;
  }
  piece = {r.buffer, std::strlen(r.buffer)};
  return true;
}

}  // namespace

std::size_t piece_at(const char* start, const char* end, std::size_t max, std::string_view& text) {
  const std::size_t available = static_cast<std::size_t>(end - start);
  const std::size_t limit = available < max ? available : max;
  const void* newline = std::memchr(start, '\n', limit);
  const std::size_t length =
      newline != nullptr ? static_cast<std::size_t>(static_cast<const char*>(newline) - start) + 1
                         : limit;
  const void* nul = std::memchr(start, '\0', length);
  text = {start, nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - start)
                                : length};
  return length;
}

void start_reading(LineReader& reader, std::FILE* file, std::size_t max, std::size_t block_bytes) {
  reader.file = file;
  reader.block_bytes = block_bytes < READ_BLOCK ? block_bytes : READ_BLOCK;
  reader.buffer = reader.buffers[0];
  reader.max = max < MAX_PIECE ? max : MAX_PIECE;
  reader.begin = reader.end = 0;
  reader.at_end = false;
  reader.failed = false;
  reader.error = 0;
}

int peek_byte(LineReader& r) {
  if constexpr (LIBC_IO) {
    const int c = std::fgetc(r.file);
    return c == EOF ? EOF : std::ungetc(c, r.file);
  }
  if (r.end == r.begin && !r.at_end) refill(r, 0);
  return r.end == r.begin ? EOF : static_cast<unsigned char>(r.buffer[r.begin]);
}

bool read_piece(LineReader& r, std::string_view& piece) {
  if constexpr (LIBC_IO) return read_libc_piece(r, piece);
  if (!holds_piece(r)) refill(r, r.max);
  if (r.failed) return false;
  return cut_piece(r, piece);
}

std::size_t read_pieces(LineReader& r, std::span<std::string_view> pieces) {
  if constexpr (LIBC_IO) return !pieces.empty() && read_libc_piece(r, pieces[0]) ? 1 : 0;
  if (!holds_piece(r)) refill(r, r.block_bytes);
  if (r.failed) return 0;
  std::size_t count = 0;
  while (count < pieces.size() && holds_piece(r) && cut_piece(r, pieces[count])) ++count;
  return count;
}

bool read_block(LineReader& r, std::string_view& block) {
  if (!holds_piece(r)) refill(r, r.block_bytes, true);
  if (r.failed || r.end == r.begin) return false;
  const std::size_t end = whole_pieces_end(r);
  block = {r.buffer + r.begin, end - r.begin};
  r.begin = end;
  return true;
}

bool rewind_reader(LineReader& r) {
  if constexpr (LIBC_IO) return std::fseek(r.file, 0, SEEK_SET) == 0;
  if (::lseek(fileno(r.file), 0, SEEK_SET) < 0) return false;
  r.begin = r.end = 0;
  r.at_end = r.failed = false;
  r.error = 0;
  return true;
}

}  // namespace pcgrid
