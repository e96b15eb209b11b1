#include "outqueue/ui/statuspane.h"

namespace tarvik {

StatusPane::StatusPane(const QString& text, int width, Qt::Alignment alignment, QWidget* parent)
    : QLabel(text, parent) {
  // The designed width, or more when a text needs it (a long port name).
  setMinimumWidth(width);
  setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Preferred);
  setAlignment(alignment | Qt::AlignVCenter);
  setFrameStyle(QFrame::Panel | QFrame::Sunken);
  setTextFormat(Qt::PlainText);
}

}  // namespace tarvik
