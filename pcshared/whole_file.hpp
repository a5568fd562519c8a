// Output files written whole or not at all.
//
// A regular file, or a name that does not exist yet, is written as a
// temporary file beside it, synced, and renamed over it once complete, and
// then the folder is synced: a reader sees the old file or the new one,
// never a part, and a failed run, or a crash of the machine, leaves the old
// file as it was. An existing file keeps its permissions; a new one gets
// those the umask lets in. A symbolic link is followed: its target is
// replaced and the link stays. Anything else that exists (a FIFO, a
// character device, a pipe named as /dev/stdout or /dev/fd/N) is opened and
// written in place, and "-" is standard output.
//
// Until finish_whole_file, the temporary file is removed when the process
// exits and when SIGHUP, SIGINT, SIGTERM, SIGPIPE or SIGXFSZ ends it.
#pragma once

#include <sys/types.h>

#include <string>

namespace pcgrid {

// A file's device and inode; `exists` is false when it could not be found.
struct FileIdentity {
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
};

// The folder part of a path, with its slash ("" for a bare name).
std::string folder_of(const std::string& path);

// The file that `path` names, links followed.
FileIdentity identity_of_path(const char* path);
// The file open on `fd`.
FileIdentity identity_of_descriptor(int fd);
// Both exist and are the same file.
bool same_file(const FileIdentity& a, const FileIdentity& b);

// The file that begin_whole_file(name) would write, as an absolute path:
// its links followed and its folder resolved, so that two names of one new
// file give the same path. Empty when that cannot be told.
std::string resolved_output_path(const char* name);

struct WholeFile {
  std::string target;     // the file written: the name given, its links followed
  std::string temporary;  // the file being written; empty when written in place
  int fd = -1;            // where to write the bytes
};

// Opens `name` for writing as described above. Returns nullptr, or what
// failed ("cannot write standard output", "cannot create a file beside
// it", ...) with errno telling why; then nothing has been created. "-"
// fails with EBADF when standard output was closed at start.
const char* begin_whole_file(WholeFile& file, const char* name);

// Closes the file and, when it was written beside its target, syncs it,
// renames it over the target and syncs the folder. Returns nullptr, or what
// failed with errno set; then the temporary file is removed and the target
// left as it was (unless only the folder's sync failed: "cannot sync its
// folder"). Standard output is left open.
const char* finish_whole_file(WholeFile& file);

// Gives up a file begun: its temporary file is closed and removed.
void abandon_whole_file(WholeFile& file);

// Removes every temporary file not yet finished. Safe in a signal handler,
// for a program that handles the signals above itself.
void remove_unfinished_files();

}  // namespace pcgrid
