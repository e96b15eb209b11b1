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
  connection_ = std::make_unique<TConnection>(ConnectionSetup{
      .Queue = *outQueue_, .Memo = Memo1(), .Ui = *bridge_, .Sync = *uiSteps_, .Time = clock_});

  if (settings_->ReadString("Update", "UpdatePanelVersion", "") == kAccessWord) {
    ui_.N4->menuAction()->setVisible(true);
    ui_.mnuUpdate->setVisible(true);
  }
  SetLogVisible(placement_->ReadInteger(kLogSection, kLogVisibleKey, 0) != 0);

  // Key presses reach the window before its controls.
  qApp->installEventFilter(this);
  ui_.Timer1->start();
}

TformMain::~TformMain() {
  qApp->removeEventFilter(this);
  ui_.Timer1->stop();
  ui_.Timer2->stop();
  FormDestroy();
}

void TformMain::BuildUi() {
  BuildMenus();
  BuildToolBar();
  BuildStatusBar();
  setCentralWidget(BuildClientArea());

  ui_.Timer1 = new QTimer(this);
  ui_.Timer1->setObjectName(QStringLiteral("Timer1"));
  ui_.Timer1->setInterval(50);
  connect(ui_.Timer1, &QTimer::timeout, this, &TformMain::Timer1Timer);
  ui_.Timer2 = new QTimer(this);
  ui_.Timer2->setObjectName(QStringLiteral("Timer2"));
  ui_.Timer2->setInterval(100);
  connect(ui_.Timer2, &QTimer::timeout, this, &TformMain::Timer2Timer);

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

  ui_.N4 = bar->addMenu(Ru("Панель"));
  ui_.N4->setObjectName(QStringLiteral("N4"));
  ui_.mnuUpdate = ui_.N4->addAction(Ru("Обновление версии прошивки"));
  ui_.mnuUpdate->setObjectName(QStringLiteral("mnuUpdate"));
  connect(ui_.mnuUpdate, &QAction::triggered, this, [this] { mnuUpdateClick(); });
  ui_.N4->menuAction()->setVisible(false);
  ui_.mnuUpdate->setVisible(false);

  ui_.mnuHelp = bar->addMenu(Ru("Помощь"));
  ui_.mnuHelp->setObjectName(QStringLiteral("mnuHelp"));
  ui_.mnuAbout = ui_.mnuHelp->addAction(AboutIcon(), Ru("О программе"));
  ui_.mnuAbout->setObjectName(QStringLiteral("mnuAbout"));
  ui_.mnuAbout->setShortcut(QKeySequence(Qt::Key_F1));
  connect(ui_.mnuAbout, &QAction::triggered, this, &TformMain::mnuAboutClick);
}

void TformMain::BuildToolBar() {
  ui_.ToolBar1 = addToolBar(QStringLiteral("ToolBar1"));
  ui_.ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
  ui_.ToolBar1->setMovable(false);
  ui_.ToolBar1->setFloatable(false);
  ui_.ToolBar1->setFixedHeight(kToolBarHeight);
  ui_.ToolBar1->setContextMenuPolicy(Qt::PreventContextMenu);
  ui_.ToolBar1->setIconSize(QSize(16, 16));

  auto makeButton = [this](const char* name, const QIcon& icon, const QString& tip) {
    auto* button = new QToolButton(ui_.ToolBar1);
    button->setObjectName(QString::fromLatin1(name));
    button->setIcon(icon);
    button->setToolTip(tip);
    button->setAutoRaise(true);
    button->setFixedSize(kToolButtonSize);
    ui_.ToolBar1->addWidget(button);
    return button;
  };
  ui_.tbtnConnect = makeButton("tbtnConnect", ConnectIcon(), Ru("Подключиться"));
  ui_.tbtnDisconnect = makeButton("tbtnDisconnect", DisconnectIcon(), Ru("Отключиться"));
  ui_.tbtnDisconnect->setEnabled(false);
  ui_.ToolBar1->addSeparator();
  // The clicked signal, not click(), carries the action: a disabled button
  // can still be clicked from the queue.
  connect(ui_.tbtnConnect, &QToolButton::clicked, this, [this] { tbtnConnectClick(); });
  connect(ui_.tbtnDisconnect, &QToolButton::clicked, this, [this] { tbtnDisconnectClick(); });
}

void TformMain::BuildStatusBar() {
  ui_.StatusBar1 = statusBar();
  ui_.StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
  ui_.StatusBar1->setSizeGripEnabled(false);
  ui_.StatusBar1->setFixedHeight(kStatusBarHeight);
  QFont small = ui_.StatusBar1->font();
  small.setPointSizeF(small.pointSizeF() * 0.85);
  ui_.StatusBar1->setFont(small);
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
    auto* pane = new StatusPane(Ru(panes[i].text), panes[i].width, panes[i].alignment, ui_.StatusBar1);
    pane->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
    ui_.StatusBar1->addWidget(pane, i == kNoticePanel ? 1 : 0);
    ui_.panels[static_cast<std::size_t>(i)] = pane;
  }
  // The notices about the connection are longer than the designed panel:
  // it takes the room the others leave.
  ui_.panels[kNoticePanel]->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
  // Over the last panel, inside its frame.
  StatusPane* last = ui_.panels[3];
  auto* layout = new QHBoxLayout(last);
  layout->setContentsMargins(2, 1, 2, 0);
  ui_.RzProgressBar1 = new QProgressBar(last);
  ui_.RzProgressBar1->setObjectName(QStringLiteral("RzProgressBar1"));
  ui_.RzProgressBar1->setTextVisible(false);
  ui_.RzProgressBar1->setRange(0, 100);
  ui_.RzProgressBar1->setValue(0);
  layout->addWidget(ui_.RzProgressBar1);
  ui_.RzProgressBar1->hide();
}

QWidget* TformMain::BuildClientArea() {
  auto* client = new QWidget(this);
  auto* column = new QVBoxLayout(client);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);

  auto* pictures = new QHBoxLayout();
  pictures->setContentsMargins(4, 4, 4, 4);
  ui_.n001 = HiddenPicture("n001", QStringLiteral("001"), client);
  ui_.N002 = HiddenPicture("N002", QStringLiteral("002"), client);
  ui_.N003 = HiddenPicture("N003", QStringLiteral("003"), client);
  ui_.N010 = HiddenPicture("N010", QStringLiteral("010"), client);
  for (QLabel* picture : {ui_.n001, ui_.N002, ui_.N003, ui_.N010}) pictures->addWidget(picture);
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
  ui_.Memo1 = new QPlainTextEdit(memoFrame);
  ui_.Memo1->setObjectName(QStringLiteral("Memo1"));
  ui_.Memo1->setReadOnly(true);
  ui_.Memo1->setFrameShape(QFrame::NoFrame);
  ui_.Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  ui_.Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
  QPalette memoPalette = ui_.Memo1->palette();
  memoPalette.setColor(QPalette::Base, memoPalette.color(QPalette::ToolTipBase));
  memoPalette.setColor(QPalette::Text, memoPalette.color(QPalette::ToolTipText));
  ui_.Memo1->setPalette(memoPalette);
  frameLayout->addWidget(ui_.Memo1);
  row->addWidget(memoFrame, 1);

  auto* buttons = new QWidget(ui_.logArea);
  buttons->setFixedWidth(kLogButtonColumnWidth);
  auto* buttonColumn = new QVBoxLayout(buttons);
  buttonColumn->setContentsMargins(0, 4, 0, 4);
  buttonColumn->setSpacing(6);
  ui_.RzBitBtn1 = new QPushButton(ClearIcon(), Ru("Очистить"), buttons);
  ui_.RzBitBtn1->setObjectName(QStringLiteral("RzBitBtn1"));
  ui_.RzButton1 = new QPushButton(Ru("Сохранить"), buttons);
  ui_.RzButton1->setObjectName(QStringLiteral("RzButton1"));
  for (QPushButton* button : {ui_.RzBitBtn1, ui_.RzButton1}) {
    button->setFixedWidth(kLogButtonWidth);
    buttonColumn->addWidget(button, 0, Qt::AlignHCenter);
  }
  buttonColumn->addStretch(1);
  row->addWidget(buttons);
  connect(ui_.RzBitBtn1, &QPushButton::clicked, this, &TformMain::RzBitBtn1Click);
  connect(ui_.RzButton1, &QPushButton::clicked, this, &TformMain::RzButton1Click);

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

void TformMain::Timer1Timer() {
  ui_.Timer1->stop();
  // While a connection is wound up the windows only repaint: what is queued
  // meanwhile (a click, a message box) and the user's input wait until it is
  // over.
  if (connection_->State() == ConnectionState::Closing) {
    ui_.Timer1->start();
    return;
  }
  if (outQueue_->PeekKind() != kOutNone) DrainOutput(*outQueue_, messageHook_);
  QCoreApplication::processEvents();
  ui_.Timer1->start();
}

void TformMain::Timer2Timer() {
  // Stopped first, so a click that runs an event loop cannot see a second tick.
  ui_.Timer2->stop();
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

void TformMain::RzBitBtn1Click() { ui_.Memo1->clear(); }

void TformMain::RzButton1Click() {
  QFileDialog dialog(this, Ru("Сохранение журнала"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilter(QStringLiteral("Text Files (*.txt)"));
  dialog.setDefaultSuffix(QStringLiteral("txt"));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  QString error;
  if (!WriteLogFile(dialog.selectedFiles().constFirst(), MemoLines(*ui_.Memo1), &error)) ShowError(error);
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
  for (QLabel* picture : {ui_.n001, ui_.N002, ui_.N003, ui_.N010}) picture->hide();
}

void TformMain::LockMainControls() {
  for (QAction* action : {ui_.mnuFile->menuAction(), ui_.mnuConnections->menuAction(),
                          ui_.mnuHelp->menuAction(), ui_.mnuUpdate, ui_.N4->menuAction()}) {
    action->setEnabled(false);
  }
  ui_.tbtnDisconnect->setEnabled(false);
}

void TformMain::UnlockMainControls() {
  for (QAction* action : {ui_.mnuFile->menuAction(), ui_.mnuConnections->menuAction(),
                          ui_.mnuHelp->menuAction(), ui_.mnuUpdate, ui_.N4->menuAction()}) {
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
UiObject* TformMain::N4() const { return ToUi(ui_.N4->menuAction()); }
UiObject* TformMain::RzProgressBar1() const { return ToUi(ui_.RzProgressBar1); }
UiObject* TformMain::Memo1() const { return ToUi(ui_.Memo1); }
UiObject* TformMain::Timer2() const { return ToUi(ui_.Timer2); }

UiObject* TformMain::StatusPanel(int index) const {
  if (index < 0 || index >= static_cast<int>(ui_.panels.size())) return nullptr;
  return ToUi(ui_.panels[static_cast<std::size_t>(index)]);
}

}  // namespace tarvik
