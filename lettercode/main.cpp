// lettercode: the word of every PC vector of a table, one per line.
//
// Reads the table on standard input, reports its size and the grid on
// standard error, and writes for each vector, in input order, one letter per
// dimension naming the grid cell that the component falls in.

#include <algorithm>
#include <cstdio>

#include "letter_code.hpp"
#include "output.hpp"
#include "pc_table.hpp"
#include "standard_descriptors.hpp"
#include "thread_pool.hpp"
#include "thread_stacks.hpp"
#include "word_options.hpp"

namespace {

constexpr char HELP[] =
    "Usage: lettercode < TABLE > WORDS\n"
    "Reads a PC table on standard input: one vector per line, an integer label\n"
    "and up to 10 components. Writes on standard output the word of every\n"
    "vector, in input order, one per line: a letter per component naming the\n"
    "cell of the grid it falls in. The grid spans each component's range in the\n"
    "table, in G intervals set by the number of vectors. Standard error gets the\n"
    "vector count and G.\n"
    "\n"
    "  --help     this help\n"
    "  --version  the version\n"
    "Other arguments are ignored. See man lettercode.\n";

pcgrid::PcTable table;
pcgrid::DimLimits limits;

// Every word is D letters and a newline, so the words of a block of
// vectors have fixed places in the text: the threads fill their parts of
// it, and the blocks are written in order.
constexpr std::int32_t WORDS_PER_BLOCK = 1 << 16;
constexpr std::int32_t WORTH_THREADS = 4096;  // words to share among threads, at least
char text[WORDS_PER_BLOCK * (pcgrid::MAX_DIM + 1)];

void write_words(int g) {
  const int dim = table.dim();
  const std::int32_t length = dim + 1;
  for (std::int32_t first = 0; first < table.n; first += WORDS_PER_BLOCK) {
    const std::int32_t count = std::min(WORDS_PER_BLOCK, table.n - first);
#pragma omp parallel for schedule(static) if (count >= WORTH_THREADS)
    for (std::int32_t i = 0; i < count; ++i) {
      char* word = text + static_cast<std::size_t>(i) * static_cast<std::size_t>(length);
      char letters[pcgrid::MAX_DIM];
      pcgrid::encode_word(table, first + i, limits, g, letters);
      std::copy_n(letters, dim, word);
      word[dim] = '\n';
    }
    pcgrid::put_output({text, static_cast<std::size_t>(count) * static_cast<std::size_t>(length)});
  }
  pcgrid::flush_output();
}

}  // namespace

int main(int argc, char** argv) {
  pcgrid::open_closed_standard_descriptors();
  pcgrid::read_word_options(argc, argv, {"lettercode", HELP});
  pcgrid::limit_thread_stacks();
  pcgrid::start_thread_pool();
  pcgrid::tell_a_terminal(
      "lettercode reads a PC table (a label and up to 10 components per line) "
      "on standard input until Ctrl-D; man lettercode describes it.\n");
  pcgrid::read_pc_table(stdin, table);
  pcgrid::compute_limits(table, limits);
  const int g = pcgrid::grid_size(table.n);
  write_words(g);
  return 0;
}
