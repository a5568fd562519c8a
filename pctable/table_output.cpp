#include "table_output.hpp"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "descriptor_io.hpp"
#include "failure.hpp"
#include "fields.hpp"
#include "limits.hpp"
#include "number_text.hpp"
#include "output.hpp"
#include "whole_file.hpp"

namespace pctable {

namespace {

// The readers' limits: the word programs read a line in 999 characters, its
// newline included, and gridmap in 99,998.
constexpr std::size_t MAX_TABLE_LINE = pcgrid::LINE_CHARS - 1;
constexpr std::size_t MAX_POINTS_LINE = 99'997;
constexpr std::int64_t MAX_POINTS = 2'147'483'647;

constexpr std::size_t OUTPUT_BUFFER = (std::size_t{1} << 20) + MAX_POINTS_LINE + 1;
[[noreturn]] void write_failed(const Output& output, int error) {
  fail(output.name, std::string("write error: ") + std::strerror(error));
}

std::string column_list(const Layout& layout) {
  std::string list;
  for (int i = 0; i < layout.chosen_count; ++i) {
    if (i > 0) list += ',';
    list += std::to_string(layout.chosen[i] + 1);
  }
  return list;
}

// The label column and the chosen columns of `file`, from its first data line.
void fix_layout(Table& table, Layout& layout, const Row& row, std::int64_t line) {
  const Options& options = *table.options;
  const std::string found = ", found " + std::to_string(row.count);
  layout.fields = row.count;
  layout.first_line = line;
  if (options.label_column > row.count) {
    fail_at(layout.file, line,
            "expected at least " + std::to_string(options.label_column) +
                " fields for --label-column " + std::to_string(options.label_column) + found);
  }
  layout.label = options.label_column - 1;
  layout.chosen_count = 0;
  if (options.column_count > 0) {
    for (int i = 0; i < options.column_count; ++i) {
      if (options.columns[i] > row.count) {
        fail_at(layout.file, line,
                "expected at least " + std::to_string(options.columns[i]) +
                    " fields for --columns" + found);
      }
      layout.chosen[layout.chosen_count++] = options.columns[i] - 1;
    }
  } else {
    for (int column = 1; column <= row.count; ++column) {
      if (column == layout.time_column || column == options.label_column) continue;
      if (layout.chosen_count == MAX_CHOSEN) break;
      layout.chosen[layout.chosen_count++] = column - 1;
    }
  }
  int kept = 0;
  for (int column = 1; column <= row.count; ++column) {
    kept += column != layout.time_column && column != options.label_column;
  }
  if (options.column_count == 0) {
    if (options.points && kept != 2 && kept != 3) {
      fail_at(layout.file, line,
              "expected 2 or 3 columns for --points, found " + std::to_string(kept) +
                  " (choose them with --columns)");
    }
    if (!options.points && kept > pcgrid::MAX_DIM) {
      fail_at(layout.file, line,
              "expected at most " + std::to_string(pcgrid::MAX_DIM) + " components, found " +
                  std::to_string(kept) + " (choose them with --columns)");
    }
    if (kept == 0) fail_at(layout.file, line, "expected at least one component, found none");
  }
  if (table.components == 0) {
    table.components = layout.chosen_count;
    table.components_from = layout.file;
  } else if (table.components != layout.chosen_count) {
    fail_at(layout.file, line,
            "expected " + std::to_string(table.components) + " columns as from " +
                std::string(table.components_from) + ", found " +
                std::to_string(layout.chosen_count));
  }
}

// A field of a Row, or a label, at `out`, where 15 bytes more may be
// written: a short one is copied as 16 bytes, the bytes after it
// overwritten by what follows it.
char* put_text(char* out, std::string_view text) {
  if (text.size() <= 16) {
    std::memcpy(out, text.data(), 16);
  } else {
    std::memcpy(out, text.data(), text.size());
  }
  return out + text.size();
}

// The table line of `row`, `length` characters before its newline.
void write_line(Output& output, const Layout& layout, const Row& row, bool points,
                std::string_view label, std::size_t length) {
  const auto failed = [&output](int error) { write_failed(output, error); };
  char* out = pcgrid::room(output.gathered, length + 1 + 15, failed);
  if (!points) out = put_text(out, label);
  for (int i = 0; i < layout.chosen_count; ++i) {
    if (!points || i > 0) *out++ = ' ';
    out = put_text(out, row.field[layout.chosen[i]]);
  }
  *out++ = '\n';
  pcgrid::commit(output.gathered, out);
}

}  // namespace

void prepare_layout(Table& table, Layout& layout, const Row& row, std::int64_t line) {
  if (layout.fields == 0) fix_layout(table, layout, row, line);
}

Layout start_layout(Table& table, std::string_view file, int time_column) {
  Output& output = *table.output;
  if (output.buffer == nullptr) {
    output.buffer = std::make_unique_for_overwrite<char[]>(OUTPUT_BUFFER);
    output.gathered = {
        .fd = output.file.fd, .data = output.buffer.get(), .capacity = OUTPUT_BUFFER, .filled = 0};
  }
  Layout layout;
  layout.file = file;
  layout.time_column = time_column;
  return layout;
}

void put_row(Table& table, Layout& layout, const Row& row, std::int64_t line) {
  if (layout.fields == 0) fix_layout(table, layout, row, line);
  if (row.count != layout.fields) {
    fail_at(layout.file, line,
            "expected " + std::to_string(layout.fields) + " fields as on line " +
                std::to_string(layout.first_line) + ", found " + std::to_string(row.count));
  }
  const bool points = table.options->points;
  std::size_t length = 0;
  char number[16] = {};  // a label's 16 bytes, copied whole
  std::string_view label;
  if (!points) {
    if (layout.label >= 0) {
      label = row.field[layout.label];
      if (!is_short_int32_text(label) && !is_int32_text(label)) {
        fail_at(layout.file, line,
                "expected a 32-bit integer label in column " + std::to_string(layout.label + 1) +
                    (layout.label + 1 == layout.time_column ? " (the time)" : "") + ", found " +
                    quoted(label));
      }
    } else {
      const auto end = std::to_chars(number, number + sizeof number, table.frames + 1).ptr;
      label = std::string_view(number, static_cast<std::size_t>(end - number));
    }
    length = label.size() + static_cast<std::size_t>(layout.chosen_count);
  } else {
    length = static_cast<std::size_t>(layout.chosen_count - 1);
  }
  for (int i = 0; i < layout.chosen_count; ++i) {
    const std::string_view field = row.field[layout.chosen[i]];
    if (!layout.numbers_checked) check_number_field(layout.file, line, layout.chosen[i] + 1, field);
    length += field.size();
  }
  const std::size_t limit = points ? MAX_POINTS_LINE : MAX_TABLE_LINE;
  if (length > limit) {
    fail_at(layout.file, line,
            "expected at most " + std::to_string(limit) + " characters in the " +
                (points ? "point" : "table") + " line, found " + std::to_string(length));
  }
  ++table.frames;
  if (!points && table.frames > pcgrid::MAX_VECTORS) {
    fail_at(layout.file, line,
            "expected at most " + std::to_string(pcgrid::MAX_VECTORS) + " frames, found more");
  }
  if (points && table.frames > MAX_POINTS) {
    fail_at(layout.file, line,
            "expected at most " + std::to_string(MAX_POINTS) + " points, found more");
  }
  if (table.writing) write_line(*table.output, layout, row, points, label, length);
}

void note_input(Table& table, const Layout& layout, std::string what) {
  const Options& options = *table.options;
  bool time_kept = false;
  for (int i = 0; i < layout.chosen_count; ++i)
    time_kept |= layout.chosen[i] + 1 == layout.time_column;
  if (layout.time_column > 0 && !time_kept && options.label_column != layout.time_column) {
    what += ", time column dropped";
  }
  if (options.column_count > 0) what += ", columns " + column_list(layout);
  if (options.label_column > 0) {
    what += ", labels from column " + std::to_string(options.label_column);
  }
  table.notes.push_back(std::string(layout.file) + ": " + what);
}

void open_output(Output& output, const Options& options) {
  const char* name = options.output != nullptr ? options.output : "-";
  output.name = std::string_view(name) == "-" ? "standard output" : name;
  const char* failed = pcgrid::begin_whole_file(output.file, name);
  if (failed == nullptr) return;
  const std::string why = std::string(failed) + ": " + std::strerror(errno);
  if (std::string_view(name) == "-") fail_plain(why);
  fail(output.name, why);
}

bool output_written_in_place(const Output& output) {
  return output.file.temporary.empty();
}

void finish_output(Output& output) {
  output.gathered.fd = output.file.fd;
  pcgrid::write_gathered(output.gathered, [&output](int error) { write_failed(output, error); });
  const char* failed = pcgrid::finish_whole_file(output.file);
  if (failed != nullptr) fail(output.name, std::string(failed) + ": " + std::strerror(errno));
}

void write_summary(const Table& table) {
  const bool points = table.options->points;
  const auto count = [](std::int64_t n, const char* what) {
    return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
  };
  std::string summary = "pctable: " + count(table.frames, points ? "point" : "frame") + ", " +
                        count(table.components, points ? "column" : "component") + " (";
  for (std::size_t i = 0; i < table.notes.size(); ++i) {
    if (i > 0) summary += "; ";
    summary += table.notes[i];
  }
  summary += ")\n";
  std::fputs(summary.c_str(), stderr);
}

}  // namespace pctable
