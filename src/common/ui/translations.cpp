#include "common/ui/translations.h"

#include <QCoreApplication>
#include <QTranslator>

namespace tarvik {

bool InstallQtRussian(QCoreApplication& app) {
  auto* translator = new QTranslator(&app);
  if (!translator->load(QStringLiteral(":/translations/qtbase_ru.qm"))) {
    delete translator;
    return false;
  }
  QCoreApplication::installTranslator(translator);
  return true;
}

}  // namespace tarvik
