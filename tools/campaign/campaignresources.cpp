#include "campaign/campaignresources.h"

#include <chrono>
#include <thread>

namespace tarvik::campaign {

Resources CountResourcesBackTo(const Resources& before, int limitMs) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  Resources now = CountResources();
  while (!(now == before) && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    now = CountResources();
  }
  return now;
}

}  // namespace tarvik::campaign
