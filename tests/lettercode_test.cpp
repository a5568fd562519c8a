#include <gtest/gtest.h>

#include "run_program.hpp"

using pcgrid::testing::run_program;

TEST(Lettercode, Smoke) {
  const auto r = run_program(LETTERCODE_EXE, {}, {.input = "1 0 0\n2 0.5 1.0\n3 1.0 0.5\n"});
  EXPECT_EQ(r.out, "AA\nCF\nFC\n");
}
