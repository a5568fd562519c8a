// The parallel region that gives every vector the cluster of its word.
#pragma once

#include <cstdint>
#include <span>

#include "cluster_dictionary.hpp"
#include "letter_code.hpp"
#include "pc_table.hpp"

namespace pcgrid {

// The block of `n` vectors that thread t of `threads` takes, as OpenMP's
// static schedule without a chunk size divides them.
struct Block {
  std::int32_t begin;
  std::int32_t count;
};
Block thread_block(std::int32_t n, int threads, int t);

// Fills nclu[0 .. n-1] with the cluster of each vector's word (0 when no
// entry matches), in one OpenMP parallel region; each thread writes only
// the slots of its own block.
void assign_clusters(const PcTable& table, const DimLimits& limits, int g,
                     const ClusterIndex& index, std::span<std::int32_t> nclu);

}  // namespace pcgrid
