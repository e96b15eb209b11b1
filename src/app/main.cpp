// The program: creates its windows in order, shows the main window and runs
// the event loop until the main window closes.
#include <QApplication>
#include <clocale>

#include "app/appwindows.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // Timestamps of the message log follow the user's date and time formats.
  std::setlocale(LC_ALL, "");
  QApplication::setApplicationName(QStringLiteral("tarvikflash"));

  tarvik::AppWindows windows(tarvik::ProgramDirectory());
  windows.formMain.show();
  return QApplication::exec();
}
