#include "common/ui/comboboxpatch.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QMouseEvent>
#include <stdexcept>

namespace tarvik {

namespace {

TComboBoxPatch* instance = nullptr;

// The drop-down list whose viewport this is, or nullptr when the object is
// not the viewport of a combo box's popup list.
QAbstractItemView* ComboListOf(QObject* watched) {
  auto* viewport = qobject_cast<QWidget*>(watched);
  if (viewport == nullptr) return nullptr;
  auto* view = qobject_cast<QAbstractItemView*>(viewport->parentWidget());
  if (view == nullptr || view->viewport() != viewport) return nullptr;
  for (QWidget* up = view->parentWidget(); up != nullptr; up = up->parentWidget()) {
    if (auto* combo = qobject_cast<QComboBox*>(up)) return combo->view() == view ? view : nullptr;
  }
  return nullptr;
}

}  // namespace

TComboBoxPatch::TComboBoxPatch(QObject* parent) : QObject(parent), hint_(nullptr) {
  if (instance != nullptr) throw std::logic_error("Only one TComboBoxPatch can exist per application.");
  // A tooltip window must never take the focus from the open list, or the
  // list would close under the pointer.
  hint_ = new QLabel(nullptr, Qt::ToolTip | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus |
                                  Qt::FramelessWindowHint);
  hint_->setObjectName(QStringLiteral("ComboBoxPatchHint"));
  hint_->setAttribute(Qt::WA_ShowWithoutActivating);
  hint_->setForegroundRole(QPalette::ToolTipText);
  hint_->setBackgroundRole(QPalette::ToolTipBase);
  hint_->setAutoFillBackground(true);
  hint_->setFrameShape(QFrame::Box);
  hint_->setMargin(2);
  hint_->setTextFormat(Qt::PlainText);
  qApp->installEventFilter(this);
  instance = this;
}

TComboBoxPatch::~TComboBoxPatch() {
  if (qApp != nullptr) qApp->removeEventFilter(this);
  delete hint_;
  instance = nullptr;
}

bool TComboBoxPatch::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::MouseMove:
      if (QAbstractItemView* view = ComboListOf(watched)) {
        ShowHintAt(view, static_cast<QMouseEvent*>(event)->position().toPoint());
      }
      break;
    case QEvent::Leave:
      if (ComboListOf(watched) != nullptr) HideHint();
      break;
    case QEvent::Hide:
      // The popup closes without a Leave when an item is picked by key or
      // click; the list itself is hidden with it.
      if (!shownFor_.isNull() && (watched == shownFor_ || watched == shownFor_->window())) HideHint();
      break;
    default:
      break;
  }
  return false;
}

void TComboBoxPatch::ShowHintAt(QAbstractItemView* view, const QPoint& viewportPos) {
  const QModelIndex index = view->indexAt(viewportPos);
  if (!index.isValid()) {
    HideHint();
    return;
  }
  if (view == shownFor_ && index.row() == shownRow_ && hint_->isVisible()) return;
  const QString text = index.data(Qt::DisplayRole).toString();
  const QRect itemRect = view->visualRect(index);
  const bool wider = view->fontMetrics().horizontalAdvance(text) > view->viewport()->width();
  if (text.isEmpty() || (!AlwaysShowHint && !wider)) {
    HideHint();
    return;
  }
  hint_->setFont(view->font());
  hint_->setText(text);
  hint_->adjustSize();
  hint_->move(view->viewport()->mapToGlobal(itemRect.topLeft()) + kHintOffset);
  hint_->show();
  hint_->raise();
  shownFor_ = view;
  shownRow_ = index.row();
}

void TComboBoxPatch::HideHint() {
  hint_->hide();
  shownFor_.clear();
  shownRow_ = -1;
}

}  // namespace tarvik
