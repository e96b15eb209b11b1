#pragma once
// The device-type dialog: the device sits in its bootloader without naming
// its model, so the user says what is connected.
#include <QDialog>
#include <string>
#include <vector>

class QLabel;
class QListWidget;
class QPushButton;

namespace tarvik {

// The dialog's controls, built in code.
struct TSelectDeviceTypeFormUi {
  QLabel* promptLabel = nullptr;
  QListWidget* DeviceListBox = nullptr;
  QPushButton* OkButton = nullptr;
  QPushButton* CancelButton = nullptr;
};

class TSelectDeviceTypeForm : public QDialog {
  Q_OBJECT

 public:
  explicit TSelectDeviceTypeForm(QWidget* parent = nullptr);

  // Replaces the list with the names (Windows-1251), runs the dialog modally
  // and returns its result (QDialog::Accepted or QDialog::Rejected).
  int ShowModalWithNames(const std::vector<std::string>& names);
  // Replaces the list without showing the dialog.
  void SetNames(const std::vector<std::string>& names);
  // The selected line; -1 when none.
  int SelectedIndex() const;

  const TSelectDeviceTypeFormUi& Ui() const { return ui_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  TSelectDeviceTypeFormUi ui_;
};

}  // namespace tarvik
