// The program: creates its windows in order, shows the main window and runs
// the event loop until the main window closes.
#include <QApplication>
#include <QListWidget>
#include <clocale>

#include "app/formabout.h"
#include "app/formmain.h"
#include "app/infoform.h"
#include "common/ui/qtext.h"
#include "firmware/selection.h"
#include "reflash/ui/formupdateins.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // Timestamps of the message log follow the user's date and time formats.
  std::setlocale(LC_ALL, "");
  QApplication::setApplicationName(QStringLiteral("tarvikflash"));

  tarvik::TformMain formMain(tarvik::ProgramDirectory());
  tarvik::TFormAbout formAbout(&formMain);
  tarvik::TformUpdateIns formUpdateIns(formMain.ReflashHooks(), &formMain);
  formMain.SetReflashForm(&formUpdateIns);
  tarvik::TInfoForm infoForm(&formMain);
  formMain.SetAboutForm(&formAbout);
  formMain.SetInfoForm(&infoForm);
  infoForm.SetListFiller([&formUpdateIns](QListWidget& items) {
    items.clear();
    for (const std::string& line : tarvik::ListImageVersions(formUpdateIns.Catalogue())) {
      items.addItem(tarvik::FromCp(line));
    }
  });

  formMain.show();
  return QApplication::exec();
}
