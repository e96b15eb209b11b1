#pragma once
// A worker thread of a connection (the main worker thread, a reflash): it
// starts once, reads a stop request between its steps, runs its UI steps
// synchronously on the UI thread, and is waited for by the UI thread, which
// keeps serving those steps meanwhile, so the wait cannot deadlock.
//
// A class that runs on one keeps the TWorkerThread as its last member: it is
// then destroyed first, and its destructor (stop, wait) ends the thread while
// everything the thread reads is still there.
#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "common/uisync.h"

namespace tarvik {

class TWorkerThread {
 public:
  // Where an error that ends the body is told (a log line); without one it
  // is dropped.
  using ErrorSink = std::function<void(const std::string& what)>;

  explicit TWorkerThread(UiSync& sync) : sync_(sync) {}
  // Asks for a stop and waits for the thread.
  ~TWorkerThread();
  TWorkerThread(const TWorkerThread&) = delete;
  TWorkerThread& operator=(const TWorkerThread&) = delete;

  // Starts the body on its own thread; only the first call does anything.
  // An error the body lets out ends it and goes to the error sink.
  void Start(std::function<void()> body);
  void SetErrorSink(ErrorSink sink) { errorSink_ = std::move(sink); }

  // Asks the thread to end; does not wait. Never cleared.
  void Stop() { stop_.store(true); }
  bool StopRequested() const { return stop_.load(); }
  // The body has returned (or was never started and Stop was asked).
  bool Finished() const { return finished_.load(); }
  bool Started() const { return started_; }

  // Returns once the thread has ended. On the UI thread it keeps running the
  // steps the thread hands over meanwhile; with keepPainting it also lets the
  // windows repaint (no user input is taken).
  void WaitFor(bool keepPainting = false);

  // For the body: runs the step on the UI thread and waits for it, unless a
  // stop has been asked for by the time the UI thread takes it up. The check
  // is made on the UI thread, so a Stop made there before is always seen.
  // True when the step ran.
  bool RunStep(const std::function<void()>& step);
  // The same without the stop check: a step that runs whatever happens.
  void RunStepAlways(const std::function<void()>& step);

  UiSync& Sync() { return sync_; }
  // On the UI thread: one of this thread's steps is running further up the
  // stack (a dialog it opened). Waiting for the thread from there would wait
  // for ourselves.
  bool StepOnStack() const { return stepsOnStack_.load() > 0; }

 private:
  void RunCounted(const std::function<void()>& step);

  UiSync& sync_;
  ErrorSink errorSink_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> finished_{false};
  bool started_ = false;
  std::atomic<int> stepsOnStack_{0};
  std::thread thread_;
};

}  // namespace tarvik
