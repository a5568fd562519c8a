// The inputs: opened, their kind recognised, and what a pipe gave kept.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "line_cursor.hpp"

namespace pctable {

enum class Kind { xvg, delimited, npy };

struct Input {
  std::string name;  // the file as named, or "standard input"
  int fd = -1;
  Source source = Source::file;
  std::int64_t start = 0;  // file: where its bytes begin (standard input may be past 0)
  std::int64_t size = 0;   // file: its size from `start`
  std::vector<char> held;  // stream: the bytes read to recognise it; memory: all of them
  Kind kind = Kind::delimited;
};

// Opens FILE ("-": standard input) and recognises its kind: a .npy array by
// its magic bytes; xvg by the name's .xvg ending or a line that begins with
// '@' or '&' in its first 64 KiB; otherwise delimited text. An xvg
// file from a pipe is read whole into memory.
void open_input(Input& input, std::string_view file);

// Reads the whole input into memory.
void hold_all(Input& input);

// Whether the input can be read twice (a regular file, or held in memory).
bool can_reread(const Input& input);

// A cursor `skip` bytes after the start of the input, reading through
// `buffer`, whose next line has the number `line` + 1. Cursor offsets count
// from the start of the input.
void start_input_cursor(Cursor& cursor, const Input& input, std::span<char> buffer,
                        std::int64_t skip = 0, std::int64_t line = 0);

}  // namespace pctable
