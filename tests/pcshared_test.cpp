#include <gtest/gtest.h>

#include "letter_code.hpp"

TEST(LetterCode, Letters) {
  EXPECT_EQ(pcgrid::letter_for_bin(51), 'z');
}
