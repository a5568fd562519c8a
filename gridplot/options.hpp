// gridplot's command line.
#pragma once

#include <string>

namespace gridplot {

enum class Unit { kT, kJ_per_mol, kcal_per_mol };
enum class Format { png, svg, pdf };

struct Options {
  std::string log;
  std::string out;
  Format format = Format::png;
  std::string matrix;
  double temperature = 0;  // 0: none given
  Unit unit = Unit::kT;
  bool unit_given = false;
  std::string xlabel = "PC 1";
  std::string ylabel = "PC 2";
  std::string zlabel = "mean z";
  std::string title;
};

// The options and files of the command line; --help, --version and usage
// errors end the process here.
Options read_options(int argc, char** argv);

// The folder part of a path, with its slash ("" for a bare name).
std::string folder_of(const std::string& path);

[[noreturn]] void usage_error(const std::string& what);

}  // namespace gridplot
