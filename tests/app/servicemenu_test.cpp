// The service menu's reflash on the real main window, offscreen, against a
// simulated device: what the window shows while it runs and after.
#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "app/formmain.h"
#include "common/text.h"
#include "common/ui/qtext.h"
#include "device/connection.h"
#include "device/devicefixture.h"
#include "outqueue/ui/statuspane.h"
#include "reflash/servicereflash.h"
#include "serial/link.h"
#include "simulator/devicesimulator.h"
#include "support/qtpump.h"
#include "support/quickpauseclock.h"
#include "support/systeminput.h"
#include "support/usertexts.h"

namespace tarvik {
namespace {

using test::PumpUntil;

// Header and nine rows of bytes, as the viewer shows a 144-byte file.
HexGrid NineRows() {
  HexGrid grid;
  grid.Rows.push_back(HexGridRow{});
  for (int r = 1; r <= 9; ++r) {
    HexGridRow row;
    char address[8];
    std::snprintf(address, sizeof address, "%04X0", r - 1);
    row[0] = address;
    for (std::size_t c = 1; c < row.size(); ++c) row[c] = "5A";
    grid.Rows.push_back(row);
  }
  return grid;
}

class ServiceMenuTest : public ::testing::Test {
 protected:
  void SetUp() override { MakeMain(); }
  void TearDown() override {
    main_->close();
    main_.reset();
    if (sim_) sim_->Stop();
  }
  void MakeMain(Clock& clock = SystemClock()) {
    main_ = std::make_unique<TformMain>(dir_.path(), false, nullptr, clock);
    main_->SetErrorHook([this](const QString& text) { errors_.push_back(text); });
    main_->SetHexViewer([this] {
      ++viewerShown_;
      return choice_;
    });
    main_->show();
  }

  void Connect(sim::SimOptions options, std::uint32_t eraseMs = 0) {
    options.unpaced = true;
    options.eraseMs = eraseMs;
    sim_ = std::make_unique<sim::DeviceSimulator>(options);
    ASSERT_TRUE(sim_->Start()) << sim_->Error();
    ASSERT_TRUE(
        main_->OpenPort({.Address = SerialPortAddress(test::PortName(sim_->SlavePath()))}, false, true));
  }
  void Choose(bool accepted, const std::string& path, HexGrid grid = NineRows()) {
    choice_ = HexViewerChoice{.Accepted = accepted, .Path = path, .Grid = std::move(grid)};
  }
  // Returns once the procedure is over, as the menu click does.
  void ClickUpdate() { main_->Ui().mnuUpdate->trigger(); }
  bool Disconnected() {
    return PumpUntil([&] { return main_->PortWorker() == nullptr; }, 5000);
  }
  QStringList Log() const { return MemoLines(*main_->Ui().messageLog); }
  int LogCount(const QString& part) const {
    int n = 0;
    for (const QString& line : Log()) n += line.contains(part) ? 1 : 0;
    return n;
  }

  QTemporaryDir dir_;
  std::unique_ptr<TformMain> main_;
  std::unique_ptr<sim::DeviceSimulator> sim_;
  HexViewerChoice choice_;
  int viewerShown_ = 0;
  std::vector<QString> errors_;
};

TEST_F(ServiceMenuTest, FailedWriteEndsInTheLogWhileTheWindowKeepsServingAndThenDisconnects) {
  sim::SimOptions device;
  device.faults = {sim::Fault{.kind = sim::FaultKind::WrongEcho, .command = "W"}};
  Connect(device);
  Choose(true, "/tmp/fw.hex");
  // A timer of the window keeps firing while the procedure runs, and sees the
  // bar and the locked menus.
  int ticks = 0;
  bool barShown = false, menusLocked = false;
  QTimer watch;
  watch.setInterval(5);
  QObject::connect(&watch, &QTimer::timeout, [&] {
    ++ticks;
    barShown = barShown || main_->Ui().serviceProgressBar->isVisible();
    menusLocked = menusLocked || !main_->Ui().mnuFile->menuAction()->isEnabled();
  });
  watch.start();
  ClickUpdate();
  watch.stop();
  EXPECT_EQ(viewerShown_, 1);
  EXPECT_GT(ticks, 0);
  EXPECT_TRUE(barShown);
  EXPECT_TRUE(menusLocked);

  EXPECT_EQ(sim_->Report().commands, (std::vector<std::string>{"BL", "BE", "W0004", "W0004", "W0004"}));
  // The traffic reached the log as it happened, the failure line after it.
  EXPECT_EQ(LogCount(QStringLiteral("#com<-: +W0004:")), 3);
  EXPECT_EQ(LogCount(QStringLiteral("@com->: ")), 5);
  ASSERT_FALSE(Log().isEmpty());
  EXPECT_EQ(Log().back(), QString::fromUtf8(test::text::kWriteFailed));
  EXPECT_EQ(errors_, std::vector<QString>{Log().back()}) << "the failure is shown in a box too";

  ASSERT_TRUE(Disconnected());
  EXPECT_TRUE(main_->Ui().mnuFile->menuAction()->isEnabled());
  EXPECT_TRUE(main_->Ui().tbtnConnect->isEnabled());
  EXPECT_FALSE(main_->Ui().serviceProgressBar->isVisible());
}

TEST_F(ServiceMenuTest, CancelledViewerLeavesTheConnectionAsItWas) {
  Connect({});
  Choose(false, "/tmp/fw.hex");
  ClickUpdate();
  EXPECT_EQ(viewerShown_, 1);
  QTest::qWait(300);
  EXPECT_NE(main_->PortWorker(), nullptr);
  EXPECT_TRUE(sim_->Report().commands.empty());
  EXPECT_FALSE(main_->Ui().serviceProgressBar->isVisible());
}

// The log is hidden by default: how the procedure ended is told in the
// status bar, and a failure in a message box as well.
TEST_F(ServiceMenuTest, TheOutcomeIsToldWhereTheUserLooks) {
  const struct {
    const char* name;
    std::vector<sim::Fault> faults;
    bool spoilGrid;
    const char* box;  // nullptr: no box
    const char* notice;
  } cases[] = {
      {"a write not echoed",
       {sim::Fault{.kind = sim::FaultKind::WrongEcho, .command = "W"}},
       false,
       "ОШИБКА! Прошивка не обновлена! Не удалось записать строку из файла прошивки.",
       "ОШИБКА! Прошивка не обновлена! Не удалось записать строку из файла прошивки."},
      {"a grid that cannot be sent",
       {},
       true,
       "ОШИБКА! Прошивка не обновлена! Ячейка таблицы прошивки в строке 7, столбце 2 не является "
       "шестнадцатеричным байтом",
       "ОШИБКА! Прошивка не обновлена! Ячейка таблицы прошивки в строке 7, столбце 2 не является "
       "шестнадцатеричным байтом"},
      // Afterwards the device is asked for its version, which is told.
      {"every group written and settled",
       {},
       false,
       nullptr,
       "Перепрошивка успешно завершена! Устройство называет версию VER 14.003.099."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    main_->close();
    main_.reset();
    // The 15 s settle wait passes at once.
    test::QuickPauseClock clock;
    MakeMain(clock);
    errors_.clear();
    sim::SimOptions device;
    device.faults = c.faults;
    device.versionAfter = "VER 14.003.099";
    Connect(device);
    HexGrid grid = NineRows();
    if (c.spoilGrid) grid.Rows[7][2] = "X5";
    Choose(true, "/tmp/fw.hex", grid);
    ClickUpdate();
    if (c.box) {
      ASSERT_EQ(errors_.size(), 1u);
      EXPECT_EQ(errors_[0], QString::fromUtf8(c.box));
    } else {
      EXPECT_TRUE(errors_.empty());
    }
    ASSERT_TRUE(Disconnected());
    EXPECT_EQ(main_->Ui().panels[2]->text(), QString::fromUtf8(c.notice));
    // The log keeps its lines as before.
    if (c.box) {
      ASSERT_FALSE(Log().isEmpty());
      EXPECT_EQ(Log().back(), QString::fromUtf8(c.box));
    }
    main_->close();
    main_.reset();
    sim_->Stop();
    sim_.reset();
    MakeMain();
  }
}

// A viewer left without a file (it refused the one chosen) has nothing to
// write: the device stays connected and the user is told why nothing
// happened.
TEST_F(ServiceMenuTest, NoFileChosenSendsNothingSaysSoAndKeepsTheConnection) {
  Connect({});
  Choose(true, "");
  ClickUpdate();
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_EQ(errors_[0], Ru("Файл прошивки не выбран, перепрошивка не начата."));
  EXPECT_EQ(main_->Ui().panels[2]->text(), Ru("Файл прошивки не выбран, перепрошивка не начата."));
  QTest::qWait(300);
  EXPECT_NE(main_->PortWorker(), nullptr);
  EXPECT_TRUE(sim_->Report().commands.empty());
}

TEST_F(ServiceMenuTest, GridThatCannotBeSentIsShownAndDisconnects) {
  Connect({});
  HexGrid grid = NineRows();
  grid.Rows[7][2] = "X5";
  Choose(true, "/tmp/fw.hex", grid);
  ClickUpdate();
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_TRUE(errors_[0].startsWith(Ru("ОШИБКА! Прошивка не обновлена! "))) << errors_[0].toStdString();
  EXPECT_TRUE(sim_->Report().commands.empty());
  ASSERT_TRUE(Disconnected());
}

// What the user does while the procedure runs is dropped, as a disabled
// window drops it: held back and replayed once the procedure is over, a close
// from the title bar would quit the program and a menu click would open the
// viewer again.
TEST_F(ServiceMenuTest, InputGivenWhileTheProcedureRunsIsDropped) {
  const struct {
    const char* name;
    std::function<void(TformMain&)> give;
  } cases[] = {
      {"close from the title bar", [](TformMain& main) { test::PostSystemClose(&main); }},
      {"the Панель menu clicked, its item chosen with the keys",
       [](TformMain& main) {
         QMenuBar* bar = main.menuBar();
         test::PostSystemClick(bar, bar->actionGeometry(main.Ui().mnuPanel->menuAction()).center());
         test::PostSystemKey(&main, Qt::Key_Down);
         test::PostSystemKey(&main, Qt::Key_Return);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    main_->close();
    main_.reset();
    MakeMain();
    main_->Ui().mnuPanel->menuAction()->setVisible(true);
    main_->Ui().mnuUpdate->setVisible(true);
    viewerShown_ = 0;
    sim::SimOptions device;
    device.faults = {sim::Fault{.kind = sim::FaultKind::WrongEcho, .command = "W"}};
    Connect(device, 400);
    Choose(true, "/tmp/fw.hex");
    // The input comes while the device erases its flash.
    bool given = false;
    QTimer watch;
    watch.setInterval(5);
    QObject::connect(&watch, &QTimer::timeout, [&] {
      const auto commands = sim_->Report().commands;
      if (given || std::find(commands.begin(), commands.end(), "BE") == commands.end()) return;
      given = true;
      c.give(*main_);
    });
    watch.start();
    ClickUpdate();
    watch.stop();
    ASSERT_TRUE(given);
    ASSERT_TRUE(Disconnected());
    QTest::qWait(300);
    EXPECT_TRUE(main_->isVisible());
    EXPECT_EQ(viewerShown_, 1);
    sim_->Stop();
    sim_.reset();
  }
}

TEST_F(ServiceMenuTest, WithoutAConnectionNothingHappens) {
  Choose(true, "/tmp/fw.hex");
  ClickUpdate();
  EXPECT_EQ(viewerShown_, 1);
  EXPECT_TRUE(errors_.empty());
  EXPECT_FALSE(main_->Ui().serviceProgressBar->isVisible());
}

}  // namespace
}  // namespace tarvik
