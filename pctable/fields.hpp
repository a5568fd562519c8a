// Splitting text lines into fields and checking that a field is a number.
#pragma once

#include <cstdint>
#include <string_view>

#include "number_text.hpp"

namespace pctable {

// A UTF-8 byte order mark, skipped at the start of an input.
inline constexpr std::string_view BYTE_ORDER_MARK = "\xEF\xBB\xBF";

// The lines given to these functions lie in a cursor's buffer, whose
// padding lets them read up to 63 bytes past the end of the line.

// Fields separated by runs of blanks (spaces and tabs); at most `max` (a
// line with more gives max + 1). Returns the count.
int split_blank(std::string_view line, std::string_view* fields, int max);

// Fields separated by `separator`, blanks around each trimmed. A field in
// double quotes may hold the separator ("" is a quote inside); the field is
// then the text between the quotes.
int split_on(std::string_view line, char separator, std::string_view* fields, int max);

// Whether `separator` separates fields of the line (outside quotes).
bool has_separator(std::string_view line, char separator);

// Refuses a field that is not a finite decimal number; the message names
// its column. The field must lie in a cursor's line (is_short_plain_decimal
// reads 16 bytes from its start).
void check_other_number_field(std::string_view file, std::int64_t line, int column,
                              std::string_view field);
inline void check_number_field(std::string_view file, std::int64_t line, int column,
                               std::string_view field) {
  if (!is_short_plain_decimal(field)) check_other_number_field(file, line, column, field);
}

// Whether the text is written as a number (finite or not).
bool reads_as_number(std::string_view field);

// Whether the line is one of names: none of its fields reads as a number
// (an empty field, such as the unnamed index column of pandas, does not),
// or it is what pandas writes for an array: an empty field, then 0, 1, 2...
bool is_header(const std::string_view* fields, int count);

// Refuses a line with more than `max` fields.
void check_field_count(std::string_view file, std::int64_t line, int count, int max);

// The first character that is not a blank; BLANK_LINE if none.
inline constexpr int BLANK_LINE = -1;
int first_visible(std::string_view line);

}  // namespace pctable
