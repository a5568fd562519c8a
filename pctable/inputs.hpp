// The inputs: opened, their kind recognised, and a pipe that must be read
// more than once copied to a temporary file.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "line_cursor.hpp"
#include "whole_file.hpp"

namespace pctable {

enum class Kind { xvg, delimited, npy };

inline constexpr int MAX_SETS = 128;  // data sets of an xvg file

// The data sets of an xvg input, as the first pass over it found them.
struct XvgSet {
  std::int64_t offset;  // of its first data line, from the start of the input
  std::int64_t line;    // number of the line before it
  std::int64_t rows;
  std::int64_t end_line;  // the line that ends it ('&', or the last line of the file)
};

struct XvgIndex {
  XvgSet sets[MAX_SETS];
  int count;
  bool time_axis;
  int set_width;  // fields of a set's line, fixed by the first
  std::int64_t first_line;
};

struct Input {
  std::string name;  // the file as named, or "standard input"
  int fd = -1;
  Source source = Source::file;
  pcgrid::FileIdentity identity;  // the file opened (not its copy)
  bool regular = false;           // a regular file was opened
  std::int64_t start = 0;         // file: where its bytes begin (standard input may be past 0)
  std::int64_t size = 0;          // file: its size from `start`, when opened
  timespec modified{};            // file: its modification time, when opened
  std::vector<char> held;         // stream: the bytes read to recognise it
  bool ended = false;             // stream: `held` is all of it (a terminal is not read on)
  Kind kind = Kind::delimited;
  std::unique_ptr<XvgIndex> xvg_sets;  // xvg: its sets, once a pass has found them
};

// Opens FILE ("-": standard input) and recognises its kind: a .npy array by
// its magic bytes; xvg by the name's .xvg ending or a line that begins with
// '@' or '&' in its first 64 KiB; otherwise delimited text.
void open_input(Input& input, std::string_view file);

// Whether the input can be read twice: a regular file, or an xvg stream,
// which is copied to a temporary file as it is read the first time.
bool can_reread(const Input& input);

// A cursor `skip` bytes after the start of the input, reading through
// `buffer`, whose next line has the number `line` + 1. Cursor offsets count
// from the start of the input.
void start_input_cursor(Cursor& cursor, const Input& input, std::span<char> buffer,
                        std::int64_t skip = 0, std::int64_t line = 0);

// For a stream: every byte the cursor reads is copied to a temporary file.
void copy_as_read(Cursor& cursor, const Input& input);
// Once the cursor has read the whole stream: the input is its copy from now on.
void read_copy_from_now_on(Input& input, const Cursor& cursor);

// For a stream from which only `held` has been taken: copies it to a
// temporary file, which is the input from now on, and returns its size.
// Beyond `most` bytes the stream is only counted, not copied.
std::int64_t copy_whole(Input& input, std::int64_t most);

// Refuses a file whose size or modification time is not what they were
// when it was opened.
void check_unchanged(const Input& input);

}  // namespace pctable
