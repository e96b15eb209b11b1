#pragma once
// What the connection's worker-side code asks of the windows: what it tells
// (DeviceEvents, each mapped to the main window's queued elements and
// widgets), the three steps the main worker thread runs on the UI thread
// (MainThreadSteps), and what the update decision shows (DecisionView, with
// the real dialogs).
#include <string>

#include "device/controller.h"
#include "device/decideupdate.h"
#include "device/deviceevents.h"
#include "device/mainthread.h"

namespace tarvik {

class TformMain;

class TMainBridge final : public DeviceEvents, public MainThreadSteps, public DecisionView {
 public:
  explicit TMainBridge(TformMain& main) : main_(main) {}

  // DeviceEvents: called from any thread, so each goes through the output
  // queue or is queued to the UI thread.
  void Identifying() override;
  void Answered(const std::string& answer) override;
  void IdentityCleared() override;
  void NoAnswer() override;
  void LineLost(const std::string& reason) override;
  void Busy(bool busy) override;
  void DisconnectRequested() override;
  void LogLine(TimePoint when, const std::string& text) override;
  void OutcomeLine(TimePoint when, const std::string& text) override;

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
  void SetBusyCursor(bool busy);
  // The reflash window's version choice: what it offered was for the last
  // device.
  void HideVersionChoice();
  // Enables or disables the disconnect button and the menus that would
  // start something else.
  void PushLockWords(const std::string& word);
  void ClickDisconnect();

  TformMain& main_;
};

}  // namespace tarvik
