#include "piped_program.hpp"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "descriptor_io.hpp"
#include "whole_file.hpp"

extern char** environ;

namespace gridplot {

namespace {

// Every signal whose default action ends the process, but SIGKILL and
// SIGSTOP, which cannot be caught, and SIGPIPE, which is ignored (a write
// to a closed pipe fails with EPIPE instead). The real-time signals are
// added where they are caught.
constexpr int STOP_SIGNALS[] = {SIGHUP,  SIGINT,  SIGQUIT,   SIGTERM, SIGALRM, SIGUSR1,   SIGUSR2,
                                SIGPOLL, SIGPROF, SIGVTALRM, SIGXCPU, SIGXFSZ, SIGSTKFLT, SIGPWR};
// Faults of the program itself (abort() included): they end it, never the
// program it runs.
constexpr int FAULT_SIGNALS[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGSYS, SIGTRAP};
constexpr std::size_t CHUNK = 1 << 16;  // input written between looks at the signals

// What the handler reads of the main flow: flags of sig_atomic_t, and the
// path of the extra file, published by a fence before `have_extra` is set
// and read only after it is seen set.
volatile sig_atomic_t child = 0;  // the program running, while it runs
volatile sig_atomic_t caught = 0;
char extra[PATH_MAX];  // the extra file to remove, while `have_extra` is set
volatile sig_atomic_t have_extra = 0;

bool is_fault(int signal) {
  for (const int fault : FAULT_SIGNALS) {
    if (signal == fault) return true;
  }
  return false;
}

void remove_files() {
  pcgrid::remove_unfinished_files();
  if (have_extra) {
    std::atomic_signal_fence(std::memory_order_acquire);
    unlink(extra);
  }
}

// While a program runs, a signal is passed on to it and remembered, and
// the main flow gives up once the program has ended; at any other time,
// and on a fault (the program running is then stopped with SIGTERM), the unfinished files are
// removed and the signal ends the process as it would have.
extern "C" void on_stop_signal(int signal) {
  if (child > 0 && !is_fault(signal)) {
    caught = signal;
    kill(child, signal);
    return;
  }
  if (child > 0) kill(child, SIGTERM);
  remove_files();
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigaction(signal, &fallback, nullptr);
  raise(signal);
}

// Calls `act` with each signal caught.
template <typename Act>
void for_each_caught(Act act) {
  for (const int signal : STOP_SIGNALS) act(signal);
  for (const int signal : FAULT_SIGNALS) act(signal);
  for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) act(signal);
}

sigset_t stop_set() {
  sigset_t set;
  sigemptyset(&set);
  for_each_caught([&](int signal) {
    if (!is_fault(signal)) sigaddset(&set, signal);
  });
  return set;
}

// Starts the program with the signal mask and SIGPIPE of a fresh process;
// the stop signals wait until its pid is known to the handler.
int spawn(const char* program, char* const arguments[], const std::string& folder, int input_fd,
          int messages_fd, pid_t& pid) {
  posix_spawn_file_actions_t actions;
  int error = posix_spawn_file_actions_init(&actions);
  if (error != 0) return error;
  posix_spawnattr_t attributes;
  error = posix_spawnattr_init(&attributes);
  if (error != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return error;
  }
  for (const int to : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    const int from = to == STDIN_FILENO ? input_fd : messages_fd;
    if (error == 0) error = posix_spawn_file_actions_adddup2(&actions, from, to);
  }
  if (error == 0 && !folder.empty()) {
    error = posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  }
  const sigset_t stops = stop_set();
  sigset_t before;
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  const bool blocked = error == 0 && sigprocmask(SIG_BLOCK, &stops, &before) == 0;
  if (error == 0 && !blocked) error = errno;
  if (error == 0) error = posix_spawnattr_setsigdefault(&attributes, &defaults);
  if (error == 0) error = posix_spawnattr_setsigmask(&attributes, &before);
  if (error == 0) {
    error = posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  }
  if (error == 0) error = posix_spawnp(&pid, program, &actions, &attributes, arguments, environ);
  if (error == 0) child = pid;
  // Restoring a mask that was set cannot fail.
  if (blocked) sigprocmask(SIG_SETMASK, &before, nullptr);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return error;
}

}  // namespace

void catch_stop_signals() {
  struct sigaction action {};
  action.sa_handler = on_stop_signal;
  sigemptyset(&action.sa_mask);
  for_each_caught([&](int signal) {
    struct sigaction now {};
    // A signal ignored by whoever started the program (nohup) stays ignored.
    if (sigaction(signal, nullptr, &now) == 0 && now.sa_handler != SIG_IGN) {
      sigaction(signal, &action, nullptr);
    }
  });
  signal(SIGPIPE, SIG_IGN);
}

void remove_on_stop(const char* path) {
  have_extra = 0;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  if (path == nullptr || std::strlen(path) >= sizeof extra) return;
  std::strcpy(extra, path);
  std::atomic_signal_fence(std::memory_order_release);
  have_extra = 1;
}

void remove_unfinished() {
  remove_files();
}

int stop_signal() {
  return caught;
}

ProgramRun run_with_input(const char* program, char* const arguments[], const std::string& folder,
                          std::string_view input, int messages_fd) {
  ProgramRun run;
  int channel[2];
  if (pipe2(channel, O_CLOEXEC) != 0) {
    run.failed = "cannot run";
    return run;
  }
  pid_t pid = 0;
  const int error = spawn(program, arguments, folder, channel[0], messages_fd, pid);
  ::close(channel[0]);
  if (error != 0) {
    ::close(channel[1]);
    errno = error;
    run.failed = "cannot run";
    return run;
  }
  // A failed write means the program has ended: its exit status tells why.
  while (!input.empty() && caught == 0) {
    const std::size_t size = std::min(input.size(), CHUNK);
    if (pcgrid::write_fully(channel[1], input.data(), size) != 0) break;
    input.remove_prefix(size);
  }
  ::close(channel[1]);
  int waited = 0;
  while ((waited = waitpid(pid, &run.status, 0)) < 0 && errno == EINTR) {
  }
  const int wait_error = errno;
  child = 0;
  if (waited < 0) {
    errno = wait_error;
    run.failed = "cannot wait for";
  }
  return run;
}

}  // namespace gridplot
