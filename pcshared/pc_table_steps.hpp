// The steps that the two ways of reading a PC table share: the line by line
// reading of the reference build (pc_table_lines.cpp) and the block
// pipeline (pc_table_blocks.cpp). Not for the programs.
#pragma once

#include <cstddef>
#include <string_view>

#include "line_reader.hpp"
#include "pc_table.hpp"

namespace pcgrid {

[[noreturn]] void refuse_line(std::string_view line);

// A read error ends the run.
void check_reading(const LineReader& reader);

// The first line's columns: at least the label, at most MAX_COLUMNS.
void check_columns(const PcTable& table, std::string_view first_line);

// Room for `count` more rows, as many as fit: the rows that can be stored,
// and whether the memory for them could be had.
std::size_t reserve_rows(PcTable& table, std::size_t count, bool& reserved);

// After `storable` of `count` new rows were stored: the failure that
// stopped the rest, if any.
void end_rows(PcTable& table, std::size_t storable, std::size_t count, bool reserved);

// Where the rows read go: kept in the table (`batches` null), or handed
// over a batch at a time, and then forgotten.
struct RowFlow {
  const RowBatches* batches;
  std::int64_t handed;  // vectors handed over so far
};

// Hands the table's rows over, when they go to batches, and empties it.
void hand_over(PcTable& table, RowFlow& flow);

// The reference build's reading: the lines one at a time.
void read_lines(LineReader& reader, PcTable& table, RowFlow& flow);

// The block reader's reading: blocks of whole pieces, each read and
// surveyed while the one before is parsed; each block's rows are handed
// over as soon as they are stored.
void read_blocks(LineReader& reader, PcTable& table, RowFlow& flow);

}  // namespace pcgrid
