#pragma once
// The serial port component: one COM device with the line the devices speak
// (8 data bits, no parity, one stop bit, no flow control, at a rate of the
// caller's choice), its reads and writes with a time limit, and the watcher
// thread that lives while the device is open and tells when the line is lost.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "common/clock.h"
#include "serial/commos.h"
#include "serial/deviceerror.h"

namespace tarvik {

class TCommEventThread;

class TXComm {
 public:
  // The watcher ended on its own: the device failed (an unplugged adapter, a
  // hung-up line). Runs on the watcher thread.
  using TWatcherEndEvent = std::function<void(const std::string& reason)>;

  // openOptions: where the backend looks for other programs that hold a
  // port (see commos::TOpenOptions).
  explicit TXComm(Clock& clock = SystemClock(), commos::TOpenOptions openOptions = {});
  ~TXComm();
  TXComm(const TXComm&) = delete;
  TXComm& operator=(const TXComm&) = delete;

  void Open();
  void Close();
  bool IsOpen() const { return device_ != nullptr; }

  const std::string& DeviceName() const { return deviceName_; }
  // Takes effect at the next open; ignored while open.
  void SetDeviceName(const std::string& value);
  // Bits per second; an open port takes a change at once.
  std::uint32_t BaudRate() const { return baudRate_; }
  void SetBaudRate(std::uint32_t value);

  // Bytes in the input queue (0), the output queue (1), else 0.
  std::uint32_t QueueCount(int which);
  std::uint32_t WriteBuffer(const void* data, std::uint32_t count, std::uint32_t timeoutMs);
  std::uint32_t WriteBuffer(const void* data, std::uint32_t count);
  bool WriteString(const std::string& text);
  std::uint32_t ReadBuffer(void* data, std::uint32_t count, std::uint32_t timeoutMs);
  std::uint32_t ReadBuffer(void* data, std::uint32_t count);
  bool ReadString(std::string& text);

  // Blocks up to realMs of real time until bytes wait in the input queue or
  // the device fails; true unless the time ran out. False at once while closed.
  bool WaitInput(std::uint32_t realMs);

  std::uint32_t TickMs() const { return clock_.TickMs(); }

  // Raises or drops RTS by hand (for a port without flow control); does
  // nothing on a closed port, and a line the device lacks is ignored.
  void SetRTS(bool on);

  TWatcherEndEvent OnWatcherEnd() const;
  void SetOnWatcherEnd(TWatcherEndEvent handler);

  // The line configuration as the device holds it now; false while closed.
  bool ReadDeviceControl(commos::TDeviceControlBlock& dcb) const;
  // The driver's time-outs as it holds them now; false while closed.
  bool ReadDriverTimeouts(commos::TDriverTimeouts& timeouts) const;

  // What the driver queues hold and how long a transfer waits for the line.
  static constexpr std::uint16_t kQueueSize = 2048;
  static constexpr std::uint32_t kTransferTimeoutMs = 500;

 private:
  friend class TCommEventThread;

  void ApplyLineSettings();
  void ApplyBuffers();
  void ApplyTimeouts();
  [[noreturn]] void RaiseOsError(TDeviceErrorCode code, int osError) const;

  Clock& clock_;
  const commos::TOpenOptions openOptions_;
  std::unique_ptr<commos::TCommDevice> device_;
  std::uint32_t baudRate_ = 9600;
  std::string deviceName_ = "COM2";

  mutable std::mutex hookMutex_;
  TWatcherEndEvent onWatcherEnd_;

  std::unique_ptr<TCommEventThread> eventThread_;
  // Bytes that reads and purges have taken from the input queue since Open.
  std::atomic<std::uint64_t> taken_{0};
  std::atomic<bool> destroying_{false};
};

}  // namespace tarvik
