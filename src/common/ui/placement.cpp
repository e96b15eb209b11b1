#include "common/ui/placement.h"

#include <QScreen>
#include <QWidget>

namespace tarvik {

void CentreOnScreen(QWidget& window) {
  QScreen* shown = window.screen();
  if (shown == nullptr) return;
  QRect frame = window.frameGeometry();
  frame.moveCenter(shown->availableGeometry().center());
  window.move(frame.topLeft());
}

}  // namespace tarvik
