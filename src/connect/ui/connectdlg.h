#pragma once
// The connection dialog: the user picks or types the serial port to connect
// to. It hands back only the port box's text.
#include <QDialog>
#include <QString>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "connect/portsearch.h"

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QToolButton;

namespace tarvik {

class IniFile;

// The dialog's controls, built in code.
struct TdlgConnectUi {
  QLabel* portLabel = nullptr;
  QComboBox* ComPorts = nullptr;
  QToolButton* listPortsButton = nullptr;
  QPushButton* OKBtn = nullptr;
  QPushButton* CancelBtn = nullptr;
  QPushButton* searchButton = nullptr;
  QProgressBar* searchProgressBar = nullptr;
};

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

  // What the automatic search ("Автоматический поиск") needs from the main
  // window: the queue and log its probes write to, where worker steps run,
  // the catalogue. Without it the button does nothing.
  void SetPortSearch(const PortSearchSetup& setup) { search_.emplace(setup); }
  // The box "Устройство не найдено" (the text names the ports whose probe
  // failed, if any) and the box of an error during the search; tests replace
  // them so nothing blocks.
  void SetNotFoundHook(std::function<void(const QString& text)> hook) { notFoundHook_ = std::move(hook); }
  void SetErrorHook(std::function<void(const QString& text)> hook) { errorHook_ = std::move(hook); }
  // A search is under way: the dialog takes no input and cannot be closed.
  bool Searching() const { return searching_; }

  const TdlgConnectUi& Ui() const { return ui_; }

 public slots:
  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void FormShow();
  void SpeedButton1MouseUp();
  void SetInputEnabled(bool enabled);

  TdlgConnectUi ui_;
  PortListFn systemPorts_;
  std::optional<PortSearchSetup> search_;
  std::function<void(const QString&)> notFoundHook_;
  std::function<void(const QString&)> errorHook_;
  bool searching_ = false;
};

}  // namespace tarvik
