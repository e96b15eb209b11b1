// The main window's connection life cycle: the connection dialog, the port
// with its log writer, the controller and the main worker thread, and their
// release in the reverse order.
#include <QAction>
#include <QDialog>
#include <QMessageBox>
#include <QProgressBar>
#include <QTimer>
#include <QToolButton>

#include "app/formmain.h"
#include "app/mainbridge.h"
#include "common/regex.h"
#include "common/ui/qtext.h"
#include "connect/ui/connectdlg.h"
#include "device/controller.h"
#include "device/mainthread.h"
#include "outqueue/logmemowriter.h"
#include "outqueue/ui/drainoutput.h"
#include "outqueue/ui/statuspane.h"
#include "reflash/ui/formupdateins.h"
#include "serial/comportworker.h"
#include "serial/portlist.h"

namespace tarvik {

void TformMain::SetReflashForm(TformUpdateIns* form) { reflashForm_ = form; }

TformUpdateIns* TformMain::ReflashForm() const { return reflashForm_.data(); }

const FirmwareCatalogue* TformMain::Catalogue() const {
  return reflashForm_ ? &reflashForm_->Catalogue() : nullptr;
}

DecisionView& TformMain::Decisions() {
  if (decisionView_ != nullptr) return *decisionView_;
  return *bridge_;
}

TformUpdateInsHooks TformMain::ReflashHooks() {
  TformUpdateInsHooks hooks;
  hooks.LockMain = [this] {
    setEnabled(false);
    LockMainControls();
  };
  hooks.EnableMain = [this] { setEnabled(true); };
  hooks.UnlockMainControls = [this] { UnlockMainControls(); };
  hooks.StartTimer2 = [this] { ui_.Timer2->start(); };
  hooks.VersionLine = [this]() -> std::optional<std::string> {
    if (!controller_) return std::nullopt;
    return controller_->VersionLine;
  };
  hooks.UnlockUi = [this] {
    if (controller_) controller_->UnlockUi();
  };
  return hooks;
}

bool TformMain::OpenPort(const std::string& portName, bool highSpeed, bool reportErrors) {
  logWriter_ = std::make_unique<TLogMemoWriter>(Memo1(), *outQueue_);
  try {
    portWorker_ = std::make_unique<TComPortWorker>(portName, highSpeed, logWriter_.get(), true);
    portWorker_->Open();
    return true;
  } catch (const std::exception& e) {
    if (reportErrors) {
      ShowError(QStringLiteral("Ошибка при открытии Com порта! ") + QString::fromLocal8Bit(e.what()));
    }
    portWorker_.reset();
    logWriter_.reset();
    return false;
  }
}

void TformMain::ClosePort() {
  if (!portWorker_) return;
  portWorker_.reset();
  logWriter_.reset();
}

void TformMain::tbtnConnectClick() {
  // One connection at a time: mnuConnect stays enabled while a device is
  // being identified, and a second connect then must not start another.
  if (portWorker_ || workerThread_) return;

  TdlgConnect dialog(portList_ ? portList_ : PortListFn(SystemSerialPorts), this);
  dialog.LoadPort(*settings_);
  const int result = connectDialogRunner_ ? connectDialogRunner_(dialog) : dialog.exec();
  if (result == QDialog::Accepted) {
    const std::string portText = dialog.ChosenPortText();
    const std::string portName = RegexFirstMatch("\\w+", portText);
    if (OpenPort(portName, false, true)) {
      ui_.tbtnConnect->setEnabled(false);
      ui_.panels[0]->setText(FromCp(portText));
      controller_ = std::make_unique<TController>(portWorker_.get(), *outQueue_, *bridge_);
      controller_->VersionLine.clear();
      workerThread_ = std::make_unique<TMainThread>(*controller_, *uiSteps_, *bridge_);
      workerThread_->Resume();
    }
  }
  dialog.SavePort(*settings_);
}

void TformMain::tbtnDisconnectClick() {
  if (bridge_->InStep()) {
    // A worker's step (a decision dialog) is still on the stack, and the
    // worker waits for it: tearing the worker down from in here would wait
    // for ourselves. Do it once the step has returned.
    QTimer::singleShot(0, this, [this] { tbtnDisconnectClick(); });
    return;
  }
  TearDownConnection();
  ui_.tbtnConnect->setEnabled(true);
  ui_.mnuConnect->setEnabled(true);
  ui_.tbtnDisconnect->setEnabled(false);
  ui_.mnuDisconnect->setEnabled(false);
  ui_.panels[0]->clear();
  ui_.panels[1]->clear();
  ui_.RzProgressBar1->hide();
}

void TformMain::TearDownConnection() {
  if (workerThread_) {
    workerThread_->Stop();
    workerThread_->WaitFor();  // keeps serving the worker's UI steps meanwhile
    workerThread_.reset();
  }
  controller_.reset();
  ClosePort();
}

}  // namespace tarvik
