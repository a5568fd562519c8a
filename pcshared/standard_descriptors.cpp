#include "standard_descriptors.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace pcgrid {

namespace {

bool was_closed[3] = {};

}  // namespace

void open_closed_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    was_closed[fd] = true;
    // The lowest free number is `fd` itself, since the ones below it are open.
    const int null = open("/dev/null", O_RDWR);
    if (null == fd) continue;
    if (null < 0 || dup2(null, fd) != fd) std::_Exit(1);
    close(null);
  }
}

bool standard_descriptor_was_closed(int fd) {
  return fd >= 0 && fd <= 2 && was_closed[fd];
}

void tell_a_terminal(const char* note) {
  if (isatty(STDIN_FILENO) == 1) std::fputs(note, stderr);
}

}  // namespace pcgrid
