#include "serial/xcomdrv.h"

#include <algorithm>
#include <cstdio>
#include <thread>
#include <vector>

namespace tarvik {
namespace {

using commos::TDeviceControlBlock;

constexpr std::size_t kMaxSystemText = 256;

[[noreturn]] void Raise(TDeviceErrorCode code) { throw EDeviceError(code); }

// While bytes sit unread in the input queue the device stays readable; the
// watcher then looks at the queue count at this pace instead of waking on
// every poll.
constexpr int kWatchBackoffMs = 10;

}  // namespace

// The component's messages, one row per error code.
struct DeviceErrorRow {
  TDeviceErrorCode Code;
  const char* Text;
};
constexpr DeviceErrorRow kDeviceErrors[] = {
    {ecCannotOpen, "Cannot open device %s"},
    {ecNotOpened, "Device not opened."},
    {ecAlreadyOpened, "Device is allready opened."},
    {ecControlBlock, "Unable to update device control block."},
    {ecBuffers, "Unable to update IO buffers."},
    {ecTimeouts, "Unable to update Timeouts."},
    {ecRead, "Unable to read from port."},
    {ecWrite, "Unable to write to port."},
};

const char* DeviceErrorText(TDeviceErrorCode code) {
  for (const auto& e : kDeviceErrors) {
    if (e.Code == code) return e.Text;
  }
  return "";
}

const char* OpenFailureText(TOpenFailure cause) {
  switch (cause) {
    case TOpenFailure::None:
      return "";
    case TOpenFailure::Missing:
      return "no such port";
    case TOpenFailure::Busy:
      return "the port is busy";
    case TOpenFailure::NoPermission:
      return "no permission to open the port";
    case TOpenFailure::NotASerialLine:
      return "not a serial line";
    case TOpenFailure::Other:
      return "the system refused it";
    case TOpenFailure::BadAddress:
      return "bad address";
    case TOpenFailure::UnknownHost:
      return "unknown host";
    case TOpenFailure::Refused:
      return "the server refused the connection";
    case TOpenFailure::NoAnswer:
      return "the server does not answer";
    case TOpenFailure::SettingRefused:
      return "the server refused a line setting";
  }
  return "";
}

std::string CannotOpenText(const std::string& deviceName) {
  const std::string_view format = DeviceErrorText(ecCannotOpen);
  const std::size_t at = format.find("%s");
  std::string text(format.substr(0, at));
  text += deviceName;
  text += format.substr(at + 2);
  return text;
}

EDeviceError CannotOpenError(const std::string& deviceName, TOpenFailure cause, const std::string& detail) {
  std::string text = CannotOpenText(deviceName);
  if (cause != TOpenFailure::None) text += std::string(": ") + OpenFailureText(cause);
  if (!detail.empty()) text += " (" + detail + ")";
  return EDeviceError(text, ecCannotOpen, cause);
}

std::string OsErrorDetail(int osError, const std::string& systemText) {
  std::string sys = systemText.substr(0, kMaxSystemText);
  while (!sys.empty() && (static_cast<unsigned char>(sys.back()) < '!' || sys.back() == '.')) sys.pop_back();
  return std::string(commos::kOsErrorName) + " " + std::to_string(osError) + ": " + sys;
}

std::string FormatOsErrorMessage(const std::string& text, int osError, const std::string& systemText) {
  // "%s (Win32 error %d: %s)" on Windows, as its users know the form from
  // other programs; the system's own name for its errors elsewhere.
  return text + " (" + OsErrorDetail(osError, systemText) + ")";
}

// The watcher: while the port is open it waits on the device, so that a line
// that fails between exchanges (an unplugged adapter, a hung-up line) is told
// at once, and on Windows so that arrivals wake a reader waiting for input.
// It only looks at the device; the bytes stay for whoever reads the port.
class TCommEventThread {
 public:
  explicit TCommEventThread(TXComm& port) : port_(port), device_(*port.device_) {
    thread_ = std::thread([this] { Execute(); });
  }

  ~TCommEventThread() {
    stopping_.store(true);
    device_.SignalStop();
    thread_.join();
  }

  TCommEventThread(const TCommEventThread&) = delete;
  TCommEventThread& operator=(const TCommEventThread&) = delete;

 private:
  void Execute() {
    std::string failure;
    try {
      // Arrivals are told apart from bytes that merely wait unread by a
      // mark: bytes queued now plus all that reads and purges have taken.
      std::uint64_t seenMark = 0;
      bool armed = true;
      for (;;) {
        const commos::TWaitResult r = device_.WaitEvent(armed, armed ? -1 : kWatchBackoffMs);
        if (r == commos::TWaitResult::Stopped) break;
        if (r == commos::TWaitResult::Failed) {
          const commos::TIoResult gone = device_.InputCount();
          failure = gone.Error != 0 ? commos::OsErrorText(gone.Error) : std::string("the line hung up");
          break;
        }
        // Taken before queued: a read in between then shows up as news,
        // never hides an arrival.
        const std::uint64_t taken = port_.taken_.load();
        const commos::TIoResult queued = device_.InputCount();
        if (queued.Error != 0) {
          failure = commos::OsErrorText(queued.Error);
          break;
        }
        const std::uint64_t mark = queued.Count + taken;
        const bool spurious = r == commos::TWaitResult::Input && mark <= seenMark;
        seenMark = mark;
        // With bytes waiting the device stays readable and a wait for input
        // would return at once, again and again: look at the queue at the
        // back-off pace until it has been emptied.
        armed = queued.Count == 0 && !spurious;
      }
    } catch (const std::exception& e) {
      failure = e.what();
    } catch (...) {
      failure = "unknown error";
    }
    // A stop asked for by Close is no failure; anything else is told, and the
    // port goes on without a watcher.
    if (!failure.empty() && !port_.destroying_.load() && !stopping_.load()) {
      if (auto handler = port_.OnWatcherEnd()) handler(failure);
    }
  }

  TXComm& port_;
  commos::TCommDevice& device_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

// ---- the port ----

TXComm::TXComm(Clock& clock, commos::TOpenOptions openOptions)
    : clock_(clock), openOptions_(std::move(openOptions)) {}

TXComm::~TXComm() {
  destroying_.store(true);
  eventThread_.reset();
  device_.reset();
}

void TXComm::Open() {
  if (IsOpen()) Raise(ecAlreadyOpened);
  taken_.store(0);
  commos::TOpenError error;
  device_ = commos::OpenDevice(deviceName_, clock_, error, openOptions_);
  if (!device_) {
    std::string detail;
    if (!error.Holder.empty()) {
      detail = "held by " + error.Holder;
    } else if (error.Code != 0) {
      detail = OsErrorDetail(error.Code, commos::OsErrorText(error.Code));
    }
    EDeviceError failure = CannotOpenError(deviceName_, error.Cause, detail);
    failure.Port = deviceName_;
    failure.Holder = error.Holder;
    if (error.Holder.empty() && error.Code != 0) failure.SystemDetail = detail;
    throw failure;
  }
  eventThread_ = std::make_unique<TCommEventThread>(*this);
  // A failure from here on leaves the port open; destroying it cleans up.
  ApplyLineSettings();
  ApplyBuffers();
  ApplyTimeouts();
}

void TXComm::Close() {
  if (!IsOpen()) Raise(ecNotOpened);
  eventThread_.reset();
  device_.reset();
}

void TXComm::SetDeviceName(const std::string& value) {
  if (!IsOpen()) deviceName_ = value;
}

void TXComm::SetBaudRate(std::uint32_t value) {
  if (value == baudRate_) return;
  baudRate_ = value;
  if (IsOpen()) ApplyLineSettings();
}

void TXComm::RaiseOsError(TDeviceErrorCode code, int osError) const {
  throw EDeviceError(FormatOsErrorMessage(DeviceErrorText(code), osError, commos::OsErrorText(osError)),
                     code);
}

std::uint32_t TXComm::QueueCount(int which) {
  if (!IsOpen()) Raise(ecNotOpened);
  // A device that has gone (unplugged, the other end of a pseudo-terminal
  // closed) can no longer be counted; that is a failed transfer, not an
  // empty queue that would let a reader wait in vain.
  if (which == 0) {
    const commos::TIoResult r = device_->InputCount();
    if (r.Error != 0) RaiseOsError(ecRead, r.Error);
    return r.Count;
  }
  if (which == 1) {
    const commos::TIoResult r = device_->OutputCount();
    if (r.Error != 0) RaiseOsError(ecWrite, r.Error);
    return r.Count;
  }
  return 0;
}

std::uint32_t TXComm::WriteBuffer(const void* data, std::uint32_t count, std::uint32_t timeoutMs) {
  if (!IsOpen()) Raise(ecNotOpened);
  if (count == 0) return 0;
  const std::uint32_t start = TickMs();
  const char* next = static_cast<const char*>(data);
  std::uint32_t remaining = count;
  std::uint32_t written = 0;
  while (remaining > 0) {
    // The driver's own queue where it tells its size, else the one asked for.
    std::uint32_t inputSize = 0;
    std::uint32_t outputSize = 0;
    device_->GetQueueSizes(inputSize, outputSize);
    const std::uint32_t size = outputSize != 0 ? std::min<std::uint32_t>(outputSize, 0xFFFF) : kQueueSize;
    const std::uint32_t queued = QueueCount(1);
    const std::uint32_t space = size > queued ? size - queued : 0;
    if (space != 0) {
      const commos::TIoResult r = device_->Write(next, std::min(space, remaining));
      if (r.Error != 0) RaiseOsError(ecWrite, r.Error);
      if (r.Count > 0) {
        next += r.Count;
        remaining -= r.Count;
        written += r.Count;
        continue;
      }
    }
    if (TickDiff(TickMs(), start) > timeoutMs) break;
    // Nothing moved: wait a moment for the line rather than spin.
    clock_.SleepMs(1);
  }
  return written;
}

std::uint32_t TXComm::WriteBuffer(const void* data, std::uint32_t count) {
  return WriteBuffer(data, count, kTransferTimeoutMs);
}

bool TXComm::WriteString(const std::string& text) {
  const auto size = static_cast<std::uint32_t>(text.size());
  return WriteBuffer(text.data(), size) == size;
}

std::uint32_t TXComm::ReadBuffer(void* data, std::uint32_t count, std::uint32_t timeoutMs) {
  if (!IsOpen()) Raise(ecNotOpened);
  if (count == 0) return 0;
  const std::uint32_t start = TickMs();
  char* next = static_cast<char*>(data);
  std::uint32_t remaining = count;
  std::uint32_t read = 0;
  while (remaining > 0) {
    const std::uint32_t waiting = QueueCount(0);
    if (waiting != 0) {
      const commos::TIoResult r = device_->Read(next, std::min(waiting, remaining));
      if (r.Error != 0) RaiseOsError(ecRead, r.Error);
      if (r.Count > 0) {
        taken_.fetch_add(r.Count);
        next += r.Count;
        remaining -= r.Count;
        read += r.Count;
        continue;
      }
    }
    if (TickDiff(TickMs(), start) > timeoutMs) break;
    // Nothing queued: wait a moment for the line rather than spin.
    clock_.SleepMs(1);
  }
  return read;
}

std::uint32_t TXComm::ReadBuffer(void* data, std::uint32_t count) {
  return ReadBuffer(data, count, kTransferTimeoutMs);
}

bool TXComm::ReadString(std::string& text) {
  text.assign(QueueCount(0), '\0');
  const std::uint32_t n = ReadBuffer(text.data(), static_cast<std::uint32_t>(text.size()));
  text.resize(n);
  return n > 0;
}

bool TXComm::WaitInput(std::uint32_t realMs) { return IsOpen() && device_->WaitInput(realMs); }

void TXComm::SetRTS(bool on) {
  if (IsOpen()) device_->SetRts(on);
}

bool TXComm::ReadDeviceControl(TDeviceControlBlock& dcb) const { return IsOpen() && device_->GetState(dcb); }

bool TXComm::ReadDriverTimeouts(commos::TDriverTimeouts& timeouts) const {
  return IsOpen() && device_->GetTimeouts(timeouts);
}

// ---- line settings ----

void TXComm::ApplyLineSettings() {
  // Binary, 8N1, no handshake of any kind, DTR and RTS down until the
  // exchange raises RTS around a command. The characters are the driver's
  // usual ones; the event character marks the end of a reply line.
  TDeviceControlBlock dcb;
  dcb.fBinary = true;
  dcb.BaudRate = baudRate_;
  dcb.XonLim = kQueueSize / 4;
  dcb.XoffLim = dcb.XonLim;
  dcb.ByteSize = 8;
  dcb.XonChar = 17;
  dcb.XoffChar = 19;
  dcb.EvtChar = '\r';
  if (!device_->SetState(dcb)) Raise(ecControlBlock);
}

void TXComm::ApplyBuffers() {
  // Discarded input counts as taken, so the watcher does not mistake what
  // arrives next for nothing new.
  const commos::TIoResult discarded = device_->InputCount();
  if (discarded.Error == 0) taken_.fetch_add(discarded.Count);
  device_->Purge();
  if (!device_->SetupQueues(kQueueSize, kQueueSize)) Raise(ecBuffers);
}

void TXComm::ApplyTimeouts() {
  // A read never waits in the driver (the port waits on the clock); a write
  // may take 30 ms a byte, enough for the slowest line the devices use.
  commos::TDriverTimeouts t;
  t.ReadInterval = 1;
  t.ReadMultiplier = 30;
  t.ReadConstant = 1;
  t.WriteMultiplier = 30;
  t.WriteConstant = 1;
  if (!device_->SetTimeouts(t)) Raise(ecTimeouts);
}

TXComm::TWatcherEndEvent TXComm::OnWatcherEnd() const {
  std::lock_guard lock(hookMutex_);
  return onWatcherEnd_;
}

void TXComm::SetOnWatcherEnd(TWatcherEndEvent handler) {
  std::lock_guard lock(hookMutex_);
  onWatcherEnd_ = std::move(handler);
}

}  // namespace tarvik
