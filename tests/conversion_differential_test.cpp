// The fast conversions against the C library's, on generated text: every
// field's success, value (to the bit), and consumed length must agree.
// PCGRID_DIFFERENTIAL_COUNT sets how many fields (default 1,000,000) and
// PCGRID_DIFFERENTIAL_SEED the seed, for longer runs.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "line_reader.hpp"
#include "number_format.hpp"
#include "number_scan.hpp"
#include "run_program.hpp"

namespace {

long setting(const char* name, long fallback) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::atol(value) : fallback;
}

const long COUNT = setting("PCGRID_DIFFERENTIAL_COUNT", 1'000'000);
const unsigned SEED = static_cast<unsigned>(setting("PCGRID_DIFFERENTIAL_SEED", 20261208));

class FieldMaker {
 public:
  explicit FieldMaker(unsigned seed) : random_(seed) {}

  std::string field() {
    std::string s = pick({"", "", "", " ", "  ", "\t", "\n", " \v\f\r"});
    s += pick({"", "", "", "-", "+", "+-", "--", "-+"});
    switch (below(12)) {
      case 0:
        s += digits(1 + below(3));
        break;
      case 1:
        s += digits(1 + below(8)) + "." + digits(below(9));
        break;
      case 2:
        s += "." + digits(1 + below(8));
        break;
      case 3:
        s += digits(1 + below(4)) + ".";
        break;
      case 4:
        s += digits(20 + below(60)) + "." + digits(below(40));
        break;
      case 5:
        s += "0." + std::string(below(50), '0') + digits(1 + below(10));
        break;
      case 6:
        s += "0" + pick({"x", "X"}) + hex(below(8)) + pick({"", ".", "." + hex(below(6))});
        break;
      case 7:
        s += pick({"inf", "INF", "Infinity", "infinit", "infx", "in", "nan", "NaN", "nan(12)",
                   "nan(", "na", "i", "n"});
        break;
      case 8:
        s += pick({".", "", "e5", "x", ",1", "-", "E"});
        break;
      case 9:
        s += digits(1 + below(2)) + "." + digits(1 + below(7));
        break;
      default:
        s += digits(1 + below(6)) + "." + digits(6);
        break;
    }
    if (below(3) == 0) {
      s += pick({"e", "E"});
      s += pick({"", "", "+", "-", "x"});
      s += pick({"", digits(1), digits(2), "38", "39", "45", "46", "50", "400", "0000000038"});
    } else if (below(8) == 0) {
      s += "p" + pick({"", "+", "-"}) + digits(below(3));
    }
    s += pick({"", "", "", " ", "x", ",", "e", ".", "1", "\n", " 2.5", "-3", "e+", "(1)"});
    return s;
  }

  std::uint64_t bits() { return random_(); }
  long below(long n) { return static_cast<long>(random_() % static_cast<std::uint64_t>(n)); }

 private:
  std::string pick(std::initializer_list<std::string> choices) {
    return *(choices.begin() + below(static_cast<long>(choices.size())));
  }
  std::string digits(long n) {
    std::string s;
    for (long i = 0; i < n; ++i) s += static_cast<char>('0' + below(10));
    return s;
  }
  std::string hex(long n) {
    std::string s;
    for (long i = 0; i < n; ++i) s += "0123456789abcdefABCDEF"[below(22)];
    return s;
  }
  std::mt19937_64 random_;
};

bool same_bits(float a, float b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(ConversionDifferential, FloatFieldsEqualTheCLibrary) {
  FieldMaker maker(SEED);
  long mismatches = 0;
  for (long i = 0; i < COUNT && mismatches < 20; ++i) {
    const std::string text = maker.field();
    const pcgrid::FloatScan fast = pcgrid::fast_scan_float(text);
    const pcgrid::FloatScan libc = pcgrid::libc_scan_float(text.c_str());
    const bool same = fast.ok == libc.ok && pcgrid::fast_float_follows(text) == libc.ok &&
                      (!fast.ok || (fast.used == libc.used && same_bits(fast.value, libc.value)));
    if (!same) {
      ++mismatches;
      ADD_FAILURE() << '[' << text << "] fast " << fast.ok << ' ' << fast.value << ' ' << fast.used
                    << " libc " << libc.ok << ' ' << libc.value << ' ' << libc.used;
    }
  }
}

// What follows the last number of a line: every string of up to four
// white-space characters and NULs, then nothing or the start of a field.
TEST(ConversionDifferential, RestsOfWhiteSpaceEqualTheCLibrary) {
  constexpr char blanks[] = {' ', '\t', '\n', '\v', '\f', '\r', '\0'};
  const char* const tails[] = {"", "5", "-1", "+.5", "x", "0x", "inf", ".", "-"};
  std::vector<std::string> starts = {""};
  for (std::size_t begin = 0, length = 0; length < 4; ++length) {
    const std::size_t end = starts.size();
    for (std::size_t i = begin; i < end; ++i) {
      for (const char c : blanks) starts.push_back(starts[i] + c);
    }
    begin = end;
  }
  for (const std::string& start : starts) {
    for (const char* tail : tails) {
      const std::string text = start + tail;
      EXPECT_EQ(pcgrid::fast_float_follows(text), pcgrid::libc_scan_float(text.c_str()).ok)
          << '[' << text << "] of " << text.size();
    }
  }
}

TEST(ConversionDifferential, IntFieldsEqualTheCLibrary) {
  FieldMaker maker(SEED + 1);
  long mismatches = 0;
  for (long i = 0; i < COUNT / 4 && mismatches < 20; ++i) {
    std::string text = maker.field();
    if (maker.below(4) == 0)
      text = std::to_string(static_cast<std::int64_t>(maker.bits()) >> maker.below(64));
    const pcgrid::IntScan fast = pcgrid::fast_scan_int(text);
    const pcgrid::IntScan libc = pcgrid::libc_scan_int(text.c_str());
    if (fast.status != libc.status || fast.value != libc.value ||
        (fast.status == pcgrid::ScanStatus::ok && fast.used != libc.used)) {
      ++mismatches;
      ADD_FAILURE() << '[' << text << "] fast " << static_cast<int>(fast.status) << ' '
                    << fast.value << ' ' << fast.used << " libc " << static_cast<int>(libc.status)
                    << ' ' << libc.value << ' ' << libc.used;
    }
  }
}

// Values from every part of the range: random bit patterns, halves of the
// last printed digit (ties), and small integers and their fractions.
double value_for(FieldMaker& maker, bool single) {
  switch (maker.below(4)) {
    case 0: {
      if (single) {
        const auto bits = static_cast<std::uint32_t>(maker.bits());
        float f = 0;
        std::memcpy(&f, &bits, sizeof f);
        return f;
      }
      const std::uint64_t bits = maker.bits();
      double d = 0;
      std::memcpy(&d, &bits, sizeof d);
      return d;
    }
    case 1:
      return std::ldexp(static_cast<double>(maker.below(1 << 20)),
                        -static_cast<int>(maker.below(40)));
    case 2:
      return static_cast<double>(maker.below(2000001) - 1000000) / 1000.0;
    default:
      return static_cast<float>((static_cast<double>(maker.below(1 << 24)) - (1 << 23)) * 1e-6);
  }
}

TEST(ConversionDifferential, FormatsEqualPrintf) {
  FieldMaker maker(SEED + 2);
  long mismatches = 0;
  char fast[pcgrid::FORMAT_ROOM];
  char libc[pcgrid::FORMAT_ROOM];
  const auto expect_same = [&](const char* what, double value, char* fast_end, char* libc_end) {
    const std::string a(fast, fast_end), b(libc, libc_end);
    if (a != b && mismatches++ < 20)
      ADD_FAILURE() << what << ' ' << value << ": " << a << " vs " << b;
  };
  for (long i = 0; i < COUNT / 2 && mismatches < 20; ++i) {
    const double single = value_for(maker, true);
    if (std::isfinite(single)) {
      expect_same("fixed", single, pcgrid::fast_format_fixed7(fast, single, 10),
                  pcgrid::libc_format_fixed7(libc, single, 10));
    }
    const double wide = value_for(maker, false);
    expect_same("scientific", wide, pcgrid::fast_format_scientific7(fast, wide, 8),
                pcgrid::libc_format_scientific7(libc, wide, 8));
    const auto integer = static_cast<std::int32_t>(maker.bits() >> maker.below(64));
    const int width = maker.below(2) == 0 ? 4 : 10;
    expect_same("int", integer, pcgrid::fast_format_int(fast, integer, width),
                pcgrid::libc_format_int(libc, integer, width));
  }
}

// The block reader's pieces against fgets on the same file: lines around
// both piece sizes, NUL bytes, a last line without a newline.
TEST(ConversionDifferential, LinePiecesEqualFgets) {
  FieldMaker maker(SEED + 3);
  pcgrid::testing::TempDir dir;
  static pcgrid::LineReader reader;
  static char line[pcgrid::MAX_PIECE + 2];
  for (const std::size_t max : {std::size_t{999}, pcgrid::MAX_PIECE}) {
    for (int round = 0; round < 8; ++round) {
      std::string text;
      while (text.size() < 3 * pcgrid::READ_BLOCK) {
        const long kind = maker.below(6);
        const std::size_t length = kind == 0   ? max - 2 + maker.below(4)
                                   : kind == 1 ? maker.below(3)
                                               : maker.below(static_cast<long>(max / 8));
        for (std::size_t c = 0; c < length; ++c) text += maker.below(50) == 0 ? '\0' : 'a';
        text += '\n';
      }
      if (round % 2 == 1) text.pop_back();
      dir.write("text", text);
      std::FILE* fast = std::fopen(dir.file("text").c_str(), "r");
      std::FILE* libc = std::fopen(dir.file("text").c_str(), "r");
      pcgrid::start_reading(reader, fast, max);
      std::string_view piece;
      long pieces = 0;
      while (std::fgets(line, static_cast<int>(max + 1), libc) != nullptr) {
        ASSERT_TRUE(pcgrid::read_piece(reader, piece)) << "piece " << pieces;
        ASSERT_EQ(piece, std::string_view(line)) << "piece " << pieces;
        ++pieces;
      }
      EXPECT_FALSE(pcgrid::read_piece(reader, piece));
      std::fclose(fast);
      std::fclose(libc);
    }
  }
}

}  // namespace
