// Reading and writing a descriptor through what is not an error: a signal
// that interrupts the call (EINTR), and a descriptor that its opener left
// non-blocking (EAGAIN), which is waited on until it is ready.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace pcgrid {

// At most `room` bytes into `into`: the count read, 0 at the end, or -1
// with errno set by the failed read.
ssize_t read_some(int fd, void* into, std::size_t room);

// All `size` bytes of `data`, however many writes it takes: 0, or the errno
// of the write that failed (EIO for one that wrote nothing).
int write_fully(int fd, const void* data, std::size_t size);

// Up to `size` bytes at `offset` of the file open on `fd`, however many
// reads it takes: the count read (less than `size` only at the end of the
// file), or -1 with errno set by the read that failed.
ssize_t pread_fully(int fd, void* into, std::size_t size, off_t offset);

}  // namespace pcgrid
