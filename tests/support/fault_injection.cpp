// Failure injection for the read(2), write(2) and fsync(2) calls of a
// program under test, loaded with LD_PRELOAD. The faults come from the environment:
//
//   PCGRID_FAULTS=RULE[,RULE...]      RULE = CALL:FD:N:ACTION
//
//   CALL    read, write or fsync
//   FD      the descriptor the call is made on
//   N       which call on that descriptor, counted from 1: "3" the third
//           only, "3+" the third and every later one
//   ACTION  eio, eintr, eagain, enospc: the call fails with that errno and
//           transfers nothing; short: the call transfers at most one byte
//           (an fsync given "short" is left alone)
//
// Only the program's own calls are seen: the C library's stdio reaches the
// kernel without passing through these symbols.

#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

enum class Call { read, write, fsync };
enum class Action { eio, eintr, eagain, enospc, short_transfer };

struct Rule {
  Call call;
  int fd;
  long first;      // 1-based index of the first call affected
  bool and_later;  // every call from `first` on, not only that one
  Action action;
};

constexpr int MAX_RULES = 16;
constexpr int MAX_FD = 256;

Rule rules[MAX_RULES];
int rule_count = 0;
std::atomic<long> calls[3][MAX_FD];

bool parse_action(const char* text, std::size_t length, Action& action) {
  constexpr struct {
    const char* name;
    Action action;
  } names[] = {{"eio", Action::eio},
               {"eintr", Action::eintr},
               {"eagain", Action::eagain},
               {"enospc", Action::enospc},
               {"short", Action::short_transfer}};
  for (const auto& n : names) {
    if (std::strlen(n.name) == length && std::strncmp(n.name, text, length) == 0) {
      action = n.action;
      return true;
    }
  }
  return false;
}

// One rule from `text` up to a comma or the end; false if it is malformed.
bool parse_rule(const char*& text, Rule& rule) {
  if (std::strncmp(text, "read:", 5) == 0) {
    rule.call = Call::read;
    text += 5;
  } else if (std::strncmp(text, "write:", 6) == 0) {
    rule.call = Call::write;
    text += 6;
  } else if (std::strncmp(text, "fsync:", 6) == 0) {
    rule.call = Call::fsync;
    text += 6;
  } else {
    return false;
  }
  char* end = nullptr;
  rule.fd = static_cast<int>(std::strtol(text, &end, 10));
  if (end == text || *end != ':' || rule.fd < 0 || rule.fd >= MAX_FD) return false;
  text = end + 1;
  rule.first = std::strtol(text, &end, 10);
  if (end == text || rule.first < 1) return false;
  rule.and_later = *end == '+';
  if (rule.and_later) ++end;
  if (*end != ':') return false;
  text = end + 1;
  const char* stop = std::strchr(text, ',');
  const std::size_t length =
      stop != nullptr ? static_cast<std::size_t>(stop - text) : std::strlen(text);
  if (!parse_action(text, length, rule.action)) return false;
  text += length;
  if (*text == ',') ++text;
  return true;
}

using ReadFunction = ssize_t (*)(int, void*, std::size_t);
using WriteFunction = ssize_t (*)(int, const void*, std::size_t);
using SyncFunction = int (*)(int);

ReadFunction real_read() {
  static const auto f = reinterpret_cast<ReadFunction>(dlsym(RTLD_NEXT, "read"));
  return f;
}

WriteFunction real_write() {
  static const auto f = reinterpret_cast<WriteFunction>(dlsym(RTLD_NEXT, "write"));
  return f;
}

SyncFunction real_fsync() {
  static const auto f = reinterpret_cast<SyncFunction>(dlsym(RTLD_NEXT, "fsync"));
  return f;
}

bool parse_rules() {
  const char* text = std::getenv("PCGRID_FAULTS");
  while (text != nullptr && *text != '\0') {
    if (rule_count == MAX_RULES || !parse_rule(text, rules[rule_count])) {
      static constexpr char message[] = "fault injection: PCGRID_FAULTS cannot be parsed\n";
      real_write()(2, message, sizeof message - 1);
      std::abort();
    }
    ++rule_count;
  }
  return true;
}

void load_rules() {
  [[maybe_unused]] static const bool loaded = parse_rules();
}

// The rule that applies to this call, if any; counts the call.
const Rule* fault_for(Call call, int fd) {
  load_rules();
  if (fd < 0 || fd >= MAX_FD) return nullptr;
  const long index = calls[static_cast<int>(call)][fd].fetch_add(1) + 1;
  for (int r = 0; r < rule_count; ++r) {
    const Rule& rule = rules[r];
    if (rule.call == call && rule.fd == fd &&
        (index == rule.first || (rule.and_later && index > rule.first))) {
      return &rule;
    }
  }
  return nullptr;
}

// Fails the call as `action` says; false for a short transfer, which is
// made by the caller.
bool fail(Action action) {
  switch (action) {
    case Action::eio:
      errno = EIO;
      return true;
    case Action::eintr:
      errno = EINTR;
      return true;
    case Action::eagain:
      errno = EAGAIN;
      return true;
    case Action::enospc:
      errno = ENOSPC;
      return true;
    case Action::short_transfer:
      return false;
  }
  return false;
}

}  // namespace

extern "C" ssize_t read(int fd, void* buffer, std::size_t size) {
  const Rule* rule = fault_for(Call::read, fd);
  if (rule != nullptr) {
    if (fail(rule->action)) return -1;
    if (size > 1) size = 1;
  }
  return real_read()(fd, buffer, size);
}

extern "C" ssize_t write(int fd, const void* buffer, std::size_t size) {
  const Rule* rule = fault_for(Call::write, fd);
  if (rule != nullptr) {
    if (fail(rule->action)) return -1;
    if (size > 1) size = 1;
  }
  return real_write()(fd, buffer, size);
}

extern "C" int fsync(int fd) {
  const Rule* rule = fault_for(Call::fsync, fd);
  if (rule != nullptr && fail(rule->action)) return -1;
  return real_fsync()(fd);
}
