#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>

#include "letter_code.hpp"
#include "number_scan.hpp"
#include "pc_table.hpp"
#include "short_decimal.hpp"

namespace {

using pcgrid::ScanStatus;

// The forms the conversions must read exactly as the C library does,
// the awkward ones above all.
TEST(NumberScan, FloatForms) {
  struct Case {
    const char* text;
    bool ok;
    float value;
    int used;
  };
  const Case cases[] = {
      {"1.5", true, 1.5f, 3},
      {"  -2.25e1 x", true, -22.5f, 9},
      {"+.5", true, 0.5f, 3},
      {"1.e1", true, 10.0f, 4},
      {"1e", true, 1.0f, 2},
      {"1e+", true, 1.0f, 3},
      {"7abc", true, 7.0f, 1},
      {"0x1p3", true, 8.0f, 5},
      {"-0x1.8p1q", true, -3.0f, 8},
      {" \v\f\r1", true, 1.0f, 5},
      {"1e-50", true, 0.0f, 5},
      {"0.1", true, 0.1f, 3},
      {"", false, 0, 0},
      {"\n", false, 0, 0},
      {"-", false, 0, 0},
      {".e1", false, 0, 0},
      {"0x", false, 0, 0},
      {"in", false, 0, 0},
      {",1", false, 0, 0},
      {"x1", false, 0, 0},
  };
  for (const Case& c : cases) {
    const pcgrid::FloatScan f = pcgrid::scan_float(c.text);
    EXPECT_EQ(f.ok, c.ok) << '[' << c.text << ']';
    if (!c.ok) continue;
    EXPECT_EQ(f.value, c.value) << '[' << c.text << ']';
    EXPECT_EQ(f.used, c.used) << '[' << c.text << ']';
  }
}

TEST(NumberScan, FloatWordsAndOverflow) {
  EXPECT_TRUE(std::isinf(pcgrid::scan_float("infinity").value));
  EXPECT_EQ(pcgrid::scan_float("infinity").used, 8);
  EXPECT_EQ(pcgrid::scan_float("infx").used, 3);
  EXPECT_TRUE(std::isnan(pcgrid::scan_float("nan(12)").value));
  EXPECT_EQ(pcgrid::scan_float("nan(12)").used, 3);
  EXPECT_TRUE(std::isinf(pcgrid::scan_float("-1e400").value));
}

TEST(NumberScan, IntForms) {
  struct Case {
    const char* text;
    ScanStatus status;
    std::int32_t value;
    int used;
  };
  const Case cases[] = {
      {"12.5", ScanStatus::ok, 12, 2},
      {"  +7abc", ScanStatus::ok, 7, 4},
      {"-0", ScanStatus::ok, 0, 2},
      {"2147483647", ScanStatus::ok, 2147483647, 10},
      {"-2147483648", ScanStatus::ok, INT32_MIN, 11},
      {"000000000000000000042", ScanStatus::ok, 42, 21},
      {"2147483648", ScanStatus::out_of_range, 0, 0},
      {"-2147483649", ScanStatus::out_of_range, 0, 0},
      {"99999999999999999999999", ScanStatus::out_of_range, 0, 0},
      {"", ScanStatus::no_number, 0, 0},
      {" \n", ScanStatus::no_number, 0, 0},
      {"-x", ScanStatus::no_number, 0, 0},
      {".5", ScanStatus::no_number, 0, 0},
      {"x1", ScanStatus::no_number, 0, 0},
  };
  for (const Case& c : cases) {
    const pcgrid::IntScan i = pcgrid::scan_int(c.text);
    EXPECT_EQ(i.status, c.status) << '[' << c.text << ']';
    if (c.status != ScanStatus::ok) continue;
    EXPECT_EQ(i.value, c.value) << '[' << c.text << ']';
    EXPECT_EQ(i.used, c.used) << '[' << c.text << ']';
  }
}

TEST(PcLine, CountColumns) {
  const std::pair<const char*, int> cases[] = {
      {"1 0.5 2.5\n", 3},
      {"1,0.5,2.5\n", 1},
      {"", 0},
      {"\n", 0},
      {"0x 1 2\n", 0},
      {"1 -1-2\n", 3},
      {"nan inf 1", 3},
      {"1 2 3 4 5 6 7 8 9 10 11 12\n", 12},
  };
  for (const auto& [line, columns] : cases) EXPECT_EQ(pcgrid::count_columns(line), columns) << line;
}

TEST(PcLine, Parse) {
  struct Case {
    const char* line;
    int dim;
    bool ok;
    std::int32_t label;
    float c0, c1;
  };
  const Case cases[] = {
      {"1 0.5 2.5\n", 2, true, 1, 0.5f, 2.5f},
      {"12.5 0.1 0.2\n", 2, true, 12, 0.5f, 0.1f},
      {"12.5 0.1\n", 2, true, 12, 0.5f, 0.1f},
      {"3 -1-2\n", 2, true, 3, -1.0f, -2.0f},
      {"4 1 2 3 4\n", 2, true, 4, 1.0f, 2.0f},
      {"5 1e-50 1e\n", 2, true, 5, 0.0f, 1.0f},
      {"6 1,2\n", 2, false, 0, 0, 0},
      {"7abc 1 2\n", 2, false, 0, 0, 0},
      {"8 1\n", 2, false, 0, 0, 0},
      {"9 nan 1\n", 2, false, 0, 0, 0},
      {"10 1 -inf\n", 2, false, 0, 0, 0},
      {"11 1e400 1\n", 2, false, 0, 0, 0},
      {"2147483648 1 1\n", 2, false, 0, 0, 0},
      {"\n", 2, false, 0, 0, 0},
      {"\n", 0, false, 0, 0, 0},
      {"-2147483648,x\n", 0, true, INT32_MIN, 0, 0},
  };
  for (const Case& c : cases) {
    std::int32_t label = 0;
    float components[pcgrid::MAX_DIM] = {};
    EXPECT_EQ(pcgrid::parse_pc_line(c.line, c.dim, label, components), c.ok) << c.line;
    if (!c.ok) continue;
    EXPECT_EQ(label, c.label) << c.line;
    EXPECT_EQ(components[0], c.c0) << c.line;
    EXPECT_EQ(components[1], c.c1) << c.line;
  }
}

TEST(GridSize, TellingValues) {
  const std::pair<std::int32_t, int> cases[] = {
      {1, 5},     {157, 5},    {158, 6},     {362, 6},       {363, 7},       {742, 8},
      {2419, 10}, {88110, 20}, {969177, 32}, {10263770, 50}, {10263771, 51}, {25000000, 51},
  };
  for (const auto& [n, g] : cases) EXPECT_EQ(pcgrid::compute_grid_size(n), g) << n;
}

// G reaches k at the smallest n of at least ((k - 0.5) / 2)^5.
TEST(GridSize, EveryThreshold) {
  for (int k = 6; k <= 51; ++k) {
    const auto first = static_cast<std::int32_t>(std::ceil(std::pow((k - 0.5) / 2.0, 5.0)));
    EXPECT_EQ(pcgrid::compute_grid_size(first), k) << first;
    EXPECT_EQ(pcgrid::compute_grid_size(first - 1), k == 6 ? 5 : k - 1) << first - 1;
  }
}

TEST(LetterCode, AllLetters) {
  std::string letters;
  for (int bin = 0; bin <= pcgrid::MAX_GRID_INTERVALS; ++bin) letters += pcgrid::letter_for_bin(bin);
  EXPECT_EQ(letters, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
}

TEST(LetterCode, Bins) {
  struct Case {
    float x, lo, hi;
    int g, bin;
  };
  const Case cases[] = {
      {0.0f, 0.0f, 1.0f, 5, 0},
      {0.5f, 0.0f, 1.0f, 5, 2},
      {1.0f, 0.0f, 1.0f, 5, 5},
      {1.0f, 0.0f, 1.0f, 51, 51},
      {0.999f, 0.0f, 1.0f, 51, 50},
      {41.0f, 0.0f, 41.0f, 5, 5},
      {3.0f, 3.0f, 3.0f, 5, 0},
      {0.3f, 0.1f, 0.7f, 5, 1},
      // A range beyond single precision: the bottom stays 0, the top is g.
      {-3e38f, -3e38f, 3e38f, 5, 0},
      {0.0f, -3e38f, 3e38f, 5, 0},
      {3e38f, -3e38f, 3e38f, 5, 5},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(pcgrid::bin_for(c.x, c.lo, c.hi, c.g), c.bin)
        << c.x << " in " << c.lo << ".." << c.hi;
  }
}

}  // namespace

namespace {

// The eight-character reads of the fast float path against the character
// tests they stand for: every byte value at every place of a chunk, after
// white space or digits and before anything.
TEST(ShortDecimal, EightCharacterClassesEqualCharacterTests) {
  namespace detail = pcgrid::short_decimal_detail;
  const auto is_space = [](unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
  const auto is_digit = [](unsigned char c) { return c >= '0' && c <= '9'; };
  for (int place = 0; place < 8; ++place) {
    for (int byte = 0; byte < 256; ++byte) {
      for (const char before : {' ', '\t', '\r', '7', '0', '9'}) {
        char text[8];
        for (int i = 0; i < 8; ++i) text[i] = i < place ? before : static_cast<char>(byte * 7 + i);
        text[place] = static_cast<char>(byte);
        int spaces = 0, digits = 0;
        while (spaces < 8 && is_space(static_cast<unsigned char>(text[spaces]))) ++spaces;
        while (digits < 8 && is_digit(static_cast<unsigned char>(text[digits]))) ++digits;
        const std::uint64_t chunk = detail::load8(text);
        ASSERT_EQ(detail::leading_spaces(chunk), spaces) << byte << " at " << place;
        ASSERT_EQ(detail::leading_digits(chunk), digits) << byte << " at " << place;
        if (digits > 0) {
          std::uint64_t value = 0;
          for (int i = 0; i < digits; ++i) value = value * 10 + (text[i] - '0');
          ASSERT_EQ(detail::digits_value(chunk, digits), value) << byte << " at " << place;
        }
      }
    }
  }
}

}  // namespace
