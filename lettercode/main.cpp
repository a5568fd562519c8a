// lettercode: the word of every PC vector of a table, one per line.
//
// Reads the table on standard input, reports its size and the grid on
// standard error, and writes for each vector, in input order, one letter per
// dimension naming the grid cell that the component falls in. With --grid,
// the grid comes from a grid file and the table streams through; with
// --grid-of, the grid file of the inputs is written instead of words.

#include <algorithm>
#include <cstdio>

#include "grid_check.hpp"
#include "grid_of.hpp"
#include "letter_code.hpp"
#include "output.hpp"
#include "pc_table.hpp"
#include "standard_descriptors.hpp"
#include "thread_pool.hpp"
#include "thread_stacks.hpp"
#include "word_options.hpp"

namespace {

constexpr char HELP[] =
    "Usage: lettercode [--grid GRID] < TABLE > WORDS\n"
    "   or: lettercode --grid-of [FILE...] > GRID\n"
    "Reads a PC table on standard input: one vector per line, an integer label\n"
    "and up to 10 components. Writes on standard output the word of every\n"
    "vector, in input order, one per line: a letter per component naming the\n"
    "cell of the grid it falls in. The grid spans each component's range in the\n"
    "table, in G intervals set by the number of vectors. Standard error gets the\n"
    "vector count and G.\n"
    "\n"
    "  --grid GRID        use the grid of the grid file GRID instead of the\n"
    "                     table's own; the table streams through, in fixed memory\n"
    "  --grid-of [FILE...]  write the grid file of the PC tables or grid files\n"
    "                     FILE... (default standard input), taken as one table\n"
    "  --help             this help\n"
    "  --version          the version\n"
    "Other arguments are ignored. See man lettercode and man pcgrid-grid.\n";

constexpr const char* PROGRAM = "lettercode";

// Every word is D letters and a newline, so the words of a block of
// vectors have fixed places in the text: the threads fill their parts of
// it, and the blocks are written in order.
constexpr std::int32_t WORDS_PER_BLOCK = 1 << 16;
constexpr std::int32_t WORTH_THREADS_WORDS = 4096;  // a block's, at least

struct WordText {
  char bytes[WORDS_PER_BLOCK * (pcgrid::MAX_DIM + 1)];
};

void write_words(const pcgrid::PcTable& table, const pcgrid::DimLimits& limits, int g,
                 WordText& text) {
  const int dim = table.dim();
  const std::int32_t length = dim + 1;
  for (std::int32_t first = 0; first < table.n; first += WORDS_PER_BLOCK) {
    const std::int32_t count = std::min(WORDS_PER_BLOCK, table.n - first);
#pragma omp parallel for schedule(static) if (count >= WORTH_THREADS_WORDS)
    for (std::int32_t i = 0; i < count; ++i) {
      char* word = text.bytes + static_cast<std::size_t>(i) * static_cast<std::size_t>(length);
      char letters[pcgrid::MAX_DIM];
      pcgrid::encode_word(table, first + i, limits, g, letters);
      std::copy_n(letters, dim, word);
      word[dim] = '\n';
    }
    pcgrid::put_output(
        {text.bytes, static_cast<std::size_t>(count) * static_cast<std::size_t>(length)});
  }
}

// The words of a table's own grid: the whole table first.
void write_table_words(pcgrid::LineReader& reader, WordText& text) {
  pcgrid::PcTable table{};
  pcgrid::read_pc_table(stdin, reader, table);
  pcgrid::DimLimits limits;
  pcgrid::compute_limits(table, limits);
  const int g = pcgrid::grid_size(table.n);
  write_words(table, limits, g, text);
}

struct GridWords {
  const pcgrid::GridCheck* check;
  WordText* text;
};

void write_batch_words(const pcgrid::PcTable& rows, std::int64_t before, void* context) {
  const auto& words = *static_cast<const GridWords*>(context);
  pcgrid::check_rows(*words.check, rows, before);
  write_words(rows, words.check->grid.limits, words.check->grid.g, *words.text);
}

// The words on the grid of a grid file, a batch of the table at a time.
void write_grid_words(const char* grid_file, pcgrid::LineReader& reader, WordText& text) {
  pcgrid::GridCheck check{PROGRAM, grid_file, "-", {}};
  pcgrid::load_grid(reader, check);
  pcgrid::start_reading(reader, stdin, pcgrid::LINE_CHARS, pcgrid::STREAM_BLOCK_BYTES);
  pcgrid::PcTable rows{};
  GridWords words{&check, &text};
  const std::int64_t vectors = pcgrid::stream_pc_table(reader, rows, {write_batch_words, &words});
  std::fprintf(stderr, "Read %lld vectors (%d-dimensional).\n", static_cast<long long>(vectors),
               rows.dim());
}

}  // namespace

int main(int argc, char** argv) {
  pcgrid::open_closed_standard_descriptors();
  const pcgrid::WordOptions options = pcgrid::read_word_options(argc, argv, {PROGRAM, HELP, true});
  pcgrid::limit_thread_stacks();
  pcgrid::start_thread_pool();
  static pcgrid::LineReader reader;  // 16 MiB: static storage, not the stack
  if (options.grid_of) {
    lettercode::write_grid_of({options.inputs, static_cast<std::size_t>(options.input_count)},
                              reader);
    pcgrid::flush_output();
    return 0;
  }
  pcgrid::tell_a_terminal(
      "lettercode reads a PC table (a label and up to 10 components per line) "
      "on standard input until Ctrl-D; man lettercode describes it.\n");
  static WordText text;
  if (options.grid != nullptr) {
    write_grid_words(options.grid, reader, text);
  } else {
    write_table_words(reader, text);
  }
  pcgrid::flush_output();
  return 0;
}
