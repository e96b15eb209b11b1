#include "serial/comportworker.h"

#include <algorithm>

#include "common/text.h"

namespace tarvik {
namespace {

constexpr const char* kPurgePrefix = "$$$: ";
constexpr const char* kSentPrefix = "#com<-: ";
constexpr const char* kReceivedPrefix = "@com->: ";

// RTS goes up this long before a command and comes down this long after it.
constexpr std::uint32_t kRtsSettleMs = 20;

// Just past the first terminator in the reply, compared without regard to
// ASCII letter case; npos when there is none.
std::size_t TerminatorEnd(const std::string& reply, const std::string& upperTerminator) {
  const std::size_t at = AsciiUpper(reply).find(upperTerminator);
  return at == std::string::npos ? at : at + upperTerminator.size();
}

}  // namespace

TComPortWorker::TComPortWorker(std::unique_ptr<Link> link, TLogWriter* log, Clock& clock)
    : clock_(clock), link_(std::move(link)), log_(log) {}

TComPortWorker::TComPortWorker(const std::string& portName, bool highSpeed, TLogWriter* log, Clock& clock)
    : TComPortWorker(MakeLink(SerialPortAddress(portName), {.HighSpeed = highSpeed}, clock), log, clock) {}

void TComPortWorker::Open() {
  Close();
  link_->Open();
}

void TComPortWorker::Close() { link_->Close(); }

bool TComPortWorker::Exchange(const std::string& command, std::string& reply,
                              const ExchangeOptions& options) {
  reply.clear();
  bool result = false;
  if (!link_->IsOpen()) return false;
  const std::string& awaited = options.Terminator.empty() ? std::string(1, '\r') : options.Terminator;
  for (std::int32_t attempt = 0; attempt < options.Attempts && link_->IsOpen(); ++attempt) {
    Purge(options.LogTraffic);
    result = false;
    reply.clear();
    SendCommand(command);
    if (options.LogTraffic) WriteLog(kSentPrefix + command);
    const bool found = WaitForReply(reply, options.TimeoutMs, awaited);
    if (options.LogTraffic) WriteLog(kReceivedPrefix + reply);
    if (found) return true;
    if (reply.empty()) {
      result = false;
    } else if (!options.TerminatorRequired) {
      result = true;
    }
  }
  return result;
}

void TComPortWorker::Purge(bool logTraffic) {
  if (!link_->IsOpen()) return;
  std::string stale;
  ReadAvailable(stale);
  if (stale.find('\n') != std::string::npos) lineEndOwed_ = false;
  if (logTraffic) WriteLog(kPurgePrefix + stale);
}

void TComPortWorker::ReadAvailable(std::string& text) {
  DropRts();
  text.clear();
  link_->ReadAvailable(text);
}

void TComPortWorker::SendCommand(const std::string& command) {
  RaiseRts();
  link_->Write(command);
}

bool TComPortWorker::WaitForReply(std::string& reply, std::int32_t timeoutMs, const std::string& terminator) {
  DropRts();
  reply.clear();
  const std::string upper = AsciiUpper(terminator);
  const std::uint64_t start = clock_.NowMs();
  LinkInput input(*link_);
  for (;;) {
    const auto elapsed = static_cast<std::int64_t>(clock_.NowMs() - start);
    if (elapsed > timeoutMs || !link_->IsOpen()) return false;
    const bool gotBytes = link_->ReadAvailable(reply);
    DropOwedLineEnd(reply);
    const std::size_t end = TerminatorEnd(reply, upper);
    if (end != std::string::npos) {
      TakeRestOfLine(reply, end, input);
      return true;
    }
    // Sleeps until bytes come or the time-out passes, not in fixed ticks: a
    // reply is taken the moment it is there.
    const auto untilTimeout = static_cast<std::uint32_t>(std::max<std::int64_t>(timeoutMs - elapsed, 0) + 1);
    if (!clock_.SleepMs(untilTimeout, input) || gotBytes) continue;
    // Woken with nothing to read (a line in trouble): do not spin on it.
    if (link_->IsOpen() && link_->InputCount() == 0) clock_.SleepMs(1);
  }
}

void TComPortWorker::TakeRestOfLine(std::string& reply, std::size_t terminatorEnd, LinkInput& input) {
  // The answer a device sends in one burst ends with a line end after its
  // terminator; that is what a reader that looks every so often would have
  // found. Without one, a quiet line ends the wait, and the line end may
  // still come later.
  try {
    while (reply.find('\n', terminatorEnd) == std::string::npos && link_->IsOpen()) {
      if (!clock_.SleepMs(kReplyQuietMs, input) || !link_->ReadAvailable(reply)) break;
    }
  } catch (const EDeviceError&) {
    // The terminator came: the exchange has its answer, and a line that went
    // away after it is the next exchange's news.
  }
  lineEndOwed_ = reply.find('\n', terminatorEnd) == std::string::npos;
}

void TComPortWorker::DropOwedLineEnd(std::string& reply) {
  // Otherwise a command the device leaves unanswered would get those bytes
  // for an answer, which counts once its time is up.
  if (!lineEndOwed_) return;
  std::size_t taken = 0;
  while (taken < reply.size() && (reply[taken] == '\r' || reply[taken] == '\n')) {
    if (reply[taken++] == '\n') {
      lineEndOwed_ = false;
      break;
    }
  }
  if (taken < reply.size()) lineEndOwed_ = false;
  reply.erase(0, taken);
}

void TComPortWorker::WriteLog(const std::string& line) {
  if (log_ != nullptr) log_->WriteLine(line);
}

void TComPortWorker::RaiseRts() {
  link_->SetRts(true);
  clock_.SleepMs(kRtsSettleMs);
}

void TComPortWorker::DropRts() {
  clock_.SleepMs(kRtsSettleMs);
  link_->SetRts(false);
}

}  // namespace tarvik
