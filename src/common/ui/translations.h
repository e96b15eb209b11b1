#pragma once
// Qt's own texts in Russian: the standard buttons, the file dialog and the
// context menus that Qt draws, from the translation the program carries.
class QCoreApplication;

namespace tarvik {

// Installs the translation on the application; false when it could
// not be loaded (the program then shows Qt's texts in English).
bool InstallQtRussian(QCoreApplication& app);

}  // namespace tarvik
