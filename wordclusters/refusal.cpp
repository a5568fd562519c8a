#include "refusal.hpp"

#include <cstdio>
#include <cstdlib>
#include <new>

#include "messages.hpp"

namespace wordclusters {

void refuse(const std::string& what) {
  pcgrid::refuse("wordclusters", what);
}

namespace {

void out_of_memory() {
  std::fputs("wordclusters: out of memory\n", stderr);
  std::exit(1);
}

}  // namespace

void refuse_when_memory_runs_out() {
  std::set_new_handler(out_of_memory);
}

void usage_error(const std::string& what) {
  pcgrid::refuse("wordclusters", what + " (see wordclusters --help)", 2);
}

}  // namespace wordclusters
