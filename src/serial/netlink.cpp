#include "serial/netlink.h"

#include <cstdio>

namespace tarvik {
namespace {

// Telnet's command bytes and the options this link speaks.
constexpr unsigned char kIac = 255;
constexpr unsigned char kDont = 254;
constexpr unsigned char kDo = 253;
constexpr unsigned char kWont = 252;
constexpr unsigned char kWill = 251;
constexpr unsigned char kSb = 250;
constexpr unsigned char kSe = 240;
constexpr unsigned char kBinary = 0;
constexpr unsigned char kSuppressGoAhead = 3;
constexpr unsigned char kComPort = 44;

// The COM port option's commands, and what the server's confirmation adds.
constexpr unsigned char kSetBaudRate = 1;
constexpr unsigned char kSetDataSize = 2;
constexpr unsigned char kSetParity = 3;
constexpr unsigned char kSetStopSize = 4;
constexpr unsigned char kSetControl = 5;
constexpr unsigned char kPurgeData = 12;
constexpr unsigned char kServerAnswer = 100;

constexpr unsigned char kParityNone = 1;
constexpr unsigned char kOneStopBit = 1;
constexpr unsigned char kNoFlowControl = 1;
constexpr unsigned char kRtsOn = 11;
constexpr unsigned char kRtsOff = 12;
constexpr unsigned char kPurgeBoth = 3;

// A sub-negotiation longer than this is no COM port answer: the stream is
// broken.
constexpr std::size_t kMaxSubNegotiation = 64;
constexpr std::uint32_t kReceiveChunk = 4096;
constexpr std::uint32_t kSendTimeoutMs = 500;

std::string Bytes(std::initializer_list<unsigned char> bytes) {
  return std::string(bytes.begin(), bytes.end());
}

std::string BigEndian32(std::uint32_t value) {
  return Bytes({static_cast<unsigned char>(value >> 24), static_cast<unsigned char>(value >> 16),
                static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value)});
}

// Data as Telnet carries it: a byte 255 doubled.
std::string Escaped(const std::string& bytes) {
  std::string wire;
  wire.reserve(bytes.size());
  for (const char c : bytes) {
    wire += c;
    if (static_cast<unsigned char>(c) == kIac) wire += c;
  }
  return wire;
}

std::string LineEndedText(TDeviceErrorCode code, const std::string& why) {
  return std::string(DeviceErrorText(code)) + " (" + why + ")";
}

EDeviceError OsError(TDeviceErrorCode code, int osError) {
  return EDeviceError(FormatOsErrorMessage(DeviceErrorText(code), osError, commos::OsErrorText(osError)),
                      code);
}

// One setting of the line: the command, the value asked for, and how the
// message names it.
struct LineSetting {
  unsigned char Command;
  std::string Value;
  const char* What;
};

std::uint32_t NumberOf(const std::string& value) {
  std::uint32_t number = 0;
  for (const char c : value) number = number << 8 | static_cast<unsigned char>(c);
  return number;
}

}  // namespace

NetLink::NetLink(const LinkAddress& address, const LinkSettings& settings, Clock& clock)
    : address_(address), settings_(settings), clock_(clock) {}

NetLink::~NetLink() { Close(); }

void NetLink::FailOpen(TOpenFailure cause, const std::string& detail) {
  Close();
  EDeviceError error = CannotOpenError(Name(), cause, detail);
  error.Port = Name();
  error.SystemDetail = detail;
  throw error;
}

void NetLink::Open() {
  if (IsOpen()) throw EDeviceError(ecAlreadyOpened);
  netos::TConnectError error;
  socket_ = netos::Connect(address_.Host, address_.TcpPort, clock_, kConnectTimeoutMs, error);
  if (!socket_) {
    std::string detail = error.Code != 0 ? OsErrorDetail(error.Code, error.Text) : error.Text;
    switch (error.Cause) {
      case netos::TConnectFailure::UnknownHost:
        FailOpen(TOpenFailure::UnknownHost, detail);
      case netos::TConnectFailure::Refused:
        FailOpen(TOpenFailure::Refused, detail);
      case netos::TConnectFailure::NoAnswer:
        if (detail.empty()) detail = "nothing within " + std::to_string(kConnectTimeoutMs) + " ms";
        FailOpen(TOpenFailure::NoAnswer, detail);
      case netos::TConnectFailure::None:
      case netos::TConnectFailure::Other:
        break;
    }
    FailOpen(TOpenFailure::Other, detail);
  }
  stopping_.store(false);
  watcher_ = std::thread([this] { Watch(); });
  if (!Telnet()) return;
  try {
    SetUpLine();
  } catch (const EDeviceError& e) {
    if (e.ErrorCode == ecCannotOpen) throw;
    // The stream broke or ended before the line was set: no line to use.
    FailOpen(TOpenFailure::SettingRefused, e.what());
  }
}

void NetLink::Close() {
  if (!socket_) return;
  stopping_.store(true);
  socket_->SignalStop();
  if (watcher_.joinable()) watcher_.join();
  socket_.reset();
  data_.clear();
  state_ = TelnetState::Data;
  sub_.clear();
  for (std::bitset<256>& said : said_) said.reset();
  comPortRefused_ = false;
  answers_.clear();
}

void NetLink::SetUpLine() {
  // Binary both ways, so no byte of the devices' lines is translated, and no
  // go-ahead between them; then the line as a local port sets it, and its
  // queues purged as a local port purges them when it opens.
  for (const unsigned char option : {kComPort, kBinary, kSuppressGoAhead}) SendOption(kWill, option);
  for (const unsigned char option : {kBinary, kSuppressGoAhead}) SendOption(kDo, option);
  CheckSettings();
}

void NetLink::CheckSettings() {
  const LineSetting settings[] = {
      {kSetBaudRate, BigEndian32(settings_.HighSpeed ? 115200 : 19200), "bit/s"},
      {kSetDataSize, Bytes({8}), "data bits"},
      {kSetParity, Bytes({kParityNone}), "parity"},
      {kSetStopSize, Bytes({kOneStopBit}), "stop bits"},
      {kSetControl, Bytes({kNoFlowControl}), "flow control"},
      {kPurgeData, Bytes({kPurgeBoth}), "purge"},
  };
  for (const LineSetting& s : settings) SendComPort(s.Command, s.Value);
  const std::uint64_t deadline = clock_.NowMs() + kSettingsTimeoutMs;
  LinkInput input(*this);
  for (;;) {
    Pump();
    if (comPortRefused_)
      FailOpen(TOpenFailure::SettingRefused, "the server does not take the COM port option");
    bool all = true;
    for (const LineSetting& s : settings) {
      const auto answer = answers_.find(s.Command);
      if (answer == answers_.end()) {
        all = false;
        continue;
      }
      if (answer->second != s.Value) {
        FailOpen(TOpenFailure::SettingRefused, std::string(s.What) + ": asked " +
                                                   std::to_string(NumberOf(s.Value)) + ", the server set " +
                                                   std::to_string(NumberOf(answer->second)));
      }
    }
    if (all) return;
    const std::uint64_t now = clock_.NowMs();
    if (now >= deadline) {
      FailOpen(TOpenFailure::SettingRefused,
               "no answer to the line settings within " + std::to_string(kSettingsTimeoutMs) + " ms");
    }
    clock_.SleepMs(static_cast<std::uint32_t>(deadline - now), input);
  }
}

bool NetLink::Write(const std::string& bytes) {
  if (!IsOpen()) throw EDeviceError(ecNotOpened);
  const std::string wire = Telnet() ? Escaped(bytes) : bytes;
  return SendRaw(wire) == wire.size();
}

std::uint32_t NetLink::InputCount() {
  if (!IsOpen()) throw EDeviceError(ecNotOpened);
  Pump();
  return static_cast<std::uint32_t>(data_.size());
}

bool NetLink::ReadAvailable(std::string& text) {
  if (!IsOpen()) return false;
  Pump();
  const bool got = !data_.empty();
  text += data_;
  data_.clear();
  return got;
}

bool NetLink::WaitInput(std::uint32_t realMs) {
  if (!IsOpen()) return false;
  return !data_.empty() || socket_->WaitReadable(realMs);
}

void NetLink::SetRts(bool on) {
  if (IsOpen() && Telnet()) SendComPort(kSetControl, Bytes({on ? kRtsOn : kRtsOff}));
}

void NetLink::SetOnLost(LostHandler handler) {
  std::lock_guard lock(hookMutex_);
  onLost_ = std::move(handler);
}

void NetLink::Pump() {
  char chunk[kReceiveChunk];
  for (;;) {
    const netos::TReceiveResult r = socket_->Receive(chunk, kReceiveChunk);
    if (r.Error != 0) throw OsError(ecRead, r.Error);
    if (r.Closed) throw EDeviceError(LineEndedText(ecRead, "the server closed the connection"), ecRead);
    if (Telnet()) {
      for (std::uint32_t i = 0; i < r.Count; ++i) Decode(static_cast<unsigned char>(chunk[i]));
    } else {
      data_.append(chunk, r.Count);
    }
    if (r.Count < kReceiveChunk) return;
  }
}

void NetLink::Decode(unsigned char byte) {
  auto broken = [](const char* how, unsigned char at) {
    char text[80];
    std::snprintf(text, sizeof text, "the server broke the Telnet stream: %s 0x%02X", how, at);
    return EDeviceError(LineEndedText(ecRead, text), ecRead);
  };
  switch (state_) {
    case TelnetState::Data:
      if (byte == kIac) {
        state_ = TelnetState::Iac;
      } else {
        data_ += static_cast<char>(byte);
      }
      return;
    case TelnetState::Iac:
      state_ = TelnetState::Data;
      if (byte == kIac) {
        data_ += static_cast<char>(byte);
      } else if (byte >= kWill) {
        verb_ = byte;
        state_ = TelnetState::Verb;
      } else if (byte == kSb) {
        sub_.clear();
        state_ = TelnetState::Sub;
      } else if (byte < kSe) {
        throw broken("IAC before", byte);
      }
      // The other commands (no operation, go ahead, ...) carry nothing here.
      return;
    case TelnetState::Verb:
      state_ = TelnetState::Data;
      Negotiated(verb_, byte);
      return;
    case TelnetState::Sub:
      if (byte == kIac) {
        state_ = TelnetState::SubIac;
        return;
      }
      if (sub_.size() >= kMaxSubNegotiation) throw broken("sub-negotiation without an end, at", byte);
      sub_ += static_cast<char>(byte);
      return;
    case TelnetState::SubIac:
      if (byte == kIac) {
        sub_ += static_cast<char>(byte);
        state_ = TelnetState::Sub;
      } else if (byte == kSe) {
        state_ = TelnetState::Data;
        SubNegotiated();
      } else {
        throw broken("IAC inside a sub-negotiation before", byte);
      }
      return;
  }
}

void NetLink::Negotiated(unsigned char verb, unsigned char option) {
  const bool ours = option == kBinary || option == kSuppressGoAhead || option == kComPort;
  switch (verb) {
    case kDo:
      if (ours) {
        SendOption(kWill, option);
      } else {
        SendOption(kWont, option);
      }
      return;
    case kWill:
      if (ours && option != kComPort) {
        SendOption(kDo, option);
      } else {
        SendOption(kDont, option);
      }
      return;
    case kDont:
      if (option == kComPort) comPortRefused_ = true;
      return;
    default:
      return;
  }
}

void NetLink::SubNegotiated() {
  if (sub_.size() < 2 || static_cast<unsigned char>(sub_[0]) != kComPort) return;
  const auto command = static_cast<unsigned char>(sub_[1]);
  if (command < kServerAnswer) return;
  answers_[static_cast<unsigned char>(command - kServerAnswer)] = sub_.substr(2);
}

std::uint32_t NetLink::SendRaw(const std::string& bytes) {
  const commos::TIoResult r =
      socket_->Send(bytes.data(), static_cast<std::uint32_t>(bytes.size()), kSendTimeoutMs);
  if (r.Error != 0) throw OsError(ecWrite, r.Error);
  return r.Count;
}

void NetLink::SendOption(unsigned char verb, unsigned char option) {
  std::bitset<256>& said = said_[verb - kWill];
  if (said.test(option)) return;
  said.set(option);
  SendRaw(Bytes({kIac, verb, option}));
}

void NetLink::SendComPort(unsigned char command, const std::string& value) {
  SendRaw(Bytes({kIac, kSb, kComPort, command}) + Escaped(value) + Bytes({kIac, kSe}));
}

void NetLink::Watch() {
  for (;;) {
    std::string reason;
    const commos::TWaitResult r = socket_->WaitEnded(-1, reason);
    if (r == commos::TWaitResult::Stopped) return;
    if (r != commos::TWaitResult::Failed) continue;
    if (stopping_.load()) return;
    LostHandler handler;
    {
      std::lock_guard lock(hookMutex_);
      handler = onLost_;
    }
    if (handler) handler(reason);
    return;
  }
}

}  // namespace tarvik
