// gridmap's saved standard output: what it says of the run.
#pragma once

#include <string>
#include <vector>

namespace gridplot {

inline constexpr int MAX_NODES = 1001;  // gridmap's largest grid along an axis

struct Run {
  int nx = 0, ny = 0;  // nodes along x and y
  double xmin = 0, xmax = 0, ymin = 0, ymax = 0;
  double x_rounding = 0, y_rounding = 0;  // how far the printed limits may be from the run's
  bool have_x = false, have_y = false;
  bool given_limits = false;    // gridmap --limits: the nodes span these, not the data's
  bool mean_z = false;          // three columns averaged: the matrix holds each node's mean z
  bool weights = false;         // three columns as weights: each node's sum of weights
  bool negative_means = false;  // a mean z of 0 or below: no logarithms, the matrix complete
  bool done = false;
};

// What a line ending in CR LF is told, after its FILE:LINE.
inline constexpr char WINDOWS_LINE_END[] =
    "a Windows line end (CR LF); convert the file with dos2unix or tr -d '\\r'";

// Reads the log open on `fd`, called `name` in messages, into `run`.
// Returns "" or the message that refuses it.
std::string read_run_log(int fd, const std::string& name, Run& run);

// Whether the limits printed in the log `name` place the nodes of the
// matrix `values` to within 1% of their spacing. Returns "" or the message
// that refuses them.
std::string check_node_placement(const std::string& name, const Run& run,
                                 const std::vector<double>& values);

}  // namespace gridplot
