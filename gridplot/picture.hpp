// The pictures gnuplot draws: whole, or cut short.
#pragma once

#include <string>

#include "options.hpp"

namespace gridplot {

// "PNG", "SVG" or "PDF".
const char* format_name(Format format);

// Whether the file holds a whole picture from its first byte to its last:
// a PNG's signature and IEND chunk, an SVG's closing tag, a PDF's header
// and %%EOF. False also when it cannot be read.
bool picture_is_whole(const std::string& path, Format format);

}  // namespace gridplot
