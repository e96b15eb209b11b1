#pragma once
// Small helpers shared by the serial tests.
#include <termios.h>

#include <ctime>

#include "serial/portwaits.h"

namespace tarvik::test {

// CPU time the whole process has used, in milliseconds.
inline double ProcessCpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
}

inline termios TermiosOf(int fd) {
  termios t{};
  tcgetattr(fd, &t);
  return t;
}

}  // namespace tarvik::test
