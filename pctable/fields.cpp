#include "fields.hpp"

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>

#include "failure.hpp"
#include "number_text.hpp"

namespace pctable {

namespace {

constexpr bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

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

std::string_view trim(std::string_view field) {
  while (!field.empty() && is_blank(field.front())) field.remove_prefix(1);
  while (!field.empty() && is_blank(field.back())) field.remove_suffix(1);
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
  int count = 0;
  for (;;) {
    const std::size_t at = line.find(separator);
    if (count == max) return max + 1;
    fields[count++] = trim(line.substr(0, at));
    if (at == std::string_view::npos) return count;
    line.remove_prefix(at + 1);
  }
}

void check_fields(std::string_view file, std::int64_t line, const std::string_view* fields,
                  int count) {
  for (int i = 0; i < count; ++i) {
    const NumberText check = check_number(fields[i]);
    if (check == NumberText::ok) continue;
    const std::string column = " in column " + std::to_string(i + 1) + ", found ";
    switch (check) {
      case NumberText::empty:
        fail_at(file, line, "expected a number" + column + "an empty field");
      case NumberText::not_finite:
        fail_at(file, line, "expected a finite number" + column + quoted(fields[i]));
      case NumberText::overflow:
        fail_at(file, line,
                "expected a number within single precision (about 3.4e38)" + column +
                    quoted(fields[i]));
      default:
        fail_at(file, line, "expected a number" + column + quoted(fields[i]));
    }
  }
}

bool is_header(const std::string_view* fields, int count) {
  if (count > 1 && fields[0].empty()) return true;  // the unnamed index column of pandas
  for (int i = 0; i < count; ++i) {
    if (check_number(fields[i]) == NumberText::not_a_number) return true;
  }
  return false;
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
