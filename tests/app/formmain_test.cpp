#include "app/formmain.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAction>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QWindow>
#include <atomic>
#include <filesystem>
#include <memory>
#include <thread>

#include "app/formabout.h"
#include "app/infoform.h"
#include "common/buildversion.h"
#include "common/inifile.h"
#include "common/text.h"
#include "common/ui/qtext.h"
#include "common/ui/uiobject_qt.h"
#include "device/deviceevents.h"
#include "outqueue/ui/statuspane.h"
#include "support/serveuntil.h"

namespace tarvik {
namespace {

// Counts the connect and disconnect clicks; the disconnect may skip the
// control changes so the button stays enabled.
class CountingFormMain : public TformMain {
 public:
  using TformMain::TformMain;
  int connects = 0;
  int disconnects = 0;
  bool keepDisconnectEnabled = false;
  std::function<void()> onDisconnect;

 protected:
  void tbtnConnectClick() override { ++connects; }
  void tbtnDisconnectClick() override {
    ++disconnects;
    if (onDisconnect) onDisconnect();
    if (!keepDisconnectEnabled) TformMain::tbtnDisconnectClick();
  }
};

class FormMainTest : public ::testing::Test {
 protected:
  QTemporaryDir dir;
  std::vector<QString> errors;

  std::filesystem::path File(const char* name) const {
    return std::filesystem::path(QFile::encodeName(dir.filePath(QString::fromLatin1(name))).toStdString());
  }
  void WriteFile(const char* name, const std::string& bytes) const {
    QFile file(dir.filePath(QString::fromLatin1(name)));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes.data(), static_cast<qint64>(bytes.size()));
  }
  std::unique_ptr<CountingFormMain> Make(bool autoConnect = false) {
    auto form = std::make_unique<CountingFormMain>(dir.path(), autoConnect);
    form->SetErrorHook([this](const QString& text) { errors.push_back(text); });
    form->SetMessageHook(
        [this](const QString& text) { errors.push_back(QStringLiteral("message: ") + text); });
    return form;
  }
  // windows.ini holding the main window's placement as the tool stores it:
  // the edges, right and bottom one past the last pixel.
  void WritePlacement(const QRect& r) const {
    WriteFile("windows.ini", "[formMainFormState]\r\nLeft=" + std::to_string(r.left()) +
                                 "\r\nTop=" + std::to_string(r.top()) +
                                 "\r\nRight=" + std::to_string(r.left() + r.width()) +
                                 "\r\nBottom=" + std::to_string(r.top() + r.height()) + "\r\n");
  }
  int Placement(const char* key) const {
    return IniFile(File("windows.ini")).ReadInteger("formMainFormState", key, -99999);
  }
};

TEST_F(FormMainTest, FirstStartInAnEmptyDirectoryWritesBothFilesAtClose) {
  ASSERT_TRUE(QDir(dir.path()).isEmpty());
  auto form = Make();
  EXPECT_EQ(form->windowTitle(),
            QString::fromUtf8("Программа перепрошивки радиоканальной системы Тарвик v. ") +
                QString::fromLatin1(TARVIK_FILE_VERSION));
  form->show();
  EXPECT_FALSE(form->Ui().mnuPanel->menuAction()->isVisible());
  EXPECT_FALSE(form->LogVisible());
  EXPECT_FALSE(form->Ui().serviceProgressBar->isVisibleTo(form.get()));
  EXPECT_TRUE(form->Ui().drainTimer->isActive());
  const QRect designed(form->pos(), form->size());
  EXPECT_EQ(designed.topLeft(), QPoint(297, 131));
  EXPECT_EQ(designed.width(), 856);
  form->close();

  EXPECT_TRUE(std::filesystem::exists(File("current.ini")));
  EXPECT_EQ(Placement("Saved"), 1);
  EXPECT_EQ(Placement("Maximized"), 0);
  EXPECT_EQ(Placement("Left"), 297);
  EXPECT_EQ(Placement("Top"), 131);
  EXPECT_EQ(Placement("Right"), 297 + 856);
  EXPECT_EQ(Placement("Bottom"), 131 + designed.height());
  EXPECT_TRUE(errors.empty());
}

TEST_F(FormMainTest, ASettingsFileThatCannotBeReadNeitherBlocksTheStartNorGoesUnsaid) {
  // A FIFO would block a plain read until somebody wrote into it.
  ASSERT_EQ(::mkfifo(File("current.ini").c_str(), 0600), 0);
  auto form = Make();
  form->show();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_TRUE(errors[0].startsWith(Ru("Не удалось прочитать файл настроек "))) << errors[0].toStdString();
  EXPECT_TRUE(errors[0].contains(QStringLiteral("current.ini")));
  EXPECT_TRUE(std::filesystem::is_fifo(File("current.ini")));
}

TEST_F(FormMainTest, OnlyTheExactAccessWordRevealsTheServiceMenu) {
  const struct {
    const char* word;
    bool visible;
  } cases[] = {{"hqzvrd", true}, {"HQZVRD", false}, {"Hqzvrd", false}, {"hqzvr", false}, {"", false}};
  for (const auto& c : cases) {
    WriteFile("current.ini", std::string("[Update]\r\nUpdatePanelVersion=") + c.word + "\r\n");
    auto form = Make();
    EXPECT_EQ(form->Ui().mnuPanel->menuAction()->isVisible(), c.visible) << c.word;
    EXPECT_EQ(form->Ui().mnuUpdate->isVisible(), c.visible) << c.word;
  }
}

TEST_F(FormMainTest, StoredPlacementIsRestoredAndOffScreenComesBackAtTheOrigin) {
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  const struct {
    QRect stored;
    QPoint expected;
  } cases[] = {
      {QRect(40, 30, 500, 300), QPoint(40, 30)},
      {QRect(screen.right() + 100, 10, 520, 310), QPoint(0, 0)},
      {QRect(-4000, -3000, 530, 320), QPoint(0, 0)},
  };
  for (const auto& c : cases) {
    WritePlacement(c.stored);
    auto form = Make();
    form->show();
    EXPECT_EQ(form->pos(), c.expected) << c.stored.left();
    EXPECT_EQ(form->size(), c.stored.size()) << c.stored.left();
    form->close();
    EXPECT_EQ(Placement("Left"), c.expected.x());
    EXPECT_EQ(Placement("Right") - Placement("Left"), c.stored.width());
  }
}

TEST_F(FormMainTest, DamagedPlacementIsFittedOnTheScreenAndSavedSo) {
  const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
  const struct {
    const char* name;
    QRect stored;
  } cases[] = {
      {"huge", QRect(0, 0, 100000, 100000)},
      {"near the bottom right corner", QRect(available.right() - 80, available.bottom() - 24, 856, 420)},
      {"wider than the screen, off to the left", QRect(-50, 40, available.width() + 500, 300)},
  };
  for (const auto& c : cases) {
    WritePlacement(c.stored);
    auto form = Make();
    form->show();
    const QRect shown(form->pos(), form->size());
    EXPECT_TRUE(available.contains(shown)) << c.name;
    EXPECT_EQ(shown.width(), std::min(c.stored.width(), available.width())) << c.name;
    EXPECT_EQ(shown.height(), std::min(c.stored.height(), available.height())) << c.name;
    form->close();
    // What was fitted is what is kept.
    EXPECT_EQ(Placement("Left"), shown.left()) << c.name;
    EXPECT_EQ(Placement("Right"), shown.left() + shown.width()) << c.name;
    EXPECT_EQ(Placement("Bottom"), shown.top() + shown.height()) << c.name;
  }
}

TEST_F(FormMainTest, CloseRequestWhileTheWindowTakesNoInputChangesNothing) {
  const struct {
    const char* name;
    std::function<void(TformMain&, const std::function<void()>&)> whileBlocked;
  } cases[] = {
      {"disabled, as under the reflash window",
       [](TformMain& form, const std::function<void()>& request) {
         form.setEnabled(false);
         request();
         form.setEnabled(true);
       }},
      {"under a modal dialog",
       [](TformMain& form, const std::function<void()>& request) {
         QDialog dialog(&form);
         QTimer::singleShot(0, &dialog, [&] {
           request();
           dialog.reject();
         });
         dialog.exec();
       }},
  };
  for (const auto& c : cases) {
    auto form = Make();
    form->Ui().tbtnDisconnect->setEnabled(true);
    form->show();
    // What the title bar's close box sends.
    c.whileBlocked(*form, [&] { form->windowHandle()->close(); });
    EXPECT_TRUE(form->isVisible()) << c.name;
    EXPECT_EQ(form->disconnects, 0) << c.name;
    EXPECT_FALSE(std::filesystem::exists(File("current.ini"))) << c.name;
    // Once it takes input again, a close works as ever.
    form->close();
    EXPECT_FALSE(form->isVisible()) << c.name;
    EXPECT_EQ(form->disconnects, 1) << c.name;
    std::filesystem::remove(File("current.ini"));
    std::filesystem::remove(File("windows.ini"));
  }
}

TEST_F(FormMainTest, MaximizedPlacementMaximisesAndKeepsTheNormalRectangle) {
  WriteFile("windows.ini",
            "[formMainFormState]\r\nLeft=20\r\nTop=30\r\nRight=620\r\nBottom=430\r\nMaximized=1\r\n");
  auto form = Make();
  form->show();
  EXPECT_TRUE(form->isMaximized());
  form->close();
  EXPECT_EQ(Placement("Maximized"), 1);
  EXPECT_EQ(Placement("Left"), 20);
  EXPECT_EQ(Placement("Right"), 620);
}

TEST_F(FormMainTest, CtrlAltIOpensTheInformationWindowAndOneModifierDoesNot) {
  const struct {
    Qt::KeyboardModifiers modifiers;
    bool opens;
  } cases[] = {
      {Qt::ControlModifier | Qt::AltModifier, true},
      {Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier, true},
      {Qt::AltModifier, false},
      {Qt::ControlModifier, false},
      {Qt::NoModifier, false},
  };
  for (const auto& c : cases) {
    auto form = Make();
    TInfoForm info(form.get());
    int fills = 0;
    info.SetListFiller([&fills](QListWidget& list) {
      ++fills;
      list.addItem(QStringLiteral("VER 14.001.042"));
    });
    form->SetInfoForm(&info);
    form->show();
    // Sent to a control: the window sees the key first.
    QTest::keyClick(form->Ui().tbtnConnect, Qt::Key_I, c.modifiers);
    EXPECT_EQ(info.isVisible(), c.opens) << c.modifiers.toInt();
    EXPECT_EQ(fills, c.opens ? 1 : 0);
  }
}

TEST_F(FormMainTest, InformationListIsRebuiltOnEachOpeningNotAppended) {
  auto form = Make();
  TInfoForm info(form.get());
  info.SetListFiller([](QListWidget& list) { list.addItems({QStringLiteral("a"), QStringLiteral("b")}); });
  form->SetInfoForm(&info);
  form->show();
  for (int round = 0; round < 2; ++round) {
    QTest::keyClick(form.get(), Qt::Key_I, Qt::ControlModifier | Qt::AltModifier);
    QTest::keyClick(form.get(), Qt::Key_I, Qt::ControlModifier | Qt::AltModifier);  // already open
    EXPECT_EQ(info.InfoList()->count(), 2);
    info.close();
  }
}

TEST_F(FormMainTest, AboutOpensFromTheMenuAndItsOkButtonHidesIt) {
  auto form = Make();
  TFormAbout about(form.get());
  form->SetAboutForm(&about);
  form->show();
  form->Ui().mnuAbout->trigger();
  EXPECT_TRUE(about.isVisible());
  about.OkButton()->click();
  EXPECT_FALSE(about.isVisible());
  form->Ui().mnuAbout->trigger();
  EXPECT_TRUE(about.isVisible());
}

TEST_F(FormMainTest, LogMenuItemTogglesTheLogAndIsRemembered) {
  {
    auto form = Make();
    form->show();
    form->Ui().mnuLog->trigger();
    EXPECT_TRUE(form->LogVisible());
    EXPECT_TRUE(form->Ui().messageLog->isVisible());
    EXPECT_TRUE(form->Ui().saveLogButton->isVisible());
  }
  {
    auto form = Make();
    EXPECT_TRUE(form->LogVisible());
    EXPECT_TRUE(form->Ui().mnuLog->isChecked());
    form->Ui().mnuLog->trigger();
    EXPECT_FALSE(form->LogVisible());
  }
  auto form = Make();
  EXPECT_FALSE(form->LogVisible());
  EXPECT_FALSE(form->Ui().mnuLog->isChecked());
}

TEST_F(FormMainTest, LogClearButtonEmptiesTheMemo) {
  auto form = Make();
  form->Ui().messageLog->appendPlainText(QStringLiteral("x"));
  form->Ui().clearLogButton->click();
  EXPECT_TRUE(MemoLines(*form->Ui().messageLog).isEmpty());
}

TEST_F(FormMainTest, SavedLogIsWindows1251WithCrLfAndReplacesTheFile) {
  const QString target = dir.filePath(QStringLiteral("log.txt"));
  const struct {
    QStringList lines;
    std::string bytes;
  } cases[] = {
      {{QStringLiteral("08.12.2015 9:07:03 #com<-: +v"), QString::fromUtf8("Ошибка")},
       "08.12.2015 9:07:03 #com<-: +v\r\n" + Utf8ToCp1251("Ошибка") + "\r\n"},
      {{QString()}, "\r\n"},
      {{}, ""},
  };
  WriteFile("log.txt", std::string(1000, 'z'));
  for (const auto& c : cases) {
    QString error;
    ASSERT_TRUE(WriteLogFile(target, c.lines, &error)) << error.toStdString();
    EXPECT_EQ(ReadFileBytes(File("log.txt")), c.bytes);
  }
  QString error;
  const QString missing = dir.filePath(QStringLiteral("missing/log.txt"));
  EXPECT_FALSE(WriteLogFile(missing, {QStringLiteral("a")}, &error));
  // The reason in Russian, whatever the language the system speaks.
  EXPECT_EQ(error, QStringLiteral("Не удалось записать файл \"%1\": нет такого файла или папки")
                       .arg(QDir::toNativeSeparators(missing)));
}

TEST_F(FormMainTest, MemoLinesOfAnEmptyMemoAreNone) {
  QPlainTextEdit memo;
  EXPECT_TRUE(MemoLines(memo).isEmpty());
  memo.appendPlainText(QStringLiteral("one"));
  memo.appendPlainText(QString());
  memo.appendPlainText(QStringLiteral("three"));
  EXPECT_EQ(MemoLines(memo), (QStringList{QStringLiteral("one"), QString(), QStringLiteral("three")}));
}

TEST_F(FormMainTest, DisconnectTimerClicksAnEnabledDisconnectButtonOnceAndStops) {
  for (const bool enabled : {true, false}) {
    auto form = Make();
    form->keepDisconnectEnabled = true;
    form->Ui().tbtnDisconnect->setEnabled(enabled);
    ApplyToComponent(FromUi(form->disconnectTimer()), "true");
    QTest::qWait(250);
    EXPECT_EQ(form->disconnects, enabled ? 1 : 0);
    EXPECT_FALSE(form->Ui().disconnectTimer->isActive());
  }
}

TEST_F(FormMainTest, FirstShowClicksConnectOnlyWhenAsked) {
  for (const bool autoConnect : {true, false}) {
    auto form = Make(autoConnect);
    form->show();
    QTest::qWait(20);
    form->hide();
    form->show();
    QTest::qWait(20);
    EXPECT_EQ(form->connects, autoConnect ? 1 : 0);
  }
}

TEST_F(FormMainTest, ClosingWhileConnectedDisconnectsAfterTheSettingsAreWritten) {
  auto form = Make();
  bool settingsWritten = false;
  form->onDisconnect = [&] { settingsWritten = std::filesystem::exists(File("current.ini")); };
  form->Ui().tbtnDisconnect->setEnabled(true);
  form->show();
  form->close();
  EXPECT_EQ(form->disconnects, 1);
  EXPECT_TRUE(settingsWritten);
  form.reset();
  // Destroying the window afterwards does not shut down a second time.
  EXPECT_TRUE(errors.empty());
}

TEST_F(FormMainTest, FileErrorsAtCloseAreShownAndTheCloseGoesOn) {
  ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("windows.ini")));
  ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("current.ini")));
  auto form = Make();
  form->Ui().tbtnDisconnect->setEnabled(true);
  form->show();
  // Neither file could be read at start, which is said then.
  ASSERT_EQ(errors.size(), 2u);
  errors.clear();
  form->close();
  EXPECT_FALSE(form->isVisible());
  EXPECT_EQ(errors.size(), 2u) << "nor written at close";
  EXPECT_EQ(form->disconnects, 1);
}

TEST_F(FormMainTest, QueuedWordsReachTheMainWindowControls) {
  // With the service menu shown, so its items can report being enabled.
  WriteFile("current.ini", "[Update]\r\nUpdatePanelVersion=hqzvrd\r\n");
  auto form = Make();
  TOutArray& queue = form->OutQueue();
  queue.PushControl(form->tbtnDisconnect(), "true");
  for (UiObject* item :
       {form->mnuFile(), form->mnuConnections(), form->mnuHelp(), form->mnuUpdate(), form->mnuPanel()}) {
    queue.PushMenuItem(item, "false");
  }
  queue.PushStatus("VER 14.002.020", form->StatusPanel(1));
  queue.PushControl(form->serviceProgressBar(), "30");
  queue.PushMemoLine(form->messageLog(), "line", true, false);
  DrainOutput(queue);
  const TformMainUi& ui = form->Ui();
  EXPECT_TRUE(ui.tbtnDisconnect->isEnabled());
  for (QMenu* menu : {ui.mnuFile, ui.mnuConnections, ui.mnuHelp, ui.mnuPanel})
    EXPECT_FALSE(menu->menuAction()->isEnabled());
  EXPECT_FALSE(ui.mnuUpdate->isEnabled());
  EXPECT_EQ(ui.panels[1]->text(), QStringLiteral("VER 14.002.020"));
  EXPECT_EQ(ui.serviceProgressBar->value(), 30);
  EXPECT_EQ(MemoLines(*ui.messageLog), QStringList{QStringLiteral("line")});

  form->UnlockMainControls();
  for (QMenu* menu : {ui.mnuFile, ui.mnuConnections, ui.mnuHelp, ui.mnuPanel}) {
    EXPECT_TRUE(menu->menuAction()->isEnabled()) << menu->objectName().toStdString();
  }
  form->LockMainControls();
  EXPECT_FALSE(ui.tbtnDisconnect->isEnabled());
  EXPECT_FALSE(ui.mnuHelp->menuAction()->isEnabled());
}

TEST_F(FormMainTest, StatusPanelsShowLongTextsWhole) {
  auto form = Make();
  form->show();
  const TformMainUi& ui = form->Ui();
  ui.panels[0]->setText(QStringLiteral("COM12 - USB Serial Port"));
  ui.panels[1]->setText(QStringLiteral("VER 14.002.020 rev B BootLdr"));
  form->ShowNotice(Ru("Связь с устройством потеряна"));
  QCoreApplication::processEvents();
  for (int i = 0; i < 3; ++i) {
    const StatusPane* pane = ui.panels[static_cast<std::size_t>(i)];
    EXPECT_LE(pane->fontMetrics().horizontalAdvance(pane->text()), pane->contentsRect().width())
        << pane->text().toStdString();
  }
  EXPECT_GE(ui.panels[0]->width(), 55) << "never narrower than designed";
}

TEST_F(FormMainTest, AQueuedClickDisconnectsThroughADisabledButton) {
  for (const char* word : {"Click", "CLICK"}) {
    auto form = Make();
    form->Ui().tbtnConnect->setEnabled(false);
    form->Ui().panels[0]->setText(QStringLiteral("COM3"));
    form->Ui().serviceProgressBar->show();
    ASSERT_FALSE(form->Ui().tbtnDisconnect->isEnabled());
    form->OutQueue().PushControl(form->tbtnDisconnect(), word);
    DrainOutput(form->OutQueue());
    EXPECT_EQ(form->disconnects, 1) << word;
    EXPECT_TRUE(form->Ui().tbtnConnect->isEnabled());
    EXPECT_TRUE(form->Ui().mnuConnect->isEnabled());
    EXPECT_FALSE(form->Ui().mnuDisconnect->isEnabled());
    EXPECT_TRUE(form->Ui().panels[0]->text().isEmpty());
    EXPECT_TRUE(form->Ui().serviceProgressBar->isHidden());
  }
}

// What the connection tells from its threads reaches the main window through
// the output queue: the panes, the locks, the log and the disconnect.
TEST_F(FormMainTest, WhatTheConnectionTellsReachesTheMainWindow) {
  WriteFile("current.ini", "[Update]\r\nUpdatePanelVersion=hqzvrd\r\n");
  auto form = Make();
  const TformMainUi& ui = form->Ui();
  const auto when = std::chrono::system_clock::now();
  const auto tell = [&](const std::function<void(DeviceEvents&)>& event) {
    std::thread worker([&] { event(form->Events()); });
    worker.join();
    DrainOutput(form->OutQueue());
    QCoreApplication::processEvents();
  };

  tell([](DeviceEvents& e) { e.Answered("VER 14.002.020"); });
  EXPECT_EQ(ui.panels[1]->text(), QStringLiteral("VER 14.002.020"));
  tell([](DeviceEvents& e) { e.IdentityCleared(); });
  EXPECT_TRUE(ui.panels[1]->text().isEmpty());

  tell([](DeviceEvents& e) { e.Busy(true); });
  EXPECT_FALSE(ui.tbtnDisconnect->isEnabled());
  for (QMenu* menu : {ui.mnuFile, ui.mnuConnections, ui.mnuHelp, ui.mnuPanel}) {
    EXPECT_FALSE(menu->menuAction()->isEnabled()) << menu->objectName().toStdString();
  }
  ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
  tell([](DeviceEvents& e) { e.Busy(false); });
  EXPECT_TRUE(ui.tbtnDisconnect->isEnabled());
  for (QMenu* menu : {ui.mnuFile, ui.mnuConnections, ui.mnuHelp, ui.mnuPanel}) {
    EXPECT_TRUE(menu->menuAction()->isEnabled()) << menu->objectName().toStdString();
  }
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);

  tell([&](DeviceEvents& e) {
    e.LogLine(when, "#com<-: +v");
    e.OutcomeLine(when, "outcome");
  });
  const QString stamp = FromCp(FormatLocalDateTime(when));
  EXPECT_EQ(MemoLines(*ui.messageLog),
            (QStringList{stamp + QStringLiteral(" #com<-: +v"), QStringLiteral("outcome")}));

  const std::pair<const char*, std::function<void(DeviceEvents&)>> ends[] = {
      {"line lost", [](DeviceEvents& e) { e.LineLost("Unable to read from port."); }},
      {"no answer", [](DeviceEvents& e) { e.NoAnswer(); }},
      {"disconnect asked", [](DeviceEvents& e) { e.DisconnectRequested(); }},
  };
  int disconnects = 0;
  for (const auto& [name, event] : ends) {
    SCOPED_TRACE(name);
    ui.panels[2]->setText(QString());
    tell(event);
    EXPECT_EQ(form->disconnects, ++disconnects);
    // Only a lost line has the notice pane say so.
    EXPECT_EQ(ui.panels[2]->text().trimmed(),
              std::string(name) == "line lost" ? Ru("Связь с устройством потеряна") : QString());
  }
}

TEST_F(FormMainTest, TheTimerDrainsTheQueueAndMessagesGoThroughTheHook) {
  auto form = Make();
  form->OutQueue().PushMessage(Utf8ToCp1251("Версия VER 14.099.001 не поддерживается"));
  form->OutQueue().PushStatus("COM3", form->StatusPanel(0));
  QTest::qWait(200);
  EXPECT_EQ(form->Ui().panels[0]->text(), QStringLiteral("COM3"));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], QString::fromUtf8("message: Версия VER 14.099.001 не поддерживается"));
}

TEST_F(FormMainTest, WorkerStepsRunOnTheUiThreadThroughTheEventLoop) {
  auto form = Make();
  std::atomic<bool> done{false};
  bool onUiThread = false;
  std::thread worker([&] {
    form->UiSteps().RunSync([&] { onUiThread = QThread::currentThread() == form->thread(); });
    done = true;
  });
  QElapsedTimer elapsed;
  elapsed.start();
  while (!done && elapsed.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  const bool ranThroughTheLoop = done.load();
  // Served here only when the loop failed to, so that the worker can end.
  if (!ranThroughTheLoop) test::ServeUntil(form->UiSteps(), [&] { return done.load(); });
  worker.join();
  EXPECT_TRUE(ranThroughTheLoop) << "the event loop did not run the worker's step within 5 s";
  EXPECT_TRUE(onUiThread);
}

}  // namespace
}  // namespace tarvik
