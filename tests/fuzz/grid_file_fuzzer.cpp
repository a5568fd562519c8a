// The grid-file reader. Whatever the input, parse_grid either refuses it
// at a line of the text with a reason, or gives a grid that is one: D from
// 0 to 10, N at least 1, G that of N, finite limits in order. Such a grid
// written out by grid_text reads back to the same bits, and its text is
// then written the same again.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "fuzz_input.hpp"
#include "grid_file.hpp"

namespace {

using namespace pcgrid;
using fuzzing::check;

bool same_bits(float a, float b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

void check_grid(const Grid& grid) {
  check(grid.dim >= 0 && grid.dim <= MAX_DIM, "D from 0 to 10");
  check(grid.vectors >= 1, "N at least 1");
  check(grid.g == compute_grid_size(grid.vectors), "G of N");
  for (int d = 0; d < grid.dim; ++d) {
    check(std::isfinite(grid.limits.min[d]) && std::isfinite(grid.limits.max[d]), "finite limits");
    check(grid.limits.min[d] <= grid.limits.max[d], "limits in order");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  Grid grid{};
  const GridParse parse = parse_grid(text, grid);
  if (!parse.ok) {
    check(parse.line >= 1 && !parse.what.empty(), "a refusal names a line and a reason");
    return 0;
  }
  check_grid(grid);
  const std::string written = grid_text(grid);
  check(written.size() <= GRID_FILE_BYTES, "a grid file fits the reader");
  Grid again{};
  check(parse_grid(written, again).ok, "a written grid reads back");
  check(again.dim == grid.dim && again.vectors == grid.vectors && again.g == grid.g, "D, N, G");
  for (int d = 0; d < grid.dim; ++d) {
    check(same_bits(again.limits.min[d], grid.limits.min[d]) &&
              same_bits(again.limits.max[d], grid.limits.max[d]),
          "limits read back to the same bits");
  }
  check(grid_text(again) == written, "the text of a grid read back is the same");
  return 0;
}
