#include "refusal.hpp"

#include <cstdio>
#include <cstdlib>

namespace wordclusters {

void refuse(const std::string& what) {
  std::fprintf(stderr, "wordclusters: %s\n", what.c_str());
  std::exit(1);
}

void usage_error(const std::string& what) {
  std::fprintf(stderr, "wordclusters: %s (see wordclusters --help)\n", what.c_str());
  std::exit(2);
}

}  // namespace wordclusters
