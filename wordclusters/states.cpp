#include "states.hpp"

#include <algorithm>
#include <cmath>
#include <new>
#include <string>

#include "refusal.hpp"

namespace wordclusters {

namespace {

constexpr std::uint32_t NO_WORD_NUMBER = UINT32_MAX;  // word numbers are below the frames' count

void size_tables(std::uint32_t states, StateTables& tables) {
  tables.states = states;
  for (auto* table : {&tables.frames, &tables.representative, &tables.peak, &tables.visits,
                      &tables.ended_visits, &tables.ended_frames}) {
    table->assign(states + 1, 0);
  }
  tables.population.assign(states + 1, 0.0);
}

// The populations of K blocks for S states, 8 (S + 2) K bytes: a K too
// many for the memory is refused, with what it would take.
void size_block_tables(std::uint64_t blocks, std::size_t row, StateTables& tables) {
  std::size_t numbers = 0;
  bool held = !__builtin_mul_overflow(blocks, row, &numbers) &&
              numbers <= tables.block_state.max_size();
  const std::new_handler handler = std::set_new_handler(nullptr);
  try {
    if (held) {
      tables.block_population.assign(blocks, 0.0);
      tables.block_state.assign(numbers, 0.0);
    }
  } catch (const std::bad_alloc&) {
    held = false;
  }
  std::set_new_handler(handler);
  if (!held) {
    tables.block_population = {};
    const double megabytes = 8.0 * static_cast<double>(blocks) * static_cast<double>(row + 1) / 1e6;
    refuse("--blocks " + std::to_string(blocks) + " for " + std::to_string(row - 1) +
           " states needs " + std::to_string(static_cast<std::uint64_t>(std::ceil(megabytes))) +
           " MB: out of memory");
  }
}

}  // namespace

std::vector<std::uint32_t> clusters_of_cells(const Landscape& land, Basins& basins) {
  const std::size_t n = land.cells.size();
  std::vector<std::uint32_t> cluster_of_peak(n, 0);
  for (std::size_t s = 0; s < basins.states.size(); ++s) {
    cluster_of_peak[basins.states[s]] = static_cast<std::uint32_t>(s + 1);
  }
  std::vector<std::uint32_t> cluster(n);
  for (std::uint32_t i = 0; i < n; ++i) cluster[i] = cluster_of_peak[basin_of(basins, i)];
  return cluster;
}

void assign_states(const WordCounts& counts, const Landscape& land, const Basins& basins,
                   const std::vector<std::uint32_t>& cluster_of_cell,
                   std::span<std::uint32_t> frame_word, StateTables& tables) {
  const auto states = static_cast<std::uint32_t>(basins.states.size());
  size_tables(states, tables);
  tables.frames_total = frame_word.size();
  std::vector<std::uint32_t> state_of_word(counts.distinct, 0);
  for (const WordSlot& slot : counts.slots) {
    if (slot.key != NO_WORD && cell_of(slot) != NO_CELL) {
      state_of_word[slot.value >> 32] = cluster_of_cell[cell_of(slot)];
    }
  }
  std::vector<std::uint32_t> peak_number(states + 1, NO_WORD_NUMBER);
  for (std::uint32_t s = 1; s <= states; ++s) {
    const std::uint32_t peak_cell = basins.states[s - 1];
    tables.peak[s] = land.cells[peak_cell].key;
    tables.population[s] = basins.population[peak_cell];
    // A dictionary's peak may be missing from the frames: then no representative.
    if (const WordSlot* slot = find_word(counts, tables.peak[s])) {
      peak_number[s] = static_cast<std::uint32_t>(slot->value >> 32);
    }
  }
  for (std::size_t f = 0; f < frame_word.size(); ++f) {
    const std::uint32_t word = frame_word[f];
    const std::uint32_t state = state_of_word[word];
    frame_word[f] = state;
    ++tables.frames[state];
    if (word == peak_number[state] && tables.representative[state] == 0) {
      tables.representative[state] = f + 1;
    }
  }
}

void follow_visits(std::span<const std::uint32_t> state, const std::vector<std::uint64_t>& segments,
                   StateTables& tables) {
  WordCounts pairs;  // a transition's count, keyed by FROM << 32 | TO
  start_counting(pairs);
  std::size_t first = 0;
  const std::size_t layouts = std::max<std::size_t>(segments.size(), 1);
  for (std::size_t segment = 0; segment < layouts; ++segment) {
    const std::size_t end = segments.empty() ? state.size() : first + segments[segment];
    std::uint32_t kept = 0;  // the state of the segment's last frame in one
    std::size_t visit_start = first;
    for (std::size_t f = first; f < end; ++f) {
      const std::uint32_t s = state[f];
      if (s == 0 || s == kept) continue;
      if (kept != 0) {
        ++tables.ended_visits[kept];
        tables.ended_frames[kept] += f - visit_start;
        count_word(pairs, std::uint64_t{kept} << 32 | s);
      }
      kept = s;
      ++tables.visits[s];
      visit_start = f;
    }
    first = end;
  }
  tables.transitions.clear();
  for (const WordSlot& slot : pairs.slots) {
    if (slot.key != NO_WORD) tables.transitions.emplace_back(slot.key, slot.value);
  }
  std::sort(tables.transitions.begin(), tables.transitions.end());
  stop_counting(pairs);
}

namespace {

// Frame f (from 0) is in block floor(f * blocks / frames): block b ends
// before this frame.
std::uint64_t block_end(std::uint64_t b, std::uint64_t blocks, std::uint64_t frames) {
  return ((b + 1) * frames + blocks - 1) / blocks;
}

// Without weights each frame weighs 1: the parts are summed one after the
// other, range by range.
void count_parts(std::span<const std::uint32_t> state, const std::vector<std::uint64_t>& segments,
                 StateTables& tables) {
  const std::uint64_t frames = state.size();
  const std::size_t row = tables.states + 1;
  std::uint64_t f = 0;
  for (std::uint64_t b = 0; b < tables.blocks; ++b) {
    double& block = tables.block_population[b];
    double* in_state = &tables.block_state[b * row];
    for (const std::uint64_t end = block_end(b, tables.blocks, frames); f < end; ++f) {
      block += 1.0;
      in_state[state[f]] += 1.0;
    }
  }
  f = 0;
  for (std::size_t g = 0; g < segments.size(); ++g) {
    double* in_state = &tables.segment_state[g * row];
    std::uint64_t* frames_in_state = &tables.segment_frames[g * row];
    tables.segment_population[g] = static_cast<double>(segments[g]);
    for (const std::uint64_t end = f + segments[g]; f < end; ++f) {
      in_state[state[f]] += 1.0;
      ++frames_in_state[state[f]];
    }
  }
}

// With weights, read once more, every part is summed in one pass.
void weigh_parts(std::span<const std::uint32_t> state, const std::vector<std::uint64_t>& segments,
                 WeightFile& weights, StateTables& tables) {
  const std::uint64_t frames = state.size();
  const std::size_t row = tables.states + 1;
  const std::uint64_t blocks = tables.blocks;
  reread_weights(weights);
  std::uint64_t block = 0, ends_block = blocks == 0 ? frames : block_end(0, blocks, frames);
  std::size_t segment = 0;
  std::uint64_t ends_segment = segments.empty() ? frames : segments[0];
  for (std::uint64_t f = 0; f < frames; ++f) {
    double weight = 1.0;
    if (!next_weight(weights, weight)) too_few_weights(weights, f, frames);
    weight *= weights.scale;
    if (blocks != 0) {
      while (f >= ends_block) ends_block = block_end(++block, blocks, frames);
      tables.block_population[block] += weight;
      tables.block_state[block * row + state[f]] += weight;
    }
    if (!segments.empty()) {
      while (f >= ends_segment) ends_segment += segments[++segment];
      tables.segment_population[segment] += weight;
      tables.segment_state[segment * row + state[f]] += weight;
      ++tables.segment_frames[segment * row + state[f]];
    }
  }
  expect_end(weights, frames);
}

}  // namespace

void sum_parts(std::span<const std::uint32_t> state, std::uint64_t blocks,
               const std::vector<std::uint64_t>& segments, WeightFile* weights,
               StateTables& tables) {
  const std::size_t row = tables.states + 1;
  tables.blocks = blocks;
  if (blocks != 0) size_block_tables(blocks, row, tables);
  tables.segments = segments.size();
  tables.segment_population.assign(segments.size(), 0.0);
  tables.segment_state.assign(segments.size() * row, 0.0);
  tables.segment_frames.assign(segments.size() * row, 0);
  if (weights != nullptr) {
    weigh_parts(state, segments, *weights, tables);
  } else {
    count_parts(state, segments, tables);
  }
}

}  // namespace wordclusters
