#include "refusal.hpp"

#include <cstdio>
#include <cstdlib>

#include "messages.hpp"

namespace wordclusters {

void refuse(const std::string& what) {
  pcgrid::refuse("wordclusters", what);
}

void usage_error(const std::string& what) {
  pcgrid::refuse("wordclusters", what + " (see wordclusters --help)", 2);
}

}  // namespace wordclusters
