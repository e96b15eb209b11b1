#include "device/mainthread.h"

#include "common/text.h"
#include "device/controller.h"

namespace tarvik {

namespace {
constexpr std::uint32_t kIdlePollMs = 50;
}  // namespace

std::string NoAnswerText() { return Utf8ToCp1251("Устройство не отвечает"); }

TMainThread::TMainThread(TController& controller, UiSync& sync, MainThreadSteps& steps, Clock& clock)
    : controller_(controller), steps_(steps), clock_(clock), thread_(sync) {}

void TMainThread::Resume() {
  thread_.Start([this] { Execute(); });
}

void TMainThread::Execute() {
  const bool identified = controller_.Identify();
  if (onIdentified_) onIdentified_(identified);
  // Each step checks the stop request on the UI thread, where a disconnect
  // or a close is ordered before it: no step opens a dialog over a
  // connection that is being torn down, and no disconnect request outlives it.
  if (identified) {
    if (!thread_.RunStep([this] { steps_.PublishIdentity(controller_); })) return;
    if (!thread_.RunStep([this] { steps_.ResetFlashState(); })) return;
    if (!thread_.RunStep([this] { steps_.DecideUpdate(controller_); })) return;
    // Idle: nothing more is sent to the device; only the stop request is watched.
    while (!thread_.StopRequested()) clock_.SleepMs(kIdlePollMs);
    return;
  }
  thread_.RunStep([this] {
    controller_.WriteLog(NoAnswerText());
    steps_.ReportNoAnswer();
    controller_.ReportNoAnswer();
    steps_.ResetFlashState();
  });
}

}  // namespace tarvik
