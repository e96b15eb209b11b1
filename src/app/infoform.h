#pragma once
// The information window: the versions of the firmware images the tool
// carries, rebuilt each time the window is shown.
#include <QDialog>
#include <functional>

class QListWidget;

namespace tarvik {

class TInfoForm : public QDialog {
  Q_OBJECT
 public:
  // Fills the emptied list; set by whoever owns the firmware catalogue.
  using ListFiller = std::function<void(QListWidget& items)>;

  explicit TInfoForm(QWidget* parent = nullptr);
  void SetListFiller(ListFiller filler) { filler_ = std::move(filler); }
  QListWidget* InfoList() const { return infoList_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FormShow();

  QListWidget* infoList_ = nullptr;
  ListFiller filler_;
};

}  // namespace tarvik
