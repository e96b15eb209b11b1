#pragma once
// The connection's main worker thread: identifies the device off the UI
// thread, hands three short steps to the UI thread, then idles until told
// to stop.
#include <functional>
#include <string>

#include "common/clock.h"
#include "common/workerthread.h"

namespace tarvik {

class TController;

// The steps the worker runs synchronously on the UI thread.
class MainThreadSteps {
 public:
  virtual ~MainThreadSteps() = default;
  virtual void PublishIdentity(TController& controller) = 0;
  virtual void ResetFlashState() = 0;
  virtual void DecideUpdate(TController& controller) = 0;
  // Identification failed: tell the user, who may not see the log.
  virtual void ReportNoAnswer() {}
};

class TMainThread {
 public:
  // Created suspended: nothing runs before Resume.
  TMainThread(TController& controller, UiSync& sync, MainThreadSteps& steps, Clock& clock = SystemClock());
  TMainThread(const TMainThread&) = delete;
  TMainThread& operator=(const TMainThread&) = delete;

  void Resume();
  // Asks the thread to end; does not wait.
  void Stop() { thread_.Stop(); }
  bool StopRequested() const { return thread_.StopRequested(); }
  // Returns once the thread has ended. On the UI thread it keeps running the
  // steps the thread hands over meanwhile, so the two cannot wait for each
  // other.
  void WaitFor(bool keepPainting = false) { thread_.WaitFor(keepPainting); }
  bool Finished() const { return thread_.Finished(); }
  // Called on the thread once Identify has returned, with its result. Set it
  // before Resume.
  void SetOnIdentified(std::function<void(bool identified)> hook) { onIdentified_ = std::move(hook); }
  TWorkerThread& Thread() { return thread_; }

 private:
  void Execute();

  TController& controller_;
  MainThreadSteps& steps_;
  Clock& clock_;
  std::function<void(bool)> onIdentified_;
  // Last: ends the thread before the members it reads go.
  TWorkerThread thread_;
};

// "Устройство не отвечает"
std::string NoAnswerText();

}  // namespace tarvik
