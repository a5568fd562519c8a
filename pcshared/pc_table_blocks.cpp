// The block pipeline of the PC table: blocks of whole pieces, each cut into
// parts parsed on all threads while one thread reads the next block.
#include <omp.h>

#include <algorithm>

#include "messages.hpp"
#include "pc_table_steps.hpp"
#include "structural_scan.hpp"

namespace pcgrid {

namespace {

// A block is cut into parts, each beginning after a newline (where a piece
// always begins); their pieces are counted as soon as the block is read,
// and each is parsed by a thread on its own. Many parts per thread, taken
// as the threads come free, keep a thread that shares its core with
// another process from holding the others up.
constexpr int PARTS_PER_THREAD = 16;
constexpr int MAX_PARTS = 256;
constexpr std::size_t WORTH_THREADS_BYTES = std::size_t{1} << 16;  // a block's, at least

// A block of whole pieces, cut into parts, and the pieces of each part.
struct Block {
  std::string_view text;
  int parts;
  const char* bounds[MAX_PARTS + 1];
  std::size_t pieces[MAX_PARTS];
};

// The next block of whole pieces; false at the end of the input. A read
// error ends the run.
bool next_block(LineReader& reader, std::string_view& block) {
  const bool more = read_block(reader, block);
  check_reading(reader);
  return more;
}

// Cuts `block` into parts for `threads` threads and counts each part's pieces.
void survey_block(Block& block, int threads) {
  const std::string_view text = block.text;
  const int parts = text.size() < WORTH_THREADS_BYTES
                        ? 1
                        : std::clamp(threads * PARTS_PER_THREAD, PARTS_PER_THREAD, MAX_PARTS);
  block.parts = parts;
  cut_at_newlines(text, parts, block.bounds);
  for (int k = 0; k < parts; ++k) {
    block.pieces[k] = count_pieces(block.bounds[k], block.bounds[k + 1], LINE_CHARS);
  }
}

// Adds the pieces of `block` to the table, each part of it on a thread of
// its own, while one thread first reads and surveys the next block into
// `next`; false when there is none. A failure is the one that reading the
// lines one by one would meet first: in this block, or then in reading the
// next.
bool store_block(PcTable& table, LineReader& reader, int threads, const Block& block, Block& next) {
  std::size_t count = 0;
  std::int32_t first_rows[MAX_PARTS];
  for (int k = 0; k < block.parts; ++k) {
    first_rows[k] = table.n + static_cast<std::int32_t>(count);
    count += block.pieces[k];
  }
  bool reserved = false;
  const std::size_t storable = reserve_rows(table, count, reserved);
  const std::int32_t stop = table.n + static_cast<std::int32_t>(storable);
  PieceParse parsed[MAX_PARTS];
  bool more = false;
#pragma omp parallel if (block.parts > 1)
  {
#pragma omp single nowait
    {
      more = read_block(reader, next.text);
      if (more) survey_block(next, threads);
    }
#pragma omp for schedule(dynamic, 1) nowait
    for (int k = 0; k < block.parts; ++k) {
      const char* begin = block.bounds[k];
      const std::string_view part(begin, static_cast<std::size_t>(block.bounds[k + 1] - begin));
      parsed[k] = parse_pieces(table, part, first_rows[k], stop);
    }
  }
  for (int k = 0; k < block.parts; ++k) {
    if (parsed[k].refused) refuse_line(parsed[k].piece);
  }
  end_rows(table, storable, count, reserved);
  check_reading(reader);
  return more;
}

}  // namespace

void read_blocks(LineReader& reader, PcTable& table, RowFlow& flow) {
  Block blocks[2];
  if (!next_block(reader, blocks[0].text)) fail("Failed to read any input (?!). Abort.\n");
  std::string_view first;
  piece_at(blocks[0].text.data(), blocks[0].text.data() + blocks[0].text.size(), LINE_CHARS, first);
  table.ncol = count_columns(first);
  check_columns(table, first);
  const int threads = omp_get_max_threads();
  survey_block(blocks[0], threads);
  int b = 0;
  bool more = true;
  while (more) {
    more = store_block(table, reader, threads, blocks[b], blocks[1 - b]);
    hand_over(table, flow);
    b = 1 - b;
  }
}

}  // namespace pcgrid
