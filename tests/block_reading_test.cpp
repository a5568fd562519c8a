// Tables of several read blocks (8 MiB each), where each block is read
// while the one before is parsed: lettercode gives the reference build's
// bytes on 1, 2 and 7 threads, with a refused line in a later block, a
// long line across the end of a block, and the input from a pipe in small
// reads.
#include <gtest/gtest.h>

#include <string>

#include "run_program.hpp"

namespace {

using pcgrid::testing::run_program;
using pcgrid::testing::RunResult;

std::string table_of(std::size_t bytes) {
  std::string table;
  unsigned state = 7;
  for (int i = 0; table.size() < bytes; ++i) {
    state = state * 1103515245u + 12345u;
    table += std::to_string(i) + " " + std::to_string(state % 2000) + "e-3 -0." +
             std::to_string(state % 997) + " " + std::to_string(state % 13) + ".25\n";
  }
  return table;
}

struct BlockCase {
  const char* name;
  std::string input;
};

std::vector<BlockCase> block_cases() {
  const std::string table = table_of(std::size_t{20} << 20);
  std::string refused = table;
  refused.insert(refused.find('\n', std::size_t{19} << 20) + 1, "5 0.5 1,5 2\n");
  std::string long_line = table;
  const std::size_t at = long_line.find('\n', (std::size_t{8} << 20) - 1500) + 1;
  long_line.insert(at, "17" + std::string(2500, ' ') + "0.5 0.25 0.125\n");
  return {{"Accepted", table},
          {"RefusedInTheThirdBlock", refused},
          {"LongLineAcrossABlock", long_line}};
}

class BlockReading : public ::testing::TestWithParam<BlockCase> {};

TEST_P(BlockReading, SameBytesAsTheReferenceOnAnyThreads) {
  const BlockCase& c = GetParam();
  const RunResult expected = run_program(LETTERCODE_REFERENCE_EXE, {}, {.input = c.input});
  for (const char* threads : {"1", "2", "7"}) {
    const RunResult got = run_program(
        LETTERCODE_EXE, {}, {.input = c.input, .env = {std::string("OMP_NUM_THREADS=") + threads}});
    EXPECT_EQ(got.status, expected.status) << threads;
    EXPECT_EQ(got.err, expected.err) << threads;
    EXPECT_TRUE(got.out == expected.out) << threads;
  }
}

INSTANTIATE_TEST_SUITE_P(Tables, BlockReading, ::testing::ValuesIn(block_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
