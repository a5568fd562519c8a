#include "messages.hpp"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace pcgrid {

void fail(const char* format, ...) {
  std::va_list arguments;
  va_start(arguments, format);
  std::vfprintf(stderr, format, arguments);
  va_end(arguments);
  std::exit(1);
}

}  // namespace pcgrid
