// Reading an input in lines or in bytes, from one of two sources:
//
// - a regular file, read with pread at the cursor's own position, so that
//   several cursors can read the same file at different places, up to the
//   size it had when it was opened (a file that ends sooner has changed);
// - a pipe or terminal, read in order with read, after the bytes already
//   taken from it to recognise its kind (`held`), each byte optionally
//   copied to a file as it is given, so that the input can be read again.
//
// Lines end at '\n'; a '\r' before it is dropped. The last line needs no
// newline. A line longer than MAX_LINE characters is refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

namespace pctable {

inline constexpr std::size_t MAX_LINE = 65'536;

// The bytes a cursor's buffer has after its capacity, all of them set (a
// buffer from new_cursor_buffer): lines and fields are classified 16 or 64
// bytes at a time, and so up to 63 bytes after the end of a line, or of
// the bytes read, are read and left out.
inline constexpr std::size_t CURSOR_PADDING = 64;

// The bits of a 16-byte mask (bit i for byte i) that stand for the first
// `size` bytes: all 16 when size is 16 or more.
constexpr unsigned first_bytes(std::size_t size) {
  return size >= 16 ? 0xFFFFu : (1u << size) - 1;
}

// A buffer of `capacity` bytes and the padding after them, every byte set
// to zero so that none of them is ever undefined.
std::unique_ptr<char[]> new_cursor_buffer(std::size_t capacity);

enum class Source { file, stream };

struct Cursor {
  Source source;
  int fd;
  std::string_view name;       // for messages
  std::int64_t position;       // file: offset of the next pread
  std::int64_t limit;          // file: offset of its end
  int copy_fd;                 // stream: -1, or where every byte read is copied
  std::int64_t copied;         // stream: bytes copied
  std::span<const char> held;  // stream: bytes to give before reading
  char* buffer;                // room of `capacity` bytes
  std::size_t capacity;
  const char* data;  // unread bytes are data[begin .. end)
  std::size_t begin;
  std::size_t end;
  std::int64_t offset;  // offset in the input of data[begin]
  bool at_end;
  std::int64_t line;  // number of the last line given
};

// A cursor over `fd` (a file, or a stream that gives `held` first, and no
// more when `fd` is -1: its end was read already), at `offset`
// of the input, whose next line has the number `line` + 1, reading into
// `buffer` (followed by CURSOR_PADDING bytes of its own). A file is read
// to its end; set `limit` to stop sooner. Set `copy_fd` to copy a stream.
void start_cursor(Cursor& cursor, Source source, int fd, std::string_view name,
                  std::span<const char> held, std::span<char> buffer, std::int64_t offset,
                  std::int64_t line);

// The next line, without its newline; false at the end of the input.
bool next_line(Cursor& cursor, std::string_view& line);

// The next `size` bytes (size at most the buffer's capacity); false if the
// input ends before them (`got` then tells how many there were).
bool next_bytes(Cursor& cursor, std::size_t size, const char*& bytes, std::size_t& got);

// Whether anything is left to read.
bool has_more(Cursor& cursor);

}  // namespace pctable
