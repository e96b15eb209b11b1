#pragma once
// The program's title as its main window shows it.
#include <QString>

namespace tarvik {

// "Программа перепрошивки радиоканальной системы Тарвик v. " + the build's
// file version.
QString ProgramTitle();

}  // namespace tarvik
