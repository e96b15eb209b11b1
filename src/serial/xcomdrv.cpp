#include "serial/xcomdrv.h"

#include <algorithm>
#include <cstdio>
#include <thread>
#include <vector>

namespace tarvik {
namespace {

using commos::TDeviceControlBlock;
using commos::TDtrControl;
using commos::TRtsControl;

constexpr std::size_t kMaxSystemText = 256;

constexpr std::uint8_t kSendBusy = 1;
constexpr std::uint8_t kReadBusy = 2;

[[noreturn]] void Raise(TDeviceErrorCode code) { throw EDeviceError(code); }

std::uint16_t ClampQueueSize(std::uint16_t size) { return std::clamp(size, kMinQueueSize, kMaxQueueSize); }

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
    {ecSendLocked, "Device locked. Cannot perform send operations."},
    {ecReadLocked, "Device locked. Cannot perform read operations."},
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

// The event watcher: waits for arrived characters while the port is open
// and hands them to the port's dispatch. It only looks at the device; the
// bytes stay for whoever reads the port.
class TCommEventThread {
 public:
  explicit TCommEventThread(TCustomComm& port) : port_(port), device_(*port.device_) {
    thread_ = std::thread([this] { Execute(); });
  }

  ~TCommEventThread() {
    stopping_.store(true);
    device_.SignalStop();
    // A watcher may be waiting for the UI thread to run its dispatch; when
    // the UI thread is the one waiting here, it must keep serving.
    UiSync* sync = port_.GetUiSync();
    if (sync != nullptr && sync->OnUiThread()) sync->WaitServicing([this] { return finished_.load(); });
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
        // Taken before queued: a read in between then shows up as news (a
        // spare event), never hides an arrival.
        const std::uint64_t taken = port_.taken_.load();
        const commos::TIoResult queued = device_.InputCount();
        if (queued.Error != 0) {
          failure = commos::OsErrorText(queued.Error);
          break;
        }
        const std::uint64_t mark = queued.Count + taken;
        mask_ = mark > seenMark ? TDeviceEvents{deChar}.ToBits() : 0;
        const bool spurious = r == commos::TWaitResult::Input && mask_ == 0;
        seenMark = mark;
        // With bytes waiting the device stays readable and a wait for input
        // would return at once, again and again: look at the queue at the
        // back-off pace until it has been emptied.
        armed = queued.Count == 0 && !spurious;
        if (mask_ != 0) Dispatch(mask_);
      }
    } catch (const std::exception& e) {
      failure = e.what();
    } catch (...) {
      failure = "unknown error";
    }
    finished_.store(true);
    // A stop asked for by Close is no failure; anything else is told, and the
    // port goes on without events.
    if (!failure.empty() && !port_.destroying_.load() && !stopping_.load()) {
      if (auto handler = port_.OnWatcherEnd()) handler(port_, failure);
    }
  }

  void Dispatch(std::uint32_t mask) {
    auto step = [this, mask] {
      if (mask != 0) port_.DispatchEvents(TDeviceEvents::FromBits(static_cast<std::uint16_t>(mask)));
    };
    UiSync* sync = port_.GetUiSync();
    if (port_.Synchronize() && sync != nullptr) {
      sync->RunSync(step);
    } else {
      step();
    }
  }

  TCustomComm& port_;
  commos::TCommDevice& device_;
  std::uint32_t mask_ = 0;
  std::atomic<bool> finished_{false};
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

// ---- settings groups ----

TDataBits TCommDataControl::DataBits() const {
  TDeviceControlBlock dcb;
  if (comm_.ReadDeviceControl(dcb) && dcb.ByteSize >= 4 && dcb.ByteSize <= 8) {
    return static_cast<TDataBits>(dcb.ByteSize - 4);
  }
  return dataBits_;
}

void TCommDataControl::SetDataBits(TDataBits value) {
  if (value == dataBits_) return;
  dataBits_ = value;
  if (comm_.IsOpen()) comm_.ApplyLineSettings();
}

TParity TCommDataControl::Parity() const {
  TDeviceControlBlock dcb;
  if (comm_.ReadDeviceControl(dcb) && dcb.Parity <= paSpace) return static_cast<TParity>(dcb.Parity);
  return parity_;
}

void TCommDataControl::SetParity(TParity value) {
  if (value == parity_) return;
  parity_ = value;
  if (comm_.IsOpen()) comm_.ApplyLineSettings();
}

TStopBits TCommDataControl::StopBits() const {
  TDeviceControlBlock dcb;
  if (comm_.ReadDeviceControl(dcb) && dcb.StopBits <= sb2) return static_cast<TStopBits>(dcb.StopBits);
  return stopBits_;
}

void TCommDataControl::SetStopBits(TStopBits value) {
  if (value == stopBits_) return;
  stopBits_ = value;
  if (comm_.IsOpen()) comm_.ApplyLineSettings();
}

void TCommDataControl::Assign(const TCommDataControl& source) {
  const TDataBits dataBits = source.DataBits();
  const TParity parity = source.Parity();
  const TStopBits stopBits = source.StopBits();
  dataBits_ = dataBits;
  parity_ = parity;
  stopBits_ = stopBits;
  if (comm_.IsOpen()) comm_.ApplyLineSettings();
}

std::uint16_t TCommBuffers::InputSize() const {
  if (comm_.IsOpen()) {
    std::uint32_t in = 0;
    std::uint32_t out = 0;
    comm_.device_->GetQueueSizes(in, out);
    if (in != 0) return static_cast<std::uint16_t>(std::min<std::uint32_t>(in, 0xFFFF));
  }
  return inputSize_;
}

void TCommBuffers::SetInputSize(std::uint16_t value) {
  value = ClampQueueSize(value);
  if (value == inputSize_) return;
  inputSize_ = value;
  if (comm_.IsOpen()) comm_.ApplyBuffers();
}

std::uint16_t TCommBuffers::OutputSize() const {
  if (comm_.IsOpen()) {
    std::uint32_t in = 0;
    std::uint32_t out = 0;
    comm_.device_->GetQueueSizes(in, out);
    if (out != 0) return static_cast<std::uint16_t>(std::min<std::uint32_t>(out, 0xFFFF));
  }
  return outputSize_;
}

void TCommBuffers::SetOutputSize(std::uint16_t value) {
  value = ClampQueueSize(value);
  if (value == outputSize_) return;
  outputSize_ = value;
  if (comm_.IsOpen()) comm_.ApplyBuffers();
}

void TCommBuffers::Assign(const TCommBuffers& source) {
  const std::uint16_t inputSize = source.InputSize();
  const std::uint16_t inputTimeout = source.InputTimeout();
  const std::uint16_t outputSize = source.OutputSize();
  const std::uint16_t outputTimeout = source.OutputTimeout();
  inputSize_ = ClampQueueSize(inputSize);
  inputTimeout_ = inputTimeout;
  outputSize_ = ClampQueueSize(outputSize);
  outputTimeout_ = outputTimeout;
  if (comm_.IsOpen()) comm_.ApplyBuffers();
}

char TCommEventChars::Char(int index) const {
  if (index < 0 || index > EventIndex) return 0;
  TDeviceControlBlock dcb;
  if (comm_.ReadDeviceControl(dcb)) {
    const char fromDevice[5] = {dcb.XonChar, dcb.XoffChar, dcb.EofChar, dcb.ErrorChar, dcb.EvtChar};
    return fromDevice[index];
  }
  return chars_[index];
}

void TCommEventChars::SetChar(int index, char value) {
  if (index < 0 || index > EventIndex || chars_[index] == value) return;
  chars_[index] = value;
  if (comm_.IsOpen()) comm_.ApplyLineSettings();
}

void TCommEventChars::Assign(const TCommEventChars& source) {
  char values[5];
  for (int i = 0; i <= EventIndex; ++i) values[i] = source.Char(i);
  std::copy(std::begin(values), std::end(values), chars_);
  if (comm_.IsOpen()) comm_.ApplyLineSettings();
}

std::uint32_t TCommTimeoutsEx::Value(int index) const {
  if (index < 0 || index > WriteConstantIndex) return 0;
  commos::TDriverTimeouts t;
  if (comm_.IsOpen() && comm_.device_->GetTimeouts(t)) {
    const std::uint32_t fromDevice[5] = {t.ReadInterval, t.ReadMultiplier, t.ReadConstant, t.WriteMultiplier,
                                         t.WriteConstant};
    return fromDevice[index];
  }
  return values_[index];
}

void TCommTimeoutsEx::SetValue(int index, std::uint32_t value) {
  if (index < 0 || index > WriteConstantIndex || values_[index] == value) return;
  values_[index] = value;
  if (comm_.IsOpen()) comm_.ApplyTimeouts();
}

void TCommTimeoutsEx::Assign(const TCommTimeoutsEx& source) {
  std::uint32_t values[5];
  for (int i = 0; i <= WriteConstantIndex; ++i) values[i] = source.Value(i);
  std::copy(std::begin(values), std::end(values), values_);
  if (comm_.IsOpen()) comm_.ApplyTimeouts();
}

// ---- the port ----

TCustomComm::TCustomComm(Clock& clock) : clock_(clock) {}

TCustomComm::~TCustomComm() { Shutdown(); }

void TCustomComm::Shutdown() noexcept {
  destroying_.store(true);
  eventThread_.reset();
  device_.reset();
}

std::uint8_t TCustomComm::LockState() const { return IsOpen() ? busy_.load() : kSendBusy | kReadBusy; }

void TCustomComm::Open() {
  if (IsOpen()) Raise(ecAlreadyOpened);
  busy_.store(0);
  taken_.store(0);
  commos::TOpenError error;
  device_ = deviceOpener_ ? deviceOpener_(deviceName_, clock_, error)
                          : commos::OpenDevice(deviceName_, clock_, error);
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

void TCustomComm::Close() {
  if (!IsOpen()) Raise(ecNotOpened);
  eventThread_.reset();
  device_.reset();
}

void TCustomComm::RaiseOsError(TDeviceErrorCode code, int osError) const {
  throw EDeviceError(FormatOsErrorMessage(DeviceErrorText(code), osError, commos::OsErrorText(osError)),
                     code);
}

std::uint32_t TCustomComm::QueueCount(int which) {
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

std::uint32_t TCustomComm::WriteBuffer(const void* data, std::uint32_t count, std::uint32_t timeoutMs) {
  if (!IsOpen()) Raise(ecNotOpened);
  if ((LockState() & kSendBusy) != 0) Raise(ecSendLocked);
  if (count == 0) return 0;
  const std::uint32_t start = TickMs();
  const char* next = static_cast<const char*>(data);
  std::uint32_t remaining = count;
  std::uint32_t written = 0;
  while (remaining > 0) {
    const std::uint32_t size = Buffers().OutputSize();
    const std::uint32_t queued = QueueCount(1);
    const std::uint32_t space = size > queued ? size - queued : 0;
    if (space != 0) {
      const commos::TIoResult r = device_->Write(next, std::min(space, remaining));
      if (r.Error != 0) RaiseOsError(ecWrite, r.Error);
      DispatchEvents(TDeviceEvents{deOutEmpty});
      if (r.Count > 0) {
        next += r.Count;
        remaining -= r.Count;
        written += r.Count;
        busy_.fetch_or(kSendBusy);
        try {
          if (auto handler = OnSend()) handler(*this);
        } catch (...) {
          busy_.fetch_and(static_cast<std::uint8_t>(~kSendBusy));
          throw;
        }
        busy_.fetch_and(static_cast<std::uint8_t>(~kSendBusy));
        continue;
      }
    }
    if (TickDiff(TickMs(), start) > timeoutMs) break;
    // Nothing moved: wait a moment for the line rather than spin.
    clock_.SleepMs(1);
  }
  return written;
}

std::uint32_t TCustomComm::WriteBuffer(const void* data, std::uint32_t count) {
  return WriteBuffer(data, count, Buffers().OutputTimeout());
}

bool TCustomComm::WriteString(const std::string& text) {
  const auto size = static_cast<std::uint32_t>(text.size());
  return WriteBuffer(text.data(), size) == size;
}

std::uint32_t TCustomComm::ReadBuffer(void* data, std::uint32_t count, std::uint32_t timeoutMs) {
  if (!IsOpen()) Raise(ecNotOpened);
  if ((LockState() & kReadBusy) != 0) Raise(ecReadLocked);
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
        // The watcher may only look at the queue, never into it, so the
        // event character becomes known when a read takes it.
        const char eventChar = eventChars_.chars_[TCommEventChars::EventIndex];
        const bool flagged = std::find(next, next + r.Count, eventChar) != next + r.Count;
        taken_.fetch_add(r.Count);
        next += r.Count;
        remaining -= r.Count;
        read += r.Count;
        if (flagged) DispatchEvents(TDeviceEvents{deFlag});
        busy_.fetch_or(kReadBusy);
        try {
          if (auto handler = OnRead()) handler(*this);
        } catch (...) {
          busy_.fetch_and(static_cast<std::uint8_t>(~kReadBusy));
          throw;
        }
        busy_.fetch_and(static_cast<std::uint8_t>(~kReadBusy));
        continue;
      }
    }
    if (TickDiff(TickMs(), start) > timeoutMs) break;
    // Nothing queued: wait a moment for the line rather than spin.
    clock_.SleepMs(1);
  }
  return read;
}

std::uint32_t TCustomComm::ReadBuffer(void* data, std::uint32_t count) {
  return ReadBuffer(data, count, Buffers().InputTimeout());
}

bool TCustomComm::ReadString(std::string& text) {
  text.assign(QueueCount(0), '\0');
  const std::uint32_t n = ReadBuffer(text.data(), static_cast<std::uint32_t>(text.size()));
  text.resize(n);
  return n > 0;
}

void TCustomComm::DispatchEvents(TDeviceEvents events) {
  if (!IsOpen() || destroying_.load()) return;
  DoCommEvent(events);
}

void TCustomComm::DoCommEvent(TDeviceEvents events) {
  if (events.Contains(deChar) || events.Contains(deFlag)) DoData(QueueCount(0));
  const TDeviceEvents monitored = events * MonitorEvents();
  if (monitored.Empty()) return;
  if (auto handler = OnCommEvent()) handler(*this, monitored);
}

void TCustomComm::DoData(std::uint32_t received) {
  if (auto handler = OnData()) handler(*this, received);
}

bool TCustomComm::WaitInput(std::uint32_t realMs) { return IsOpen() && device_->WaitInput(realMs); }

void TCustomComm::SetRTS(bool on) {
  if (IsOpen()) device_->SetRts(on);
}

bool TCustomComm::ReadDeviceControl(TDeviceControlBlock& dcb) const {
  return IsOpen() && device_->GetState(dcb);
}

// ---- line settings ----

void TCustomComm::ApplyLineSettings() {
  TDeviceControlBlock dcb;
  dcb.fBinary = true;
  if (dtrSettings_.Contains(fsDSROut)) dcb.fOutxDsrFlow = true;
  if (dtrSettings_.Contains(fsDTREnabled)) dcb.fDtrControl = TDtrControl::Enable;
  if (dtrSettings_.Contains(fsDTRHandshake)) dcb.fDtrControl = TDtrControl::Handshake;
  if (rtsSettings_.Contains(fsCTSOut)) dcb.fOutxCtsFlow = true;
  const bool rtsOn = rtsSettings_.Contains(fsRTSEnabled);
  const bool rtsHandshake = rtsSettings_.Contains(fsRTSHandshake);
  if (rtsOn && rtsHandshake) {
    dcb.fRtsControl = TRtsControl::Toggle;
  } else if (rtsOn) {
    dcb.fRtsControl = TRtsControl::Enable;
  } else if (rtsHandshake) {
    dcb.fRtsControl = TRtsControl::Handshake;
  }
  dcb.fInX = xOnXOffSettings_.Contains(fsInX);
  dcb.fOutX = xOnXOffSettings_.Contains(fsOutX);
  dcb.fParity = options_.Contains(coParityCheck);
  dcb.fDsrSensitivity = options_.Contains(coDSRSensitivity);
  dcb.fErrorChar = options_.Contains(coErrorChar);
  dcb.fNull = options_.Contains(coDiscardNull);
  dcb.fAbortOnError = options_.Contains(coAbortOnError);
  dcb.fTXContinueOnXoff = options_.Contains(coTXContinueOnXOff);
  if (options_.Contains(coLeaveDTROpen)) dcb.fDtrControl = TDtrControl::Enable;

  dcb.BaudRate = baudValue_;
  dcb.XonLim = static_cast<std::uint16_t>(buffers_.inputSize_ / 4);
  dcb.XoffLim = dcb.XonLim;
  dcb.ByteSize = static_cast<std::uint8_t>(dataControl_.dataBits_ + 4);
  dcb.Parity = dataControl_.parity_;
  dcb.StopBits = dataControl_.stopBits_;
  const char* chars = eventChars_.chars_;
  dcb.XonChar = chars[TCommEventChars::XonIndex];
  dcb.XoffChar = chars[TCommEventChars::XoffIndex];
  dcb.ErrorChar = chars[TCommEventChars::ErrorIndex];
  dcb.EofChar = chars[TCommEventChars::EofIndex];
  dcb.EvtChar = chars[TCommEventChars::EventIndex];
  if (!device_->SetState(dcb)) Raise(ecControlBlock);
}

void TCustomComm::ApplyBuffers() {
  // Discarded input counts as taken, so the watcher does not mistake what
  // arrives next for nothing new.
  const commos::TIoResult discarded = device_->InputCount();
  if (discarded.Error == 0) taken_.fetch_add(discarded.Count);
  device_->Purge();
  if (!device_->SetupQueues(buffers_.inputSize_, buffers_.outputSize_)) Raise(ecBuffers);
}

void TCustomComm::ApplyTimeouts() {
  const std::uint32_t* v = timeouts_.values_;
  commos::TDriverTimeouts t;
  t.ReadInterval = v[TCommTimeoutsEx::ReadIntervalIndex];
  t.ReadMultiplier = v[TCommTimeoutsEx::ReadMultiplierIndex];
  t.ReadConstant = v[TCommTimeoutsEx::ReadConstantIndex];
  t.WriteMultiplier = v[TCommTimeoutsEx::WriteMultiplierIndex];
  t.WriteConstant = v[TCommTimeoutsEx::WriteConstantIndex];
  if (!device_->SetTimeouts(t)) Raise(ecTimeouts);
}

void TCustomComm::ApplyFlowPreset(TFlowControl preset) {
  switch (preset) {
    case fcNone:
      rtsSettings_ = {};
      dtrSettings_ = {};
      xOnXOffSettings_ = {};
      break;
    case fcRtsCts:
      rtsSettings_ = {fsCTSOut, fsRTSHandshake};
      dtrSettings_ = {fsDTREnabled};
      xOnXOffSettings_ = {};
      break;
    case fcDtrDsr:
      rtsSettings_ = {fsRTSEnabled};
      dtrSettings_ = {fsDSROut, fsDTREnabled};
      xOnXOffSettings_ = {};
      break;
    case fcSoftware:
      rtsSettings_ = {};
      dtrSettings_ = {fsDTREnabled};
      xOnXOffSettings_ = {fsInX, fsOutX};
      break;
    case fcCustom:
      rtsSettings_ = {};
      dtrSettings_ = {fsDTREnabled};
      xOnXOffSettings_ = {};
      break;
  }
  if (options_.Contains(coLeaveDTROpen)) dtrSettings_.Include(fsDTREnabled).Exclude(fsDTRHandshake);
}

bool TCustomComm::ReadBackState(TDeviceControlBlock& dcb) const {
  if (!ReadDeviceControl(dcb)) return false;
  baudValue_ = dcb.BaudRate;
  if (baudRate_ != brCustom) {
    const auto* found = std::find(std::begin(kBaudRateTable), std::end(kBaudRateTable), dcb.BaudRate);
    baudRate_ = found == std::end(kBaudRateTable)
                    ? brCustom
                    : static_cast<TBaudRate>(found - std::begin(kBaudRateTable));
  }

  TRTSSettings rts;
  if (dcb.fOutxCtsFlow) rts.Include(fsCTSOut);
  if (dcb.fRtsControl == TRtsControl::Enable || dcb.fRtsControl == TRtsControl::Toggle)
    rts.Include(fsRTSEnabled);
  if (dcb.fRtsControl == TRtsControl::Handshake || dcb.fRtsControl == TRtsControl::Toggle) {
    rts.Include(fsRTSHandshake);
  }
  rtsSettings_ = rts;

  TDTRSettings dtr;
  if (dcb.fOutxDsrFlow) dtr.Include(fsDSROut);
  if (dcb.fDtrControl == TDtrControl::Enable) dtr.Include(fsDTREnabled);
  if (dcb.fDtrControl == TDtrControl::Handshake) dtr.Include(fsDTRHandshake);
  dtrSettings_ = dtr;

  TXOnXOffSettings xon;
  if (dcb.fInX) xon.Include(fsInX);
  if (dcb.fOutX) xon.Include(fsOutX);
  xOnXOffSettings_ = xon;

  // Leaving DTR up on close has no flag of its own in the device's
  // configuration, so that one option keeps its stored state.
  TCommOptions options;
  if (dcb.fAbortOnError) options.Include(coAbortOnError);
  if (dcb.fNull) options.Include(coDiscardNull);
  if (dcb.fDsrSensitivity) options.Include(coDSRSensitivity);
  if (dcb.fErrorChar) options.Include(coErrorChar);
  if (dcb.fParity) options.Include(coParityCheck);
  if (dcb.fTXContinueOnXoff) options.Include(coTXContinueOnXOff);
  if (options_.Contains(coLeaveDTROpen)) options.Include(coLeaveDTROpen);
  options_ = options;
  return true;
}

TBaudRate TCustomComm::BaudRate() const {
  TDeviceControlBlock dcb;
  ReadBackState(dcb);
  return baudRate_;
}

void TCustomComm::SetBaudRate(TBaudRate value) {
  if (value == baudRate_) return;
  baudRate_ = value;
  if (value != brCustom) baudValue_ = kBaudRateTable[value];
  if (IsOpen()) ApplyLineSettings();
}

std::uint32_t TCustomComm::BaudValue() const {
  TDeviceControlBlock dcb;
  ReadBackState(dcb);
  return baudValue_;
}

void TCustomComm::SetBaudValue(std::uint32_t value) {
  if (baudRate_ != brCustom || value == baudValue_) return;
  baudValue_ = value;
  if (IsOpen()) ApplyLineSettings();
}

void TCustomComm::SetDeviceName(const std::string& value) {
  if (!IsOpen()) deviceName_ = value;
}

TDTRSettings TCustomComm::DTRSettings() const {
  TDeviceControlBlock dcb;
  ReadBackState(dcb);
  return dtrSettings_;
}

void TCustomComm::SetDTRSettings(TDTRSettings value) {
  if (flowControl_ != fcCustom) return;
  if (options_.Contains(coLeaveDTROpen)) value.Include(fsDTREnabled).Exclude(fsDTRHandshake);
  if (value.Contains(fsDTREnabled) && value.Contains(fsDTRHandshake)) {
    value.Exclude(dtrSettings_.Contains(fsDTRHandshake) ? fsDTRHandshake : fsDTREnabled);
  }
  if (value == dtrSettings_) return;
  dtrSettings_ = value;
  if (IsOpen()) ApplyLineSettings();
}

void TCustomComm::SetFlowControl(TFlowControl value) {
  if (value == flowControl_) return;
  flowControl_ = value;
  if (value != fcCustom) ApplyFlowPreset(value);
  if (IsOpen()) ApplyLineSettings();
}

TCommOptions TCustomComm::Options() const {
  TDeviceControlBlock dcb;
  ReadBackState(dcb);
  return options_;
}

void TCustomComm::SetOptions(TCommOptions value) {
  if (IsOpen()) {
    if (options_.Contains(coLeaveDTROpen)) {
      value.Include(coLeaveDTROpen);
    } else {
      value.Exclude(coLeaveDTROpen);
    }
  }
  if (value == options_) return;
  options_ = value;
  if (IsOpen()) {
    ApplyLineSettings();
  } else {
    ApplyFlowPreset(flowControl_);
  }
}

TRTSSettings TCustomComm::RTSSettings() const {
  TDeviceControlBlock dcb;
  ReadBackState(dcb);
  return rtsSettings_;
}

void TCustomComm::SetRTSSettings(TRTSSettings value) {
  if (flowControl_ != fcCustom || value == rtsSettings_) return;
  rtsSettings_ = value;
  if (IsOpen()) ApplyLineSettings();
}

TXOnXOffSettings TCustomComm::XOnXOffSettings() const {
  TDeviceControlBlock dcb;
  ReadBackState(dcb);
  return xOnXOffSettings_;
}

void TCustomComm::SetXOnXOffSettings(TXOnXOffSettings value) {
  if (flowControl_ != fcCustom || value == xOnXOffSettings_) return;
  xOnXOffSettings_ = value;
  if (IsOpen()) ApplyLineSettings();
}

// ---- hooks ----

TCustomComm::TCommEvent TCustomComm::OnCommEvent() const {
  std::lock_guard lock(hookMutex_);
  return onCommEvent_;
}
void TCustomComm::SetOnCommEvent(TCommEvent handler) {
  std::lock_guard lock(hookMutex_);
  onCommEvent_ = std::move(handler);
}
TCustomComm::TDataEvent TCustomComm::OnData() const {
  std::lock_guard lock(hookMutex_);
  return onData_;
}
void TCustomComm::SetOnData(TDataEvent handler) {
  std::lock_guard lock(hookMutex_);
  onData_ = std::move(handler);
}
TCustomComm::TNotifyEvent TCustomComm::OnRead() const {
  std::lock_guard lock(hookMutex_);
  return onRead_;
}
void TCustomComm::SetOnRead(TNotifyEvent handler) {
  std::lock_guard lock(hookMutex_);
  onRead_ = std::move(handler);
}
TCustomComm::TNotifyEvent TCustomComm::OnSend() const {
  std::lock_guard lock(hookMutex_);
  return onSend_;
}
void TCustomComm::SetOnSend(TNotifyEvent handler) {
  std::lock_guard lock(hookMutex_);
  onSend_ = std::move(handler);
}
TCustomComm::TWatcherEndEvent TCustomComm::OnWatcherEnd() const {
  std::lock_guard lock(hookMutex_);
  return onWatcherEnd_;
}
void TCustomComm::SetOnWatcherEnd(TWatcherEndEvent handler) {
  std::lock_guard lock(hookMutex_);
  onWatcherEnd_ = std::move(handler);
}

}  // namespace tarvik
