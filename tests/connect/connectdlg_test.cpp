#include "connect/ui/connectdlg.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QToolButton>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "common/inifile.h"
#include "common/text.h"
#include "common/ui/qtext.h"

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
  for (int i = 0; i < dlg.Ui().ComPorts->count(); ++i) items.push_back(ToCp(dlg.Ui().ComPorts->itemText(i)));
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
    dlg.Ui().ComPorts->setEditText(FromCp(*c.typed));
    QTest::mouseClick(dlg.Ui().listPortsButton, Qt::LeftButton);
  }
  EXPECT_EQ(BoxItems(dlg), c.expectedItems);
  EXPECT_EQ(dlg.Ui().ComPorts->currentIndex(), c.expectedIndex);
  if (c.typedAtEnd) dlg.Ui().ComPorts->setEditText(FromCp(*c.typedAtEnd));

  QTest::mouseClick(c.ok ? dlg.Ui().OKBtn : dlg.Ui().CancelBtn, Qt::LeftButton);
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
        DialogCase{"RememberedServerAddress",
                   {"COM2", "COM1"},
                   "rfc2217://bench7:4001",
                   {},
                   {},
                   true,
                   {"COM1", "COM2"},
                   -1,
                   "rfc2217://bench7:4001"},
        DialogCase{"TypedServerAddressThenListButton",
                   {"COM1"},
                   "COM1",
                   "tcp://10.0.0.5:2002",
                   {},
                   true,
                   {"COM1"},
                   -1,
                   "tcp://10.0.0.5:2002"},
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
  dlg.Ui().ComPorts->setEditText(QStringLiteral("COM4"));
  QTest::mouseClick(dlg.Ui().listPortsButton, Qt::LeftButton);
  EXPECT_EQ(calls, 2u);
  EXPECT_EQ(BoxItems(dlg), (Names{"COM1", "COM4"}));
  EXPECT_EQ(dlg.ChosenPortText(), "COM4");
}

TEST(ConnectDialog, SelectItemByPatternLeavesSelectionWhenNothingMatches) {
  TdlgConnect dlg([] { return Names{"COM1", "COM2", "COM3"}; });
  dlg.FillPortsFromSystem();
  EXPECT_EQ(dlg.SelectItemByPattern("COM3$"), 2);
  EXPECT_EQ(dlg.SelectItemByPattern("COM9$"), -1);
  EXPECT_EQ(dlg.Ui().ComPorts->currentIndex(), 2);
  EXPECT_EQ(dlg.ChosenPortText(), "COM3");
}

TEST(ConnectDialog, WindowAndControls) {
  TdlgConnect dlg([] { return Names{}; });
  dlg.show();
  EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Соединение"));
  EXPECT_EQ(dlg.size(), QSize(358, 75));
  EXPECT_EQ(dlg.frameGeometry().center(), dlg.screen()->availableGeometry().center());
  EXPECT_TRUE(dlg.Ui().ComPorts->isEditable());
  EXPECT_TRUE(dlg.Ui().OKBtn->isDefault());
  EXPECT_EQ(dlg.Ui().listPortsButton->toolTip(), QStringLiteral("Отобразить com порты системы"));
  EXPECT_EQ(dlg.Ui().searchButton->text(), QStringLiteral("Автоматический поиск"));
  EXPECT_FALSE(dlg.Ui().searchProgressBar->isVisible());
  // Every control lies inside the client area.
  for (QWidget* control : dlg.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    EXPECT_TRUE(dlg.rect().contains(control->geometry())) << control->objectName().toStdString();
  }
}

}  // namespace
}  // namespace tarvik
