// The one way out on failure: a line on standard error and exit status 1.
#pragma once

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "messages.hpp"

namespace gridplot {

[[noreturn]] inline void refuse(const std::string& what) {
  pcgrid::refuse("gridplot", what);
}

// Why the last system call failed.
inline std::string reason() {
  return std::strerror(errno);
}

}  // namespace gridplot
