// The state files: the report, the index file, the state of every frame
// and the transitions, each written whole or not at all.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "options.hpp"
#include "states.hpp"
#include "whole_file.hpp"

namespace wordclusters {

// What the report needs besides the tables.
struct ReportSettings {
  double total_population = 0;
  double temperature = 0;  // 0: kT
  int letters = 0;
  const std::vector<std::string>* segment_names = nullptr;  // for --by-segment
};

struct StateFile {
  const char* option;
  const char* name;
  pcgrid::WholeFile file;
};

// The state files asked for, in the order of state_outputs.
struct StateFiles {
  StateFile files[5];
  int count = 0;
};

// Begins each file asked for (beside its target, or in place): one that
// cannot be written is refused before anything is read.
void begin_state_files(const Options& options, StateFiles& files);

// Writes the files begun; finish_state_files puts them in place.
void write_state_files(StateFiles& files, std::span<const std::uint32_t> state,
                       const StateTables& tables, const ReportSettings& settings);
void finish_state_files(StateFiles& files);

}  // namespace wordclusters
