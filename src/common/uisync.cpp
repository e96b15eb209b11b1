#include "common/uisync.h"

#include <chrono>

namespace tarvik {

UiStepQueue::UiStepQueue(std::thread::id uiThread) : uiThread_(uiThread) {}

UiStepQueue::~UiStepQueue() = default;

void UiStepQueue::RunSync(const std::function<void()>& step) {
  if (OnUiThread()) {
    step();
    return;
  }
  auto pending = std::make_shared<Pending>();
  pending->step = step;
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(pending);
  }
  uiWake_.notify_all();
  if (wakeHook_) wakeHook_();
  std::unique_lock lock(mutex_);
  workerWake_.wait(lock, [&] { return pending->done; });
  if (pending->error) std::rethrow_exception(pending->error);
}

std::size_t UiStepQueue::RunPending() {
  std::size_t ran = 0;
  for (;;) {
    std::shared_ptr<Pending> next;
    {
      std::lock_guard lock(mutex_);
      if (queue_.empty()) break;
      next = queue_.front();
      queue_.pop_front();
    }
    std::exception_ptr error;
    try {
      next->step();
    } catch (...) {
      error = std::current_exception();
    }
    {
      std::lock_guard lock(mutex_);
      next->error = std::move(error);
      next->done = true;
      // The worker must hold the last reference: the error is then released
      // on the thread that rethrew it, never here while it is still read.
      next.reset();
    }
    workerWake_.notify_all();
    ++ran;
  }
  return ran;
}

void UiStepQueue::WaitServicing(const std::function<bool()>& done, bool keepPainting) {
  constexpr int kCheckMs = 5;
  for (;;) {
    RunPending();
    if (done()) return;
    if (keepPainting && paintHook_) paintHook_(kCheckMs);
    std::unique_lock lock(mutex_);
    // The bounded wait re-checks conditions that nobody notifies about.
    uiWake_.wait_for(lock, std::chrono::milliseconds(kCheckMs), [&] { return !queue_.empty() || notified_; });
    notified_ = false;
  }
}

void UiStepQueue::Notify() {
  {
    std::lock_guard lock(mutex_);
    notified_ = true;
  }
  uiWake_.notify_all();
}

}  // namespace tarvik
