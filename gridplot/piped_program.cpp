#include "piped_program.hpp"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "descriptor_io.hpp"

extern char** environ;

namespace gridplot {

int run_with_input(const char* program, const std::string& folder, std::string_view input,
                   int& status) {
  int channel[2];
  if (pipe(channel) != 0) return errno;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, channel[0], STDIN_FILENO);
  posix_spawn_file_actions_addclose(&actions, channel[0]);
  posix_spawn_file_actions_addclose(&actions, channel[1]);
  if (!folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  std::string name = program;
  char* argv[] = {name.data(), nullptr};
  pid_t pid = 0;
  const int error = posix_spawnp(&pid, program, &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(channel[0]);
  if (error != 0) {
    ::close(channel[1]);
    return error;
  }
  signal(SIGPIPE, SIG_IGN);
  // A failed write means the program has ended: its exit status tells why.
  pcgrid::write_fully(channel[1], input.data(), input.size());
  ::close(channel[1]);
  status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return 0;
}

}  // namespace gridplot
