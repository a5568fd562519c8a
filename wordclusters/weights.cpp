#include "weights.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "descriptor_io.hpp"
#include "refusal.hpp"
#include "standard_descriptors.hpp"
#include "weight_text.hpp"

namespace wordclusters {

namespace {

constexpr std::size_t LONGEST_LINE = 1024;  // no weight is longer
constexpr std::size_t SHOWN = 40;           // bytes of a bad line quoted

[[noreturn]] void refuse_file(const WeightFile& file, const char* what) {
  refuse(file.name + ": " + what + ": " + std::strerror(errno));
}

[[noreturn]] void changed(const WeightFile& file) {
  refuse(file.name + ": changed while it was read");
}

// A bad line as it is quoted: printable ASCII as it is, other bytes as \xHH,
// the first 40 bytes and "..." for more.
std::string shown(std::string_view line) {
  std::string text;
  for (const char c : line.substr(0, SHOWN)) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= ' ' && byte < 0x7f && c != '"' && c != '\\') {
      text += c;
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      text += escaped;
    }
  }
  if (line.size() > SHOWN) text += "...";
  return text;
}

[[noreturn]] void not_a_weight(const WeightFile& file, std::string_view line) {
  if (file.second_reading) changed(file);
  refuse(file.name + ":" + std::to_string(file.line) +
         ": expected a weight (a finite number >= 0), found \"" + shown(line) + "\"");
}

// More bytes after the unfinished line that starts at `begin`; false at the
// end of the file.
bool fill(WeightFile& file) {
  char* const buffer = file.buffer.data();
  std::memmove(buffer, buffer + file.begin, file.end - file.begin);
  file.end -= file.begin;
  file.begin = 0;
  const int from = file.second_reading && file.copy >= 0 ? file.copy : file.fd;
  const ssize_t got = pcgrid::read_some(from, buffer + file.end, WEIGHT_BUFFER_BYTES - file.end);
  if (got < 0) refuse_file(file, "cannot read");
  if (got == 0) return false;
  if (file.copy >= 0 && !file.second_reading) {
    const int error =
        pcgrid::write_fully(file.copy, buffer + file.end, static_cast<std::size_t>(got));
    if (error != 0) {
      errno = error;
      refuse_file(file, "cannot keep a copy in $TMPDIR");
    }
  }
  file.end += static_cast<std::size_t>(got);
  return true;
}

// The next line without its newline; false at the end of the file.
bool next_line(WeightFile& file, std::string_view& line) {
  if (file.at_end) return false;
  const char* const buffer = file.buffer.data();
  for (;;) {
    const char* start = buffer + file.begin;
    const std::size_t size = file.end - file.begin;
    if (const void* newline = std::memchr(start, '\n', size)) {
      line = {start, static_cast<std::size_t>(static_cast<const char*>(newline) - start)};
      file.begin += line.size() + 1;
      ++file.line;
      return true;
    }
    if (size > LONGEST_LINE) {
      ++file.line;
      not_a_weight(file, {start, size});
    }
    if (!fill(file)) {
      file.at_end = true;
      if (size == 0) return false;
      line = {buffer + file.begin, size};  // the last line, without a newline
      file.begin = file.end;
      ++file.line;
      return true;
    }
  }
}

struct stat status_of(const WeightFile& file) {
  struct stat found {};
  if (fstat(file.fd, &found) != 0) refuse_file(file, "cannot read");
  return found;
}

bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

// A line's weight: blanks around it, and a carriage return at the end, are
// allowed, up to 1024 bytes in all; the text is written as a weight (pcgrid::is_weight_text), and its
// value is finite. A value below the smallest double reads as 0, or as the
// nearest double, as strtod rounds.
bool read_weight(std::string_view line, double& weight) {
  if (line.ends_with('\r')) line.remove_suffix(1);
  while (!line.empty() && is_blank(line.front())) line.remove_prefix(1);
  while (!line.empty() && is_blank(line.back())) line.remove_suffix(1);
  if (line.size() > LONGEST_LINE || !pcgrid::is_weight_text(line)) return false;
  char text[LONGEST_LINE + 1];
  line.copy(text, line.size());
  text[line.size()] = '\0';
  weight = std::strtod(text, nullptr);
  return std::isfinite(weight);
}

}  // namespace

void open_weights(WeightFile& file, const char* path, bool twice) {
  const bool standard_input = std::strcmp(path, "-") == 0;
  file.name = standard_input ? "standard input" : path;
  file.buffer.resize(WEIGHT_BUFFER_BYTES);
  if (standard_input) {
    file.fd = STDIN_FILENO;
    if (pcgrid::standard_descriptor_was_closed(STDIN_FILENO)) {
      errno = EBADF;
      refuse_file(file, "cannot read");
    }
  } else {
    file.fd = open(path, O_RDONLY | O_CLOEXEC);
    if (file.fd < 0) refuse_file(file, "cannot open");
  }
  if (!twice) return;
  const struct stat found = status_of(file);
  file.start = lseek(file.fd, 0, SEEK_CUR);
  if (S_ISREG(found.st_mode) && file.start >= 0) {
    file.size = found.st_size;
    file.modified = found.st_mtim;
    return;
  }
  const char* folder = std::getenv("TMPDIR");
  if (folder == nullptr || *folder == '\0') folder = "/tmp";
  file.copy = open(folder, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (file.copy < 0) refuse_file(file, "cannot keep a copy in $TMPDIR");
}

bool next_weight(WeightFile& file, double& weight) {
  std::string_view line;
  if (!next_line(file, line)) return false;
  if (!read_weight(line, weight)) not_a_weight(file, line);
  return true;
}

void expect_end(WeightFile& file, std::uint64_t frames) {
  double weight = 0;
  if (!next_weight(file, weight)) return;
  if (file.second_reading) changed(file);
  refuse(file.name + " has more than " + std::to_string(frames) + " weights, the input has " +
         std::to_string(frames) + " frames");
}

void too_few_weights(const WeightFile& file, std::uint64_t frames, std::uint64_t input_frames) {
  if (file.second_reading) changed(file);
  refuse(file.name + " has " + std::to_string(frames) + " weights, the input has " +
         std::to_string(input_frames) + " frames");
}

void reread_weights(WeightFile& file) {
  const int from = file.copy >= 0 ? file.copy : file.fd;
  if (file.copy < 0) {
    const struct stat found = status_of(file);
    if (found.st_size != file.size || found.st_mtim.tv_sec != file.modified.tv_sec ||
        found.st_mtim.tv_nsec != file.modified.tv_nsec) {
      changed(file);
    }
  }
  const off_t start = file.copy >= 0 ? 0 : file.start;
  if (lseek(from, start, SEEK_SET) != start) refuse_file(file, "cannot read it again");
  file.second_reading = true;
  file.line = 0;
  file.begin = file.end = 0;
  file.at_end = false;
}

}  // namespace wordclusters
