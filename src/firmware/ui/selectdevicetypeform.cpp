#include "firmware/ui/selectdevicetypeform.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QVBoxLayout>

#include "common/ui/qtext.h"
#include "firmware/ui/dialogfont.h"

namespace tarvik {

TSelectDeviceTypeForm::TSelectDeviceTypeForm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("SelectDeviceTypeForm"));
  setWindowTitle(Ru("Тип"));
  setFont(ChoiceDialogFont());

  Label1 = new QLabel(
      Ru("Подключенное устройство находится в процедуре перепрошивки. Укажите тип устройства:"), this);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setAlignment(Qt::AlignCenter);
  Label1->setWordWrap(true);

  DeviceListBox = new QListWidget(this);
  DeviceListBox->setObjectName(QStringLiteral("DeviceListBox"));

  OkButton = new QPushButton(Ru("Выбрать"), this);
  OkButton->setObjectName(QStringLiteral("OkButton"));
  OkButton->setDefault(true);
  CancelButton = new QPushButton(Ru("Отмена"), this);
  CancelButton->setObjectName(QStringLiteral("CancelButton"));
  CancelButton->setAutoDefault(false);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(OkButton);
  buttons->addWidget(CancelButton);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 8, 8, 8);
  layout->addWidget(Label1);
  layout->addWidget(DeviceListBox, 1);
  layout->addLayout(buttons);

  resize(233, 247);

  connect(OkButton, &QPushButton::clicked, this, &QDialog::accept);
  connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

void TSelectDeviceTypeForm::SetNames(const std::vector<std::string>& names) {
  DeviceListBox->clear();
  for (const std::string& name : names) {
    // The names are longer than the narrow list is wide.
    auto* line = new QListWidgetItem(FromCp(name), DeviceListBox);
    line->setToolTip(line->text());
  }
}

int TSelectDeviceTypeForm::ShowModalWithNames(const std::vector<std::string>& names) {
  SetNames(names);
  return exec();
}

int TSelectDeviceTypeForm::SelectedIndex() const {
  const QList<QListWidgetItem*> selected = DeviceListBox->selectedItems();
  return selected.isEmpty() ? -1 : DeviceListBox->row(selected.front());
}

void TSelectDeviceTypeForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous()) return;
  if (QScreen* shown = screen()) {
    QRect frame = frameGeometry();
    frame.moveCenter(shown->availableGeometry().center());
    move(frame.topLeft());
  }
}

}  // namespace tarvik
