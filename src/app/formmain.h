#pragma once
// The main window: frame of the tool, owner of the output queue and of the
// settings, and the only consumer of the queue through its 50 ms timer.
#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/servicemenu.h"
#include "common/clock.h"
#include "common/inifile.h"
#include "common/settingspaths.h"
#include "common/uisync.h"
#include "outqueue/outarray.h"
#include "outqueue/ui/drainoutput.h"
#include "reflash/reflashreport.h"

class QAction;
class QFrame;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTimer;
class QToolBar;
class QToolButton;
class QStatusBar;

namespace tarvik {

class StatusPane;
class TComboBoxPatch;
class TComPortWorker;
class TConnection;
struct ParsedLinkAddress;
class TController;
class TMainThread;
class TdlgConnect;
class TformUpdateIns;
struct TformUpdateInsHooks;
class FirmwareCatalogue;
class DecisionDialogs;
class TMainBridge;
class DeviceEvents;
class ReflashView;

// The directory of the running program, with its trailing separator.
QString ProgramDirectory();

// The widgets of the main window, built in code.
struct TformMainUi {
  QMenu* mnuFile = nullptr;
  QAction* mnuExit = nullptr;
  QMenu* mnuConnections = nullptr;
  QAction* mnuConnect = nullptr;
  QAction* mnuDisconnect = nullptr;
  QAction* mnuLog = nullptr;  // shows and hides the message log
  QMenu* mnuPanel = nullptr;
  QAction* mnuUpdate = nullptr;
  QMenu* mnuHelp = nullptr;
  QAction* mnuAbout = nullptr;
  QToolBar* mainToolBar = nullptr;
  QToolButton* tbtnConnect = nullptr;
  QToolButton* tbtnDisconnect = nullptr;
  QStatusBar* mainStatusBar = nullptr;
  std::array<StatusPane*, 4> panels{};
  QProgressBar* serviceProgressBar = nullptr;
  QLabel* picture001 = nullptr;
  QLabel* picture002 = nullptr;
  QLabel* picture003 = nullptr;
  QLabel* picture010 = nullptr;
  QWidget* logArea = nullptr;  // the memo with its frame and its button column
  QPlainTextEdit* messageLog = nullptr;
  QPushButton* clearLogButton = nullptr;
  QPushButton* saveLogButton = nullptr;
  QTimer* drainTimer = nullptr;
  QTimer* disconnectTimer = nullptr;
};

// The lines of a memo as the user sees them; an empty memo has none.
QStringList MemoLines(const QPlainTextEdit& memo);
// Writes the lines as Windows-1251 text, each followed by CR LF, replacing
// the file. False with the reason in error when the file cannot be written.
bool WriteLogFile(const QString& fileName, const QStringList& lines, QString* error);

class TformMain : public QMainWindow {
  Q_OBJECT
 public:
  static constexpr std::string_view kAccessWord = "hqzvrd";
  static constexpr std::string_view kPlacementSection = "formMainFormState";
  static constexpr std::string_view kLogSection = "MessageLog";
  static constexpr std::string_view kLogVisibleKey = "Visible";

  // autoConnect: the first show clicks the connect button (off in tests).
  // clock: every wait of the connections (tests run them faster).
  explicit TformMain(const QString& programDir, bool autoConnect = true, QWidget* parent = nullptr,
                     Clock& clock = SystemClock());
  ~TformMain() override;

  void SetAboutForm(QWidget* form) { aboutForm_ = form; }
  void SetInfoForm(QWidget* form) { infoForm_ = form; }
  // The box of queued messages and the box of errors; tests replace them so
  // nothing blocks.
  void SetMessageHook(MessageHook hook) { messageHook_ = std::move(hook); }
  void SetErrorHook(MessageHook hook) { errorHook_ = std::move(hook); }

  const QString& ProgramDir() const { return programDir_; }
  // Where current.ini, windows.ini and update.ini are.
  const SettingsLocations& SettingsPlaces() const { return settingsPlaces_; }
  TOutArray& OutQueue() { return *outQueue_; }
  // What the connection tells the windows (the bridge's side of it).
  DeviceEvents& Events();
  UiStepQueue& UiSteps() { return *uiSteps_; }
  IniFile& Settings() { return *settings_; }
  const TformMainUi& Ui() const { return ui_; }

  // What the user must know about the connection (the device did not
  // answer, the link was lost), in the status bar.
  void ShowNotice(const QString& text);

  void LockMainControls();
  void UnlockMainControls();
  void HideDevicePictures();

  // The reflash window, created after the main window at start-up; it owns
  // the firmware catalogue. ReflashHooks wires the window to this one.
  void SetReflashForm(TformUpdateIns* form);
  TformUpdateIns* ReflashForm() const;
  TformUpdateInsHooks ReflashHooks();
  const FirmwareCatalogue* Catalogue() const;

  // Seams for tests: how the connection dialog is run (default: modally),
  // where the port list comes from (default: the system's), and what the
  // update decision shows (default: the real dialogs and windows).
  using ConnectDialogRunner = std::function<int(TdlgConnect&)>;
  using PortListFn = std::function<std::vector<std::string>()>;
  void SetConnectDialogRunner(ConnectDialogRunner runner) { connectDialogRunner_ = std::move(runner); }
  void SetPortList(PortListFn ports) { portList_ = std::move(ports); }
  void SetDecisionDialogs(DecisionDialogs* dialogs) { decisionDialogs_ = dialogs; }
  // What the reflash window asks before it stops a reflash under way
  // (default: a message box); true to stop.
  using StopQuestion = std::function<bool(const QString& question)>;
  void SetStopQuestion(StopQuestion question) { stopQuestion_ = std::move(question); }
  // The HEX file viewer of the service menu's reflash; without one the menu
  // item does nothing.
  void SetHexViewer(HexViewerRunner viewer) { hexViewer_ = std::move(viewer); }
  // The dialogs set in place of the real ones; null: the real ones.
  DecisionDialogs* ScriptedDecisionDialogs() const { return decisionDialogs_; }

  // Hands the connection to a reflash of the image's lines that reports to
  // the view and measures its times from start (on this window's clock);
  // false when it could not start.
  bool StartReflash(const std::vector<std::string>& imageLines, ReflashView& view,
                    std::chrono::system_clock::time_point start);

  // Opens the named port with its log writer; on failure both are released
  // and, when asked, the error is shown.
  bool OpenPort(const ParsedLinkAddress& address, bool highSpeed, bool reportErrors);
  // Releases the port worker, then its log writer.
  void ClosePort();

  // The one connection; its parts are null while it is closed.
  TConnection& Connection() { return *connection_; }
  TComPortWorker* PortWorker() const;
  TController* Controller() const;
  TMainThread* WorkerThread() const;
  bool LogVisible() const;
  void SetLogVisible(bool visible);

  // Handles of the controls that worker-side code drives through the queue.
  UiObject* tbtnConnect() const;
  UiObject* tbtnDisconnect() const;
  UiObject* mnuConnect() const;
  UiObject* mnuDisconnect() const;
  UiObject* mnuFile() const;
  UiObject* mnuConnections() const;
  UiObject* mnuHelp() const;
  UiObject* mnuUpdate() const;
  UiObject* mnuPanel() const;
  UiObject* StatusPanel(int index) const;
  UiObject* serviceProgressBar() const;
  UiObject* messageLog() const;
  UiObject* disconnectTimer() const;

  void setVisible(bool visible) override;

  // Identity of the identified device.
  std::uint16_t TypeNumber = 999;
  std::uint16_t Build = 999;
  std::string UnitName;

 protected:
  virtual void tbtnConnectClick();
  virtual void tbtnDisconnectClick();
  virtual void mnuUpdateClick();

  void closeEvent(QCloseEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildUi();
  void BuildMenus();
  void BuildToolBar();
  void BuildStatusBar();
  QWidget* BuildClientArea();

  void FormShow();
  void FormDestroy();
  bool FormKeyDown(int key, Qt::KeyboardModifiers modifiers);
  void drainTimerTick();
  void disconnectTimerTick();
  void mnuAboutClick();
  void mnuLogClick(bool checked);
  void clearLogButtonClick();
  void saveLogButtonClick();
  void RestorePlacement();
  QRect FitOnScreen(QRect normal) const;
  // Neither disabled (the reflash window is open) nor under a modal dialog,
  // nor winding a connection up.
  bool TakesInput() const;
  void SavePlacement();
  void ShowError(const QString& text);
  void RememberNormalPlacement();
  // Stops every worker of the connection and waits for it, then releases
  // the controller and the port; the window shows it is busy meanwhile.
  // False when a worker's step is still on the stack (see TConnection::Close).
  bool TearDownConnection();

  QString programDir_;
  SettingsLocations settingsPlaces_;
  bool autoConnect_;
  Clock& clock_;
  bool shown_ = false;
  bool closed_ = false;
  bool destroyed_ = false;
  // The window's position with its frame and its size while neither
  // maximised nor minimised: what the placement keys store.
  QPoint normalPos_;
  QSize normalSize_;
  TformMainUi ui_;
  std::unique_ptr<IniFile> settings_;
  std::unique_ptr<IniFile> placement_;
  std::unique_ptr<TOutArray> outQueue_;
  std::unique_ptr<UiStepQueue> uiSteps_;
  TComboBoxPatch* comboHint_ = nullptr;  // owned as a child object
  QPointer<QWidget> aboutForm_;
  QPointer<QWidget> infoForm_;
  MessageHook messageHook_ = ShowQueuedMessage;
  MessageHook errorHook_;

  std::unique_ptr<TMainBridge> bridge_;
  std::unique_ptr<TConnection> connection_;
  QPointer<TformUpdateIns> reflashForm_;
  ConnectDialogRunner connectDialogRunner_;
  PortListFn portList_;
  DecisionDialogs* decisionDialogs_ = nullptr;
  HexViewerRunner hexViewer_;
  StopQuestion stopQuestion_;
  // How the last reflash on this connection ended, told in the status bar
  // once the connection is closed.
  std::optional<ReflashReport> lastReflash_;
};

}  // namespace tarvik
