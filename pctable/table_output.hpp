// The table being written: the columns chosen from each input's lines, the
// labels, the limits of the readers it is written for, and the output file.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "options.hpp"
#include "output.hpp"
#include "whole_file.hpp"

namespace pctable {

// One input line split into fields (for an xvg file: the joined line).
// Each field has 16 readable bytes from its start, whatever its length: it
// lies in a cursor's line (whose buffer is padded) or in a text of 16 bytes
// or more, so that short fields are checked and copied 16 bytes at a time.
struct Row {
  std::string_view field[MAX_FIELDS];
  int count = 0;
};

// How the lines of one input become table lines; fixed by its first data line.
struct Layout {
  std::string_view file;
  int time_column = 0;  // 1 when the first column of an xvg file is the time; else 0
  int fields = 0;       // 0 until the first data line
  std::int64_t first_line = 0;
  int label = -1;  // field index of the label; -1: frame numbers
  int chosen[MAX_CHOSEN] = {};
  int chosen_count = 0;
  bool numbers_checked = false;  // the reader has checked the chosen columns' numbers
};

// Where the table goes, and its bytes gathered before they are written.
struct Output {
  pcgrid::WholeFile file{.target = "-", .temporary = {}, .fd = STDOUT_FILENO};
  std::string name = "standard output";  // for messages
  std::unique_ptr<char[]> buffer;         // taken when the first input starts
  pcgrid::OutputBuffer gathered;
};

struct Table {
  const Options* options = nullptr;
  Output* output = nullptr;
  bool writing = false;  // false in the checking pass before writing standard output
  std::int64_t frames = 0;
  int components = 0;  // 0 until the first data line
  std::string_view components_from;
  std::vector<std::string> notes;  // what was done to each input, for the summary
};

// A layout for `file` at the start of a pass.
Layout start_layout(Table& table, std::string_view file, int time_column);

// Fixes the layout at the first data line: the label and chosen columns.
void prepare_layout(Table& table, Layout& layout, const Row& row, std::int64_t line);

// Checks one line against the layout (fixing it at the first) and the
// limits, its label and chosen columns (the others may hold anything), and
// writes it when the table is being written.
void put_row(Table& table, Layout& layout, const Row& row, std::int64_t line);

// The input's note for the summary: `what` (its kind), plus the columns
// dropped and the label column.
void note_input(Table& table, const Layout& layout, std::string what);

// Where the table goes: standard output, or OUT written whole (a temporary
// file beside it), or written in place when it is a FIFO or a device.
void open_output(Output& output, const Options& options);
// Whether the table goes straight to its destination, no temporary file
// between: whatever is written may be read at once.
bool output_written_in_place(const Output& output);
// Writes out the rest; with -o, renames the temporary file over OUT.
void finish_output(Output& output);

// "pctable: N frames, D components (NOTES)" on standard error.
void write_summary(const Table& table);

}  // namespace pctable
