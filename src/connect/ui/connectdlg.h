#pragma once
// The connection dialog: the user picks or types the serial port to connect
// to. It hands back only the port box's text.
#include <QDialog>
#include <functional>
#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QToolButton;

namespace tarvik {

class IniFile;

class TdlgConnect : public QDialog {
  Q_OBJECT

 public:
  // The port names the system registers now, read afresh at every refresh.
  using PortListFn = std::function<std::vector<std::string>()>;

  explicit TdlgConnect(PortListFn systemPorts, QWidget* parent = nullptr);

  // Seeds the port box from "Connect"/"ComPort" when the value is not empty.
  void LoadPort(const IniFile& ini);
  // Writes the port box's text to "Connect"/"ComPort", whatever the dialog
  // closed with.
  void SavePort(IniFile& ini) const;
  // The port box's text (Windows-1251), as the user left it.
  std::string ChosenPortText() const;

  // Rebuilds the list from the system and reselects the port of the current
  // text.
  void SpeedButton2Click();
  // Fills the list from the system's ports, sorted, with entry 0 selected.
  void FillPortsFromSystem();
  // Selects the first entry the pattern matches; its index, or -1 (the
  // selection then stays).
  int SelectItemByPattern(const std::string& pattern);

  // Runs when a mouse button is released over "Автоматический поиск"; the
  // dialog does nothing there until a search is set.
  void SetAutoSearch(std::function<void()> search) { autoSearch_ = std::move(search); }

  QLabel* Label1;
  QComboBox* ComPorts;
  QToolButton* SpeedButton2;
  QPushButton* OKBtn;
  QPushButton* CancelBtn;
  QPushButton* SpeedButton1;
  QProgressBar* ProgressBar1;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FormShow();
  void SpeedButton1MouseUp();

  PortListFn systemPorts_;
  std::function<void()> autoSearch_;
};

}  // namespace tarvik
