#include "line_cursor.hpp"

#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include "byte_classes.hpp"
#include "descriptor_io.hpp"
#include "failure.hpp"

namespace pctable {

namespace {

[[noreturn]] void read_failed(const Cursor& cursor, int error) {
  fail(cursor.name, std::string("read error: ") + std::strerror(error));
}

void copy(Cursor& cursor, const char* bytes, std::size_t size) {
  if (cursor.copy_fd < 0 || size == 0) return;
  const int error = pcgrid::write_fully(cursor.copy_fd, bytes, size);
  if (error != 0) {
    fail(cursor.name,
         std::string("cannot keep a copy in a temporary file: ") + std::strerror(error));
  }
  cursor.copied += static_cast<std::int64_t>(size);
}

// Moves the unread bytes to the start of the buffer and reads more after
// them; sets at_end when the input has nothing more.
void refill(Cursor& cursor) {
  const std::size_t unread = cursor.end - cursor.begin;
  if (cursor.begin > 0) std::memmove(cursor.buffer, cursor.buffer + cursor.begin, unread);
  cursor.begin = 0;
  cursor.end = unread;
  std::size_t room = cursor.capacity - unread;
  char* into = cursor.buffer + unread;
  if (cursor.source == Source::stream && !cursor.held.empty()) {
    const std::size_t size = std::min(room, cursor.held.size());
    std::memcpy(into, cursor.held.data(), size);
    cursor.held = cursor.held.subspan(size);
    cursor.end += size;
    copy(cursor, into, size);
    return;
  }
  if (cursor.source == Source::stream && cursor.fd < 0) {
    cursor.at_end = true;
    return;
  }
  if (cursor.source == Source::file) {
    room = static_cast<std::size_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(room), cursor.limit - cursor.position));
    if (room == 0) {
      cursor.at_end = true;
      return;
    }
  }
  const ssize_t got = cursor.source == Source::file
                          ? pcgrid::pread_fully(cursor.fd, into, room, cursor.position)
                          : pcgrid::read_some(cursor.fd, into, room);
  if (got < 0) read_failed(cursor, errno);
  if (cursor.source == Source::file && static_cast<std::size_t>(got) < room) {
    fail(cursor.name, "changed while it was read");
  }
  if (got == 0) cursor.at_end = true;
  cursor.position += got;
  cursor.end += static_cast<std::size_t>(got);
  copy(cursor, into, static_cast<std::size_t>(got));
}

}  // namespace

std::unique_ptr<char[]> new_cursor_buffer(std::size_t capacity) {
  return std::make_unique<char[]>(capacity + CURSOR_PADDING);
}

void start_cursor(Cursor& cursor, Source source, int fd, std::string_view name,
                  std::span<const char> held, std::span<char> buffer, std::int64_t offset,
                  std::int64_t line) {
  cursor.source = source;
  cursor.fd = fd;
  cursor.name = name;
  cursor.position = offset;
  cursor.limit = INT64_MAX;
  cursor.copy_fd = -1;
  cursor.copied = 0;
  cursor.held = held;
  cursor.buffer = buffer.data();
  cursor.capacity = buffer.size();
  cursor.data = buffer.data();
  cursor.begin = 0;
  cursor.end = 0;
  cursor.offset = offset;
  cursor.at_end = false;
  cursor.line = line;
}

bool next_line(Cursor& cursor, std::string_view& line) {
  // A line of at most SHORT_LINE bytes whose newline was read: found 16
  // bytes at a time (the bytes past those read, left out, are in the buffer
  // or its padding), taken as below.
  constexpr std::size_t SHORT_LINE = 32;
  const std::size_t unread = cursor.end - cursor.begin;
  const char* const first = cursor.data + cursor.begin;
  for (std::size_t at = 0; at < unread && at < SHORT_LINE; at += 16) {
    const unsigned newlines = pcgrid::byte_mask16(first + at, '\n') & first_bytes(unread - at);
    if (newlines == 0) continue;
    std::size_t length = at + static_cast<std::size_t>(std::countr_zero(newlines));
    const std::size_t taken = length + 1;
    if (length > 0 && first[length - 1] == '\r') --length;
    line = std::string_view(first, length);
    cursor.begin += taken;
    cursor.offset += static_cast<std::int64_t>(taken);
    ++cursor.line;
    return true;
  }
  std::size_t searched = cursor.begin + std::min(unread, SHORT_LINE);  // no newline before
  for (;;) {
    const char* start = cursor.data + cursor.begin;
    const char* newline = searched < cursor.end
                              ? static_cast<const char*>(std::memchr(cursor.data + searched, '\n',
                                                                     cursor.end - searched))
                              : nullptr;
    std::size_t length = 0;
    std::size_t taken = 0;
    if (newline != nullptr) {
      length = static_cast<std::size_t>(newline - start);
      taken = length + 1;
    } else if (cursor.at_end) {
      if (cursor.begin == cursor.end) return false;
      length = taken = cursor.end - cursor.begin;
    } else {
      if (cursor.end - cursor.begin > MAX_LINE) {
        fail_at(cursor.name, cursor.line + 1,
                "expected a line of at most " + std::to_string(MAX_LINE) +
                    " characters, found a longer one");
      }
      const std::size_t unread_searched = cursor.end - cursor.begin;
      refill(cursor);
      searched = cursor.begin + unread_searched;
      continue;
    }
    if (length > MAX_LINE) {
      fail_at(cursor.name, cursor.line + 1,
              "expected a line of at most " + std::to_string(MAX_LINE) + " characters, found " +
                  std::to_string(length));
    }
    if (length > 0 && start[length - 1] == '\r') --length;
    line = std::string_view(start, length);
    cursor.begin += taken;
    cursor.offset += static_cast<std::int64_t>(taken);
    ++cursor.line;
    return true;
  }
}

bool next_bytes(Cursor& cursor, std::size_t size, const char*& bytes, std::size_t& got) {
  while (cursor.end - cursor.begin < size && !cursor.at_end) refill(cursor);
  got = std::min(size, cursor.end - cursor.begin);
  bytes = cursor.data + cursor.begin;
  cursor.begin += got;
  cursor.offset += static_cast<std::int64_t>(got);
  return got == size;
}

bool has_more(Cursor& cursor) {
  while (cursor.begin == cursor.end && !cursor.at_end) refill(cursor);
  return cursor.begin < cursor.end;
}

}  // namespace pctable
