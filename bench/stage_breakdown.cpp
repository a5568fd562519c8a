// Where one thread's time goes when lettercode reads a table: each stage
// timed on its own, in ns per field (the label included), over a table
// file read the way read_pc_table reads standard input.
//
//   build/release/bin/stage_breakdown TABLE [ROUNDS]
//
// read       the system calls that bring the file into the reader's buffer
// structure  cutting blocks of whole lines (read and cut, less read
//            alone), counting their pieces, finding every line's tokens
// convert    the labels and components of every line into the table
//            (parse_pieces, less finding the tokens)
// in order   the pass over the table in input order (the limits)
// format     the words, written to /dev/null
// The file should be in the page cache (run it twice); the medians of
// ROUNDS runs (default 3) are printed.
#include <fcntl.h>
#include <omp.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "descriptor_io.hpp"
#include "letter_code.hpp"
#include "line_reader.hpp"
#include "pc_table.hpp"
#include "structural_scan.hpp"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Stages {
  double read, cut, convert, in_order, format;
  long fields;
};

pcgrid::PcTable table;
pcgrid::DimLimits limits;

double read_alone(const char* path) {
  static char buffer[pcgrid::READ_BLOCK];
  const int fd = open(path, O_RDONLY);
  if (fd < 0) std::exit(1);
  const auto start = Clock::now();
  while (pcgrid::read_some(fd, buffer, sizeof buffer) > 0) {
  }
  const double t = seconds_since(start);
  close(fd);
  return t;
}

// The tokens of every line of `block`, found and not converted: the
// structural scan's share of parse_pieces.
std::size_t find_all_tokens(std::string_view block, int wanted) {
  const char* p = block.data();
  const char* const end = p + block.size();
  std::size_t found = 0;
  pcgrid::LineTokens tokens;
  while (p < end) {
    if (pcgrid::find_tokens(p, end, pcgrid::LINE_CHARS, wanted, tokens)) {
      p += tokens.length;
      found += static_cast<std::size_t>(tokens.count);
    } else {
      std::string_view piece;
      p += pcgrid::piece_at(p, end, pcgrid::LINE_CHARS, piece);
    }
  }
  return found;
}

Stages one_round(const char* path) {
  Stages s{};
  s.read = read_alone(path);
  static pcgrid::LineReader reader;
  std::FILE* in = std::fopen(path, "r");
  if (in == nullptr) std::exit(1);
  pcgrid::start_reading(reader, in, pcgrid::LINE_CHARS);
  double read_and_cut = 0, scan = 0, tokens = 0, parse = 0;
  std::size_t found = 0;
  table.n = 0;
  for (;;) {
    auto start = Clock::now();
    std::string_view block;
    const bool more = pcgrid::read_block(reader, block);
    read_and_cut += seconds_since(start);
    if (!more) break;
    if (table.n == 0) {
      std::string_view first;
      pcgrid::piece_at(block.data(), block.data() + block.size(), pcgrid::LINE_CHARS, first);
      table.ncol = pcgrid::count_columns(first);
    }
    start = Clock::now();
    const auto count = static_cast<std::int32_t>(
        pcgrid::count_pieces(block.data(), block.data() + block.size(), pcgrid::LINE_CHARS));
    scan += seconds_since(start);
    start = Clock::now();
    found += find_all_tokens(block, table.ncol);
    tokens += seconds_since(start);
    start = Clock::now();
    if (!pcgrid::reserve_vectors(table, table.n + count)) std::exit(1);
    const pcgrid::PieceParse parsed = pcgrid::parse_pieces(table, block, table.n, table.n + count);
    if (parsed.refused || parsed.rows != count) std::exit(1);
    table.n += count;
    parse += seconds_since(start);
  }
  std::fclose(in);
  if (found == 0) std::exit(1);
  s.cut = read_and_cut - s.read + scan + tokens;
  s.convert = parse - tokens;
  s.fields = static_cast<long>(table.n) * table.ncol;

  auto start = Clock::now();
  pcgrid::compute_limits(table, limits);
  s.in_order = seconds_since(start);

  start = Clock::now();
  const int g = pcgrid::compute_grid_size(table.n);
  const int dim = table.dim();
  static char text[(1 << 16) * (pcgrid::MAX_DIM + 1)];
  const int out = open("/dev/null", O_WRONLY);
  std::size_t filled = 0;
  for (std::int32_t i = 0; i < table.n; ++i) {
    char letters[pcgrid::MAX_DIM];
    pcgrid::encode_word(table, i, limits, g, letters);
    std::copy_n(letters, dim, text + filled);
    text[filled + static_cast<std::size_t>(dim)] = '\n';
    filled += static_cast<std::size_t>(dim) + 1;
    if (filled + pcgrid::MAX_DIM + 1 > sizeof text) {
      pcgrid::write_fully(out, text, filled);
      filled = 0;
    }
  }
  pcgrid::write_fully(out, text, filled);
  close(out);
  s.format = seconds_since(start);
  return s;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: stage_breakdown TABLE [ROUNDS]\n");
    return 2;
  }
  omp_set_num_threads(1);
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  std::vector<double> read, cut, convert, in_order, format, total;
  long fields = 0;
  for (int r = 0; r < rounds; ++r) {
    const Stages s = one_round(argv[1]);
    fields = s.fields;
    const double per_field = 1e9 / static_cast<double>(s.fields);
    read.push_back(s.read * per_field);
    cut.push_back(s.cut * per_field);
    convert.push_back(s.convert * per_field);
    in_order.push_back(s.in_order * per_field);
    format.push_back(s.format * per_field);
    total.push_back((s.read + s.cut + s.convert + s.in_order + s.format) * per_field);
  }
  std::printf("%ld fields, one thread, median of %d rounds, ns per field\n\n", fields, rounds);
  std::printf("| read | structure | convert | in order | format and write | total |\n");
  std::printf("|---|---|---|---|---|---|\n");
  std::printf("| %.1f | %.1f | %.1f | %.1f | %.1f | %.1f |\n", median(read), median(cut),
              median(convert), median(in_order), median(format), median(total));
  return 0;
}
