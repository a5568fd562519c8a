// The block reading of the PC table (the structural scan, the conversion
// from token positions, and the exact path for everything else) against the
// sequential reading: the pieces that follow one another, each parsed by
// parse_pc_line. Texts are changed by every special byte at every position
// of three 64-byte windows, and lines are built around the piece length.
#include "structural_scan.hpp"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "byte_classes.hpp"
#include "limits.hpp"
#include "line_reader.hpp"
#include "pc_table.hpp"
#include "short_decimal.hpp"

namespace {

using pcgrid::LINE_CHARS;

pcgrid::PcTable table;

struct Row {
  std::int32_t label;
  float components[pcgrid::MAX_DIM];
};

struct Reading {
  std::vector<Row> rows;  // the rows accepted
  bool refused;
  std::string piece;  // the refused piece
  std::size_t pieces;
};

bool operator==(const Reading& a, const Reading& b) {
  if (a.rows.size() != b.rows.size() || a.refused != b.refused || a.piece != b.piece) return false;
  return a.rows.empty() ||
         std::memcmp(a.rows.data(), b.rows.data(), a.rows.size() * sizeof(Row)) == 0;
}

std::ostream& operator<<(std::ostream& out, const Reading& r) {
  return out << r.rows.size() << " rows, "
             << (r.refused ? "refused [" + r.piece + "]" : "none refused");
}

// The text with bytes after it that would continue a number, in a buffer
// of its own: whatever the padding holds must not change a row.
std::string padded(const std::string& text) {
  return text + std::string(pcgrid::BLOCK_PADDING, '7');
}

Reading sequential(const std::string& text, int dim) {
  Reading r{{}, false, {}, 0};
  const std::string buffer = padded(text);
  const char* p = buffer.data();
  const char* const end = p + text.size();
  bool refused = false;
  while (p < end) {
    std::string_view piece;
    p += pcgrid::piece_at(p, end, LINE_CHARS, piece);
    ++r.pieces;
    Row row{};
    if (refused) continue;
    if (!pcgrid::parse_pc_line(piece, dim, row.label, std::span<float>(row.components, dim))) {
      refused = r.refused = true;
      r.piece = piece;
      continue;
    }
    r.rows.push_back(row);
  }
  return r;
}

Reading by_blocks(const std::string& text, int dim) {
  const std::string buffer = padded(text);
  table.ncol = dim + 1;
  table.n = 0;
  EXPECT_TRUE(pcgrid::reserve_vectors(table, static_cast<std::int32_t>(text.size()) + 1));
  const pcgrid::PieceParse parse = pcgrid::parse_pieces(
      table, std::string_view(buffer.data(), text.size()), 0, pcgrid::MAX_VECTORS);
  Reading r{{}, parse.refused, std::string(parse.piece), 0};
  for (std::int32_t i = 0; i < parse.rows; ++i) {
    Row row{};
    row.label = table.indeces[i];
    std::memcpy(row.components, table.dat[i], sizeof(float) * static_cast<std::size_t>(dim));
    r.rows.push_back(row);
  }
  const char* begin = buffer.data();
  const char* end = begin + text.size();
  r.pieces = pcgrid::count_pieces_16(begin, end, LINE_CHARS);
#if PCGRID_AVX2_VARIANT
  if (pcgrid::avx2_available()) {
    EXPECT_EQ(pcgrid::count_pieces_avx2(begin, end, LINE_CHARS), r.pieces);
  }
#endif
  return r;
}

// Both classifications give the same masks at the start of every line.
void expect_same_windows([[maybe_unused]] const std::string& text) {
#if PCGRID_AVX2_VARIANT
  if (!pcgrid::avx2_available()) return;
  const std::string buffer = padded(text);
  const char* end = buffer.data() + text.size();
  for (const char* line = buffer.data(); line < end;) {
    pcgrid::LineWindows by16{}, avx2{};
    pcgrid::classify_line_16(line, end, by16);
    pcgrid::classify_line_avx2(line, end, avx2);
    ASSERT_EQ(by16.count, avx2.count);
    for (int w = 0; w < by16.count; ++w) {
      ASSERT_EQ(by16.blank[w], avx2.blank[w]) << w;
      ASSERT_EQ(by16.newline[w], avx2.newline[w]) << w;
    }
    const void* newline = std::memchr(line, '\n', static_cast<std::size_t>(end - line));
    line = newline != nullptr ? static_cast<const char*>(newline) + 1 : end;
  }
#endif
}

// The tokens of every piece, as a character-by-character model finds
// them: runs of bytes that are not white space, within the piece.
void expect_same_tokens(const std::string& text) {
  const std::string buffer = padded(text);
  const char* const end = buffer.data() + text.size();
  for (const char* p = buffer.data(); p < end;) {
    std::string_view piece;
    const std::size_t length = pcgrid::piece_at(p, end, LINE_CHARS, piece);
    const bool whole_line = p[length - 1] == '\n' || p + length == end;
    pcgrid::LineTokens tokens{};
    ASSERT_EQ(pcgrid::find_tokens_16(p, end, LINE_CHARS, 16, tokens), whole_line);
#if PCGRID_AVX2_VARIANT
    if (pcgrid::avx2_available()) {
      pcgrid::LineTokens avx2{};
      ASSERT_EQ(pcgrid::find_tokens_avx2(p, end, LINE_CHARS, 16, avx2), whole_line);
      ASSERT_EQ(avx2.length, tokens.length);
      ASSERT_EQ(avx2.count, tokens.count);
      for (int t = 0; t < tokens.count; ++t) {
        ASSERT_EQ(avx2.begin[t], tokens.begin[t]);
        ASSERT_EQ(avx2.end[t], tokens.end[t]);
      }
    }
#endif
    if (whole_line) {
      ASSERT_EQ(tokens.length, length);
      int count = 0;
      for (std::size_t i = 0; i < length && count < 16;) {
        if (pcgrid::short_decimal_detail::is_space(p[i])) {
          ++i;
          continue;
        }
        std::size_t j = i;
        while (j < length && !pcgrid::short_decimal_detail::is_space(p[j])) ++j;
        ASSERT_LT(count, tokens.count);
        ASSERT_EQ(tokens.begin[count], i);
        ASSERT_EQ(tokens.end[count], j);
        ++count;
        i = j;
      }
      ASSERT_EQ(tokens.count, count);
    }
    p += length;
  }
}

void expect_same_reading(const std::string& text, int dim) {
  const Reading expected = sequential(text, dim);
  const Reading got = by_blocks(text, dim);
  EXPECT_EQ(got, expected) << "dim " << dim << " [" << text << ']';
  EXPECT_EQ(got.pieces, expected.pieces) << "[" << text << ']';
}

// Lines of a table that cross the 64-byte windows in different places:
// the usual form, a sign glued to a number, a label with a point.
const std::string LINES =
    "1    -2.193849    -0.709981     0.224307    -0.067287     0.133089     0.444796    "
    "-0.069234     0.280595     0.096638     0.076851\n"
    "-22 0.5 +1.25 3 1e2 7\n"
    "  333\t\t 12.000001 -0.000000 9999999.5 +0 0.1 0.25 -0.125 1.0 2.0 3.0 4.0 5.0\n"
    "4 1.5-2.5 3. .5 0x1p1 nan\n"
    "5 0.000000000000001 123456789012345 1234567890123456 0.1234567890123456 8388608.5 "
    "16777217 3.4028235e38 -1 -2 -3\n";

constexpr char SPECIAL[] = {'\n',
                            ' ',
                            '\t',
                            '\v',
                            '\f',
                            '\r',
                            '\0',
                            '+',
                            '-',
                            '.',
                            'e',
                            'E',
                            'x',
                            ',',
                            'a',
                            'i',
                            'n',
                            '0',
                            '9',
                            static_cast<char>(0x80),
                            static_cast<char>(0xFF)};

TEST(StructuralScan, EverySpecialByteAtEveryPositionOfThreeWindows) {
  for (const char c : SPECIAL) {
    for (std::size_t at = 0; at < 192; ++at) {
      std::string replaced = LINES;
      replaced[at] = c;
      std::string inserted = LINES;
      inserted.insert(at, 1, c);
      for (const std::string& text : {replaced, inserted}) {
        expect_same_windows(text);
        expect_same_tokens(text);
        for (const int dim : {0, 1, 3, 5, 10}) expect_same_reading(text, dim);
        if (HasFailure()) return;
      }
    }
  }
}

// Lines around the length of a piece (999 characters, the newline
// included), with a number or a special byte where the pieces meet, and a
// last line without a newline.
TEST(StructuralScan, LinesAroundThePieceLength) {
  const std::string tail = " 1.5 2.25\n";
  for (const std::size_t length : {60, 63, 64, 65, 990, 997, 998, 999, 1000, 1001, 1023, 1024, 1025,
                                   1997, 1998, 1999, 2100, 3000}) {
    for (const char c : {' ', '1', '-', '\0', '\n'}) {
      std::string line(length, ' ');
      line[0] = '5';
      for (std::size_t at :
           {std::size_t{997}, std::size_t{998}, std::size_t{999}, std::size_t{1000}}) {
        if (at < line.size()) line[at] = c;
      }
      const std::string text = line + tail + "6 0.5 0.25\n" + line + tail.substr(0, 5);
      expect_same_windows(text);
      expect_same_tokens(text);
      for (const int dim : {0, 2, 4}) expect_same_reading(text, dim);
      if (HasFailure()) return;
    }
  }
}

// The classifier this build compiled (SSE2, NEON or the loop) against the
// loop, for every byte value at every one of the 16 positions, among
// neighbours that are in none of the classes and in all of them.
TEST(ByteClasses, EveryByteAtEveryPosition) {
  namespace portable = pcgrid::byte_classes_portable;
  for (const char fill : {'a', ' ', '5', '.', '\n'}) {
    for (int at = 0; at < 16; ++at) {
      for (int byte = 0; byte < 256; ++byte) {
        char bytes[16];
        std::memset(bytes, fill, sizeof bytes);
        bytes[at] = static_cast<char>(byte);
        ASSERT_EQ(pcgrid::blank_mask16(bytes), portable::blank_mask16(bytes)) << byte << '@' << at;
        ASSERT_EQ(pcgrid::digit_mask16(bytes), portable::digit_mask16(bytes)) << byte << '@' << at;
        for (const char wanted : {'.', '\n', static_cast<char>(0xFF)}) {
          ASSERT_EQ(pcgrid::byte_mask16(bytes, wanted), portable::byte_mask16(bytes, wanted))
              << byte << '@' << at;
        }
      }
    }
  }
  // The loop itself, on the classes of the C locale.
  char all[256];
  for (int byte = 0; byte < 256; ++byte) all[byte] = static_cast<char>(byte);
  for (int start = 0; start < 256; start += 16) {
    unsigned blank = 0;
    unsigned digit = 0;
    for (int i = 0; i < 16; ++i) {
      if (std::isspace(start + i)) blank |= 1u << i;
      if (std::isdigit(start + i)) digit |= 1u << i;
    }
    EXPECT_EQ(portable::blank_mask16(all + start), blank) << start;
    EXPECT_EQ(portable::digit_mask16(all + start), digit) << start;
  }
}

}  // namespace
