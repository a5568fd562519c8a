// clusterback: the members of every cluster of a PC table.
//
// Reads the table on standard input and the dictionary "cwords_clusters",
// gives each vector the cluster of the first entry that matches its word,
// and writes label, cluster and components of every vector whose cluster
// number is positive, in input order. With --grid, the grid comes from a
// grid file and the table streams through.

#include <omp.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstdio>

#include "assign_clusters.hpp"
#include "cluster_dictionary.hpp"
#include "grid_check.hpp"
#include "huge_pages.hpp"
#include "letter_code.hpp"
#include "messages.hpp"
#include "number_format.hpp"
#include "output.hpp"
#include "pc_table.hpp"
#include "pcgrid_config.hpp"
#include "standard_descriptors.hpp"
#include "table_memory.hpp"
#include "thread_pool.hpp"
#include "thread_stacks.hpp"
#include "word_options.hpp"

namespace {

constexpr char HELP[] =
    "Usage: clusterback [--grid GRID] < TABLE > MEMBERS\n"
    "Reads a PC table on standard input (one vector per line, an integer label\n"
    "and up to 10 components) and the dictionary cwords_clusters in the current\n"
    "folder (\"WORD CLUSTER\" entries, as wordclusters writes them). Gives every\n"
    "vector the cluster of the first entry that matches its word, the word that\n"
    "lettercode writes for it, and writes on standard output, in input order, the\n"
    "label, cluster and components of every vector whose cluster is above 0.\n"
    "Standard error gets the vector count, the grid and the number of entries.\n"
    "OMP_NUM_THREADS sets the number of threads; the output is the same on any.\n"
    "\n"
    "  --grid GRID  use the grid of the grid file GRID (lettercode --grid-of makes\n"
    "               one) instead of the table's own; the table streams through,\n"
    "               in fixed memory\n"
    "  --help       this help\n"
    "  --version    the version\n"
    "Other arguments are ignored. See man clusterback and man pcgrid-grid.\n";

// The cluster of each vector, 0 for none: room for `rows` of them, kept.
void reserve_clusters(std::span<std::int32_t>& nclu, std::int32_t rows) {
  if (static_cast<std::size_t>(rows) <= nclu.size()) return;
  const std::size_t bytes = static_cast<std::size_t>(rows) * sizeof(std::int32_t);
  void* slots = pcgrid::grow_zeroed(nclu.data(), nclu.size_bytes(), bytes);
  if (slots == nullptr) pcgrid::fail("Memory exhausted after %d vectors were read.\n", rows);
  nclu = {static_cast<std::int32_t*>(slots), static_cast<std::size_t>(rows)};
}

// "%10d %4d " and " %10.7f" per component: a float of the largest
// magnitude takes 48 characters in that format.
std::size_t member_line(int dim) {
  return 24 + static_cast<std::size_t>(dim) * 50;
}

// The report lines of vectors begin .. end-1 at `out`; the end of the text.
char* format_members(char* out, const pcgrid::PcTable& table, std::span<const std::int32_t> nclu,
                     std::int32_t begin, std::int32_t end) {
  const int dim = table.dim();
  for (std::int32_t i = begin; i < end; ++i) {
    if (nclu[i] <= 0) continue;
    out = pcgrid::format_int(out, table.indeces[i], 10);
    *out++ = ' ';
    out = pcgrid::format_int(out, nclu[i], 4);
    *out++ = ' ';
    for (int d = 0; d < dim; ++d) {
      *out++ = ' ';
      out = pcgrid::format_fixed7(out, static_cast<double>(table.dat[i][d]), 10);
    }
    *out++ = '\n';
  }
  return out;
}

// The report is formatted a block of vectors at a time: the block's parts
// on all threads, each into a text of its own reserved once, and the texts
// written in input order. The reference build, a run on one thread, and a
// run that cannot have the memory for the texts format each line straight
// into the output buffer.
constexpr std::int32_t VECTORS_PER_PART = 4096;
constexpr int PARTS_PER_BLOCK = 32;

void write_members_on_one_thread(const pcgrid::PcTable& table,
                                 std::span<const std::int32_t> nclu) {
  const std::size_t room = member_line(table.dim()) + pcgrid::FORMAT_ROOM;
  for (std::int32_t i = 0; i < table.n; ++i) {
    if (nclu[i] <= 0) continue;
    pcgrid::commit_output(format_members(pcgrid::reserve_output(room), table, nclu, i, i + 1));
  }
}

void write_members_in_parts(const pcgrid::PcTable& table, std::span<const std::int32_t> nclu,
                            char* texts, std::size_t part_room) {
  constexpr std::int32_t VECTORS_PER_BLOCK = VECTORS_PER_PART * PARTS_PER_BLOCK;
  std::size_t lengths[PARTS_PER_BLOCK];
  for (std::int32_t first = 0; first < table.n; first += VECTORS_PER_BLOCK) {
    const std::int32_t end = first + std::min(VECTORS_PER_BLOCK, table.n - first);
    const int parts = (end - first + VECTORS_PER_PART - 1) / VECTORS_PER_PART;
#pragma omp parallel for schedule(dynamic, 1) if (parts > 1)
    for (int k = 0; k < parts; ++k) {
      const std::int32_t begin = first + k * VECTORS_PER_PART;
      char* const text = texts + static_cast<std::size_t>(k) * part_room;
      const char* const text_end =
          format_members(text, table, nclu, begin, std::min(begin + VECTORS_PER_PART, end));
      lengths[k] = static_cast<std::size_t>(text_end - text);
    }
    for (int k = 0; k < parts; ++k) {
      pcgrid::put_output({texts + static_cast<std::size_t>(k) * part_room, lengths[k]});
    }
  }
}

// The texts of a block's parts, reserved once for vectors of `dim`
// components; null where the lines are formatted straight into the output.
struct PartTexts {
  char* bytes;
  std::size_t part_room;
};

PartTexts reserve_part_texts(int dim, std::int64_t vectors) {
  const std::size_t part_room = VECTORS_PER_PART * member_line(dim) + pcgrid::FORMAT_ROOM;
  const std::size_t bytes = PARTS_PER_BLOCK * part_room;
  const bool one_thread = omp_get_max_threads() == 1;
  void* texts = pcgrid::LIBC_IO || one_thread || vectors <= VECTORS_PER_PART
                    ? nullptr
                    : pcgrid::grow_zeroed(nullptr, 0, bytes);
  // Small pages: only the part of each text that its lines fill is touched.
  if (texts != nullptr) madvise(texts, bytes, MADV_NOHUGEPAGE);
  return {static_cast<char*>(texts), part_room};
}

void write_members(const pcgrid::PcTable& table, std::span<const std::int32_t> nclu,
                   const PartTexts& texts) {
  if (texts.bytes == nullptr) {
    write_members_on_one_thread(table, nclu);
  } else {
    write_members_in_parts(table, nclu, texts.bytes, texts.part_room);
  }
}

// The dictionary and its index: 12 MB of static storage, not the stack.
struct Dictionary {
  pcgrid::ClusterDictionary entries;
  pcgrid::ClusterIndex index;
};

void read_dictionary(Dictionary& dictionary, int dim) {
  pcgrid::prefer_huge_pages(&dictionary, sizeof dictionary);
  pcgrid::read_cluster_dictionary(dictionary.entries);
  pcgrid::build_cluster_index(dictionary.entries, dim, dictionary.index);
}

// The members on the table's own grid: the whole table first.
void write_table_members(pcgrid::LineReader& reader, Dictionary& dictionary) {
  pcgrid::PcTable table{};
  pcgrid::read_pc_table(stdin, reader, table);
  pcgrid::DimLimits limits;
  pcgrid::compute_limits(table, limits);
  const int g = pcgrid::grid_size(table.n);
  read_dictionary(dictionary, table.dim());
  std::span<std::int32_t> nclu;
  reserve_clusters(nclu, table.n);
  pcgrid::assign_clusters(table, limits, g, dictionary.index, nclu);
  write_members(table, nclu, reserve_part_texts(table.dim(), table.n));
}

struct GridMembers {
  const pcgrid::GridCheck* check;
  const pcgrid::ClusterIndex* index;
  std::span<std::int32_t> nclu;
  PartTexts texts;
};

void write_batch_members(const pcgrid::PcTable& rows, std::int64_t before, void* context) {
  auto& members = *static_cast<GridMembers*>(context);
  pcgrid::check_rows(*members.check, rows, before);
  reserve_clusters(members.nclu, rows.n);
  const std::span<std::int32_t> nclu = members.nclu.first(static_cast<std::size_t>(rows.n));
  pcgrid::assign_clusters(rows, members.check->grid.limits, members.check->grid.g,
                          *members.index, nclu);
  write_members(rows, nclu, members.texts);
}

// The members on the grid of a grid file, a batch of the table at a time.
void write_grid_members(const char* grid_file, pcgrid::LineReader& reader,
                        Dictionary& dictionary) {
  pcgrid::GridCheck check{"clusterback", grid_file, "-", {}};
  pcgrid::load_grid(reader, check);
  read_dictionary(dictionary, check.grid.dim);
  pcgrid::start_reading(reader, stdin, pcgrid::LINE_CHARS, pcgrid::STREAM_BLOCK_BYTES);
  pcgrid::PcTable rows{};
  GridMembers members{&check, &dictionary.index, {},
                      reserve_part_texts(check.grid.dim, check.grid.vectors)};
  const std::int64_t vectors =
      pcgrid::stream_pc_table(reader, rows, {write_batch_members, &members});
  std::fprintf(stderr, "Read %lld vectors (%d-dimensional).\n", static_cast<long long>(vectors),
               rows.dim());
}

}  // namespace

int main(int argc, char** argv) {
  pcgrid::open_closed_standard_descriptors();
  const pcgrid::WordOptions options =
      pcgrid::read_word_options(argc, argv, {"clusterback", HELP, false});
  pcgrid::limit_thread_stacks();
  pcgrid::start_thread_pool();
  pcgrid::tell_a_terminal(
      "clusterback reads a PC table (a label and up to 10 components per line) "
      "on standard input until Ctrl-D, then cwords_clusters; man clusterback describes it.\n");
  static pcgrid::LineReader reader;  // 16 MiB: static storage, not the stack
  static Dictionary dictionary;
  if (options.grid != nullptr) {
    write_grid_members(options.grid, reader, dictionary);
  } else {
    write_table_members(reader, dictionary);
  }
  pcgrid::flush_output();
  return 0;
}
