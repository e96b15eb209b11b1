#pragma once
// Steps that worker threads run synchronously on the UI thread.
//
// A worker hands a step over and blocks until the UI thread has run it. The
// UI thread runs handed-over steps from its event loop, and also while it
// waits for a worker to end (WaitServicing), so a worker that is blocked on a
// step can always finish: the wait cannot deadlock. The Qt layer wakes its
// event loop through the wake hook; tests drive the same queue by hand.
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace tarvik {

class UiSync {
 public:
  virtual ~UiSync() = default;
  // Runs the step on the UI thread and returns once it has finished. Called
  // on the UI thread itself, the step runs at once. An exception of the step
  // is rethrown to the caller.
  virtual void RunSync(const std::function<void()>& step) = 0;
  // On the UI thread: returns once done() holds, running every step that
  // workers hand over meanwhile. Sleeps between checks, never spins. With
  // keepPainting the windows also repaint meanwhile (they take no input), for
  // waits long enough to be seen.
  virtual void WaitServicing(const std::function<bool()>& done, bool keepPainting = false) = 0;
  virtual bool OnUiThread() const = 0;
  // Wakes a WaitServicing to check its condition again at once (for example
  // when a worker ends).
  virtual void Notify() = 0;
};

class UiStepQueue final : public UiSync {
 public:
  // The calling thread becomes the UI thread unless another is named.
  explicit UiStepQueue(std::thread::id uiThread = std::this_thread::get_id());
  ~UiStepQueue() override;

  void RunSync(const std::function<void()>& step) override;
  void WaitServicing(const std::function<bool()>& done, bool keepPainting = false) override;
  bool OnUiThread() const override { return std::this_thread::get_id() == uiThread_; }

  // UI thread: runs the steps queued so far; returns how many ran.
  std::size_t RunPending();
  void Notify() override;
  // Called on the handing-over thread each time a step is queued, so an event
  // loop can schedule RunPending. Set it before any worker starts.
  void SetWakeHook(std::function<void()> hook) { wakeHook_ = std::move(hook); }
  // Called on the UI thread between checks of a wait that keeps painting;
  // it may take up to the given milliseconds. Set it before any wait.
  void SetPaintHook(std::function<void(int maxMs)> hook) { paintHook_ = std::move(hook); }

 private:
  struct Pending {
    std::function<void()> step;
    bool done = false;
    std::exception_ptr error;
  };

  std::thread::id uiThread_;
  std::mutex mutex_;
  std::condition_variable uiWake_;
  std::condition_variable workerWake_;
  std::deque<std::shared_ptr<Pending>> queue_;
  std::function<void()> wakeHook_;
  std::function<void(int)> paintHook_;
  bool notified_ = false;
};

}  // namespace tarvik
