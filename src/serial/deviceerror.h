#pragma once
// The serial layer's error: EDeviceError with its code, the one table of
// codes and messages, and the form of a message that carries the system's
// error text.
#include <cstdint>
#include <stdexcept>
#include <string>

namespace tarvik {

enum TDeviceErrorCode : std::int32_t {
  ecCannotOpen = 65535,  // "Cannot open device %s"
  ecNotOpened = 1,       // a closed port asked to close, read, write or count
  ecAlreadyOpened = 2,   // Open on an open port
  ecControlBlock = 3,    // the line settings were refused
  ecBuffers = 6,         // the queue sizes were refused
  ecTimeouts = 7,        // the driver time-outs were refused
  ecRead = 10,           // a read failed; carries the system's error
  ecWrite = 11,          // a write failed; carries the system's error
};

// Why a port did not open (ecCannotOpen), so that a front end can tell the
// user what to do about it.
enum class TOpenFailure : std::uint8_t {
  None,            // the error is not a failed open
  Missing,         // no device by that name
  Busy,            // another program, or this one, holds the port
  NoPermission,    // the user may not open the device
  NotASerialLine,  // the name leads to something else: a file, a folder, the user's own terminal
  Other,           // refused for a reason of the system's own; its text tells
  BadAddress,      // the address of a link is malformed; the detail says how
  UnknownHost,     // a network link's host name does not resolve
  Refused,         // a network link's host answered that nobody listens there
  NoAnswer,        // a network link's host did not answer in time
  SettingRefused,  // the server of a network link did not set the line as asked
};

// The message of a code as the port raises it; "Cannot open device %s"
// keeps its placeholder. Empty for a code that is not in the table.
const char* DeviceErrorText(TDeviceErrorCode code);

// The cause of a failed open as the message names it ("the port is busy").
const char* OpenFailureText(TOpenFailure cause);

class EDeviceError : public std::runtime_error {
 public:
  EDeviceError(const std::string& message, std::int32_t errorCode,
               TOpenFailure openFailure = TOpenFailure::None)
      : std::runtime_error(message), ErrorCode(errorCode), OpenFailure(openFailure) {}
  // The message of the table.
  explicit EDeviceError(TDeviceErrorCode code) : EDeviceError(DeviceErrorText(code), code) {}
  std::int32_t ErrorCode;
  TOpenFailure OpenFailure;
  // For a failed open, its parts, so a front end can word it in its own
  // language: the port as named, the program that holds it ("minicom, pid
  // 1234"), and the system's error as OsErrorDetail words it.
  std::string Port;
  std::string Holder;
  std::string SystemDetail;
};

// "Cannot open device " + name, the part of the message that names the port.
std::string CannotOpenText(const std::string& deviceName);

// CannotOpenText + ": " + the cause's text, then the detail in brackets
// when there is one: "Cannot open device ttyUSB0: the port is busy (held by
// minicom, pid 1234)".
EDeviceError CannotOpenError(const std::string& deviceName, TOpenFailure cause, const std::string& detail);

// The system's error as a message tells it: its name and code, then the
// system's text for the code, that text cut to 256 characters and stripped
// of trailing line ends, blanks and full stops: "Win32 error 5: Access is
// denied" on Windows, "error 5: Input/output error" on Linux.
std::string OsErrorDetail(int osError, const std::string& systemText);

// The message of a transfer that the OS refused: text + " (" + the detail
// of OsErrorDetail + ")".
std::string FormatOsErrorMessage(const std::string& text, int osError, const std::string& systemText);

}  // namespace tarvik
