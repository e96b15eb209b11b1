#include "reflash/ui/formupdateins.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QStackedLayout>
#include <QVBoxLayout>
#include <QWindow>

#include "common/text.h"
#include "common/ui/qtext.h"
#include "reflash/ui/partsprogressbar.h"

namespace tarvik {

namespace {

constexpr int kClientWidth = 687;
constexpr int kClientHeight = 178;

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
  setWindowTitle(QStringLiteral("Перепрошивка панели"));
  setFixedSize(kClientWidth, kClientHeight);

  auto* versionsPane = new QWidget(this);
  Label2 = NewLabel(QStringLiteral("Текущая версия прошивки панели:"), "Label2", versionsPane);
  lbOldName = NewLabel(QString(), "lbOldName", versionsPane);
  MakeBold(lbOldName, 5);
  Label1 = NewLabel(QStringLiteral("Доступна следующая версия для перепрошивки:"), "Label1", versionsPane);
  lbNewName = NewLabel(QString(), "lbNewName", versionsPane);
  MakeBold(lbNewName, 5);

  lbTimeAfterHead = NewLabel(QStringLiteral("Времени прошло:"), "lbTimeAfterHead", this);
  lbTimeAfter = NewLabel(QString(), "lbTimeAfter", this);
  lbTimeLostHead = NewLabel(QStringLiteral("Времени осталось:"), "lbTimeLostHead", this);
  lbTimeLost = NewLabel(QString(), "lbTimeLost", this);
  for (QLabel* label : {lbTimeAfterHead, lbTimeAfter, lbTimeLostHead, lbTimeLost}) {
    KeepPlaceWhenHidden(label);
    label->hide();
  }

  lbError = NewLabel(QString(), "lbError", this);
  MakeBold(lbError, 2);
  lbError->setMinimumHeight(lbError->fontMetrics().height());

  RzProgressBar1 = new TPartsProgressBar(this);
  RzProgressBar1->setObjectName(QStringLiteral("RzProgressBar1"));

  btnUpdateVer = new QPushButton(QStringLiteral("Перепрошить"), this);
  btnUpdateVer->setObjectName(QStringLiteral("btnUpdateVer"));
  btnExit = new QPushButton(QStringLiteral("Выйти без перепрошивки"), this);
  btnExit->setObjectName(QStringLiteral("btnExit"));
  for (QPushButton* button : {btnUpdateVer, btnExit}) {
    button->setAutoDefault(false);
    button->setMinimumWidth(button->sizeHint().width() + 24);
  }

  // The two version rows and the version choice share one place; the
  // choice, when shown, lies over the rows.
  auto* versions = new QGridLayout(versionsPane);
  versions->setContentsMargins(0, 0, 0, 0);
  versions->setHorizontalSpacing(12);
  versions->setVerticalSpacing(2);
  versions->addWidget(Label2, 0, 0);
  versions->addWidget(lbOldName, 0, 1);
  versions->addWidget(Label1, 1, 0);
  versions->addWidget(lbNewName, 1, 1);
  versions->setColumnStretch(1, 1);

  RzGroupBox1 = new QGroupBox(QStringLiteral("Выберете версию для перепрошивки устройства"), this);
  RzGroupBox1->setObjectName(QStringLiteral("RzGroupBox1"));
  RzGroupBox1->setAutoFillBackground(true);
  // The rows set the height; the choice only covers them.
  RzGroupBox1->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
  ListBox1 = new QListWidget(RzGroupBox1);
  ListBox1->setObjectName(QStringLiteral("ListBox1"));
  Button1 = new QPushButton(QStringLiteral("&Ok"), RzGroupBox1);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button1->setAutoDefault(false);
  auto* choice = new QHBoxLayout(RzGroupBox1);
  choice->setContentsMargins(6, 2, 6, 4);
  choice->addWidget(ListBox1, 1);
  choice->addWidget(Button1, 0, Qt::AlignBottom);

  auto* versionPlace = new QStackedLayout;
  versionPlace->setStackingMode(QStackedLayout::StackAll);
  versionPlace->addWidget(versionsPane);
  versionPlace->addWidget(RzGroupBox1);
  versionPlace->setCurrentWidget(RzGroupBox1);

  auto* times = new QHBoxLayout;
  times->setSpacing(6);
  times->addWidget(lbTimeAfterHead);
  times->addWidget(lbTimeAfter);
  times->addStretch(1);
  times->addWidget(lbTimeLostHead);
  times->addWidget(lbTimeLost);
  times->addStretch(1);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(btnUpdateVer);
  buttons->addWidget(btnExit);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(10, 8, 10, 8);
  layout->setSpacing(4);
  layout->addLayout(versionPlace);
  layout->addLayout(times);
  layout->addWidget(lbError);
  layout->addStretch(1);
  layout->addWidget(RzProgressBar1);
  layout->addSpacing(2);
  layout->addLayout(buttons);

  connect(btnUpdateVer, &QPushButton::clicked, this, [this] { btnUpdateVerClick(); });
  connect(btnExit, &QPushButton::clicked, this, [this] { btnExitClick(); });
  connect(ListBox1, &QListWidget::itemSelectionChanged, this, [this] { ListBox1Click(); });
}

void TformUpdateIns::ApplySelection(const ReflashSelection& view) {
  const bool namesVisible = RzGroupBox1->isHidden();
  lbOldName->setVisible(namesVisible);
  lbNewName->setVisible(namesVisible);
  if (view.OldName) lbOldName->setText(FromCp(*view.OldName));
  selectedImage_ = view.SelectedImage;
  setWindowTitle(FromCp(view.Caption));
  Label2->setText(FromCp(view.CurrentVersionLabel));
  lbNewName->setText(FromCp(view.NewName));
  RzProgressBar1->SetPartsComplete(0);
}

void TformUpdateIns::HideVersionChoice() { RzGroupBox1->hide(); }

void TformUpdateIns::btnUpdateVerClick() {
  // The reflash run is started from here once the reflash worker exists.
}

void TformUpdateIns::btnExitClick() {
  if (hooks_.StartTimer2) hooks_.StartTimer2();
  // Leaving a started reflash has to stop its worker first; that belongs to
  // the reflash run, so only the window that never started one closes here.
  if (flashState_ != TFlashState::Idle) return;
  if (hooks_.EnableMain) hooks_.EnableMain();
  CloseFromExit();
  const std::optional<std::string> line = hooks_.VersionLine ? hooks_.VersionLine() : std::nullopt;
  // Without a controller there is no UnlockUi to ask: unlock directly, or the
  // main window would stay locked.
  if (!line || Contains(*line, "BootLdr")) {
    if (hooks_.UnlockMainControls) hooks_.UnlockMainControls();
  } else if (hooks_.UnlockUi) {
    hooks_.UnlockUi();
  }
}

void TformUpdateIns::ListBox1Click() { Button1->setEnabled(!ListBox1->selectedItems().isEmpty()); }

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
  } else if (QScreen* shown = screen()) {
    QRect frame = frameGeometry();
    frame.moveCenter(shown->availableGeometry().center());
    move(frame.topLeft());
  }
  FormShow();
}

void TformUpdateIns::FormShow() {
  flashState_ = TFlashState::Idle;
  ListBox1Click();
  if (hooks_.LockMain) hooks_.LockMain();
  btnUpdateVer->setEnabled(true);
  btnUpdateVer->setFocus();
  btnExit->setEnabled(true);
  btnExit->setText(QStringLiteral("Выйти без перепрошивки"));
  for (QLabel* label : {lbTimeAfterHead, lbTimeAfter, lbTimeLostHead, lbTimeLost}) label->hide();
  RzProgressBar1->SetPartsComplete(0);
  Label1->show();
  lbNewName->show();
  lbError->clear();
  SetTextColour(lbError, Qt::black);
}

void TformUpdateIns::closeEvent(QCloseEvent* event) {
  // The title bar has no close box, and the system's close command must not
  // bypass the exit button either.
  event->ignore();
}

void TformUpdateIns::CloseFromExit() { done(QDialog::Accepted); }

}  // namespace tarvik
