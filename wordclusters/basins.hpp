// From word populations to states: the populated cells, their neighbours,
// the basins that grow from the most populated cells down, and the basins
// that hold enough of the frames to be states.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "word_counts.hpp"

namespace wordclusters {

// A cell's population is its number of frames, or the sum of their weights.
struct Cell {
  std::uint64_t key;
  double population;
};

// The cells of at least the minimum population, in visiting order (most
// populated first, equal populations by word), and for each cell the
// positions in that order of its neighbours that come before it.
struct Landscape {
  std::vector<Cell> cells;
  std::vector<std::size_t> first_neighbour;  // cell i's are neighbours[first_neighbour[i] ..
  std::vector<std::uint32_t> neighbours;     //                    .. first_neighbour[i + 1])
};

inline constexpr std::uint64_t LOW_HALF = 0xFFFFFFFFu;
inline constexpr std::uint32_t NO_CELL = UINT32_MAX;

// Fills `land` from the counted words of `letters` letters. The slots'
// values are the words' counts or, when `numbered`, the words' numbers
// (high half) above their counts (low half); the populations are the
// counts, or the values of `weighted` (by word number) when it is not
// empty. Then the low half of every slot's value becomes the cell's
// position (NO_CELL for the words below `min_frames`).
void map_cells(WordCounts& counts, int letters, std::uint64_t min_frames, bool numbered,
               std::span<const double> weighted, Landscape& land);

// The position of a slot's cell, or NO_CELL, once the cells are mapped.
inline std::uint32_t cell_of(const WordSlot& slot) {
  return static_cast<std::uint32_t>(slot.value & LOW_HALF);
}

struct Basins {
  std::vector<std::uint32_t> peak;    // per cell: its parent towards its basin's peak
  std::vector<double> population;     // per peak: its basin's
  std::vector<std::uint32_t> states;  // the states' peaks: cluster 1, 2, ...
  double population_in_states = 0;    // together
};

// Visits the cells in order and grows or merges basins; basins whose peaks
// are less than `barrier` kT above a saddle become one.
void grow_basins(const Landscape& land, double barrier, Basins& basins);

// The basins with at least `min_share` percent of the `total` population
// become states, most populated first (equal: smaller peak word first).
void choose_states(const Landscape& land, double min_share, double total, Basins& basins);

// The peak of the basin that holds cell i (its position in visiting order).
std::uint32_t basin_of(Basins& basins, std::uint32_t i);

}  // namespace wordclusters
