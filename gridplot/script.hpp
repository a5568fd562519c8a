// The gnuplot script that draws a map.
#pragma once

#include <string>
#include <vector>

#include "options.hpp"
#include "run_log.hpp"

namespace gridplot {

// The script that draws `values` (node (j, k) at j * run.ny + k, NaN where
// empty) of `run` into the file `picture`, as `options` ask.
std::string gnuplot_script(const Options& options, const Run& run,
                           const std::vector<double>& values, const std::string& picture);

// The name of the map's unit: kT, kJ/mol or kcal/mol.
const char* unit_name(Unit unit);

}  // namespace gridplot
