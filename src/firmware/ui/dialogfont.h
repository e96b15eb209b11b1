#pragma once
// The font of the two choice dialogs: Tahoma 8 pt, or the closest sans-serif
// face where Tahoma is not installed.
#include <QFont>

namespace tarvik {

inline QFont ChoiceDialogFont() {
  QFont font(QStringLiteral("Tahoma"), 8);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

}  // namespace tarvik
