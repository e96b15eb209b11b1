#pragma once
// The preferred-firmware dialog: a recognised device whose type has no update
// rule; the user picks one of the images of that type.
#include <QDialog>
#include <string>
#include <utility>
#include <vector>

class QLabel;
class QListWidget;
class QPushButton;

#include "firmware/selection.h"

namespace tarvik {

// The dialog's controls, built in code.
struct TSelectFirmvareFormUi {
  QLabel* currentVersionLabel = nullptr;
  QLabel* notReleaseLabel = nullptr;
  QListWidget* imageList = nullptr;
  QPushButton* flashButton = nullptr;
  QPushButton* cancelButton = nullptr;
};

class TSelectFirmvareForm : public QDialog {
  Q_OBJECT

 public:
  // One list line: the image's version text (Windows-1251) and the image
  // index it stands for.

  explicit TSelectFirmvareForm(QWidget* parent = nullptr);

  // Shows the device's version and lists the images of its type.
  void SetVersion(const std::string& versionText, const std::vector<ImageChoice>& items);
  // The warning that the firmware is most likely not a release one.
  void SetNotRelease(bool notRelease);

  const std::string& Version() const { return version_; }
  bool NotRelease() const { return notRelease_; }

  // The image index of the confirmed line; -1 when none.
  int ChosenImage = -1;

  const TSelectFirmvareFormUi& Ui() const { return ui_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void Button2Click();

  TSelectFirmvareFormUi ui_;
  std::string version_;
  bool notRelease_ = false;
};

}  // namespace tarvik
