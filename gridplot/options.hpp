// gridplot's command line.
#pragma once

#include <string>

#include "whole_file.hpp"

namespace gridplot {

enum class Unit { kT, kJ_per_mol, kcal_per_mol };
enum class Format { png, svg, pdf };

struct Options {
  std::string log;
  std::string out;
  Format format = Format::png;
  std::string matrix;
  bool matrix_given = false;  // by --matrix, not grid.matrix beside the log
  double temperature = 0;     // 0: none given
  Unit unit = Unit::kT;
  bool unit_given = false;
  std::string xlabel = "PC 1";
  std::string ylabel = "PC 2";
  std::string zlabel = "mean z";
  std::string title;
  double fmax = 0;  // the top of the free-energy scale; 0: fitted
  bool zrange_given = false;
  double zlow = 0, zhigh = 0;    // the mean-z scale, when given
  double contour_step = 0;       // 0: no contours
  std::string members;           // clusterback's report, whose states are labelled; "": none
  int state_x = 3, state_y = 4;  // its columns of x and y, from 1
  bool state_columns_given = false;
  std::string minus;  // another run's log: the map is the difference from it; "": none
  std::string data;   // where the values drawn are written as text; "": nowhere
};

// The options and files of the command line; --help, --version and usage
// errors end the process here. The picture's format is left to
// picture_format.
Options read_options(int argc, char** argv);

// The picture's format from the name OUT: a usage error when it is not one
// of those drawn.
Format picture_format(const std::string& out);

using pcgrid::folder_of;

[[noreturn]] void usage_error(const std::string& what);

}  // namespace gridplot
