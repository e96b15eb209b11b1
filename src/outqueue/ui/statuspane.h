#pragma once
// One panel of the main window's status bar. A label of its own class, so the
// appliers can tell a panel (whose text is whatever word it receives) from an
// ordinary label (which also knows enable, disable and repaint words).
#include <QLabel>

namespace tarvik {

class StatusPane : public QLabel {
  Q_OBJECT
 public:
  StatusPane(const QString& text, int width, Qt::Alignment alignment, QWidget* parent = nullptr);
};

}  // namespace tarvik
