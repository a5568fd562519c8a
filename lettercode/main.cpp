// lettercode: the word of every PC vector of a table, one per line.
//
// Reads the table on standard input, reports its size and the grid on
// standard error, and writes for each vector, in input order, one letter per
// dimension naming the grid cell that the component falls in.

#include <cstdio>

#include "letter_code.hpp"
#include "output.hpp"
#include "pc_table.hpp"
#include "standard_descriptors.hpp"
#include "thread_stacks.hpp"

namespace {

pcgrid::PcTable table;
pcgrid::DimLimits limits;

void write_words(int g) {
  char word[pcgrid::MAX_DIM + 1];
  for (std::int32_t i = 0; i < table.n; ++i) {
    const std::string_view letters = pcgrid::encode_word(
        table, i, limits, g, std::span<char, pcgrid::MAX_DIM>(word, pcgrid::MAX_DIM));
    word[letters.size()] = '\n';
    pcgrid::put_output({word, letters.size() + 1});
  }
  pcgrid::flush_output();
}

}  // namespace

int main() {
  pcgrid::open_closed_standard_descriptors();
  pcgrid::limit_thread_stacks();
  pcgrid::read_pc_table(stdin, table);
  pcgrid::compute_limits(table, limits);
  const int g = pcgrid::grid_size(table.n);
  write_words(g);
  return 0;
}
