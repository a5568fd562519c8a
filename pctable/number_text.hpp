// Checks of the numbers that pctable copies from text into a table: they are
// written out byte for byte, so each must be a text that the table's readers
// take for one finite single-precision number.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "byte_classes.hpp"

namespace pctable {

enum class NumberText {
  ok,            // a finite decimal number
  empty,         // no characters at all
  not_a_number,  // anything else that is not a decimal number
  not_finite,    // nan, inf or infinity in any case, with or without a sign
  overflow,      // a decimal number whose magnitude is beyond single precision
};

// An optional sign, digits with an optional point (at least one digit in
// all), and an optional exponent: e or E, an optional sign, digits.
NumberText check_number(std::string_view text);

// Whether `text` is a short plain decimal, which check_number takes: at
// most 16 characters, an optional sign, then digits and at most one point,
// at least one digit. 16 bytes from the start of `text` must be readable
// (a field of a cursor's line is: its buffer is padded).
//
// Why it agrees with check_number. Bit i of each mask stands for character
// i of the text (the bytes after it are left out by `all`). When every
// character is a digit, a point, or a sign in the first place, with at most
// one point and at least one digit, the text is a sign (optional), digits,
// a point and digits (each optional, at least one digit in all): the form
// check_number takes, without an exponent. Its integer digits are at most
// 16, so it is below 10^16 and finite in single precision. Every other
// text gets false and goes to check_number.
inline bool is_short_plain_decimal(std::string_view text) {
  const std::size_t size = text.size();
  if (size - 1 >= 16) return false;  // empty (size - 1 wraps) or longer than 16
  const char* const p = text.data();
  const unsigned all = (1u << size) - 1;
  const unsigned digits = pcgrid::digit_mask16(p) & all;
  const unsigned points = pcgrid::byte_mask16(p, '.') & all;
  const unsigned sign = p[0] == '-' || p[0] == '+' ? 1u : 0u;
  return (digits | points | sign) == all && (points & (points - 1)) == 0 && digits != 0;
}

// Whether `text` is an optional sign and digits, at most 9 characters in
// all, which is_int32_text takes: below 10^9, it fits in 32 bits. 16 bytes
// from the start of `text` must be readable; every other text gets false
// and goes to is_int32_text.
inline bool is_short_int32_text(std::string_view text) {
  const std::size_t size = text.size();
  if (size - 1 >= 9) return false;  // empty (size - 1 wraps) or longer than 9
  const char* const p = text.data();
  const unsigned all = (1u << size) - 1;
  const unsigned digits = pcgrid::digit_mask16(p) & all;
  const unsigned sign = p[0] == '-' || p[0] == '+' ? 1u : 0u;
  return (digits | sign) == all && digits != 0;
}

// The value of a number that check_number took, in double precision.
double number_value(std::string_view text);

// An optional sign and decimal digits whose value fits in 32 bits.
bool is_int32_text(std::string_view text);

// A field as it appears in a message: in double quotes, control bytes as
// \xHH, at most 40 bytes of it followed by "..." when longer.
std::string quoted(std::string_view text);

}  // namespace pctable
