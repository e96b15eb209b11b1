#pragma once
// Where Windows-1251 text of the core meets Qt's Unicode strings.
#include <QString>
#include <exception>
#include <string>
#include <string_view>

namespace tarvik {

QString FromCp(std::string_view cp1251);
// Characters with no Windows-1251 form become '?'.
std::string ToCp(const QString& text);

// A Russian text of the windows, written in the source as UTF-8.
QString Ru(const char* utf8);

// The message of an error of the core (its text is Windows-1251, as every
// text of the core is).
QString ErrorText(const std::exception& error);

}  // namespace tarvik
