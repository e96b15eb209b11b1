// Serial backend for Windows: a COM device opened for overlapped I/O, driven
// through the communications calls of kernel32. The watcher waits on an
// overlapped WaitCommEvent beside a stop event; a reader waiting for input
// is woken by the watcher's wake-ups instead of a second WaitCommEvent,
// which the system allows only one of per handle.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <memory>
#include <string>

#include "common/codepage_win32.h"
#include "serial/commos.h"

namespace tarvik::commos {

const char* const kOsErrorName = "Win32 error";

namespace {

// Every event of the device except "output empty", which the port raises
// itself after each write.
constexpr DWORD kWatchedEvents = EV_RXCHAR | EV_RXFLAG | EV_CTS | EV_DSR | EV_RLSD | EV_BREAK | EV_ERR |
                                 EV_RING | EV_PERR | EV_RX80FULL | EV_EVENT1 | EV_EVENT2;
// The events of a line without modem lines (a virtual port, Wine's view of
// a pseudo-terminal), whose driver refuses to wait for the others.
constexpr DWORD kModemEvents = EV_CTS | EV_DSR | EV_RLSD | EV_RING;

// A driver may end an event wait without an event (Wine's does so every few
// milliseconds); the watcher then looks at the queue and waits anew after
// this pause, rather than spinning on the driver.
constexpr DWORD kAbortedWaitPauseMs = 5;
// How long the closing port waits for the driver to end the watcher's
// cancelled WaitCommEvent, before and after closing the handle.
constexpr DWORD kCancelledWaitMs = 1000;

// A reader waiting for input looks at the queue this often even without a
// wake-up from the watcher (a watcher that has ended wakes nobody).
constexpr DWORD kInputLookMs = 10;

int LastError() { return static_cast<int>(::GetLastError()); }

// A manual-reset event, not signalled; null when the system has none left.
HANDLE NewEvent() { return ::CreateEventW(nullptr, TRUE, FALSE, nullptr); }

class Win32CommDevice final : public TCommDevice {
 public:
  Win32CommDevice(HANDLE port, HANDLE inUse, HANDLE stop, HANDLE arrival, HANDLE readDone, HANDLE writeDone,
                  HANDLE commEvent, Clock& clock)
      : port_(port),
        inUse_(inUse),
        stop_(stop),
        arrival_(arrival),
        readDone_(readDone),
        writeDone_(writeDone),
        commEvent_(commEvent),
        clock_(clock) {}

  ~Win32CommDevice() override {
    // An event wait still with the driver writes into this object when it
    // ends: end it and wait for that before the memory goes.
    // A driver that keeps a cancelled wait (seen under Wine) must not hold
    // the program: closing the handle ends what is still pending, and a
    // wait the driver holds even then keeps its record and its event, so
    // that nothing it writes later lands in freed memory.
    bool portClosed = false;
    bool eventHeld = false;
    if (eventPending_) {
      ::SetCommMask(port_, 0);
      ::CancelIoEx(port_, &eventWait_->overlapped);
      if (::WaitForSingleObject(commEvent_, kCancelledWaitMs) != WAIT_OBJECT_0) {
        ::CloseHandle(port_);
        portClosed = true;
        if (::WaitForSingleObject(commEvent_, kCancelledWaitMs) != WAIT_OBJECT_0) {
          static_cast<void>(eventWait_.release());
          eventHeld = true;
        }
      }
    }
    if (!portClosed) ::CloseHandle(port_);
    for (HANDLE h : {inUse_, stop_, arrival_, readDone_, writeDone_}) ::CloseHandle(h);
    if (!eventHeld) ::CloseHandle(commEvent_);
  }

  bool SetState(const TDeviceControlBlock& dcb) override {
    // What the tty layer of the other systems refuses is refused here too,
    // so a setting fails the same way wherever the tool runs.
    if (dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > 4 || dcb.StopBits > 2) {
      ::SetLastError(ERROR_INVALID_PARAMETER);
      return false;
    }
    DCB d{};
    d.DCBlength = sizeof d;
    d.BaudRate = dcb.BaudRate;
    d.fBinary = dcb.fBinary;
    d.fParity = dcb.fParity;
    d.fOutxCtsFlow = dcb.fOutxCtsFlow;
    d.fOutxDsrFlow = dcb.fOutxDsrFlow;
    d.fDtrControl = static_cast<DWORD>(dcb.fDtrControl) & 3u;
    d.fDsrSensitivity = dcb.fDsrSensitivity;
    d.fTXContinueOnXoff = dcb.fTXContinueOnXoff;
    d.fOutX = dcb.fOutX;
    d.fInX = dcb.fInX;
    d.fErrorChar = dcb.fErrorChar;
    d.fNull = dcb.fNull;
    d.fRtsControl = static_cast<DWORD>(dcb.fRtsControl) & 3u;
    d.fAbortOnError = dcb.fAbortOnError;
    d.XonLim = dcb.XonLim;
    d.XoffLim = dcb.XoffLim;
    d.ByteSize = dcb.ByteSize;
    d.Parity = dcb.Parity;
    d.StopBits = dcb.StopBits;
    d.XonChar = dcb.XonChar;
    d.XoffChar = dcb.XoffChar;
    d.ErrorChar = dcb.ErrorChar;
    d.EofChar = dcb.EofChar;
    d.EvtChar = dcb.EvtChar;
    if (!::SetCommState(port_, &d)) return false;
    dcb_ = dcb;
    return true;
  }

  // The line as the driver has it: rate, frame, parity check, software
  // flow and the hardware handshake, the settings every serial layer can
  // tell. The rest reads back as it was set: Wine's driver, for one, tells
  // the modem lines' levels for the DTR and RTS modes and drops the event
  // character, and the model must not take those for settings.
  bool GetState(TDeviceControlBlock& dcb) override {
    DCB d{};
    d.DCBlength = sizeof d;
    if (!::GetCommState(port_, &d)) return false;
    dcb = dcb_;
    dcb.BaudRate = d.BaudRate;
    dcb.ByteSize = d.ByteSize;
    dcb.Parity = d.Parity;
    // One and a half and two stop bits are one setting to some drivers.
    if (d.StopBits == ONESTOPBIT || dcb.StopBits == ONESTOPBIT) dcb.StopBits = d.StopBits;
    dcb.fParity = d.fParity != 0;
    dcb.fInX = d.fInX != 0;
    dcb.fOutX = d.fOutX != 0;
    dcb.XonChar = d.XonChar;
    dcb.XoffChar = d.XoffChar;
    if (!d.fOutxCtsFlow) {
      dcb.fOutxCtsFlow = false;
      if (dcb.fRtsControl == TRtsControl::Handshake) dcb.fRtsControl = TRtsControl::Enable;
    } else if (!dcb.fOutxCtsFlow && dcb.fRtsControl != TRtsControl::Handshake) {
      dcb.fOutxCtsFlow = true;
      dcb.fRtsControl = TRtsControl::Handshake;
    }
    return true;
  }

  void Purge() override { ::PurgeComm(port_, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR); }

  bool SetupQueues(std::uint32_t inputSize, std::uint32_t outputSize) override {
    return ::SetupComm(port_, inputSize, outputSize) != 0;
  }

  void GetQueueSizes(std::uint32_t& inputSize, std::uint32_t& outputSize) override {
    COMMPROP p{};
    if (!::GetCommProperties(port_, &p)) {
      inputSize = 0;
      outputSize = 0;
      return;
    }
    inputSize = p.dwCurrentRxQueue;
    outputSize = p.dwCurrentTxQueue;
  }

  bool SetTimeouts(const TDriverTimeouts& timeouts) override {
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = timeouts.ReadInterval;
    t.ReadTotalTimeoutMultiplier = timeouts.ReadMultiplier;
    t.ReadTotalTimeoutConstant = timeouts.ReadConstant;
    t.WriteTotalTimeoutMultiplier = timeouts.WriteMultiplier;
    t.WriteTotalTimeoutConstant = timeouts.WriteConstant;
    if (!::SetCommTimeouts(port_, &t)) return false;
    timeouts_ = timeouts;
    return true;
  }

  bool GetTimeouts(TDriverTimeouts& timeouts) override {
    COMMTIMEOUTS t{};
    if (!::GetCommTimeouts(port_, &t)) return false;
    timeouts.ReadInterval = t.ReadIntervalTimeout;
    timeouts.ReadMultiplier = t.ReadTotalTimeoutMultiplier;
    timeouts.ReadConstant = t.ReadTotalTimeoutConstant;
    timeouts.WriteMultiplier = t.WriteTotalTimeoutMultiplier;
    timeouts.WriteConstant = t.WriteTotalTimeoutConstant;
    return true;
  }

  TIoResult InputCount() override {
    COMSTAT s{};
    if (!Status(s)) return {0, LastError()};
    return {s.cbInQue, 0};
  }

  TIoResult OutputCount() override {
    COMSTAT s{};
    if (!Status(s)) return {0, LastError()};
    return {s.cbOutQue, 0};
  }

  TIoResult Write(const char* data, std::uint32_t count) override {
    // The driver time-outs bound the transfer; the same bound then covers
    // the wait until the bytes have left the driver, as a write ends on the
    // other systems.
    const std::uint64_t limit =
        std::uint64_t{timeouts_.WriteMultiplier} * count + std::uint64_t{timeouts_.WriteConstant};
    const std::uint64_t start = clock_.NowMs();
    auto timeUp = [&] { return limit != 0 && clock_.NowMs() - start >= limit; };

    DWORD written = 0;
    if (count != 0) {
      OVERLAPPED ov{};
      ov.hEvent = writeDone_;
      if (!::WriteFile(port_, data, count, nullptr, &ov) && ::GetLastError() != ERROR_IO_PENDING) {
        return {0, LastError()};
      }
      if (!::GetOverlappedResult(port_, &ov, &written, TRUE)) return {0, LastError()};
    }
    for (;;) {
      const TIoResult pending = OutputCount();
      if (pending.Error != 0) return {0, pending.Error};
      if (pending.Count == 0) return {written, 0};
      if (timeUp()) {
        // What the line did not take in time is dropped, as the driver
        // drops what a timed-out write left.
        ::PurgeComm(port_, PURGE_TXCLEAR);
        return {pending.Count < written ? written - pending.Count : 0, 0};
      }
      clock_.SleepMs(1);
    }
  }

  TIoResult Read(char* data, std::uint32_t count) override {
    // Only what is queued is asked for, so the read never waits, whatever
    // read time-outs the port was given.
    const TIoResult queued = InputCount();
    if (queued.Error != 0) return queued;
    const DWORD wanted = std::min(count, queued.Count);
    if (wanted == 0) return {0, 0};
    OVERLAPPED ov{};
    ov.hEvent = readDone_;
    DWORD read = 0;
    if (!::ReadFile(port_, data, wanted, nullptr, &ov) && ::GetLastError() != ERROR_IO_PENDING) {
      return {0, LastError()};
    }
    if (!::GetOverlappedResult(port_, &ov, &read, TRUE)) return {0, LastError()};
    return {read, 0};
  }

  void SetRts(bool on) override { ::EscapeCommFunction(port_, on ? SETRTS : CLRRTS); }

  TWaitResult WaitEvent(bool watchInput, int timeoutMs) override {
    const DWORD wait = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
    if (!watchInput) {
      // A failure then shows in the next queue count.
      const DWORD r = ::WaitForSingleObject(stop_, wait);
      if (r == WAIT_OBJECT_0) return TWaitResult::Stopped;
      return r == WAIT_TIMEOUT ? TWaitResult::TimedOut : TWaitResult::Failed;
    }
    for (;;) {
      if (!eventPending_ && !StartEventWait()) return TWaitResult::Failed;
      const HANDLE handles[2] = {stop_, commEvent_};
      const DWORD r = ::WaitForMultipleObjects(2, handles, FALSE, wait);
      if (r == WAIT_OBJECT_0) return TWaitResult::Stopped;
      if (r == WAIT_TIMEOUT) return TWaitResult::TimedOut;
      if (r != WAIT_OBJECT_0 + 1) return TWaitResult::Failed;
      eventPending_ = false;
      DWORD unused = 0;
      if (!::GetOverlappedResult(port_, &eventWait_->overlapped, &unused, FALSE)) {
        if (::GetLastError() != ERROR_OPERATION_ABORTED) return TWaitResult::Failed;
        if (::WaitForSingleObject(stop_, kAbortedWaitPauseMs) == WAIT_OBJECT_0) return TWaitResult::Stopped;
      }
      ::SetEvent(arrival_);
      // The mask may come back empty, and a wake need not mean bytes: the
      // queue tells.
      const TIoResult queued = InputCount();
      if (queued.Error != 0) return TWaitResult::Failed;
      if (queued.Count != 0) return TWaitResult::Input;
      if (timeoutMs >= 0) return TWaitResult::TimedOut;
    }
  }

  void SignalStop() override { ::SetEvent(stop_); }

  bool WaitInput(std::uint32_t timeoutMs) override {
    // Cleared before the count is read, so an arrival after the count
    // leaves the event set.
    ::ResetEvent(arrival_);
    if (InputOrFailure()) return true;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      const DWORD slice = std::min<DWORD>(static_cast<DWORD>(left.count()), kInputLookMs);
      if (::WaitForSingleObject(arrival_, slice) == WAIT_OBJECT_0) ::ResetEvent(arrival_);
      if (InputOrFailure()) return true;
    }
  }

 private:
  // Issues the watcher's WaitCommEvent. A driver that cannot watch the
  // modem lines refuses the whole wait; the watcher then does without them.
  bool StartEventWait() {
    for (;;) {
      *eventWait_ = EventWait{};
      eventWait_->overlapped.hEvent = commEvent_;
      ::ResetEvent(commEvent_);
      // Done at once or pending, the event of the record tells.
      if (::WaitCommEvent(port_, &eventWait_->mask, &eventWait_->overlapped) ||
          ::GetLastError() == ERROR_IO_PENDING) {
        eventPending_ = true;
        return true;
      }
      if (::GetLastError() != ERROR_NOT_SUPPORTED || (watched_ & kModemEvents) == 0) return false;
      watched_ &= ~kModemEvents;
      if (!::SetCommMask(port_, watched_)) return false;
    }
  }

  bool Status(COMSTAT& status) {
    DWORD errors = 0;
    return ::ClearCommError(port_, &errors, &status) != 0;
  }

  bool InputOrFailure() {
    const TIoResult queued = InputCount();
    return queued.Error != 0 || queued.Count != 0;
  }

  const HANDLE port_;
  // Named after the port while this device holds it (see OpenDevice).
  const HANDLE inUse_;
  const HANDLE stop_;
  // Set by the watcher at each wake-up, for a reader in WaitInput.
  const HANDLE arrival_;
  const HANDLE readDone_;
  const HANDLE writeDone_;
  const HANDLE commEvent_;
  Clock& clock_;
  TDeviceControlBlock dcb_;
  TDriverTimeouts timeouts_;
  // The watcher's WaitCommEvent; only the watcher thread touches these.
  // On the heap, so that a wait the driver never ends can outlive the port.
  struct EventWait {
    OVERLAPPED overlapped{};
    DWORD mask = 0;
  };
  std::unique_ptr<EventWait> eventWait_ = std::make_unique<EventWait>();
  bool eventPending_ = false;
  DWORD watched_ = kWatchedEvents;
};

// Why the system refused a port, by its error code. A COM port that another
// program holds answers "access denied": the system opens a port for one
// handle only, whoever may use it.
TOpenFailure CauseOf(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_UNIT:
    case ERROR_DEV_NOT_EXIST:
      return TOpenFailure::Missing;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
      return TOpenFailure::Busy;
    default:
      return TOpenFailure::Other;
  }
}

// A named object stands for the port while this tool holds it. The system
// opens a COM port for one handle only, but Wine lets any number of handles
// open the same device; the name keeps a second open out there too, as the
// lock does on Linux. It lives in the session's namespace and goes with the
// last handle, so a program that dies leaves no stale lock behind.
HANDLE ClaimPort(const std::wstring& portName) {
  // Port names are case-blind; a backslash cannot stand in an object name.
  std::wstring name = L"Local\\TarvikComPort-";
  for (wchar_t c : portName) {
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    name += c == L'\\' ? L'_' : c;
  }
  const HANDLE claim = ::CreateEventW(nullptr, TRUE, FALSE, name.c_str());
  if (claim != nullptr && ::GetLastError() == ERROR_ALREADY_EXISTS) {
    ::CloseHandle(claim);
    ::SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  return claim;
}

}  // namespace

std::unique_ptr<TCommDevice> OpenDevice(const std::string& name, Clock& clock, TOpenError& error,
                                        const TOpenOptions&) {
  error = {};
  const auto failed = [&error](DWORD code) -> std::unique_ptr<TCommDevice> {
    error.Cause = CauseOf(code);
    error.Code = static_cast<int>(code);
    return nullptr;
  };
  const std::wstring wideName = WideText(name);
  const HANDLE inUse = ClaimPort(wideName);
  if (inUse == nullptr) return failed(::GetLastError());
  const std::wstring path = L"\\\\.\\" + wideName;
  // No sharing: a second open fails, in this process or any other.
  const HANDLE port = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
  if (port == INVALID_HANDLE_VALUE) {
    const DWORD code = ::GetLastError();
    ::CloseHandle(inUse);
    return failed(code);
  }
  // A name may lead to another device (NUL, a printer port's driver
  // without a line); only a device with a line configuration is a port.
  DCB line{};
  line.DCBlength = sizeof line;
  if (::GetFileType(port) != FILE_TYPE_CHAR || !::GetCommState(port, &line)) {
    ::CloseHandle(port);
    ::CloseHandle(inUse);
    error.Cause = TOpenFailure::NotASerialLine;
    return nullptr;
  }
  HANDLE events[5] = {};
  for (HANDLE& e : events) {
    e = NewEvent();
    if (e == nullptr) {
      const DWORD code = ::GetLastError();
      for (HANDLE made : events) {
        if (made != nullptr) ::CloseHandle(made);
      }
      ::CloseHandle(port);
      ::CloseHandle(inUse);
      return failed(code);
    }
  }
  ::SetCommMask(port, kWatchedEvents);
  return std::make_unique<Win32CommDevice>(port, inUse, events[0], events[1], events[2], events[3], events[4],
                                           clock);
}

std::string OsErrorText(int error) {
  wchar_t buffer[512];
  // Language 0: the user's language as the system shows its own messages.
  const DWORD n =
      ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(error), 0, buffer, static_cast<DWORD>(std::size(buffer)), nullptr);
  if (n == 0) return "Unknown error " + std::to_string(error);
  return NarrowText(std::wstring_view(buffer, n));
}

}  // namespace tarvik::commos
