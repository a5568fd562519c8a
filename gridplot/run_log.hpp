// gridmap's saved standard output: what it says of the run.
#pragma once

#include <string>

namespace gridplot {

inline constexpr int MAX_NODES = 1001;  // gridmap's largest grid along an axis

struct Run {
  int nx = 0, ny = 0;  // nodes along x and y
  double xmin = 0, xmax = 0, ymin = 0, ymax = 0;
  bool have_x = false, have_y = false;
  bool three_columns = false;
  bool done = false;
};

// Reads the log open on `fd`, called `name` in messages, into `run`.
// Returns "" or the message that refuses it.
std::string read_run_log(int fd, const std::string& name, Run& run);

}  // namespace gridplot
