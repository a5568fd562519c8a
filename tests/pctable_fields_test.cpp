// pctable's 16-byte field splitting and short-number checks against the
// byte-by-byte forms they stand for: on every short text over the bytes
// that matter, on every byte value at every place of a number, and on
// random longer lines, each followed by padding that would fool a check
// that read past its end.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "blank.hpp"
#include "fields.hpp"
#include "line_cursor.hpp"
#include "number_text.hpp"
#include "options.hpp"

namespace {

using namespace pctable;

// `text` in a buffer padded as a cursor's, the padding filled with `fill`.
class Padded {
 public:
  Padded(std::string_view text, char fill)
      : bytes_(std::string(text) + std::string(CURSOR_PADDING, fill)), size_(text.size()) {}
  std::string_view view() const { return {bytes_.data(), size_}; }

 private:
  std::string bytes_;
  std::size_t size_;
};

constexpr char FILLS[] = {'5', '.', ' ', ',', '"', '\0'};

// The splitting as it was done a byte at a time.
int reference_split_blank(std::string_view line, std::vector<std::string_view>& fields, int max) {
  fields.clear();
  std::size_t at = 0;
  for (;;) {
    while (at < line.size() && pcgrid::is_blank(line[at])) ++at;
    if (at == line.size()) return static_cast<int>(fields.size());
    const std::size_t start = at;
    while (at < line.size() && !pcgrid::is_blank(line[at])) ++at;
    if (static_cast<int>(fields.size()) == max) return max + 1;
    fields.push_back(line.substr(start, at - start));
  }
}

std::size_t reference_closing_quote(std::string_view line, std::size_t from) {
  for (std::size_t at = from + 1; at < line.size(); ++at) {
    if (line[at] != '"') continue;
    if (at + 1 < line.size() && line[at + 1] == '"') {
      ++at;
      continue;
    }
    return at;
  }
  return line.size();
}

int reference_split_on(std::string_view line, char separator,
                       std::vector<std::string_view>& fields, int max) {
  fields.clear();
  const bool quotes = line.find('"') != std::string_view::npos;
  std::size_t from = 0;
  for (;;) {
    std::size_t at = std::string_view::npos;
    for (std::size_t i = from; i < line.size(); ++i) {
      if (line[i] == separator) {
        at = i;
        break;
      }
      if (quotes && line[i] == '"') i = reference_closing_quote(line, i);
    }
    if (static_cast<int>(fields.size()) == max) return max + 1;
    std::string_view field = pcgrid::trim_blanks(line.substr(from, at - from));
    if (quotes && field.size() >= 2 && field.front() == '"' &&
        reference_closing_quote(field, 0) == field.size() - 1) {
      field = field.substr(1, field.size() - 2);
    }
    fields.push_back(field);
    if (at == std::string_view::npos) return static_cast<int>(fields.size());
    from = at + 1;
  }
}

// Fields found the same (as places in the line, not only as texts).
void expect_same_split(std::string_view line) {
  std::string_view got[MAX_FIELDS + 1];
  std::vector<std::string_view> want;
  for (const int max : {2, MAX_FIELDS}) {
    const int count = split_blank(line, got, max);
    ASSERT_EQ(count, reference_split_blank(line, want, max)) << '"' << line << "\" blanks";
    for (int f = 0; f < std::min(count, max); ++f) {
      ASSERT_TRUE(got[f].data() == want[f].data() && got[f].size() == want[f].size())
          << '"' << line << "\" blanks, field " << f;
    }
    for (const char separator : {',', ';', '\t'}) {
      const int on = split_on(line, separator, got, max);
      ASSERT_EQ(on, reference_split_on(line, separator, want, max))
          << '"' << line << "\" on " << int{separator};
      for (int f = 0; f < std::min(on, max); ++f) {
        ASSERT_TRUE(got[f].data() == want[f].data() && got[f].size() == want[f].size())
            << '"' << line << "\" on " << int{separator} << ", field " << f;
      }
    }
  }
}

void expect_same_checks(std::string_view text) {
  const bool no_exponent = text.find_first_of("eE") == std::string_view::npos;
  const bool decimal = text.size() >= 1 && text.size() <= 16 && no_exponent &&
                       check_number(text) == NumberText::ok;
  const bool label = text.size() <= 9 && is_int32_text(text);
  for (const char fill : FILLS) {
    const Padded padded(text, fill);
    ASSERT_EQ(is_short_plain_decimal(padded.view()), decimal) << '"' << text << '"';
    ASSERT_EQ(is_short_int32_text(padded.view()), label) << '"' << text << '"';
  }
}

// Every text of up to `length` characters over `alphabet`.
template <typename Check>
void every_text(std::string_view alphabet, std::size_t length, Check check) {
  std::string text;
  std::vector<std::size_t> digit;
  for (;;) {
    check(text);
    std::size_t i = 0;
    while (i < digit.size() && digit[i] + 1 == alphabet.size()) {
      digit[i] = 0;
      text[i] = alphabet[0];
      ++i;
    }
    if (i == digit.size()) {
      if (digit.size() == length) return;
      digit.push_back(0);
      text.push_back(alphabet[0]);
    } else {
      text[i] = alphabet[++digit[i]];
    }
  }
}

TEST(PctableFields, ShortNumberChecksAgreeOnEveryShortText) {
  every_text("05.+-e /:a", 6, [](const std::string& text) { expect_same_checks(text); });
}

TEST(PctableFields, ShortNumberChecksAgreeOnEveryByteAtEveryPlace) {
  const std::string number = "-1234567.89012345678";
  for (std::size_t length = 1; length <= number.size(); ++length) {
    for (std::size_t at = 0; at < length; ++at) {
      for (int byte = 0; byte < 256; ++byte) {
        std::string text = number.substr(0, length);
        text[at] = static_cast<char>(byte);
        expect_same_checks(text);
        text.erase(0, 1);  // no sign
        if (!text.empty()) expect_same_checks(text);
      }
    }
  }
}

TEST(PctableFields, SplittingAgreesOnEveryShortLine) {
  every_text(" \t,;\"1", 6, [](const std::string& line) {
    for (const char fill : FILLS) expect_same_split(Padded(line, fill).view());
  });
}

TEST(PctableFields, SplittingAgreesOnRandomLongerLines) {
  std::mt19937 random(20261209);
  constexpr std::string_view BYTES = "  \t\t,;\"0123456789.-";
  for (int n = 0; n < 200'000; ++n) {
    std::string line(random() % 200, ' ');
    for (char& c : line) c = BYTES[random() % BYTES.size()];
    expect_same_split(Padded(line, FILLS[n % sizeof FILLS]).view());
  }
}

}  // namespace
