// The automatic search from the connection dialog, offscreen, against
// simulated devices: what the dialog adds to the core search (the list's
// order, the bar, no input meanwhile, the outcome in the dialog).
#include <gtest/gtest.h>

#include <QComboBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "common/ui/qtext.h"
#include "connect/ui/connectdlg.h"
#include "device/devicefixture.h"
#include "firmware/shippedcatalogue.h"
#include "simulator/devicesimulator.h"

namespace tarvik {
namespace {

using Names = std::vector<std::string>;

TEST(DialogSearchSetup, WithoutOneTheButtonDoesNothing) {
  TdlgConnect dlg([] { return Names{"COM1"}; });
  int notFound = 0;
  dlg.SetNotFoundHook([&](const QString&) { ++notFound; });
  dlg.show();
  QTest::mouseClick(dlg.Ui().searchButton, Qt::LeftButton);
  EXPECT_TRUE(dlg.isVisible());
  EXPECT_EQ(notFound, 0);
  EXPECT_FALSE(dlg.Ui().searchProgressBar->isVisible());
}

// The search from the dialog against simulated devices: the list's ports in
// its order, the bar while it runs, the dialog closed with the port found.
class DialogSearch : public testing::Test {
 protected:
  std::string AddDevice(const std::string& version, bool silent = false) {
    sim::SimOptions o;
    o.version = version;
    o.unpaced = true;
    if (silent) o.faults = {sim::Fault{.kind = sim::FaultKind::Silence, .command = ""}};
    devices_.push_back(std::make_unique<sim::DeviceSimulator>(o));
    if (!devices_.back()->Start()) throw std::runtime_error(devices_.back()->Error());
    return test::PortName(devices_.back()->SlavePath());
  }
  void Open(Names ports) {
    systemPorts_ = std::move(ports);
    dlg_ = std::make_unique<TdlgConnect>([this] { return systemPorts_; });
    dlg_->SetPortSearch(
        {.Log = SilentDeviceEvents(), .Sync = steps_, .Catalogue = &test::ShippedCatalogue()});
    dlg_->SetNotFoundHook([this](const QString& text) {
      ++notFound_;
      notFoundText_ = text;
    });
    dlg_->SetErrorHook([this](const QString& text) { errors_.push_back(text); });
    dlg_->show();
  }

  std::vector<std::unique_ptr<sim::DeviceSimulator>> devices_;
  UiStepQueue steps_;
  std::unique_ptr<TdlgConnect> dlg_;
  // What the system registers now.
  Names systemPorts_;
  int notFound_ = 0;
  QString notFoundText_;
  std::vector<QString> errors_;
};

TEST_F(DialogSearch, FindsTheDeviceSelectsItAndClosesWithOk) {
  const std::string other = AddDevice("VER 99.099.001");
  const std::string known = AddDevice("VER 14.002.020");
  Open({known, other});
  // What the dialog looks like while a probe is under way (each takes over
  // 60 ms, and the wait lets timers run).
  bool searching = false, okEnabled = true, barShown = false, stillOpen = false;
  QTimer::singleShot(0, dlg_.get(), [&] {
    searching = dlg_->Searching();
    okEnabled = dlg_->Ui().OKBtn->isEnabled();
    barShown = dlg_->Ui().searchProgressBar->isVisible();
    dlg_->reject();  // Escape or the close box
    stillOpen = dlg_->isVisible();
  });
  QTest::mouseClick(dlg_->Ui().searchButton, Qt::LeftButton);
  EXPECT_TRUE(searching);
  EXPECT_FALSE(okEnabled) << "no input while searching";
  EXPECT_TRUE(barShown);
  EXPECT_TRUE(stillOpen) << "the dialog cannot be left while searching";

  EXPECT_EQ(dlg_->result(), QDialog::Accepted);
  EXPECT_FALSE(dlg_->isVisible());
  EXPECT_EQ(dlg_->ChosenPortText(), known);
  EXPECT_FALSE(dlg_->Ui().searchProgressBar->isVisible());
  EXPECT_EQ(notFound_, 0);
  EXPECT_TRUE(errors_.empty());
  // The ports in the order the list shows them (sorted), not as the system
  // gave them: the other device was asked exactly when it comes first.
  const bool otherFirst = dlg_->Ui().ComPorts->itemText(0) == FromCp(other);
  EXPECT_EQ(devices_[0]->Report().commands, otherFirst ? Names{"v"} : Names{});
}

TEST_F(DialogSearch, NothingFoundShowsTheBoxAndKeepsTheDialogOpen) {
  const std::string other = AddDevice("VER 99.099.001");
  Open({other, "ttyTarvikNoSuchPort"});
  dlg_->Ui().ComPorts->setCurrentIndex(dlg_->Ui().ComPorts->findText(QStringLiteral("ttyTarvikNoSuchPort")));
  QTest::mouseClick(dlg_->Ui().searchButton, Qt::LeftButton);
  EXPECT_EQ(notFound_, 1);
  EXPECT_TRUE(dlg_->isVisible());
  EXPECT_EQ(dlg_->ChosenPortText(), other) << "the port that answered stays selected";
  EXPECT_FALSE(dlg_->Ui().searchProgressBar->isVisible());
  EXPECT_EQ(dlg_->Ui().searchProgressBar->value(), 2);
  EXPECT_TRUE(dlg_->Ui().OKBtn->isEnabled());
  EXPECT_FALSE(dlg_->Searching());
}

// The dialog opens by itself at start, often before the adapter is plugged
// in: the search asks the system for its ports when it starts, and the list
// shows them.
TEST_F(DialogSearch, TheSearchTakesThePortsTheSystemHasWhenItStarts) {
  Open({});
  ASSERT_EQ(dlg_->Ui().ComPorts->count(), 0);
  const std::string plugged = AddDevice("VER 14.002.020");
  systemPorts_ = {plugged};
  QTest::mouseClick(dlg_->Ui().searchButton, Qt::LeftButton);
  EXPECT_EQ(dlg_->Ui().ComPorts->count(), 1);
  EXPECT_EQ(notFound_, 0);
  EXPECT_EQ(dlg_->result(), QDialog::Accepted);
  EXPECT_EQ(dlg_->ChosenPortText(), plugged);
  EXPECT_EQ(devices_[0]->Report().commands, Names{"v"});
}

// A port that fails during its probe (an adapter pulled out) is skipped; when
// no device is found, the box says which port failed and why.
TEST_F(DialogSearch, APortThatFailsIsNamedWhenNothingIsFound) {
  sim::SimOptions gone;
  gone.unpaced = true;
  // Gone while the answer is awaited, not while the query is written.
  gone.faults = {sim::Fault{.kind = sim::FaultKind::Silence, .command = "v"},
                 sim::Fault{.kind = sim::FaultKind::Slow, .command = "v", .nth = 0, .delayMs = 50},
                 sim::Fault{.kind = sim::FaultKind::HangUp, .command = "v"}};
  devices_.push_back(std::make_unique<sim::DeviceSimulator>(gone));
  ASSERT_TRUE(devices_.back()->Start());
  const std::string port = test::PortName(devices_.back()->SlavePath());
  const std::string silent = AddDevice("VER 14.002.020", true);
  Open({port, silent});
  QTest::mouseClick(dlg_->Ui().searchButton, Qt::LeftButton);
  EXPECT_TRUE(errors_.empty());
  ASSERT_EQ(notFound_, 1);
  EXPECT_TRUE(notFoundText_.startsWith(Ru("Устройство не найдено\nПорт ") + FromCp(port) +
                                       Ru(" не удалось опросить: Unable to read from port.")))
      << notFoundText_.toStdString();
  EXPECT_EQ(notFoundText_.count(u'\n'), 1) << "only the failed port is named";
  EXPECT_EQ(devices_[1]->Report().commands, Names{"v"}) << "the port after it was still probed";
  EXPECT_TRUE(dlg_->isVisible());
  EXPECT_FALSE(dlg_->Ui().searchProgressBar->isVisible());
}

}  // namespace
}  // namespace tarvik
