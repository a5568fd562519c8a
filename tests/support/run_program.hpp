// Running a built program as a child process, for end-to-end tests.
#pragma once

#include <string>
#include <vector>

namespace pcgrid::testing {

struct RunOptions {
  std::string input{};             // bytes fed on standard input
  std::string cwd{};               // working directory; empty: the current one
  std::vector<std::string> env{};  // NAME=VALUE entries, added or replacing
  std::string stdin_path{};        // when set, standard input is this file instead of `input`
  std::string stdout_path{};       // when set, standard output goes to this file (e.g. /dev/full)
  unsigned long address_space_limit = 0;  // bytes of RLIMIT_AS in the child; 0: none
  unsigned long data_limit = 0;           // bytes of RLIMIT_DATA in the child; 0: none
  bool unprivileged = false;  // run as the user nobody when the tests run as root, so that
                              // file permissions hold for the program; a copy of the program
                              // in the temporary directory is run, which nobody can reach
  std::vector<int> closed{};  // standard descriptors (0, 1, 2) closed when the program starts
};

struct RunResult {
  std::string out;
  std::string err;
  int status = -1;  // exit status, or 128 + signal number
};

RunResult run_program(const std::string& exe, const std::vector<std::string>& args,
                      const RunOptions& options = {});

// Why the program of an `unprivileged` run cannot be started as the user
// nobody (the temporary directory is closed to it); empty when it can, or
// when the tests do not run as root. A test skips with this message.
std::string why_nobody_cannot_run();

// A fresh directory under the system's temporary directory, removed with its contents.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  void write(const std::string& name, const std::string& contents) const;
  std::string read(const std::string& name) const;
  bool exists(const std::string& name) const;

 private:
  std::string path_;
};

// The environment entries that make a program's read, write and fsync calls fail as
// `rules` say (see fault_injection.cpp); empty where the build cannot inject
// faults, which faults_available() tells.
#ifdef FAULTS_LIB
inline bool faults_available() {
  return FAULTS_LIB[0] != '\0';
}
inline std::vector<std::string> with_faults(const std::string& rules) {
  return {"LD_PRELOAD=" FAULTS_LIB, "PCGRID_FAULTS=" + rules,
          "ASAN_OPTIONS=verify_asan_link_order=0"};
}
#endif

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& contents);

}  // namespace pcgrid::testing
