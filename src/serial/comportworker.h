#pragma once
// One connection to a device: the link, and Exchange, the one path by which
// a command reaches a device and its reply comes back, with the traffic
// written to the log.
#include <cstdint>
#include <memory>
#include <string>

#include "common/clock.h"
#include "common/logwriter.h"
#include "serial/link.h"

namespace tarvik {

// How one command is exchanged. Each call names only what differs.
struct ExchangeOptions {
  // Searched in the whole reply without regard to ASCII letter case; empty
  // means CR.
  std::string Terminator = "OK";
  std::int32_t Attempts = 1;
  std::int32_t TimeoutMs = 500;
  // Without it a reply that lacks the terminator counts once the time is up.
  bool TerminatorRequired = false;
  bool LogTraffic = true;
};

class TComPortWorker {
 public:
  // The log is not owned and may be null.
  TComPortWorker(std::unique_ptr<Link> link, TLogWriter* log, Clock& clock = SystemClock());
  // Over the serial port the port opens by that name ("ttyUSB0", "pts/3").
  TComPortWorker(const std::string& portName, bool highSpeed, TLogWriter* log, Clock& clock = SystemClock());
  TComPortWorker(const TComPortWorker&) = delete;
  TComPortWorker& operator=(const TComPortWorker&) = delete;

  // Closes first, so a worker can be reopened; errors of the port reach the
  // caller.
  void Open();
  void Close();

  // Sends the command and waits for a reply holding the terminator, at most
  // Attempts times. True when the terminator came, or when the last attempt
  // got something without it and the terminator is not required.
  // EDeviceError of the port is not caught.
  bool Exchange(const std::string& command, std::string& reply, const ExchangeOptions& options);

  Link& Port() { return *link_; }
  TLogWriter* Log() const { return log_; }

  // After the terminator, how long the line may stay quiet before a reply
  // without a line end after it is taken as whole.
  static constexpr std::uint32_t kReplyQuietMs = 50;

 private:
  void Purge(bool logTraffic);
  void ReadAvailable(std::string& text);
  void SendCommand(const std::string& command);
  bool WaitForReply(std::string& reply, std::int32_t timeoutMs, const std::string& terminator);
  void TakeRestOfLine(std::string& reply, std::size_t terminatorEnd, LinkInput& input);
  // Takes off the front of a reply what is left of the previous answer's
  // line end.
  void DropOwedLineEnd(std::string& reply);
  void WriteLog(const std::string& line);
  void RaiseRts();
  void DropRts();

  Clock& clock_;
  std::unique_ptr<Link> link_;
  TLogWriter* log_;
  // The last answer was taken at its terminator before its line end came:
  // that line end, when it comes, is not the next command's answer.
  bool lineEndOwed_ = false;
};

}  // namespace tarvik
