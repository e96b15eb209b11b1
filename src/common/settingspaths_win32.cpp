// The user's configuration folder on Windows: %APPDATA%\tarvikflash, the
// roaming application data that follows the user between machines.
#include <cstdlib>
#include <string>

#include "common/settingspaths.h"

namespace tarvik {

std::filesystem::path UserSettingsFolder() {
  // The wide form keeps a user name outside the ANSI code page intact.
  const wchar_t* appData = ::_wgetenv(L"APPDATA");
  if (appData == nullptr || *appData == L'\0') return {};
  const std::filesystem::path folder(appData);
  if (!folder.is_absolute()) return {};
  return folder / kSettingsFolderName;
}

}  // namespace tarvik
