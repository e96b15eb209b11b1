#include "reflash/ui/reflashwindow.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QStackedLayout>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>

#include "common/text.h"
#include "common/ui/placement.h"
#include "common/ui/programtitle.h"
#include "common/ui/qtext.h"
#include "device/connection.h"
#include "reflash/durations.h"
#include "reflash/reflashreport.h"
#include "reflash/ui/partsprogressbar.h"
#include "reflash/updatethread.h"

namespace tarvik {

namespace {

constexpr int kWindowClientWidth = 687;
constexpr int kWindowClientHeight = 178;
// How often the elapsed time is brought up to date while a command runs.
constexpr int kElapsedTickMs = 250;

QLabel* NewLabel(const QString& text, const char* name, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QLatin1String(name));
  return label;
}

void MakeBold(QLabel* label, int extraPoints) {
  QFont font = label->font();
  font.setBold(true);
  font.setPointSizeF(font.pointSizeF() + extraPoints);
  label->setFont(font);
}

// Time labels come and go during a reflash; the rows must not jump.
void KeepPlaceWhenHidden(QWidget* widget) {
  QSizePolicy policy = widget->sizePolicy();
  policy.setRetainSizeWhenHidden(true);
  widget->setSizePolicy(policy);
}

void SetTextColour(QLabel* label, const QColor& colour) {
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, colour);
  label->setPalette(palette);
}

}  // namespace

TformUpdateIns::TformUpdateIns(TformUpdateInsHooks hooks, QWidget* centreOn)
    : QDialog(nullptr,
              Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint | Qt::MSWindowsFixedSizeDialogHint),
      hooks_(std::move(hooks)),
      centreOn_(centreOn) {
  // Creating the reflash window loads the catalogue; a program whose
  // embedded files are broken does not start.
  catalogue_.LoadCatalogue();
  setObjectName(QStringLiteral("formUpdateIns"));
  setWindowTitle(Ru("Перепрошивка панели"));
  setFixedSize(kWindowClientWidth, kWindowClientHeight);

  auto* versionsPane = new QWidget(this);
  ui_.lbCurrentVersionHead =
      NewLabel(Ru("Текущая версия прошивки панели:"), "lbCurrentVersionHead", versionsPane);
  ui_.lbCurrentVersion = NewLabel(QString(), "lbCurrentVersion", versionsPane);
  MakeBold(ui_.lbCurrentVersion, 5);
  ui_.lbNewVersionHead = NewLabel(FromCp(OfferedVersionLabelText()), "lbNewVersionHead", versionsPane);
  ui_.lbNewVersion = NewLabel(QString(), "lbNewVersion", versionsPane);
  MakeBold(ui_.lbNewVersion, 5);

  ui_.lbTimeAfterHead = NewLabel(FromCp(ElapsedLabelText()), "lbTimeAfterHead", this);
  ui_.lbTimeAfter = NewLabel(QString(), "lbTimeAfter", this);
  ui_.lbTimeLostHead = NewLabel(FromCp(RemainingLabelText()), "lbTimeLostHead", this);
  ui_.lbTimeLost = NewLabel(QString(), "lbTimeLost", this);
  for (QLabel* label : {ui_.lbTimeAfterHead, ui_.lbTimeAfter, ui_.lbTimeLostHead, ui_.lbTimeLost}) {
    KeepPlaceWhenHidden(label);
    label->hide();
  }

  ui_.lbError = NewLabel(QString(), "lbError", this);
  MakeBold(ui_.lbError, 2);
  // A failure says what happened, what the device is left with and what to
  // do: more than a line.
  ui_.lbError->setWordWrap(true);
  ui_.lbError->setMinimumHeight(ui_.lbError->fontMetrics().height());

  ui_.reflashProgressBar = new TPartsProgressBar(this);
  ui_.reflashProgressBar->setObjectName(QStringLiteral("reflashProgressBar"));

  ui_.btnUpdateVer = new QPushButton(Ru("Перепрошить"), this);
  ui_.btnUpdateVer->setObjectName(QStringLiteral("btnUpdateVer"));
  ui_.btnExit = new QPushButton(Ru("Выйти без перепрошивки"), this);
  ui_.btnExit->setObjectName(QStringLiteral("btnExit"));
  // Enter on the focused button presses it, as on Windows.
  for (QPushButton* button : {ui_.btnUpdateVer, ui_.btnExit}) {
    button->setAutoDefault(true);
    button->setMinimumWidth(button->sizeHint().width() + 24);
  }
  elapsedTicker_ = new QTimer(this);
  elapsedTicker_->setInterval(kElapsedTickMs);
  connect(elapsedTicker_, &QTimer::timeout, this, [this] { ShowElapsedNow(); });

  // The two version rows and the version choice share one place; the
  // choice, when shown, lies over the rows.
  auto* versions = new QGridLayout(versionsPane);
  versions->setContentsMargins(0, 0, 0, 0);
  versions->setHorizontalSpacing(12);
  versions->setVerticalSpacing(2);
  versions->addWidget(ui_.lbCurrentVersionHead, 0, 0);
  versions->addWidget(ui_.lbCurrentVersion, 0, 1);
  versions->addWidget(ui_.lbNewVersionHead, 1, 0);
  versions->addWidget(ui_.lbNewVersion, 1, 1);
  versions->setColumnStretch(1, 1);

  ui_.versionChoiceGroup = new QGroupBox(Ru("Выберете версию для перепрошивки устройства"), this);
  ui_.versionChoiceGroup->setObjectName(QStringLiteral("versionChoiceGroup"));
  ui_.versionChoiceGroup->setAutoFillBackground(true);
  // The rows set the height; the choice only covers them.
  ui_.versionChoiceGroup->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
  ui_.versionList = new QListWidget(ui_.versionChoiceGroup);
  ui_.versionList->setObjectName(QStringLiteral("versionList"));
  ui_.chooseVersionButton = new QPushButton(QStringLiteral("&Ok"), ui_.versionChoiceGroup);
  ui_.chooseVersionButton->setObjectName(QStringLiteral("chooseVersionButton"));
  ui_.chooseVersionButton->setAutoDefault(false);
  auto* choice = new QHBoxLayout(ui_.versionChoiceGroup);
  choice->setContentsMargins(6, 2, 6, 4);
  choice->addWidget(ui_.versionList, 1);
  choice->addWidget(ui_.chooseVersionButton, 0, Qt::AlignBottom);

  auto* versionPlace = new QStackedLayout;
  versionPlace->setStackingMode(QStackedLayout::StackAll);
  versionPlace->addWidget(versionsPane);
  versionPlace->addWidget(ui_.versionChoiceGroup);
  versionPlace->setCurrentWidget(ui_.versionChoiceGroup);

  auto* times = new QHBoxLayout;
  times->setSpacing(6);
  times->addWidget(ui_.lbTimeAfterHead);
  times->addWidget(ui_.lbTimeAfter);
  times->addStretch(1);
  times->addWidget(ui_.lbTimeLostHead);
  times->addWidget(ui_.lbTimeLost);
  times->addStretch(1);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ui_.btnUpdateVer);
  buttons->addWidget(ui_.btnExit);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(10, 8, 10, 8);
  layout->setSpacing(4);
  layout->addLayout(versionPlace);
  layout->addLayout(times);
  layout->addWidget(ui_.lbError);
  layout->addStretch(1);
  layout->addWidget(ui_.reflashProgressBar);
  layout->addSpacing(2);
  layout->addLayout(buttons);

  connect(ui_.btnUpdateVer, &QPushButton::clicked, this, [this] { btnUpdateVerClick(); });
  connect(ui_.btnExit, &QPushButton::clicked, this, [this] { btnExitClick(); });
  connect(ui_.versionList, &QListWidget::itemSelectionChanged, this, [this] { ListBox1Click(); });
}

void TformUpdateIns::ApplySelection(const ReflashSelection& view) {
  const bool namesVisible = ui_.versionChoiceGroup->isHidden();
  ui_.lbCurrentVersion->setVisible(namesVisible);
  ui_.lbNewVersion->setVisible(namesVisible);
  if (view.OldName) ui_.lbCurrentVersion->setText(FromCp(*view.OldName));
  selectedImage_ = view.SelectedImage;
  // Most images have no type name; an empty caption would leave the system
  // to show the program file's name.
  setWindowTitle(view.Caption.empty() ? ProgramTitle() : FromCp(view.Caption));
  ui_.lbCurrentVersionHead->setText(FromCp(view.CurrentVersionLabel));
  ui_.lbNewVersion->setText(FromCp(view.NewName));
  ui_.reflashProgressBar->SetPartsComplete(0);
}

void TformUpdateIns::HideVersionChoice() { ui_.versionChoiceGroup->hide(); }

bool TformUpdateIns::VersionIsBootloader() const {
  const std::optional<DeviceIdentity> device = hooks_.Device ? hooks_.Device() : std::nullopt;
  return device && device->InBootloader();
}

void TformUpdateIns::btnUpdateVerClick() {
  const std::optional<DeviceIdentity> device = hooks_.Device ? hooks_.Device() : std::nullopt;
  if (!device) return;  // no connection
  flashState_ = TFlashState::Starting;
  ui_.reflashProgressBar->show();
  // Disabling the focused button would hand the focus on to the exit, and a
  // second press of the same key (a double press, a bouncing key) would
  // then stop the reflash it has just started. The focus goes where a key
  // does nothing, and the exit takes none while the reflash runs.
  ui_.lbError->setFocus(Qt::OtherFocusReason);
  ui_.btnExit->setFocusPolicy(Qt::NoFocus);
  // Nor may Enter press it as the dialog's default button.
  ui_.btnExit->setAutoDefault(false);
  ui_.btnExit->setDefault(false);
  ui_.btnUpdateVer->setEnabled(false);
  // A device that sits in its bootloader has nothing to go back to: the
  // reflash may not be left half way.
  ui_.btnExit->setEnabled(!device->InBootloader());
  ui_.btnExit->setText(Ru("Выйти без перепрошивки"));
  ShowStatus(QString(), Qt::black);
  for (QLabel* label : {ui_.lbTimeAfterHead, ui_.lbTimeAfter, ui_.lbTimeLostHead, ui_.lbTimeLost})
    label->show();
  const auto& images = catalogue_.ImageLines();
  reflashStart_ = hooks_.WallNow ? hooks_.WallNow() : std::chrono::system_clock::now();
  const bool started =
      selectedImage_ >= 0 && static_cast<std::size_t>(selectedImage_) < images.size() &&
      hooks_.StartReflash &&
      hooks_.StartReflash(images[static_cast<std::size_t>(selectedImage_)], *this, reflashStart_);
  if (!started) {
    ui_.btnUpdateVer->setEnabled(false);
    ui_.btnExit->setFocusPolicy(Qt::StrongFocus);
    ui_.btnExit->setAutoDefault(true);
    ui_.btnExit->setEnabled(true);
    flashState_ = TFlashState::Done;
    return;
  }
  elapsedTicker_->start();
}

void TformUpdateIns::ShowElapsedNow() {
  if (!hooks_.WallNow) return;
  ui_.lbTimeAfter->setText(FromCp(FormatDuration(ElapsedSeconds(hooks_.WallNow(), reflashStart_))));
}

bool AskToStopReflash(QWidget* parent, const QString& question) {
  QMessageBox box(QMessageBox::Warning, parent != nullptr ? parent->windowTitle() : QString(), question,
                  QMessageBox::NoButton, parent);
  box.setObjectName(QStringLiteral("stopQuestion"));
  QPushButton* stop = box.addButton(Ru("Прервать перепрошивку"), QMessageBox::DestructiveRole);
  QPushButton* goOn = box.addButton(Ru("Продолжить перепрошивку"), QMessageBox::RejectRole);
  // A stray key goes on with the reflash.
  box.setDefaultButton(goOn);
  box.setEscapeButton(goOn);
  goOn->setFocus();
  box.exec();
  return box.clickedButton() == stop;
}

bool TformUpdateIns::StopConfirmed() {
  const QString question =
      Ru("Перепрошивка ещё не завершена. Если прервать её сейчас, устройство останется в режиме "
         "перепрошивки без прошивки, и его придётся перепрошить заново.\n\nПрервать перепрошивку?");
  return hooks_.ConfirmStop ? hooks_.ConfirmStop(question) : AskToStopReflash(this, question);
}

void TformUpdateIns::btnExitClick() {
  const auto workerRunning = [this] { return hooks_.ReflashRunning && hooks_.ReflashRunning(); };
  if (flashState_ != TFlashState::Idle && workerRunning()) {
    // Stopping leaves the device without firmware: only on the user's word.
    if (!StopConfirmed()) return;
    // It may have ended while the question was open: its outcome stays to
    // be read, and the next press leaves.
    if (!workerRunning()) return;
  }
  if (hooks_.StartDisconnectTimer) hooks_.StartDisconnectTimer();
  const bool stopping = flashState_ != TFlashState::Idle && workerRunning() && hooks_.StopReflash;
  if (stopping) hooks_.StopReflash();
  switch (flashState_) {
    case TFlashState::Idle: {
      const bool bootloader = VersionIsBootloader();
      const bool connected = hooks_.Device && hooks_.Device().has_value();
      if (hooks_.EnableMain) hooks_.EnableMain();
      CloseFromExit();
      // Without a controller there is no UnlockUi to ask: unlock directly, or
      // the main window would stay locked.
      if (!connected || bootloader) {
        if (hooks_.UnlockMainControls) hooks_.UnlockMainControls();
      } else if (hooks_.UnlockUi) {
        hooks_.UnlockUi();
      }
      break;
    }
    case TFlashState::Running:
      ui_.btnExit->setEnabled(false);
      [[fallthrough]];
    case TFlashState::Done:
      if (hooks_.EnableMain) hooks_.EnableMain();
      if (hooks_.UnlockMainControls) hooks_.UnlockMainControls();
      if (hooks_.SetVersionPane) hooks_.SetVersionPane(QString());
      CloseFromExit();
      break;
    case TFlashState::Starting:
      // The worker is being created; the window stays until it runs.
      break;
  }
}

void TformUpdateIns::ConnectionClosed() {
  if (flashState_ != TFlashState::Idle || !isVisible()) return;
  ui_.btnUpdateVer->setEnabled(false);
  ui_.btnExit->setEnabled(true);
  ui_.btnExit->setFocus();
  ShowStatus(FromCp(LinkLostText()) + Ru(". Перепрошивка невозможна."), QColor(255, 0, 0));
  FitToScreen();
}

void TformUpdateIns::ShowStatus(const QString& text, const QColor& colour) {
  ui_.lbError->setText(text);
  SetTextColour(ui_.lbError, colour);
}

void TformUpdateIns::MarkRunning() { flashState_ = TFlashState::Running; }

void TformUpdateIns::ShowCurrentVersion(const QString& text) {
  ui_.lbCurrentVersion->setText(text);
  if (hooks_.SetVersionPane) hooks_.SetVersionPane(text);
}

void TformUpdateIns::ShowFailure(const ReflashReport& report) {
  if (flashState_ != TFlashState::Running) return;
  elapsedTicker_->stop();
  ShowStatus(FromCp(ReflashFailureText(report)), QColor(255, 0, 0));
  // The version read before is no longer what the device holds once the
  // reflash has reached it.
  switch (report.device) {
    case DeviceAfter::Unchanged:
      break;
    case DeviceAfter::InBootloader:
      ShowCurrentVersion(Ru("режим перепрошивки"));
      break;
    case DeviceAfter::Erased:
      ShowCurrentVersion(Ru("нет (память стёрта)"));
      break;
    case DeviceAfter::Committing:
    case DeviceAfter::Written:
      ShowCurrentVersion(Ru("неизвестна"));
      break;
  }
  // The time it took stays; an estimate of the time to go would promise an
  // end that will not come.
  ui_.lbTimeLostHead->hide();
  ui_.lbTimeLost->hide();
  ui_.lbTimeLost->clear();
  ui_.btnUpdateVer->setEnabled(false);
  // Nothing is left "without reflashing" once the device has been reached.
  ui_.btnExit->setText(report.device == DeviceAfter::Unchanged ? Ru("Выйти без перепрошивки")
                                                               : Ru("Закрыть"));
  ui_.btnExit->setFocusPolicy(Qt::StrongFocus);
  ui_.btnExit->setAutoDefault(true);
  ui_.btnExit->setEnabled(true);
  ui_.btnExit->setFocus();
  FitToScreen();
}

void TformUpdateIns::ShowStage(ReflashStage stage) { ShowStatus(FromCp(StageText(stage)), Qt::black); }

void TformUpdateIns::ShowProgress(std::int32_t total, std::int32_t partsComplete) {
  ui_.reflashProgressBar->SetTotalParts(total);
  ui_.reflashProgressBar->SetPartsComplete(partsComplete);
}

void TformUpdateIns::ShowElapsed(const std::string& text) { ui_.lbTimeAfter->setText(FromCp(text)); }

void TformUpdateIns::ShowRemaining(const std::string& text) { ui_.lbTimeLost->setText(FromCp(text)); }

void TformUpdateIns::DisableExit() { ui_.btnExit->setEnabled(false); }

void TformUpdateIns::ShowSuccess(const ReflashReport& report) {
  elapsedTicker_->stop();
  flashState_ = TFlashState::Done;
  ui_.btnUpdateVer->setEnabled(false);
  ui_.lbNewVersionHead->hide();
  ui_.lbNewVersion->hide();
  ui_.btnExit->setText(Ru("Завершить перепрошивку"));
  ui_.btnExit->setFocusPolicy(Qt::StrongFocus);
  ui_.btnExit->setAutoDefault(true);
  ui_.btnExit->setEnabled(true);
  ui_.btnExit->setFocus();
  // The current version is what the device names, never what was offered.
  switch (report.check) {
    case VersionCheck::Verified:
      ShowCurrentVersion(FromCp(report.versionAfter));
      ShowStatus(FromCp(ReflashSucceededText()), QColor(0, 128, 0));
      break;
    case VersionCheck::OtherVersion:
      ShowCurrentVersion(FromCp(report.versionAfter));
      ShowStatus(FromCp(VersionCheckText(report) + " " + ReflashAdviceText(report)), QColor(192, 96, 0));
      break;
    case VersionCheck::NoAnswer:
      ShowCurrentVersion(Ru("неизвестна"));
      ShowStatus(FromCp(VersionCheckText(report) + " " + ReflashAdviceText(report)), QColor(192, 96, 0));
      break;
    case VersionCheck::NotAsked:
      // Written whole, not asked: the image's version is all there is.
      ShowCurrentVersion(ui_.lbNewVersion->text());
      ShowStatus(FromCp(ReflashSucceededText()), QColor(0, 128, 0));
      break;
  }
  FitToScreen();
}

void TformUpdateIns::FitToScreen() {
  // The status line wraps; the window grows to show it whole and never
  // beyond its screen.
  QScreen* screen = this->screen();
  const QRect available = screen != nullptr ? screen->availableGeometry() : QRect(0, 0, 4096, 4096);
  const int frameExtraW = frameGeometry().width() - width();
  const int frameExtraH = frameGeometry().height() - height();
  const int width = std::min(kWindowClientWidth, available.width() - frameExtraW);
  layout()->activate();
  const int wanted =
      layout()->hasHeightForWidth() ? layout()->totalHeightForWidth(width) : sizeHint().height();
  const int height = std::min(std::max(kWindowClientHeight, wanted), available.height() - frameExtraH);
  setFixedSize(width, height);
  QRect frame = frameGeometry();
  if (!available.contains(frame)) {
    frame.moveLeft(std::clamp(frame.left(), available.left(), available.right() - frame.width() + 1));
    frame.moveTop(std::clamp(frame.top(), available.top(), available.bottom() - frame.height() + 1));
    move(frame.topLeft());
  }
}

void TformUpdateIns::ListBox1Click() {
  ui_.chooseVersionButton->setEnabled(!ui_.versionList->selectedItems().isEmpty());
}

void TformUpdateIns::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous()) return;
  if (!centreOn_.isNull() && centreOn_->isVisible()) {
    QRect frame = frameGeometry();
    frame.moveCenter(centreOn_->frameGeometry().center());
    move(frame.topLeft());
    // Stacks above the main window without being its child.
    if (windowHandle() != nullptr && centreOn_->windowHandle() != nullptr) {
      windowHandle()->setTransientParent(centreOn_->windowHandle());
    }
  } else {
    CentreOnScreen(*this);
  }
  FormShow();
}

void TformUpdateIns::FormShow() {
  elapsedTicker_->stop();
  flashState_ = TFlashState::Idle;
  ListBox1Click();
  if (hooks_.LockMain) hooks_.LockMain();
  ui_.btnUpdateVer->setEnabled(true);
  ui_.btnUpdateVer->setFocus();
  ui_.btnExit->setFocusPolicy(Qt::StrongFocus);
  ui_.btnExit->setAutoDefault(true);
  ui_.btnExit->setEnabled(true);
  ui_.btnExit->setText(Ru("Выйти без перепрошивки"));
  for (QLabel* label : {ui_.lbTimeAfterHead, ui_.lbTimeAfter, ui_.lbTimeLostHead, ui_.lbTimeLost})
    label->hide();
  ui_.reflashProgressBar->SetPartsComplete(0);
  ui_.lbNewVersionHead->show();
  ui_.lbNewVersion->show();
  ShowStatus(QString(), Qt::black);
  FitToScreen();
}

void TformUpdateIns::closeEvent(QCloseEvent* event) {
  // The title bar has no close box, and the system's close command must not
  // bypass the exit button either.
  event->ignore();
}

void TformUpdateIns::CloseFromExit() {
  elapsedTicker_->stop();
  done(QDialog::Accepted);
}

}  // namespace tarvik
