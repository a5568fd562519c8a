// Files of one run that must not be one file: an output that is the
// input, the weights, standard output or another output would destroy it.
#pragma once

#include "options.hpp"

namespace wordclusters {

// Before anything is read: refuses an output that is the input, the weights,
// standard output or another output.
void refuse_clashing_files(const Options& options);

}  // namespace wordclusters
