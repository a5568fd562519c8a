// The picture: gnuplot draws it into a temporary file, which is checked
// whole and then takes the picture's name, or, when the picture is not a
// regular file (a FIFO, a device, standard output), is copied there.
#pragma once

#include <vector>

#include "options.hpp"
#include "run_log.hpp"
#include "states.hpp"

namespace gridplot {

// Draws `values` (node (j, k) at j * run.ny + k, NaN where empty) with the
// states' `labels` into options.out; a failure ends the process, the
// picture left as it was.
void draw(const Options& options, const Run& run, const std::vector<double>& values,
          const std::vector<StateLabel>& labels);

}  // namespace gridplot
