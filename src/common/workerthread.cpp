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

bool TWorkerThread::RunStep(const std::function<void()>& step) {
  if (stop_.load()) return false;
  bool ran = false;
  sync_.RunSync([&] {
    if (stop_.load()) return;
    ran = true;
    step();
  });
  return ran;
}

void TWorkerThread::RunStepAlways(const std::function<void()>& step) { sync_.RunSync(step); }

}  // namespace tarvik
