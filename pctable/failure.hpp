// The one way out on bad input: a message on standard error and exit
// status 1 (an unfinished output file goes with the process).
#pragma once

#include <cstdint>
#include <string_view>

namespace pctable {

// "pctable: WHERE: WHAT" and exit status 1.
[[noreturn]] void fail(std::string_view where, std::string_view what);

// "pctable: FILE:LINE: WHAT" and exit status 1.
[[noreturn]] void fail_at(std::string_view file, std::int64_t line, std::string_view what);

// "pctable: WHAT" and exit status 1.
[[noreturn]] void fail_plain(std::string_view what);

// Makes running out of memory a failure like the others.
void fail_when_memory_runs_out();

}  // namespace pctable
