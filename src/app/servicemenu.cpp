// The service menu's reflash: the HEX file viewer, then the procedure on the
// connection's task thread. This thread waits for it: the windows keep
// painting and the status-bar bar moving, but the program takes no input
// until it is over, and the connection is dropped at its end. The outcome is
// told where the technician looks, the log being hidden by default: a failure
// in a message box and the status bar, a success in the status bar.
#include "app/servicemenu.h"

#include <QProgressBar>
#include <QTimer>

#include "app/formmain.h"
#include "common/ui/qtext.h"
#include "common/ui/waitpainting.h"
#include "device/connection.h"
#include "outqueue/outelement.h"
#include "outqueue/ui/drainoutput.h"
#include "reflash/durations.h"
#include "reflash/progressmodel.h"
#include "reflash/servicereflash.h"
#include "reflash/updatethread.h"

namespace tarvik {
namespace {

class ServiceMenuView final : public ServiceReflashView {
 public:
  ServiceMenuView(QProgressBar& bar, Clock& clock, std::function<void(const QString&)> notice)
      : bar_(bar), clock_(clock), start_(clock.WallNow()), notice_(std::move(notice)) {}

  // The bar, and beside it what the reflash window would show: the stage,
  // the per cent and the times.
  void ShowProgress(std::int32_t total, std::int32_t partsComplete) override {
    TProgressModel model;
    model.SetTotal(total);
    model.SetPartsComplete(partsComplete);
    bar_.setValue(model.Percent());
    const std::uint32_t elapsed = ElapsedSeconds(clock_.WallNow(), start_);
    const QString text =
        FromCp(StageReflashingText()) + QStringLiteral(" %1 %  ").arg(model.Percent()) +
        FromCp(ElapsedLabelText() + " " + FormatDuration(elapsed) + " " + RemainingLabelText() + " " +
               FormatDuration(RemainingSeconds(elapsed, partsComplete, total)));
    notice_(text.trimmed());
  }
  void ShowVersionAfter(const std::string& versionLine) override { versionAfter_ = versionLine; }
  // Kept for the end: a box shown now would hold the procedure up.
  void ShowError(const std::string& text) override { error_ = text; }
  void ShowOutcome(ServiceReflashOutcome outcome) override { outcome_ = outcome; }

  // The failure line to show, empty after a success or when nothing was told.
  std::string FailureText() const {
    switch (outcome_) {
      case ServiceReflashOutcome::EraseFailed:
        return EraseFailedText();
      case ServiceReflashOutcome::WriteFailed:
        return WriteFailedText();
      case ServiceReflashOutcome::Error:
        return error_;
      default:
        return {};
    }
  }
  bool Succeeded() const { return outcome_ == ServiceReflashOutcome::Settled; }
  // What the device named after the reflash.
  QString SuccessText() const {
    QString text = FromCp(ReflashSucceededText());
    if (versionAfter_.empty()) return text + Ru(" Устройство не ответило на запрос версии.");
    return text + Ru(" Устройство называет версию ") + FromCp(versionAfter_) + u'.';
  }

 private:
  QProgressBar& bar_;
  Clock& clock_;
  const std::chrono::system_clock::time_point start_;
  std::function<void(const QString&)> notice_;
  std::string versionAfter_;
  std::string error_;
  ServiceReflashOutcome outcome_ = ServiceReflashOutcome::NotStarted;
};

}  // namespace

void TformMain::mnuUpdateClick() {
  if (!hexViewer_) return;
  const HexViewerChoice choice = hexViewer_();
  if (!choice.Accepted) return;
  ui_.serviceProgressBar->setValue(0);
  TController* controller = Controller();
  if (controller == nullptr) return;
  // A viewer left without a file (one it refused) has nothing to write; the
  // technician has a device still connected and should hear why nothing
  // happened.
  if (choice.Path.empty()) {
    const QString text = Ru("Файл прошивки не выбран, перепрошивка не начата.");
    ShowNotice(text);
    ShowError(text);
    return;
  }

  ServiceMenuView view(*ui_.serviceProgressBar, clock_, [this](const QString& text) { ShowNotice(text); });
  auto task = std::make_unique<TServiceReflash>(TServiceReflash::Setup{.Controller = *controller,
                                                                       .View = view,
                                                                       .Sync = *uiSteps_,
                                                                       .Time = clock_,
                                                                       .AskVersionAfter = true},
                                                &choice.Grid);
  const auto done = task->Done();
  // Only an idle connection hands its device over: not while it is still
  // being identified.
  if (!connection_->StartTask(std::move(task))) {
    ShowError(Ru("Устройство занято, перепрошивка не начата."));
    return;
  }
  ui_.serviceProgressBar->show();
  // The queue's drain may run a full event loop, which would let input in; the
  // wait applies the queue itself, so the log follows the exchanges as they
  // happen.
  ui_.drainTimer->stop();
  WaitPainting(
      *uiSteps_, [&] { return done->load(); },
      [this] {
        if (outQueue_->PeekKind() != kOutNone) DrainOutput(*outQueue_, messageHook_);
      });
  // The disconnect request, queued last, is applied by the next drain,
  // which the box below lets run.
  ui_.drainTimer->start();
  const std::string failure = view.FailureText();
  if (!failure.empty()) {
    ShowNotice(FromCp(failure));
    ShowError(FromCp(failure));
  } else if (view.Succeeded()) {
    ShowNotice(view.SuccessText());
  } else {
    ShowNotice(QString());
  }
}

}  // namespace tarvik
