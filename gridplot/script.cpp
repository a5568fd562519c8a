#include "script.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string_view>

namespace gridplot {

namespace {

// The states' labels: a family every reader has, bold (which the SVG
// picture states as a weight: see rewrite_svg).
constexpr char LABEL_FONT[] = "sans-serif:Bold,13";

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

double node_x(const Run& run, int j) {
  return run.xmin + j * (span(run.xmin, run.xmax) / (run.nx - 1));
}

double node_y(const Run& run, int k) {
  return run.ymin + k * (span(run.ymin, run.ymax) / (run.ny - 1));
}

using AppendCoordinate = void (*)(std::string& text, double value);

// A node's line "x y value", its coordinates written by `coordinate`.
void append_node(std::string& text, const Run& run, int j, int k, double value,
                 AppendCoordinate coordinate) {
  coordinate(text, node_x(run, j));
  text += ' ';
  coordinate(text, node_y(run, k));
  text += ' ';
  append_number(text, value);
  text += '\n';
}

constexpr std::size_t NUMBER_ROOM = 24;  // the longest shortest text of a double

// Room for the lines "x y value" of the nodes drawn (every node, or those
// with a value) and a blank line after each row: the coordinates' exact
// length, and the most a value can take ("NaN" where empty). A large grid's text is then not
// grown by copies, which would need three times its size at once.
std::size_t room_for_nodes(const Run& run, const std::vector<double>& values, bool every_node) {
  std::vector<std::size_t> y_length(static_cast<std::size_t>(run.ny));
  std::string number;
  for (int k = 0; k < run.ny; ++k) {
    number.clear();
    append_number(number, node_y(run, k));
    y_length[k] = number.size();
  }
  std::size_t room = 0;
  for (int j = 0; j < run.nx; ++j) {
    number.clear();
    append_number(number, node_x(run, j));
    for (int k = 0; k < run.ny; ++k) {
      const bool empty = std::isnan(values[static_cast<std::size_t>(j) * run.ny + k]);
      if (every_node || !empty) room += number.size() + y_length[k] + 3 + (empty ? 3 : NUMBER_ROOM);
    }
    room += 1;
  }
  return room;
}

const char* terminal(Format format) {
  switch (format) {
    case Format::svg:
      return "set terminal svg size 800,640 noenhanced\n";
    case Format::pdf:
      return "set terminal pdfcairo size 8in,6.4in noenhanced\n";
    case Format::png:
      break;
  }
  return "set terminal pngcairo size 800,640 noenhanced\n";
}

// The largest size of a value, or 1 when all are 0.
double largest_size(const std::vector<double>& values) {
  double largest = 0;
  for (const double v : values) {
    if (!std::isnan(v)) largest = std::max(largest, std::fabs(v));
  }
  return largest > 0 ? largest : 1.0;
}

void append_colour_scale(std::string& script, const Options& options, const Run& run,
                         const std::vector<double>& values) {
  if (!options.minus.empty()) {
    append_command(script, "set cblabel ",
                   std::string("\u0394F (") + unit_name(options.unit) + ")");
    const double size = largest_size(values);
    if (options.zrange_given) {
      append_range(script, "cb", options.zlow, options.zhigh);
    } else {
      append_range(script, "cb", -size, size);
    }
    return;
  }
  if (run.mean_z) {
    append_command(script, "set cblabel ", options.zlabel);
    if (options.zrange_given) append_range(script, "cb", options.zlow, options.zhigh);
    return;
  }
  append_command(script, "set cblabel ", std::string("F (") + unit_name(options.unit) + ")");
  if (options.fmax > 0) {
    append_range(script, "cb", 0, options.fmax);
  } else {
    script += "set cbrange [0:*]\n";
  }
}

// Contour lines every STEP, from the first multiple of STEP above the
// lowest value (STEP itself on a free-energy map) to the highest, traced
// into $contours.
void append_contours(std::string& script, const Options& options,
                     const std::vector<double>& values) {
  double lowest = INFINITY, highest = -INFINITY;
  for (const double v : values) {
    if (std::isnan(v)) continue;
    lowest = std::min(lowest, v);
    highest = std::max(highest, v);
  }
  const double step = options.contour_step;
  script += "set contour base\nset cntrparam levels incremental ";
  append_number(script, (std::floor(lowest / step) + 1) * step);
  script += ',';
  append_number(script, step);
  script += ',';
  append_number(script, highest);
  script +=
      "\nunset surface\nset view map\nset table $contours\nsplot $map using 1:2:3 notitle\n"
      "unset table\nunset contour\n";
}

// Each state's number at its node: bold, dark on a white box with a thin
// outline, legible on any colour of the map. The box is a rectangle of its
// own, as wide as the number, which every reader of every format draws (a
// boxed label is an SVG filter, which many leave out).
void append_labels(std::string& script, const Run& run, const std::vector<StateLabel>& labels) {
  int object = 1;  // the first is the background of a difference
  for (const StateLabel& label : labels) {
    std::string at;
    append_number(at, node_x(run, label.j));
    at += ',';
    append_number(at, node_y(run, label.k));
    const std::string number = std::to_string(label.state);
    script += "set object " + std::to_string(++object) + " rectangle center " + at + " size char " +
              std::to_string(number.size() + 1) +
              ", char 1.5 fillcolor rgb '#ffffff' fillstyle solid 1.0 border lc rgb '#000000' "
              "lw 1 front\n";
    script += "set label '" + number + "' at " + at + " center front font '" + LABEL_FONT +
              "' textcolor rgb '#000000'\n";
  }
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
                           const std::vector<double>& values, const std::vector<StateLabel>& labels,
                           const std::string& picture) {
  std::string script = terminal(options.format);
  append_command(script, "set output ", picture);
  if (!options.title.empty()) append_command(script, "set title ", options.title);
  append_command(script, "set xlabel ", options.xlabel);
  append_command(script, "set ylabel ", options.ylabel);
  append_colour_scale(script, options, run, values);
  append_range(script, "x", run.xmin, run.xmin + span(run.xmin, run.xmax));
  append_range(script, "y", run.ymin, run.ymin + span(run.ymin, run.ymax));
  script += "set tics out\n";
  if (options.minus.empty()) {
    // Dark purple at the lowest value, through blue and green, to yellow.
    script +=
        "set palette defined (0 '#440154', 0.25 '#3b528b', 0.5 '#21918c', 0.75 '#5ec962', "
        "1 '#fde725')\n";
  } else {
    // A difference: blue below 0 (more populated than in the other run),
    // white at 0, red above; grey where either run is empty.
    script +=
        "set palette defined (0 '#2166ac', 0.25 '#92c5de', 0.5 '#f7f7f7', 0.75 '#f4a582', "
        "1 '#b2182b')\n"
        "set object 1 rectangle from graph 0,0 to graph 1,1 behind fillcolor rgb '#bdbdbd' "
        "fillstyle solid 1.0 noborder\n";
  }
  // Rows of y; contours need a blank line after each.
  const bool contours = options.contour_step > 0;
  script.reserve(script.size() + room_for_nodes(run, values, true) + run.ny + 4096);
  script += "$map << EOD\n";
  for (int k = 0; k < run.ny; ++k) {
    for (int j = 0; j < run.nx; ++j) {
      append_node(script, run, j, k, values[static_cast<std::size_t>(j) * run.ny + k],
                  append_number);
    }
    if (contours) script += '\n';
  }
  script += "EOD\n";
  if (contours) append_contours(script, options, values);
  append_labels(script, run, labels);
  script += "plot $map using 1:2:3 with image notitle";
  if (contours) script += ", $contours using 1:2 with lines lc rgb '#ffffff' lw 1 notitle";
  script += '\n';
  return script;
}

// A node's coordinate as the shortest text that reads back to the same
// float: the limits, and so the nodes, are known to single precision only
// (0.3, not 0.30000000000000004).
void append_coordinate(std::string& text, double value) {
  char digits[32];
  const auto [end, error] =
      std::to_chars(digits, digits + sizeof digits, static_cast<float>(value));
  text.append(digits, end);
}

std::string map_text(const Run& run, const std::vector<double>& values) {
  std::string text;
  text.reserve(room_for_nodes(run, values, false));
  for (int j = 0; j < run.nx; ++j) {
    for (int k = 0; k < run.ny; ++k) {
      const double value = values[static_cast<std::size_t>(j) * run.ny + k];
      if (std::isnan(value)) continue;
      append_node(text, run, j, k, value, append_coordinate);
    }
    text += '\n';
  }
  return text;
}

}  // namespace gridplot
