// Buffered writing: bytes gathered in a buffer and written out in large
// calls, however many it takes. A write that fails is handed to the
// caller's `failed(error)`, which reports it and does not return.
//
// Standard output of the word programs is written this way: a failed
// write (a full disk, a closed descriptor) prints one message on standard
// error and ends the process with exit status 1.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

#include "descriptor_io.hpp"

namespace pcgrid {

struct OutputBuffer {
  int fd = -1;
  char* data = nullptr;
  std::size_t capacity = 0;  // bytes gathered before they are written out
  std::size_t filled = 0;
};

// Writes out the bytes gathered.
template <typename Failed>
void write_gathered(OutputBuffer& out, Failed failed) {
  if (const int error = write_fully(out.fd, out.data, out.filled); error != 0) failed(error);
  out.filled = 0;
}

// Room for `size` more bytes (at most the capacity) at the end of the
// bytes gathered, written out first when they would not fit; fill it and
// hand it back with commit.
template <typename Failed>
char* room(OutputBuffer& out, std::size_t size, Failed failed) {
  if (size > out.capacity - out.filled) write_gathered(out, failed);
  return out.data + out.filled;
}

inline void commit(OutputBuffer& out, const char* end) {
  out.filled = static_cast<std::size_t>(end - out.data);
}

// Adds `bytes`; more than the capacity are written at once.
template <typename Failed>
void put(OutputBuffer& out, std::string_view bytes, Failed failed) {
  if (bytes.size() > out.capacity - out.filled) {
    write_gathered(out, failed);
    if (bytes.size() > out.capacity) {
      if (const int error = write_fully(out.fd, bytes.data(), bytes.size()); error != 0) {
        failed(error);
      }
      return;
    }
  }
  std::memcpy(out.data + out.filled, bytes.data(), bytes.size());
  out.filled += bytes.size();
}

// Room for `size` bytes (at most 64 KiB) at the end of the buffered
// standard output, to be filled and handed back with commit_output.
char* reserve_output(std::size_t size);
void commit_output(const char* end);

void put_output(std::string_view bytes);

// Writes out whatever is buffered; call it once the output is complete.
void flush_output();

}  // namespace pcgrid
