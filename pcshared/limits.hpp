// Build-time capacities: the word programs' tables, and the longest piece of
// a line that any program reads at once.
#pragma once

#include <cstddef>

namespace pcgrid {

inline constexpr int MAX_VECTORS = 25'000'000;   // rows of the PC table
inline constexpr int MAX_DIM = 10;               // components per vector
inline constexpr int MAX_COLUMNS = MAX_DIM + 1;  // numbers on a line, label included
inline constexpr int LINE_CHARS = 999;  // characters per line read; longer lines come in pieces
// The word programs' grid: intervals per dimension, at least and at most
// (bins 0..51 are the 52 letters). Not gridmap's nodes.
inline constexpr int MIN_GRID_INTERVALS = 5;
inline constexpr int MAX_GRID_INTERVALS = 51;

// gridmap's lines, read 99,998 characters at a time (fgets with a buffer of
// 100,000 bytes and a size of 99,999); no line reader or conversion takes a
// longer piece.
inline constexpr std::size_t MAX_PIECE = 99'998;

}  // namespace pcgrid
