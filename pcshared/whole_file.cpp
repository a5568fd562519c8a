#include "whole_file.hpp"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "standard_descriptors.hpp"

namespace pcgrid {

namespace {

// Temporary files not yet renamed, removed at exit or on a fatal signal.
// The handler reads a slot only while `used` is set: the path is written
// before it is set and after it is cleared, with a signal fence between,
// so that neither the compiler nor the handler sees them in another order.
constexpr int MAX_UNFINISHED = 8;
struct Unfinished {
  char path[PATH_MAX];
  volatile sig_atomic_t used;
};
Unfinished unfinished[MAX_UNFINISHED];

constexpr int FATAL_SIGNALS[] = {SIGHUP, SIGINT, SIGTERM, SIGPIPE, SIGXFSZ};

extern "C" void remove_at_exit() {
  remove_unfinished_files();
}

extern "C" void remove_and_reraise(int signal) {
  remove_unfinished_files();
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

// Registers `path`; false when every slot is taken.
bool remember(const std::string& path) {
  static bool hooked = false;
  if (!hooked) {
    hooked = true;
    std::atexit(remove_at_exit);
    for (const int signal : FATAL_SIGNALS) {
      struct sigaction now {};
      if (sigaction(signal, nullptr, &now) == 0 && now.sa_handler == SIG_DFL) {
        std::signal(signal, remove_and_reraise);
      }
    }
  }
  if (path.size() >= PATH_MAX) return false;
  for (Unfinished& slot : unfinished) {
    if (slot.used) continue;
    std::memcpy(slot.path, path.c_str(), path.size() + 1);
    std::atomic_signal_fence(std::memory_order_release);
    slot.used = 1;
    return true;
  }
  return false;
}

void forget(const std::string& path) {
  for (Unfinished& slot : unfinished) {
    if (slot.used && path == slot.path) {
      slot.used = 0;
      std::atomic_signal_fence(std::memory_order_release);
    }
  }
}

// `name` with its symbolic links followed, as far as they lead (a link to
// a name that does not exist yet gives that name). False with errno set
// on a loop or an unreadable link.
bool follow_links(const char* name, std::string& target, struct stat& found, bool& exists) {
  target = name;
  for (int hops = 0; hops < 40; ++hops) {
    if (lstat(target.c_str(), &found) != 0) {
      if (errno != ENOENT) return false;
      exists = false;
      return true;
    }
    if (!S_ISLNK(found.st_mode)) {
      exists = true;
      return true;
    }
    char link[PATH_MAX];
    const ssize_t length = readlink(target.c_str(), link, sizeof link);
    if (length < 0) return false;
    if (static_cast<std::size_t>(length) == sizeof link) {
      errno = ENAMETOOLONG;
      return false;
    }
    const std::string to(link, static_cast<std::size_t>(length));
    target = to.front() == '/' ? to : folder_of(target) + to;
  }
  errno = ELOOP;
  return false;
}

// Makes the rename of `path` durable. A folder that cannot be opened for
// reading, or whose file system cannot sync folders, is left as it is.
bool sync_folder(const std::string& path) {
  const std::string folder = folder_of(path);
  const int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return true;
  const bool synced = fsync(fd) == 0 || errno == EINVAL;
  const int error = errno;
  close(fd);
  errno = error;
  return synced;
}

const char* open_in_place(WholeFile& file, const char* name) {
  file.target = name;
  file.fd = open(name, O_WRONLY | O_CLOEXEC);
  return file.fd < 0 ? "cannot write" : nullptr;
}

mode_t new_file_mode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace

std::string folder_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

FileIdentity identity_of_path(const char* path) {
  struct stat found {};
  if (stat(path, &found) != 0) return {};
  return {true, found.st_dev, found.st_ino};
}

FileIdentity identity_of_descriptor(int fd) {
  struct stat found {};
  if (fstat(fd, &found) != 0) return {};
  return {true, found.st_dev, found.st_ino};
}

bool same_file(const FileIdentity& a, const FileIdentity& b) {
  return a.exists && b.exists && a.device == b.device && a.inode == b.inode;
}

std::string resolved_output_path(const char* name) {
  std::string target;
  struct stat found {};
  bool exists = false;
  if (!follow_links(name, target, found, exists)) return "";
  const std::string folder = folder_of(target);
  char resolved[PATH_MAX];
  if (realpath(folder.empty() ? "." : folder.c_str(), resolved) == nullptr) return "";
  return std::string(resolved) + "/" + target.substr(folder.size());
}

const char* begin_whole_file(WholeFile& file, const char* name) {
  file = WholeFile{};
  if (std::strcmp(name, "-") == 0) {
    if (standard_descriptor_was_closed(STDOUT_FILENO)) {
      errno = EBADF;
      return "cannot write standard output";
    }
    file.target = name;
    file.fd = STDOUT_FILENO;
    return nullptr;
  }
  struct stat found {};
  // The kernel follows the links itself first: /dev/stdout, /dev/fd/N and
  // the like lead to a pipe that no path names, to be written in place.
  if (stat(name, &found) == 0 && !S_ISREG(found.st_mode)) return open_in_place(file, name);
  bool exists = false;
  if (!follow_links(name, file.target, found, exists)) return "cannot follow the link";
  if (exists && !S_ISREG(found.st_mode)) return open_in_place(file, file.target.c_str());
  file.temporary = file.target + ".XXXXXX";
  file.fd = mkostemp(file.temporary.data(), O_CLOEXEC);
  if (file.fd < 0) return "cannot create a file beside it";
  const mode_t mode = exists ? found.st_mode & 07777 : new_file_mode();
  if (!remember(file.temporary)) {
    abandon_whole_file(file);
    errno = EMFILE;
    return "cannot create a file beside it";
  }
  if (fchmod(file.fd, mode) != 0) {
    const int error = errno;
    abandon_whole_file(file);
    errno = error;
    return "cannot set the permissions";
  }
  return nullptr;
}

const char* finish_whole_file(WholeFile& file) {
  if (file.fd == STDOUT_FILENO && file.temporary.empty()) return nullptr;
  const int fd = file.fd;
  file.fd = -1;
  // The bytes reach the disk before the new name points at them, so that
  // after a crash of the machine the name holds the old file or the new one.
  const bool synced = file.temporary.empty() || fsync(fd) == 0;
  const int sync_error = errno;
  if (close(fd) != 0 || !synced) {
    const int error = synced ? errno : sync_error;
    abandon_whole_file(file);
    errno = error;
    return "write error";
  }
  if (file.temporary.empty()) return nullptr;
  if (rename(file.temporary.c_str(), file.target.c_str()) != 0) {
    const int error = errno;
    abandon_whole_file(file);
    errno = error;
    return "cannot replace it";
  }
  forget(file.temporary);
  file.temporary.clear();
  return sync_folder(file.target) ? nullptr : "cannot sync its folder";
}

void abandon_whole_file(WholeFile& file) {
  if (file.fd >= 0 && file.fd != STDOUT_FILENO) close(file.fd);
  file.fd = -1;
  if (file.temporary.empty()) return;
  unlink(file.temporary.c_str());
  forget(file.temporary);
  file.temporary.clear();
}

void remove_unfinished_files() {
  for (Unfinished& slot : unfinished) {
    if (!slot.used) continue;
    std::atomic_signal_fence(std::memory_order_acquire);
    unlink(slot.path);
  }
}

}  // namespace pcgrid
