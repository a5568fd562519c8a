// The gnuplot script that draws a map, and the map as text.
#pragma once

#include <string>
#include <vector>

#include "options.hpp"
#include "run_log.hpp"
#include "states.hpp"

namespace gridplot {

// The script that draws `values` (node (j, k) at j * run.ny + k, NaN where
// empty) of `run` into the file `picture`, as `options` ask, with the
// states' `labels`.
std::string gnuplot_script(const Options& options, const Run& run,
                           const std::vector<double>& values, const std::vector<StateLabel>& labels,
                           const std::string& picture);

// The values as text: "x y value" for each non-empty node, x row by x row,
// each row followed by a blank line.
std::string map_text(const Run& run, const std::vector<double>& values);

// The name of the map's unit: kT, kJ/mol or kcal/mol.
const char* unit_name(Unit unit);

}  // namespace gridplot
