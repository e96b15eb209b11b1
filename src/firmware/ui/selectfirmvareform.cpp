#include "firmware/ui/selectfirmvareform.h"

#include <QApplication>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QVBoxLayout>
#include <algorithm>

#include "common/ui/placement.h"
#include "common/ui/qtext.h"
#include "firmware/ui/dialogfont.h"

namespace tarvik {

namespace {
constexpr int kImageIndexRole = Qt::UserRole;
constexpr QSize kDesignedSize(306, 337);
// What a title bar takes beside its caption: the window's icon, up to three
// buttons and the margins between them.
constexpr int kTitleBarReserve = 130;

// Wide enough for the system to show the whole caption, which it draws in
// its own font (bold on many desktops) and cuts where it does not fit.
int WidthForCaption(const QString& caption) {
  QFont font = QApplication::font("QMdiSubWindowTitleBar");
  font.setBold(true);
  return QFontMetrics(font).horizontalAdvance(caption) + kTitleBarReserve;
}
}  // namespace

TSelectFirmvareForm::TSelectFirmvareForm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("SelectFirmvareForm"));
  setWindowTitle(Ru("Укажите предпочитаемую прошивку"));
  setFont(ChoiceDialogFont());

  ui_.currentVersionLabel = new QLabel(Ru("Текущая версия прошивки:"), this);
  ui_.currentVersionLabel->setObjectName(QStringLiteral("currentVersionLabel"));
  ui_.currentVersionLabel->setAlignment(Qt::AlignCenter);

  ui_.notReleaseLabel =
      new QLabel(QStringLiteral("Внимание:\nПодключенное устройство опознано системой, однако его прошивка "
                                "СКОРЕЕ ВСЕГО не является релизной."),
                 this);
  ui_.notReleaseLabel->setObjectName(QStringLiteral("notReleaseLabel"));
  ui_.notReleaseLabel->setAlignment(Qt::AlignCenter);
  ui_.notReleaseLabel->setWordWrap(true);
  ui_.notReleaseLabel->setMinimumHeight(3 * ui_.notReleaseLabel->fontMetrics().lineSpacing());
  ui_.notReleaseLabel->hide();

  ui_.imageList = new QListWidget(this);
  ui_.imageList->setObjectName(QStringLiteral("imageList"));

  ui_.flashButton = new QPushButton(Ru("Прошить"), this);
  ui_.flashButton->setObjectName(QStringLiteral("flashButton"));
  ui_.flashButton->setDefault(true);
  ui_.cancelButton = new QPushButton(Ru("Отмена"), this);
  ui_.cancelButton->setObjectName(QStringLiteral("cancelButton"));
  ui_.cancelButton->setAutoDefault(false);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ui_.flashButton);
  buttons->addWidget(ui_.cancelButton);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 8, 8, 8);
  layout->addWidget(ui_.currentVersionLabel);
  layout->addWidget(ui_.notReleaseLabel);
  layout->addWidget(ui_.imageList, 1);
  layout->addLayout(buttons);

  resize(std::max(kDesignedSize.width(), WidthForCaption(windowTitle())), kDesignedSize.height());

  connect(ui_.flashButton, &QPushButton::clicked, this, [this] { Button2Click(); });
  connect(ui_.cancelButton, &QPushButton::clicked, this, &QDialog::reject);
  // A double-click only records the line; the user still confirms or cancels.
  connect(ui_.imageList, &QListWidget::itemDoubleClicked, this,
          [this](QListWidgetItem* item) { ChosenImage = item->data(kImageIndexRole).toInt(); });
}

void TSelectFirmvareForm::SetVersion(const std::string& versionText, const std::vector<ImageChoice>& items) {
  version_ = versionText;
  ui_.imageList->clear();
  for (const ImageChoice& item : items) {
    auto* line = new QListWidgetItem(FromCp(item.Text), ui_.imageList);
    line->setData(kImageIndexRole, item.ImageIndex);
  }
  ui_.currentVersionLabel->setText(Ru("Текущая версия прошивки: %1").arg(FromCp(versionText)));
}

void TSelectFirmvareForm::SetNotRelease(bool notRelease) {
  notRelease_ = notRelease;
  ui_.notReleaseLabel->setVisible(notRelease);
}

void TSelectFirmvareForm::Button2Click() {
  const QList<QListWidgetItem*> selected = ui_.imageList->selectedItems();
  ChosenImage = selected.isEmpty() ? -1 : selected.front()->data(kImageIndexRole).toInt();
  accept();
}

void TSelectFirmvareForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous()) return;
  CentreOnScreen(*this);
}

}  // namespace tarvik
