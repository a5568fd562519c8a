// Build-time capacities of the word programs' tables.
#pragma once

namespace pcgrid {

inline constexpr int MAX_VECTORS = 25'000'000;   // rows of the PC table
inline constexpr int MAX_DIM = 10;               // components per vector
inline constexpr int MAX_COLUMNS = MAX_DIM + 1;  // numbers on a line, label included
inline constexpr int LINE_CHARS = 999;  // characters per line read; longer lines come in pieces
inline constexpr int MIN_GRID = 5;      // grid intervals per dimension, at least
inline constexpr int MAX_GRID = 51;     // and at most: bins 0..51 are the 52 letters

}  // namespace pcgrid
