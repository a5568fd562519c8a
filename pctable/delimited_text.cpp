#include "delimited_text.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>

#include "failure.hpp"
#include "fields.hpp"
#include "number_text.hpp"

namespace pctable {

namespace {

constexpr std::size_t BLOCK = std::size_t{1} << 20;

// What a pass over one input works in: its cursor, a line's fields, and
// the blank-separated pieces of one field.
struct Reading {
  Cursor cursor;
  Row row;
  std::string_view pieces[MAX_FIELDS + 1];
};

// Whether blanks separate numbers inside one of the fields: "1 2" is two
// fields of white-space text, while "PC 1" is one name.
bool blanks_separate(const std::string_view* fields, int count, std::string_view* pieces) {
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
char separator_of(std::string_view line, Reading& reading) {
  Row& row = reading.row;
  for (const char c : {',', ';', '\t'}) {
    if (!has_separator(line, c)) continue;
    const int count = split_on(line, c, row.field, MAX_FIELDS);
    if (!blanks_separate(row.field, std::min(count, MAX_FIELDS), reading.pieces)) return c;
  }
  return ' ';
}

// The first column while it rises from line to line by one step, as a
// time or a frame number does and a component never does.
struct Steps {
  bool rising = true;
  std::int64_t rows = 0;
  double last = 0;
  double step = 0;
};

void follow_steps(Steps& steps, std::string_view field) {
  const double value = number_value(field);
  if (steps.rows == 1) steps.step = value - steps.last;
  if (steps.rows > 0) {
    // Texts such as 0.0400, 0.0800 are not exact in binary: a step may
    // differ from the first by rounding, far below a millionth of it.
    const double slack = 1e-6 * steps.step + 1e-12 * std::fabs(value);
    steps.rising = steps.step > 0 && std::fabs(value - steps.last - steps.step) <= slack;
  }
  steps.last = value;
  ++steps.rows;
}

// "2-4", "2,4-6": the columns from 1, runs of them as ranges.
std::string column_ranges(const int* columns, int count) {
  std::string list;
  for (int i = 0; i < count;) {
    int j = i;
    while (j + 1 < count && columns[j + 1] == columns[j] + 1) ++j;
    if (!list.empty()) list += ',';
    list += std::to_string(columns[i] + 1);
    if (j > i) list += (j == i + 1 ? "," : "-") + std::to_string(columns[j] + 1);
    i = j + 1;
  }
  return list;
}

// Whether a first column that rises by a constant step would be noted:
// it is kept as the first component, and the others are enough.
bool steps_may_be_noted(const Table& table, const Layout& layout) {
  return layout.chosen[0] == 0 && table.options->column_count == 0 &&
         layout.chosen_count - 1 >= (table.options->points ? 2 : 1);
}

// A first column kept as the first component although it rises by a
// constant step over three lines or more, when the others are enough.
std::string note_steps(const Table& table, const Layout& layout, const Steps& steps) {
  const int others = layout.chosen_count - 1;
  if (!steps.rising || steps.rows < 3 || !steps_may_be_noted(table, layout)) return "";
  return ", column 1 kept though it rises by a constant step as a time or frame number does: "
         "--columns " +
         column_ranges(layout.chosen + 1, others) + " drops it";
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
  const auto block = new_cursor_buffer(BLOCK + 2 * MAX_LINE);
  const auto reading = std::make_unique<Reading>();
  Cursor& cursor = reading->cursor;
  Row& row = reading->row;
  start_input_cursor(cursor, input, {block.get(), BLOCK + 2 * MAX_LINE});
  Layout layout = start_layout(table, input.name, 0);
  char separator = 0;
  std::int64_t header_line = 0;
  bool numbers_seen = false;
  Steps steps;
  std::string_view line;
  while (next_line(cursor, line)) {
    if (cursor.line == 1 && line.starts_with(BYTE_ORDER_MARK)) {
      line.remove_prefix(BYTE_ORDER_MARK.size());
    }
    const int first = first_visible(line);
    if (first == BLANK_LINE || first == '#') continue;
    if (separator == 0) separator = separator_of(line, *reading);
    row.count = separator == ' ' ? split_blank(line, row.field, MAX_FIELDS)
                                 : split_on(line, separator, row.field, MAX_FIELDS);
    check_field_count(input.name, cursor.line, row.count, MAX_FIELDS);
    if (!numbers_seen && header_line == 0 && is_header(row.field, row.count)) {
      header_line = cursor.line;
      continue;
    }
    numbers_seen = true;
    put_row(table, layout, row, cursor.line);
    // The first column is followed only while it may be noted.
    if (steps.rising) {
      if (steps_may_be_noted(table, layout)) {
        follow_steps(steps, row.field[0]);
      } else {
        steps.rising = false;
      }
    }
  }
  if (!numbers_seen) {
    fail_at(input.name, cursor.line + 1, "expected a line of numbers, found the end of the input");
  }
  std::string what = describe(separator);
  if (header_line > 0) what += ", header line " + std::to_string(header_line) + " skipped";
  what += note_steps(table, layout, steps);
  note_input(table, layout, what);
}

}  // namespace pctable
