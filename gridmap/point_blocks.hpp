// A block of whole line pieces of the data file converted on all threads.
// The block is cut into parts, each beginning after a newline (where a piece
// always begins), and each part's pieces are converted on their own: a line
// of the usual form from the tokens that the structural scan finds, every
// other piece as read_point converts it. A part stops at its first piece
// that the pass refuses; the pass then takes the parts in file order, as if
// it had read their lines one by one.
#pragma once

#include <cstdint>
#include <string_view>

#include "arguments.hpp"

namespace gridmap {

// What a pass asks of every piece.
struct PassRules {
  int ncol;           // the columns of a point: the file's first line's (0 if it holds none)
  bool read_z;        // z converted, not only recognised
  bool weights;       // a third column must be a weight (finite, not negative)
  bool find_nodes;    // the second pass: the node of each point is recorded
  bool limits_given;  // a point outside `limits` gets no node, rather than an edge one
  NodeLimits limits;  // the limits the nodes span
  int GX, GY;         // highest node index along x and along y
  bool find_limits_too = false;  // with find_nodes: the limits of the points as well
  bool keep_points = false;      // each point recorded (PartPoints::kept): needs keeping_room
};

// Why a part stopped before its end.
enum class Stop {
  none,
  no_point,       // not 2 or 3 columns
  other_columns,  // 2 or 3, but not ncol
  bad_weight,     // a third column that cannot weigh its point
};

// A point's node (j -1: outside the limits given), and its z where the pass
// reads it.
struct NodeRecord {
  std::int16_t j, k;
  float z;
};

// A point as the first pass converted it (z only where it was read), kept
// for the second pass.
struct PointRecord {
  float x, y, z;
};

// The points of a part, up to the piece it stopped at, if any.
struct PartPoints {
  std::int64_t points;            // pieces accepted
  std::int64_t usual;             // pieces converted from their tokens, accepted or not
  Stop stop;                      // what is wrong with the piece after them
  std::string_view piece;         // that piece, as C string functions see it
  double xmin, xmax, ymin, ymax;  // the limits of the points, found in file order (first pass)
  const NodeRecord* nodes;        // second pass: the node of each point
  const PointRecord* kept;        // with keep_points: each point itself
};

inline constexpr int MAX_PARTS = 64;

struct BlockPoints {
  int parts;
  PartPoints part[MAX_PARTS];
};

// The node records of convert_block (about 22 MB), reserved; then the
// threads that share a block started. False when the memory is exhausted.
bool reserve_block_work();

// Room for the points of the first blocks of a file, which the first pass
// keeps so that the second need not read and convert them again: about 80
// MB, the points and the records of a block's points. nullptr, and a
// capacity of 0, when it cannot be had: the file is then read twice.
PointRecord* keeping_room(std::size_t& capacity);

// The nodes of `count` points (at most NODES_AT_ONCE) by the second pass's
// rules, on all threads; valid until the next call or convert_block.
inline constexpr std::size_t NODES_AT_ONCE = std::size_t{1} << 18;
const NodeRecord* nodes_of(const PointRecord* points, std::size_t count, const PassRules& rules);

// Converts the pieces of `block` (whole pieces of at most MAX_PIECE
// characters, the first at its start, with BLOCK_PADDING readable bytes
// after it, at most READ_BLOCK + MAX_PIECE bytes), on all threads when it is
// large enough. The node records stay valid until the next call. Needs
// reserve_block_work first.
void convert_block(std::string_view block, const PassRules& rules, BlockPoints& points);

// Converts the pieces of `text` (as for convert_block) on this thread into
// `nodes`, which has room for text.size() / 3 + 1 records: lines of the usual
// form from their tokens when `usual_form`, every piece by read_point when
// not. Both must give the same result.
PartPoints convert_part(std::string_view text, const PassRules& rules, NodeRecord* nodes,
                        bool usual_form, PointRecord* kept = nullptr);

// The tokens of the lines of `text` (as for convert_part), found as
// convert_part finds them and not converted: its structural share, for the
// stage benchmark. The number of tokens found, at most three a line.
std::size_t find_part_tokens(std::string_view text);

// The columns of the first piece of `text`, as read_point counts them.
int first_columns(std::string_view text);

}  // namespace gridmap
