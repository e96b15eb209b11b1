#include "app/formmain.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <filesystem>

#include "app/mainbridge.h"
#include "app/pictures.h"
#include "common/ui/comboboxpatch.h"
#include "common/ui/programtitle.h"
#include "common/ui/qtext.h"
#include "common/ui/uiobject_qt.h"
#include "common/ui/waitpainting.h"
#include "device/connection.h"
#include "outqueue/ui/statuspane.h"

namespace tarvik {
namespace {

constexpr QRect kDesignedGeometry(297, 131, 856, 399);
constexpr int kToolBarHeight = 27;
constexpr QSize kToolButtonSize(27, 23);
constexpr int kStatusBarHeight = 19;
constexpr int kMemoHeight = 89;
constexpr int kLogButtonColumnWidth = 88;
constexpr int kLogButtonWidth = 79;
constexpr QColor kMemoFrameColor(127, 157, 185);
constexpr int kNoticePanel = 2;

// Through UTF-16, which the path converts to what the file system takes on
// every system; an 8-bit name would be read in the wrong code page on Windows
// and miss a folder with Cyrillic letters in its name.
std::filesystem::path ToPath(const QString& fileName) {
  return std::filesystem::path(fileName.toStdU16String());
}

QString WithSeparator(const QString& dir) { return dir.endsWith(u'/') ? dir : dir + u'/'; }

QLabel* HiddenPicture(const char* name, const QString& number, QWidget* parent) {
  auto* picture = new QLabel(parent);
  picture->setObjectName(QString::fromLatin1(name));
  picture->setPixmap(DevicePicture(number));
  picture->hide();
  return picture;
}

}  // namespace

QString ProgramDirectory() { return WithSeparator(QCoreApplication::applicationDirPath()); }

QStringList MemoLines(const QPlainTextEdit& memo) {
  QStringList lines;
  const QTextDocument* document = memo.document();
  if (document->isEmpty()) return lines;
  for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) lines << block.text();
  return lines;
}

bool WriteLogFile(const QString& fileName, const QStringList& lines, QString* error) {
  std::string bytes;
  for (const QString& line : lines) bytes += ToCp(line) + "\r\n";
  // A failed save leaves an existing file as it was.
  const std::string problem = WriteFileReplacing(ToPath(fileName), bytes);
  if (problem.empty()) return true;
  if (error) {
    *error =
        Ru("Не удалось записать файл \"%1\": %2").arg(QDir::toNativeSeparators(fileName), FromCp(problem));
  }
  return false;
}

TformMain::TformMain(const QString& programDir, bool autoConnect, QWidget* parent, Clock& clock)
    : QMainWindow(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                              Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      programDir_(WithSeparator(programDir)),
      settingsPlaces_(ResolveSettingsLocations(ToPath(programDir_))),
      autoConnect_(autoConnect),
      clock_(clock) {
  setObjectName(QStringLiteral("formMain"));
  errorHook_ = [this](const QString& text) { QMessageBox::critical(this, Ru("Ошибка"), text); };

  setWindowTitle(ProgramTitle());
  settings_ = std::make_unique<IniFile>(settingsPlaces_.CurrentIni());
  placement_ = std::make_unique<IniFile>(settingsPlaces_.WindowsIni(), true);
  comboHint_ = new TComboBoxPatch(this);
  comboHint_->AlwaysShowHint = true;
  outQueue_ = std::make_unique<TOutArray>();
  uiSteps_ = std::make_unique<UiStepQueue>();
  bridge_ = std::make_unique<TMainBridge>(*this);
  // Runs on the worker's thread: the steps themselves run on this window's thread.
  uiSteps_->SetWakeHook([this] {
    QMetaObject::invokeMethod(
        this, [this] { uiSteps_->RunPending(); }, Qt::QueuedConnection);
  });
  // A long wait for a worker (a reflash ending its exchange) keeps the
  // windows painting; what the user does meanwhile is dropped.
  uiSteps_->SetPaintHook([](int maxMs) { ProcessEventsDroppingInput(maxMs); });

  BuildUi();
  connection_ =
      std::make_unique<TConnection>(ConnectionSetup{.Events = *bridge_, .Sync = *uiSteps_, .Time = clock_});

  if (settings_->ReadString("Update", "UpdatePanelVersion", "") == kAccessWord) {
    ui_.mnuPanel->menuAction()->setVisible(true);
    ui_.mnuUpdate->setVisible(true);
  }
  SetLogVisible(placement_->ReadInteger(kLogSection, kLogVisibleKey, 0) != 0);

  // Key presses reach the window before its controls.
  qApp->installEventFilter(this);
  ui_.drainTimer->start();
}

TformMain::~TformMain() {
  qApp->removeEventFilter(this);
  ui_.drainTimer->stop();
  ui_.disconnectTimer->stop();
  FormDestroy();
}

void TformMain::BuildUi() {
  BuildMenus();
  BuildToolBar();
  BuildStatusBar();
  setCentralWidget(BuildClientArea());

  ui_.drainTimer = new QTimer(this);
  ui_.drainTimer->setObjectName(QStringLiteral("drainTimer"));
  ui_.drainTimer->setInterval(50);
  connect(ui_.drainTimer, &QTimer::timeout, this, &TformMain::drainTimerTick);
  ui_.disconnectTimer = new QTimer(this);
  ui_.disconnectTimer->setObjectName(QStringLiteral("disconnectTimer"));
  ui_.disconnectTimer->setInterval(100);
  connect(ui_.disconnectTimer, &QTimer::timeout, this, &TformMain::disconnectTimerTick);

  // The menu bar lies inside a Qt window but outside the designed client area.
  const int menuHeight = menuBar()->sizeHint().height();
  resize(kDesignedGeometry.width(), kDesignedGeometry.height() + menuHeight);
  move(kDesignedGeometry.topLeft());
  RememberNormalPlacement();
}

void TformMain::BuildMenus() {
  QMenuBar* bar = menuBar();
  ui_.mnuFile = bar->addMenu(Ru("Файл"));
  ui_.mnuFile->setObjectName(QStringLiteral("mnuFile"));
  ui_.mnuExit = ui_.mnuFile->addAction(Ru("Выход"));
  ui_.mnuExit->setObjectName(QStringLiteral("mnuExit"));
  ui_.mnuExit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_X));
  connect(ui_.mnuExit, &QAction::triggered, this, &QWidget::close);

  ui_.mnuConnections = bar->addMenu(Ru("Соединение"));
  ui_.mnuConnections->setObjectName(QStringLiteral("mnuConnections"));
  ui_.mnuConnect = ui_.mnuConnections->addAction(Ru("Подключиться"));
  ui_.mnuConnect->setObjectName(QStringLiteral("mnuConnect"));
  ui_.mnuConnect->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
  connect(ui_.mnuConnect, &QAction::triggered, this, [this] { tbtnConnectClick(); });
  ui_.mnuDisconnect = ui_.mnuConnections->addAction(Ru("Отключиться"));
  ui_.mnuDisconnect->setObjectName(QStringLiteral("mnuDisconnect"));
  ui_.mnuDisconnect->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
  ui_.mnuDisconnect->setEnabled(false);
  connect(ui_.mnuDisconnect, &QAction::triggered, this, [this] { tbtnDisconnectClick(); });
  ui_.mnuConnections->addSeparator();
  ui_.mnuLog = ui_.mnuConnections->addAction(Ru("Журнал обмена"));
  ui_.mnuLog->setObjectName(QStringLiteral("mnuLog"));
  ui_.mnuLog->setCheckable(true);
  connect(ui_.mnuLog, &QAction::triggered, this, &TformMain::mnuLogClick);

  ui_.mnuPanel = bar->addMenu(Ru("Панель"));
  ui_.mnuPanel->setObjectName(QStringLiteral("mnuPanel"));
  ui_.mnuUpdate = ui_.mnuPanel->addAction(Ru("Обновление версии прошивки"));
  ui_.mnuUpdate->setObjectName(QStringLiteral("mnuUpdate"));
  connect(ui_.mnuUpdate, &QAction::triggered, this, [this] { mnuUpdateClick(); });
  ui_.mnuPanel->menuAction()->setVisible(false);
  ui_.mnuUpdate->setVisible(false);

  ui_.mnuHelp = bar->addMenu(Ru("Помощь"));
  ui_.mnuHelp->setObjectName(QStringLiteral("mnuHelp"));
  ui_.mnuAbout = ui_.mnuHelp->addAction(AboutIcon(), Ru("О программе"));
  ui_.mnuAbout->setObjectName(QStringLiteral("mnuAbout"));
  ui_.mnuAbout->setShortcut(QKeySequence(Qt::Key_F1));
  connect(ui_.mnuAbout, &QAction::triggered, this, &TformMain::mnuAboutClick);
}

void TformMain::BuildToolBar() {
  ui_.mainToolBar = addToolBar(QStringLiteral("mainToolBar"));
  ui_.mainToolBar->setObjectName(QStringLiteral("mainToolBar"));
  ui_.mainToolBar->setMovable(false);
  ui_.mainToolBar->setFloatable(false);
  ui_.mainToolBar->setFixedHeight(kToolBarHeight);
  ui_.mainToolBar->setContextMenuPolicy(Qt::PreventContextMenu);
  ui_.mainToolBar->setIconSize(QSize(16, 16));

  auto makeButton = [this](const char* name, const QIcon& icon, const QString& tip) {
    auto* button = new QToolButton(ui_.mainToolBar);
    button->setObjectName(QString::fromLatin1(name));
    button->setIcon(icon);
    button->setToolTip(tip);
    button->setAutoRaise(true);
    button->setFixedSize(kToolButtonSize);
    ui_.mainToolBar->addWidget(button);
    return button;
  };
  ui_.tbtnConnect = makeButton("tbtnConnect", ConnectIcon(), Ru("Подключиться"));
  ui_.tbtnDisconnect = makeButton("tbtnDisconnect", DisconnectIcon(), Ru("Отключиться"));
  ui_.tbtnDisconnect->setEnabled(false);
  ui_.mainToolBar->addSeparator();
  // The clicked signal, not click(), carries the action: a disabled button
  // can still be clicked from the queue.
  connect(ui_.tbtnConnect, &QToolButton::clicked, this, [this] { tbtnConnectClick(); });
  connect(ui_.tbtnDisconnect, &QToolButton::clicked, this, [this] { tbtnDisconnectClick(); });
}

void TformMain::BuildStatusBar() {
  ui_.mainStatusBar = statusBar();
  ui_.mainStatusBar->setObjectName(QStringLiteral("mainStatusBar"));
  ui_.mainStatusBar->setSizeGripEnabled(false);
  ui_.mainStatusBar->setFixedHeight(kStatusBarHeight);
  QFont small = ui_.mainStatusBar->font();
  small.setPointSizeF(small.pointSizeF() * 0.85);
  ui_.mainStatusBar->setFont(small);
  struct PaneSpec {
    const char* text;
    int width;
    Qt::Alignment alignment;
  };
  const PaneSpec panes[4] = {{"Com-порт:", 55, Qt::AlignHCenter},
                             {"Версия прошивки:", 140, Qt::AlignHCenter},
                             {"", 100, Qt::AlignLeft},
                             {"", 200, Qt::AlignLeft}};
  for (int i = 0; i < 4; ++i) {
    auto* pane = new StatusPane(Ru(panes[i].text), panes[i].width, panes[i].alignment, ui_.mainStatusBar);
    pane->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
    ui_.mainStatusBar->addWidget(pane, i == kNoticePanel ? 1 : 0);
    ui_.panels[static_cast<std::size_t>(i)] = pane;
  }
  // The notices about the connection are longer than the designed panel:
  // it takes the room the others leave.
  ui_.panels[kNoticePanel]->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
  // Over the last panel, inside its frame.
  StatusPane* last = ui_.panels[3];
  auto* layout = new QHBoxLayout(last);
  layout->setContentsMargins(2, 1, 2, 0);
  ui_.serviceProgressBar = new QProgressBar(last);
  ui_.serviceProgressBar->setObjectName(QStringLiteral("serviceProgressBar"));
  ui_.serviceProgressBar->setTextVisible(false);
  ui_.serviceProgressBar->setRange(0, 100);
  ui_.serviceProgressBar->setValue(0);
  layout->addWidget(ui_.serviceProgressBar);
  ui_.serviceProgressBar->hide();
}

QWidget* TformMain::BuildClientArea() {
  auto* client = new QWidget(this);
  auto* column = new QVBoxLayout(client);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);

  auto* pictures = new QHBoxLayout();
  pictures->setContentsMargins(4, 4, 4, 4);
  ui_.picture001 = HiddenPicture("picture001", QStringLiteral("001"), client);
  ui_.picture002 = HiddenPicture("picture002", QStringLiteral("002"), client);
  ui_.picture003 = HiddenPicture("picture003", QStringLiteral("003"), client);
  ui_.picture010 = HiddenPicture("picture010", QStringLiteral("010"), client);
  for (QLabel* picture : {ui_.picture001, ui_.picture002, ui_.picture003, ui_.picture010})
    pictures->addWidget(picture);
  pictures->addStretch(1);
  column->addLayout(pictures);
  column->addStretch(1);

  ui_.logArea = new QWidget(client);
  ui_.logArea->setObjectName(QStringLiteral("logArea"));
  auto* row = new QHBoxLayout(ui_.logArea);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(0);

  // The memo has no border of its own; a plain box frame draws its thin
  // line in the frame colour.
  auto* memoFrame = new QFrame(ui_.logArea);
  memoFrame->setFrameStyle(QFrame::Box | QFrame::Plain);
  memoFrame->setLineWidth(1);
  QPalette framePalette = memoFrame->palette();
  framePalette.setColor(QPalette::WindowText, kMemoFrameColor);
  memoFrame->setPalette(framePalette);
  memoFrame->setFixedHeight(kMemoHeight);
  auto* frameLayout = new QVBoxLayout(memoFrame);
  frameLayout->setContentsMargins(1, 1, 1, 1);
  ui_.messageLog = new QPlainTextEdit(memoFrame);
  ui_.messageLog->setObjectName(QStringLiteral("messageLog"));
  ui_.messageLog->setReadOnly(true);
  ui_.messageLog->setFrameShape(QFrame::NoFrame);
  ui_.messageLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  ui_.messageLog->setLineWrapMode(QPlainTextEdit::NoWrap);
  QPalette memoPalette = ui_.messageLog->palette();
  memoPalette.setColor(QPalette::Base, memoPalette.color(QPalette::ToolTipBase));
  memoPalette.setColor(QPalette::Text, memoPalette.color(QPalette::ToolTipText));
  ui_.messageLog->setPalette(memoPalette);
  frameLayout->addWidget(ui_.messageLog);
  row->addWidget(memoFrame, 1);

  auto* buttons = new QWidget(ui_.logArea);
  buttons->setFixedWidth(kLogButtonColumnWidth);
  auto* buttonColumn = new QVBoxLayout(buttons);
  buttonColumn->setContentsMargins(0, 4, 0, 4);
  buttonColumn->setSpacing(6);
  ui_.clearLogButton = new QPushButton(ClearIcon(), Ru("Очистить"), buttons);
  ui_.clearLogButton->setObjectName(QStringLiteral("clearLogButton"));
  ui_.saveLogButton = new QPushButton(Ru("Сохранить"), buttons);
  ui_.saveLogButton->setObjectName(QStringLiteral("saveLogButton"));
  for (QPushButton* button : {ui_.clearLogButton, ui_.saveLogButton}) {
    button->setFixedWidth(kLogButtonWidth);
    buttonColumn->addWidget(button, 0, Qt::AlignHCenter);
  }
  buttonColumn->addStretch(1);
  row->addWidget(buttons);
  connect(ui_.clearLogButton, &QPushButton::clicked, this, &TformMain::clearLogButtonClick);
  connect(ui_.saveLogButton, &QPushButton::clicked, this, &TformMain::saveLogButtonClick);

  column->addWidget(ui_.logArea);
  ui_.logArea->hide();
  return client;
}

void TformMain::setVisible(bool visible) {
  const bool firstShow = visible && !shown_;
  if (firstShow) RestorePlacement();
  QMainWindow::setVisible(visible);
  if (firstShow) {
    shown_ = true;
    FormShow();
  }
}

void TformMain::FormShow() {
  // A settings file that is there but could not be read is kept as it is
  // and the tool goes on with defaults; the user should know why.
  for (const IniFile* file : {settings_.get(), placement_.get()}) {
    if (!file->ReadProblem().empty()) {
      ShowError(Ru("Не удалось прочитать файл настроек ") + FromCp(PathText(file->Path())) +
                QStringLiteral(" (") + FromCp(file->ReadProblem()) + QStringLiteral(")"));
    }
  }
  if (!autoConnect_) return;
  // Run from the event loop, so the window is on screen before the
  // connection dialog opens over it.
  QTimer::singleShot(0, this, [this] { PerformClick(ui_.tbtnConnect); });
}

bool TformMain::TakesInput() const {
  return isEnabled() && QApplication::activeModalWidget() == nullptr &&
         connection_->State() != ConnectionState::Closing;
}

void TformMain::closeEvent(QCloseEvent* event) {
  // While the reflash window or a modal dialog is open, or the connection
  // is being wound up, the window takes no input; a close request from the
  // title bar is input too, and would tear the connection down behind them.
  if (!closed_ && !TakesInput()) {
    event->ignore();
    return;
  }
  if (!closed_) {
    closed_ = true;
    SavePlacement();
    FormDestroy();
    if (aboutForm_) aboutForm_->hide();
    if (infoForm_) infoForm_->hide();
  }
  event->accept();
}

void TformMain::FormDestroy() {
  if (destroyed_) return;
  destroyed_ = true;
  try {
    settings_->Save();
  } catch (const std::exception& e) {
    ShowError(ErrorText(e));
  }
  if (ui_.tbtnDisconnect->isEnabled()) PerformClick(ui_.tbtnDisconnect);
  // A connection still identifying has no enabled disconnect button; it must
  // not outlive the window either.
  TearDownConnection();
  // The queue itself goes with the window object.
}

bool TformMain::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget && widget->window() == this) {
      const auto* key = static_cast<QKeyEvent*>(event);
      if (FormKeyDown(key->key(), key->modifiers())) return true;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

bool TformMain::FormKeyDown(int key, Qt::KeyboardModifiers modifiers) {
  // With the Russian layout active the I key reports the letter Ш.
  const bool keyI = key == Qt::Key_I || key == 0x0428;
  const Qt::KeyboardModifiers held = modifiers & ~(Qt::ShiftModifier | Qt::KeypadModifier);
  if (keyI && held == (Qt::ControlModifier | Qt::AltModifier)) {
    if (infoForm_) {
      infoForm_->show();
      infoForm_->raise();
      infoForm_->activateWindow();
    }
    return true;
  }
  return false;
}

void TformMain::drainTimerTick() {
  ui_.drainTimer->stop();
  // While a connection is wound up the windows only repaint: what is queued
  // meanwhile (a click, a message box) and the user's input wait until it is
  // over.
  if (connection_->State() == ConnectionState::Closing) {
    ui_.drainTimer->start();
    return;
  }
  if (outQueue_->PeekKind() != kOutNone) DrainOutput(*outQueue_, messageHook_);
  QCoreApplication::processEvents();
  ui_.drainTimer->start();
}

void TformMain::disconnectTimerTick() {
  // Stopped first, so a click that runs an event loop cannot see a second tick.
  ui_.disconnectTimer->stop();
  if (ui_.tbtnDisconnect->isEnabled()) PerformClick(ui_.tbtnDisconnect);
}

void TformMain::mnuAboutClick() {
  if (!aboutForm_) return;
  aboutForm_->show();
  aboutForm_->raise();
  aboutForm_->activateWindow();
}

void TformMain::mnuLogClick(bool checked) {
  SetLogVisible(checked);
  try {
    placement_->WriteInteger(kLogSection, kLogVisibleKey, checked ? 1 : 0);
  } catch (const std::exception& e) {
    ShowError(ErrorText(e));
  }
}

bool TformMain::LogVisible() const { return !ui_.logArea->isHidden(); }

void TformMain::SetLogVisible(bool visible) {
  ui_.logArea->setVisible(visible);
  ui_.mnuLog->setChecked(visible);
}

void TformMain::clearLogButtonClick() { ui_.messageLog->clear(); }

void TformMain::saveLogButtonClick() {
  QFileDialog dialog(this, Ru("Сохранение журнала"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilter(QStringLiteral("Text Files (*.txt)"));
  dialog.setDefaultSuffix(QStringLiteral("txt"));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  QString error;
  if (!WriteLogFile(dialog.selectedFiles().constFirst(), MemoLines(*ui_.messageLog), &error))
    ShowError(error);
}

void TformMain::RestorePlacement() {
  // Left and Top place the window with its frame; the size is that of the
  // window without it, so a stored placement comes back unchanged.
  const QPoint current = pos();
  const QSize currentSize = size();
  const int left = placement_->ReadInteger(kPlacementSection, "Left", current.x());
  const int top = placement_->ReadInteger(kPlacementSection, "Top", current.y());
  const int right = placement_->ReadInteger(kPlacementSection, "Right", left + currentSize.width());
  const int bottom = placement_->ReadInteger(kPlacementSection, "Bottom", top + currentSize.height());
  const bool maximized = placement_->ReadInteger(kPlacementSection, "Maximized", 0) != 0;
  QRect normal(left, top, right - left, bottom - top);
  // A damaged file must not shrink the window to nothing.
  if (normal.width() <= 0 || normal.height() <= 0) normal.setSize(currentSize);
  if (QGuiApplication::screenAt(normal.topLeft()) == nullptr) normal.moveTopLeft(QPoint(0, 0));
  normal = FitOnScreen(normal);
  resize(normal.size());
  move(normal.topLeft());
  normalPos_ = normal.topLeft();
  normalSize_ = normal.size();
  if (maximized) setWindowState(windowState() | Qt::WindowMaximized);
}

QRect TformMain::FitOnScreen(QRect normal) const {
  // Nor may it grow past the screen or lie mostly off it: a window larger
  // than the screen costs memory for nothing and hides its own title bar,
  // and one placed near a corner shows a sliver. What is fitted here is
  // what is saved at exit.
  QScreen* screen = QGuiApplication::screenAt(normal.topLeft());
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return normal;
  const QRect available = screen->availableGeometry();
  const QSize frame = frameGeometry().size() - geometry().size();
  normal.setWidth(std::min(normal.width(), available.width() - frame.width()));
  normal.setHeight(std::min(normal.height(), available.height() - frame.height()));
  if (normal.left() + normal.width() + frame.width() > available.right() + 1)
    normal.moveLeft(available.right() + 1 - normal.width() - frame.width());
  if (normal.top() + normal.height() + frame.height() > available.bottom() + 1)
    normal.moveTop(available.bottom() + 1 - normal.height() - frame.height());
  normal.moveLeft(std::max(normal.left(), available.left()));
  normal.moveTop(std::max(normal.top(), available.top()));
  return normal;
}

void TformMain::SavePlacement() {
  const bool maximized = isMaximized();
  if (!(windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen))) {
    RememberNormalPlacement();
  }
  try {
    placement_->WriteInteger(kPlacementSection, "Maximized", maximized ? 1 : 0);
    placement_->WriteInteger(kPlacementSection, "Left", normalPos_.x());
    placement_->WriteInteger(kPlacementSection, "Top", normalPos_.y());
    placement_->WriteInteger(kPlacementSection, "Right", normalPos_.x() + normalSize_.width());
    placement_->WriteInteger(kPlacementSection, "Bottom", normalPos_.y() + normalSize_.height());
    placement_->WriteInteger(kPlacementSection, "Saved", 1);
  } catch (const std::exception& e) {
    ShowError(ErrorText(e));
  }
}

void TformMain::RememberNormalPlacement() {
  normalPos_ = pos();
  normalSize_ = size();
}

void TformMain::moveEvent(QMoveEvent* event) {
  QMainWindow::moveEvent(event);
  if (!(windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen))) {
    RememberNormalPlacement();
  }
}

void TformMain::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  if (!(windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen))) {
    RememberNormalPlacement();
  }
}

void TformMain::ShowError(const QString& text) {
  if (errorHook_) errorHook_(text);
}

void TformMain::ShowNotice(const QString& text) {
  ui_.panels[kNoticePanel]->setText(text);
  // A notice longer than its pane is read whole under the pointer.
  ui_.panels[kNoticePanel]->setToolTip(text);
}

void TformMain::HideDevicePictures() {
  for (QLabel* picture : {ui_.picture001, ui_.picture002, ui_.picture003, ui_.picture010}) picture->hide();
}

void TformMain::LockMainControls() {
  for (QAction* action : {ui_.mnuFile->menuAction(), ui_.mnuConnections->menuAction(),
                          ui_.mnuHelp->menuAction(), ui_.mnuUpdate, ui_.mnuPanel->menuAction()}) {
    action->setEnabled(false);
  }
  ui_.tbtnDisconnect->setEnabled(false);
}

void TformMain::UnlockMainControls() {
  for (QAction* action : {ui_.mnuFile->menuAction(), ui_.mnuConnections->menuAction(),
                          ui_.mnuHelp->menuAction(), ui_.mnuUpdate, ui_.mnuPanel->menuAction()}) {
    action->setEnabled(true);
  }
  ui_.tbtnDisconnect->setEnabled(true);
}

UiObject* TformMain::tbtnConnect() const { return ToUi(ui_.tbtnConnect); }
UiObject* TformMain::tbtnDisconnect() const { return ToUi(ui_.tbtnDisconnect); }
UiObject* TformMain::mnuConnect() const { return ToUi(ui_.mnuConnect); }
UiObject* TformMain::mnuDisconnect() const { return ToUi(ui_.mnuDisconnect); }
UiObject* TformMain::mnuFile() const { return ToUi(ui_.mnuFile->menuAction()); }
UiObject* TformMain::mnuConnections() const { return ToUi(ui_.mnuConnections->menuAction()); }
UiObject* TformMain::mnuHelp() const { return ToUi(ui_.mnuHelp->menuAction()); }
UiObject* TformMain::mnuUpdate() const { return ToUi(ui_.mnuUpdate); }
DeviceEvents& TformMain::Events() { return *bridge_; }

UiObject* TformMain::mnuPanel() const { return ToUi(ui_.mnuPanel->menuAction()); }
UiObject* TformMain::serviceProgressBar() const { return ToUi(ui_.serviceProgressBar); }
UiObject* TformMain::messageLog() const { return ToUi(ui_.messageLog); }
UiObject* TformMain::disconnectTimer() const { return ToUi(ui_.disconnectTimer); }

UiObject* TformMain::StatusPanel(int index) const {
  if (index < 0 || index >= static_cast<int>(ui_.panels.size())) return nullptr;
  return ToUi(ui_.panels[static_cast<std::size_t>(index)]);
}

}  // namespace tarvik
