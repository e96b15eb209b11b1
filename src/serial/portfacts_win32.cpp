// Windows: the facts SetupAPI keeps of the devices of the Ports class, found
// by the port name in each device's registry key; the USB IDs and the serial
// number are read from the instance ID of the USB device the port sits on.
// No stable name: Windows gives a USB adapter the same COM name wherever it
// is plugged in.
#include <windows.h>
// After windows.h, which they need.
#include <cfgmgr32.h>
#include <devpropdef.h>
#include <setupapi.h>

#include <cwctype>
#include <optional>
#include <string>
#include <vector>

#include "common/codepage_win32.h"
#include "serial/portfacts.h"
#include "serial/portlist.h"

namespace tarvik {
namespace {

// The class of serial and parallel ports, {4D36E978-E325-11CE-BFC1-08002BE10318}.
const GUID kPortsClass = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
// The product name the device reports on its bus (its USB product string),
// DEVPKEY_Device_BusReportedDeviceDesc.
const DEVPROPKEY kBusReportedDescription = {
    {0x540b947e, 0x8b40, 0x45bc, {0xa8, 0xa2, 0x6a, 0x0b, 0x89, 0x4c, 0xbd, 0xa2}}, 4};

std::wstring WithoutTrailingZeros(std::vector<wchar_t> text) {
  std::size_t length = text.size();
  while (length > 0 && text[length - 1] == L'\0') --length;
  return std::wstring(text.data(), length);
}

std::wstring PortNameOf(HDEVINFO set, SP_DEVINFO_DATA& device) {
  const HKEY key = ::SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
  if (key == INVALID_HANDLE_VALUE) return {};
  std::vector<wchar_t> value(64, L'\0');
  DWORD bytes = static_cast<DWORD>((value.size() - 1) * sizeof(wchar_t));
  DWORD type = 0;
  const LONG read =
      ::RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &bytes);
  ::RegCloseKey(key);
  if (read != ERROR_SUCCESS || type != REG_SZ) return {};
  value.resize(bytes / sizeof(wchar_t));
  return WithoutTrailingZeros(std::move(value));
}

std::wstring RegistryProperty(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
  DWORD bytes = 0;
  ::SetupDiGetDeviceRegistryPropertyW(set, &device, property, nullptr, nullptr, 0, &bytes);
  if (bytes == 0) return {};
  std::vector<wchar_t> value(bytes / sizeof(wchar_t) + 1, L'\0');
  if (!::SetupDiGetDeviceRegistryPropertyW(set, &device, property, nullptr,
                                           reinterpret_cast<BYTE*>(value.data()), bytes, nullptr)) {
    return {};
  }
  return WithoutTrailingZeros(std::move(value));
}

std::wstring BusReportedDescription(HDEVINFO set, SP_DEVINFO_DATA& device) {
  DEVPROPTYPE type = 0;
  DWORD bytes = 0;
  ::SetupDiGetDevicePropertyW(set, &device, &kBusReportedDescription, &type, nullptr, 0, &bytes, 0);
  if (bytes == 0) return {};
  std::vector<wchar_t> value(bytes / sizeof(wchar_t) + 1, L'\0');
  if (!::SetupDiGetDevicePropertyW(set, &device, &kBusReportedDescription, &type,
                                   reinterpret_cast<BYTE*>(value.data()), bytes, nullptr, 0) ||
      type != DEVPROP_TYPE_STRING) {
    return {};
  }
  return WithoutTrailingZeros(std::move(value));
}

std::wstring InstanceId(DEVINST node) {
  std::vector<wchar_t> id(MAX_DEVICE_ID_LEN + 1, L'\0');
  if (::CM_Get_Device_IDW(node, id.data(), static_cast<ULONG>(id.size() - 1), 0) != CR_SUCCESS) return {};
  return WithoutTrailingZeros(std::move(id));
}

bool StartsWithNoCase(const std::wstring& text, const std::wstring& head) {
  if (text.size() < head.size()) return false;
  for (std::size_t i = 0; i < head.size(); ++i) {
    if (std::towupper(text[i]) != std::towupper(head[i])) return false;
  }
  return true;
}

// The four hex digits after "VID_" or "PID_" in an instance ID.
std::optional<std::uint16_t> IdAfter(const std::wstring& instance, const std::wstring& tag) {
  for (std::size_t at = 0; at + tag.size() + 4 <= instance.size(); ++at) {
    if (!StartsWithNoCase(instance.substr(at), tag)) continue;
    std::uint16_t id = 0;
    for (std::size_t i = at + tag.size(); i < at + tag.size() + 4; ++i) {
      const wchar_t c = static_cast<wchar_t>(std::towupper(instance[i]));
      const int digit = c >= L'0' && c <= L'9' ? c - L'0' : c >= L'A' && c <= L'F' ? c - L'A' + 10 : -1;
      if (digit < 0) return std::nullopt;
      id = static_cast<std::uint16_t>(id * 16 + digit);
    }
    return id;
  }
  return std::nullopt;
}

// The USB device the port sits on: the port's own node or one above it,
// "USB\VID_0403&PID_6001\A50285BI".
std::wstring UsbInstanceAbove(DEVINST node) {
  for (int depth = 0; depth < 8; ++depth) {
    const std::wstring id = InstanceId(node);
    if (StartsWithNoCase(id, L"USB\\") && IdAfter(id, L"VID_")) return id;
    DEVINST parent = 0;
    if (::CM_Get_Parent(&parent, node, 0) != CR_SUCCESS) return {};
    node = parent;
  }
  return {};
}

void ReadFacts(HDEVINFO set, SP_DEVINFO_DATA& device, SerialPortFacts& facts) {
  facts.Manufacturer = NarrowText(RegistryProperty(set, device, SPDRP_MFG));
  std::wstring product = BusReportedDescription(set, device);
  if (product.empty()) product = RegistryProperty(set, device, SPDRP_DEVICEDESC);
  facts.Product = NarrowText(product);
  const std::wstring usb = UsbInstanceAbove(device.DevInst);
  if (usb.empty()) return;
  facts.VendorId = IdAfter(usb, L"VID_");
  facts.ProductId = IdAfter(usb, L"PID_");
  // The last part is the device's serial number, unless Windows made the
  // part up for a device without one (those hold a "&").
  const std::wstring last = usb.substr(usb.rfind(L'\\') + 1);
  if (!last.empty() && last.find(L'&') == std::wstring::npos) facts.SerialNumber = NarrowText(last);
}

bool SameName(const std::wstring& a, const std::wstring& b) {
  return a.size() == b.size() && StartsWithNoCase(a, b);
}

}  // namespace

SerialPortFacts DescribeSerialPort(const std::string& name) {
  SerialPortFacts facts{.Name = name};
  const HDEVINFO set = ::SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE) return facts;
  const std::wstring wanted = WideText(name);
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD i = 0; ::SetupDiEnumDeviceInfo(set, i, &device); ++i) {
    if (SameName(PortNameOf(set, device), wanted)) {
      ReadFacts(set, device, facts);
      break;
    }
  }
  ::SetupDiDestroyDeviceInfoList(set);
  return facts;
}

SerialPortFacts DescribeSerialPortIn(const std::string& name, const std::string&) {
  return DescribeSerialPort(name);
}

std::vector<SerialPortFacts> DescribeSerialPorts() {
  std::vector<SerialPortFacts> ports;
  for (const std::string& name : SystemSerialPorts()) ports.push_back(DescribeSerialPort(name));
  return ports;
}

}  // namespace tarvik
