#include "basins.hpp"

#include <algorithm>
#include <cmath>

namespace wordclusters {

namespace {

void sort_cells(WordCounts& counts, std::uint64_t min_frames, bool numbered,
                std::span<const double> weighted, Landscape& land) {
  land.cells.clear();
  for (const WordSlot& slot : counts.slots) {
    const std::uint64_t frames = numbered ? slot.value & LOW_HALF : slot.value;
    if (slot.key != NO_WORD && frames >= min_frames) {
      land.cells.push_back(
          {slot.key, weighted.empty() ? static_cast<double>(frames) : weighted[slot.value >> 32]});
    }
  }
  std::sort(land.cells.begin(), land.cells.end(), [](const Cell& a, const Cell& b) {
    return a.population != b.population ? a.population > b.population : a.key < b.key;
  });
  // The word numbers stay in the high halves.
  const std::uint64_t kept = numbered ? ~LOW_HALF : 0;
  for (WordSlot& slot : counts.slots) slot.value = (slot.value & kept) | NO_CELL;
  constexpr std::size_t AHEAD = 16;  // cells whose slots are fetched ahead
  const std::size_t n = land.cells.size();
  for (std::size_t i = 0; i < n; ++i) {
    if (i + AHEAD < n)
      __builtin_prefetch(&counts.slots[home_slot(counts, land.cells[i + AHEAD].key)], 1);
    std::uint64_t& value = slot_of(counts, land.cells[i].key).value;
    value = (value & kept) | i;
  }
}

// The words one bin above each letter of `key`: every pair of neighbours
// is met once, from its lower word.
int upper_neighbours(std::uint64_t key, int letters, std::uint64_t* keys) {
  int n = 0;
  for (int position = 0; position < letters; ++position) {
    const int shift = LETTER_BITS * position;
    if (((key >> shift) & ((1u << LETTER_BITS) - 1)) < LETTERS) {
      keys[n++] = key + (std::uint64_t{1} << shift);
    }
  }
  return n;
}

struct Link {
  std::uint32_t later, earlier;  // cells' positions in visiting order
};

// The neighbours of a few cells at a time: their slots are fetched from
// memory together, not one after the other.
constexpr std::size_t LINK_BATCH = 16;

std::vector<Link> find_links(const WordCounts& counts, int letters, const Landscape& land) {
  std::vector<Link> links;
  std::uint64_t keys[LINK_BATCH][MAX_LETTERS];
  int found[LINK_BATCH];
  const std::size_t n = land.cells.size();
  for (std::size_t batch = 0; batch < n; batch += LINK_BATCH) {
    const std::size_t size = std::min(LINK_BATCH, n - batch);
    for (std::size_t b = 0; b < size; ++b) {
      found[b] = upper_neighbours(land.cells[batch + b].key, letters, keys[b]);
      for (int k = 0; k < found[b]; ++k) {
        __builtin_prefetch(&counts.slots[home_slot(counts, keys[b][k])]);
      }
    }
    for (std::size_t b = 0; b < size; ++b) {
      const auto i = static_cast<std::uint32_t>(batch + b);
      for (int k = 0; k < found[b]; ++k) {
        const WordSlot* slot = find_word(counts, keys[b][k]);
        if (slot == nullptr || cell_of(*slot) == NO_CELL) continue;
        const std::uint32_t j = cell_of(*slot);
        links.push_back(j < i ? Link{i, j} : Link{j, i});
      }
    }
  }
  return links;
}

// For each cell, its neighbours that are visited before it.
void link_neighbours(const WordCounts& counts, int letters, Landscape& land) {
  const std::vector<Link> links = find_links(counts, letters, land);
  const std::size_t n = land.cells.size();
  land.first_neighbour.assign(n + 1, 0);
  for (const Link& link : links) ++land.first_neighbour[link.later + 1];
  for (std::size_t i = 0; i < n; ++i) land.first_neighbour[i + 1] += land.first_neighbour[i];
  land.neighbours.resize(links.size());
  std::vector<std::size_t> next(land.first_neighbour.begin(), land.first_neighbour.end() - 1);
  for (const Link& link : links) land.neighbours[next[link.later]++] = link.earlier;
}

}  // namespace

void map_cells(WordCounts& counts, int letters, std::uint64_t min_frames, bool numbered,
               std::span<const double> weighted, Landscape& land) {
  sort_cells(counts, min_frames, numbered, weighted, land);
  link_neighbours(counts, letters, land);
}

std::uint32_t basin_of(Basins& basins, std::uint32_t i) {
  while (basins.peak[i] != i) {
    basins.peak[i] = basins.peak[basins.peak[i]];
    i = basins.peak[i];
  }
  return i;
}

void grow_basins(const Landscape& land, double barrier, Basins& basins) {
  const std::size_t n = land.cells.size();
  basins.peak.resize(n);
  basins.population.assign(n, 0);
  // A cell has at most two neighbours a letter.
  std::uint32_t met[2 * MAX_LETTERS];
  for (std::uint32_t i = 0; i < n; ++i) {
    int distinct = 0;
    for (std::size_t e = land.first_neighbour[i]; e < land.first_neighbour[i + 1]; ++e) {
      const std::uint32_t b = basin_of(basins, land.neighbours[e]);
      if (std::find(met, met + distinct, b) == met + distinct) met[distinct++] = b;
    }
    const double population = land.cells[i].population;
    if (distinct == 0) {
      basins.peak[i] = i;
      basins.population[i] = population;
      continue;
    }
    // Peaks come in visiting order: the first has the most frames.
    const std::uint32_t joined = *std::min_element(met, met + distinct);
    basins.peak[i] = joined;
    basins.population[joined] += population;
    for (int m = 0; m < distinct; ++m) {
      const std::uint32_t other = met[m];
      if (other == joined) continue;
      // Above a cell of no population (zero weights) every barrier is
      // infinite: nothing merges there.
      if (population > 0 && std::log(land.cells[other].population / population) < barrier) {
        basins.peak[other] = joined;
        basins.population[joined] += basins.population[other];
      }
    }
  }
}

void choose_states(const Landscape& land, double min_share, double total, Basins& basins) {
  basins.states.clear();
  basins.population_in_states = 0;
  for (std::uint32_t i = 0; i < land.cells.size(); ++i) {
    if (basins.peak[i] == i && basins.population[i] * 100.0 >= min_share * total) {
      basins.states.push_back(i);
      basins.population_in_states += basins.population[i];
    }
  }
  const std::vector<double>& population = basins.population;
  std::sort(basins.states.begin(), basins.states.end(), [&](std::uint32_t a, std::uint32_t b) {
    if (population[a] != population[b]) return population[a] > population[b];
    return land.cells[a].key < land.cells[b].key;
  });
}

}  // namespace wordclusters
