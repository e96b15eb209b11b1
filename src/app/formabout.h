#pragma once
// The About window: a picture, the web link and the maker's lines.
#include <QDialog>

class QLabel;
class QPushButton;

namespace tarvik {

class TFormAbout : public QDialog {
  Q_OBJECT
 public:
  explicit TFormAbout(QWidget* parent = nullptr);
  QPushButton* OkButton() const { return okButton_; }

 private:
  void OkButtonClick();

  QLabel* image1_ = nullptr;
  QLabel* rzUrlLabel1_ = nullptr;
  QLabel* rzLabel2_ = nullptr;
  QPushButton* okButton_ = nullptr;
};

}  // namespace tarvik
