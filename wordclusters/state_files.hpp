// The state files: the report, the index file, the state of every frame
// and the transitions, each written whole or not at all.
#pragma once

#include <cstdint>
#include <span>

#include "options.hpp"
#include "states.hpp"

namespace wordclusters {

// What the report needs besides the tables.
struct ReportSettings {
  double total_population = 0;
  double temperature = 0;  // 0: kT
  int letters = 0;
};

// Writes each file asked for beside its target; finish_state_files puts
// them in place.
void write_state_files(const Options& options, std::span<const std::uint32_t> state,
                       const StateTables& tables, const ReportSettings& settings);
void finish_state_files();

}  // namespace wordclusters
