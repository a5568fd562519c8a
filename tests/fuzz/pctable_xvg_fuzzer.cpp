// pctable's xvg reader: metadata, data sets joined side by side, the time
// axis, the chosen columns. The first byte chooses the options, the rest is
// the file. A table's components must be fields of the input, copied byte
// for byte.
#include "pctable_fuzz.hpp"
#include "xvg_input.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace pctable;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  fuzzing::read_and_check(
      bytes, Kind::xvg, [](Table& table, Input& input) { read_xvg(table, input); },
      [&](std::size_t, std::size_t, const std::string& field) {
        return bytes.find(field) != std::string_view::npos;
      });
  return 0;
}
