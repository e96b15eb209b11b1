#pragma once
// The operating-system side of the serial port. Everything that differs
// between platforms lives behind this header, in one backend file per
// platform; the port component above it is written once.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/clock.h"
#include "serial/deviceerror.h"

namespace tarvik::commos {

enum class TDtrControl : std::uint8_t { Disable, Enable, Handshake };
enum class TRtsControl : std::uint8_t { Disable, Enable, Handshake, Toggle };

// The whole line configuration, set in one step. Fields the platform has no
// counterpart for are kept by the backend and read back as they were set.
struct TDeviceControlBlock {
  std::uint32_t BaudRate = 0;
  bool fBinary = false;
  bool fParity = false;
  bool fOutxCtsFlow = false;
  bool fOutxDsrFlow = false;
  TDtrControl fDtrControl = TDtrControl::Disable;
  bool fDsrSensitivity = false;
  bool fTXContinueOnXoff = false;
  bool fOutX = false;
  bool fInX = false;
  bool fErrorChar = false;
  bool fNull = false;
  TRtsControl fRtsControl = TRtsControl::Disable;
  bool fAbortOnError = false;
  std::uint16_t XonLim = 0;
  std::uint16_t XoffLim = 0;
  std::uint8_t ByteSize = 8;
  std::uint8_t Parity = 0;    // none, odd, even, mark, space
  std::uint8_t StopBits = 0;  // one, one and a half, two
  char XonChar = 0;
  char XoffChar = 0;
  char ErrorChar = 0;
  char EofChar = 0;
  char EvtChar = 0;

  friend bool operator==(const TDeviceControlBlock&, const TDeviceControlBlock&) = default;
};

// Driver time-outs in milliseconds. A write is bounded by
// WriteMultiplier per byte plus WriteConstant; both 0 mean no bound.
struct TDriverTimeouts {
  std::uint32_t ReadInterval = 0;
  std::uint32_t ReadMultiplier = 0;
  std::uint32_t ReadConstant = 0;
  std::uint32_t WriteMultiplier = 0;
  std::uint32_t WriteConstant = 0;
};

// A count of bytes, or the OS error code that stopped the call (Error != 0).
struct TIoResult {
  std::uint32_t Count = 0;
  int Error = 0;
};

enum class TWaitResult { Stopped, Input, TimedOut, Failed };

class TCommDevice {
 public:
  virtual ~TCommDevice() = default;

  virtual bool SetState(const TDeviceControlBlock& dcb) = 0;
  virtual bool GetState(TDeviceControlBlock& dcb) = 0;
  // Discards pending data in both directions.
  virtual void Purge() = 0;
  virtual bool SetupQueues(std::uint32_t inputSize, std::uint32_t outputSize) = 0;
  // 0 where the driver does not tell its queue size.
  virtual void GetQueueSizes(std::uint32_t& inputSize, std::uint32_t& outputSize) = 0;
  virtual bool SetTimeouts(const TDriverTimeouts& timeouts) = 0;
  virtual bool GetTimeouts(TDriverTimeouts& timeouts) = 0;

  virtual TIoResult InputCount() = 0;
  virtual TIoResult OutputCount() = 0;
  // Hands the bytes to the driver and returns once they have left it, or
  // when the write time-outs run out (the bytes not sent are then dropped).
  virtual TIoResult Write(const char* data, std::uint32_t count) = 0;
  // Reads at most count bytes that are already queued; never waits.
  virtual TIoResult Read(char* data, std::uint32_t count) = 0;
  // Switches RTS by hand; a device without the line ignores it.
  virtual void SetRts(bool on) = 0;

  // Blocks until input is waiting (watchInput), the stop signal is raised,
  // the device fails, or timeoutMs (when not negative) passes. Only looks at
  // the device; never takes bytes from it.
  virtual TWaitResult WaitEvent(bool watchInput, int timeoutMs) = 0;
  // Wakes WaitEvent with Stopped; safe from any thread, stays raised until
  // the device is closed.
  virtual void SignalStop() = 0;

  // For the thread that reads, beside the watcher: blocks until bytes wait
  // in the input queue, the device fails, or timeoutMs passes. True unless
  // the time ran out; the next count tells bytes from a failure.
  virtual bool WaitInput(std::uint32_t timeoutMs) = 0;
};

// Why OpenDevice failed.
struct TOpenError {
  TOpenFailure Cause = TOpenFailure::None;
  // The OS error code; 0 where the cause says it all (a plain file is no
  // serial line whatever the system would answer).
  int Code = 0;
  // Who holds a busy port, where the system tells: "minicom, pid 1234".
  std::string Holder;
};

// Where the Linux backend looks for other programs that hold a port: their
// open descriptors under ProcRoot, and the lock files that serial programs
// leave in LockDirs (the first one that takes a file gets this tool's own).
// Tests point them at trees of their own; Windows has no use for them.
struct TOpenOptions {
  std::string ProcRoot = "/proc";
  std::vector<std::string> LockDirs = {"/var/lock", "/run/lock"};
};

// Opens the device exclusively, so a second open of it fails whoever
// tries, and refuses one that another program holds. Returns null with
// error set when it cannot be opened.
std::unique_ptr<TCommDevice> OpenDevice(const std::string& name, Clock& clock, TOpenError& error,
                                        const TOpenOptions& options = {});

// The system's text for an OS error code, as Windows-1251.
std::string OsErrorText(int error);

// What the system's errors are called in messages: "Win32 error" on
// Windows, "error" elsewhere.
extern const char* const kOsErrorName;

}  // namespace tarvik::commos
