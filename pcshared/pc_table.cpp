#include "pc_table.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "line_reader.hpp"
#include "messages.hpp"
#include "number_scan.hpp"
#include "standard_descriptors.hpp"
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

// Adds `lines` to the table. A failure is the one that reading them one by
// one would meet first: a refused line, the table full, or no memory left.
void store_lines(PcTable& table, std::span<const std::string_view> lines) {
  const auto room = static_cast<std::size_t>(MAX_VECTORS - table.n);
  std::size_t storable = std::min(lines.size(), room);
  const bool reserved = reserve_vectors(table, table.n + static_cast<std::int32_t>(storable));
  if (!reserved) storable = static_cast<std::size_t>(table.capacity - table.n);
  const std::size_t refused = parse_rows(table, lines.first(storable));
  if (refused < storable) refuse_line(lines[refused]);
  table.n += static_cast<std::int32_t>(storable);
  if (storable == lines.size()) return;
  if (!reserved) fail("Memory exhausted after %d vectors were read.\n", table.n);
  fail("Too many vectors: at most 25000000 can be read.\n");
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

void read_pc_table(std::FILE* in, PcTable& table) {
  static LineReader reader;
  static std::string_view lines[LINES_PER_BATCH];
  // A standard input that the caller closed holds /dev/null: no table.
  if (standard_descriptor_was_closed(fileno(in))) {
    fail("Failed to read standard input: %s\n", std::strerror(EBADF));
  }
  start_reading(reader, in, LINE_CHARS);
  std::size_t count = next_lines(reader, lines);
  if (count == 0) fail("Failed to read any input (?!). Abort.\n");
  table.ncol = count_columns(lines[0]);
  if (table.ncol > MAX_COLUMNS) {
    fail("Too many columns on the first line: at most 10 components per vector.\n");
  }
  if (table.ncol < 1) refuse_line(lines[0]);
  table.n = 0;
  do {
    store_lines(table, {lines, count});
  } while ((count = next_lines(reader, lines)) > 0);
  std::fprintf(stderr, "Read %d vectors (%d-dimensional).\n", table.n, table.dim());
}

}  // namespace pcgrid
