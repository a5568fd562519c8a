#include "xvg_input.hpp"

#include <charconv>
#include <string>

#include "failure.hpp"
#include "fields.hpp"
#include "number_text.hpp"

namespace pctable {

namespace {

struct DataSet {
  std::int64_t offset;  // of its first data line, from the start of the input
  std::int64_t line;    // number of the line before it
  std::int64_t rows;
  std::int64_t end_line;  // the line that ends it ('&', or the last line of the file)
};

struct XvgIndex {
  DataSet sets[MAX_SETS];
  int count;
  bool time_axis;
};

constexpr std::size_t SET_BUFFER = 2 * MAX_LINE + 4096;
char first_buffer[std::size_t{1} << 20];
char set_buffers[MAX_SETS][SET_BUFFER];
Cursor cursors[MAX_SETS];
XvgIndex index;
Row row;
std::string_view set_fields[MAX_FIELDS + 1];

constexpr bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view skip_blanks(std::string_view text) {
  while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
  return text;
}

// '@ xaxis label "Time (ps)"': the x axis is the time.
bool names_time_axis(std::string_view line) {
  line = skip_blanks(line.substr(line.find('@') + 1));
  if (!line.starts_with("xaxis")) return false;
  line = skip_blanks(line.substr(5));
  if (!line.starts_with("label")) return false;
  line = skip_blanks(line.substr(5));
  if (!line.starts_with('"') || line.size() < 5) return false;
  const std::string_view word = line.substr(1, 4);
  return (word[0] == 'T' || word[0] == 't') && word.substr(1) == "ime";
}

bool is_set_end(std::string_view line) {
  line = skip_blanks(line);
  while (!line.empty() && is_blank(line.back())) line.remove_suffix(1);
  return line == "&";
}

// Finds the data sets: where each begins, its rows, the line that ends it.
void index_sets(const Input& input) {
  Cursor& cursor = cursors[0];
  start_input_cursor(cursor, input, first_buffer);
  index.count = 0;
  index.time_axis = false;
  bool in_set = false;
  std::string_view line;
  for (;;) {
    const std::int64_t offset = cursor.offset;
    if (!next_line(cursor, line)) break;
    const int first = first_visible(line);
    if (first == BLANK_LINE || first == '#') continue;
    if (first == '@') {
      index.time_axis |= names_time_axis(line);
    } else if (first == '&' && is_set_end(line)) {
      if (in_set) index.sets[index.count - 1].end_line = cursor.line;
      in_set = false;
    } else {
      if (!in_set) {
        if (index.count == MAX_SETS) {
          fail_at(input.name, cursor.line,
                  "expected at most " + std::to_string(MAX_SETS) + " data sets, found more");
        }
        index.sets[index.count++] = {offset, cursor.line - 1, 0, 0};
        in_set = true;
      }
      DataSet& set = index.sets[index.count - 1];
      ++set.rows;
      set.end_line = cursor.line;
    }
  }
  if (index.count == 0) {
    fail_at(input.name, cursor.line + 1, "expected a line of numbers, found the end of the input");
  }
  for (int s = 1; s < index.count; ++s) {
    if (index.sets[s].rows != index.sets[0].rows) {
      fail_at(input.name, index.sets[s].end_line,
              "expected " + std::to_string(index.sets[0].rows) + " rows in data set " +
                  std::to_string(s + 1) + " as in data set 1, found " +
                  std::to_string(index.sets[s].rows));
    }
  }
}

// The next data line of a set (inside a set, only metadata and blank lines
// come between them).
std::string_view next_data_line(Cursor& cursor) {
  std::string_view line;
  while (next_line(cursor, line)) {
    const int first = first_visible(line);
    if (first != BLANK_LINE && first != '#' && first != '@') return line;
  }
  return {};
}

bool same_value(std::string_view a, std::string_view b) {
  if (a == b) return true;
  double x = 0;
  double y = 0;
  const auto ra = std::from_chars(a.data(), a.data() + a.size(), x);
  const auto rb = std::from_chars(b.data(), b.data() + b.size(), y);
  return ra.ec == std::errc{} && rb.ec == std::errc{} && x == y;
}

}  // namespace

void read_xvg(Table& table, const Input& input) {
  index_sets(input);
  const int sets = index.count;
  for (int s = 0; s < sets; ++s) {
    start_input_cursor(cursors[s], input, set_buffers[s], index.sets[s].offset, index.sets[s].line);
  }
  Layout layout = start_layout(input.name, index.time_axis ? 1 : 0);
  int set_width = 0;  // fields of a set's line, fixed by the first
  std::int64_t first_line = 0;
  for (std::int64_t r = 0; r < index.sets[0].rows; ++r) {
    std::int64_t row_line = 0;
    for (int s = 0; s < sets; ++s) {
      Cursor& cursor = cursors[s];
      const std::string_view line = next_data_line(cursor);
      const int count = split_blank(line, set_fields, MAX_FIELDS);
      check_field_count(input.name, cursor.line, count, MAX_FIELDS);
      if (set_width == 0) {
        set_width = count;
        first_line = cursor.line;
        if (1 + static_cast<std::int64_t>(sets) * (set_width - 1) > MAX_FIELDS) {
          fail_at(input.name, cursor.line,
                  "expected at most " + std::to_string(MAX_FIELDS) + " joined fields, found " +
                      std::to_string(1 + sets * (set_width - 1)));
        }
      }
      if (count != set_width) {
        fail_at(input.name, cursor.line,
                "expected " + std::to_string(set_width) + " fields as on line " +
                    std::to_string(first_line) + ", found " + std::to_string(count));
      }
      check_fields(input.name, cursor.line, set_fields, count);
      if (s == 0) {
        row_line = cursor.line;
        row.field[0] = set_fields[0];
      } else if (!same_value(set_fields[0], row.field[0])) {
        fail_at(input.name, cursor.line,
                "expected " + std::string(index.time_axis ? "time " : "first column ") +
                    quoted(row.field[0]) + " in data set " + std::to_string(s + 1) +
                    " as on line " + std::to_string(row_line) + " of data set 1, found " +
                    quoted(set_fields[0]));
      }
      for (int f = 1; f < count; ++f) row.field[1 + s * (set_width - 1) + (f - 1)] = set_fields[f];
    }
    row.count = 1 + sets * (set_width - 1);
    put_row(table, layout, row, row_line);
  }
  std::string what = sets == 1 ? "1 data set" : std::to_string(sets) + " data sets joined";
  note_input(table, layout, what);
}

}  // namespace pctable
