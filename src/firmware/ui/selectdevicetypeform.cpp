#include "firmware/ui/selectdevicetypeform.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QShowEvent>
#include <QVBoxLayout>

#include "common/ui/placement.h"
#include "common/ui/qtext.h"
#include "firmware/ui/dialogfont.h"

namespace tarvik {

TSelectDeviceTypeForm::TSelectDeviceTypeForm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("SelectDeviceTypeForm"));
  setWindowTitle(Ru("Тип"));
  setFont(ChoiceDialogFont());

  ui_.promptLabel = new QLabel(
      Ru("Подключенное устройство находится в процедуре перепрошивки. Укажите тип устройства:"), this);
  ui_.promptLabel->setObjectName(QStringLiteral("promptLabel"));
  ui_.promptLabel->setAlignment(Qt::AlignCenter);
  ui_.promptLabel->setWordWrap(true);

  ui_.DeviceListBox = new QListWidget(this);
  ui_.DeviceListBox->setObjectName(QStringLiteral("DeviceListBox"));

  ui_.OkButton = new QPushButton(Ru("Выбрать"), this);
  ui_.OkButton->setObjectName(QStringLiteral("OkButton"));
  ui_.OkButton->setDefault(true);
  ui_.CancelButton = new QPushButton(Ru("Отмена"), this);
  ui_.CancelButton->setObjectName(QStringLiteral("CancelButton"));
  ui_.CancelButton->setAutoDefault(false);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ui_.OkButton);
  buttons->addWidget(ui_.CancelButton);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 8, 8, 8);
  layout->addWidget(ui_.promptLabel);
  layout->addWidget(ui_.DeviceListBox, 1);
  layout->addLayout(buttons);

  resize(233, 247);

  connect(ui_.OkButton, &QPushButton::clicked, this, &QDialog::accept);
  connect(ui_.CancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

void TSelectDeviceTypeForm::SetNames(const std::vector<std::string>& names) {
  ui_.DeviceListBox->clear();
  for (const std::string& name : names) {
    auto* line = new QListWidgetItem(FromCp(name), ui_.DeviceListBox);
    line->setToolTip(line->text());
  }
  // The names are longer than the designed list is wide: the dialog grows
  // so each is read whole.
  QListWidget* list = ui_.DeviceListBox;
  const int needed = list->sizeHintForColumn(0) + 2 * list->frameWidth() +
                     list->verticalScrollBar()->sizeHint().width() + layout()->contentsMargins().left() +
                     layout()->contentsMargins().right() + 4;
  if (needed > width()) resize(needed, height());
}

int TSelectDeviceTypeForm::ShowModalWithNames(const std::vector<std::string>& names) {
  SetNames(names);
  return exec();
}

int TSelectDeviceTypeForm::SelectedIndex() const {
  const QList<QListWidgetItem*> selected = ui_.DeviceListBox->selectedItems();
  return selected.isEmpty() ? -1 : ui_.DeviceListBox->row(selected.front());
}

void TSelectDeviceTypeForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous()) return;
  CentreOnScreen(*this);
}

}  // namespace tarvik
