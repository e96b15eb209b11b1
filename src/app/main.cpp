// The program: creates its windows in order, shows the main window and runs
// the event loop until the main window closes.
#include <QApplication>
#include <QIcon>
#include <clocale>

#include "app/appwindows.h"
#include "common/stdstreams.h"
#include "common/ui/translations.h"

int main(int argc, char** argv) {
  // Before anything is opened: a port opened as a standard stream would get
  // the program's and Qt's messages on its line.
  tarvik::EnsureStandardStreams();
  QApplication app(argc, argv);
  // The program speaks Russian, Qt's own buttons and dialogs included.
  tarvik::InstallQtRussian(app);
  // Timestamps of the message log follow the user's date and time formats.
  std::setlocale(LC_ALL, "");
  QApplication::setApplicationName(QStringLiteral("tarvikflash"));
  // An installed copy finds its icon in the icon theme and is matched to its
  // desktop entry by the same name; a copy that is not installed has none.
  QApplication::setDesktopFileName(QStringLiteral("tarvikflash"));
  QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("tarvikflash")));

  tarvik::AppWindows windows(tarvik::ProgramDirectory());
  windows.formMain.show();
  return QApplication::exec();
}
