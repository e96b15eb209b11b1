#pragma once
// Runs another program to its end and keeps what it printed: the agent that
// performs a reflash in a process of its own.
#include <string>
#include <vector>

namespace tarvik::campaign {

struct ProcessResult {
  bool started = false;
  // Killed because it did not end in time.
  bool timedOut = false;
  int exitCode = -1;
  std::string out;
  std::string err;
};

// argv[0] is the program's path. Ends the program (and waits for it) once
// limitMs of real time have passed.
ProcessResult RunProcess(const std::vector<std::string>& argv, int limitMs);

}  // namespace tarvik::campaign
