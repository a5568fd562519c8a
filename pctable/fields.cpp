#include "fields.hpp"

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>

#include "blank.hpp"
#include "byte_classes.hpp"
#include "failure.hpp"
#include "line_cursor.hpp"
#include "number_text.hpp"

namespace pctable {

namespace {

using pcgrid::is_blank;

// The blanks among 16 bytes, as byte_classes.hpp gives them: bit i for
// byte i.
inline unsigned blank_mask16(const char* p) {
  return pcgrid::byte_mask16(p, ' ') | pcgrid::byte_mask16(p, '\t');
}

// The text from `begin` to `end` without the blanks around it, as
// pcgrid::trim_blanks has it.
inline std::string_view trimmed(const char* begin, const char* end) {
  while (begin < end && is_blank(*begin)) ++begin;
  while (end > begin && is_blank(end[-1])) --end;
  return std::string_view(begin, static_cast<std::size_t>(end - begin));
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

// The line is read 64 bytes at a time, in four classifications of 16 (up
// to 63 bytes past its end: a cursor's buffer is padded), the bytes past
// its end left out as blanks. In a window, a field starts at a byte that
// is not a blank after one that is (or after the start of the line), and
// ends at a blank after one that is not: the n-th end after the n-th
// start, but for a field that began in an earlier window, which the first
// end of this one closes, and the last field, which may go on into the
// next window or end with the line.
int split_blank(std::string_view line, std::string_view* fields, int max) {
  const char* const text = line.data();
  const std::size_t size = line.size();
  int count = 0;
  std::uint64_t inside = 0;  // 1 while a field from an earlier window goes on
  std::size_t start = 0;     // where that field began
  for (std::size_t window = 0; window < size; window += 64) {
    const std::size_t left = size - window;
    const char* const p = text + window;
    const std::uint64_t blanks =
        std::uint64_t{blank_mask16(p)} | std::uint64_t{blank_mask16(p + 16)} << 16 |
        std::uint64_t{blank_mask16(p + 32)} << 32 | std::uint64_t{blank_mask16(p + 48)} << 48;
    // bit i: byte window + i is in the line and not a blank
    const std::uint64_t filled = ~blanks & (left >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << left) - 1);
    const std::uint64_t after_filled = filled << 1 | inside;
    std::uint64_t starts = filled & ~after_filled;
    std::uint64_t ends = ~filled & after_filled;
    if (inside != 0 && ends != 0) {
      if (count == max) return max + 1;
      const std::size_t end = window + static_cast<std::size_t>(std::countr_zero(ends));
      fields[count++] = std::string_view(text + start, end - start);
      ends &= ends - 1;
      inside = 0;
    }
    while (starts != 0) {
      const std::size_t begin = window + static_cast<std::size_t>(std::countr_zero(starts));
      starts &= starts - 1;
      if (ends == 0) {
        inside = 1;
        start = begin;
        break;
      }
      if (count == max) return max + 1;
      const std::size_t end = window + static_cast<std::size_t>(std::countr_zero(ends));
      ends &= ends - 1;
      fields[count++] = std::string_view(text + begin, end - begin);
    }
  }
  if (inside != 0) {
    if (count == max) return max + 1;
    fields[count++] = std::string_view(text + start, size - start);
  }
  return count;
}

namespace {

// split_on for a line with quotes.
int split_quoted(std::string_view line, char separator, std::string_view* fields, int max) {
  int count = 0;
  std::size_t from = 0;
  for (;;) {
    const std::size_t at = find_separator(line, separator, from);
    if (count == max) return max + 1;
    fields[count++] = field_text(line.substr(from, at - from));
    if (at == std::string_view::npos) return count;
    from = at + 1;
  }
}

}  // namespace

// A line without quotes is cut at every separator, found 16 bytes at a
// time (up to 15 past its end, left out); a quote found on the way, or
// after the fields that are too many, sends the line to split_quoted.
int split_on(std::string_view line, char separator, std::string_view* fields, int max) {
  const char* const text = line.data();
  const std::size_t size = line.size();
  int count = 0;
  std::size_t from = 0;
  for (std::size_t at = 0; at < size; at += 16) {
    const unsigned in_line = first_bytes(size - at);
    if ((pcgrid::byte_mask16(text + at, '"') & in_line) != 0) {
      return split_quoted(line, separator, fields, max);
    }
    unsigned separators = pcgrid::byte_mask16(text + at, separator) & in_line;
    while (separators != 0) {
      const std::size_t i = at + static_cast<std::size_t>(std::countr_zero(separators));
      separators &= separators - 1;
      if (count == max) {
        return line.find('"') != std::string_view::npos ? split_quoted(line, separator, fields, max)
                                                         : max + 1;
      }
      fields[count++] = trimmed(text + from, text + i);
      from = i + 1;
    }
  }
  if (count == max) return max + 1;
  fields[count++] = trimmed(text + from, text + size);
  return count;
}

bool has_separator(std::string_view line, char separator) {
  return find_separator(line, separator, 0) != std::string_view::npos;
}

void check_other_number_field(std::string_view file, std::int64_t line, int column,
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
