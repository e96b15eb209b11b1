// Linux ports: ttys of the tty class with a device behind them, and the
// links in /dev through which a virtual port (a pseudo-terminal published
// under a fixed name) is offered.
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <optional>

#include "common/inifile.h"
#include "common/text.h"
#include "serial/descriptor_posix.h"
#include "serial/link.h"
#include "serial/portlist.h"

namespace tarvik {
namespace {

namespace fs = std::filesystem;

bool AllDigits(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The UART type of a legacy port: 0 when the driver found no chip there.
std::optional<std::int32_t> UartType(const fs::path& ttyEntry, const fs::path& deviceNode) {
  std::error_code e;
  if (fs::exists(ttyEntry / "type", e)) return ParseInt32(Trim(ReadFileBytes(ttyEntry / "type")));
  const int fd = commos::KeepAboveStandardStreams(
      ::open(deviceNode.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (fd < 0) return std::nullopt;
  serial_struct info{};
  const int r = ::ioctl(fd, TIOCGSERIAL, &info);
  ::close(fd);
  if (r < 0) return std::nullopt;
  return info.type;
}

bool IsPseudoTerminal(const fs::path& target, const fs::path& devRoot) {
  if (!AllDigits(target.filename().string())) return false;
  const fs::path folder = target.parent_path();
  return folder == fs::path("/dev/pts") || folder == (devRoot / "pts").lexically_normal();
}

}  // namespace

std::vector<std::string> SystemSerialPortsIn(const std::string& ttyClassRoot, const std::string& devRoot) {
  std::vector<std::string> ports;
  std::error_code ec;
  const fs::path dev = fs::path(devRoot).lexically_normal();

  for (const auto& entry : fs::directory_iterator(ttyClassRoot, ec)) {
    const fs::path entryPath = entry.path();
    const std::string name = entryPath.filename().string();
    std::error_code e;
    // Consoles and pseudo-terminals are virtual: no device link.
    if (!fs::exists(fs::symlink_status(entryPath / "device", e))) continue;
    const fs::path node = dev / name;
    if (!fs::exists(fs::symlink_status(node, e))) continue;
    if (name.rfind("ttyS", 0) == 0 && UartType(entryPath, node) == 0) continue;
    ports.push_back(name);
  }

  for (const auto& entry : fs::directory_iterator(dev, ec)) {
    std::error_code e;
    if (!entry.is_symlink(e)) continue;
    fs::path target = fs::read_symlink(entry.path(), e);
    if (e) continue;
    if (target.is_relative()) target = dev / target;
    target = target.lexically_normal();
    // A link left behind by a pseudo-terminal that has gone leads nowhere.
    if (IsPseudoTerminal(target, dev) && fs::exists(target, e))
      ports.push_back(entry.path().filename().string());
  }

  std::erase_if(ports, [](const std::string& name) { return PortNameOf(name) != name; });
  std::sort(ports.begin(), ports.end());
  ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
  return ports;
}

std::vector<std::string> SystemSerialPorts() { return SystemSerialPortsIn("/sys/class/tty", "/dev"); }

bool SerialPortPresent(const std::string& name) {
  // Through a link to where it leads: a link whose terminal has ended
  // leads nowhere.
  std::error_code e;
  return !name.empty() && fs::exists(fs::path("/dev") / name, e);
}

}  // namespace tarvik
