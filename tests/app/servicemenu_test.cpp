// The service menu's reflash on the real main window, offscreen, against a
// simulated device: what the window shows while it runs and after.
#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMenu>
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
#include "reflash/servicereflash.h"
#include "simulator/devicesimulator.h"
#include "support/qtpump.h"
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
  void SetUp() override {
    main_ = std::make_unique<TformMain>(dir_.path(), false);
    main_->SetErrorHook([this](const QString& text) { errors_.push_back(text); });
    main_->SetHexViewer([this] {
      ++viewerShown_;
      return choice_;
    });
    main_->show();
  }
  void TearDown() override {
    main_->close();
    main_.reset();
    if (sim_) sim_->Stop();
  }

  void Connect(sim::SimOptions options) {
    options.unpaced = true;
    options.eraseMs = 0;
    sim_ = std::make_unique<sim::DeviceSimulator>(options);
    ASSERT_TRUE(sim_->Start()) << sim_->Error();
    ASSERT_TRUE(main_->OpenPort(test::PortName(sim_->SlavePath()), false, true));
  }
  void Choose(bool accepted, const std::string& path, HexGrid grid = NineRows()) {
    choice_ = HexViewerChoice{.Accepted = accepted, .Path = path, .Grid = std::move(grid)};
  }
  // Returns once the procedure is over, as the menu click does.
  void ClickUpdate() { main_->Ui().mnuUpdate->trigger(); }
  bool Disconnected() {
    return PumpUntil([&] { return main_->PortWorker() == nullptr; }, 5000);
  }
  QStringList Log() const { return MemoLines(*main_->Ui().Memo1); }
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
    barShown = barShown || main_->Ui().RzProgressBar1->isVisible();
    menusLocked = menusLocked || !main_->Ui().mnuFile->menuAction()->isEnabled();
  });
  watch.start();
  ClickUpdate();
  watch.stop();
  EXPECT_EQ(viewerShown_, 1);
  EXPECT_GT(ticks, 0);
  EXPECT_TRUE(barShown);
  EXPECT_TRUE(menusLocked);
  EXPECT_TRUE(errors_.empty());

  EXPECT_EQ(sim_->Report().commands, (std::vector<std::string>{"BL", "BE", "W0004", "W0004", "W0004"}));
  // The traffic reached the log as it happened, the failure line after it.
  EXPECT_EQ(LogCount(QStringLiteral("#com<-: +W0004:")), 3);
  EXPECT_EQ(LogCount(QStringLiteral("@com->: ")), 5);
  ASSERT_FALSE(Log().isEmpty());
  EXPECT_EQ(Log().back(), QString::fromUtf8(test::text::kWriteFailed));

  ASSERT_TRUE(Disconnected());
  EXPECT_TRUE(main_->Ui().mnuFile->menuAction()->isEnabled());
  EXPECT_TRUE(main_->Ui().tbtnConnect->isEnabled());
  EXPECT_FALSE(main_->Ui().RzProgressBar1->isVisible());
}

TEST_F(ServiceMenuTest, CancelledViewerLeavesTheConnectionAsItWas) {
  Connect({});
  Choose(false, "/tmp/fw.hex");
  ClickUpdate();
  EXPECT_EQ(viewerShown_, 1);
  QTest::qWait(300);
  EXPECT_NE(main_->PortWorker(), nullptr);
  EXPECT_TRUE(sim_->Report().commands.empty());
  EXPECT_FALSE(main_->Ui().RzProgressBar1->isVisible());
}

TEST_F(ServiceMenuTest, NoFileChosenSendsNothingAndStillDisconnects) {
  Connect({});
  Choose(true, "");
  ClickUpdate();
  ASSERT_TRUE(Disconnected());
  EXPECT_TRUE(sim_->Report().commands.empty());
  EXPECT_TRUE(errors_.empty());
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

TEST_F(ServiceMenuTest, WithoutAConnectionNothingHappens) {
  Choose(true, "/tmp/fw.hex");
  ClickUpdate();
  EXPECT_EQ(viewerShown_, 1);
  EXPECT_TRUE(errors_.empty());
  EXPECT_FALSE(main_->Ui().RzProgressBar1->isVisible());
}

}  // namespace
}  // namespace tarvik
