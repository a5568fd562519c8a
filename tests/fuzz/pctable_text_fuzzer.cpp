// pctable's delimited-text reader: white space, commas, semicolons and tabs,
// quotes, headers, comments, the chosen columns. The first byte chooses the
// options, the rest is the file. A table's components must be fields of
// the input, copied byte for byte.
#include "delimited_text.hpp"
#include "pctable_fuzz.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace pctable;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  fuzzing::read_and_check(
      bytes, Kind::delimited, [](Table& table, Input& input) { read_delimited(table, input); },
      [&](std::size_t, std::size_t, const std::string& field) {
        return bytes.find(field) != std::string_view::npos;
      });
  return 0;
}
