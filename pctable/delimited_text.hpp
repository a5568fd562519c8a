// Delimited text: numbers separated by white space, or by commas,
// semicolons or tabs (one separator for the whole file, taken from its
// first line that is not a comment); '#' comment lines and blank lines
// skipped; at most one header line of column names before the first line
// of numbers; CRLF line ends; a UTF-8 byte order mark at the start skipped.
#pragma once

#include "inputs.hpp"
#include "table_output.hpp"

namespace pctable {

void read_delimited(Table& table, const Input& input);

}  // namespace pctable
