#include "common/ui/programtitle.h"

#include "common/buildversion.h"
#include "common/ui/qtext.h"

namespace tarvik {

QString ProgramTitle() {
  return Ru("Программа перепрошивки радиоканальной системы Тарвик v. ") +
         QString::fromLatin1(TARVIK_FILE_VERSION);
}

}  // namespace tarvik
