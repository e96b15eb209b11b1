#pragma once
// Another program on this machine, as a port sees it: a terminal program or
// a forgotten "cat /dev/ttyUSB0" that has the port open, or any program
// whose process number a lock file may carry.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace tarvik::test {

class OtherProgram {
 public:
  // Starts command with input as its standard input. It inherits nothing
  // else of the test, in particular not the master side of a test's
  // pseudo-terminal, which would make it the far end of the line.
  explicit OtherProgram(std::vector<std::string> command, const std::string& input = "/dev/null") {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY | O_NOCTTY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    std::vector<char*> argv;
    for (std::string& a : command) argv.push_back(a.data());
    argv.push_back(nullptr);
    // Returns once the program runs, its standard input open.
    const int spawned = ::posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) throw std::runtime_error("cannot start " + command.front());
  }
  ~OtherProgram() { End(); }
  OtherProgram(const OtherProgram&) = delete;
  OtherProgram& operator=(const OtherProgram&) = delete;

  pid_t Pid() const { return pid_; }

  // Ends the program and waits until it has gone.
  void End() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
};

// The number of a process that has ended and been reaped.
inline pid_t GonePid() {
  OtherProgram gone({"true"});
  const pid_t pid = gone.Pid();
  gone.End();
  return pid;
}

}  // namespace tarvik::test
