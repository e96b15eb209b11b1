#pragma once
// What the connection's worker-side code asks of the windows: the targets
// the controller names and the cursor (ControllerUi), the three steps the
// main worker thread runs on the UI thread (MainThreadSteps), and what the
// update decision shows (DecisionView, with the real dialogs).
#include "device/controller.h"
#include "device/decideupdate.h"
#include "device/mainthread.h"

namespace tarvik {

class TformMain;

class TMainBridge final : public ControllerUi, public MainThreadSteps, public DecisionView {
 public:
  explicit TMainBridge(TformMain& main) : main_(main) {}

  // ControllerUi: may be called from any thread.
  UiObject* DisconnectButton() override;
  std::array<UiObject*, 5> LockableMenus() override;
  UiObject* VersionPane() override;
  void SetBusyCursor(bool busy) override;
  void HideVersionChoice() override;
  UiObject* NoticePane() override;

  // MainThreadSteps: on the UI thread.
  void PublishIdentity(TController& controller) override;
  void ResetFlashState() override;
  void DecideUpdate(TController& controller) override;
  void ReportNoAnswer() override;

  // DecisionView: the real dialogs, unless the main window was given
  // scripted ones; the message and the disconnect go through the output
  // queue, behind what the connection has queued.
  int ChooseDeviceType(const std::vector<std::string>& names) override;
  int ChoosePreferredFirmware(const std::string& versionLine, const std::vector<ImageChoice>& images,
                              bool notRelease) override;
  void ShowInformation(const std::string& text) override;
  void ShowError(const std::string& text) override;
  void OfferImage(int imageIndex) override;
  void ReportUnsupported(const std::string& text) override;
  void RequestDisconnect() override;

 private:
  TformMain& main_;
};

}  // namespace tarvik
