// What the harnesses share: the input cut into the pieces a program reads,
// values taken from its bytes, and a check that stops the fuzzer.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "line_reader.hpp"

namespace pcgrid::fuzzing {

// A failed check: libFuzzer keeps the input that led here.
inline void check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "check failed: %s\n", what);
  std::abort();
}

// `text` in a file in memory, read from its start.
inline int memory_file(std::string_view text) {
  const int fd = memfd_create("fuzz-input", MFD_CLOEXEC);
  check(fd >= 0, "memory file created");
  for (std::string_view rest = text; !rest.empty();) {
    const ssize_t written = ::write(fd, rest.data(), rest.size());
    check(written > 0, "memory file written");
    rest.remove_prefix(static_cast<std::size_t>(written));
  }
  check(::lseek(fd, 0, SEEK_SET) == 0, "memory file rewound");
  return fd;
}

// The pieces of a text as fgets(buffer, max + 1, stream) returns them: a
// line with its newline, or its next `max` characters. Each is cut at its
// first NUL, where C string functions, and the programs, see it end.
class ModelPieces {
 public:
  ModelPieces(std::string_view text, std::size_t max) : text_(text), max_(max) {}

  bool next(std::string_view& piece) {
    if (text_.empty()) return false;
    const std::size_t limit = std::min(text_.size(), max_);
    const std::size_t newline = text_.substr(0, limit).find('\n');
    const std::size_t length = newline == std::string_view::npos ? limit : newline + 1;
    piece = text_.substr(0, length);
    piece = piece.substr(0, piece.find('\0'));
    text_.remove_prefix(length);
    return true;
  }

 private:
  std::string_view text_;
  std::size_t max_;
};

// The pieces that the programs' own LineReader makes of a text, read from a
// file in memory, each checked against the model above.
class Pieces {
 public:
  Pieces(std::string_view text, std::size_t max) : model_(text, max) {
    const int fd = memory_file(text);
    file_ = fdopen(fd, "r");
    check(file_ != nullptr, "memory file opened");
    start_reading(reader_, file_, max);
  }
  ~Pieces() { std::fclose(file_); }
  Pieces(const Pieces&) = delete;
  Pieces& operator=(const Pieces&) = delete;

  bool next(std::string_view& piece) {
    std::string_view expected;
    const bool more = model_.next(expected);
    check(read_piece(reader_, piece) == more, "the reader ends where the text ends");
    check(!reader_.failed, "no read error");
    check(!more || piece == expected, "the reader's piece is fgets's");
    return more;
  }

 private:
  static inline LineReader reader_;  // over a megabyte: one for all
  ModelPieces model_;
  std::FILE* file_ = nullptr;
};

// The bytes at `at` as a T, or a zero T where the input is too short.
template <typename T>
T value_at(const std::uint8_t* data, std::size_t size, std::size_t at) {
  T value{};
  if (at <= size && size - at >= sizeof value) std::memcpy(&value, data + at, sizeof value);
  return value;
}

template <typename T>
bool same_bits(T a, T b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// FNV-1a: a number that any change of the input changes.
inline std::uint32_t hash(std::string_view text) {
  std::uint32_t h = 2166136261u;
  for (const char c : text) h = (h ^ static_cast<std::uint8_t>(c)) * 16777619u;
  return h;
}

}  // namespace pcgrid::fuzzing
