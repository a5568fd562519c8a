// The word programs' one way out on failure: a message on standard error
// and exit status 1.
#pragma once

namespace pcgrid {

[[noreturn, gnu::format(printf, 1, 2)]] void fail(const char* format, ...);

}  // namespace pcgrid
