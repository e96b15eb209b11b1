#include "app/infoform.h"

#include <QListWidget>
#include <QShowEvent>
#include <QVBoxLayout>

#include "common/ui/qtext.h"

namespace tarvik {

TInfoForm::TInfoForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
  setObjectName(QStringLiteral("InfoForm"));
  setWindowTitle(Ru("Информация"));
  setFixedSize(279, 374);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  listBox1_ = new QListWidget(this);
  listBox1_->setObjectName(QStringLiteral("ListBox1"));
  layout->addWidget(listBox1_);
}

void TInfoForm::showEvent(QShowEvent* event) {
  // Spontaneous show events come from the window system (a restore from the
  // task bar); only a show from hidden rebuilds the list.
  if (!event->spontaneous()) FormShow();
  QDialog::showEvent(event);
}

void TInfoForm::FormShow() {
  listBox1_->clear();
  if (filler_) filler_(*listBox1_);
}

}  // namespace tarvik
