#include "outqueue/ui/drainoutput.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

#include "common/text.h"
#include "common/ui/qtext.h"
#include "common/ui/uiobject_qt.h"
#include "outqueue/outarray.h"
#include "outqueue/ui/statuspane.h"
#include "outqueue/words.h"

namespace tarvik {
namespace {

QColor ToQColor(Rgb rgb) { return QColor(rgb.r, rgb.g, rgb.b); }

void SetPaletteColor(QWidget* widget, QPalette::ColorRole role, const QColor& color) {
  QPalette palette = widget->palette();
  palette.setColor(role, color);
  widget->setPalette(palette);
}

// Enable and disable words shared by labels, combo boxes, buttons and grids.
bool ApplyEnableWord(QWidget* widget, const std::string& word) {
  if (word == kWordEnableTrue) {
    widget->setEnabled(true);
    return true;
  }
  if (word == kWordEnableFalse) {
    widget->setEnabled(false);
    return true;
  }
  return false;
}

void ApplyToLabel(QLabel* label, const std::string& word) {
  if (word == kWordRepaint) {
    label->update();
    return;
  }
  if (ApplyEnableWord(label, word)) return;
  if (const auto color = LabelColorFor(word)) SetPaletteColor(label, QPalette::WindowText, ToQColor(*color));
  label->setText(FromCp(word));
}

void ApplyToButton(QAbstractButton* button, const std::string& word) {
  if (ApplyEnableWord(button, word)) return;
  if (IsClickWord(word)) {
    PerformClick(button);
    return;
  }
  button->setEnabled(ReadBooleanWord(word));
}

QTreeWidget* ListView(UiObject* handle) {
  auto* tree = qobject_cast<QTreeWidget*>(FromUi(handle));
  if (!tree) throw WordError("not a list view");
  return tree;
}

void ApplyListRow(const TListOut& out) {
  QTreeWidget* tree = ListView(out.List);
  const std::int32_t row = ReadIntegerWord(out.Row);
  if (tree->topLevelItemCount() < row) {
    auto* item = new QTreeWidgetItem(tree);
    item->setData(0, kStateImageRole, out.StateIndex);
    item->setText(1, FromCp(out.Text));
    return;
  }
  QTreeWidgetItem* item = tree->topLevelItem(row - 1);
  if (!item) throw WordError("no such row");
  item->setData(0, kStateImageRole, out.StateIndex);
  item->setText(0, FromCp(out.Row));
  item->setText(1, FromCp(out.Text));
}

void ApplyFullList(const TFullListOut& out) {
  QTreeWidget* tree = ListView(out.List);
  auto* item = new QTreeWidgetItem(tree);
  item->setText(0, FromCp(out.Caption));
  int column = 1;
  for (const auto& text : out.SubItems) item->setText(column++, FromCp(text));
}

void ClearList(QObject* list) {
  if (auto* tree = qobject_cast<QTreeWidget*>(list)) {
    tree->clear();
  } else if (auto* box = qobject_cast<QListWidget*>(list)) {
    box->clear();
  }
}

void ApplyGridCell(const TOutStringGrid& out) {
  auto* grid = qobject_cast<QTableWidget*>(FromUi(out.Grid));
  if (!grid) return;
  if (out.Row < 0 || out.Row >= grid->rowCount() || out.Col < 0 || out.Col >= grid->columnCount()) {
    throw WordError("cell outside the grid");
  }
  if (QTableWidgetItem* item = grid->item(out.Row, out.Col)) {
    item->setText(FromCp(out.Text));
  } else {
    grid->setItem(out.Row, out.Col, new QTableWidgetItem(FromCp(out.Text)));
  }
}

void ApplyStatus(const TStatusOut& out) {
  if (auto* label = qobject_cast<QLabel*>(FromUi(out.Panel))) label->setText(FromCp(out.Text));
}

// Set on a memo while its reader has scrolled up, away from the newest line.
constexpr char kReadingBack[] = "tarvikReadingBack";

// The reader's position is judged by where the scroll bar is moved to; new
// lines alone (the range growing) do not move it.
void WatchReader(QPlainTextEdit* memo) {
  if (memo->property(kReadingBack).isValid()) return;
  memo->setProperty(kReadingBack, false);
  QScrollBar* bar = memo->verticalScrollBar();
  QObject::connect(bar, &QScrollBar::valueChanged, memo,
                   [memo, bar](int value) { memo->setProperty(kReadingBack, value < bar->maximum()); });
}

// One text, one line: the line ends a device sends inside a reply are shown
// as marks. The log follows its newest line unless the user has scrolled up
// to read, also while it is hidden.
void AppendMemoLine(QPlainTextEdit* memo, const std::string& text) {
  WatchReader(memo);
  memo->appendPlainText(FromCp(MarkLineBreaks(text)));
  if (!memo->property(kReadingBack).toBool())
    memo->verticalScrollBar()->setValue(memo->verticalScrollBar()->maximum());
}

void ApplyMemo(const TMemoOut& out) {
  if (!out.AddLine) return;
  if (auto* memo = qobject_cast<QPlainTextEdit*>(FromUi(out.Memo))) AppendMemoLine(memo, out.Text);
}

template <class T>
const T& As(const TOutElement& element) {
  const auto* typed = dynamic_cast<const T*>(&element);
  if (!typed) throw WordError("element of an unexpected class");
  return *typed;
}

}  // namespace

void ShowQueuedMessage(const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, QCoreApplication::applicationName(), text, QMessageBox::Ok,
                  QApplication::activeWindow());
  box.exec();
}

void PerformClick(QAbstractButton* button) {
  if (!button) return;
  if (button->isEnabled()) {
    button->click();
  } else {
    // click() ignores a disabled button, so its clicked signal is raised here.
    Q_EMIT button->clicked(button->isChecked());
  }
}

void ApplyToControl(QObject* control, const std::string& word) {
  auto* widget = qobject_cast<QWidget*>(control);
  if (!widget) return;
  // Derived classes are tested before their bases: a status pane is a label,
  // a check box and a radio button are buttons, a window may be any widget.
  if (auto* pane = qobject_cast<StatusPane*>(widget)) {
    pane->setText(FromCp(word));
  } else if (auto* label = qobject_cast<QLabel*>(widget)) {
    ApplyToLabel(label, word);
  } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
    if (!ApplyEnableWord(combo, word)) combo->setCurrentIndex(ReadIntegerWord(word));
  } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
    edit->setText(FromCp(word));
  } else if (auto* spin = qobject_cast<QSpinBox*>(widget)) {
    spin->setValue(ReadIntegerWord(word));
  } else if (qobject_cast<QCheckBox*>(widget) || qobject_cast<QRadioButton*>(widget)) {
    static_cast<QAbstractButton*>(widget)->setChecked(ReadBooleanWord(word));
  } else if (qobject_cast<QPushButton*>(widget) || qobject_cast<QToolButton*>(widget)) {
    ApplyToButton(static_cast<QAbstractButton*>(widget), word);
  } else if (auto* grid = qobject_cast<QTableWidget*>(widget)) {
    if (word == kWordRepaint) {
      grid->viewport()->update();
    } else {
      ApplyEnableWord(grid, word);
    }
  } else if (auto* panel = qobject_cast<QGroupBox*>(widget)) {
    panel->setTitle(FromCp(word));
  } else if (auto* bar = qobject_cast<QProgressBar*>(widget)) {
    if (word == kWordRepaint) {
      bar->update();
    } else {
      bar->setValue(ReadIntegerWord(word));
    }
  } else if (widget->isWindow()) {
    if (word == kWordShow) {
      widget->show();
      widget->raise();
    } else if (word == kWordClose) {
      widget->hide();
    }
  } else if (auto* list = qobject_cast<QListWidget*>(widget)) {
    list->addItem(FromCp(word));
  } else if (auto* memo = qobject_cast<QPlainTextEdit*>(widget)) {
    AppendMemoLine(memo, word);
  } else if (word == kWordShow) {
    widget->setVisible(true);
  } else {
    widget->setEnabled(ReadBooleanWord(word));
  }
}

void ApplyToComponent(QObject* component, const std::string& word) {
  if (auto* timer = qobject_cast<QTimer*>(component)) {
    // Starting a running timer would restart its interval; it keeps running instead.
    if (!ReadBooleanWord(word)) {
      timer->stop();
    } else if (!timer->isActive()) {
      timer->start();
    }
  } else if (auto* action = qobject_cast<QAction*>(component)) {
    action->setEnabled(ReadBooleanWord(word));
  } else if (auto* menu = qobject_cast<QMenu*>(component)) {
    menu->menuAction()->setEnabled(ReadBooleanWord(word));
  } else if (auto* tree = qobject_cast<QTreeWidget*>(component)) {
    tree->setEnabled(ReadBooleanWord(word));
  }
}

void ApplyColor(QObject* control, const std::string& colorName) {
  auto* widget = qobject_cast<QWidget*>(control);
  if (!widget) return;
  const bool field = qobject_cast<QLineEdit*>(widget) || qobject_cast<QSpinBox*>(widget);
  const bool mark = qobject_cast<QCheckBox*>(widget) || qobject_cast<QRadioButton*>(widget);
  const bool label = qobject_cast<QLabel*>(widget) != nullptr;
  if (!field && !mark && !label) return;
  const QColor color = ToQColor(ReadColorWord(colorName));
  if (field) {
    SetPaletteColor(widget, QPalette::Base, color);
  } else if (mark) {
    widget->setAutoFillBackground(true);
    SetPaletteColor(widget, QPalette::Window, color);
  } else {
    SetPaletteColor(widget, QPalette::WindowText, color);
  }
}

void ApplyElement(const TOutElement& element, const MessageHook& showMessage) {
  switch (element.Kind) {
    case kOutMemo:
      ApplyMemo(As<TMemoOut>(element));
      break;
    case kOutControl:
    case kOutControl2: {
      const auto& out = As<TControlOut>(element);
      ApplyToControl(FromUi(out.Target), out.Text);
      break;
    }
    case kOutComponent: {
      const auto& out = As<TCompOut>(element);
      ApplyToComponent(FromUi(out.Target), out.Text);
      break;
    }
    case kOutList:
      ApplyListRow(As<TListOut>(element));
      break;
    case kOutFullList:
      ApplyFullList(As<TFullListOut>(element));
      break;
    case kOutClearList:
      ClearList(FromUi(As<TClearListOut>(element).List));
      break;
    case kOutMessage: {
      // The text is copied first: a drain nested in the box's event loop may
      // release this element.
      const QString text = FromCp(As<TMsgOut>(element).Text);
      if (showMessage) showMessage(text);
      break;
    }
    case kOutStatus:
      ApplyStatus(As<TStatusOut>(element));
      break;
    case kOutColor: {
      const auto& out = As<TControlOut>(element);
      ApplyColor(FromUi(out.Target), out.Text);
      break;
    }
    case kOutStringGrid:
      ApplyGridCell(As<TOutStringGrid>(element));
      break;
    // A list-view row is no object of its own here and there is no
    // three-thumb slider, so kinds 5 and 6 have nothing to change; unknown
    // kinds are dropped the same way.
    default:
      break;
  }
}

void ReportDrainError(const QString& what) { qWarning("output element dropped: %s", qUtf8Printable(what)); }

void DrainOutput(TOutArray& queue, const MessageHook& showMessage, const MessageHook& onError) {
  while (queue.PeekKind() != kOutNone) {
    TOutElement* element = nullptr;
    if (queue.Pop(element) == kOutNone || element == nullptr) break;
    // One element's failure never stops the others; it is told, not lost.
    try {
      ApplyElement(*element, showMessage);
    } catch (const std::exception& e) {
      if (onError) onError(QString::number(element->Kind) + QStringLiteral(": ") + ErrorText(e));
    } catch (...) {
      if (onError) onError(QString::number(element->Kind) + QStringLiteral(": unknown error"));
    }
  }
}

}  // namespace tarvik
