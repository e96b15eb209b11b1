#include "outqueue/ui/statuspane.h"

namespace tarvik {

StatusPane::StatusPane(const QString& text, int width, Qt::Alignment alignment, QWidget* parent)
    : QLabel(text, parent) {
  setFixedWidth(width);
  setAlignment(alignment | Qt::AlignVCenter);
  setFrameStyle(QFrame::Panel | QFrame::Sunken);
  setTextFormat(Qt::PlainText);
}

}  // namespace tarvik
