// Splitting text lines into fields and checking that each is a number.
#pragma once

#include <cstdint>
#include <string_view>

namespace pctable {

// Fields separated by runs of spaces and tabs; at most `max` (a line with
// more gives max + 1). Returns the count.
int split_blank(std::string_view line, std::string_view* fields, int max);

// Fields separated by `separator`, spaces and tabs around each trimmed.
int split_on(std::string_view line, char separator, std::string_view* fields, int max);

// Refuses the line unless every field is a finite decimal number; the
// message names the first that is not, by its column.
void check_fields(std::string_view file, std::int64_t line, const std::string_view* fields,
                  int count);

// Whether the line is one of names: a field is a word (not a number, nor
// nan or inf), or the first of several fields is empty (an index column
// without a name).
bool is_header(const std::string_view* fields, int count);

// Refuses a line with more than `max` fields.
void check_field_count(std::string_view file, std::int64_t line, int count, int max);

// The first character that is not a space or a tab; BLANK_LINE if none.
inline constexpr int BLANK_LINE = -1;
int first_visible(std::string_view line);

}  // namespace pctable
