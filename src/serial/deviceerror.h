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
  ecSendLocked = 4,      // a write from inside an OnSend handler
  ecReadLocked = 5,      // a read from inside an OnRead handler
  ecBuffers = 6,         // the queue sizes were refused
  ecTimeouts = 7,        // the driver time-outs were refused
  ecRead = 10,           // a read failed; carries the system's error
  ecWrite = 11,          // a write failed; carries the system's error
};

// The message of a code as the port raises it; "Cannot open device %s"
// keeps its placeholder. Empty for a code that is not in the table.
const char* DeviceErrorText(TDeviceErrorCode code);

class EDeviceError : public std::runtime_error {
 public:
  EDeviceError(const std::string& message, std::int32_t errorCode)
      : std::runtime_error(message), ErrorCode(errorCode) {}
  // The message of the table.
  explicit EDeviceError(TDeviceErrorCode code) : EDeviceError(DeviceErrorText(code), code) {}
  std::int32_t ErrorCode;
};

// "Cannot open device " + name.
EDeviceError CannotOpenError(const std::string& deviceName);

// The message of a transfer that the OS refused: text, code and the
// system's text for the code, that text cut to 256 characters and stripped
// of trailing line ends, blanks and full stops.
std::string FormatOsErrorMessage(const std::string& text, int osError, const std::string& systemText);

}  // namespace tarvik
