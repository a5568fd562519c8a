#include "delimited_text.hpp"

#include <algorithm>
#include <string>

#include "failure.hpp"
#include "fields.hpp"

namespace pctable {

namespace {

constexpr std::size_t BLOCK = std::size_t{1} << 20;
char block[BLOCK + 2 * MAX_LINE];
Cursor cursor;
Row row;
std::string_view pieces[MAX_FIELDS + 1];

// Whether blanks separate numbers inside one of the fields: "1 2" is two
// fields of white-space text, while "PC 1" is one name.
bool blanks_separate(const std::string_view* fields, int count) {
  for (int i = 0; i < count; ++i) {
    const int found = split_blank(fields[i], pieces, MAX_FIELDS);
    if (found < 2) continue;
    bool numbers = true;
    for (int p = 0; p < found && p < MAX_FIELDS && numbers; ++p) {
      numbers = reads_as_number(pieces[p]);
    }
    if (numbers) return true;
  }
  return false;
}

// Commas, semicolons or tabs when they separate the fields of the line and
// blanks do not; otherwise white space (' ').
char separator_of(std::string_view line) {
  for (const char c : {',', ';', '\t'}) {
    if (!has_separator(line, c)) continue;
    const int count = split_on(line, c, row.field, MAX_FIELDS);
    if (!blanks_separate(row.field, std::min(count, MAX_FIELDS))) return c;
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
    if (cursor.line == 1 && line.starts_with(BYTE_ORDER_MARK)) {
      line.remove_prefix(BYTE_ORDER_MARK.size());
    }
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
