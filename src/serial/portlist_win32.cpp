// Windows ports: the values of the serial-port map in the registry, each a
// port name such as COM3, in the order the registry gives them.
#include <windows.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "common/codepage_win32.h"
#include "serial/portlist.h"

namespace tarvik {
namespace {

std::vector<std::string> PortsUnder(HKEY root, const wchar_t* subKey) {
  std::vector<std::string> ports;
  HKEY key = nullptr;
  // Read only: an account without administrator rights may read the map.
  if (::RegOpenKeyExW(root, subKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return ports;
  DWORD values = 0;
  DWORD longestName = 0;
  DWORD longestData = 0;
  if (::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, &longestName,
                         &longestData, nullptr, nullptr) == ERROR_SUCCESS) {
    std::wstring name(longestName + 1, L'\0');
    // Room for a terminating zero the data may lack.
    std::vector<wchar_t> data(longestData / sizeof(wchar_t) + 1);
    for (DWORD i = 0; i < values; ++i) {
      DWORD nameLength = static_cast<DWORD>(name.size());
      DWORD type = 0;
      DWORD dataBytes = static_cast<DWORD>((data.size() - 1) * sizeof(wchar_t));
      const LONG r = ::RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type,
                                     reinterpret_cast<BYTE*>(data.data()), &dataBytes);
      // A value that is no text names no port.
      if (r != ERROR_SUCCESS || type != REG_SZ) continue;
      std::size_t length = dataBytes / sizeof(wchar_t);
      data[length] = L'\0';
      while (length > 0 && data[length - 1] == L'\0') --length;
      if (length == 0) continue;
      ports.push_back(NarrowText(std::wstring_view(data.data(), length)));
    }
  }
  ::RegCloseKey(key);
  return ports;
}

}  // namespace

std::vector<std::string> SystemSerialPorts() {
  return PortsUnder(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM");
}

bool SerialPortPresent(const std::string& name) {
  if (name.empty()) return false;
  const std::vector<std::string> ports = SystemSerialPorts();
  if (std::find_if(ports.begin(), ports.end(), [&](const std::string& port) {
        return port.size() == name.size() &&
               ::CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, port.data(), static_cast<int>(port.size()),
                                name.data(), static_cast<int>(name.size())) == CSTR_EQUAL;
      }) != ports.end()) {
    return true;
  }
  // A name the map does not hold that the system still knows (a port of a
  // driver that does not register, a name Wine maps).
  wchar_t target[1024];
  return ::QueryDosDeviceW(WideText(name).c_str(), target, static_cast<DWORD>(std::size(target))) != 0;
}

std::vector<std::string> SystemSerialPortsInUserKey(const std::string& subKey) {
  return PortsUnder(HKEY_CURRENT_USER, WideText(subKey).c_str());
}

}  // namespace tarvik
