#pragma once
// Small helpers shared by the serial tests.
#include <termios.h>

#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <thread>

namespace tarvik::test {

// Real-time wait for a condition that another thread or the kernel brings
// about; false when it did not come within the limit.
inline bool WaitUntil(const std::function<bool()>& condition, int limitMs = 2000) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

inline std::int64_t RealMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

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
