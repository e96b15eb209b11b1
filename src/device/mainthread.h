#pragma once
// The connection's main worker thread: identifies the device off the UI
// thread, hands three short steps to the UI thread, then idles until told
// to stop.
#include <atomic>
#include <thread>

#include "common/clock.h"
#include "common/uisync.h"

namespace tarvik {

class TController;

// The steps the worker runs synchronously on the UI thread.
class MainThreadSteps {
 public:
  virtual ~MainThreadSteps() = default;
  virtual void PublishIdentity(TController& controller) = 0;
  virtual void ResetFlashState() = 0;
  virtual void DecideUpdate(TController& controller) = 0;
};

class TMainThread {
 public:
  // Created suspended: nothing runs before Resume.
  TMainThread(TController& controller, UiSync& sync, MainThreadSteps& steps, Clock& clock = SystemClock());
  TMainThread(const TMainThread&) = delete;
  TMainThread& operator=(const TMainThread&) = delete;
  // Stops the thread and waits for it.
  ~TMainThread();

  void Resume();
  // Asks the thread to end; does not wait.
  void Stop() { stop_.store(true); }
  bool StopRequested() const { return stop_.load(); }
  // Returns once the thread has ended. On the UI thread it keeps running the
  // steps the thread hands over meanwhile, so the two cannot wait for each
  // other.
  void WaitFor();
  bool Finished() const { return finished_.load(); }

 private:
  void Execute();

  TController& controller_;
  UiSync& sync_;
  MainThreadSteps& steps_;
  Clock& clock_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> finished_{false};
  std::thread thread_;
};

}  // namespace tarvik
