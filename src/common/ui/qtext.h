#pragma once
// Where Windows-1251 text of the core meets Qt's Unicode strings.
#include <QString>
#include <string>
#include <string_view>

namespace tarvik {

QString FromCp(std::string_view cp1251);
// Characters with no Windows-1251 form become '?'.
std::string ToCp(const QString& text);

}  // namespace tarvik
