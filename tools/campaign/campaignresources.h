#pragma once
// What the process holds: its open descriptors (handles on Windows) and its
// threads, counted before and after a reflash to see that nothing is left.
namespace tarvik::campaign {

struct Resources {
  int descriptors = -1;
  int threads = -1;
  bool operator==(const Resources&) const = default;
};

Resources CountResources();

// Counts again for up to limitMs of real time until the count is back at
// before: a thread that has just been joined may still be on its way out.
Resources CountResourcesBackTo(const Resources& before, int limitMs = 2000);

}  // namespace tarvik::campaign
