#pragma once
// The reflash window: shows the current and the offered firmware version and
// lets the user start a reflash or leave. While it is open the main window
// takes no input; leaving it always drops the connection.
#include <QDialog>
#include <QPointer>
#include <functional>
#include <optional>
#include <string>

#include "firmware/selection.h"
#include "reflash/flashstate.h"

class QGroupBox;
class QLabel;
class QListWidget;
class QPushButton;

namespace tarvik {

class TPartsProgressBar;

// What the window asks of the main window and of the connection's
// controller. The main window wires them; an empty hook is skipped.
struct TformUpdateInsHooks {
  // Disables the main window and runs its LockMainControls.
  std::function<void()> LockMain;
  // Enables the main window again.
  std::function<void()> EnableMain;
  std::function<void()> UnlockMainControls;
  // Starts the main window's one-shot disconnect timer (Timer2).
  std::function<void()> StartTimer2;
  // The controller's VersionLine (Windows-1251); empty optional while there
  // is no controller.
  std::function<std::optional<std::string>()> VersionLine;
  // The controller's UnlockUi.
  std::function<void()> UnlockUi;
};

class TformUpdateIns : public QDialog {
  Q_OBJECT

 public:
  // The window is not a child of the main window: disabling the main window
  // must not disable it. It opens centred on centreOn.
  explicit TformUpdateIns(TformUpdateInsHooks hooks, QWidget* centreOn = nullptr);

  // Takes over what the firmware selection computed for the chosen image.
  void ApplySelection(const ReflashSelection& view);
  // Identification never offers a version choice.
  void HideVersionChoice();

  // The embedded firmware catalogue, loaded when the window is created.
  const FirmwareCatalogue& Catalogue() const { return catalogue_; }

  TFlashState FlashState() const { return flashState_; }
  void SetFlashState(TFlashState state) { flashState_ = state; }
  int SelectedImage() const { return selectedImage_; }

  void btnUpdateVerClick();
  void btnExitClick();
  void ListBox1Click();

  QLabel* Label2;
  QLabel* lbOldName;
  QLabel* Label1;
  QLabel* lbNewName;
  QLabel* lbTimeAfterHead;
  QLabel* lbTimeAfter;
  QLabel* lbTimeLostHead;
  QLabel* lbTimeLost;
  QLabel* lbError;
  TPartsProgressBar* RzProgressBar1;
  QPushButton* btnUpdateVer;
  QPushButton* btnExit;
  QGroupBox* RzGroupBox1;
  QListWidget* ListBox1;
  QPushButton* Button1;

 public slots:
  // Esc must not close the window: only its exit button does.
  void reject() override {}

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void FormShow();
  void CloseFromExit();

  TformUpdateInsHooks hooks_;
  FirmwareCatalogue catalogue_;
  QPointer<QWidget> centreOn_;
  TFlashState flashState_ = TFlashState::Idle;
  int selectedImage_ = 0;
};

}  // namespace tarvik
