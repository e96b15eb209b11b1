#include "app/mainbridge.h"

#include <QAction>
#include <QApplication>
#include <QGroupBox>
#include <QMessageBox>
#include <QMetaObject>
#include <QPointer>
#include <QToolButton>

#include "app/formmain.h"
#include "common/ui/qtext.h"
#include "device/connection.h"
#include "firmware/rules.h"
#include "firmware/ui/selectdevicetypeform.h"
#include "firmware/ui/selectfirmvareform.h"
#include "reflash/ui/reflashwindow.h"

namespace tarvik {
namespace {
// The status-bar panes: the device's answer, and what the user must know
// about the connection.
constexpr int kVersionPane = 1;
constexpr int kNoticePane = 2;
}  // namespace

void TMainBridge::Identifying() { HideVersionChoice(); }

void TMainBridge::Answered(const std::string& answer) {
  main_.OutQueue().PushStatus(answer, main_.StatusPanel(kVersionPane));
}

void TMainBridge::IdentityCleared() { main_.OutQueue().PushStatus("", main_.StatusPanel(kVersionPane)); }

void TMainBridge::NoAnswer() { ClickDisconnect(); }

void TMainBridge::DisconnectRequested() { ClickDisconnect(); }

void TMainBridge::LineLost(const std::string&) {
  // The reason is in the log already; the pane says it in the user's words.
  main_.OutQueue().PushStatus(LinkLostText(), main_.StatusPanel(kNoticePane));
  ClickDisconnect();
}

void TMainBridge::ClickDisconnect() { main_.OutQueue().PushControl(main_.tbtnDisconnect(), "Click"); }

void TMainBridge::Busy(bool busy) {
  if (busy) {
    SetBusyCursor(true);
    PushLockWords("false");
  } else {
    PushLockWords("true");
    SetBusyCursor(false);
  }
}

void TMainBridge::PushLockWords(const std::string& word) {
  TOutArray& queue = main_.OutQueue();
  queue.PushControl(main_.tbtnDisconnect(), word);
  for (UiObject* menu :
       {main_.mnuFile(), main_.mnuConnections(), main_.mnuHelp(), main_.mnuUpdate(), main_.mnuPanel()}) {
    queue.PushMenuItem(menu, word);
  }
}

void TMainBridge::LogLine(TimePoint when, const std::string& text) {
  main_.OutQueue().PushMemoLineAt(main_.messageLog(), text, when, true);
}

void TMainBridge::OutcomeLine(TimePoint when, const std::string& text) {
  main_.OutQueue().PushMemoLineAt(main_.messageLog(), text, when, false);
}

void TMainBridge::SetBusyCursor(bool busy) {
  // The cursor belongs to the UI thread; a worker's change waits its turn.
  QMetaObject::invokeMethod(
      qApp,
      [busy] {
        if (busy) {
          QApplication::setOverrideCursor(Qt::WaitCursor);
        } else if (QApplication::overrideCursor() != nullptr) {
          QApplication::restoreOverrideCursor();
        }
      },
      Qt::QueuedConnection);
}

void TMainBridge::HideVersionChoice() {
  QPointer<TformUpdateIns> form = main_.ReflashForm();
  if (!form) return;
  QMetaObject::invokeMethod(
      form,
      [form] {
        if (form) form->HideVersionChoice();
      },
      Qt::QueuedConnection);
}

void TMainBridge::PublishIdentity(TController& controller) {
  main_.TypeNumber = static_cast<std::uint16_t>(controller.Identity.TypeNumber);
  main_.Build = static_cast<std::uint16_t>(controller.Identity.Build);
  main_.UnitName = controller.Identity.UnitName;
  if (!controller.Identified) return;
  const auto& ui = main_.Ui();
  ui.tbtnConnect->setEnabled(false);
  ui.mnuConnect->setEnabled(false);
  ui.mnuDisconnect->setEnabled(true);
  ui.tbtnDisconnect->setEnabled(true);
}

void TMainBridge::ReportNoAnswer() { main_.ShowNotice(FromCp(NoAnswerText())); }

void TMainBridge::ResetFlashState() {
  if (TformUpdateIns* form = main_.ReflashForm()) form->SetFlashState(TFlashState::Idle);
}

void TMainBridge::DecideUpdate(TController& controller) {
  const FirmwareCatalogue* catalogue = main_.Catalogue();
  if (catalogue == nullptr) return;
  tarvik::DecideUpdate(controller.Identity, *catalogue, main_.SettingsPlaces().UpdateIni(), *this);
}

int TMainBridge::ChooseDeviceType(const std::vector<std::string>& names) {
  if (DecisionDialogs* scripted = main_.ScriptedDecisionDialogs()) return scripted->ChooseDeviceType(names);
  TSelectDeviceTypeForm form;
  if (form.ShowModalWithNames(names) != QDialog::Accepted) return -1;
  return form.SelectedIndex();
}

int TMainBridge::ChoosePreferredFirmware(const std::string& versionLine,
                                         const std::vector<ImageChoice>& images, bool notRelease) {
  if (DecisionDialogs* scripted = main_.ScriptedDecisionDialogs()) {
    return scripted->ChoosePreferredFirmware(versionLine, images, notRelease);
  }
  TSelectFirmvareForm form;
  form.SetVersion(versionLine, images);
  form.SetNotRelease(notRelease);
  if (form.exec() != QDialog::Accepted) return -1;
  return form.ChosenImage;
}

void TMainBridge::ShowInformation(const std::string& text) {
  if (DecisionDialogs* scripted = main_.ScriptedDecisionDialogs()) return scripted->ShowInformation(text);
  QMessageBox::information(&main_, QApplication::applicationDisplayName(), FromCp(text));
}

void TMainBridge::ShowError(const std::string& text) {
  if (DecisionDialogs* scripted = main_.ScriptedDecisionDialogs()) return scripted->ShowError(text);
  QMessageBox::warning(&main_, QApplication::applicationDisplayName(), FromCp(text));
}

void TMainBridge::OfferImage(int imageIndex) {
  if (DecisionDialogs* scripted = main_.ScriptedDecisionDialogs()) return scripted->OfferImage(imageIndex);
  TformUpdateIns* form = main_.ReflashForm();
  const FirmwareCatalogue* catalogue = main_.Catalogue();
  if (form == nullptr || catalogue == nullptr) return;
  std::optional<std::string> versionLine;
  if (const TController* controller = main_.Controller()) versionLine = controller->Identity.VersionLine;
  const ReflashSelection selection =
      SelectImage(*catalogue, imageIndex, versionLine, form->Ui().versionChoiceGroup->isHidden());
  form->ApplySelection(selection);
  if (selection.HideDevicePictures) main_.HideDevicePictures();
  form->show();
}

void TMainBridge::ReportUnsupported(const std::string& text) { main_.OutQueue().PushMessage(text); }

void TMainBridge::RequestDisconnect() { main_.OutQueue().PushControl(main_.tbtnDisconnect(), "CLICK"); }

}  // namespace tarvik
