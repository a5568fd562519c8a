#include "inputs.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "descriptor_io.hpp"
#include "failure.hpp"
#include "fields.hpp"
#include "standard_descriptors.hpp"

namespace pctable {

namespace {

constexpr std::size_t PEEK = 64 * 1024;  // bytes looked at to recognise an input
constexpr std::string_view NPY_MAGIC = "\x93NUMPY";

[[noreturn]] void fail_errno(const Input& input, std::string_view what, int error = errno) {
  fail(input.name, std::string(what) + std::strerror(error));
}

// Reads from a pipe into `held` until it holds `want` bytes or the pipe ends.
void read_held(Input& input, std::size_t want) {
  char block[PEEK];
  while (input.held.size() < want) {
    const ssize_t got =
        pcgrid::read_some(input.fd, block, std::min(sizeof block, want - input.held.size()));
    if (got < 0) fail_errno(input, "read error: ");
    if (got == 0) {
      input.ended = true;
      return;
    }
    input.held.insert(input.held.end(), block, block + got);
  }
}

// The first bytes of the input.
std::string peek(Input& input) {
  if (input.source == Source::stream) {
    read_held(input, PEEK);
    return std::string(input.held.data(), input.held.size());
  }
  std::string bytes(static_cast<std::size_t>(std::min<std::int64_t>(PEEK, input.size)), '\0');
  const ssize_t got = pcgrid::pread_fully(input.fd, bytes.data(), bytes.size(), input.start);
  if (got < 0) fail_errno(input, "read error: ");
  if (static_cast<std::size_t>(got) < bytes.size()) fail(input.name, "changed while it was read");
  return bytes;
}

Kind recognise(std::string_view name, std::string_view bytes) {
  if (bytes.starts_with(NPY_MAGIC)) return Kind::npy;
  if (name.ends_with(".xvg")) return Kind::xvg;
  if (bytes.starts_with(BYTE_ORDER_MARK)) bytes.remove_prefix(BYTE_ORDER_MARK.size());
  // No line of delimited text begins with '@' or '&'.
  while (!bytes.empty()) {
    const std::size_t newline = bytes.find('\n');
    const int first = first_visible(bytes.substr(0, newline));
    if (first == '@' || first == '&') return Kind::xvg;
    if (newline == std::string_view::npos) break;
    bytes.remove_prefix(newline + 1);
  }
  return Kind::delimited;
}

// An unnamed file in $TMPDIR (or /tmp), gone when it is closed.
int open_temporary(const Input& input) {
  const char* tmpdir = std::getenv("TMPDIR");
  const std::string folder = tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : "/tmp";
  int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
  std::string path = folder + "/pctable-XXXXXX";
  fd = ::mkostemp(path.data(), O_CLOEXEC);
  if (fd < 0) fail_errno(input, "cannot create a temporary file in " + folder + ": ");
  ::unlink(path.c_str());
  return fd;
}

void become_file(Input& input, int fd, std::int64_t size) {
  input.fd = fd;
  input.source = Source::file;
  input.start = 0;
  input.size = size;
  input.held = {};
  struct stat status {};
  if (::fstat(fd, &status) != 0) fail_errno(input, "cannot read the temporary copy: ");
  input.modified = status.st_mtim;
}

}  // namespace

void open_input(Input& input, std::string_view file) {
  if (file == "-") {
    input.name = "standard input";
    input.fd = STDIN_FILENO;
    if (pcgrid::standard_descriptor_was_closed(STDIN_FILENO)) {
      fail_errno(input, "read error: ", EBADF);
    }
  } else {
    input.name = file;
    input.fd = ::open(input.name.c_str(), O_RDONLY | O_CLOEXEC);
    if (input.fd < 0) fail_errno(input, "cannot open: ");
  }
  struct stat status {};
  if (::fstat(input.fd, &status) != 0) fail_errno(input, "cannot open: ");
  if (S_ISDIR(status.st_mode)) fail(input.name, "cannot read: it is a directory");
  input.identity = {true, status.st_dev, status.st_ino};
  input.regular = S_ISREG(status.st_mode);
  input.source = input.regular ? Source::file : Source::stream;
  if (input.source == Source::file) {
    const off_t at = ::lseek(input.fd, 0, SEEK_CUR);
    input.start = at < 0 ? 0 : std::min<std::int64_t>(at, status.st_size);
    input.size = status.st_size - input.start;
    input.modified = status.st_mtim;
  }
  input.kind = recognise(input.name, peek(input));
}

bool can_reread(const Input& input) {
  return input.source != Source::stream || input.kind == Kind::xvg;
}

void start_input_cursor(Cursor& cursor, const Input& input, std::span<char> buffer,
                        std::int64_t skip, std::int64_t line) {
  if (input.source == Source::file) {
    start_cursor(cursor, Source::file, input.fd, input.name, {}, buffer, input.start + skip, line);
    cursor.limit = input.start + input.size;
    cursor.offset = skip;
  } else {
    const std::span<const char> held(input.held.data(), input.held.size());
    const int fd = input.ended ? -1 : input.fd;
    start_cursor(cursor, Source::stream, fd, input.name, held, buffer, 0, line);
  }
}

void copy_as_read(Cursor& cursor, const Input& input) {
  cursor.copy_fd = open_temporary(input);
}

void read_copy_from_now_on(Input& input, const Cursor& cursor) {
  become_file(input, cursor.copy_fd, cursor.copied);
}

std::int64_t copy_whole(Input& input, std::int64_t most) {
  const int fd = open_temporary(input);
  std::int64_t copied = 0;
  std::int64_t total = 0;
  const auto keep = [&](const char* bytes, std::size_t size) {
    total += static_cast<std::int64_t>(size);
    if (copied > most) return;
    const int error = pcgrid::write_fully(fd, bytes, size);
    if (error != 0) fail_errno(input, "cannot keep a copy in a temporary file: ", error);
    copied += static_cast<std::int64_t>(size);
  };
  keep(input.held.data(), input.held.size());
  char block[1 << 16];
  while (!input.ended) {
    const ssize_t got = pcgrid::read_some(input.fd, block, sizeof block);
    if (got < 0) fail_errno(input, "read error: ");
    if (got == 0) break;
    keep(block, static_cast<std::size_t>(got));
  }
  become_file(input, fd, copied);
  return total;
}

void check_unchanged(const Input& input) {
  if (input.source != Source::file) return;
  struct stat status {};
  if (::fstat(input.fd, &status) != 0) fail_errno(input, "read error: ");
  if (status.st_size != input.start + input.size ||
      status.st_mtim.tv_sec != input.modified.tv_sec ||
      status.st_mtim.tv_nsec != input.modified.tv_nsec) {
    fail(input.name, "changed while it was read");
  }
}

}  // namespace pctable
