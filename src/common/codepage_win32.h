#pragma once
// Text between the byte strings of the core (Windows-1251 unless a caller
// names another code page) and the UTF-16 of Windows calls. Windows only.
#include <string>
#include <string_view>

namespace tarvik {

inline constexpr unsigned kCoreCodePage = 1251;

std::wstring WideText(std::string_view text, unsigned codePage = kCoreCodePage);
// Characters the code page has no form for become a near letter where
// Windows knows one, else "?".
std::string NarrowText(std::wstring_view text, unsigned codePage = kCoreCodePage);

}  // namespace tarvik
