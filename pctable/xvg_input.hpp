// GROMACS xvg files: '#' and '@' lines are metadata, a line '&' ends a data
// set. The sets are joined side by side: the first column once, then the
// other columns of each set in set order; every set must have as many rows
// as the first and the same first-column values. When the x axis is the
// time (an '@ xaxis label "Time ..."' line in any graph), the first column
// is not a component.
//
// A regular file is read once to find its sets, then once more through one
// cursor per set, each at its own position: memory holds a line per set.
#pragma once

#include "inputs.hpp"
#include "table_output.hpp"

namespace pctable {

inline constexpr int MAX_SETS = 128;

void read_xvg(Table& table, const Input& input);

}  // namespace pctable
