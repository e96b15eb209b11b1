// The main window's connection life cycle with the real window, offscreen,
// against a simulated device published under /dev like a real port.
#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "app/formmain.h"
#include "common/inifile.h"
#include "common/text.h"
#include "common/ui/qtext.h"
#include "connect/ui/connectdlg.h"
#include "device/connection.h"
#include "device/controller.h"
#include "device/decideupdate.h"
#include "device/mainthread.h"
#include "outqueue/ui/statuspane.h"
#include "publisheddevice.h"
#include "reflash/ui/reflashwindow.h"
#include "serial/comportworker.h"
#include "serial/ser2net.h"
#include "simulator/devicesimulator.h"
#include "support/qtpump.h"

namespace tarvik {
namespace {

using test::PumpUntil;

sim::SimOptions Device(const std::string& version) {
  sim::SimOptions o;
  o.version = version;
  return o;
}

class ScriptedDecisions : public DecisionDialogs {
 public:
  int ChooseDeviceType(const std::vector<std::string>&) override { return -1; }
  int ChoosePreferredFirmware(const std::string&, const std::vector<ImageChoice>&, bool) override {
    ++firmwareDialogs;
    if (onFirmwareDialog) onFirmwareDialog();
    return -1;
  }
  std::function<void()> onFirmwareDialog;
  void ShowInformation(const std::string& text) override { information.push_back(text); }
  void OfferImage(int) override {}
  int firmwareDialogs = 0;
  std::vector<std::string> information;
};

class ConnectionTest : public test::PublishedDeviceTest {
 protected:
  ConnectionTest() : PublishedDeviceTest("ttyTarvikT") {}
  void SetUp() override {
    if (!MakeWindows()) GTEST_SKIP() << "publishing a port needs a writable /dev";
    main_->SetErrorHook([this](const QString& text) { errors_.push_back(text); });
    main_->SetMessageHook([this](const QString& text) { messages_.push_back(text); });
    main_->SetConnectDialogRunner([this](TdlgConnect& dialog) {
      ++dialogs_;
      dialog.show();
      if (!portText_.empty()) dialog.Ui().ComPorts->setEditText(FromCp(portText_));
      return accept_ ? QDialog::Accepted : QDialog::Rejected;
    });
    main_->show();
  }

  void Connect() { main_->Ui().tbtnConnect->click(); }
  bool Connected() const { return main_->Ui().tbtnDisconnect->isEnabled(); }

  std::vector<QString> errors_;
  std::vector<QString> messages_;
  std::string portText_;
  bool accept_ = true;
  int dialogs_ = 0;
};

TEST_F(ConnectionTest, CancelKeepsDisconnectedAndStillSavesThePortText) {
  portText_ = "COM7";
  accept_ = false;
  Connect();
  EXPECT_EQ(dialogs_, 1);
  EXPECT_EQ(main_->PortWorker(), nullptr);
  EXPECT_TRUE(main_->Ui().tbtnConnect->isEnabled());
  EXPECT_EQ(main_->Settings().ReadString("Connect", "ComPort", ""), "COM7");
  EXPECT_TRUE(errors_.empty());
}

TEST_F(ConnectionTest, PortTextIsCutToItsFirstWord) {
  portText_ = "COM12 - USB";
  Connect();
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_EQ(errors_.front(),
            QStringLiteral("Ошибка при открытии Com порта! Не удалось открыть порт COM12: такого порта нет "
                           "(error 2: No such file or directory)."));
  EXPECT_EQ(main_->PortWorker(), nullptr);
  EXPECT_TRUE(main_->Ui().tbtnConnect->isEnabled());
  EXPECT_EQ(main_->Settings().ReadString("Connect", "ComPort", ""), "COM12 - USB");
}

TEST_F(ConnectionTest, FailedIdentificationReturnsToDisconnectedByItselfAndSaysWhy) {
  StartDevice(Device("no version here"));
  main_->SetLogVisible(true);
  Connect();
  ASSERT_NE(main_->PortWorker(), nullptr);
  EXPECT_FALSE(main_->Ui().tbtnConnect->isEnabled());
  EXPECT_EQ(main_->Ui().panels[0]->text(), QString::fromStdString(linkName_));
  // The queued click on the (never enabled) disconnect button drops it.
  ASSERT_TRUE(PumpUntil([&] { return main_->PortWorker() == nullptr; }, 5000));
  EXPECT_TRUE(main_->Ui().tbtnConnect->isEnabled());
  EXPECT_TRUE(main_->Ui().panels[0]->text().isEmpty());
  EXPECT_TRUE(errors_.empty());
  // With or without the log in view, the user learns what happened.
  EXPECT_EQ(main_->Ui().panels[2]->text(), QStringLiteral("Устройство не отвечает"));
  ASSERT_TRUE(PumpUntil(
      [&] {
        return MemoLines(*main_->Ui().messageLog)
            .join(u'\n')
            .contains(QStringLiteral("Устройство не отвечает"));
      },
      1000));
}

// Closing the program while a silent device is asked what it is: the wait
// for the question under way is told at once, not after it.
TEST_F(ConnectionTest, AClosingDuringIdentificationSaysWhatItWaitsFor) {
  sim::SimOptions o = Device("VER 14.002.020");
  o.faults.push_back({sim::FaultKind::Silence, "v", 0, 0});
  StartDevice(o);
  Connect();
  ASSERT_EQ(main_->Connection().State(), ConnectionState::Identifying);
  QString noticeDuringWait;
  QTimer::singleShot(200, main_.get(), [&] { noticeDuringWait = main_->Ui().panels[2]->text(); });
  main_->close();
  EXPECT_EQ(main_->Connection().State(), ConnectionState::Closed);
  EXPECT_EQ(noticeDuringWait, QStringLiteral("Завершение обмена с устройством..."));
}

TEST_F(ConnectionTest, UnpluggedWhileConnectedDisconnectsAndSaysTheLinkWasLost) {
  ScriptedDecisions decisions;
  main_->SetDecisionDialogs(&decisions);
  StartDevice(Device("VER 14.002.020"));
  Connect();
  ASSERT_TRUE(PumpUntil([&] { return decisions.firmwareDialogs == 1; }, 5000));
  ASSERT_TRUE(Connected());
  sim_->Stop();  // the far end goes away
  ASSERT_TRUE(PumpUntil([&] { return main_->PortWorker() == nullptr; }, 5000));
  EXPECT_TRUE(main_->Ui().tbtnConnect->isEnabled());
  EXPECT_EQ(main_->Ui().panels[2]->text(), QStringLiteral("Связь с устройством потеряна"));
}

// The box takes a server's address as it takes a port's name: the device
// behind it is identified, and the server going away is a lost line.
TEST_F(ConnectionTest, AServersAddressInTheBoxConnectsThroughIt) {
  ScriptedDecisions decisions;
  main_->SetDecisionDialogs(&decisions);
  StartDevice(Device("VER 14.002.020"));
  test::Ser2Net server(sim_->SlavePath(), test::Ser2Net::Kind::Rfc2217);
  portText_ = server.Address();
  Connect();
  ASSERT_TRUE(PumpUntil([&] { return decisions.firmwareDialogs == 1; }, 5000));
  ASSERT_TRUE(Connected());
  EXPECT_TRUE(errors_.empty());
  EXPECT_EQ(main_->Ui().panels[0]->text(), QString::fromStdString(server.Address()));
  EXPECT_EQ(main_->PortWorker()->Port().Name(), server.Address());
  server.End();
  ASSERT_TRUE(PumpUntil([&] { return main_->PortWorker() == nullptr; }, 5000));
  EXPECT_TRUE(main_->Ui().tbtnConnect->isEnabled());
  EXPECT_EQ(main_->Ui().panels[2]->text(), QStringLiteral("Связь с устройством потеряна"));
}

TEST_F(ConnectionTest, DisconnectClickedInsideTheFirmwareChoiceWaitsForTheDialogToReturn) {
  ScriptedDecisions decisions;
  decisions.onFirmwareDialog = [this] {
    // The dialog's event loop runs the click while the step is on the stack.
    main_->Ui().tbtnDisconnect->click();
    EXPECT_NE(main_->PortWorker(), nullptr) << "torn down under the open dialog";
  };
  main_->SetDecisionDialogs(&decisions);
  StartDevice(Device("VER 14.002.020"));
  Connect();
  ASSERT_TRUE(PumpUntil([&] { return decisions.firmwareDialogs == 1; }, 5000));
  ASSERT_TRUE(PumpUntil([&] { return main_->PortWorker() == nullptr; }, 5000));
  EXPECT_EQ(main_->WorkerThread(), nullptr);
  EXPECT_TRUE(main_->Ui().tbtnConnect->isEnabled());
}

TEST_F(ConnectionTest, RuleOffersTheImageInTheReflashWindowAndExitDisconnects) {
  WriteRules("[UpdateRules]\r\n14.002.000=20->28\r\n");
  StartDevice(Device("VER 14.002.020"));
  Connect();
  ASSERT_TRUE(PumpUntil([&] { return reflash_->isVisible(); }, 5000));
  // The reflash window locks the main window's disconnect button while it is open.
  EXPECT_FALSE(main_->Ui().tbtnDisconnect->isEnabled());
  EXPECT_EQ(reflash_->Ui().lbNewVersion->text(), QStringLiteral("VER 14.002.028"));
  EXPECT_EQ(reflash_->Ui().lbCurrentVersion->text(), QStringLiteral("VER 14.002.020"));
  EXPECT_EQ(reflash_->SelectedImage(), 1);
  EXPECT_FALSE(main_->isEnabled());
  // The version reaches the status bar through the output queue.
  EXPECT_TRUE(
      PumpUntil([&] { return main_->Ui().panels[1]->text() == QStringLiteral("VER 14.002.020"); }, 1000));
  reflash_->Ui().btnExit->click();
  EXPECT_FALSE(reflash_->isVisible());
  EXPECT_TRUE(main_->isEnabled());
  ASSERT_TRUE(PumpUntil([&] { return main_->PortWorker() == nullptr; }, 3000));
  EXPECT_TRUE(main_->Ui().tbtnConnect->isEnabled());
}

TEST_F(ConnectionTest, DisconnectWhileTheWorkerIdlesIsQuick) {
  ScriptedDecisions decisions;
  main_->SetDecisionDialogs(&decisions);
  StartDevice(Device("VER 14.002.020"));
  Connect();
  ASSERT_TRUE(PumpUntil([&] { return decisions.firmwareDialogs == 1; }, 5000));
  ASSERT_TRUE(Connected());
  EXPECT_FALSE(main_->Ui().mnuConnect->isEnabled());
  QElapsedTimer timer;
  timer.start();
  main_->Ui().tbtnDisconnect->click();
  EXPECT_LT(timer.elapsed(), 200);
  EXPECT_EQ(main_->WorkerThread(), nullptr);
  EXPECT_EQ(main_->PortWorker(), nullptr);
  EXPECT_FALSE(main_->Ui().tbtnDisconnect->isEnabled());
}

TEST_F(ConnectionTest, SecondConnectWhileIdentifyingIsIgnored) {
  sim::SimOptions slow = Device("VER 14.002.020");
  slow.faults.push_back({sim::FaultKind::Slow, "v", 0, 300});
  ScriptedDecisions decisions;
  main_->SetDecisionDialogs(&decisions);
  StartDevice(slow);
  Connect();
  ASSERT_NE(main_->WorkerThread(), nullptr);
  TComPortWorker* first = main_->PortWorker();
  EXPECT_TRUE(main_->Ui().mnuConnect->isEnabled());
  main_->Ui().mnuConnect->trigger();
  EXPECT_EQ(dialogs_, 1);
  EXPECT_EQ(main_->PortWorker(), first);
  ASSERT_TRUE(PumpUntil([&] { return decisions.firmwareDialogs == 1; }, 8000));
  EXPECT_TRUE(Connected());
}

TEST_F(ConnectionTest, UnsupportedVersionIsReportedAndTheConnectionStays) {
  StartDevice(Device("VER 14.010.003"));
  Connect();
  ASSERT_TRUE(PumpUntil([&] { return !messages_.empty(); }, 5000));
  EXPECT_EQ(messages_.front(), QStringLiteral("Версия VER 14.010.003 не поддерживается"));
  EXPECT_TRUE(Connected());
  EXPECT_NE(main_->PortWorker(), nullptr);
}

TEST_F(ConnectionTest, ClosingWhileConnectedWritesSettingsThenDisconnects) {
  ScriptedDecisions decisions;
  main_->SetDecisionDialogs(&decisions);
  StartDevice(Device("VER 14.002.020"));
  Connect();
  ASSERT_TRUE(PumpUntil([&] { return decisions.firmwareDialogs == 1; }, 5000));
  main_->close();
  EXPECT_EQ(main_->PortWorker(), nullptr);
  EXPECT_EQ(main_->WorkerThread(), nullptr);
  const auto ini = QFile::encodeName(dir_.filePath(QStringLiteral("current.ini"))).toStdString();
  EXPECT_EQ(ReadProfileString(ini, "Connect", "ComPort", ""), linkName_);
}

TEST_F(ConnectionTest, ClosingWhileIdentifyingReleasesEverything) {
  sim::SimOptions slow = Device("VER 14.002.020");
  slow.faults.push_back({sim::FaultKind::Slow, "v", 0, 300});
  StartDevice(slow);
  Connect();
  ASSERT_NE(main_->WorkerThread(), nullptr);
  main_->close();
  EXPECT_EQ(main_->WorkerThread(), nullptr);
  EXPECT_EQ(main_->PortWorker(), nullptr);
}

}  // namespace
}  // namespace tarvik
