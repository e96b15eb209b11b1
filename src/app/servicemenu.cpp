// The service menu's reflash: the HEX file viewer, then the procedure on the
// connection's task thread. This thread waits for it: the windows keep
// painting and the status-bar bar moving, but the program takes no input
// until it is over, and the connection is dropped at its end.
#include "app/servicemenu.h"

#include <QProgressBar>
#include <QTimer>

#include "app/formmain.h"
#include "common/ui/qtext.h"
#include "common/ui/waitpainting.h"
#include "device/connection.h"
#include "outqueue/outelement.h"
#include "outqueue/ui/drainoutput.h"
#include "reflash/progressmodel.h"
#include "reflash/servicereflash.h"

namespace tarvik {
namespace {

class ServiceMenuView final : public ServiceReflashView {
 public:
  ServiceMenuView(QProgressBar& bar, std::function<void(const QString&)> showError)
      : bar_(bar), showError_(std::move(showError)) {}

  void ShowProgress(std::int32_t total, std::int32_t partsComplete) override {
    TProgressModel model;
    model.SetTotal(total);
    model.SetPartsComplete(partsComplete);
    bar_.setValue(model.Percent());
  }
  void ShowError(const std::string& text) override { showError_(FromCp(text)); }

 private:
  QProgressBar& bar_;
  std::function<void(const QString&)> showError_;
};

}  // namespace

void TformMain::mnuUpdateClick() {
  if (!hexViewer_) return;
  const HexViewerChoice choice = hexViewer_();
  if (!choice.Accepted) return;
  ui_.RzProgressBar1->setValue(0);
  TController* controller = Controller();
  if (controller == nullptr) return;

  ServiceMenuView view(*ui_.RzProgressBar1, [this](const QString& text) { ShowError(text); });
  auto task = std::make_unique<TServiceReflash>(
      TServiceReflash::Setup{
          .Controller = *controller, .Queue = *outQueue_, .Memo = Memo1(), .View = view, .Sync = *uiSteps_},
      choice.Path.empty() ? nullptr : &choice.Grid);
  const auto done = task->Done();
  // Only an idle connection hands its device over: not while it is still
  // being identified.
  if (!connection_->StartTask(std::move(task))) {
    ShowError(Ru("Устройство занято, перепрошивка не начата."));
    return;
  }
  ui_.RzProgressBar1->show();
  // Timer1's drain may run a full event loop, which would let input in; the
  // wait applies the queue itself, so the log follows the exchanges as they
  // happen.
  ui_.Timer1->stop();
  WaitPainting(
      *uiSteps_, [&] { return done->load(); },
      [this] {
        if (outQueue_->PeekKind() != kOutNone) DrainOutput(*outQueue_, messageHook_);
      });
  // The disconnect request, queued last, is applied by the next drain.
  ui_.Timer1->start();
}

}  // namespace tarvik
