// The structure of a table's text found 64 bytes at a time: where its
// lines end, and where the blank-separated tokens of a line begin and end,
// as bitmasks, before any number is converted. The classification runs 16
// bytes at a time (byte_classes.hpp: SSE2, NEON or plain C, chosen when the
// program is compiled), or on x86 32 at a time with AVX2 where the
// processor has it, chosen once when the program starts; all give the same
// masks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace pcgrid {

// A line's bytes classified, 64 to a window: bit i of window w stands for
// the byte 64 w + i from the line's start. Bytes at or after the end of the
// text count as newlines (and so as white space).
inline constexpr int LINE_WINDOWS = 16;  // 1024 bytes: more than a piece of 999 characters

struct LineWindows {
  std::uint64_t blank[LINE_WINDOWS];    // white space as the C locale has it, newlines included
  std::uint64_t newline[LINE_WINDOWS];  // newlines
  int count;  // windows classified: up to the first that holds a newline, at most LINE_WINDOWS
};

// Classifies the bytes from `line` on in a text that ends at `end`; 64
// bytes after `end` may be read.
void classify_line(const char* line, const char* end, LineWindows& windows);

// The number of pieces of at most `max` characters (each a line with its
// newline, or the next `max` characters of a longer line, or the last
// characters of the text) that the text [begin, end) is cut into, where
// `begin` starts a piece. 64 bytes after `end` may be read.
std::size_t count_pieces(const char* begin, const char* end, std::size_t max);

// Cuts `text` into `parts` parts for threads to take, each about as long
// and each beginning where a piece begins: at the start of the text, or
// after a newline. Part k is [bounds[k], bounds[k + 1]); a part may be
// empty when a line is longer than a part.
void cut_at_newlines(std::string_view text, int parts, const char** bounds);

// The variants themselves, for the tests; the functions above and
// find_tokens below take the AVX2 one (with POPCNT and BMI1) where
// avx2_available(), which is never on a target other than x86.
#if defined(__x86_64__) || defined(__i386__)
#define PCGRID_AVX2_VARIANT 1
#else
#define PCGRID_AVX2_VARIANT 0
#endif
bool avx2_available();
void classify_line_16(const char* line, const char* end, LineWindows& windows);
std::size_t count_pieces_16(const char* begin, const char* end, std::size_t max);
#if PCGRID_AVX2_VARIANT
void classify_line_avx2(const char* line, const char* end, LineWindows& windows);
std::size_t count_pieces_avx2(const char* begin, const char* end, std::size_t max);
#endif

// The tokens of one line piece: its first `wanted` runs of characters that
// are not white space, as offsets from the line's start. The line must fit
// one piece of `max` characters (at most LINE_WINDOWS × 64 − 1).
struct LineTokens {
  std::size_t length;  // characters of the line, its newline included
  int count;           // tokens found, at most `wanted`
  // Room for `wanted` (at most 16) and the rest of the 64-byte window that
  // completes them: at most 32 tokens begin or end in a window, and eight
  // positions are written at a time.
  std::uint32_t begin[16 + 32 + 8];
  std::uint32_t end[16 + 32 + 8];
};

// Finds the line that begins at `line` and its tokens; false, having found
// nothing, when no newline and no end of the text comes within `max`
// characters, so that the line is longer than one piece.
bool find_tokens(const char* line, const char* end, std::size_t max, int wanted,
                 LineTokens& tokens);
bool find_tokens_16(const char* line, const char* end, std::size_t max, int wanted,
                    LineTokens& tokens);
#if PCGRID_AVX2_VARIANT
bool find_tokens_avx2(const char* line, const char* end, std::size_t max, int wanted,
                      LineTokens& tokens);
#endif

}  // namespace pcgrid
