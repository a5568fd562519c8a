#include "standard_descriptors.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace pcgrid {

void open_closed_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free number is `fd` itself, since the ones below it are open.
    const int null = open("/dev/null", O_RDWR);
    if (null == fd) continue;
    if (null < 0 || dup2(null, fd) != fd) std::_Exit(1);
    close(null);
  }
}

}  // namespace pcgrid
