#include "connect/ui/connectdlg.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "common/inifile.h"
#include "common/text.h"
#include "common/ui/qtext.h"
#include "device/devicefixture.h"
#include "firmware/shippedcatalogue.h"
#include "simulator/devicesimulator.h"

namespace tarvik {
namespace {

using Names = std::vector<std::string>;

std::filesystem::path FreshIniPath(const std::string& name) {
  const std::filesystem::path path =
      std::filesystem::path(testing::TempDir()) / ("connectdlg_" + name + ".ini");
  std::filesystem::remove(path);
  return path;
}

Names BoxItems(const TdlgConnect& dlg) {
  Names items;
  for (int i = 0; i < dlg.ComPorts->count(); ++i) items.push_back(ToCp(dlg.ComPorts->itemText(i)));
  return items;
}

struct DialogCase {
  const char* name;
  Names registered;                       // what the system lists, unsorted
  std::optional<std::string> stored;      // "Connect"/"ComPort" before the dialog
  std::optional<std::string> typed;       // typed after showing, then the list button pressed
  std::optional<std::string> typedAtEnd;  // typed just before closing
  bool ok;                                // closes with OK, else Cancel
  Names expectedItems;
  int expectedIndex;
  std::string expectedSaved;  // "ComPort" after SavePort; also the chosen text
};

void PrintTo(const DialogCase& c, std::ostream* os) { *os << c.name; }

class ConnectDialogTest : public testing::TestWithParam<DialogCase> {};

TEST_P(ConnectDialogTest, ListSelectionAndSavedPort) {
  const DialogCase& c = GetParam();
  const std::filesystem::path path = FreshIniPath(c.name);
  IniFile settings(path);
  if (c.stored) settings.WriteString("Connect", "ComPort", *c.stored);

  TdlgConnect dlg([&] { return c.registered; });
  dlg.LoadPort(settings);
  dlg.show();
  if (c.typed) {
    dlg.ComPorts->setEditText(FromCp(*c.typed));
    QTest::mouseClick(dlg.SpeedButton2, Qt::LeftButton);
  }
  EXPECT_EQ(BoxItems(dlg), c.expectedItems);
  EXPECT_EQ(dlg.ComPorts->currentIndex(), c.expectedIndex);
  if (c.typedAtEnd) dlg.ComPorts->setEditText(FromCp(*c.typedAtEnd));

  QTest::mouseClick(c.ok ? dlg.OKBtn : dlg.CancelBtn, Qt::LeftButton);
  EXPECT_FALSE(dlg.isVisible());
  EXPECT_EQ(dlg.result(), c.ok ? QDialog::Accepted : QDialog::Rejected);
  EXPECT_EQ(dlg.ChosenPortText(), c.expectedSaved);

  dlg.SavePort(settings);
  settings.Save();
  EXPECT_EQ(IniFile(path).ReadString("Connect", "ComPort", "<missing>"), c.expectedSaved);
}

const std::string kCyrillicPort = Utf8ToCp1251("Порт 9");

INSTANTIATE_TEST_SUITE_P(
    Cases, ConnectDialogTest,
    testing::Values(
        DialogCase{"RememberedTwoDigitPort",
                   {"COM2", "COM12", "COM1"},
                   "COM12",
                   {},
                   {},
                   true,
                   {"COM1", "COM12", "COM2"},
                   1,
                   "COM12"},
        DialogCase{"RememberedPortGone",
                   {"COM3", "COM2", "COM1"},
                   "COM5",
                   {},
                   {},
                   true,
                   {"COM1", "COM2", "COM3"},
                   0,
                   "COM1"},
        DialogCase{"NothingRemembered", {"COM4", "COM3"}, {}, {}, {}, true, {"COM3", "COM4"}, 0, "COM3"},
        DialogCase{"TypedNumberThenListButton",
                   {"COM1", "COM7", "COM17"},
                   "COM1",
                   "7",
                   {},
                   true,
                   {"COM1", "COM17", "COM7"},
                   2,
                   "COM7"},
        DialogCase{"NoPorts", {}, "COM3", {}, {}, true, {}, -1, ""},
        DialogCase{"CancelStillSavesTypedText",
                   {"COM1", "COM2"},
                   "COM2",
                   {},
                   "COM9",
                   false,
                   {"COM1", "COM2"},
                   1,
                   "COM9"},
        DialogCase{
            "CancelSavesSelection", {"COM1", "COM2"}, "COM2", {}, {}, false, {"COM1", "COM2"}, 1, "COM2"},
        DialogCase{
            "CyrillicTextSurvives", {"COM1"}, "COM1", {}, kCyrillicPort, false, {"COM1"}, 0, kCyrillicPort},
        DialogCase{"LinuxSamePrefixAndNumber",
                   {"ttyUSB11", "ttyACM1", "ttyUSB1"},
                   "ttyUSB1",
                   {},
                   {},
                   true,
                   {"ttyACM1", "ttyUSB1", "ttyUSB11"},
                   1,
                   "ttyUSB1"},
        DialogCase{"LinuxOtherPrefixNotTaken",
                   {"ttyACM1", "rfcomm0"},
                   "ttyUSB1",
                   {},
                   {},
                   true,
                   {"rfcomm0", "ttyACM1"},
                   0,
                   "rfcomm0"}),
    [](const testing::TestParamInfo<DialogCase>& param) { return std::string(param.param.name); });

TEST(ConnectDialog, ListIsReadAfreshAtEveryRefresh) {
  std::vector<Names> answers{{"COM1"}, {"COM4", "COM1"}};
  std::size_t calls = 0;
  TdlgConnect dlg([&] { return answers[std::min(calls++, answers.size() - 1)]; });
  dlg.show();
  EXPECT_EQ(BoxItems(dlg), (Names{"COM1"}));
  dlg.ComPorts->setEditText(QStringLiteral("COM4"));
  QTest::mouseClick(dlg.SpeedButton2, Qt::LeftButton);
  EXPECT_EQ(calls, 2u);
  EXPECT_EQ(BoxItems(dlg), (Names{"COM1", "COM4"}));
  EXPECT_EQ(dlg.ChosenPortText(), "COM4");
}

TEST(ConnectDialog, SelectItemByPatternLeavesSelectionWhenNothingMatches) {
  TdlgConnect dlg([] { return Names{"COM1", "COM2", "COM3"}; });
  dlg.FillPortsFromSystem();
  EXPECT_EQ(dlg.SelectItemByPattern("COM3$"), 2);
  EXPECT_EQ(dlg.SelectItemByPattern("COM9$"), -1);
  EXPECT_EQ(dlg.ComPorts->currentIndex(), 2);
  EXPECT_EQ(dlg.ChosenPortText(), "COM3");
}

TEST(ConnectDialog, WindowAndControls) {
  TdlgConnect dlg([] { return Names{}; });
  dlg.show();
  EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Соединение"));
  EXPECT_EQ(dlg.size(), QSize(358, 75));
  EXPECT_EQ(dlg.frameGeometry().center(), dlg.screen()->availableGeometry().center());
  EXPECT_TRUE(dlg.ComPorts->isEditable());
  EXPECT_TRUE(dlg.OKBtn->isDefault());
  EXPECT_EQ(dlg.SpeedButton2->toolTip(), QStringLiteral("Отобразить com порты системы"));
  EXPECT_EQ(dlg.SpeedButton1->text(), QStringLiteral("Автоматический поиск"));
  EXPECT_FALSE(dlg.ProgressBar1->isVisible());
  // Every control lies inside the client area.
  for (QWidget* control : dlg.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    EXPECT_TRUE(dlg.rect().contains(control->geometry())) << control->objectName().toStdString();
  }
}

TEST(ConnectDialog, AutomaticSearchDoesNothingWithoutASearchSetup) {
  TdlgConnect dlg([] { return Names{"COM1"}; });
  int notFound = 0;
  dlg.SetNotFoundHook([&] { ++notFound; });
  dlg.show();
  QTest::mouseClick(dlg.SpeedButton1, Qt::LeftButton);
  EXPECT_TRUE(dlg.isVisible());
  EXPECT_EQ(notFound, 0);
  EXPECT_FALSE(dlg.ProgressBar1->isVisible());
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
    dlg_ = std::make_unique<TdlgConnect>([ports] { return ports; });
    dlg_->SetPortSearch(
        {.Queue = queue_, .Memo = nullptr, .Sync = steps_, .Catalogue = &test::ShippedCatalogue()});
    dlg_->SetNotFoundHook([this] { ++notFound_; });
    dlg_->SetErrorHook([this](const QString& text) { errors_.push_back(text); });
    dlg_->show();
  }

  std::vector<std::unique_ptr<sim::DeviceSimulator>> devices_;
  TOutArray queue_;
  UiStepQueue steps_;
  std::unique_ptr<TdlgConnect> dlg_;
  int notFound_ = 0;
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
    okEnabled = dlg_->OKBtn->isEnabled();
    barShown = dlg_->ProgressBar1->isVisible();
    dlg_->reject();  // Escape or the close box
    stillOpen = dlg_->isVisible();
  });
  QTest::mouseClick(dlg_->SpeedButton1, Qt::LeftButton);
  EXPECT_TRUE(searching);
  EXPECT_FALSE(okEnabled) << "no input while searching";
  EXPECT_TRUE(barShown);
  EXPECT_TRUE(stillOpen) << "the dialog cannot be left while searching";

  EXPECT_EQ(dlg_->result(), QDialog::Accepted);
  EXPECT_FALSE(dlg_->isVisible());
  EXPECT_EQ(dlg_->ChosenPortText(), known);
  EXPECT_FALSE(dlg_->ProgressBar1->isVisible());
  EXPECT_EQ(notFound_, 0);
  EXPECT_TRUE(errors_.empty());
  // The ports in the order the list shows them (sorted), not as the system
  // gave them: the other device was asked exactly when it comes first.
  const bool otherFirst = dlg_->ComPorts->itemText(0) == FromCp(other);
  EXPECT_EQ(devices_[0]->Report().commands, otherFirst ? Names{"v"} : Names{});
}

TEST_F(DialogSearch, NothingFoundShowsTheBoxAndKeepsTheDialogOpen) {
  const std::string other = AddDevice("VER 99.099.001");
  Open({other, "ttyTarvikNoSuchPort"});
  dlg_->ComPorts->setCurrentIndex(dlg_->ComPorts->findText(QStringLiteral("ttyTarvikNoSuchPort")));
  QTest::mouseClick(dlg_->SpeedButton1, Qt::LeftButton);
  EXPECT_EQ(notFound_, 1);
  EXPECT_TRUE(dlg_->isVisible());
  EXPECT_EQ(dlg_->ChosenPortText(), other) << "the port that answered stays selected";
  EXPECT_FALSE(dlg_->ProgressBar1->isVisible());
  EXPECT_EQ(dlg_->ProgressBar1->value(), 2);
  EXPECT_TRUE(dlg_->OKBtn->isEnabled());
  EXPECT_FALSE(dlg_->Searching());
}

TEST_F(DialogSearch, PortErrorIsShownAndTheDialogStays) {
  sim::SimOptions gone;
  gone.unpaced = true;
  // Gone while the answer is awaited, not while the query is written.
  gone.faults = {sim::Fault{.kind = sim::FaultKind::Silence, .command = "v"},
                 sim::Fault{.kind = sim::FaultKind::Slow, .command = "v", .nth = 0, .delayMs = 50},
                 sim::Fault{.kind = sim::FaultKind::HangUp, .command = "v"}};
  devices_.push_back(std::make_unique<sim::DeviceSimulator>(gone));
  ASSERT_TRUE(devices_.back()->Start());
  Open({test::PortName(devices_.back()->SlavePath())});
  QTest::mouseClick(dlg_->SpeedButton1, Qt::LeftButton);
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_TRUE(errors_[0].contains(QStringLiteral("Unable to read from port."))) << errors_[0].toStdString();
  EXPECT_EQ(notFound_, 0);
  EXPECT_TRUE(dlg_->isVisible());
  EXPECT_FALSE(dlg_->ProgressBar1->isVisible());
}

}  // namespace
}  // namespace tarvik
