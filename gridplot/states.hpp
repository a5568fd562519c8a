// The states of clusterback's report placed on the map: each at the node
// that holds most of its members.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "run_log.hpp"

namespace gridplot {

struct StateLabel {
  int state;  // the cluster number
  int j, k;   // the node
};

// Reads the report open as `file`, called `name` in messages: lines of a
// label, a cluster number above 0 and components, x and y in the columns
// `x_column` and `y_column` (from 1). Each member falls on the node that
// gridmap's formula gives it over the run's limits; members outside them
// are skipped. Each state is labelled at the node with most of its members,
// the smaller j, then the smaller k, on equal counts; states by number.
// Returns "" or the message that refuses the report.
std::string find_state_labels(std::FILE* file, const std::string& name, const Run& run,
                              int x_column, int y_column, std::vector<StateLabel>& labels);

}  // namespace gridplot
