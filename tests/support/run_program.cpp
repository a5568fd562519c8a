#include "run_program.hpp"

#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string_view>

extern char** environ;

namespace pcgrid::testing {

namespace {

constexpr uid_t NOBODY = 65534;

bool become_nobody() {
  return setgroups(0, nullptr) == 0 && setgid(NOBODY) == 0 && setuid(NOBODY) == 0;
}

// A copy of `exe` in a folder of the temporary directory open to everyone:
// the build may lie under a folder that only root can enter (a clone in a
// `mktemp -d` folder, or in root's home folder). One copy per program and
// test process, removed when the process ends.
std::string copy_for_nobody(const std::string& exe) {
  static const TempDir folder;
  static std::map<std::string, std::string> copies;
  const auto known = copies.find(exe);
  if (known != copies.end()) return known->second;
  const std::string copy = folder.file(std::to_string(copies.size()) + "-" +
                                       std::filesystem::path(exe).filename().string());
  std::filesystem::copy_file(exe, copy);
  if (chmod(folder.path().c_str(), 0755) != 0 || chmod(copy.c_str(), 0755) != 0) {
    throw std::runtime_error("cannot open " + copy + " to the user nobody");
  }
  return copies.emplace(exe, copy).first->second;
}

#ifdef PCGRID_TEST_EMULATOR
// The machine an ELF file is built for (its e_machine field), or -1.
int elf_machine(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  unsigned char header[20] = {};
  if (!file.read(reinterpret_cast<char*>(header), sizeof header) ||
      std::memcmp(header, "\177ELF", 4) != 0) {
    return -1;
  }
  return header[5] == 1 ? header[18] | header[19] << 8 : header[18] << 8 | header[19];
}
#endif

// The file to execute and the first words of the command line that run
// `program` as `name`. In a cross build the tests and the programs are the
// target's, and the emulator runs the programs built for the machine the
// tests are built for (the host's own, such as /bin/sh, run as they are):
// its words (an absolute path first) come from the build, and it is told
// the name to give the program.
struct Command {
  std::string path;
  std::vector<std::string> argv;
};
Command command_for(const std::string& program, const std::string& name) {
#ifdef PCGRID_TEST_EMULATOR
  static const int target = elf_machine("/proc/self/exe");
  if (elf_machine(program) == target) {
    Command command;
    std::istringstream emulator(PCGRID_TEST_EMULATOR);
    for (std::string word; emulator >> word;) command.argv.push_back(word);
    command.path = command.argv.front();
    command.argv.insert(command.argv.end(), {"-0", name, program});
    return command;
  }
#endif
  return {program, {name}};
}

// Ends a child that could not start the program, saying why on its
// standard error, so that a test shows more than a bare status.
[[noreturn]] void give_up(const char* step, const char* path, int status) {
  const char* pieces[] = {"run_program: cannot ", step, " ", path, ": ",
                          std::strerror(errno),   "\n"};
  for (const char* piece : pieces) {
    if (write(STDERR_FILENO, piece, std::strlen(piece)) < 0) break;
  }
  _exit(status);
}

}  // namespace

std::string why_nobody_cannot_run() {
  if (geteuid() != 0) return "";
  const std::string folder = std::filesystem::temp_directory_path().string();
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) _exit(become_nobody() && access(folder.c_str(), X_OK) == 0 ? 0 : 1);
  int wstatus = 0;
  while (waitpid(pid, &wstatus, 0) < 0) {
  }
  if (WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0) return "";
  return "the user nobody cannot enter the temporary directory " + folder +
         "; set TMPDIR to a folder that it can enter";
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void write_file(const std::string& path, const std::string& contents) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << contents;
  if (!out) throw std::runtime_error("cannot write " + path);
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "pcgrid-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  // Undo a test's chmod so that the directory can be removed.
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

void TempDir::write(const std::string& name, const std::string& contents) const {
  write_file(file(name), contents);
}

std::string TempDir::read(const std::string& name) const {
  return read_file(file(name));
}

bool TempDir::exists(const std::string& name) const {
  return std::filesystem::exists(std::filesystem::symlink_status(file(name)));
}

RunResult run_program(const std::string& exe, const std::vector<std::string>& args,
                      const RunOptions& options) {
  TempDir io;
  const std::string in_path = options.stdin_path.empty() ? io.file("stdin") : options.stdin_path;
  if (options.stdin_path.empty()) write_file(in_path, options.input);
  const std::string out_path =
      options.stdout_path.empty() ? io.file("stdout") : options.stdout_path;
  const std::string err_path = io.file("stderr");

  // The inherited environment, less the variables that the options set.
  std::vector<std::string> env_strings;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('=') + 1);
    const bool replaced = std::any_of(options.env.begin(), options.env.end(),
                                      [&](const std::string& o) { return o.starts_with(name); });
    if (!replaced) env_strings.push_back(entry);
  }
  for (const auto& e : options.env) env_strings.push_back(e);
  std::vector<char*> envp;
  for (auto& e : env_strings) envp.push_back(e.data());
  envp.push_back(nullptr);

  const bool as_nobody = options.unprivileged && geteuid() == 0;
  const std::string program = as_nobody ? copy_for_nobody(exe) : exe;
  Command command = command_for(program, exe);
  std::vector<std::string>& argv_strings = command.argv;
  argv_strings.insert(argv_strings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argv_strings) argv.push_back(a.data());
  argv.push_back(nullptr);

  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    const int in = open(in_path.c_str(), O_RDONLY);
    const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0) _exit(126);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    // The program's own files start at descriptor 3, as from a shell.
    for (const int fd : {in, out, err}) {
      if (fd > 2) close(fd);
    }
    for (const int fd : options.closed) close(fd);
    if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) {
      give_up("enter the folder", options.cwd.c_str(), 126);
    }
    const struct {
      int resource;
      unsigned long bytes;
    } limits[] = {{RLIMIT_AS, options.address_space_limit}, {RLIMIT_DATA, options.data_limit}};
    for (const auto& l : limits) {
      const rlimit limit{l.bytes, l.bytes};
      if (l.bytes != 0 && setrlimit(l.resource, &limit) != 0) _exit(126);
    }
    if (as_nobody && !become_nobody()) _exit(126);
    execve(command.path.c_str(), argv.data(), envp.data());
    give_up("run", command.path.c_str(), 127);
  }
  int wstatus = 0;
  while (waitpid(pid, &wstatus, 0) < 0) {
  }
  RunResult result;
  result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  if (options.stdout_path.empty()) result.out = read_file(out_path);
  result.err = read_file(err_path);
  return result;
}

}  // namespace pcgrid::testing
