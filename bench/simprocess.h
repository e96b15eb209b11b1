#pragma once
// tarvik-sim in a process of its own, serving until it is told to stop, so
// the CPU time a benchmark measures is the tool's alone.
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace tarvik::bench {

class SimProcess {
 public:
  explicit SimProcess(std::vector<std::string> args) {
    args.insert(args.begin(), TARVIK_SIM_PROGRAM);
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    int out[2];
    if (::pipe(out) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const int spawned = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    out_ = out[0];
    if (spawned != 0) throw std::runtime_error("cannot start " + args.front());
    // "PORT /dev/pts/N"
    const std::string line = FirstLine();
    if (line.rfind("PORT /dev/", 0) != 0) throw std::runtime_error("simulator said: " + line);
    path_ = line.substr(5);
  }
  ~SimProcess() {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
    ::close(out_);
  }
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  // "/dev/pts/7".
  const std::string& Path() const { return path_; }
  // As the port worker takes it ("pts/7").
  std::string PortName() const { return path_.substr(5); }

 private:
  std::string FirstLine() {
    std::string line;
    for (;;) {
      pollfd pfd{out_, POLLIN, 0};
      if (::poll(&pfd, 1, 5000) <= 0) break;
      char c;
      if (::read(out_, &c, 1) != 1 || c == '\n') break;
      line += c;
    }
    return line;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  std::string path_;
};

}  // namespace tarvik::bench
