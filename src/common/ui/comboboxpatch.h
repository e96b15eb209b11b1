#pragma once
// Tooltips for the open drop-down lists of combo boxes: a port name such as
// "COM3 (USB-Serial Controller)" is often wider than its list, so the item
// under the pointer is shown in full in a small window beside it.
#include <QObject>
#include <QPoint>
#include <QPointer>

class QAbstractItemView;
class QLabel;

namespace tarvik {

class TComboBoxPatch : public QObject {
  Q_OBJECT

 public:
  // Watches every combo box of the application from now on. Throws
  // std::logic_error when another instance exists.
  explicit TComboBoxPatch(QObject* parent = nullptr);
  ~TComboBoxPatch() override;

  // True: every item under the pointer gets its tooltip; false: only items
  // whose text is wider than the list.
  bool AlwaysShowHint = true;

  // The tooltip window (hidden while no item is shown), for placement checks.
  const QLabel* HintWindow() const { return hint_; }

  // Where the tooltip of an item goes: right of and below the item's
  // top-left corner (global coordinates).
  static constexpr QPoint kHintOffset{10, 13};

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ShowHintAt(QAbstractItemView* view, const QPoint& viewportPos);
  void HideHint();

  QLabel* hint_;  // owned; a top-level window
  QPointer<QAbstractItemView> shownFor_;
  int shownRow_ = -1;
};

}  // namespace tarvik
