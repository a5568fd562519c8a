// Delimited text: numbers separated by white space (blanks and tabs), or
// by commas, semicolons or tabs (one separator for the whole file, taken
// from its first line that is not a comment: a character that separates
// its fields while blanks do not); quoted fields as in RFC 4180 on one
// line; '#' comment lines and blank lines skipped; a first line none of
// whose fields reads as a number is a header; CRLF line ends; a UTF-8 byte
// order mark at the start skipped. Only the label column and the chosen
// columns must hold numbers.
#pragma once

#include "inputs.hpp"
#include "table_output.hpp"

namespace pctable {

void read_delimited(Table& table, const Input& input);

}  // namespace pctable
