// A reflash through the real windows, offscreen, against a simulated device
// published under /dev like a real port. The tool and the device share one
// clock that runs faster than real time, so a whole image is written in a
// few seconds with every pause and time-out of the protocol kept.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QCursor>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <fstream>

#include "app/formmain.h"
#include "common/text.h"
#include "common/ui/qtext.h"
#include "connect/ui/connectdlg.h"
#include "device/connection.h"
#include "outqueue/ui/statuspane.h"
#include "publisheddevice.h"
#include "reflash/ui/partsprogressbar.h"
#include "reflash/ui/reflashwindow.h"
#include "simulator/devicesimulator.h"
#include "support/qtpump.h"
#include "support/scaledclock.h"
#include "support/systeminput.h"

namespace tarvik {
namespace {

constexpr std::uint32_t kTimeScale = 20;

using test::PumpUntil;

QColor TextColour(const QLabel* label) { return label->palette().color(QPalette::WindowText); }

class ReflashWindowRoad : public test::PublishedDeviceTest {
 protected:
  ReflashWindowRoad() : PublishedDeviceTest("ttyTarvikR") {}
  void SetUp() override {
    if (!MakeWindows(clock_)) GTEST_SKIP() << "publishing a port needs a writable /dev";
    main_->SetErrorHook([this](const QString& text) { errors_.push_back(text); });
    main_->SetMessageHook([this](const QString& text) { errors_.push_back(text); });
    // Shown, the dialog lists the ports and picks the only one.
    main_->SetConnectDialogRunner([](TdlgConnect& dialog) {
      dialog.show();
      return QDialog::Accepted;
    });
    main_->SetLogVisible(true);
    main_->show();
  }

  // A device that reports the version and a rule that offers the image
  // whose build is target.
  void Offer(const std::string& version, const std::string& typeCode, int build, int target,
             const std::function<void(sim::SimOptions&)>& adjust = {}) {
    WriteRules("[UpdateRules]\r\n" + typeCode + "=" + std::to_string(build) + "->" + std::to_string(target) +
               "\r\n");
    sim::SimOptions o;
    o.version = version;
    if (adjust) adjust(o);
    StartDevice(o);
    if (HasFatalFailure()) return;
    main_->Ui().tbtnConnect->click();
    ASSERT_TRUE(PumpUntil([&] { return reflash_->isVisible(); }, 10000)) << "no reflash window";
  }

  const TformUpdateInsUi& Window() const { return reflash_->Ui(); }
  std::vector<std::string> ImageLines(int imageIndex) const {
    return reflash_->Catalogue().ImageLines()[static_cast<std::size_t>(imageIndex)];
  }
  bool Disconnected() const { return main_->Connection().State() == ConnectionState::Closed; }
  // Waits for what the device saw while the windows keep running the
  // worker's steps.
  bool DeviceSaw(const std::function<bool(const sim::SimReport&)>& seen) const {
    return PumpUntil([&] { return seen(sim_->Report()); }, 10000);
  }

  test::ScaledClock clock_{kTimeScale};
  std::vector<QString> errors_;
};

TEST_F(ReflashWindowRoad, WholeImageOneIsWrittenByteForByteAndTheWindowSaysSo) {
  Offer("VER 14.001.040", "14.001.000", 40, 42);
  ASSERT_EQ(reflash_->SelectedImage(), 0);
  ASSERT_EQ(Window().lbNewVersion->text(), QStringLiteral("VER 14.001.042"));
  Window().btnUpdateVer->click();
  EXPECT_FALSE(Window().btnUpdateVer->isEnabled());
  EXPECT_TRUE(Window().lbTimeAfter->isVisible());
  ASSERT_TRUE(PumpUntil([&] { return reflash_->FlashState() == TFlashState::Done; }, 60000))
      << Window().lbError->text().toStdString();

  EXPECT_EQ(Window().lbError->text(), Ru("Перепрошивка успешно завершена!"));
  EXPECT_EQ(TextColour(Window().lbError), QColor(0, 128, 0));
  EXPECT_EQ(Window().btnExit->text(), Ru("Завершить перепрошивку"));
  EXPECT_TRUE(Window().btnExit->isEnabled());
  EXPECT_FALSE(Window().btnUpdateVer->isEnabled());
  EXPECT_EQ(Window().lbCurrentVersion->text(), QStringLiteral("VER 14.001.042"));
  EXPECT_TRUE(Window().lbNewVersion->isHidden());
  EXPECT_TRUE(Window().lbNewVersionHead->isHidden());
  EXPECT_EQ(Window().reflashProgressBar->PartsComplete(), Window().reflashProgressBar->TotalParts());
  EXPECT_EQ(main_->Ui().panels[1]->text(), QStringLiteral("VER 14.001.042"));

  const sim::SimReport report = sim_->Report();
  EXPECT_EQ(report.FlashRecords(), sim::ExpectedFlash(ImageLines(0)));
  ASSERT_FALSE(report.writes.empty());
  EXPECT_EQ(report.writes.back(), "0000") << "the first group goes last";
  EXPECT_EQ(report.writes.size(), 1568u / 4);
  EXPECT_TRUE(report.checkErrors.empty());

  Window().btnExit->click();
  EXPECT_FALSE(reflash_->isVisible());
  EXPECT_TRUE(main_->isEnabled());
  EXPECT_TRUE(main_->Ui().panels[1]->text().isEmpty());
  ASSERT_TRUE(PumpUntil([&] { return Disconnected(); }, 5000));
  EXPECT_TRUE(errors_.empty());
}

// A failure says what happened, what the device is left with and what to
// do, in the window and, once it is left, in the main window's status bar.
TEST_F(ReflashWindowRoad, AFailureIsShownInRedWithItsCauseAndBlockZeroIsNeverWritten) {
  Offer("VER 14.002.020", "14.002.000", 20, 28, [](sim::SimOptions& o) {
    o.faults.push_back({sim::FaultKind::WrongEcho, "W", 0, 0});
  });
  Window().btnUpdateVer->click();
  const QString failure = Ru(
      "Блок 0004 не принят устройством после трёх попыток. Память устройства стёрта: оно осталось в режиме "
      "перепрошивки без прошивки. Подключитесь к устройству снова: ему будет предложена прошивка.");
  ASSERT_TRUE(PumpUntil([&] { return Window().lbError->text() == failure; }, 30000))
      << Window().lbError->text().toStdString();
  EXPECT_EQ(TextColour(Window().lbError), QColor(255, 0, 0));
  EXPECT_EQ(reflash_->FlashState(), TFlashState::Running);
  EXPECT_FALSE(Window().btnUpdateVer->isEnabled());
  EXPECT_TRUE(Window().btnExit->isEnabled());
  EXPECT_TRUE(Window().btnExit->hasFocus());
  EXPECT_EQ(Window().btnExit->text(), Ru("Закрыть")) << "the device was reached: nothing is left unflashed";
  EXPECT_EQ(Window().lbCurrentVersion->text(), Ru("нет (память стёрта)")) << "the old version is gone";
  EXPECT_EQ(main_->Ui().panels[1]->text(), Ru("нет (память стёрта)"));
  const sim::SimReport report = sim_->Report();
  for (const std::string& block : report.writes) EXPECT_NE(block, "0000");
  Window().btnExit->click();
  ASSERT_TRUE(PumpUntil([&] { return Disconnected(); }, 5000));
  EXPECT_EQ(main_->Ui().panels[2]->text(), failure) << "the outcome stays after the window";
  EXPECT_TRUE(stopQuestions_.empty()) << "a reflash that has ended is left without a question";
}

// The line lost while the window is open and nothing has started: the main
// window drops the connection, and the window must not keep a "Перепрошить"
// that does nothing.
TEST_F(ReflashWindowRoad, ALineLostBeforeTheStartLeavesOnlyTheExitAndSaysWhy) {
  Offer("VER 14.002.020", "14.002.000", 20, 28);
  ASSERT_TRUE(Window().btnUpdateVer->isEnabled());
  sim_->Stop();  // the adapter is pulled out
  ASSERT_TRUE(PumpUntil([&] { return Disconnected(); }, 5000));
  EXPECT_FALSE(Window().btnUpdateVer->isEnabled());
  EXPECT_TRUE(Window().btnExit->isEnabled());
  EXPECT_EQ(Window().lbError->text(), Ru("Связь с устройством потеряна. Перепрошивка невозможна."));
  EXPECT_EQ(TextColour(Window().lbError), QColor(255, 0, 0));
  EXPECT_TRUE(reflash_->isVisible());
  Window().btnExit->click();
  EXPECT_FALSE(reflash_->isVisible());
  EXPECT_TRUE(main_->isEnabled());
  EXPECT_TRUE(PumpUntil([&] { return main_->Ui().tbtnConnect->isEnabled(); }, 2000));
  EXPECT_TRUE(main_->Ui().mnuFile->menuAction()->isEnabled());
  EXPECT_TRUE(errors_.empty());
}

// Leaving while the worker is inside an exchange it cannot cut: no failure
// is shown, nothing more is sent, and the port goes only after the worker.
// The erase cannot be cut: the disconnect after the exit button waits for it,
// and meanwhile the main window says it is busy and keeps painting.
TEST_F(ReflashWindowRoad, TheWaitForAnEraseUnderWayIsShownWhileTheWindowKeepsPainting) {
  // 12 s of the device's time: 600 ms of real time at this clock's pace.
  Offer("VER 14.002.020", "14.002.000", 20, 28, [](sim::SimOptions& o) { o.eraseMs = 12000; });
  Window().btnUpdateVer->click();
  ASSERT_TRUE(
      DeviceSaw([](const sim::SimReport& r) { return !r.commands.empty() && r.commands.back() == "BE"; }));
  QString noticeDuringWait;
  bool cursorBusy = false;
  int paintsDuringWait = 0;
  struct PaintCounter : QObject {
    int* count;
    explicit PaintCounter(int* c) : count(c) {}
    bool eventFilter(QObject*, QEvent* event) override {
      if (event->type() == QEvent::Paint || event->type() == QEvent::UpdateRequest) ++*count;
      return false;
    }
  } counter(&paintsDuringWait);
  // The disconnect comes 100 ms after the exit button; this looks 300 ms in.
  QTimer::singleShot(300, main_.get(), [&] {
    noticeDuringWait = main_->Ui().panels[2]->text();
    cursorBusy = QApplication::overrideCursor() != nullptr &&
                 QApplication::overrideCursor()->shape() == Qt::WaitCursor;
    main_->installEventFilter(&counter);
    main_->update();
  });
  Window().btnExit->click();
  ASSERT_TRUE(PumpUntil([&] { return Disconnected(); }, 20000));
  main_->removeEventFilter(&counter);
  EXPECT_EQ(noticeDuringWait, Ru("Завершение обмена с устройством..."));
  EXPECT_TRUE(cursorBusy);
  EXPECT_GT(paintsDuringWait, 0) << "the window kept painting while it waited";
  EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the cursor is back";
  EXPECT_EQ(stopQuestions_.size(), 1u) << "the stop was asked for";
  EXPECT_EQ(errors_.size(), 1u) << "and what it left is told in a box";
  // The erase went out: the technician is told what that leaves.
  EXPECT_EQ(main_->Ui().panels[2]->text(),
            Ru("Перепрошивка прервана. Память устройства стёрта: оно осталось в режиме перепрошивки без "
               "прошивки. Подключитесь к устройству снова: ему будет предложена прошивка."));
}

// What the user does while the teardown waits is dropped: replayed once it
// is over, a click on the connect button would open the connection dialog
// long after the user gave up on it, and a close from the title bar would
// quit the program.
TEST_F(ReflashWindowRoad, InputGivenWhileTheTeardownWaitsIsDropped) {
  Offer("VER 14.002.020", "14.002.000", 20, 28, [](sim::SimOptions& o) { o.eraseMs = 12000; });
  int dialogs = 0;
  main_->SetConnectDialogRunner([&](TdlgConnect&) {
    ++dialogs;
    return QDialog::Rejected;
  });
  Window().btnUpdateVer->click();
  ASSERT_TRUE(
      DeviceSaw([](const sim::SimReport& r) { return !r.commands.empty() && r.commands.back() == "BE"; }));
  bool given = false;
  // The disconnect comes 100 ms after the exit button; this comes 300 ms in.
  QTimer::singleShot(300, main_.get(), [&] {
    given = main_->Connection().State() == ConnectionState::Closing;
    test::PostSystemClick(main_->Ui().tbtnConnect);
    test::PostSystemClose(main_.get());
  });
  Window().btnExit->click();
  ASSERT_TRUE(PumpUntil([&] { return Disconnected(); }, 20000));
  QTest::qWait(300);
  EXPECT_TRUE(given) << "the input came while the teardown waited";
  EXPECT_EQ(dialogs, 0);
  EXPECT_TRUE(main_->isVisible());
  EXPECT_TRUE(main_->Ui().tbtnConnect->isEnabled());
}

TEST_F(ReflashWindowRoad, LeavingDuringTheEraseOrTheWritesStopsCleanly) {
  const struct {
    const char* name;
    std::uint32_t eraseMs;
    std::size_t writesBeforeExit;  // 0: leave during the erase
  } cases[] = {{"during the erase", 4000, 0}, {"during the writes", 200, 20}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Offer("VER 14.002.020", "14.002.000", 20, 28, [&](sim::SimOptions& o) { o.eraseMs = c.eraseMs; });
    Window().btnUpdateVer->click();
    if (c.writesBeforeExit == 0) {
      ASSERT_TRUE(DeviceSaw(
          [](const sim::SimReport& r) { return !r.commands.empty() && r.commands.back() == "BE"; }));
    } else {
      ASSERT_TRUE(DeviceSaw([&](const sim::SimReport& r) { return r.writes.size() >= c.writesBeforeExit; }));
    }
    Window().btnExit->click();
    EXPECT_FALSE(reflash_->isVisible());
    ASSERT_TRUE(PumpUntil([&] { return Disconnected(); }, 20000));
    EXPECT_TRUE(Window().lbError->text() != Ru("В процессе перепрошивки возникли ошибки!"));
    EXPECT_NE(Window().lbError->text(), Ru("Перепрошивка успешно завершена!"));
    const sim::SimReport report = sim_->Report();
    for (const std::string& block : report.writes) EXPECT_NE(block, "0000");
    if (c.writesBeforeExit == 0) {
      EXPECT_TRUE(report.writes.empty()) << "nothing written after the erase";
    }
    EXPECT_TRUE(main_->Ui().tbtnConnect->isEnabled());
    sim_->Stop();
    sim_.reset();
  }
}

// "Перепрошить" pressed with Space and Space again 150 ms later (a double
// press, a bouncing key): the second press lands where a key does nothing,
// no stop is asked for, and the image is written whole.
TEST_F(ReflashWindowRoad, ASecondPressOfSpaceDoesNotStopTheReflash) {
  Offer("VER 14.002.020", "14.002.000", 20, 28);
  reflash_->activateWindow();
  Window().btnUpdateVer->setFocus();
  ASSERT_TRUE(PumpUntil([&] { return Window().btnUpdateVer->hasFocus(); }, 2000));
  test::PostSystemKey(reflash_.get(), Qt::Key_Space);
  ASSERT_TRUE(PumpUntil([&] { return reflash_->FlashState() != TFlashState::Idle; }, 2000));
  EXPECT_FALSE(Window().btnExit->hasFocus()) << "the focus is not handed on to the exit";
  QTest::qWait(150);
  test::PostSystemKey(reflash_.get(), Qt::Key_Space);
  test::PostSystemKey(reflash_.get(), Qt::Key_Return);
  ASSERT_TRUE(PumpUntil([&] { return reflash_->FlashState() == TFlashState::Done; }, 60000))
      << Window().lbError->text().toStdString();
  EXPECT_TRUE(stopQuestions_.empty());
  EXPECT_TRUE(reflash_->isVisible());
  EXPECT_EQ(sim_->Report().FlashRecords(), sim::ExpectedFlash(ImageLines(reflash_->SelectedImage())));
  // Done, the exit has the focus: Space leaves.
  EXPECT_TRUE(Window().btnExit->hasFocus());
  test::PostSystemKey(reflash_.get(), Qt::Key_Space);
  EXPECT_TRUE(PumpUntil([&] { return !reflash_->isVisible(); }, 2000));
}

// The stop is asked for; declined, the reflash goes on to its end.
TEST_F(ReflashWindowRoad, ADeclinedStopLeavesTheReflashRunning) {
  Offer("VER 14.002.020", "14.002.000", 20, 28, [](sim::SimOptions& o) { o.eraseMs = 4000; });
  main_->SetStopQuestion([this](const QString& question) {
    stopQuestions_.push_back(question);
    return false;
  });
  Window().btnUpdateVer->click();
  ASSERT_TRUE(
      DeviceSaw([](const sim::SimReport& r) { return !r.commands.empty() && r.commands.back() == "BE"; }));
  Window().btnExit->click();
  ASSERT_EQ(stopQuestions_.size(), 1u);
  EXPECT_TRUE(stopQuestions_.front().contains(Ru("без прошивки"))) << stopQuestions_.front().toStdString();
  EXPECT_TRUE(reflash_->isVisible());
  ASSERT_TRUE(PumpUntil([&] { return reflash_->FlashState() == TFlashState::Done; }, 60000));
  EXPECT_EQ(sim_->Report().FlashRecords(), sim::ExpectedFlash(ImageLines(reflash_->SelectedImage())));
}

// After the settle wait the device is asked for its version: the window
// shows what it names, and success only when that is the image's.
TEST_F(ReflashWindowRoad, TheCurrentVersionIsWhatTheDeviceNamesAfterwards) {
  const QColor warning(192, 96, 0);
  const struct {
    const char* name;
    std::vector<sim::Fault> faults;
    QString status;
    QString current;
    QColor colour;
  } cases[] = {
      {"it runs the new firmware",
       {},
       Ru("Перепрошивка успешно завершена!"),
       QStringLiteral("VER 14.002.028"),
       QColor(0, 128, 0)},
      {"it kept its old firmware",
       {{sim::FaultKind::StaleVersion, "v"}},
       Ru("Не проверено: устройство называет версию VER 14.002.020, а записана прошивка VER 14.002.028. "
          "Подключитесь к устройству снова и проверьте его версию."),
       QStringLiteral("VER 14.002.020"),
       warning},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Offer("VER 14.002.020", "14.002.000", 20, 28, [&](sim::SimOptions& o) { o.faults = c.faults; });
    Window().btnUpdateVer->click();
    ASSERT_TRUE(PumpUntil([&] { return reflash_->FlashState() == TFlashState::Done; }, 60000))
        << Window().lbError->text().toStdString();
    EXPECT_EQ(Window().lbError->text(), c.status);
    EXPECT_EQ(TextColour(Window().lbError), c.colour);
    EXPECT_EQ(Window().lbCurrentVersion->text(), c.current);
    EXPECT_EQ(main_->Ui().panels[1]->text(), c.current);
    EXPECT_EQ(Window().btnExit->text(), Ru("Завершить перепрошивку"));
    Window().btnExit->click();
    ASSERT_TRUE(PumpUntil([&] { return Disconnected(); }, 5000));
    EXPECT_TRUE(
        main_->Ui().panels[2]->text().startsWith(c.colour == warning ? Ru("Прошивка записана.") : c.status))
        << main_->Ui().panels[2]->text().toStdString();
    sim_->Stop();
    sim_.reset();
  }
}

// A line lost part way through is told as such, not as a device that
// refused a write.
TEST_F(ReflashWindowRoad, ALineLostPartWayIsToldAsALostLine) {
  Offer("VER 14.002.020", "14.002.000", 20, 28, [](sim::SimOptions& o) {
    o.faults.push_back({sim::FaultKind::HangUp, "W0080"});
  });
  Window().btnUpdateVer->click();
  ASSERT_TRUE(PumpUntil(
      [&] { return Window().lbError->text().startsWith(Ru("Связь с устройством потеряна.")); }, 30000))
      << Window().lbError->text().toStdString();
  EXPECT_EQ(
      Window().lbError->text(),
      Ru("Связь с устройством потеряна. Память устройства стёрта: оно осталось в режиме перепрошивки без "
         "прошивки. Подключитесь к устройству снова: ему будет предложена прошивка."));
  EXPECT_EQ(Window().lbCurrentVersion->text(), Ru("нет (память стёрта)"));
  EXPECT_EQ(Window().btnExit->text(), Ru("Закрыть"));
  Window().btnExit->click();
  ASSERT_TRUE(PumpUntil([&] { return Disconnected(); }, 5000));
  EXPECT_TRUE(main_->Ui().panels[2]->text().startsWith(Ru("Связь с устройством потеряна.")))
      << main_->Ui().panels[2]->text().toStdString();
}

// The door detector's rule of the packaged example, uncommented.
std::string ExampleDoorRule() {
  std::ifstream example(std::string(TARVIK_SOURCE_DIR) + "/packaging/update.ini.example");
  std::string line;
  while (std::getline(example, line)) {
    if (line.rfind(";14.002.000=", 0) == 0) return line.substr(1);
  }
  return {};
}

// A reflash cut off half way leaves the device in its bootloader, without a
// first block to start from. It names its model there and so comes back as
// build 0 of its type; with the example's rule it is offered its image again,
// and the second reflash puts the whole image in place.
TEST_F(ReflashWindowRoad, ADeviceLeftInItsBootloaderIsFoundThereAndReflashedWhole) {
  const std::string rule = ExampleDoorRule();
  ASSERT_FALSE(rule.empty()) << "the example holds a rule for the door detector";
  WriteRules("[UpdateRules]\r\n" + rule + "\r\n");
  sim::SimOptions door;
  door.version = "VER 14.002.020";
  door.unitName = "QTT1";
  StartDevice(door);
  main_->Ui().tbtnConnect->click();
  ASSERT_TRUE(PumpUntil([&] { return reflash_->isVisible(); }, 10000)) << "no reflash window";
  Window().btnUpdateVer->click();
  ASSERT_TRUE(DeviceSaw([](const sim::SimReport& r) { return r.writes.size() >= 60; }));
  Window().btnExit->click();  // the reflash is cut off half way
  ASSERT_TRUE(PumpUntil([&] { return Disconnected(); }, 20000));
  ASSERT_FALSE(sim_->Report().writes.empty());
  for (const std::string& block : sim_->Report().writes) ASSERT_NE(block, "0000");

  // A box the decision shows instead of the offer is read and closed.
  QString box;
  QTimer boxes;
  boxes.setInterval(50);
  QObject::connect(&boxes, &QTimer::timeout, [&] {
    if (auto* shown = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      box = shown->text();
      shown->close();
    }
  });
  boxes.start();
  main_->Ui().tbtnConnect->click();
  ASSERT_TRUE(PumpUntil([&] { return reflash_->isVisible(); }, 10000))
      << "the device in its bootloader is offered no reflash; the box said: " << box.toStdString();
  boxes.stop();
  EXPECT_TRUE(PumpUntil(
      [&] { return main_->Ui().panels[1]->text().startsWith(QStringLiteral("BootLdr v1.0")); }, 2000))
      << "found in its bootloader: " << main_->Ui().panels[1]->text().toStdString();
  EXPECT_EQ(Window().lbCurrentVersion->text(), QStringLiteral("VER 14.002.000"));
  EXPECT_EQ(Window().lbNewVersion->text(), QStringLiteral("VER 14.002.028"));
  Window().btnUpdateVer->click();
  ASSERT_TRUE(PumpUntil([&] { return reflash_->FlashState() == TFlashState::Done; }, 60000))
      << Window().lbError->text().toStdString();
  EXPECT_EQ(Window().lbError->text(), Ru("Перепрошивка успешно завершена!"));
  const sim::SimReport report = sim_->Report();
  EXPECT_EQ(report.FlashRecords(), sim::ExpectedFlash(ImageLines(1)));
  EXPECT_EQ(report.writes.back(), "0000");
  EXPECT_TRUE(report.checkErrors.empty());
  Window().btnExit->click();
  ASSERT_TRUE(PumpUntil([&] { return Disconnected(); }, 5000));
  // The one box: the stop, after the erase, told once the window was gone.
  EXPECT_EQ(errors_,
            std::vector<QString>{Ru("Перепрошивка прервана. Память устройства стёрта: оно осталось в "
                                    "режиме перепрошивки без прошивки. Подключитесь к устройству снова: "
                                    "ему будет предложена прошивка.")});
}

}  // namespace
}  // namespace tarvik
