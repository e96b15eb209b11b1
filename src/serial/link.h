#pragma once
// The line to a device, chosen by the address the user typed: a serial port
// by its name ("ttyUSB0", "/dev/ttyUSB0", "COM3"), and the network kinds
// "rfc2217://HOST:PORT" and "tcp://HOST:PORT". The exchange speaks to a Link
// and never knows which kind it has.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "common/clock.h"
#include "serial/deviceerror.h"

namespace tarvik {

enum class LinkKind : std::uint8_t {
  Serial,   // a local serial port
  Rfc2217,  // a serial port behind a Telnet server that speaks the COM port option
  Tcp,      // raw bytes over TCP to a bridge that carries them to the line
};

struct LinkAddress {
  LinkKind Kind = LinkKind::Serial;
  // Serial: the device name the port opens ("ttyUSB0", "pts/3",
  // "../tmp/ttyV0" for a path outside /dev, "COM3").
  std::string Port;
  // The network kinds: where the server listens.
  std::string Host;
  std::uint16_t TcpPort = 0;

  // How messages name the link: the port's name, or "rfc2217://HOST:PORT".
  std::string Name() const;
  friend bool operator==(const LinkAddress&, const LinkAddress&) = default;
};

// A serial port by the name the port opens, as the port list gives it.
LinkAddress SerialPortAddress(std::string name);

// Why an address did not parse.
enum class LinkAddressError : std::uint8_t {
  None,
  UnknownScheme,   // "xyz://..."
  NoHost,          // "tcp://:4000"
  NoPort,          // "tcp://host" or "tcp://host:"
  PortNotANumber,  // "tcp://host:abc"
  PortOutOfRange,  // "tcp://host:0", "tcp://host:70000"
};

// The cause as messages name it ("no port in the address").
const char* LinkAddressErrorText(LinkAddressError error);

struct ParsedLinkAddress {
  LinkAddress Address;
  LinkAddressError Error = LinkAddressError::None;
  // The text as it was typed, for the message of a malformed one.
  std::string Text{};

  bool Ok() const { return Error == LinkAddressError::None; }
  // The address; a malformed one raises EDeviceError as a port that cannot
  // be opened, naming the text and the cause.
  const LinkAddress& Take() const;
};

// Anything without "SCHEME://" in front is a serial port, named as
// PortNameOf names it, and always parses.
ParsedLinkAddress ParseLinkAddress(std::string_view text);

// The device name a port opens for what the user typed or chose:
//  - "/dev/ttyUSB0" and "\\.\COM12" lose their prefix: "ttyUSB0", "COM12";
//  - any other absolute path is reached from /dev, where the POSIX port
//    starts: "/tmp/ttyV0" opens "../tmp/ttyV0";
//  - a name with a slash is a path from the current folder ("./run/t1"),
//    since no port the system lists has one;
//  - anything else is a name from the port list, perhaps with a description
//    after it: its first run of letters, digits, underscores, hyphens and
//    dots, so "COM3 (USB Serial)" opens COM3 and "tty-sim" opens tty-sim.
//    The list offers only names that this maps back to themselves, so a
//    listed name never opens another device ("ttyV 2" would open ttyV).
std::string PortNameOf(std::string_view text);

// The line the devices speak; the link sets it up itself.
struct LinkSettings {
  // 115200 bit/s instead of 19200.
  bool HighSpeed = false;
};

class Link {
 public:
  // The line went down between or during exchanges; runs on a thread of the
  // link's own.
  using LostHandler = std::function<void(const std::string& reason)>;

  virtual ~Link() = default;

  // Opens the line as the devices need it; EDeviceError names why not
  // (code ecCannotOpen with its cause for a line that could not be reached).
  virtual void Open() = 0;
  // Does nothing on a closed link.
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
  // How messages name the link.
  virtual std::string Name() const = 0;

  // Sends all the bytes; false when the line did not take them in time.
  // A failed line raises EDeviceError.
  virtual bool Write(const std::string& bytes) = 0;
  // Bytes that wait to be read; a failed line raises EDeviceError.
  virtual std::uint32_t InputCount() = 0;
  // Appends what has arrived, without waiting; true when anything came. A
  // failed line raises EDeviceError.
  virtual bool ReadAvailable(std::string& text) = 0;
  // Blocks up to realMs of real time until bytes wait or the line fails;
  // true unless the time ran out. False at once while closed.
  virtual bool WaitInput(std::uint32_t realMs) = 0;
  // Raises or drops RTS; a line without one ignores it.
  virtual void SetRts(bool on) = 0;

  // Set while the link is closed.
  virtual void SetOnLost(LostHandler handler) = 0;
};

// Makes the link an address names; it opens with Open.
using LinkFactory = std::function<std::unique_ptr<Link>(const LinkAddress& address,
                                                        const LinkSettings& settings, Clock& clock)>;

// The links this program has.
std::unique_ptr<Link> MakeLink(const LinkAddress& address, const LinkSettings& settings, Clock& clock);

// Wakes a sleep on the clock when bytes arrive on the link.
class LinkInput final : public Wakeup {
 public:
  explicit LinkInput(Link& link) : link_(link) {}
  bool Wait(std::uint32_t realMs) override { return link_.WaitInput(realMs); }

 private:
  Link& link_;
};

}  // namespace tarvik
