// The reference build's reading of a PC table: fgets and scanf-like
// conversions, a line at a time.
#include "pc_table_steps.hpp"

#include "messages.hpp"

namespace pcgrid {

namespace {

// Adds one line to the table: refused, or stored, or the table full, or
// no memory left.
void store_line(PcTable& table, std::string_view line) {
  bool reserved = false;
  const std::size_t storable = reserve_rows(table, 1, reserved);
  if (storable == 1) {
    const auto row = static_cast<std::size_t>(table.n);
    if (!parse_pc_line(line, table.dim(), table.indeces[row], table.dat[row])) refuse_line(line);
  }
  end_rows(table, storable, 1, reserved);
}

}  // namespace

void read_lines(LineReader& reader, PcTable& table, RowFlow& flow) {
  std::string_view line;
  const bool any = read_piece(reader, line);
  check_reading(reader);
  if (!any) fail("Failed to read any input (?!). Abort.\n");
  table.ncol = count_columns(line);
  check_columns(table, line);
  do {
    store_line(table, line);
    if (table.n >= STREAM_ROWS) hand_over(table, flow);
  } while (read_piece(reader, line));
  check_reading(reader);
  hand_over(table, flow);
}

}  // namespace pcgrid
