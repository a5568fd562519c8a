// clusterback: the members of every cluster of a PC table.
//
// Reads the table on standard input and the dictionary "cwords_clusters",
// gives each vector the cluster of the first entry that matches its word,
// and writes label, cluster and components of every vector whose cluster
// number is positive, in input order.

#include <cstdio>

#include "assign_clusters.hpp"
#include "cluster_dictionary.hpp"
#include "letter_code.hpp"
#include "output.hpp"
#include "pc_table.hpp"

namespace {

pcgrid::PcTable table;
pcgrid::DimLimits limits;
pcgrid::ClusterDictionary dictionary;
pcgrid::ClusterIndex dictionary_index;
std::int32_t nclu[pcgrid::MAX_VECTORS];

// "%10d %4d " and " %10.7f" per component; a float of the largest
// magnitude takes 50 characters in that format.
constexpr int MEMBER_LINE = 32 + pcgrid::MAX_DIM * 52;

void write_members() {
  const int dim = table.dim();
  char line[MEMBER_LINE];
  for (std::int32_t i = 0; i < table.n; ++i) {
    if (nclu[i] <= 0) continue;
    int length = std::snprintf(line, MEMBER_LINE, "%10d %4d ", table.indeces[i], nclu[i]);
    for (int d = 0; d < dim; ++d) {
      length += std::snprintf(line + length, MEMBER_LINE - length, " %10.7f",
                              static_cast<double>(table.dat[i][d]));
    }
    line[length++] = '\n';
    pcgrid::put_output({line, static_cast<std::size_t>(length)});
  }
  pcgrid::flush_output();
}

}  // namespace

int main() {
  pcgrid::read_pc_table(stdin, table);
  pcgrid::compute_limits(table, limits);
  const int g = pcgrid::grid_size(table.n);
  pcgrid::read_cluster_dictionary(dictionary);
  pcgrid::build_cluster_index(dictionary, table.dim(), dictionary_index);
  pcgrid::assign_clusters(table, limits, g, dictionary, dictionary_index, nclu);
  write_members();
  return 0;
}
