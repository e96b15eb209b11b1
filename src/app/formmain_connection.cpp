// The main window's connection life cycle: the connection dialog, the port
// with its log writer, the controller and the main worker thread, and their
// release in the reverse order.
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QProgressBar>
#include <QTimer>
#include <QToolButton>

#include "app/formmain.h"
#include "app/mainbridge.h"
#include "common/ui/qtext.h"
#include "connect/ui/connectdlg.h"
#include "device/connection.h"
#include "outqueue/ui/drainoutput.h"
#include "outqueue/ui/statuspane.h"
#include "reflash/ui/reflashwindow.h"
#include "reflash/updatethread.h"
#include "serial/comportworker.h"
#include "serial/link.h"
#include "serial/portlist.h"

namespace tarvik {

namespace {
// How often a disconnect held up by an open decision dialog looks again.
constexpr int kDisconnectRetryMs = 50;
}  // namespace

void TformMain::SetReflashForm(TformUpdateIns* form) { reflashForm_ = form; }

TformUpdateIns* TformMain::ReflashForm() const { return reflashForm_.data(); }

const FirmwareCatalogue* TformMain::Catalogue() const {
  return reflashForm_ ? &reflashForm_->Catalogue() : nullptr;
}

TformUpdateInsHooks TformMain::ReflashHooks() {
  TformUpdateInsHooks hooks;
  hooks.LockMain = [this] {
    setEnabled(false);
    LockMainControls();
  };
  hooks.EnableMain = [this] { setEnabled(true); };
  hooks.UnlockMainControls = [this] { UnlockMainControls(); };
  hooks.StartDisconnectTimer = [this] { ui_.disconnectTimer->start(); };
  hooks.Device = [this]() -> std::optional<DeviceIdentity> {
    if (Controller() == nullptr) return std::nullopt;
    return Controller()->Identity;
  };
  hooks.UnlockUi = [this] {
    if (Controller() != nullptr) Controller()->UnlockUi();
  };
  hooks.StartReflash = [this](const std::vector<std::string>& imageLines, ReflashView& view,
                              std::chrono::system_clock::time_point start) {
    return StartReflash(imageLines, view, start);
  };
  hooks.WallNow = [this] { return clock_.WallNow(); };
  hooks.ReflashRunning = [this] { return connection_->TaskRunning(); };
  hooks.StopReflash = [this] {
    if (ConnectionTask* task = connection_->Task()) task->Thread().Stop();
  };
  hooks.SetVersionPane = [this](const QString& text) { ui_.panels[1]->setText(text); };
  hooks.ConfirmStop = [this](const QString& question) {
    return stopQuestion_ ? stopQuestion_(question) : AskToStopReflash(ReflashForm(), question);
  };
  return hooks;
}

TComPortWorker* TformMain::PortWorker() const { return connection_->PortWorker(); }
TController* TformMain::Controller() const { return connection_->Controller(); }
TMainThread* TformMain::WorkerThread() const { return connection_->MainThread(); }

bool TformMain::StartReflash(const std::vector<std::string>& imageLines, ReflashView& view,
                             std::chrono::system_clock::time_point start) {
  TController* controller = Controller();
  if (controller == nullptr) return false;
  auto task = std::make_unique<TUpdateThread>(*uiSteps_, clock_);
  task->SetDevice(controller->Identity);
  task->SetImageLines(imageLines);
  task->SetController(controller);
  task->SetStartTime(start);
  task->SetView(&view);
  task->SetCheckVersionAfter(true);
  task->SetOnEnded([this](const ReflashReport& report) { lastReflash_ = report; });
  lastReflash_.reset();
  // The main worker thread is asked to stop; it only idles by now.
  return connection_->StartTask(std::move(task));
}

bool TformMain::OpenPort(const ParsedLinkAddress& address, bool highSpeed, bool reportErrors) {
  try {
    connection_->Open(address.Take(), highSpeed);
    return true;
  } catch (const std::exception& e) {
    if (reportErrors) ShowError(FromCp(PortOpenFailureText(e)));
    return false;
  }
}

void TformMain::ClosePort() { connection_->Close(); }

void TformMain::tbtnConnectClick() {
  // One connection at a time: mnuConnect stays enabled while a device is
  // being identified, and a second connect then must not start another.
  if (connection_->State() != ConnectionState::Closed) return;

  TdlgConnect dialog(portList_ ? portList_ : PortListFn(SystemSerialPorts), this);
  dialog.LoadPort(*settings_);
  dialog.SetPortSearch({.Log = *bridge_, .Sync = *uiSteps_, .Catalogue = Catalogue()});
  const int result = connectDialogRunner_ ? connectDialogRunner_(dialog) : dialog.exec();
  if (result == QDialog::Accepted) {
    const std::string portText = dialog.ChosenPortText();
    if (OpenPort(ParseLinkAddress(portText), false, true)) {
      ui_.tbtnConnect->setEnabled(false);
      ui_.panels[0]->setText(FromCp(portText));
      ui_.panels[2]->clear();
      connection_->StartIdentification(*bridge_);
    }
  }
  dialog.SavePort(*settings_);
}

void TformMain::tbtnDisconnectClick() {
  // A disconnect that comes up while the teardown waits for its workers
  // (a queued click drained meanwhile) has nothing left to do.
  if (connection_->State() == ConnectionState::Closing) return;
  if (!TearDownConnection()) {
    // A worker's step (a decision dialog) is still on the stack and the
    // worker waits for it; the workers are asked to stop, and the rest
    // follows once the step has returned.
    QTimer::singleShot(kDisconnectRetryMs, this, [this] { tbtnDisconnectClick(); });
    return;
  }
  ui_.tbtnConnect->setEnabled(true);
  ui_.mnuConnect->setEnabled(true);
  ui_.tbtnDisconnect->setEnabled(false);
  ui_.mnuDisconnect->setEnabled(false);
  ui_.panels[0]->clear();
  ui_.panels[1]->clear();
  ui_.serviceProgressBar->hide();
  // The reflash window is gone by now: how its reflash ended stays where the
  // technician looks next, a stop after the erase above all.
  if (lastReflash_) {
    const ReflashReport report = *lastReflash_;
    lastReflash_.reset();
    const QString text = FromCp(ReflashSummaryText(report));
    if (!text.isEmpty()) ShowNotice(text);
    // A reflash stopped after the device was reached left it without working
    // firmware, and the window that would have said so is gone: a status line
    // is too short to be read for that.
    if (report.outcome == ReflashOutcome::Stopped && report.device != DeviceAfter::Unchanged &&
        messageHook_) {
      messageHook_(text);
    }
  }
  // While the reflash window is open the main window takes no input, so a
  // disconnect under it comes from the line, not from the user.
  if (reflashForm_) reflashForm_->ConnectionClosed();
}

bool TformMain::TearDownConnection() {
  // A task (a reflash) may be inside an exchange of up to 15 s that cannot
  // be cut: the window says so and keeps painting while it waits.
  // So may the identification, whose question and its retries take seconds
  // with a silent device: the user hears at once why nothing happens.
  const bool longWait = connection_->TaskRunning() || connection_->State() == ConnectionState::Identifying;
  const QString notice = ui_.panels[2]->text();
  if (longWait) {
    ui_.panels[2]->setText(FromCp(ClosingText()));
    QApplication::setOverrideCursor(Qt::WaitCursor);
  }
  const bool closed = connection_->Close(longWait);
  if (longWait) {
    QApplication::restoreOverrideCursor();
    ui_.panels[2]->setText(notice);
  }
  return closed;
}

}  // namespace tarvik
