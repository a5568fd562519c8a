// The difference of two runs on one grid: where a node's share of one
// run's points (or weights) differs from its share of the other's.
#pragma once

#include <string>
#include <vector>

#include "run_log.hpp"

namespace gridplot {

// "" when the runs of the logs `name` and `other_name` lie on one grid
// (the same nodes over the same limits) and are of one kind (counts or
// weights, not mean z); else the message that names what differs.
std::string different_grids(const std::string& name, const Run& run, const std::string& other_name,
                            const Run& other);

// Each node of `values` becomes dF = -ln(p / p_other) times `factor`, p
// being its share of the total of `values` and p_other of `other`'s: 0
// where both runs hold the same share. A node empty in either becomes NaN.
// False when no node holds points in both.
bool subtract(const std::vector<double>& other, double factor, std::vector<double>& values);

}  // namespace gridplot
