// GROMACS xvg files: '#' and '@' lines are metadata, a line '&' ends a data
// set. The sets are joined side by side: the first column once, then the
// other columns of each set in set order; every set must have as many rows
// as the first and the same first-column values. When the x axis is the
// time (an '@ xaxis label "Time ..."' line in any graph), the first column
// is not a component.
//
// A regular file is read once to find its sets and check their lines, then
// once more through one cursor per set, each at its own position: memory
// holds a line per set. A stream is copied to a temporary file as it is
// read the first time, and its copy read the second time. A second pass
// over the input (writing standard output after checking it) reads only
// through the cursors, at the sets the first found. A UTF-8 byte order
// mark at the start is skipped.
#pragma once

#include "inputs.hpp"
#include "table_output.hpp"

namespace pctable {

void read_xvg(Table& table, Input& input);

}  // namespace pctable
