#include "serial/link.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <system_error>

#include "serial/deviceerror.h"
#include "serial/netlink.h"
#include "serial/seriallink.h"

namespace tarvik {
namespace {

// The schemes an address may start with, and the kind each names.
struct SchemeRow {
  std::string_view Scheme;
  LinkKind Kind;
};
constexpr SchemeRow kSchemes[] = {
    {"rfc2217", LinkKind::Rfc2217},
    {"tcp", LinkKind::Tcp},
};

constexpr std::string_view kSchemeMark = "://";

// Device names hold hyphens and dots too ("ttyUSB-1", "tarvik.sim"): a name
// cut at one would open another device, or the controlling terminal for
// "tty-sim".
bool IsPortNameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
         c == '.';
}

std::string_view SchemeName(LinkKind kind) {
  for (const SchemeRow& row : kSchemes) {
    if (row.Kind == kind) return row.Scheme;
  }
  return {};
}

// "HOST:PORT" after the scheme into the address.
LinkAddressError ParseHostAndPort(std::string_view rest, LinkAddress& address) {
  // A trailing slash is how some write a server's address; nothing follows it.
  if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
  const std::size_t colon = rest.rfind(':');
  std::string_view host = colon == std::string_view::npos ? rest : rest.substr(0, colon);
  // "[::1]:4000": a numeric IPv6 host in brackets.
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  if (host.empty()) return LinkAddressError::NoHost;
  address.Host = std::string(host);
  if (colon == std::string_view::npos || colon + 1 == rest.size()) return LinkAddressError::NoPort;
  const std::string_view port = rest.substr(colon + 1);
  unsigned long value = 0;
  const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), value);
  if (error == std::errc::result_out_of_range) return LinkAddressError::PortOutOfRange;
  if (error != std::errc() || end != port.data() + port.size()) return LinkAddressError::PortNotANumber;
  if (value == 0 || value > 65535) return LinkAddressError::PortOutOfRange;
  address.TcpPort = static_cast<std::uint16_t>(value);
  return LinkAddressError::None;
}

}  // namespace

std::string LinkAddress::Name() const {
  if (Kind == LinkKind::Serial) return Port;
  const bool bracketed = Host.find(':') != std::string::npos;
  return std::string(SchemeName(Kind)) + std::string(kSchemeMark) + (bracketed ? "[" + Host + "]" : Host) +
         ":" + std::to_string(TcpPort);
}

LinkAddress SerialPortAddress(std::string name) {
  LinkAddress address;
  address.Port = std::move(name);
  return address;
}

const char* LinkAddressErrorText(LinkAddressError error) {
  switch (error) {
    case LinkAddressError::None:
      return "";
    case LinkAddressError::UnknownScheme:
      return "unknown kind of link (rfc2217:// or tcp:// expected)";
    case LinkAddressError::NoHost:
      return "no host in the address";
    case LinkAddressError::NoPort:
      return "no port in the address";
    case LinkAddressError::PortNotANumber:
      return "the port in the address is not a number";
    case LinkAddressError::PortOutOfRange:
      return "the port in the address is out of range (1 to 65535)";
  }
  return "";
}

const LinkAddress& ParsedLinkAddress::Take() const {
  if (!Ok()) {
    EDeviceError error = CannotOpenError(Text, TOpenFailure::BadAddress, LinkAddressErrorText(Error));
    error.Port = Text;
    error.SystemDetail = LinkAddressErrorText(Error);
    throw error;
  }
  return Address;
}

ParsedLinkAddress ParseLinkAddress(std::string_view text) {
  ParsedLinkAddress parsed;
  parsed.Text = std::string(text);
  const std::size_t mark = text.find(kSchemeMark);
  // Letters before "://" make a scheme; a path such as "./a://b" is a port.
  const std::string_view scheme = mark == std::string_view::npos ? std::string_view() : text.substr(0, mark);
  const bool hasScheme = !scheme.empty() && std::all_of(scheme.begin(), scheme.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
  });
  if (!hasScheme) {
    parsed.Address = SerialPortAddress(PortNameOf(text));
    return parsed;
  }
  parsed.Error = LinkAddressError::UnknownScheme;
  for (const SchemeRow& row : kSchemes) {
    if (row.Scheme.size() != scheme.size()) continue;
    if (!std::equal(scheme.begin(), scheme.end(), row.Scheme.begin(), [](char a, char b) {
          return (a >= 'A' && a <= 'Z' ? static_cast<char>(a - 'A' + 'a') : a) == b;
        })) {
      continue;
    }
    parsed.Address.Kind = row.Kind;
    parsed.Error = ParseHostAndPort(text.substr(mark + kSchemeMark.size()), parsed.Address);
    break;
  }
  return parsed;
}

std::string PortNameOf(std::string_view text) {
  for (const std::string_view prefix : {std::string_view("/dev/"), std::string_view("\\\\.\\")}) {
    if (text.starts_with(prefix)) return std::string(text.substr(prefix.size()));
  }
  // Any other absolute path (a simulated port linked elsewhere) is reached
  // from /dev, where the POSIX port starts.
  if (text.size() > 1 && text.front() == '/') return ".." + std::string(text);
  // A name with a slash is a path from the folder the tool runs in
  // ("./run/t1", "run/t1"), not a place under /dev; a slash after a blank
  // belongs to a description ("COM3 (USB/RS-232)").
  const std::string_view beforeSlash = text.substr(0, text.find('/'));
  if (beforeSlash.size() < text.size() && beforeSlash.find_first_of(" \t") == std::string_view::npos) {
    std::error_code error;
    const std::filesystem::path here = std::filesystem::current_path(error);
    const std::string full = (here / std::filesystem::path(text)).lexically_normal().generic_string();
    if (!error && full.starts_with('/')) return ".." + full;
    return std::string(text);
  }
  const auto first = std::find_if(text.begin(), text.end(), IsPortNameChar);
  return std::string(first, std::find_if_not(first, text.end(), IsPortNameChar));
}

std::unique_ptr<Link> MakeLink(const LinkAddress& address, const LinkSettings& settings, Clock& clock) {
  switch (address.Kind) {
    case LinkKind::Serial:
      return std::make_unique<SerialLink>(address.Port, settings, clock);
    case LinkKind::Rfc2217:
    case LinkKind::Tcp:
      break;
  }
  return std::make_unique<NetLink>(address, settings, clock);
}

}  // namespace tarvik
