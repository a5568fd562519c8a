#include "descriptor_io.hpp"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace pcgrid {

namespace {

bool not_ready() {
  return errno == EAGAIN || errno == EWOULDBLOCK;
}

void wait_for(int fd, short events) {
  pollfd watched{fd, events, 0};
  while (poll(&watched, 1, -1) < 0 && errno == EINTR) {
  }
}

}  // namespace

ssize_t read_some(int fd, void* into, std::size_t room) {
  for (;;) {
    const ssize_t got = ::read(fd, into, room);
    if (got >= 0) return got;
    if (errno == EINTR) continue;
    if (!not_ready()) return -1;
    wait_for(fd, POLLIN);
  }
}

int write_fully(int fd, const void* data, std::size_t size) {
  const char* next = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t written = ::write(fd, next, size);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0 && not_ready()) {
      wait_for(fd, POLLOUT);
      continue;
    }
    if (written <= 0) return written < 0 ? errno : EIO;
    next += written;
    size -= static_cast<std::size_t>(written);
  }
  return 0;
}

ssize_t pread_fully(int fd, void* into, std::size_t size, off_t offset) {
  char* next = static_cast<char*>(into);
  std::size_t have = 0;
  while (have < size) {
    const ssize_t got = ::pread(fd, next + have, size - have, offset + static_cast<off_t>(have));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return -1;
    if (got == 0) break;
    have += static_cast<std::size_t>(got);
  }
  return static_cast<ssize_t>(have);
}

}  // namespace pcgrid
