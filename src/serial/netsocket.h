#pragma once
// The operating-system side of a network link: one TCP connection, reached
// within a time on the clock. Everything that differs between platforms lives
// behind this header, in one backend file per platform.
#include <cstdint>
#include <memory>
#include <string>

#include "common/clock.h"
#include "serial/commos.h"

namespace tarvik::netos {

// Why Connect failed.
enum class TConnectFailure : std::uint8_t {
  None,
  UnknownHost,  // the name does not resolve
  Refused,      // the host answered that nobody listens there
  NoAnswer,     // nothing answered within the time
  Other,        // the system's own reason; its text tells
};

struct TConnectError {
  TConnectFailure Cause = TConnectFailure::None;
  // The system's code and text for it, where it gave one.
  int Code = 0;
  std::string Text;
};

struct TReceiveResult {
  std::uint32_t Count = 0;
  // The OS error code that stopped the call (Error != 0).
  int Error = 0;
  // The far end closed the connection; nothing more will come.
  bool Closed = false;
};

class TSocket {
 public:
  virtual ~TSocket() = default;

  // Sends the bytes, waiting up to timeoutMs of real time for room; Count
  // tells how many went.
  virtual commos::TIoResult Send(const char* data, std::uint32_t count, std::uint32_t timeoutMs) = 0;
  // Takes at most count bytes that have arrived; never waits.
  virtual TReceiveResult Receive(char* data, std::uint32_t count) = 0;
  // Blocks until bytes arrive, the connection ends, or timeoutMs passes;
  // true unless the time ran out.
  virtual bool WaitReadable(std::uint32_t timeoutMs) = 0;
  // For the watcher: blocks until the connection has ended (Failed, with why
  // in reason), the stop signal is raised (Stopped) or timeoutMs, when not
  // negative, passes. Never takes bytes.
  virtual commos::TWaitResult WaitEnded(int timeoutMs, std::string& reason) = 0;
  // Wakes WaitEnded with Stopped; safe from any thread.
  virtual void SignalStop() = 0;
};

// Resolves the host and connects to the port, giving up once timeoutMs have
// passed on the clock. Null with error set when it cannot.
std::unique_ptr<TSocket> Connect(const std::string& host, std::uint16_t port, Clock& clock,
                                 std::uint32_t timeoutMs, TConnectError& error);

}  // namespace tarvik::netos
