#include "assign_clusters.hpp"

#include <omp.h>

namespace pcgrid {

Block thread_block(std::int32_t n, int threads, int t) {
  const std::int32_t q = n / threads;
  const std::int32_t r = n % threads;
  if (t < r) return {t * (q + 1), q + 1};
  return {t * q + r, q};
}

void assign_clusters(const PcTable& table, const DimLimits& limits, int g,
                     const ClusterDictionary& dictionary, const ClusterIndex& index,
                     std::span<std::int32_t> nclu) {
#pragma omp parallel
  {
    const Block block = thread_block(table.n, omp_get_num_threads(), omp_get_thread_num());
    char word[MAX_DIM];
    for (std::int32_t i = block.begin; i < block.begin + block.count; ++i) {
      nclu[i] = lookup_cluster(encode_word(table, i, limits, g, word), dictionary, index);
    }
  }
}

}  // namespace pcgrid
