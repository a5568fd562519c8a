// Where one thread's time goes when gridmap bins a points file: each stage
// timed on its own, over both passes, in ns per point (one line, read
// twice).
//
//   build/release/bin/gridmap_stages POINTS [GRID] [ROUNDS]
//
// read       the system calls that bring the file into the reader's buffer
// structure  cutting blocks of whole lines (read and cut, less read alone)
//            and finding every line's tokens
// convert    the points of every line, their limits in the first pass and
//            their nodes in the second (convert_part, less the tokens)
// in order   the points added to their nodes in file order
// format     both matrices formatted, as "%8.7e " values
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
#include "grid_accumulator.hpp"
#include "line_reader.hpp"
#include "number_format.hpp"
#include "point_blocks.hpp"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Stages {
  double read, structure, convert, in_order, format;
  long points;
};

gridmap::GridAccumulator grid;
pcgrid::LineReader reader;
std::vector<gridmap::NodeRecord> nodes;

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

// One pass over the file with `rules`; the second pass adds the points to
// their nodes.
void one_pass(const char* path, gridmap::PassRules& rules, Stages& s) {
  std::FILE* in = std::fopen(path, "r");
  if (in == nullptr) std::exit(1);
  pcgrid::start_reading(reader, in, pcgrid::MAX_PIECE);
  bool first = true;
  for (;;) {
    auto start = Clock::now();
    std::string_view block;
    const bool more = pcgrid::read_block(reader, block);
    s.structure += seconds_since(start);
    if (!more) break;
    if (first) rules.ncol = gridmap::first_columns(block);
    first = false;
    start = Clock::now();
    if (gridmap::find_part_tokens(block) == 0) std::exit(1);
    const double tokens = seconds_since(start);
    s.structure += tokens;
    nodes.resize(block.size() / 3 + 1);
    start = Clock::now();
    const gridmap::PartPoints part = gridmap::convert_part(block, rules, nodes.data(), true);
    s.convert += seconds_since(start) - tokens;
    if (part.stop != gridmap::Stop::none) std::exit(1);
    if (!rules.find_nodes) {
      const bool none_yet = s.points == 0;
      grid.xmin = none_yet ? part.xmin : std::min(grid.xmin, part.xmin);
      grid.xmax = none_yet ? part.xmax : std::max(grid.xmax, part.xmax);
      grid.ymin = none_yet ? part.ymin : std::min(grid.ymin, part.ymin);
      grid.ymax = none_yet ? part.ymax : std::max(grid.ymax, part.ymax);
      s.points += part.points;
      continue;
    }
    start = Clock::now();
    for (std::int64_t i = 0; i < part.points; ++i) {
      const gridmap::NodeRecord& r = part.nodes[i];
      ++grid.counts[r.j][r.k];
      if (rules.ncol == 3) grid.sums[r.j][r.k] += r.z;
    }
    s.in_order += seconds_since(start);
  }
  std::fclose(in);
}

Stages one_round(const char* path, int g) {
  Stages s{};
  s.read = 2 * read_alone(path);
  grid.GX = grid.GY = g - 1;
  gridmap::PassRules rules = {0, false, false, false, false, {}, grid.GX, grid.GY};
  one_pass(path, rules, s);
  rules.read_z = rules.ncol == 3;
  rules.find_nodes = true;
  rules.limits = {grid.xmin, grid.xmax, grid.ymin, grid.ymax};
  one_pass(path, rules, s);
  s.structure -= s.read;

  auto start = Clock::now();
  static char row[gridmap::MAXGRID * 16 + 1];
  const int out = open("/dev/null", O_WRONLY);
  for (int logs = 0; logs < 2; ++logs) {
    for (int j = 0; j <= grid.GX; ++j) {
      char* p = row;
      for (int k = 0; k <= grid.GY; ++k) {
        double value = gridmap::node_value(rules.ncol, grid.counts[j][k], grid.sums[j][k]);
        if (logs == 1)
          gridmap::node_log_value(rules.ncol, grid.counts[j][k], grid.sums[j][k], value);
        p = pcgrid::format_scientific7(p, value, 8);
        *p++ = ' ';
      }
      *p++ = '\n';
      pcgrid::write_fully(out, row, static_cast<std::size_t>(p - row));
    }
  }
  close(out);
  s.format = seconds_since(start);
  for (int j = 0; j <= grid.GX; ++j) {
    std::fill(std::begin(grid.counts[j]), std::end(grid.counts[j]), 0u);
    std::fill(std::begin(grid.sums[j]), std::end(grid.sums[j]), 0.0);
  }
  return s;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: gridmap_stages POINTS [GRID] [ROUNDS]\n");
    return 2;
  }
  omp_set_num_threads(1);
  grid.GX = gridmap::MAXGRID - 1;
  if (!gridmap::reserve_nodes(grid)) return 1;
  const int g = argc > 2 ? std::atoi(argv[2]) : 1001;
  const int rounds = argc > 3 ? std::atoi(argv[3]) : 3;
  std::vector<double> read, structure, convert, in_order, format, total;
  long points = 0;
  for (int r = 0; r < rounds; ++r) {
    const Stages s = one_round(argv[1], g);
    points = s.points;
    const double per_point = 1e9 / static_cast<double>(s.points);
    read.push_back(s.read * per_point);
    structure.push_back(s.structure * per_point);
    convert.push_back(s.convert * per_point);
    in_order.push_back(s.in_order * per_point);
    format.push_back(s.format * per_point);
    total.push_back((s.read + s.structure + s.convert + s.in_order + s.format) * per_point);
  }
  std::printf(
      "%ld points, grid %d, one thread, median of %d rounds, ns per point (both passes)\n\n",
      points, g, rounds);
  std::printf("| read | structure | convert | in order | format | total |\n");
  std::printf("|---|---|---|---|---|---|\n");
  std::printf("| %.1f | %.1f | %.1f | %.1f | %.1f | %.1f |\n", median(read), median(structure),
              median(convert), median(in_order), median(format), median(total));
  return 0;
}
