#include "common/workerthread.h"

#include <exception>

namespace tarvik {

TWorkerThread::~TWorkerThread() {
  Stop();
  WaitFor();
}

void TWorkerThread::Start(std::function<void()> body) {
  if (started_) return;
  started_ = true;
  thread_ = std::thread([this, body = std::move(body)] {
    try {
      body();
    } catch (const std::exception& e) {
      if (errorSink_) errorSink_(e.what());
    } catch (...) {
      if (errorSink_) errorSink_("unknown error");
    }
    finished_.store(true);
    sync_.Notify();
  });
}

void TWorkerThread::WaitFor(bool keepPainting) {
  if (!thread_.joinable()) {
    if (!started_) finished_.store(true);
    return;
  }
  if (sync_.OnUiThread()) {
    sync_.WaitServicing([this] { return finished_.load(); }, keepPainting);
  }
  thread_.join();
}

void TWorkerThread::RunCounted(const std::function<void()>& step) {
  struct Count {
    std::atomic<int>& n;
    explicit Count(std::atomic<int>& c) : n(c) { ++n; }
    ~Count() { --n; }
    Count(const Count&) = delete;
    Count& operator=(const Count&) = delete;
  } count(stepsOnStack_);
  step();
}

bool TWorkerThread::RunStep(const std::function<void()>& step) {
  if (stop_.load()) return false;
  bool ran = false;
  sync_.RunSync([&] {
    if (stop_.load()) return;
    ran = true;
    RunCounted(step);
  });
  return ran;
}

void TWorkerThread::RunStepAlways(const std::function<void()>& step) {
  sync_.RunSync([&] { RunCounted(step); });
}

}  // namespace tarvik
