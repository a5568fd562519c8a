#include "fields.hpp"

#include <string>

#include "failure.hpp"
#include "number_text.hpp"

namespace pctable {

namespace {

constexpr bool is_blank(char c) {
  return c == ' ' || c == '\t';
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
    while (p < end && is_blank(*p)) ++p;
    if (p == end) return count;
    const char* start = p;
    while (p < end && !is_blank(*p)) ++p;
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
