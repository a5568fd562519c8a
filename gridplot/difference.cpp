#include "difference.hpp"

#include <cmath>

namespace gridplot {

namespace {

std::string limits_text(double lo, double hi) {
  char text[64];
  std::snprintf(text, sizeof text, "%g to %g", lo, hi);
  return text;
}

const char* kind(const Run& run) {
  return run.mean_z ? "a mean-z run" : run.weights ? "a run of weights" : "a run of counts";
}

}  // namespace

std::string different_grids(const std::string& name, const Run& run, const std::string& other_name,
                            const Run& other) {
  const std::string both = other_name + " and " + name;
  if (run.mean_z || other.mean_z) {
    return (run.mean_z ? name : other_name) +
           " is a mean-z run: --minus draws the difference of two runs' populations";
  }
  if (run.weights != other.weights) {
    return both + " are runs of another kind: " + other_name + " is " + kind(other) + ", " + name +
           " " + kind(run);
  }
  if (run.nx != other.nx || run.ny != other.ny) {
    return both + " are on different grids: " + std::to_string(other.nx) + " by " +
           std::to_string(other.ny) + " nodes against " + std::to_string(run.nx) + " by " +
           std::to_string(run.ny);
  }
  for (const bool x : {true, false}) {
    const double lo = x ? run.xmin : run.ymin, hi = x ? run.xmax : run.ymax;
    const double other_lo = x ? other.xmin : other.ymin, other_hi = x ? other.xmax : other.ymax;
    if (lo != other_lo || hi != other_hi) {
      return both + " are on different grids: " + (x ? "x" : "y") + " from " +
             limits_text(other_lo, other_hi) + " against " + limits_text(lo, hi) +
             " (give both runs the same gridmap --limits)";
    }
  }
  return "";
}

bool subtract(const std::vector<double>& other, double factor, std::vector<double>& values) {
  double total = 0, other_total = 0;
  for (std::size_t i = 0; i < values.size(); ++i) {
    total += values[i];
    other_total += other[i];
  }
  bool any = false;
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (values[i] == 0 || other[i] == 0) {
      values[i] = std::nan("");
      continue;
    }
    values[i] = -std::log((values[i] / total) / (other[i] / other_total)) * factor;
    any = true;
  }
  return any;
}

}  // namespace gridplot
