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
  QPushButton* Button1() const { return button1_; }

 private:
  void Button1Click();

  QLabel* image1_ = nullptr;
  QLabel* rzUrlLabel1_ = nullptr;
  QLabel* rzLabel2_ = nullptr;
  QPushButton* button1_ = nullptr;
};

}  // namespace tarvik
