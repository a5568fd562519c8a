#include "delimited_text.hpp"

#include <string>

#include "failure.hpp"
#include "fields.hpp"

namespace pctable {

namespace {

constexpr std::size_t BLOCK = std::size_t{1} << 20;
char block[BLOCK + 2 * MAX_LINE];
Cursor cursor;
Row row;

constexpr std::string_view BOM = "\xEF\xBB\xBF";

// Commas, else semicolons, else tabs, else white space (' ').
char separator_of(std::string_view line) {
  for (const char c : {',', ';', '\t'}) {
    if (line.find(c) != std::string_view::npos) return c;
  }
  return ' ';
}

std::string describe(char separator) {
  switch (separator) {
    case ',':
      return "comma-separated";
    case ';':
      return "semicolon-separated";
    case '\t':
      return "tab-separated";
    default:
      return "space-separated";
  }
}

}  // namespace

void read_delimited(Table& table, const Input& input) {
  start_input_cursor(cursor, input, block);
  Layout layout = start_layout(input.name, 0);
  char separator = 0;
  std::int64_t header_line = 0;
  bool numbers_seen = false;
  std::string_view line;
  while (next_line(cursor, line)) {
    if (cursor.line == 1 && line.starts_with(BOM)) line.remove_prefix(BOM.size());
    const int first = first_visible(line);
    if (first == BLANK_LINE || first == '#') continue;
    if (separator == 0) separator = separator_of(line);
    row.count = separator == ' ' ? split_blank(line, row.field, MAX_FIELDS)
                                 : split_on(line, separator, row.field, MAX_FIELDS);
    check_field_count(input.name, cursor.line, row.count, MAX_FIELDS);
    if (!numbers_seen && header_line == 0 && is_header(row.field, row.count)) {
      header_line = cursor.line;
      continue;
    }
    check_fields(input.name, cursor.line, row.field, row.count);
    numbers_seen = true;
    put_row(table, layout, row, cursor.line);
  }
  if (!numbers_seen) {
    fail_at(input.name, cursor.line + 1, "expected a line of numbers, found the end of the input");
  }
  std::string what = describe(separator);
  if (header_line > 0) what += ", header line " + std::to_string(header_line) + " skipped";
  note_input(table, layout, what);
}

}  // namespace pctable
