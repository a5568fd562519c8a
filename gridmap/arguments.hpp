// gridmap's command line:
//   gridmap [--limits XMIN XMAX YMIN YMAX] [--weights] GRID [GRID_Y] filename
// The options come before GRID; anything wrong with them is a usage error,
// told with the usage line, which stays "Usage : gridmap GRID [GRID_Y]
// filename" because scripts compare it.
#pragma once

namespace gridmap {

// The limits the nodes span, from node 0 to node GX (or GY).
struct NodeLimits {
  double xmin, xmax, ymin, ymax;
};

struct Arguments {
  int GX, GY;         // highest node index along x and along y
  const char* name;   // the data file
  bool limits_given;  // --limits: a fixed grid over `limits`, points outside it left out
  NodeLimits limits;
  bool weights;  // --weights: the third column weighs each point
  char** logs;   // --sum LOG...: the logs of the runs to add, instead of all above
  int log_count;
};

// Reads the command line, or ends the run with its message.
Arguments read_arguments(int argc, char** argv);

}  // namespace gridmap
