// Whether an SVG picture is XML that any reader takes.
#pragma once

#include <string>

namespace gridplot {

// gnuplot escapes '<' and '&' in the text it writes, but not the '>' of a
// "]]>", which XML does not allow in text: each "]]>" of the file at
// `path` becomes "]]&gt;" (the same in an attribute's value), unless the
// file has CDATA sections, which end so. False when it cannot be done.
bool escape_text_ends(const std::string& path);

// Whether the file `path` is one well-formed XML document whose root is
// `svg`: UTF-8 throughout, only the characters XML allows, elements closed
// in order, attributes quoted, every '&' a known reference, and no "]]>"
// in text. False also when it cannot be read.
bool svg_is_well_formed(const std::string& path);

}  // namespace gridplot
