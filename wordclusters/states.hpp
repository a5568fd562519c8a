// The frames' states and what the state files tell of them: each state's
// frames, representative frame, visits and their lifetimes (a frame keeps
// the state of the last frame of its segment that was in one), the
// transitions between states, and the populations of blocks of frames.
#pragma once

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "basins.hpp"
#include "weights.hpp"
#include "word_counts.hpp"

namespace wordclusters {

// Per state s = 1 .. states, at index s (index 0: the frames in no state).
struct StateTables {
  std::uint32_t states = 0;
  std::uint64_t frames_total = 0;
  std::vector<std::uint64_t> frames;
  std::vector<std::uint64_t> representative;  // a frame's number, from 1
  std::vector<std::uint64_t> peak;            // the peak's word
  std::vector<double> population;
  std::vector<std::uint64_t> visits;
  std::vector<std::uint64_t> ended_visits;  // the visits that end in a transition
  std::vector<std::uint64_t> ended_frames;  // and their frames
  // (FROM << 32 | TO, count), in order of FROM, then TO.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> transitions;
  std::uint64_t blocks = 0;              // 0: no block statistics
  std::vector<double> block_population;  // per block
  std::vector<double> block_state;       // block b, state s: [b * (states + 1) + s]
  std::uint64_t segments = 0;            // 0: no segment statistics
  std::vector<double> segment_population;         // per segment
  std::vector<double> segment_state;              // segment g, state s: [g * (states + 1) + s]
  std::vector<std::uint64_t> segment_frames;      // the same, in frames
};

// Each cell's cluster (0: none), by its position in visiting order.
std::vector<std::uint32_t> clusters_of_cells(const Landscape& land, Basins& basins);

// Turns `frame_word` (each frame's word number, which the high half of
// the word's slot holds) into each frame's state, in place, and fills the
// states' frames, peaks, populations and representatives.
void assign_states(const WordCounts& counts, const Landscape& land, const Basins& basins,
                   const std::vector<std::uint32_t>& cluster_of_cell,
                   std::span<std::uint32_t> frame_word, StateTables& tables);

// Visits, lifetimes and transitions, in segments of the given frames (empty:
// one segment).
void follow_visits(std::span<const std::uint32_t> state, const std::vector<std::uint64_t>& segments,
                   StateTables& tables);

// The population of each block (none when `blocks` is 0) and of each
// segment of `segments` (none when it is empty), and of each state in it;
// the weights are read again from `weights` when it is not null, times its
// scale.
void sum_parts(std::span<const std::uint32_t> state, std::uint64_t blocks,
               const std::vector<std::uint64_t>& segments, WeightFile* weights,
               StateTables& tables);

}  // namespace wordclusters
