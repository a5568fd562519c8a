#include "script.hpp"

#include <charconv>
#include <cmath>
#include <string_view>

namespace gridplot {

namespace {

void append_number(std::string& script, double value) {
  if (std::isnan(value)) {
    script += "NaN";
    return;
  }
  char digits[32];
  const auto [end, error] = std::to_chars(digits, digits + sizeof digits, value);
  script.append(digits, end);
}

// A gnuplot string: single quotes take every character as it is, except
// the quote itself, which is doubled.
void append_string(std::string& script, std::string_view text) {
  script += '\'';
  for (const char c : text) {
    if (c == '\'') script += '\'';
    script += c;
  }
  script += '\'';
}

void append_command(std::string& script, std::string_view command, std::string_view text) {
  script += command;
  append_string(script, text);
  script += '\n';
}

void append_range(std::string& script, std::string_view axis, double lo, double hi) {
  script += "set ";
  script += axis;
  script += "range [";
  append_number(script, lo);
  script += ':';
  append_number(script, hi);
  script += "]\n";
}

// Node j of n lies at lo + j (hi - lo) / (n - 1); a zero range is drawn as
// a range of 1, every point being on its first node.
double span(double lo, double hi) {
  return hi > lo ? hi - lo : 1.0;
}

}  // namespace

const char* unit_name(Unit unit) {
  switch (unit) {
    case Unit::kJ_per_mol:
      return "kJ/mol";
    case Unit::kcal_per_mol:
      return "kcal/mol";
    case Unit::kT:
      break;
  }
  return "kT";
}

std::string gnuplot_script(const Options& options, const Run& run,
                           const std::vector<double>& values, const std::string& picture) {
  std::string script;
  script += "set terminal pngcairo size 800,640 noenhanced\n";
  append_command(script, "set output ", picture);
  if (!options.title.empty()) append_command(script, "set title ", options.title);
  append_command(script, "set xlabel ", options.xlabel);
  append_command(script, "set ylabel ", options.ylabel);
  if (run.three_columns) {
    append_command(script, "set cblabel ", options.zlabel);
  } else {
    append_command(script, "set cblabel ", std::string("F (") + unit_name(options.unit) + ")");
    script += "set cbrange [0:*]\n";
  }
  const double dx = span(run.xmin, run.xmax) / (run.nx - 1);
  const double dy = span(run.ymin, run.ymax) / (run.ny - 1);
  append_range(script, "x", run.xmin, run.xmin + span(run.xmin, run.xmax));
  append_range(script, "y", run.ymin, run.ymin + span(run.ymin, run.ymax));
  script += "set tics out\n";
  // Dark purple at the lowest value, through blue and green, to yellow.
  script +=
      "set palette defined (0 '#440154', 0.25 '#3b528b', 0.5 '#21918c', 0.75 '#5ec962', "
      "1 '#fde725')\n";
  script += "$map << EOD\n";
  for (int k = 0; k < run.ny; ++k) {
    for (int j = 0; j < run.nx; ++j) {
      append_number(script, run.xmin + j * dx);
      script += ' ';
      append_number(script, run.ymin + k * dy);
      script += ' ';
      append_number(script, values[static_cast<std::size_t>(j) * run.ny + k]);
      script += '\n';
    }
  }
  script += "EOD\nplot $map using 1:2:3 with image notitle\n";
  return script;
}

}  // namespace gridplot
