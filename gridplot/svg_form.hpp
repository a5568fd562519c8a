// Whether an SVG picture is XML that any reader takes.
#pragma once

#include <string>

namespace gridplot {

// What gnuplot's SVG needs after it: gnuplot escapes '<' and '&' in the
// text it writes, but not the '>' of a "]]>", which XML does not allow in
// text, so each "]]>" becomes "]]&gt;" (the same in an attribute's value),
// unless the file has CDATA sections, which end so; and it names the bold
// labels' font "sans-serif:Bold", which no reader takes, so that becomes
// the family "sans-serif" of weight bold. The file at `path` is rewritten
// in place (it only grows). False when that cannot be done.
bool rewrite_svg(const std::string& path);

// Whether the file `path` is one well-formed XML document whose root is
// `svg`: UTF-8 throughout, only the characters XML allows, elements closed
// in order, attributes quoted, every '&' a known reference, and no "]]>"
// in text. False also when it cannot be read.
bool svg_is_well_formed(const std::string& path);

}  // namespace gridplot
