// The PC vector table: labelled vectors read from a text table, one per line.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string_view>

#include "limits.hpp"
#include "line_reader.hpp"

namespace pcgrid {

// Up to MAX_VECTORS rows, reserved in steps of VECTOR_STEP as they fill
// (or at once, for a table that streams through).
struct PcTable {
  std::int32_t* indeces;  // label of each vector, in input order
  float (*dat)[MAX_DIM];  // components; row width 10 whatever the dimension
  std::int32_t capacity;  // rows reserved
  std::int32_t n;         // vectors read
  std::int32_t ncol;      // numbers on the first line, label included

  int dim() const { return ncol - 1; }
};

inline constexpr std::int32_t VECTOR_STEP = std::int32_t{1} << 20;

// Room for `rows` vectors (at most MAX_VECTORS), the stored ones kept;
// false when the memory is exhausted.
bool reserve_vectors(PcTable& table, std::int32_t rows);

// Numbers that successive "%f" conversions read from the start of `line`.
int count_columns(std::string_view line);

// Reads a label and `dim` components from `line`; anything after them is
// ignored. False when a conversion fails, when the label does not fit in 32
// bits, or when a component is not finite.
bool parse_pc_line(std::string_view line, int dim, std::int32_t& label,
                   std::span<float> components);

// How far parse_pieces went: the rows it filled, and whether it stopped at
// a refused piece, the one after them, whose text is `piece`.
struct PieceParse {
  std::int32_t rows;
  bool refused;
  std::string_view piece;
};

// Parses the pieces of `text` (whole pieces of LINE_CHARS characters at
// most, the first at its start, with BLOCK_PADDING readable bytes after
// it) into the rows from `first_row` on, which are reserved, as
// parse_pc_line parses each, stopping before `stop_row` or at the first
// piece refused. Lines of the usual form are converted from the tokens that
// the structural scan finds; every other piece by parse_pc_line itself.
PieceParse parse_pieces(PcTable& table, std::string_view text, std::int32_t first_row,
                        std::int32_t stop_row);

// Fills `table` from `in` with `reader`, reading it to its end, and
// reports its size on standard error. Any failure (a bad line, a read
// error, memory exhausted) prints its message and ends the process with
// exit status 1.
void read_pc_table(std::FILE* in, LineReader& reader, PcTable& table);

// Where stream_pc_table hands the rows over: `take` is called with each
// batch at rows 0 .. n-1 of the table, and the number of vectors before it.
struct RowBatches {
  void (*take)(const PcTable& rows, std::int64_t before, void* context);
  void* context;
};

// Blocks of a streamed table, and the rows reserved for one: a block of 1
// MiB and a piece holds that many lines of a digit and a newline (23 MB of
// rows), and some 20,000 of a typical five-component table. Only a block
// of empty lines, refused at once, needs more.
inline constexpr std::size_t STREAM_BLOCK_BYTES = std::size_t{1} << 20;
inline constexpr std::int32_t STREAM_ROWS = (STREAM_BLOCK_BYTES + LINE_CHARS) / 2 + 1;

// Reads the table that `reader` was started on (with LINE_CHARS and
// STREAM_BLOCK_BYTES) as read_pc_table does, but hands the rows over a
// batch at a time (a block of the reader, or STREAM_ROWS lines in the
// reference build) and then forgets them, so that the memory is that of
// one batch and the vectors have no cap. The same failures end the process, after the batches
// before. Returns the number of vectors; reports nothing.
std::int64_t stream_pc_table(LineReader& reader, PcTable& table, const RowBatches& batches);

}  // namespace pcgrid
