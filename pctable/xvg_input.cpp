#include "xvg_input.hpp"

#include <memory>
#include <span>
#include <string>

#include "blank.hpp"
#include "failure.hpp"
#include "fields.hpp"
#include "number_text.hpp"

namespace pctable {

namespace {

constexpr std::size_t SET_BUFFER = 2 * MAX_LINE + 4096;
constexpr std::size_t FIRST_BUFFER = std::size_t{1} << 20;

// What reading one file works in: its sets and a cursor for each, the
// fields of a set's line and of the joined line.
struct Reading {
  XvgIndex index;
  Cursor cursors[MAX_SETS];
  std::string_view set_fields[MAX_FIELDS + 1];
  bool checked_column[MAX_FIELDS + 1];  // columns of the joined line that must hold numbers
  Row row;
};

using pcgrid::skip_blanks;

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
  return pcgrid::trim_blanks(line) == "&";
}

// The columns of the joined line whose numbers are checked as the file is
// indexed: the chosen ones (all but the label by default). The first
// column, which joins the sets, is checked in every set.
void choose_checked_columns(bool* checked_column, const Options& options) {
  for (int column = 1; column <= MAX_FIELDS; ++column) {
    checked_column[column] = options.column_count == 0 && column != options.label_column;
  }
  for (int i = 0; i < options.column_count; ++i) checked_column[options.columns[i]] = true;
}

// One data line of set `set` (0 from the first), split into `count`
// fields: as many as the first data line, numbers where they are needed.
void check_data_line(Reading& reading, const Input& input, std::int64_t line_number, int count,
                     int set) {
  XvgIndex& index = reading.index;
  std::string_view* const set_fields = reading.set_fields;
  check_field_count(input.name, line_number, count, MAX_FIELDS);
  if (index.set_width == 0) {
    index.set_width = count;
    index.first_line = line_number;
  }
  const int width = index.set_width;
  if (count != width) {
    fail_at(input.name, line_number,
            "expected " + std::to_string(width) + " fields as on line " +
                std::to_string(index.first_line) + ", found " + std::to_string(count));
  }
  if (1 + static_cast<std::int64_t>(set + 1) * (width - 1) > MAX_FIELDS) {
    fail_at(input.name, line_number,
            "expected at most " + std::to_string(MAX_FIELDS) + " joined fields, found " +
                std::to_string(1 + static_cast<std::int64_t>(set + 1) * (width - 1)));
  }
  for (int f = 0; f < count; ++f) {
    if (f == 0 || reading.checked_column[1 + set * (width - 1) + f]) {
      check_number_field(input.name, line_number, f + 1, set_fields[f]);
    }
  }
}

// Finds the data sets (where each begins, its rows, the line that ends
// it) and checks their lines. A stream is copied as it is read, and its
// copy is read from then on.
void index_sets(Reading& reading, Input& input) {
  XvgIndex& index = reading.index;
  Cursor& cursor = reading.cursors[0];
  const auto first_buffer = new_cursor_buffer(FIRST_BUFFER);
  start_input_cursor(cursor, input, {first_buffer.get(), FIRST_BUFFER});
  const bool copying = input.source == Source::stream;
  if (copying) copy_as_read(cursor, input);
  index.count = 0;
  index.time_axis = false;
  index.set_width = 0;
  bool in_set = false;
  std::string_view line;
  for (;;) {
    std::int64_t offset = cursor.offset;
    if (!next_line(cursor, line)) break;
    if (cursor.line == 1 && line.starts_with(BYTE_ORDER_MARK)) {
      line.remove_prefix(BYTE_ORDER_MARK.size());
      offset += static_cast<std::int64_t>(BYTE_ORDER_MARK.size());
    }
    // Split first: the first field begins with the line's first visible
    // character, and a blank line has none.
    const int count = split_blank(line, reading.set_fields, MAX_FIELDS);
    if (count == 0) continue;
    const char first = reading.set_fields[0][0];
    if (first == '#') continue;
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
      check_data_line(reading, input, cursor.line, count, index.count - 1);
      XvgSet& set = index.sets[index.count - 1];
      ++set.rows;
      set.end_line = cursor.line;
    }
  }
  if (copying) read_copy_from_now_on(input, cursor);
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

// The fields of the next data line of a set (inside a set, only metadata
// and blank lines come between them), and their count; 0 at the end.
int next_data_fields(Cursor& cursor, std::string_view* fields) {
  std::string_view line;
  while (next_line(cursor, line)) {
    const int count = split_blank(line, fields, MAX_FIELDS);
    if (count > 0 && fields[0][0] != '#' && fields[0][0] != '@') return count;
  }
  return 0;
}

// Two checked numbers of the joining column: "1", "+1", "1.0" and "1e0"
// are one value.
bool same_value(std::string_view a, std::string_view b) {
  return a == b || number_value(a) == number_value(b);
}

}  // namespace

void read_xvg(Table& table, Input& input) {
  const auto reading = std::make_unique<Reading>();
  const XvgIndex& index = reading->index;
  Row& row = reading->row;
  std::string_view* const set_fields = reading->set_fields;
  choose_checked_columns(reading->checked_column, *table.options);
  // The pass that writes standard output, after the one that checked it,
  // takes the sets that pass found instead of reading the file once more.
  const bool sets_found = input.xvg_sets != nullptr;
  if (sets_found) {
    reading->index = *input.xvg_sets;
  } else {
    index_sets(*reading, input);
    input.xvg_sets = std::make_unique<XvgIndex>(reading->index);
  }
  const int sets = index.count;
  const int width = index.set_width;
  // One buffer for all: a set's padding is the start of the next set's room.
  const auto set_buffers = new_cursor_buffer(static_cast<std::size_t>(sets) * SET_BUFFER);
  for (int s = 0; s < sets; ++s) {
    const std::span<char> buffer(set_buffers.get() + static_cast<std::size_t>(s) * SET_BUFFER,
                                 SET_BUFFER);
    start_input_cursor(reading->cursors[s], input, buffer, index.sets[s].offset, index.sets[s].line);
  }
  Layout layout = start_layout(table, input.name, index.time_axis ? 1 : 0);
  // The chosen columns were checked as the sets were found; taken from an
  // earlier pass, they are checked again as they are written, so that no
  // field is written unchecked should the file have changed in between
  // (which check_unchanged refuses at the end).
  layout.numbers_checked = !sets_found;
  for (std::int64_t r = 0; r < index.sets[0].rows; ++r) {
    std::int64_t row_line = 0;
    for (int s = 0; s < sets; ++s) {
      Cursor& cursor = reading->cursors[s];
      const int count = next_data_fields(cursor, set_fields);
      if (count != width) fail(input.name, "changed while it was read");
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
      for (int f = 1; f < count; ++f) row.field[1 + s * (width - 1) + (f - 1)] = set_fields[f];
    }
    row.count = 1 + sets * (width - 1);
    put_row(table, layout, row, row_line);
  }
  std::string what = sets == 1 ? "1 data set" : std::to_string(sets) + " data sets joined";
  note_input(table, layout, what);
}

}  // namespace pctable
