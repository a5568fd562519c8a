#include "inputs.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "descriptor_io.hpp"
#include "failure.hpp"
#include "fields.hpp"

namespace pctable {

namespace {

constexpr std::size_t PEEK = 64 * 1024;  // bytes looked at to recognise an input
constexpr std::string_view NPY_MAGIC = "\x93NUMPY";

[[noreturn]] void fail_errno(const Input& input, std::string_view what) {
  fail(input.name, std::string(what) + std::strerror(errno));
}

// Reads from a pipe into `held` until it holds `want` bytes or the pipe ends.
void read_held(Input& input, std::size_t want) {
  char block[PEEK];
  while (input.held.size() < want) {
    const ssize_t got = pcgrid::read_some(input.fd, block, sizeof block);
    if (got < 0) fail_errno(input, "read error: ");
    if (got == 0) return;
    input.held.insert(input.held.end(), block, block + got);
  }
}

// The first bytes of the input.
std::string peek(Input& input) {
  if (input.source == Source::stream) {
    read_held(input, PEEK);
    return std::string(input.held.data(), std::min(input.held.size(), PEEK));
  }
  std::string bytes(PEEK, '\0');
  std::size_t have = 0;
  while (have < PEEK) {
    const ssize_t got = ::pread(input.fd, bytes.data() + have, PEEK - have,
                                input.start + static_cast<std::int64_t>(have));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) fail_errno(input, "read error: ");
    if (got == 0) break;
    have += static_cast<std::size_t>(got);
  }
  bytes.resize(have);
  return bytes;
}

Kind recognise(std::string_view name, std::string_view bytes) {
  if (bytes.starts_with(NPY_MAGIC)) return Kind::npy;
  if (name.ends_with(".xvg")) return Kind::xvg;
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

}  // namespace

void open_input(Input& input, std::string_view file) {
  if (file == "-") {
    input.name = "standard input";
    input.fd = STDIN_FILENO;
  } else {
    input.name = file;
    input.fd = ::open(input.name.c_str(), O_RDONLY | O_CLOEXEC);
    if (input.fd < 0) fail_errno(input, "cannot open: ");
  }
  struct stat status {};
  if (::fstat(input.fd, &status) != 0) fail_errno(input, "cannot open: ");
  if (S_ISDIR(status.st_mode)) fail(input.name, "cannot read: it is a directory");
  input.source = S_ISREG(status.st_mode) ? Source::file : Source::stream;
  if (input.source == Source::file) {
    const off_t at = ::lseek(input.fd, 0, SEEK_CUR);
    input.start = at < 0 ? 0 : at;
    input.size = status.st_size - input.start;
  }
  input.kind = recognise(input.name, peek(input));
  if (input.kind == Kind::xvg && input.source == Source::stream) hold_all(input);
}

void hold_all(Input& input) {
  if (input.source == Source::memory) return;
  if (input.source == Source::file) {
    input.held.resize(static_cast<std::size_t>(input.size));
    std::size_t have = 0;
    while (have < input.held.size()) {
      const ssize_t got = ::pread(input.fd, input.held.data() + have, input.held.size() - have,
                                  input.start + static_cast<std::int64_t>(have));
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) fail_errno(input, "read error: ");
      if (got == 0) break;
      have += static_cast<std::size_t>(got);
    }
    input.held.resize(have);
  } else {
    read_held(input, SIZE_MAX);
  }
  input.source = Source::memory;
  input.size = static_cast<std::int64_t>(input.held.size());
}

bool can_reread(const Input& input) {
  return input.source != Source::stream;
}

void start_input_cursor(Cursor& cursor, const Input& input, std::span<char> buffer,
                        std::int64_t skip, std::int64_t line) {
  const std::span<const char> held(input.held.data(), input.held.size());
  switch (input.source) {
    case Source::file:
      start_cursor(cursor, Source::file, input.fd, input.name, {}, buffer, input.start + skip,
                   line);
      cursor.offset = skip;
      break;
    case Source::memory:
      start_cursor(cursor, Source::memory, -1, input.name, held, {}, skip, line);
      break;
    case Source::stream:
      start_cursor(cursor, Source::stream, input.fd, input.name, held, buffer, 0, line);
      break;
  }
}

}  // namespace pctable
