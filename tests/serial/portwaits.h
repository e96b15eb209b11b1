#pragma once
// Helpers of the serial tests that hold on every system.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>

#include "serial/deviceerror.h"

namespace tarvik::test {

// Real-time wait for a condition that another thread or the system brings
// about; false when it did not come within the limit.
inline bool WaitUntil(const std::function<bool()>& condition, int limitMs = 2000) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Milliseconds of the steady clock.
inline std::int64_t RealMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The error an action raised; a test failure when it raised none.
template <typename F>
EDeviceError CatchDeviceError(F&& action) {
  try {
    action();
  } catch (const EDeviceError& e) {
    return e;
  }
  ADD_FAILURE() << "no EDeviceError";
  return EDeviceError("", -1);
}

}  // namespace tarvik::test
