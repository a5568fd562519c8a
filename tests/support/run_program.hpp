// Running a built program as a child process, for end-to-end tests.
#pragma once

#include <string>
#include <vector>

namespace pcgrid::testing {

struct RunOptions {
  std::string input{};             // bytes fed on standard input
  std::string cwd{};               // working directory; empty: the current one
  std::vector<std::string> env{};  // NAME=VALUE entries, replacing inherited ones
  std::string stdin_path{};        // when set, standard input is this file instead of `input`
  std::string stdout_path{};       // when set, standard output goes to this file (e.g. /dev/full)
  bool unprivileged = false;       // run as the user nobody when the tests run as root, so that
                                   // file permissions hold for the program
};

struct RunResult {
  std::string out;
  std::string err;
  int status = -1;  // exit status, or 128 + signal number
};

RunResult run_program(const std::string& exe, const std::vector<std::string>& args,
                      const RunOptions& options = {});

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

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& contents);

}  // namespace pcgrid::testing
