// The PC table's rows from the text: the conversion of a line's tokens,
// the memory that grows as the rows fill, and the entry points of the two
// ways of reading (pc_table_lines.cpp, pc_table_blocks.cpp).
#include "pc_table.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "decimal_token.hpp"
#include "messages.hpp"
#include "number_scan.hpp"
#include "pc_table_steps.hpp"
#include "standard_descriptors.hpp"
#include "structural_scan.hpp"
#include "table_memory.hpp"

namespace pcgrid {

namespace {

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

void refuse_line(std::string_view line) {
  fail("Failed to read PCs at line %.*s\n", static_cast<int>(line.size()), line.data());
}

void check_reading(const LineReader& reader) {
  if (reader.failed) fail("Failed to read standard input: %s\n", std::strerror(reader.error));
}

void check_columns(const PcTable& table, std::string_view first_line) {
  if (table.ncol > MAX_COLUMNS) {
    fail("Too many columns on the first line: at most 10 components per vector.\n");
  }
  if (table.ncol < 1) refuse_line(first_line);
}

std::size_t reserve_rows(PcTable& table, std::size_t count, bool& reserved) {
  const auto room = static_cast<std::size_t>(MAX_VECTORS - table.n);
  std::size_t storable = std::min(count, room);
  // A step at a time, as reading the rows one by one would reserve them.
  const std::int32_t wanted = table.n + static_cast<std::int32_t>(storable);
  reserved = true;
  while (reserved && table.capacity < wanted) {
    reserved = reserve_vectors(table, std::min(table.capacity + VECTOR_STEP, MAX_VECTORS));
  }
  if (!reserved) storable = static_cast<std::size_t>(table.capacity - table.n);
  return storable;
}

void end_rows(PcTable& table, std::size_t storable, std::size_t count, bool reserved) {
  table.n += static_cast<std::int32_t>(storable);
  if (storable == count) return;
  if (!reserved) fail("Memory exhausted after %d vectors were read.\n", table.n);
  fail("Too many vectors: at most 25000000 can be read.\n");
}

void hand_over(PcTable& table, RowFlow& flow) {
  if (flow.batches == nullptr || table.n == 0) return;
  flow.batches->take(table, flow.handed, flow.batches->context);
  flow.handed += table.n;
  table.n = 0;
}


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
  const std::int32_t capacity = std::min(rows, std::int32_t{MAX_VECTORS});
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

namespace {

// Reads the table to its end, the way the build reads.
void read_rows(LineReader& reader, PcTable& table, RowFlow& flow) {
  // A standard input that the caller closed holds /dev/null: no table.
  if (standard_descriptor_was_closed(fileno(reader.file))) {
    fail("Failed to read standard input: %s\n", std::strerror(EBADF));
  }
  table.n = 0;
  // Both ways stay referenced, so that neither is an unused function in
  // the build that takes the other.
  if (LIBC_IO) {
    read_lines(reader, table, flow);
  } else {
    read_blocks(reader, table, flow);
  }
}

}  // namespace

void read_pc_table(std::FILE* in, LineReader& reader, PcTable& table) {
  start_reading(reader, in, LINE_CHARS);
  RowFlow keep{nullptr, 0};
  read_rows(reader, table, keep);
  std::fprintf(stderr, "Read %d vectors (%d-dimensional).\n", table.n, table.dim());
}

std::int64_t stream_pc_table(LineReader& reader, PcTable& table, const RowBatches& batches) {
  if (!reserve_vectors(table, STREAM_ROWS)) fail("Memory exhausted after 0 vectors were read.\n");
  RowFlow flow{&batches, 0};
  read_rows(reader, table, flow);
  return flow.handed;
}

}  // namespace pcgrid
