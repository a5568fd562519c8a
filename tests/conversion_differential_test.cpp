// The fast conversions against the C library's, on generated text: every
// field's success, value (to the bit), and consumed length must agree.
// PCGRID_DIFFERENTIAL_COUNT sets how many fields (default 1,000,000) and
// PCGRID_DIFFERENTIAL_SEED the seed, for longer runs.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "decimal_token.hpp"
#include "line_reader.hpp"
#include "number_format.hpp"
#include "number_scan.hpp"
#include "run_program.hpp"
#include "short_decimal.hpp"

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

// Short decimals, the fast path's domain and its edges: every count of
// digits from 1 to 17, the point anywhere, every exponent from -50 to 50,
// and the points half-way between two floats written exactly (those with
// few digits are large floats' midpoints, such as 8388608.5) or within a
// unit of their last digit.
class DecimalMaker {
 public:
  explicit DecimalMaker(unsigned seed) : random_(seed) {}

  // A decimal, then what may follow it on a line: nothing, or enough for
  // the fast path's eight-character reads.
  std::string decimal_in_line() {
    static const char* const tails[] = {
        "",  " ",  "\n", "   -0.125000 2.5\n",    "0123456789abcdef",
        "e", "E5", "x",  ".5 1.25 2.125 3.0625\n"};
    return decimal() + tails[below(std::size(tails))];
  }

  std::string decimal() {
    std::string s = below(4) == 0 ? (below(2) == 0 ? "-" : "+") : "";
    if (below(4) == 0) return s + midpoint();
    if (below(3) == 0) return s + fixed();
    const long count = 1 + below(17);
    std::string digits;
    for (long i = 0; i < count; ++i) digits += static_cast<char>('0' + below(10));
    const long point = below(count + 2) - 1;  // -1: no point
    if (point >= 0) digits.insert(static_cast<std::size_t>(point), ".");
    s += digits;
    if (below(2) == 0) {
      s += below(2) == 0 ? "e" : "E";
      const long exponent = below(101) - 50;
      s += (exponent < 0 ? "-" : below(2) == 0 ? "+" : "") + std::to_string(std::labs(exponent));
    }
    return s;
  }

  long below(long n) { return static_cast<long>(random_() % static_cast<std::uint64_t>(n)); }

 private:
  // The usual form of tables, d.dddddd, with 0 to 9 digits on either side.
  std::string fixed() {
    std::string s;
    for (long i = below(10); i > 0; --i) s += static_cast<char>('0' + below(10));
    s += '.';
    for (long i = below(10); i > 0; --i) s += static_cast<char>('0' + below(10));
    return s;
  }

  // A midpoint of two floats of 2^-30 to 2^50: rounded to a few digits, or
  // exact or moved by a unit of its last digit, sometimes scaled into an
  // exponent.
  std::string midpoint() {
    const float f = std::ldexp(1.0f + static_cast<float>(below(1 << 23)) / (1 << 23),
                               static_cast<int>(below(81) - 30));
    const double m = (static_cast<double>(f) + std::nextafter(f, INFINITY)) / 2;
    char text[64];
    if (below(2) == 0) {
      // Rounded to 15 or fewer digits: often within a unit of the last bit
      // of a double from the midpoint, where double rounding would go wrong.
      std::snprintf(text, sizeof text, "%.*e", static_cast<int>(10 + below(5)), m);
      return text;
    }
    std::snprintf(text, sizeof text, "%.30f", m);
    std::string s = text;
    s.erase(s.find_last_not_of('0') + 1);
    if (s.back() == '.') s.pop_back();
    const long move = below(3) - 1;
    if (move != 0) {
      char& last = s.back();
      if (move > 0 && last < '9') ++last;
      if (move < 0 && last > '0') --last;
    }
    if (below(3) == 0) {
      const std::size_t point = s.find('.');
      const long shift = point == std::string::npos ? 0 : static_cast<long>(s.size() - point - 1);
      if (point != std::string::npos) s.erase(point, 1);
      s += "e-" + std::to_string(shift);
    }
    return s;
  }

  std::mt19937_64 random_;
};

// A token followed by white space and by bytes that could continue a
// number, which the conversion from positions must not read as its own.
std::string padded(const std::string& token) {
  return token + " 1234567890123456";
}

// Whether "%f%n" reads the token whole as the value token_float gave.
bool same_token(const std::string& token, float value) {
  const pcgrid::FloatScan libc = pcgrid::libc_scan_float((token + " 5").c_str());
  return libc.ok && libc.used == static_cast<int>(token.size()) && same_bits(value, libc.value);
}

// Every token of up to six characters of digits, points, signs and
// characters that continue a number: what token_float and token_int take
// must be what "%f%n" and "%d%n" read whole.
TEST(ConversionDifferential, ShortTokensEqualTheCLibrary) {
  constexpr char alphabet[] = "0159.+-eEx";
  constexpr std::size_t letters = sizeof alphabet - 1;
  long floats = 0, ints = 0, mismatches = 0;
  for (std::size_t length = 1; length <= 6; ++length) {
    std::size_t count = 1;
    for (std::size_t i = 0; i < length; ++i) count *= letters;
    std::string token(length, '0');
    for (std::size_t code = 0; code < count && mismatches < 20; ++code) {
      for (std::size_t i = 0, rest = code; i < length; ++i, rest /= letters) {
        token[i] = alphabet[rest % letters];
      }
      const std::string text = padded(token);
      float value = 0;
      if (pcgrid::token_float(text.data(), length, value)) {
        ++floats;
        if (!same_token(token, value)) ADD_FAILURE() << "float [" << token << ']', ++mismatches;
      }
      std::int32_t label = 0;
      if (pcgrid::token_int(text.data(), length, label)) {
        ++ints;
        const pcgrid::IntScan libc = pcgrid::libc_scan_int((token + " 5").c_str());
        if (libc.status != pcgrid::ScanStatus::ok || libc.used != static_cast<int>(length) ||
            libc.value != label) {
          ADD_FAILURE() << "int [" << token << ']', ++mismatches;
        }
      }
    }
  }
  // [+-]digits[.digits]: of m characters without the sign, 4^m without a
  // point and (m - 2) 4^(m - 1) with one, 10,468 of up to six; with a sign,
  // twice the 2,276 of up to five. [+-]digits: 5,460 and twice 1,364.
  EXPECT_EQ(floats, 15'020);
  EXPECT_EQ(ints, 8'188);
}

// Labels around the ends of 32 bits, with and without signs and leading
// zeros: token_int takes what "%d%n" stores and refuses the rest.
TEST(ConversionDifferential, LabelTokensAtTheEndsOfThirtyTwoBits) {
  for (const std::string token :
       {"2147483647", "+2147483647", "-2147483648", "2147483648", "-2147483649", "4294967296",
        "9999999999", "-9999999999", "0000000007", "-000000000", "12345678901", "0", "-0", "+"}) {
    std::int32_t label = 0;
    const bool taken = pcgrid::token_int(padded(token).data(), token.size(), label);
    const pcgrid::IntScan libc = pcgrid::libc_scan_int((token + " 5").c_str());
    const bool storable =
        libc.status == pcgrid::ScanStatus::ok && libc.used == static_cast<int>(token.size());
    if (taken) {
      EXPECT_TRUE(storable) << token;
      EXPECT_EQ(label, libc.value) << token;
    }
    EXPECT_EQ(taken, storable && token.size() - (token[0] == '-' || token[0] == '+') <= 10)
        << token;
  }
}

TEST(ConversionDifferential, ShortDecimalsEqualTheCLibrary) {
  DecimalMaker maker(SEED + 4);
  long mismatches = 0;
  long fast_path = 0;
  long token_path = 0;
  for (long i = 0; i < COUNT && mismatches < 20; ++i) {
    const std::string text = maker.decimal_in_line();
    float value = 0;
    const char* stop = nullptr;
    const bool taken = pcgrid::short_decimal(text.data(), text.data() + text.size(), value, stop);
    fast_path += taken;
    const pcgrid::FloatScan fast = pcgrid::fast_scan_float(text);
    const pcgrid::FloatScan libc = pcgrid::libc_scan_float(text.c_str());
    // The decimal alone as a token, as the structural scan delimits it.
    const std::string token = text.substr(0, text.find_first_of(" \n"));
    float token_value = 0;
    const bool token_taken = pcgrid::token_float(padded(token).data(), token.size(), token_value);
    token_path += token_taken;
    const bool same =
        fast.ok == libc.ok &&
        (!fast.ok || (fast.used == libc.used && same_bits(fast.value, libc.value))) &&
        (!taken || (stop - text.data() == libc.used && same_bits(value, libc.value))) &&
        (!token_taken || same_token(token, token_value));
    if (!same) {
      ++mismatches;
      ADD_FAILURE() << '[' << text << "] fast path " << taken << ' ' << value << " fast " << fast.ok
                    << ' ' << fast.value << ' ' << fast.used << " libc " << libc.ok << ' '
                    << libc.value << ' ' << libc.used;
    }
  }
  EXPECT_GT(fast_path, COUNT / 3) << "the fast path is exercised";
  EXPECT_GT(token_path, COUNT / 8) << "the conversion from positions is exercised";
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

// "%10.7f" and "%8.7e" of floats, the member report's format and that of
// gridmap's counts, against printf: a random sample of float bit patterns,
// or, with PCGRID_FLOAT_BITS=FROM:TO (as tests/every_value.sh float sets it),
// every pattern from FROM up to TO.
TEST(ConversionDifferential, FormatsOfFloatsEqualPrintf) {
  std::uint64_t from = 0, to = 0;
  const char* range = std::getenv("PCGRID_FLOAT_BITS");
  const bool every = range != nullptr && std::sscanf(range, "%lu:%lu", &from, &to) == 2;
  std::mt19937_64 random(SEED + 5);
  const std::uint64_t count = every ? to - from : static_cast<std::uint64_t>(COUNT);
  long mismatches = 0;
  char fast[pcgrid::FORMAT_ROOM];
  char libc[pcgrid::FORMAT_ROOM];
  for (std::uint64_t i = 0; i < count && mismatches < 20; ++i) {
    const auto bits = static_cast<std::uint32_t>(every ? from + i : random());
    float f = 0;
    std::memcpy(&f, &bits, sizeof f);
    const double value = f;
    const std::string a(fast, pcgrid::fast_format_scientific7(fast, value, 8));
    const std::string b(libc, pcgrid::libc_format_scientific7(libc, value, 8));
    if (a != b) ++mismatches, ADD_FAILURE() << "bits " << bits << ": " << a << " vs " << b;
    if (!std::isfinite(f)) continue;
    const std::string c(fast, pcgrid::fast_format_fixed7(fast, value, 10));
    const std::string d(libc, pcgrid::libc_format_fixed7(libc, value, 10));
    if (c != d) ++mismatches, ADD_FAILURE() << "bits " << bits << ": " << c << " vs " << d;
  }
}

// "%10d" and "%4d", the member report's integers, against printf: every
// int32 of magnitude below 10^6 and 10^6 random ones, or, with
// PCGRID_INT_BITS=FROM:TO (as tests/every_value.sh int sets it), every bit
// pattern from FROM up to TO.
TEST(ConversionDifferential, IntFormatsEqualPrintf) {
  std::uint64_t from = 0, to = 0;
  const char* range = std::getenv("PCGRID_INT_BITS");
  const bool every = range != nullptr && std::sscanf(range, "%lu:%lu", &from, &to) == 2;
  constexpr std::uint64_t NEAR = 1'000'000;
  std::mt19937_64 random(SEED + 7);
  const std::uint64_t count = every ? to - from : 4 * NEAR;
  long mismatches = 0;
  char fast[pcgrid::FORMAT_ROOM];
  char libc[pcgrid::FORMAT_ROOM];
  for (std::uint64_t i = 0; i < count && mismatches < 20; ++i) {
    const auto bits = static_cast<std::uint32_t>(every         ? from + i
                                                 : i < 2 * NEAR ? i - NEAR
                                                                : random() >> (random() % 32));
    const auto value = static_cast<std::int32_t>(bits);
    for (const int width : {4, 10}) {
      const std::string_view a(fast, pcgrid::fast_format_int(fast, value, width));
      const std::string_view b(libc, pcgrid::libc_format_int(libc, value, width));
      if (a != b) ++mismatches, ADD_FAILURE() << value << " in " << width << ": " << a << " vs " << b;
    }
  }
}

// Every width from 0 to 16 for the values at the ends of each length of
// text, where the fast formats change the way they write.
TEST(ConversionDifferential, FormatsAtEveryWidthEqualPrintf) {
  std::vector<std::int32_t> integers = {INT32_MIN, INT32_MIN + 1, INT32_MAX, 0};
  for (std::int32_t power = 1; power <= 1'000'000'000 / 10; power *= 10) {
    for (const std::int32_t v : {power * 10 - 1, power * 10, power * 10 + 1}) {
      integers.insert(integers.end(), {v, -v});
    }
  }
  std::vector<float> values = {0.0f, -0.0f, 0.5f, -0.5f, 0x1p-25f, -0x1p-26f, 0x1.fffffep-26f,
                               2147483520.0f, -2147483520.0f, 2147483648.0f};
  for (const std::int32_t v : integers) {
    const auto single = static_cast<float>(v);
    values.insert(values.end(), {single + 0.25f, std::nextafter(single, 0.0f)});
  }
  char fast[pcgrid::FORMAT_ROOM];
  char libc[pcgrid::FORMAT_ROOM];
  for (int width = 0; width <= 16; ++width) {
    for (const std::int32_t v : integers) {
      EXPECT_EQ(std::string(fast, pcgrid::fast_format_int(fast, v, width)),
                std::string(libc, pcgrid::libc_format_int(libc, v, width)));
    }
    for (const float v : values) {
      const auto single = static_cast<double>(v);
      EXPECT_EQ(std::string(fast, pcgrid::fast_format_fixed7(fast, single, width)),
                std::string(libc, pcgrid::libc_format_fixed7(libc, single, width)));
    }
  }
}

// The doubles gridmap writes in "%8.7e": counts, means of coordinates and
// weights, their logarithms; and the hard cases of eight digits: ties
// written exactly, neighbours of powers of ten and of the points half-way
// between two printed values, the ends of two-digit exponents.
double grid_value(FieldMaker& maker) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::mt19937_64 random(maker.bits());
  const double sign = maker.below(2) == 0 ? 1.0 : -1.0;
  switch (maker.below(7)) {
    case 0:
      return static_cast<float>(maker.bits() >> maker.below(64));
    case 1: {
      const long count = 1 + maker.below(1000);
      return sign * static_cast<double>(maker.below(1 << 30)) * 1e-6 / static_cast<double>(count);
    }
    case 2:
      return std::log(static_cast<double>(1 + (maker.bits() >> maker.below(64))) * unit(random));
    case 3: {
      // (2N + 1) 5^s / 2^(s + 1): N + 1/2 at eight digits, s = 1..11.
      const int s = 1 + static_cast<int>(maker.below(11));
      const double five = std::pow(5.0, s);
      const auto odd = static_cast<double>(2 * maker.below(static_cast<long>(1e8 / five) + 1) + 1);
      return sign * std::ldexp(odd * five, -(s + 1));
    }
    case 4: {
      // Near d.ddddddd5 × 10^k or 10^k, a few units of the last bit away.
      char text[64];
      std::snprintf(text, sizeof text, "%ld.%07ld5e%ld", 1 + maker.below(9),
                    maker.below(10'000'000), maker.below(211) - 105);
      double v = maker.below(3) == 0 ? std::pow(10.0, static_cast<double>(maker.below(211) - 105))
                                     : std::strtod(text, nullptr);
      for (long steps = maker.below(5) - 2; steps != 0; steps += steps < 0 ? 1 : -1) {
        v = std::nextafter(v, steps < 0 ? 0.0 : INFINITY);
      }
      return sign * v;
    }
    case 5:
      return sign * std::ldexp(1.0 + unit(random), static_cast<int>(maker.below(761) - 380));
    default: {
      const std::uint64_t bits = maker.bits();
      double d = 0;
      std::memcpy(&d, &bits, sizeof d);
      return d;
    }
  }
}

TEST(ConversionDifferential, ScientificFormatsOfGridValuesEqualPrintf) {
  FieldMaker maker(SEED + 6);
  long mismatches = 0;
  char fast[pcgrid::FORMAT_ROOM];
  char libc[pcgrid::FORMAT_ROOM];
  for (long i = 0; i < COUNT && mismatches < 20; ++i) {
    const double value = grid_value(maker);
    const int width = maker.below(8) == 0 ? 16 : 8;
    const std::string a(fast, pcgrid::fast_format_scientific7(fast, value, width));
    const std::string b(libc, pcgrid::libc_format_scientific7(libc, value, width));
    if (a != b) ++mismatches, ADD_FAILURE() << value << ": " << a << " vs " << b;
  }
}

// The block reader's pieces, one at a time and in batches, against fgets on
// the same file: lines around both piece sizes, NUL bytes, a last line
// without a newline, over more than two blocks.
TEST(ConversionDifferential, LinePiecesEqualFgets) {
  FieldMaker maker(SEED + 3);
  pcgrid::testing::TempDir dir;
  static pcgrid::LineReader reader;
  static pcgrid::LineReader batch_reader;
  static char line[pcgrid::MAX_PIECE + 2];
  static std::string_view batch[1000];
  for (const std::size_t max : {std::size_t{999}, pcgrid::MAX_PIECE}) {
    for (int round = 0; round < 4; ++round) {
      std::string text;
      while (text.size() < 2 * pcgrid::READ_BLOCK + max) {
        const long kind = maker.below(6);
        const std::size_t length = kind == 0   ? max - 2 + maker.below(4)
                                   : kind == 1 ? maker.below(3)
                                               : maker.below(static_cast<long>(max / 8));
        const std::size_t start = text.size();
        text.append(length, 'a');
        for (std::size_t c = start; c < text.size(); c += 1 + maker.below(100)) text[c] = '\0';
        text += '\n';
      }
      if (round % 2 == 1) text.pop_back();
      dir.write("text", text);
      std::FILE* fast = std::fopen(dir.file("text").c_str(), "r");
      std::FILE* batches = std::fopen(dir.file("text").c_str(), "r");
      std::FILE* libc = std::fopen(dir.file("text").c_str(), "r");
      pcgrid::start_reading(reader, fast, max);
      pcgrid::start_reading(batch_reader, batches, max);
      std::string_view piece;
      std::size_t in_batch = 0, next_in_batch = 0;
      long pieces = 0;
      while (std::fgets(line, static_cast<int>(max + 1), libc) != nullptr) {
        ASSERT_TRUE(pcgrid::read_piece(reader, piece)) << "piece " << pieces;
        ASSERT_EQ(piece, std::string_view(line)) << "piece " << pieces;
        if (next_in_batch == in_batch) {
          const auto size = static_cast<std::size_t>(1 + maker.below(1000));
          in_batch = pcgrid::read_pieces(batch_reader, {batch, size});
          next_in_batch = 0;
          ASSERT_GT(in_batch, 0u) << "piece " << pieces;
        }
        ASSERT_EQ(batch[next_in_batch++], std::string_view(line)) << "batched piece " << pieces;
        ++pieces;
      }
      EXPECT_FALSE(pcgrid::read_piece(reader, piece));
      EXPECT_EQ(next_in_batch, in_batch);
      EXPECT_EQ(pcgrid::read_pieces(batch_reader, batch), 0u);
      std::fclose(fast);
      std::fclose(batches);
      std::fclose(libc);
    }
  }
}

}  // namespace
