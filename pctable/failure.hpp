// The one way out on bad input: a message on standard error, the partial
// output file removed, exit status 1.
#pragma once

#include <cstdint>
#include <string_view>

namespace pctable {

// "pctable: WHERE: WHAT" and exit status 1.
[[noreturn]] void fail(std::string_view where, std::string_view what);

// "pctable: FILE:LINE: WHAT" and exit status 1.
[[noreturn]] void fail_at(std::string_view file, std::int64_t line, std::string_view what);

// The file that fail removes before the process ends (a temporary output);
// empty for none. The text must stay valid until it is cleared.
void remove_on_failure(const char* path);

}  // namespace pctable
