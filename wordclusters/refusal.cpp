#include "refusal.hpp"

#include <cstdio>
#include <cstdlib>
#include <new>

namespace wordclusters {

void refuse(const std::string& what) {
  std::fprintf(stderr, "wordclusters: %s\n", what.c_str());
  std::exit(1);
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
  std::fprintf(stderr, "wordclusters: %s (see wordclusters --help)\n", what.c_str());
  std::exit(2);
}

}  // namespace wordclusters
