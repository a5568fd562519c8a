// How wordclusters stops: one line on standard error, then the exit status.
#pragma once

#include <string>

namespace wordclusters {

// "wordclusters: WHAT", exit status 1.
[[noreturn]] void refuse(const std::string& what);

// "wordclusters: WHAT (see wordclusters --help)", exit status 2.
[[noreturn]] void usage_error(const std::string& what);

// From now on, memory that cannot be had ends the process with
// "wordclusters: out of memory", exit status 1 (the files begun are removed
// as at any exit).
void refuse_when_memory_runs_out();

}  // namespace wordclusters
