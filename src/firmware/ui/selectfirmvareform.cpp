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

  ui_.Label1 = new QLabel(Ru("Текущая версия прошивки:"), this);
  ui_.Label1->setObjectName(QStringLiteral("Label1"));
  ui_.Label1->setAlignment(Qt::AlignCenter);

  ui_.Label2 =
      new QLabel(QStringLiteral("Внимание:\nПодключенное устройство опознано системой, однако его прошивка "
                                "СКОРЕЕ ВСЕГО не является релизной."),
                 this);
  ui_.Label2->setObjectName(QStringLiteral("Label2"));
  ui_.Label2->setAlignment(Qt::AlignCenter);
  ui_.Label2->setWordWrap(true);
  ui_.Label2->setMinimumHeight(3 * ui_.Label2->fontMetrics().lineSpacing());
  ui_.Label2->hide();

  ui_.ListBox1 = new QListWidget(this);
  ui_.ListBox1->setObjectName(QStringLiteral("ListBox1"));

  ui_.Button2 = new QPushButton(Ru("Прошить"), this);
  ui_.Button2->setObjectName(QStringLiteral("Button2"));
  ui_.Button2->setDefault(true);
  ui_.Button1 = new QPushButton(Ru("Отмена"), this);
  ui_.Button1->setObjectName(QStringLiteral("Button1"));
  ui_.Button1->setAutoDefault(false);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ui_.Button2);
  buttons->addWidget(ui_.Button1);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 8, 8, 8);
  layout->addWidget(ui_.Label1);
  layout->addWidget(ui_.Label2);
  layout->addWidget(ui_.ListBox1, 1);
  layout->addLayout(buttons);

  resize(std::max(kDesignedSize.width(), WidthForCaption(windowTitle())), kDesignedSize.height());

  connect(ui_.Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
  connect(ui_.Button1, &QPushButton::clicked, this, &QDialog::reject);
  // A double-click only records the line; the user still confirms or cancels.
  connect(ui_.ListBox1, &QListWidget::itemDoubleClicked, this,
          [this](QListWidgetItem* item) { ChosenImage = item->data(kImageIndexRole).toInt(); });
}

void TSelectFirmvareForm::SetVersion(const std::string& versionText, const std::vector<ImageChoice>& items) {
  version_ = versionText;
  ui_.ListBox1->clear();
  for (const ImageChoice& item : items) {
    auto* line = new QListWidgetItem(FromCp(item.Text), ui_.ListBox1);
    line->setData(kImageIndexRole, item.ImageIndex);
  }
  ui_.Label1->setText(Ru("Текущая версия прошивки: %1").arg(FromCp(versionText)));
}

void TSelectFirmvareForm::SetNotRelease(bool notRelease) {
  notRelease_ = notRelease;
  ui_.Label2->setVisible(notRelease);
}

void TSelectFirmvareForm::Button2Click() {
  const QList<QListWidgetItem*> selected = ui_.ListBox1->selectedItems();
  ChosenImage = selected.isEmpty() ? -1 : selected.front()->data(kImageIndexRole).toInt();
  accept();
}

void TSelectFirmvareForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous()) return;
  CentreOnScreen(*this);
}

}  // namespace tarvik
