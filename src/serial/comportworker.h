#pragma once
// One serial connection to a device: the port configured for the devices'
// line settings, and Exchange, the one path by which a command reaches a
// device and its reply comes back, with the traffic written to the log.
#include <cstdint>
#include <memory>
#include <string>

#include "common/clock.h"
#include "outqueue/logwriter.h"
#include "serial/xcomdrv.h"

namespace tarvik {

class UiSync;

class TComPortWorker {
 public:
  // The log is not owned and may be null. Without OwnsPort the port outlives
  // the worker: take it over with ReleasePort before the worker goes.
  TComPortWorker(const std::string& deviceName, bool highSpeed, TLogWriter* log, bool ownsPort,
                 Clock& clock = SystemClock());
  ~TComPortWorker();
  TComPortWorker(const TComPortWorker&) = delete;
  TComPortWorker& operator=(const TComPortWorker&) = delete;

  // Closes first, so a worker can be reopened; errors of the port reach the
  // caller.
  void Open();
  void Close();

  // Sends Command and waits up to TimeoutMs for a reply holding Terminator
  // (an empty one means CR), at most Attempts times. True when the
  // terminator came, or when the last attempt got something without it and
  // TerminatorRequired is false. EDeviceError of the port is not caught.
  bool Exchange(const std::string& command, std::string& reply, const std::string& terminator,
                std::int32_t attempts, std::int32_t timeoutMs, bool terminatorRequired, bool logTraffic);

  TXComm& Port() { return *port_; }
  std::unique_ptr<TXComm> ReleasePort() { return std::move(port_); }
  bool OwnsPort() const { return ownsPort_; }
  // Where the port's notifications run (see TCustomComm::SetUiSync).
  void SetUiSync(UiSync* sync) { port_->SetUiSync(sync); }

 private:
  void Purge(bool logTraffic);
  void ReadAvailable(std::string& text);
  void SendCommand(const std::string& command);
  bool WaitForReply(std::string& reply, std::int32_t timeoutMs, const std::string& terminator);
  void WriteLog(const std::string& line);
  void RaiseRts();
  void DropRts();

  Clock& clock_;
  std::unique_ptr<TXComm> port_;
  bool ownsPort_;
  TLogWriter* log_;
};

}  // namespace tarvik
