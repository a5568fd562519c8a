#include "fields.hpp"

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>

#include "blank.hpp"
#include "failure.hpp"
#include "number_text.hpp"

namespace pctable {

namespace {

using pcgrid::is_blank;

// Eight bytes at a time: a mask with the high bit of each byte that is a
// space or a tab (exact per byte, no carries between bytes).
constexpr std::uint64_t ONES = 0x0101010101010101;
constexpr std::uint64_t HIGH = 0x8080808080808080;
constexpr std::uint64_t LOW7 = 0x7F7F7F7F7F7F7F7F;

constexpr std::uint64_t zero_bytes(std::uint64_t x) {
  return ~(((x & LOW7) + LOW7) | x | LOW7);
}

inline std::uint64_t blank_bytes(const char* p) {
  std::uint64_t word = 0;
  std::memcpy(&word, p, sizeof word);
  return zero_bytes(word ^ (ONES * ' ')) | zero_bytes(word ^ (ONES * '\t'));
}

const char* skip_blanks(const char* p, const char* end) {
  for (; end - p >= 8; p += 8) {
    const std::uint64_t others = ~blank_bytes(p) & HIGH;
    if (others != 0) return p + std::countr_zero(others) / 8;
  }
  while (p < end && is_blank(*p)) ++p;
  return p;
}

const char* find_blank(const char* p, const char* end) {
  for (; end - p >= 8; p += 8) {
    const std::uint64_t blanks = blank_bytes(p);
    if (blanks != 0) return p + std::countr_zero(blanks) / 8;
  }
  while (p < end && !is_blank(*p)) ++p;
  return p;
}

// The end of the quoted text that begins after the quote at `from`: the
// closing quote, or the end of the line when there is none.
std::size_t closing_quote(std::string_view line, std::size_t from) {
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

// The next separator at or after `from`, outside quotes; npos if none.
std::size_t find_separator(std::string_view line, char separator, std::size_t from) {
  for (std::size_t at = from; at < line.size(); ++at) {
    if (line[at] == separator) return at;
    if (line[at] == '"') at = closing_quote(line, at);
  }
  return std::string_view::npos;
}

// A separated field: blanks around it trimmed, quotes around it removed.
std::string_view field_text(std::string_view raw) {
  const std::string_view field = pcgrid::trim_blanks(raw);
  if (field.size() >= 2 && field.front() == '"' && closing_quote(field, 0) == field.size() - 1) {
    return field.substr(1, field.size() - 2);
  }
  return field;
}

}  // namespace

int split_blank(std::string_view line, std::string_view* fields, int max) {
  const char* p = line.data();
  const char* const end = p + line.size();
  int count = 0;
  for (;;) {
    p = skip_blanks(p, end);
    if (p == end) return count;
    const char* start = p;
    p = find_blank(p, end);
    if (count == max) return max + 1;
    fields[count++] = std::string_view(start, static_cast<std::size_t>(p - start));
  }
}

int split_on(std::string_view line, char separator, std::string_view* fields, int max) {
  const bool quotes = line.find('"') != std::string_view::npos;
  int count = 0;
  std::size_t from = 0;
  for (;;) {
    const std::size_t at =
        quotes ? find_separator(line, separator, from) : line.find(separator, from);
    if (!quotes) {
      if (count == max) return max + 1;
      fields[count++] = pcgrid::trim_blanks(line.substr(from, at - from));
      if (at == std::string_view::npos) return count;
      from = at + 1;
      continue;
    }
    if (count == max) return max + 1;
    fields[count++] = field_text(line.substr(from, at - from));
    if (at == std::string_view::npos) return count;
    from = at + 1;
  }
}

bool has_separator(std::string_view line, char separator) {
  return find_separator(line, separator, 0) != std::string_view::npos;
}

void check_number_field(std::string_view file, std::int64_t line, int column,
                        std::string_view field) {
  const NumberText check = check_number(field);
  if (check == NumberText::ok) return;
  const std::string where = " in column " + std::to_string(column) + ", found ";
  switch (check) {
    case NumberText::empty:
      fail_at(file, line, "expected a number" + where + "an empty field");
    case NumberText::not_finite:
      fail_at(file, line, "expected a finite number" + where + quoted(field));
    case NumberText::overflow:
      fail_at(file, line,
              "expected a number within single precision (about 3.4e38)" + where + quoted(field));
    default:
      fail_at(file, line, "expected a number" + where + quoted(field));
  }
}

bool reads_as_number(std::string_view field) {
  const NumberText check = check_number(field);
  return check != NumberText::not_a_number && check != NumberText::empty;
}

bool is_header(const std::string_view* fields, int count) {
  bool numbers = false;
  for (int i = 0; i < count; ++i) numbers |= reads_as_number(fields[i]);
  if (!numbers) return true;
  // pandas' names for an array's columns: an empty index name, then 0, 1, 2, ...
  if (count < 2 || !fields[0].empty()) return false;
  for (int i = 1; i < count; ++i) {
    if (fields[i] != std::to_string(i - 1)) return false;
  }
  return true;
}

void check_field_count(std::string_view file, std::int64_t line, int count, int max) {
  if (count > max) {
    fail_at(file, line, "expected at most " + std::to_string(max) + " fields, found more");
  }
}

int first_visible(std::string_view line) {
  for (const char c : line) {
    if (!is_blank(c)) return static_cast<unsigned char>(c);
  }
  return BLANK_LINE;
}

}  // namespace pctable
