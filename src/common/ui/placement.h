#pragma once
// Where a dialog opens.
class QWidget;

namespace tarvik {

// Moves the window so its frame is centred on the available area of the
// screen it is on.
void CentreOnScreen(QWidget& window);

}  // namespace tarvik
