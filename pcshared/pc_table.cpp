#include "pc_table.hpp"

#include <omp.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "decimal_token.hpp"
#include "line_reader.hpp"
#include "messages.hpp"
#include "number_scan.hpp"
#include "standard_descriptors.hpp"
#include "structural_scan.hpp"
#include "table_memory.hpp"

namespace pcgrid {

namespace {

// Lines read and then parsed together, at most: a block of the reader holds
// some 400,000 lines of a typical table. Few large batches keep the threads'
// meetings rare.
constexpr std::size_t LINES_PER_BATCH = std::size_t{1} << 19;

[[noreturn]] void refuse_line(std::string_view line) {
  fail("Failed to read PCs at line %.*s\n", static_cast<int>(line.size()), line.data());
}

// The first line's columns: at least the label, at most MAX_COLUMNS.
void check_columns(const PcTable& table, std::string_view first_line) {
  if (table.ncol > MAX_COLUMNS) {
    fail("Too many columns on the first line: at most 10 components per vector.\n");
  }
  if (table.ncol < 1) refuse_line(first_line);
}

// The next lines of the table, as many as the reader holds; 0 at its end.
// A read error ends the run.
std::size_t next_lines(LineReader& reader, std::span<std::string_view> lines) {
  const std::size_t count = read_pieces(reader, lines);
  if (reader.failed) fail("Failed to read standard input: %s\n", std::strerror(reader.error));
  return count;
}

// Parses line i of `lines` into row table.n + i; false when it is refused.
bool parse_row(PcTable& table, std::span<const std::string_view> lines, std::int64_t i) {
  const auto row = static_cast<std::size_t>(table.n + i);
  return parse_pc_line(lines[static_cast<std::size_t>(i)], table.dim(), table.indeces[row],
                       table.dat[row]);
}

// Parses `lines` into the rows from table.n on, on all threads when there
// are enough of them; the index of the first line refused, or lines.size()
// when every one is accepted. A few lines (and the reference build's lines,
// read one at a time) are parsed here, without waking the threads.
std::size_t parse_rows(PcTable& table, std::span<const std::string_view> lines) {
  constexpr std::int64_t WORTH_THREADS = 4096;  // lines to share among threads, at least
  const auto count = static_cast<std::int64_t>(lines.size());
  if (count < WORTH_THREADS) {
    for (std::int64_t i = 0; i < count; ++i) {
      if (!parse_row(table, lines, i)) return static_cast<std::size_t>(i);
    }
    return lines.size();
  }
  std::int64_t first_refused = count;
#pragma omp parallel for schedule(static) reduction(min : first_refused)
  for (std::int64_t i = 0; i < count; ++i) {
    if (!parse_row(table, lines, i)) first_refused = std::min(first_refused, i);
  }
  return static_cast<std::size_t>(first_refused);
}

// Room for `count` more rows, as many as fit: the rows that can be stored,
// and whether the memory for them could be had.
std::size_t reserve_rows(PcTable& table, std::size_t count, bool& reserved) {
  const auto room = static_cast<std::size_t>(MAX_VECTORS - table.n);
  std::size_t storable = std::min(count, room);
  // A step at a time, as reading the rows one by one would reserve them.
  const std::int32_t wanted = table.n + static_cast<std::int32_t>(storable);
  reserved = true;
  while (reserved && table.capacity < wanted) {
    reserved = reserve_vectors(table, std::min(table.capacity + VECTOR_STEP, wanted));
  }
  if (!reserved) storable = static_cast<std::size_t>(table.capacity - table.n);
  return storable;
}

// After `storable` of `count` new rows were stored: the failure that
// stopped the rest, if any.
void end_rows(PcTable& table, std::size_t storable, std::size_t count, bool reserved) {
  table.n += static_cast<std::int32_t>(storable);
  if (storable == count) return;
  if (!reserved) fail("Memory exhausted after %d vectors were read.\n", table.n);
  fail("Too many vectors: at most 25000000 can be read.\n");
}

// Adds `lines` to the table. A failure is the one that reading them one by
// one would meet first: a refused line, the table full, or no memory left.
void store_lines(PcTable& table, std::span<const std::string_view> lines) {
  bool reserved = false;
  const std::size_t storable = reserve_rows(table, lines.size(), reserved);
  const std::size_t refused = parse_rows(table, lines.first(storable));
  if (refused < storable) refuse_line(lines[refused]);
  end_rows(table, storable, lines.size(), reserved);
}

// The reference build's reading: the lines one at a time.
void read_lines(LineReader& reader, PcTable& table) {
  static std::string_view lines[LINES_PER_BATCH];
  std::size_t count = next_lines(reader, lines);
  if (count == 0) fail("Failed to read any input (?!). Abort.\n");
  table.ncol = count_columns(lines[0]);
  check_columns(table, lines[0]);
  do {
    store_lines(table, {lines, count});
  } while ((count = next_lines(reader, lines)) > 0);
}

// The next block of whole pieces; false at the end of the input. A read
// error ends the run.
bool next_block(LineReader& reader, std::string_view& block) {
  const bool more = read_block(reader, block);
  if (reader.failed) fail("Failed to read standard input: %s\n", std::strerror(reader.error));
  return more;
}

// A block is cut into parts, each beginning after a newline (where a piece
// always begins); their pieces are counted as soon as the block is read,
// and each is parsed by a thread on its own. Many parts per thread, taken
// as the threads come free, keep a thread that shares its core with
// another process from holding the others up.
constexpr int PARTS_PER_THREAD = 16;
constexpr int MAX_PARTS = 256;
constexpr std::size_t WORTH_THREADS = std::size_t{1}
                                      << 16;  // bytes to share among threads, at least

// A block of whole pieces, cut into parts, and the pieces of each part.
struct Block {
  std::string_view text;
  int parts;
  const char* bounds[MAX_PARTS + 1];
  std::size_t pieces[MAX_PARTS];
};

// Cuts `block` into parts for `threads` threads and counts each part's pieces.
void survey_block(Block& block, int threads) {
  const std::string_view text = block.text;
  const int parts = text.size() < WORTH_THREADS
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
  if (reader.failed) fail("Failed to read standard input: %s\n", std::strerror(reader.error));
  return more;
}

// The block reader's reading: blocks of whole pieces, each read and
// surveyed while the one before is parsed.
void read_blocks(LineReader& reader, PcTable& table) {
  static Block blocks[2];
  if (!next_block(reader, blocks[0].text)) fail("Failed to read any input (?!). Abort.\n");
  std::string_view first;
  piece_at(blocks[0].text.data(), blocks[0].text.data() + blocks[0].text.size(), LINE_CHARS, first);
  table.ncol = count_columns(first);
  check_columns(table, first);
  const int threads = omp_get_max_threads();
  survey_block(blocks[0], threads);
  int b = 0;
  while (store_block(table, reader, threads, blocks[b], blocks[1 - b])) b = 1 - b;
}

// The line's label and components from its tokens, when each is of the
// form that token_int or token_float takes; false otherwise.
bool convert_tokens(const char* line, const LineTokens& tokens, int dim, std::int32_t& label,
                    float* components) {
  if (tokens.count < dim + 1) return false;
  bool ok = token_int(line + tokens.begin[0], tokens.end[0] - tokens.begin[0], label);
  for (int d = 0; d < dim; ++d) {
    const std::uint32_t begin = tokens.begin[d + 1];
    ok = token_float(line + begin, tokens.end[d + 1] - begin, components[d]) && ok;
  }
  return ok;
}

}  // namespace

int count_columns(std::string_view line) {
  int columns = 0;
  for (FloatScan f = scan_float(line); f.ok; f = scan_float(line)) {
    ++columns;
    line.remove_prefix(static_cast<std::size_t>(f.used));
  }
  return columns;
}

bool parse_pc_line(std::string_view line, int dim, std::int32_t& label,
                   std::span<float> components) {
  const IntScan l = scan_int(line);
  if (l.status != ScanStatus::ok) return false;
  label = l.value;
  line.remove_prefix(static_cast<std::size_t>(l.used));
  for (int d = 0; d < dim; ++d) {
    const FloatScan f = scan_float(line);
    if (!f.ok || !std::isfinite(f.value)) return false;
    components[d] = f.value;
    line.remove_prefix(static_cast<std::size_t>(f.used));
  }
  return true;
}

bool reserve_vectors(PcTable& table, std::int32_t rows) {
  if (rows <= table.capacity) return true;
  std::int32_t capacity = table.capacity;
  while (capacity < rows) capacity = std::min(capacity + VECTOR_STEP, std::int32_t{MAX_VECTORS});
  constexpr std::size_t LABEL = sizeof *table.indeces;
  constexpr std::size_t ROW = sizeof *table.dat;
  const std::size_t old_rows = static_cast<std::size_t>(table.capacity);
  const std::size_t new_rows = static_cast<std::size_t>(capacity);
  void* labels = grow_zeroed(table.indeces, old_rows * LABEL, new_rows * LABEL);
  if (labels == nullptr) return false;
  table.indeces = static_cast<std::int32_t*>(labels);
  void* components = grow_zeroed(table.dat, old_rows * ROW, new_rows * ROW);
  if (components == nullptr) return false;
  table.dat = static_cast<float(*)[MAX_DIM]>(components);
  table.capacity = capacity;
  return true;
}

PieceParse parse_pieces(PcTable& table, std::string_view text, std::int32_t first_row,
                        std::int32_t stop_row) {
  const int dim = table.dim();
  const char* p = text.data();
  const char* const end = p + text.size();
  std::int32_t row = first_row;
  LineTokens tokens;
  for (; p < end && row < stop_row; ++row) {
    const auto r = static_cast<std::size_t>(row);
    if (find_tokens(p, end, LINE_CHARS, dim + 1, tokens) &&
        convert_tokens(p, tokens, dim, table.indeces[r], table.dat[r])) {
      p += tokens.length;
      continue;
    }
    std::string_view piece;
    const std::size_t length = piece_at(p, end, LINE_CHARS, piece);
    if (!parse_pc_line(piece, dim, table.indeces[r], table.dat[r])) {
      return {row - first_row, true, piece};
    }
    p += length;
  }
  return {row - first_row, false, {}};
}

void read_pc_table(std::FILE* in, PcTable& table) {
  static LineReader reader;
  // A standard input that the caller closed holds /dev/null: no table.
  if (standard_descriptor_was_closed(fileno(in))) {
    fail("Failed to read standard input: %s\n", std::strerror(EBADF));
  }
  start_reading(reader, in, LINE_CHARS);
  table.n = 0;
  // Both ways stay referenced, so that neither is an unused function in
  // the build that takes the other.
  if (LIBC_IO) {
    read_lines(reader, table);
  } else {
    read_blocks(reader, table);
  }
  std::fprintf(stderr, "Read %d vectors (%d-dimensional).\n", table.n, table.dim());
}

}  // namespace pcgrid
