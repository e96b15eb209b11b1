#include "reflash/ui/reflashwindow.h"

#include <gtest/gtest.h>

#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <chrono>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "common/text.h"
#include "reflash/ui/partsprogressbar.h"
#include "support/qtpump.h"

namespace tarvik {
namespace {

// Records which hooks the window called, in order, and whether the window
// was still visible at each call.
class ReflashWindowTest : public testing::Test {
 protected:
  TformUpdateInsHooks Hooks() {
    auto record = [this](const char* name) {
      return [this, name] { calls_.push_back({name, window_ != nullptr && window_->isVisible()}); };
    };
    TformUpdateInsHooks hooks;
    hooks.LockMain = record("LockMain");
    hooks.EnableMain = record("EnableMain");
    hooks.UnlockMainControls = record("UnlockMainControls");
    hooks.StartDisconnectTimer = record("StartDisconnectTimer");
    hooks.UnlockUi = record("UnlockUi");
    hooks.Device = [this]() -> std::optional<DeviceIdentity> {
      if (!versionLine_) return std::nullopt;
      return DeviceIdentity::FromVersionLine(*versionLine_);
    };
    hooks.StartReflash = [this](const std::vector<std::string>& lines, ReflashView&,
                                std::chrono::system_clock::time_point start) {
      calls_.push_back({"StartReflash", true});
      startedLines_ = lines.size();
      startedAt_ = start;
      return startSucceeds_;
    };
    hooks.WallNow = [this] { return now_; };
    hooks.ReflashRunning = [this] { return workerRunning_; };
    hooks.StopReflash = record("StopReflash");
    hooks.SetVersionPane = [this](const QString& text) { versionPane_.push_back(text); };
    hooks.ConfirmStop = [this](const QString&) {
      calls_.push_back({"ConfirmStop", window_ != nullptr && window_->isVisible()});
      return stopConfirmed_;
    };
    return hooks;
  }

  std::vector<std::string> CallNames() const {
    std::vector<std::string> names;
    for (const auto& call : calls_) names.push_back(call.first);
    return names;
  }

  std::optional<std::string> versionLine_ = "VER 14.002.020";
  bool startSucceeds_ = true;
  bool workerRunning_ = false;
  bool stopConfirmed_ = true;
  std::size_t startedLines_ = 0;
  // The wall time of the reflash's clock, moved by hand.
  std::chrono::system_clock::time_point now_{std::chrono::sys_days{std::chrono::year{2015} / 12 / 8}};
  std::chrono::system_clock::time_point startedAt_{};
  std::vector<QString> versionPane_;
  std::vector<std::pair<std::string, bool>> calls_;
  TformUpdateIns* window_ = nullptr;
};

TEST_F(ReflashWindowTest, ShowResetsTheWindowAndLocksTheMainWindow) {
  TformUpdateIns window(Hooks());
  window_ = &window;
  // Leftovers of an earlier reflash.
  window.SetFlashState(TFlashState::Done);
  window.Ui().btnUpdateVer->setEnabled(false);
  window.Ui().btnExit->setEnabled(false);
  window.Ui().btnExit->setText(QStringLiteral("Завершить перепрошивку"));
  for (QLabel* label : {window.Ui().lbTimeAfterHead, window.Ui().lbTimeAfter, window.Ui().lbTimeLostHead,
                        window.Ui().lbTimeLost}) {
    label->show();
  }
  window.Ui().reflashProgressBar->SetTotalParts(10);
  window.Ui().reflashProgressBar->SetPartsComplete(7);
  window.Ui().lbNewVersionHead->hide();
  window.Ui().lbNewVersion->hide();
  window.Ui().lbError->setText(QStringLiteral("Ошибка"));
  QPalette red = window.Ui().lbError->palette();
  red.setColor(QPalette::WindowText, Qt::red);
  window.Ui().lbError->setPalette(red);

  window.show();

  EXPECT_EQ(window.FlashState(), TFlashState::Idle);
  EXPECT_EQ(CallNames(), std::vector<std::string>{"LockMain"});
  EXPECT_TRUE(window.Ui().btnUpdateVer->isEnabled());
  EXPECT_EQ(window.focusWidget(), window.Ui().btnUpdateVer);
  EXPECT_TRUE(window.Ui().btnExit->isEnabled());
  EXPECT_EQ(window.Ui().btnExit->text(), QStringLiteral("Выйти без перепрошивки"));
  for (QLabel* label : {window.Ui().lbTimeAfterHead, window.Ui().lbTimeAfter, window.Ui().lbTimeLostHead,
                        window.Ui().lbTimeLost}) {
    EXPECT_FALSE(label->isVisible()) << label->objectName().toStdString();
  }
  EXPECT_EQ(window.Ui().reflashProgressBar->PartsComplete(), 0);
  EXPECT_EQ(window.Ui().reflashProgressBar->value(), 0);
  EXPECT_TRUE(window.Ui().lbNewVersionHead->isVisible());
  EXPECT_TRUE(window.Ui().lbNewVersion->isVisible());
  EXPECT_TRUE(window.Ui().lbError->text().isEmpty());
  EXPECT_EQ(window.Ui().lbError->palette().color(QPalette::WindowText), QColor(Qt::black));
  // Nothing in the version list is selected, so its button is off.
  EXPECT_FALSE(window.Ui().chooseVersionButton->isEnabled());
}

TEST_F(ReflashWindowTest, VersionListButtonFollowsSelection) {
  TformUpdateIns window(Hooks());
  window.Ui().versionList->addItems({QStringLiteral("VER 14.002.028"), QStringLiteral("VER QTT1.001.001")});
  window.Ui().versionList->setCurrentRow(1);
  window.show();
  EXPECT_TRUE(window.Ui().chooseVersionButton->isEnabled());
  window.Ui().versionList->clearSelection();
  EXPECT_FALSE(window.Ui().chooseVersionButton->isEnabled());
}

TEST_F(ReflashWindowTest, FixedWindowWithoutCloseBox) {
  TformUpdateIns window(Hooks());
  window.show();
  EXPECT_EQ(window.size(), QSize(687, 178));
  EXPECT_EQ(window.windowTitle(), QStringLiteral("Перепрошивка панели"));
  EXPECT_FALSE(window.windowFlags() & Qt::WindowCloseButtonHint);
  EXPECT_TRUE(window.windowFlags() & Qt::CustomizeWindowHint);
  // Neither Esc nor a close request closes it.
  QTest::keyClick(&window, Qt::Key_Escape);
  EXPECT_TRUE(window.isVisible());
  EXPECT_FALSE(window.close());
  EXPECT_TRUE(window.isVisible());
  // The progress bar spans the window above the buttons.
  EXPECT_GT(window.Ui().reflashProgressBar->width(), 687 - 30);
  EXPECT_LT(window.Ui().reflashProgressBar->geometry().bottom(), window.Ui().btnExit->geometry().top());
}

struct ExitCase {
  const char* name;
  std::optional<std::string> versionLine;
  std::vector<std::string> expectedCalls;  // after LockMain of the show
};

void PrintTo(const ExitCase& c, std::ostream* os) { *os << c.name; }

class ReflashWindowExit : public ReflashWindowTest, public testing::WithParamInterface<ExitCase> {};

TEST_P(ReflashWindowExit, IdleExitClosesAndUnlocks) {
  const ExitCase& c = GetParam();
  versionLine_ = c.versionLine;
  TformUpdateIns window(Hooks());
  window_ = &window;
  window.show();
  calls_.clear();

  QTest::mouseClick(window.Ui().btnExit, Qt::LeftButton);

  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(CallNames(), c.expectedCalls);
  // The unlock comes after the window has closed.
  ASSERT_FALSE(calls_.empty());
  EXPECT_FALSE(calls_.back().second);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReflashWindowExit,
    testing::Values(
        ExitCase{"VersionLine", "VER 14.002.020", {"StartDisconnectTimer", "EnableMain", "UnlockUi"}},
        ExitCase{"Bootloader", "BootLdr v2.1", {"StartDisconnectTimer", "EnableMain", "UnlockMainControls"}},
        ExitCase{
            "BootloaderTestIsCaseSensitive", "BOOTLDR", {"StartDisconnectTimer", "EnableMain", "UnlockUi"}},
        ExitCase{"NoController", std::nullopt, {"StartDisconnectTimer", "EnableMain", "UnlockMainControls"}}),
    [](const testing::TestParamInfo<ExitCase>& param) { return std::string(param.param.name); });

TEST_F(ReflashWindowTest, ExitDuringStartOnlyStartsTheDisconnectTimer) {
  TformUpdateIns window(Hooks());
  window_ = &window;
  window.show();
  window.SetFlashState(TFlashState::Starting);
  calls_.clear();
  QTest::mouseClick(window.Ui().btnExit, Qt::LeftButton);
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(CallNames(), std::vector<std::string>{"StartDisconnectTimer"});
}

TEST_F(ReflashWindowTest, StartingTheReflash) {
  const struct {
    const char* name;
    std::optional<std::string> versionLine;
    bool startSucceeds;
    TFlashState state;
    bool exitEnabled;
  } cases[] = {
      {"device in its firmware", "VER 14.002.020", true, TFlashState::Starting, true},
      // A device in its bootloader may not be left half way.
      {"device in its bootloader", "BootLdr v1.0", true, TFlashState::Starting, false},
      {"worker cannot start", "VER 14.002.020", false, TFlashState::Done, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    versionLine_ = c.versionLine;
    startSucceeds_ = c.startSucceeds;
    TformUpdateIns window(Hooks());
    window_ = &window;
    window.ApplySelection(SelectImage(window.Catalogue(), 1, versionLine_, true));
    window.show();
    calls_.clear();
    window.Ui().btnUpdateVer->click();
    EXPECT_EQ(CallNames(), std::vector<std::string>{"StartReflash"});
    EXPECT_EQ(startedLines_, window.Catalogue().ImageLines()[1].size());
    EXPECT_EQ(window.FlashState(), c.state);
    EXPECT_FALSE(window.Ui().btnUpdateVer->isEnabled());
    EXPECT_EQ(window.Ui().btnExit->isEnabled(), c.exitEnabled);
    EXPECT_TRUE(window.Ui().lbTimeLost->isVisible());
  }
  // Without a connection nothing happens.
  versionLine_ = std::nullopt;
  TformUpdateIns window(Hooks());
  window_ = &window;
  window.show();
  calls_.clear();
  window.Ui().btnUpdateVer->click();
  EXPECT_TRUE(calls_.empty());
  EXPECT_EQ(window.FlashState(), TFlashState::Idle);
}

TEST_F(ReflashWindowTest, ExitWhileRunningOrDoneStopsAWorkerThatRunsAndClosesUnlocked) {
  const struct {
    const char* name;
    TFlashState state;
    bool running;
    std::vector<std::string> calls;
  } cases[] = {
      {"running",
       TFlashState::Running,
       true,
       {"ConfirmStop", "StartDisconnectTimer", "StopReflash", "EnableMain", "UnlockMainControls"}},
      {"failed, the worker has ended",
       TFlashState::Running,
       false,
       {"StartDisconnectTimer", "EnableMain", "UnlockMainControls"}},
      {"done", TFlashState::Done, false, {"StartDisconnectTimer", "EnableMain", "UnlockMainControls"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TformUpdateIns window(Hooks());
    window_ = &window;
    window.show();
    window.SetFlashState(c.state);
    workerRunning_ = c.running;
    calls_.clear();
    versionPane_.clear();
    window.Ui().btnExit->click();
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(CallNames(), c.calls);
    EXPECT_EQ(versionPane_, std::vector<QString>{QString()}) << "the version pane is cleared";
  }
}

TEST_F(ReflashWindowTest, TheWorkersStepsShowTheOutcome) {
  TformUpdateIns window(Hooks());
  window_ = &window;
  window.ApplySelection(SelectImage(window.Catalogue(), 1, versionLine_, true));
  window.show();
  window.Ui().btnUpdateVer->click();
  ReflashView& view = window;
  // A failure is shown only while the reflash runs.
  view.ShowFailure({});
  EXPECT_TRUE(window.Ui().lbError->text().isEmpty());
  view.MarkRunning();
  view.ShowStage(ReflashStage::Erasing);
  EXPECT_EQ(window.Ui().lbError->text(), QStringLiteral("Идет очистка памяти..."));
  view.ShowProgress(250, 125);
  EXPECT_EQ(window.Ui().reflashProgressBar->value(), 50);
  view.ShowElapsed(Utf8ToCp1251("1 мин 0 сек "));
  view.ShowRemaining(Utf8ToCp1251("3 мин 20 сек "));
  EXPECT_EQ(window.Ui().lbTimeAfter->text(), QStringLiteral("1 мин 0 сек "));
  EXPECT_EQ(window.Ui().lbTimeLost->text(), QStringLiteral("3 мин 20 сек "));
  view.DisableExit();
  EXPECT_FALSE(window.Ui().btnExit->isEnabled());
  view.ShowSuccess({});
  EXPECT_EQ(window.FlashState(), TFlashState::Done);
  EXPECT_EQ(window.Ui().lbError->text(), QStringLiteral("Перепрошивка успешно завершена!"));
  EXPECT_EQ(window.Ui().lbError->palette().color(QPalette::WindowText), QColor(0, 128, 0));
  EXPECT_EQ(window.Ui().btnExit->text(), QStringLiteral("Завершить перепрошивку"));
  EXPECT_TRUE(window.Ui().btnExit->isEnabled());
  EXPECT_EQ(window.Ui().lbCurrentVersion->text(), QStringLiteral("VER 14.002.028"));
  EXPECT_EQ(versionPane_, std::vector<QString>{QStringLiteral("VER 14.002.028")});
  // After success a late failure step changes nothing.
  view.ShowFailure({});
  EXPECT_EQ(window.Ui().lbError->text(), QStringLiteral("Перепрошивка успешно завершена!"));
}

// The worker tells the elapsed time only between its commands, and the erase
// alone may take 45 s: the window keeps the time moving meanwhile, and after
// a failure it shows no estimate of a time to go.
TEST_F(ReflashWindowTest, ElapsedTimeMovesOnDuringACommandAndNoEstimateStandsAfterAFailure) {
  TformUpdateIns window(Hooks());
  window_ = &window;
  window.ApplySelection(SelectImage(window.Catalogue(), 1, versionLine_, true));
  window.show();
  window.Ui().btnUpdateVer->click();
  EXPECT_EQ(startedAt_, now_) << "the reflash measures from the moment of the start";
  ReflashView& view = window;
  view.MarkRunning();
  view.ShowStage(ReflashStage::Erasing);
  view.ShowElapsed(Utf8ToCp1251("0 сек "));
  view.ShowRemaining(Utf8ToCp1251("1 ч 33 мин 22 сек "));
  now_ += std::chrono::seconds(7);
  EXPECT_TRUE(
      test::PumpUntil([&] { return window.Ui().lbTimeAfter->text() == QStringLiteral("7 сек "); }, 2000))
      << window.Ui().lbTimeAfter->text().toStdString();
  now_ += std::chrono::seconds(60);
  EXPECT_TRUE(test::PumpUntil(
      [&] { return window.Ui().lbTimeAfter->text() == QStringLiteral("1 мин 7 сек "); }, 2000));

  view.ShowFailure({.outcome = ReflashOutcome::Failed, .cause = ReflashCause::LineLost});
  EXPECT_EQ(window.Ui().lbError->text(),
            QStringLiteral("Связь с устройством потеряна. Прошивка устройства не изменена. Проверьте кабель "
                           "и подключитесь снова."));
  EXPECT_FALSE(window.Ui().lbTimeLost->isVisible());
  EXPECT_FALSE(window.Ui().lbTimeLostHead->isVisible());
  EXPECT_TRUE(window.Ui().lbTimeLost->text().isEmpty());
  EXPECT_TRUE(window.Ui().lbTimeAfter->isVisible()) << "the time it took stays";
  // The time stops with the reflash.
  now_ += std::chrono::seconds(30);
  QTest::qWait(600);
  EXPECT_EQ(window.Ui().lbTimeAfter->text(), QStringLiteral("1 мин 7 сек "));
}

// A technician on Windows presses Enter on the focused button.
TEST_F(ReflashWindowTest, EnterPressesTheFocusedButton) {
  const struct {
    const char* name;
    QPushButton* TformUpdateInsUi::*button;
    int key;
    const char* firstCall;
  } cases[] = {
      {"Return on Перепрошить", &TformUpdateInsUi::btnUpdateVer, Qt::Key_Return, "StartReflash"},
      {"Enter on Перепрошить", &TformUpdateInsUi::btnUpdateVer, Qt::Key_Enter, "StartReflash"},
      {"Return on the exit", &TformUpdateInsUi::btnExit, Qt::Key_Return, "StartDisconnectTimer"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TformUpdateIns window(Hooks());
    window_ = &window;
    window.ApplySelection(SelectImage(window.Catalogue(), 1, versionLine_, true));
    window.show();
    QPushButton* button = window.Ui().*c.button;
    button->setFocus();
    calls_.clear();
    QTest::keyClick(button, static_cast<Qt::Key>(c.key));
    ASSERT_FALSE(calls_.empty());
    EXPECT_EQ(calls_.front().first, c.firstCall);
  }
}

struct SelectionCase {
  const char* name;
  bool versionChoiceHidden;
  std::optional<std::string> oldName;
  QString expectedOldName;
};

void PrintTo(const SelectionCase& c, std::ostream* os) { *os << c.name; }

class ReflashWindowSelection : public ReflashWindowTest, public testing::WithParamInterface<SelectionCase> {};

TEST_P(ReflashWindowSelection, AppliesTexts) {
  const SelectionCase& c = GetParam();
  TformUpdateIns window(Hooks());
  window.Ui().lbCurrentVersion->setText(QStringLiteral("earlier"));
  if (c.versionChoiceHidden) window.HideVersionChoice();
  window.Ui().reflashProgressBar->SetTotalParts(10);
  window.Ui().reflashProgressBar->SetPartsComplete(5);

  ReflashSelection view;
  view.SelectedImage = 1;
  view.OldName = c.oldName;
  view.NewName = "VER 14.002.028";
  view.Caption = Utf8ToCp1251("QTN Радиоканальный приемник");
  view.CurrentVersionLabel = Utf8ToCp1251("Текущая версия прошивки :");
  window.ApplySelection(view);

  EXPECT_EQ(window.SelectedImage(), 1);
  EXPECT_EQ(window.Ui().lbCurrentVersion->text(), c.expectedOldName);
  EXPECT_EQ(window.Ui().lbNewVersion->text(), QStringLiteral("VER 14.002.028"));
  EXPECT_EQ(window.windowTitle(), QStringLiteral("QTN Радиоканальный приемник"));
  EXPECT_EQ(window.Ui().lbCurrentVersionHead->text(), QStringLiteral("Текущая версия прошивки :"));
  EXPECT_EQ(window.Ui().lbCurrentVersion->isHidden(), !c.versionChoiceHidden);
  EXPECT_EQ(window.Ui().lbNewVersion->isHidden(), !c.versionChoiceHidden);
  EXPECT_EQ(window.Ui().reflashProgressBar->PartsComplete(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReflashWindowSelection,
    testing::Values(SelectionCase{"Connected", true, "VER 14.002.020", QStringLiteral("VER 14.002.020")},
                    SelectionCase{"NoControllerKeepsOldName", true, std::nullopt, QStringLiteral("earlier")},
                    SelectionCase{"VersionChoiceShownHidesNames", false, "VER 14.002.020",
                                  QStringLiteral("VER 14.002.020")}),
    [](const testing::TestParamInfo<SelectionCase>& param) { return std::string(param.param.name); });

TEST(ReflashWindow, CentredOnMainWindowAndNotDisabledWithIt) {
  QWidget mainWindow;
  mainWindow.setGeometry(120, 90, 900, 600);
  mainWindow.show();
  TformUpdateInsHooks hooks;
  hooks.LockMain = [&] { mainWindow.setEnabled(false); };
  TformUpdateIns window(hooks, &mainWindow);
  window.show();
  EXPECT_EQ(window.frameGeometry().center(), mainWindow.frameGeometry().center());
  EXPECT_FALSE(mainWindow.isEnabled());
  EXPECT_TRUE(window.isEnabled());
  EXPECT_TRUE(window.Ui().btnExit->isEnabled());
}

// Most images have no type name: the window is then captioned with the
// program's title rather than left for the system to show the file's name.
TEST(ReflashWindow, AnImageWithoutATypeNameGetsTheProgramsTitle) {
  TformUpdateIns window(TformUpdateInsHooks{});
  ReflashSelection view;
  view.SelectedImage = 2;
  window.ApplySelection(view);
  EXPECT_TRUE(window.windowTitle().startsWith(
      QStringLiteral("Программа перепрошивки радиоканальной системы Тарвик v. ")))
      << window.windowTitle().toStdString();
  EXPECT_EQ(window.SelectedImage(), 2);
}

}  // namespace
}  // namespace tarvik
