// gridmap's matrix of a run: one row per x node, one value per y node.
#pragma once

#include <string>
#include <vector>

#include "run_log.hpp"

namespace gridplot {

// Reads the matrix open on `fd`, called `name` in messages, into `values`:
// node (j, k) at j * run.ny + k. Returns "" or the message that refuses it.
std::string read_matrix(int fd, const std::string& name, const Run& run,
                        std::vector<double>& values);

}  // namespace gridplot
