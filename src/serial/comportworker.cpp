#include "serial/comportworker.h"

#include "common/text.h"

namespace tarvik {
namespace {

constexpr const char* kPurgePrefix = "$$$: ";
constexpr const char* kSentPrefix = "#com<-: ";
constexpr const char* kReceivedPrefix = "@com->: ";

// RTS goes up this long before a command and comes down this long after it.
constexpr std::uint32_t kRtsSettleMs = 20;
constexpr std::uint32_t kReplyPollMs = 50;

constexpr std::uint16_t kQueueSize = 2048;
constexpr std::uint16_t kTransferTimeoutMs = 500;
constexpr char kReplyEventChar = '\r';

bool HoldsTerminator(const std::string& reply, const std::string& upperTerminator) {
  return Contains(AsciiUpper(reply), upperTerminator);
}

}  // namespace

TComPortWorker::TComPortWorker(const std::string& deviceName, bool highSpeed, TLogWriter* log, bool ownsPort,
                               Clock& clock)
    : clock_(clock), port_(std::make_unique<TXComm>(clock)), ownsPort_(ownsPort), log_(log) {
  TXComm& port = *port_;
  port.Buffers().SetInputTimeout(kTransferTimeoutMs);
  port.Buffers().SetOutputTimeout(kTransferTimeoutMs);
  port.Buffers().SetInputSize(kQueueSize);
  port.Buffers().SetOutputSize(kQueueSize);
  port.EventChars().SetEventChar(kReplyEventChar);
  port.DataControl().SetStopBits(sb1);
  port.SetDeviceName(deviceName);
  port.DataControl().SetParity(paNone);
  port.SetFlowControl(fcNone);
  port.DataControl().SetDataBits(db8);
  port.SetBaudRate(highSpeed ? br115200 : br19200);
}

TComPortWorker::~TComPortWorker() {
  // A port that the worker does not own belongs to whoever took it over.
  if (!ownsPort_) static_cast<void>(port_.release());
}

void TComPortWorker::Open() {
  Close();
  port_->Open();
}

void TComPortWorker::Close() {
  if (port_->IsOpen()) port_->Close();
}

bool TComPortWorker::Exchange(const std::string& command, std::string& reply, const std::string& terminator,
                              std::int32_t attempts, std::int32_t timeoutMs, bool terminatorRequired,
                              bool logTraffic) {
  reply.clear();
  bool result = false;
  if (!port_->IsOpen()) return false;
  const std::string& awaited = terminator.empty() ? std::string(1, '\r') : terminator;
  for (std::int32_t attempt = 0; attempt < attempts && port_->IsOpen(); ++attempt) {
    Purge(logTraffic);
    result = false;
    reply.clear();
    SendCommand(command);
    if (logTraffic) WriteLog(kSentPrefix + command);
    const bool found = WaitForReply(reply, timeoutMs, awaited);
    if (logTraffic) WriteLog(kReceivedPrefix + reply);
    if (found) return true;
    if (reply.empty()) {
      result = false;
    } else if (!terminatorRequired) {
      result = true;
    }
  }
  return result;
}

void TComPortWorker::Purge(bool logTraffic) {
  if (!port_->IsOpen()) return;
  std::string stale;
  ReadAvailable(stale);
  if (logTraffic) WriteLog(kPurgePrefix + stale);
}

void TComPortWorker::ReadAvailable(std::string& text) {
  DropRts();
  text.clear();
  std::string chunk;
  while (port_->IsOpen() && port_->QueueCount(0) != 0) {
    port_->ReadString(chunk);
    text += chunk;
  }
}

void TComPortWorker::SendCommand(const std::string& command) {
  RaiseRts();
  port_->WriteString(command);
}

bool TComPortWorker::WaitForReply(std::string& reply, std::int32_t timeoutMs, const std::string& terminator) {
  DropRts();
  reply.clear();
  const std::string upper = AsciiUpper(terminator);
  const std::uint64_t start = clock_.NowMs();
  std::string chunk;
  for (;;) {
    const auto elapsed = static_cast<std::int64_t>(clock_.NowMs() - start);
    if (elapsed > timeoutMs || !port_->IsOpen()) return false;
    while (port_->IsOpen() && port_->QueueCount(0) != 0) {
      port_->ReadString(chunk);
      reply += chunk;
      if (HoldsTerminator(reply, upper)) return true;
    }
    if (HoldsTerminator(reply, upper)) return true;
    clock_.SleepMs(kReplyPollMs);
  }
}

void TComPortWorker::WriteLog(const std::string& line) {
  if (log_ != nullptr) log_->WriteLine(line);
}

void TComPortWorker::RaiseRts() {
  port_->SetRTS(true);
  clock_.SleepMs(kRtsSettleMs);
}

void TComPortWorker::DropRts() {
  clock_.SleepMs(kRtsSettleMs);
  port_->SetRTS(false);
}

}  // namespace tarvik
