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
  infoList_ = new QListWidget(this);
  infoList_->setObjectName(QStringLiteral("InfoList"));
  layout->addWidget(infoList_);
}

void TInfoForm::showEvent(QShowEvent* event) {
  // Spontaneous show events come from the window system (a restore from the
  // task bar); only a show from hidden rebuilds the list.
  if (!event->spontaneous()) FormShow();
  QDialog::showEvent(event);
}

void TInfoForm::FormShow() {
  infoList_->clear();
  if (filler_) filler_(*infoList_);
}

}  // namespace tarvik
