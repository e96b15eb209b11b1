#include "app/appwindows.h"

#include <QListWidget>

#include "common/ui/qtext.h"
#include "firmware/selection.h"

namespace tarvik {

AppWindows::AppWindows(const QString& programDir, bool autoConnect)
    : formMain(programDir, autoConnect),
      formAbout(&formMain),
      formUpdateInsertion(&formMain),
      formUpdateIns(formMain.ReflashHooks(), &formMain),
      infoForm(&formMain) {
  formMain.SetReflashForm(&formUpdateIns);
  formMain.SetAboutForm(&formAbout);
  formMain.SetInfoForm(&infoForm);
  formMain.SetHexViewer([this] {
    HexViewerChoice choice;
    choice.Accepted = formUpdateInsertion.exec() == QDialog::Accepted;
    choice.Path = formUpdateInsertion.Path();
    choice.Grid = formUpdateInsertion.Grid();
    return choice;
  });
  infoForm.SetListFiller([this](QListWidget& items) {
    items.clear();
    for (const std::string& line : ListImageVersions(formUpdateIns.Catalogue())) items.addItem(FromCp(line));
  });
}

}  // namespace tarvik
