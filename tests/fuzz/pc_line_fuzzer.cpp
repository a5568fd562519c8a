// The PC table's lines and the letter code. The input is a table, cut into
// lines as lettercode reads it; the lines the parser accepts fill a small
// table, whose words must use only the letters of bins 0..G, have one letter
// per dimension, and keep the order of the components in every dimension.
// The block reading (structural scan, conversion from token positions)
// must give the rows and the refused piece that parsing the pieces one by
// one gives.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <span>
#include <string>
#include <string_view>

#include "fuzz_input.hpp"
#include "letter_code.hpp"
#include "limits.hpp"
#include "pc_table.hpp"

namespace {

using namespace pcgrid;
using fuzzing::check;

// The programs' own table type, with room for ROWS vectors.
PcTable table;
constexpr std::int32_t ROWS = 256;

// The bin of a letter of the code, or -1 for any other character.
int bin_of(char letter) {
  if (letter >= 'A' && letter <= 'Z') return letter - 'A';
  if (letter >= 'a' && letter <= 'z') return letter - 'a' + 26;
  return -1;
}

// Reads the lines the way read_pc_table does, keeping every accepted line
// (also those after a refused one, for the parser's sake) up to ROWS.
bool fill_table(std::string_view text) {
  fuzzing::Pieces pieces(text, LINE_CHARS);
  std::string_view line;
  if (!pieces.next(line)) return false;
  const int columns = count_columns(line);
  check(columns >= 0 && static_cast<std::size_t>(columns) <= line.size(),
        "every column takes a character");
  if (columns < 1 || columns > MAX_COLUMNS) return false;
  table.ncol = columns;
  table.n = 0;
  check(reserve_vectors(table, ROWS), "room for the rows");
  const int dim = table.dim();
  do {
    std::int32_t label = 0;
    float components[MAX_DIM];
    if (!parse_pc_line(line, dim, label, std::span<float>(components, dim))) continue;
    for (int d = 0; d < dim; ++d) check(std::isfinite(components[d]), "finite component");
    if (table.n == ROWS) continue;
    table.indeces[table.n] = label;
    std::copy_n(components, dim, table.dat[table.n]);
    ++table.n;
  } while (pieces.next(line));
  return table.n > 0;
}

// parse_pieces on the whole text against parse_pc_line on each piece, up
// to the first piece refused.
void check_block_reading(std::string_view text, int dim) {
  static PcTable blocks;
  static PcTable pieces;
  const auto rows = static_cast<std::int32_t>(text.size()) + 1;
  check(reserve_vectors(blocks, rows) && reserve_vectors(pieces, rows), "room for the rows");
  blocks.ncol = pieces.ncol = dim + 1;
  std::string padded(text);
  padded.append(BLOCK_PADDING, '7');
  const PieceParse parse =
      parse_pieces(blocks, std::string_view(padded.data(), text.size()), 0, MAX_VECTORS);
  fuzzing::ModelPieces model(text, LINE_CHARS);
  std::string_view piece;
  std::int32_t n = 0;
  while (model.next(piece)) {
    if (!parse_pc_line(piece, dim, pieces.indeces[n], std::span<float>(pieces.dat[n], dim))) {
      check(parse.refused && parse.rows == n && parse.piece == piece, "the same piece refused");
      break;
    }
    ++n;
  }
  check(parse.rows == n, "the same rows accepted");
  for (std::int32_t i = 0; i < n; ++i) {
    check(blocks.indeces[i] == pieces.indeces[i], "the same label");
    check(std::memcmp(blocks.dat[i], pieces.dat[i],
                      sizeof(float) * static_cast<std::size_t>(dim)) == 0,
          "the same components");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  check_block_reading(text, static_cast<int>(fuzzing::hash(text) % (MAX_DIM + 1)));
  if (!fill_table(text)) return 0;
  const int dim = table.dim();
  DimLimits limits{};
  compute_limits(table, limits);
  for (int d = 0; d < dim; ++d) check(limits.min[d] <= limits.max[d], "ordered limits");

  const int real_g = compute_grid_size(table.n);
  check(real_g >= MIN_GRID_INTERVALS && real_g <= MAX_GRID_INTERVALS, "grid size of the table");
  // Words on any grid size: the table stands for one of up to 25,000,000 vectors.
  const std::int32_t n = 1 + static_cast<std::int32_t>(fuzzing::hash(text) % MAX_VECTORS);
  const int g = compute_grid_size(n);
  check(g >= MIN_GRID_INTERVALS && g <= MAX_GRID_INTERVALS, "grid size");

  static char words[ROWS][MAX_DIM];
  for (std::int32_t i = 0; i < table.n; ++i) {
    const std::string_view word = encode_word(table, i, limits, g, words[i]);
    check(word.size() == static_cast<std::size_t>(dim), "one letter per dimension");
    for (int d = 0; d < dim; ++d) {
      const int bin = bin_of(word[d]);
      check(bin >= 0 && bin <= g, "a letter of bins 0..G");
      const float x = table.dat[i][d];
      if (x == limits.min[d]) check(bin == 0, "the minimum is A");
      if (x == limits.max[d] && limits.max[d] != limits.min[d]) check(bin == g, "the maximum is G");
    }
  }
  // Along each dimension, a larger component never gets a smaller bin.
  std::int32_t order[ROWS];
  for (int d = 0; d < dim; ++d) {
    std::iota(order, order + table.n, 0);
    std::sort(order, order + table.n,
              [d](std::int32_t a, std::int32_t b) { return table.dat[a][d] < table.dat[b][d]; });
    for (std::int32_t r = 1; r < table.n; ++r) {
      check(bin_of(words[order[r - 1]][d]) <= bin_of(words[order[r]][d]), "bins keep the order");
    }
  }
  return 0;
}
