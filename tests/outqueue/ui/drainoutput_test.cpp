#include "outqueue/ui/drainoutput.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTableWidget>
#include <QTextBlock>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/text.h"
#include "common/ui/qtext.h"
#include "common/ui/uiobject_qt.h"
#include "outqueue/outarray.h"
#include "outqueue/ui/statuspane.h"
#include "outqueue/words.h"
#include "support/fakeclock.h"

namespace tarvik {
namespace {

std::string Cp(const char* utf8) { return Utf8ToCp1251(utf8); }

std::vector<std::string> Lines(const QPlainTextEdit& memo) {
  std::vector<std::string> lines;
  if (memo.document()->isEmpty()) return lines;
  for (QTextBlock b = memo.document()->begin(); b.isValid(); b = b.next())
    lines.push_back(b.text().toStdString());
  return lines;
}

TEST(ApplyToControl, ClickWordsClickButtonsEvenWhenDisabled) {
  const struct {
    const char* word;
    bool enabled;
    int clicks;
  } cases[] = {
      {"Click", true, 1},  {"click", true, 1},  {"CLICK", true, 1},  {"Clickx", true, 0},
      {"Click", false, 1}, {"click", false, 1}, {"CLICK", false, 1}, {"Clickx", false, 0},
  };
  for (const auto& c : cases) {
    QToolButton toolButton;
    QPushButton pushButton;
    for (QAbstractButton* button :
         {static_cast<QAbstractButton*>(&toolButton), static_cast<QAbstractButton*>(&pushButton)}) {
      SCOPED_TRACE(std::string(c.word) + (c.enabled ? " enabled " : " disabled ") +
                   button->metaObject()->className());
      int clicks = 0;
      QObject::connect(button, &QAbstractButton::clicked, [&clicks] { ++clicks; });
      button->setEnabled(c.enabled);
      ApplyToControl(button, c.word);
      EXPECT_EQ(clicks, c.clicks);
    }
  }
}

TEST(ApplyToControl, EnableAndBooleanWordsOnAButton) {
  const struct {
    const char* word;
    bool before;
    bool after;
  } cases[] = {
      {"enabletrue", false, true}, {"true", false, true},        {"1", false, true},
      {"TRUE", false, true},       {"yes", true, false},         {"false", true, false},
      {"0", true, false},          {"enablefalse", true, false}, {"Clickx", true, false},
      {"EnableTrue", true, false},
  };
  for (const auto& c : cases) {
    QToolButton button;
    button.setEnabled(c.before);
    ApplyToControl(&button, c.word);
    EXPECT_EQ(button.isEnabled(), c.after) << c.word;
  }
}

TEST(ApplyToControl, ConnectionCaptionsColourALabelAndOtherTextKeepsTheColour) {
  const QColor start(10, 20, 200);
  const struct {
    const char* utf8;
    QColor color;
  } cases[] = {
      {"СОЕДИНЕНИЕ УСТАНОВЛЕНО", QColor(0, 128, 0)},
      {"СОЕДИНЕНИЕ РАЗОРВАНО", QColor(255, 0, 0)},
      {"Соединение установлено", start},
      {"COM3", start},
  };
  for (const auto& c : cases) {
    QLabel label;
    QPalette palette = label.palette();
    palette.setColor(QPalette::WindowText, start);
    label.setPalette(palette);
    ApplyToControl(&label, Cp(c.utf8));
    EXPECT_EQ(label.text(), QString::fromUtf8(c.utf8));
    EXPECT_EQ(label.palette().color(QPalette::WindowText), c.color) << c.utf8;
  }
}

TEST(ApplyToControl, LabelCommandWordsAreNotCaptionsButAPaneShowsEveryWord) {
  QLabel label(QStringLiteral("old"));
  StatusPane pane(QStringLiteral("old"), 50, Qt::AlignLeft);
  for (const char* word : {"enablefalse", "Repaint12345"}) {
    ApplyToControl(&label, word);
    ApplyToControl(&pane, word);
    EXPECT_EQ(label.text(), QStringLiteral("old")) << word;
    EXPECT_EQ(pane.text(), QString::fromLatin1(word));
  }
  EXPECT_FALSE(label.isEnabled());
  EXPECT_TRUE(pane.isEnabled());
  ApplyToControl(&label, "enabletrue");
  EXPECT_TRUE(label.isEnabled());
}

// One row per kind of control: the word, and what the control shows after it.
TEST(ApplyToControl, EachControlClassTakesItsOwnWords) {
  struct Case {
    const char* name;
    std::function<QWidget*()> make;
    std::string word;
    std::function<bool(QWidget*)> check;
    bool rejected = false;  // a word meant as a number that is not one
  };
  auto combo = [] {
    auto* box = new QComboBox;
    box->addItems({"a", "b", "c"});
    return box;
  };
  const Case cases[] = {
      {"combo index", combo, "2", [](QWidget* w) { return static_cast<QComboBox*>(w)->currentIndex() == 2; }},
      {"combo not a number", combo, "b",
       [](QWidget* w) { return static_cast<QComboBox*>(w)->currentIndex() == 0; }, true},
      {"combo disable", combo, "enablefalse", [](QWidget* w) { return !w->isEnabled(); }},
      {"edit text", [] { return new QLineEdit; }, Cp("Порт COM3"),
       [](QWidget* w) { return static_cast<QLineEdit*>(w)->text() == QString::fromUtf8("Порт COM3"); }},
      {"spin value", [] { return new QSpinBox; }, "7",
       [](QWidget* w) { return static_cast<QSpinBox*>(w)->value() == 7; }},
      {"spin not a number", [] { return new QSpinBox; }, "seven",
       [](QWidget* w) { return static_cast<QSpinBox*>(w)->value() == 0 && w->isEnabled(); }, true},
      {"check box", [] { return new QCheckBox; }, "True",
       [](QWidget* w) { return static_cast<QCheckBox*>(w)->isChecked() && w->isEnabled(); }},
      {"check box click word", [] { return new QCheckBox; }, "CLICK",
       [](QWidget* w) { return !static_cast<QCheckBox*>(w)->isChecked(); }},
      {"radio button", [] { return new QRadioButton; }, "1",
       [](QWidget* w) { return static_cast<QRadioButton*>(w)->isChecked(); }},
      {"grid disable", [] { return new QTableWidget(2, 2); }, "enablefalse",
       [](QWidget* w) { return !w->isEnabled(); }},
      {"grid other word", [] { return new QTableWidget(2, 2); }, "false",
       [](QWidget* w) { return w->isEnabled(); }},
      {"panel caption", [] { return new QGroupBox; }, "abc",
       [](QWidget* w) { return static_cast<QGroupBox*>(w)->title() == QStringLiteral("abc"); }},
      {"progress position", [] { return new QProgressBar; }, "40",
       [](QWidget* w) { return static_cast<QProgressBar*>(w)->value() == 40; }},
      {"list box adds", [] { return new QListWidget; }, "item",
       [](QWidget* w) { return static_cast<QListWidget*>(w)->count() == 1; }},
      {"memo adds", [] { return new QPlainTextEdit; }, "false",
       [](QWidget* w) { return static_cast<QPlainTextEdit*>(w)->toPlainText() == QStringLiteral("false"); }},
      {"other control disables", [] { return new QTreeWidget; }, "no",
       [](QWidget* w) { return !w->isEnabled(); }},
  };
  QWidget window;
  for (const auto& c : cases) {
    QWidget* control = c.make();
    control->setParent(&window);
    if (c.rejected) {
      EXPECT_THROW(ApplyToControl(control, c.word), WordError) << c.name;
    } else {
      ApplyToControl(control, c.word);
    }
    EXPECT_TRUE(c.check(control)) << c.name;
  }
}

TEST(ApplyToControl, ShowWordShowsAChildControlAndAWindow) {
  QWidget window;
  auto* tree = new QTreeWidget(&window);
  tree->hide();
  window.show();
  ApplyToControl(tree, "Show");
  EXPECT_TRUE(tree->isVisible());
  QWidget hiddenWindow;
  ASSERT_FALSE(hiddenWindow.isVisible());
  ApplyToControl(&hiddenWindow, "Show");
  EXPECT_TRUE(hiddenWindow.isVisible());
}

TEST(ApplyToControl, FormCloseHidesTheWindowAndKeepsItsState) {
  QWidget form;
  auto* edit = new QLineEdit(&form);
  edit->setText(QStringLiteral("kept"));
  form.show();
  ApplyToControl(&form, "Close");
  EXPECT_FALSE(form.isVisible());
  ApplyToControl(&form, "other");
  EXPECT_FALSE(form.isVisible());
  ApplyToControl(&form, "Show");
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(edit->text(), QStringLiteral("kept"));
}

TEST(ApplyToComponent, TimersStartAndStopAndMenusAndTreesEnable) {
  QTimer timer;
  timer.setInterval(100000);
  ApplyToComponent(&timer, "true");
  EXPECT_TRUE(timer.isActive());
  ApplyToComponent(&timer, "0");
  EXPECT_FALSE(timer.isActive());

  QAction action(QStringLiteral("item"));
  QMenu menu;
  QTreeWidget tree;
  const struct {
    const char* word;
    bool enabled;
  } words[] = {{"false", false}, {"True", true}, {"2", true}, {"no", false}};
  for (const auto& w : words) {
    ApplyToComponent(&action, w.word);
    ApplyToComponent(&menu, w.word);
    ApplyToComponent(&tree, w.word);
    EXPECT_EQ(action.isEnabled(), w.enabled) << w.word;
    EXPECT_EQ(menu.menuAction()->isEnabled(), w.enabled) << w.word;
    EXPECT_EQ(tree.isEnabled(), w.enabled) << w.word;
  }
  // A button is a control, not a component.
  QPushButton button;
  ApplyToComponent(&button, "false");
  EXPECT_TRUE(button.isEnabled());
}

TEST(ApplyColor, ColoursFieldsMarksAndLabelsAndIgnoresBadNames) {
  QLineEdit edit;
  QSpinBox spin;
  QCheckBox check;
  QLabel label;
  ApplyColor(&edit, "clRed");
  ApplyColor(&spin, "$00FF00");
  ApplyColor(&check, "clBlue");
  ApplyColor(&label, "clGreen");
  EXPECT_EQ(edit.palette().color(QPalette::Base), QColor(255, 0, 0));
  EXPECT_EQ(spin.palette().color(QPalette::Base), QColor(0, 255, 0));
  EXPECT_EQ(check.palette().color(QPalette::Window), QColor(0, 0, 255));
  EXPECT_EQ(label.palette().color(QPalette::WindowText), QColor(0, 128, 0));
  EXPECT_THROW(ApplyColor(&label, "greenish"), std::exception);
  EXPECT_EQ(label.palette().color(QPalette::WindowText), QColor(0, 128, 0));
}

class Drain : public ::testing::Test {
 protected:
  QWidget window;
  QPlainTextEdit* memo = new QPlainTextEdit(&window);
  QLabel* label = new QLabel(&window);
  QProgressBar* bar = new QProgressBar(&window);
  TOutArray queue;
  std::vector<QString> messages;
  MessageHook hook = [this](const QString& text) { messages.push_back(text); };
};

TEST_F(Drain, AFailingElementIsDroppedToldAndTheNextStillApplies) {
  std::vector<QString> dropped;
  const MessageHook onError = [&](const QString& what) { dropped.push_back(what); };
  bar->setValue(40);
  queue.PushControl(ToUi(bar), "abc");
  queue.PushControl(ToUi(label), "after bar");
  DrainOutput(queue, hook, onError);
  EXPECT_EQ(bar->value(), 40);
  EXPECT_EQ(label->text(), QStringLiteral("after bar"));
  ASSERT_EQ(dropped.size(), 1u) << "the failure is told, not swallowed";
  EXPECT_TRUE(dropped[0].startsWith(QStringLiteral("2: "))) << dropped[0].toStdString();

  queue.Push(std::make_unique<TOutElement>(12));                   // unassigned kind
  queue.Push(std::make_unique<TTriSliderOut>(ToUi(bar), 1, "5"));  // no such control here
  queue.Push(std::make_unique<TControlOut>(kOutControl, nullptr, "true"));
  queue.PushControl(ToUi(new QTimer(&window)), "Show");  // not a control
  queue.Push(std::make_unique<TControlOut>(kOutColor, ToUi(label), "clNoSuch"));
  queue.Push(std::make_unique<TControlOut>(kOutControl2, ToUi(bar), "Repaint12345"));
  queue.Push(std::make_unique<TControlOut>(kOutControl2, ToUi(bar), "55"));
  queue.PushStatus("VER 14.002.020", ToUi(label));
  DrainOutput(queue, hook);
  EXPECT_EQ(queue.PeekKind(), kOutNone);
  EXPECT_EQ(bar->value(), 55);
  EXPECT_EQ(label->text(), QStringLiteral("VER 14.002.020"));
  EXPECT_TRUE(messages.empty());
}

TEST_F(Drain, MemoLineWithoutAddLineAddsNothing) {
  queue.PushMemoLine(ToUi(memo), "skipped", false, false);
  queue.PushMemoLine(ToUi(memo), Cp("строка"), true, false);
  DrainOutput(queue, hook);
  EXPECT_EQ(Lines(*memo), std::vector<std::string>{"строка"});
}

TEST_F(Drain, OneWrittenLineIsOneMemoLineWithItsLineEndsMarked) {
  const struct {
    std::string written;
    std::string shown;
  } cases[] = {
      {"#com<-: +v\r", "#com<-: +v<CR>"},
      {"@com->: VER 14.002.020\r\nOK\r\n", "@com->: VER 14.002.020<CR><LF>OK<CR><LF>"},
      {"$$$: ", "$$$: "},
      {"\n\n", "<LF><LF>"},
  };
  for (const auto& c : cases) {
    memo->clear();
    queue.PushMemoLine(ToUi(memo), c.written, true, false);
    ApplyToControl(memo, c.written);  // a memo driven by a control word alike
    DrainOutput(queue, hook);
    EXPECT_EQ(Lines(*memo), (std::vector<std::string>{c.shown, c.shown})) << c.shown;
  }
}

TEST_F(Drain, TheMemoFollowsItsNewestLineUnlessScrolledUpToRead) {
  window.resize(300, 200);
  memo->setGeometry(0, 0, 300, 100);
  // Lines that came while the log was hidden: shown, it is at its end.
  memo->hide();
  for (int i = 0; i < 50; ++i) queue.PushMemoLine(ToUi(memo), "early " + std::to_string(i), true, false);
  DrainOutput(queue, hook);
  window.show();
  memo->show();
  auto push = [&](int count) {
    for (int i = 0; i < count; ++i) queue.PushMemoLine(ToUi(memo), "line " + std::to_string(i), true, false);
    DrainOutput(queue, hook);
  };
  QScrollBar* scroll = memo->verticalScrollBar();
  push(100);
  ASSERT_GT(scroll->maximum(), 0);
  EXPECT_EQ(scroll->value(), scroll->maximum()) << "follows while at the end";
  scroll->setValue(10);  // the user scrolls up to read
  push(20);
  EXPECT_EQ(scroll->value(), 10) << "stays where the user reads";
  scroll->setValue(scroll->maximum());
  push(20);
  EXPECT_EQ(scroll->value(), scroll->maximum()) << "follows again from the end";
}

TEST_F(Drain, FiveThousandMemoLinesAllArriveInOrder) {
  constexpr int kLines = 5000;
  for (int i = 0; i < kLines; ++i) queue.PushMemoLine(ToUi(memo), "line " + std::to_string(i), true, false);
  DrainOutput(queue, hook);
  const auto lines = Lines(*memo);
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kLines));
  for (int i = 0; i < kLines; ++i) ASSERT_EQ(lines[static_cast<std::size_t>(i)], "line " + std::to_string(i));
}

TEST_F(Drain, ElementsPushedWhileAMessageIsOpenFollowItInOrder) {
  std::vector<std::string> memoAtMessage;
  hook = [&](const QString& text) {
    messages.push_back(text);
    memoAtMessage = Lines(*memo);
    queue.PushMemoLine(ToUi(memo), "during 1", true, false);
    queue.PushMemoLine(ToUi(memo), "during 2", true, false);
  };
  queue.PushMemoLine(ToUi(memo), "before", true, false);
  queue.PushMessage(Cp("Версия VER 14.099.001 не поддерживается"));
  queue.PushMemoLine(ToUi(memo), "queued after", true, false);
  DrainOutput(queue, hook);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], QString::fromUtf8("Версия VER 14.099.001 не поддерживается"));
  EXPECT_EQ(memoAtMessage, std::vector<std::string>{"before"});
  EXPECT_EQ(Lines(*memo), (std::vector<std::string>{"before", "queued after", "during 1", "during 2"}));
}

TEST_F(Drain, ListViewRowsGridCellsAndClearing) {
  auto* tree = new QTreeWidget(&window);
  tree->setColumnCount(3);
  auto* grid = new QTableWidget(2, 3, &window);
  queue.Push(std::make_unique<TListOut>(ToUi(tree), "1", "first", 4));
  queue.Push(std::make_unique<TListOut>(ToUi(tree), "1", "again", 5));
  queue.Push(std::make_unique<TListOut>(ToUi(tree), "x", "bad row", 6));
  queue.Push(std::make_unique<TFullListOut>(ToUi(tree), "cap", std::vector<std::string>{"s1", "s2"}));
  queue.Push(std::make_unique<TOutStringGrid>(ToUi(grid), 1, 2, Cp("ячейка")));
  queue.Push(std::make_unique<TOutStringGrid>(ToUi(grid), 5, 0, "outside"));
  DrainOutput(queue, hook);
  ASSERT_EQ(tree->topLevelItemCount(), 2);
  const QTreeWidgetItem* row = tree->topLevelItem(0);
  EXPECT_EQ(row->text(0), QStringLiteral("1"));
  EXPECT_EQ(row->text(1), QStringLiteral("again"));
  EXPECT_EQ(row->data(0, kStateImageRole).toInt(), 5);
  EXPECT_EQ(tree->topLevelItem(1)->text(0), QStringLiteral("cap"));
  EXPECT_EQ(tree->topLevelItem(1)->text(2), QStringLiteral("s2"));
  ASSERT_NE(grid->item(1, 2), nullptr);
  EXPECT_EQ(grid->item(1, 2)->text(), QString::fromUtf8("ячейка"));

  queue.Push(std::make_unique<TClearListOut>(ToUi(tree)));
  DrainOutput(queue, hook);
  EXPECT_EQ(tree->topLevelItemCount(), 0);
}

TEST_F(Drain, LogLinesFromAWorkerThreadArriveInOrderWithTheirTime) {
  test::FakeClock clock;
  TOutArray stamped(clock);
  const auto written = clock.WallNow();
  const std::string stamp = FormatLocalDateTime(written);
  std::thread worker([&] {
    stamped.PushMemoLineAt(ToUi(memo), "#com<-: +v", written, true);
    stamped.PushMemoLineAt(ToUi(memo), "@com->: VER 14.002.020 OK", written, true);
  });
  // The UI thread drains while the worker writes, as the 50 ms timer would.
  QElapsedTimer elapsed;
  elapsed.start();
  while (Lines(*memo).size() < 2 && elapsed.elapsed() < 5000) {
    if (stamped.PeekKind() != kOutNone) DrainOutput(stamped, hook);
    std::this_thread::yield();
  }
  worker.join();
  ASSERT_FALSE(stamp.empty());
  EXPECT_EQ(Lines(*memo),
            (std::vector<std::string>{stamp + " #com<-: +v", stamp + " @com->: VER 14.002.020 OK"}));
}

}  // namespace
}  // namespace tarvik
