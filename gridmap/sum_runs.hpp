// gridmap --sum LOG...: the matrices of several runs on the same limits and
// grid added up, as if their points had been one file. Each run is named by
// its log (gridmap's standard output, saved); its "grid.matrix" lies beside
// the log. The runs must all count points, or all sum weights, on the same
// limits given (--limits) and grid; the counts (exact while a node holds
// fewer than 2^24 points) or the weights are added node by node, and
// "grid.matrix", "grid_log.matrix" (for weights "grid_weights.matrix" too)
// and a log that gridplot draws are written as a run writes them. Weights
// are taken from each run's "grid_weights.matrix", every digit of its
// sums, which must agree with its "grid.matrix"; a run without one (made
// by an older gridmap) gives the 8 digits of its "grid.matrix".
#pragma once

namespace gridmap {

// Ends the process, as every way out of gridmap does.
[[noreturn]] void sum_runs(char** logs, int count);

}  // namespace gridmap
