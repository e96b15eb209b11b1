#include "app/formabout.h"

#include <QLabel>
#include <QPushButton>

#include "app/pictures.h"
#include "common/ui/qtext.h"

namespace tarvik {
namespace {

constexpr const char* kWebAddress = "tarvik.example";

}  // namespace

TFormAbout::TFormAbout(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
  setObjectName(QStringLiteral("FormAbout"));
  setWindowTitle(Ru("О программе"));
  setFixedSize(269, 225);
  QFont small = font();
  small.setPointSizeF(small.pointSizeF() * 0.85);
  setFont(small);

  image1_ = new QLabel(this);
  image1_->setObjectName(QStringLiteral("Image1"));
  image1_->setGeometry(0, 0, 269, 129);
  image1_->setAlignment(Qt::AlignCenter);
  image1_->setPixmap(AboutBanner(269, 129));

  rzUrlLabel1_ = new QLabel(this);
  rzUrlLabel1_->setObjectName(QStringLiteral("RzURLLabel1"));
  rzUrlLabel1_->setGeometry(72, 135, 121, 24);
  rzUrlLabel1_->setAlignment(Qt::AlignCenter);
  const QString highlight = palette().color(QPalette::Highlight).name();
  rzUrlLabel1_->setTextFormat(Qt::RichText);
  rzUrlLabel1_->setText(
      QStringLiteral(
          "<a href=\"https://%1/\" style=\"color:%2; font-weight:bold; text-decoration:underline\">%1</a>")
          .arg(QString::fromLatin1(kWebAddress), highlight));
  rzUrlLabel1_->setOpenExternalLinks(true);

  rzLabel2_ = new QLabel(this);
  rzLabel2_->setObjectName(QStringLiteral("RzLabel2"));
  rzLabel2_->setGeometry(8, 165, 168, 56);
  rzLabel2_->setText(QString::fromUtf8(
      "Сервисная служба «Тарвик»\nРоссия\nтел. +7 (000) 000-00-00\nтел. +7 (000) 000-00-01"));

  okButton_ = new QPushButton(QStringLiteral("OK"), this);
  okButton_->setObjectName(QStringLiteral("OkButton"));
  okButton_->setGeometry(180, 192, 81, 25);
  okButton_->setDefault(true);
  connect(okButton_, &QPushButton::clicked, this, &TFormAbout::OkButtonClick);
}

void TFormAbout::OkButtonClick() { hide(); }

}  // namespace tarvik
