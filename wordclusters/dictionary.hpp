// An existing dictionary ("WORD CLUSTER" lines, as wordclusters writes
// them: cluster 1's cells first, each state's peak first), and the states
// it gives the frames of another run.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "basins.hpp"
#include "word_counts.hpp"

namespace wordclusters {

struct DictionaryEntry {
  std::uint64_t key;
  std::uint32_t cluster;
};

struct Dictionary {
  int letters = 0;
  std::vector<DictionaryEntry> entries;  // in the file's order
  std::uint32_t states = 0;
};

// Reads the dictionary at `path`; refuses a file that is not one, naming
// the line, and one whose words have another length than `letters` (0: any).
Dictionary read_dictionary(const char* path, int letters);

// The dictionary's cells in its order, with their populations in `counts`
// (numbered slots: the words' numbers above their counts; the populations
// are the counts, or the values of `weighted` by word number when it is not
// empty), each state's peak and population, and each cell's cluster. Every
// slot's low half becomes its cell's position, or NO_CELL.
void map_dictionary(const Dictionary& dictionary, WordCounts& counts,
                    std::span<const double> weighted, Landscape& land, Basins& basins,
                    std::vector<std::uint32_t>& cluster);

}  // namespace wordclusters
