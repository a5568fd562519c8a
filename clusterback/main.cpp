// clusterback: the members of every cluster of a PC table.
//
// Reads the table on standard input and the dictionary "cwords_clusters",
// gives each vector the cluster of the first entry that matches its word,
// and writes label, cluster and components of every vector whose cluster
// number is positive, in input order.

#include <omp.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstdio>

#include "assign_clusters.hpp"
#include "cluster_dictionary.hpp"
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
    "Usage: clusterback < TABLE > MEMBERS\n"
    "Reads a PC table on standard input (one vector per line, an integer label\n"
    "and up to 10 components) and the dictionary cwords_clusters in the current\n"
    "folder (\"WORD CLUSTER\" entries, as wordclusters writes them). Gives every\n"
    "vector the cluster of the first entry that matches its word, the word that\n"
    "lettercode writes for it, and writes on standard output, in input order, the\n"
    "label, cluster and components of every vector whose cluster is above 0.\n"
    "Standard error gets the vector count, the grid and the number of entries.\n"
    "OMP_NUM_THREADS sets the number of threads; the output is the same on any.\n"
    "\n"
    "  --help     this help\n"
    "  --version  the version\n"
    "Other arguments are ignored. See man clusterback.\n";

pcgrid::PcTable table;
pcgrid::DimLimits limits;
pcgrid::ClusterDictionary dictionary;
pcgrid::ClusterIndex dictionary_index;
std::span<std::int32_t> nclu;  // the cluster of each vector, 0 for none

void reserve_clusters() {
  const std::size_t bytes = static_cast<std::size_t>(table.n) * sizeof(std::int32_t);
  void* slots = bytes == 0 ? nullptr : pcgrid::grow_zeroed(nullptr, 0, bytes);
  if (bytes != 0 && slots == nullptr) {
    pcgrid::fail("Memory exhausted after %d vectors were read.\n", table.n);
  }
  nclu = {static_cast<std::int32_t*>(slots), static_cast<std::size_t>(table.n)};
}

// "%10d %4d " and " %10.7f" per component: a float of the largest
// magnitude takes 48 characters in that format.
std::size_t member_line(int dim) {
  return 24 + static_cast<std::size_t>(dim) * 50;
}

// The report lines of vectors begin .. end-1 at `out`; the end of the text.
char* format_members(char* out, std::int32_t begin, std::int32_t end) {
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

void write_members_on_one_thread() {
  const std::size_t room = member_line(table.dim()) + pcgrid::FORMAT_ROOM;
  for (std::int32_t i = 0; i < table.n; ++i) {
    if (nclu[i] > 0) pcgrid::commit_output(format_members(pcgrid::reserve_output(room), i, i + 1));
  }
}

void write_members_in_parts(char* texts, std::size_t part_room) {
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
          format_members(text, begin, std::min(begin + VECTORS_PER_PART, end));
      lengths[k] = static_cast<std::size_t>(text_end - text);
    }
    for (int k = 0; k < parts; ++k) {
      pcgrid::put_output({texts + static_cast<std::size_t>(k) * part_room, lengths[k]});
    }
  }
}

void write_members() {
  const std::size_t part_room = VECTORS_PER_PART * member_line(table.dim()) + pcgrid::FORMAT_ROOM;
  const std::size_t bytes = PARTS_PER_BLOCK * part_room;
  const bool one_thread = omp_get_max_threads() == 1;
  void* texts = pcgrid::LIBC_IO || one_thread || table.n <= VECTORS_PER_PART
                    ? nullptr
                    : pcgrid::grow_zeroed(nullptr, 0, bytes);
  // Small pages: only the part of each text that its lines fill is touched.
  if (texts != nullptr) madvise(texts, bytes, MADV_NOHUGEPAGE);
  if (texts == nullptr) {
    write_members_on_one_thread();
  } else {
    write_members_in_parts(static_cast<char*>(texts), part_room);
  }
  pcgrid::flush_output();
}

}  // namespace

int main(int argc, char** argv) {
  pcgrid::open_closed_standard_descriptors();
  pcgrid::read_word_options(argc, argv, {"clusterback", HELP});
  pcgrid::limit_thread_stacks();
  pcgrid::start_thread_pool();
  pcgrid::tell_a_terminal(
      "clusterback reads a PC table (a label and up to 10 components per line) "
      "on standard input until Ctrl-D, then cwords_clusters; man clusterback describes it.\n");
  pcgrid::read_pc_table(stdin, table);
  pcgrid::compute_limits(table, limits);
  const int g = pcgrid::grid_size(table.n);
  pcgrid::prefer_huge_pages(&dictionary, sizeof dictionary);
  pcgrid::prefer_huge_pages(&dictionary_index, sizeof dictionary_index);
  pcgrid::read_cluster_dictionary(dictionary);
  pcgrid::build_cluster_index(dictionary, table.dim(), dictionary_index);
  reserve_clusters();
  pcgrid::assign_clusters(table, limits, g, dictionary_index, nclu);
  write_members();
  return 0;
}
