#pragma once
// The UI thread's side of a test: serves the workers' steps until a
// condition holds, for a bounded time, so that a failure ends in a message
// instead of the suite's time-out.
#include <chrono>
#include <cstdint>
#include <functional>

#include "common/uisync.h"

namespace tarvik::test {

// True when done() held within limitMs of real time.
inline bool ServeUntil(UiSync& sync, const std::function<bool()>& done, std::uint32_t limitMs = 20000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  sync.WaitServicing([&] { return done() || std::chrono::steady_clock::now() > deadline; });
  return done();
}

}  // namespace tarvik::test
