// The program: creates its windows in order, shows the main window and runs
// the event loop until the main window closes.
#include <QApplication>
#include <clocale>

#include "app/formabout.h"
#include "app/formmain.h"
#include "app/infoform.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // Timestamps of the message log follow the user's date and time formats.
  std::setlocale(LC_ALL, "");
  QApplication::setApplicationName(QStringLiteral("tarvikflash"));

  tarvik::TformMain formMain(tarvik::ProgramDirectory());
  tarvik::TFormAbout formAbout(&formMain);
  tarvik::TInfoForm infoForm(&formMain);
  formMain.SetAboutForm(&formAbout);
  formMain.SetInfoForm(&infoForm);

  formMain.show();
  return QApplication::exec();
}
