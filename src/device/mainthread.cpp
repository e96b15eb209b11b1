#include "device/mainthread.h"

#include "device/controller.h"

namespace tarvik {

TMainThread::TMainThread(TController& controller, UiSync& sync, MainThreadSteps& steps, Clock& clock)
    : controller_(controller), sync_(sync), steps_(steps), clock_(clock) {}

TMainThread::~TMainThread() {
  Stop();
  WaitFor();
}

void TMainThread::Resume() {
  if (thread_.joinable() || finished_.load()) return;
  thread_ = std::thread([this] { Execute(); });
}

void TMainThread::WaitFor() {
  if (!thread_.joinable()) return;
  if (sync_.OnUiThread()) sync_.WaitServicing([this] { return finished_.load(); });
  thread_.join();
}

void TMainThread::Execute() {
  try {
    const bool identified = controller_.Identify();
    // A disconnect asked for during identification ends the thread here: no
    // decision dialog may open for a connection that is being torn down, and
    // no queued click may outlive it to hit the next connection.
    if (stop_.load()) {
      finished_.store(true);
      sync_.Notify();
      return;
    }
    if (identified) {
      sync_.RunSync([this] { steps_.PublishIdentity(controller_); });
      sync_.RunSync([this] { steps_.ResetFlashState(); });
      sync_.RunSync([this] { steps_.DecideUpdate(controller_); });
      // Idle: nothing more is sent to the device; only the stop request is watched.
      while (!stop_.load()) clock_.SleepMs(50);
    } else {
      controller_.RequestDisconnect();
      sync_.RunSync([this] { steps_.ResetFlashState(); });
    }
  } catch (...) {
    // A failing step must not take the process down; the connection is left
    // for the user to close.
  }
  finished_.store(true);
  sync_.Notify();
}

}  // namespace tarvik
