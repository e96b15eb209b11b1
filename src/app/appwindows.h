#pragma once
// The program's windows, created in start-up order (main window, About,
// HEX file viewer, reflash window with the catalogue, information) and
// wired together. Both the program and the scripted demonstration start
// from here.
#include <QString>

#include "app/formabout.h"
#include "app/formmain.h"
#include "app/infoform.h"
#include "hexview/ui/hexviewer.h"
#include "reflash/ui/reflashwindow.h"

namespace tarvik {

class AppWindows {
 public:
  explicit AppWindows(const QString& programDir, bool autoConnect = true);

  TformMain formMain;
  TFormAbout formAbout;
  TformUpdateInsertion formUpdateInsertion;
  TformUpdateIns formUpdateIns;
  TInfoForm infoForm;
};

}  // namespace tarvik
