// Checks of the numbers that pctable copies from text into a table: they are
// written out byte for byte, so each must be a text that the table's readers
// take for one finite single-precision number.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

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

// The value of a number that check_number took, in double precision.
double number_value(std::string_view text);

// An optional sign and decimal digits whose value fits in 32 bits.
bool is_int32_text(std::string_view text);

// A field as it appears in a message: in double quotes, control bytes as
// \xHH, at most 40 bytes of it followed by "..." when longer.
std::string quoted(std::string_view text);

}  // namespace pctable
