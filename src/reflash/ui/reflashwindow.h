#pragma once
// The reflash window: shows the current and the offered firmware version,
// lets the user start a reflash and watch it, and leave. While it is open
// the main window takes no input; leaving it always drops the connection.
#include <QDialog>
#include <QPointer>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "device/deviceidentity.h"
#include "firmware/selection.h"
#include "reflash/flashstate.h"
#include "reflash/reflashview.h"

class QGroupBox;
class QLabel;
class QListWidget;
class QPushButton;
class QTimer;

namespace tarvik {

class TPartsProgressBar;

// What the window asks of the main window and of the connection. The main
// window wires them; an empty hook is skipped.
struct TformUpdateInsHooks {
  // Disables the main window and runs its LockMainControls.
  std::function<void()> LockMain;
  // Enables the main window again.
  std::function<void()> EnableMain;
  std::function<void()> UnlockMainControls;
  // Starts the main window's one-shot disconnect timer (disconnectTimer).
  std::function<void()> StartDisconnectTimer;
  // What the controller identified; empty optional while there is no
  // controller.
  std::function<std::optional<DeviceIdentity>()> Device;
  // The controller's UnlockUi.
  std::function<void()> UnlockUi;
  // Starts a reflash of the image's lines on the connection, reporting to
  // the view and measuring its times from start; false when it could not
  // start (no connection, or one that is not idle).
  std::function<bool(const std::vector<std::string>& imageLines, ReflashView& view,
                     std::chrono::system_clock::time_point start)>
      StartReflash;
  // The wall time of the clock the reflash runs on.
  std::function<std::chrono::system_clock::time_point()> WallNow;
  // The reflash worker is still running.
  std::function<bool()> ReflashRunning;
  // Asks the reflash worker to stop; does not wait.
  std::function<void()> StopReflash;
  // The main window's status-bar panel 1 (the device's firmware version).
  std::function<void(const QString&)> SetVersionPane;
  // Asks the user whether to stop the reflash under way, saying what that
  // leaves the device with; true to stop. Empty: a message box asks.
  std::function<bool(const QString& question)> ConfirmStop;
};

// The window's controls, built in code.
struct TformUpdateInsUi {
  QLabel* lbCurrentVersionHead = nullptr;
  QLabel* lbCurrentVersion = nullptr;
  QLabel* lbNewVersionHead = nullptr;
  QLabel* lbNewVersion = nullptr;
  QLabel* lbTimeAfterHead = nullptr;
  QLabel* lbTimeAfter = nullptr;
  QLabel* lbTimeLostHead = nullptr;
  QLabel* lbTimeLost = nullptr;
  QLabel* lbError = nullptr;
  TPartsProgressBar* reflashProgressBar = nullptr;
  QPushButton* btnUpdateVer = nullptr;
  QPushButton* btnExit = nullptr;
  QGroupBox* versionChoiceGroup = nullptr;
  QListWidget* versionList = nullptr;
  QPushButton* chooseVersionButton = nullptr;
};

// The question before a reflash under way is stopped, in a box over parent
// whose default, Enter, Space and Esc all go on with the reflash; true to
// stop.
bool AskToStopReflash(QWidget* parent, const QString& question);

class TformUpdateIns : public QDialog, public ReflashView {
  Q_OBJECT

 public:
  // The window is not a child of the main window: disabling the main window
  // must not disable it. It opens centred on centreOn.
  explicit TformUpdateIns(TformUpdateInsHooks hooks, QWidget* centreOn = nullptr);

  // The hooks may be wired after creation (the main window is created first).
  void SetHooks(TformUpdateInsHooks hooks) { hooks_ = std::move(hooks); }

  // Takes over what the firmware selection computed for the chosen image.
  void ApplySelection(const ReflashSelection& view);
  // Identification never offers a version choice.
  void HideVersionChoice();

  // The embedded firmware catalogue, loaded when the window is created.
  const FirmwareCatalogue& Catalogue() const { return catalogue_; }

  TFlashState FlashState() const { return flashState_; }
  void SetFlashState(TFlashState state) { flashState_ = state; }
  int SelectedImage() const { return selectedImage_; }
  const TformUpdateInsUi& Ui() const { return ui_; }

  void btnUpdateVerClick();
  void btnExitClick();
  void ListBox1Click();
  // The connection ended under the open window before a reflash started (the
  // line was lost): "Перепрошить" has nothing left to write to, the window
  // says why, and only the exit remains.
  void ConnectionClosed();

  // ReflashView: the reflash worker's steps, on the UI thread.
  void MarkRunning() override;
  void ShowFailure(const ReflashReport& report) override;
  void ShowStage(ReflashStage stage) override;
  void ShowProgress(std::int32_t total, std::int32_t partsComplete) override;
  void ShowElapsed(const std::string& text) override;
  void ShowRemaining(const std::string& text) override;
  void DisableExit() override;
  void ShowSuccess(const ReflashReport& report) override;

 public slots:
  // Esc must not close the window: only its exit button does.
  void reject() override {}

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildUi();
  void FormShow();
  void CloseFromExit();
  void ShowStatus(const QString& text, const QColor& colour);
  bool VersionIsBootloader() const;
  void ShowElapsedNow();
  // Asks before a reflash under way is stopped; true to stop.
  bool StopConfirmed();
  // The device's current version as the reflash left it, here and in the
  // main window's status bar.
  void ShowCurrentVersion(const QString& text);
  // Keeps the window whole on its screen as its texts grow.
  void FitToScreen();

  TformUpdateInsHooks hooks_;
  TformUpdateInsUi ui_;
  FirmwareCatalogue catalogue_;
  QPointer<QWidget> centreOn_;
  TFlashState flashState_ = TFlashState::Idle;
  int selectedImage_ = 0;
  // While a reflash runs the elapsed time moves on by itself: the worker
  // reports it only between its commands, and the erase alone may take 45 s.
  QTimer* elapsedTicker_ = nullptr;
  std::chrono::system_clock::time_point reflashStart_{};
};

}  // namespace tarvik
