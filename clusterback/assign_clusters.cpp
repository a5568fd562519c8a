#include "assign_clusters.hpp"

#include <omp.h>

#include <algorithm>

namespace pcgrid {

Block thread_block(std::int32_t n, int threads, int t) {
  const std::int32_t q = n / threads;
  const std::int32_t r = n % threads;
  if (t < r) return {t * (q + 1), q + 1};
  return {t * q + r, q};
}

void assign_clusters(const PcTable& table, const DimLimits& limits, int g,
                     const ClusterIndex& index, std::span<std::int32_t> nclu) {
#pragma omp parallel
  {
    const Block block = thread_block(table.n, omp_get_num_threads(), omp_get_thread_num());
    // The words of a few vectors at a time, their index slots fetched
    // together before any of them is looked at.
    constexpr std::int32_t BATCH = 16;
    const std::int32_t end = block.begin + block.count;
    for (std::int32_t first = block.begin; first < end; first += BATCH) {
      const std::int32_t count = std::min(BATCH, end - first);
      std::uint64_t keys[BATCH];
      char word[MAX_DIM];
      for (std::int32_t b = 0; b < count; ++b) {
        keys[b] = fetch_cluster_key(encode_word(table, first + b, limits, g, word), index);
      }
      for (std::int32_t b = 0; b < count; ++b) nclu[first + b] = lookup_cluster_key(keys[b], index);
    }
  }
}

}  // namespace pcgrid
