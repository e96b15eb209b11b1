#pragma once
// The serial port component: one COM device with its line settings, driver
// queue sizes and time-outs, its reads and writes with a time limit, and the
// event watcher thread that lives while the device is open.
#include <atomic>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>

#include "common/clock.h"
#include "common/uisync.h"
#include "serial/commos.h"
#include "serial/deviceerror.h"

namespace tarvik {

enum TBaudRate : std::uint8_t {
  br110,
  br300,
  br600,
  br1200,
  br2400,
  br4800,
  br9600,
  br14400,
  br19200,
  br38400,
  br56000,
  br57600,
  br115200,
  br128000,
  br256000,
  brCustom
};
enum TDataBits : std::uint8_t { db4, db5, db6, db7, db8 };
enum TParity : std::uint8_t { paNone, paOdd, paEven, paMark, paSpace };
enum TStopBits : std::uint8_t { sb1, sb1p5, sb2 };
enum TFlowControl : std::uint8_t { fcNone, fcRtsCts, fcDtrDsr, fcSoftware, fcCustom };
enum TRTSSetting : std::uint8_t { fsCTSOut, fsRTSEnabled, fsRTSHandshake };
enum TDTRSetting : std::uint8_t { fsDSROut, fsDTREnabled, fsDTRHandshake };
enum TXOnXOffSetting : std::uint8_t { fsInX, fsOutX };
enum TCommOption : std::uint8_t {
  coAbortOnError,
  coDiscardNull,
  coDSRSensitivity,
  coErrorChar,
  coParityCheck,
  coTXContinueOnXOff,
  coLeaveDTROpen
};
// Member ordinal i is the driver's event flag 2^i.
enum TDeviceEvent : std::uint8_t {
  deChar,
  deFlag,
  deOutEmpty,
  deCTS,
  deDSR,
  deRLSD,
  deBreak,
  deError,
  deRing,
  dePrintError,
  deIn80Full,
  deProv1,
  deProv2
};

// A set of enumeration members stored as a bit mask: member ordinal = bit.
template <typename E, typename Bits>
class TSet {
 public:
  constexpr TSet() = default;
  constexpr TSet(std::initializer_list<E> members) {
    for (E m : members) Include(m);
  }
  static constexpr TSet FromBits(Bits bits) {
    TSet s;
    s.bits_ = bits;
    return s;
  }
  constexpr Bits ToBits() const { return bits_; }
  constexpr bool Contains(E m) const { return (bits_ & Bit(m)) != 0; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr TSet& Include(E m) {
    bits_ = static_cast<Bits>(bits_ | Bit(m));
    return *this;
  }
  constexpr TSet& Exclude(E m) {
    bits_ = static_cast<Bits>(bits_ & ~Bit(m));
    return *this;
  }
  friend constexpr TSet operator+(TSet a, TSet b) { return FromBits(static_cast<Bits>(a.bits_ | b.bits_)); }
  friend constexpr TSet operator*(TSet a, TSet b) { return FromBits(static_cast<Bits>(a.bits_ & b.bits_)); }
  friend constexpr TSet operator-(TSet a, TSet b) { return FromBits(static_cast<Bits>(a.bits_ & ~b.bits_)); }
  friend constexpr bool operator==(TSet, TSet) = default;

 private:
  static constexpr Bits Bit(E m) { return static_cast<Bits>(Bits{1} << static_cast<unsigned>(m)); }
  Bits bits_ = 0;
};

using TRTSSettings = TSet<TRTSSetting, std::uint8_t>;
using TDTRSettings = TSet<TDTRSetting, std::uint8_t>;
using TXOnXOffSettings = TSet<TXOnXOffSetting, std::uint8_t>;
using TCommOptions = TSet<TCommOption, std::uint8_t>;
using TDeviceEvents = TSet<TDeviceEvent, std::uint16_t>;

// The rates that TBaudRate indexes; brCustom stands for BaudValue as set.
inline constexpr std::uint32_t kBaudRateTable[15] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                                                     19200, 38400, 56000, 57600, 115200, 128000, 256000};

// Queue sizes a port accepts; the driver of a current system takes no more.
inline constexpr std::uint16_t kMinQueueSize = 128;
inline constexpr std::uint16_t kMaxQueueSize = 4096;

class TCustomComm;

class TCommDataControl {
 public:
  explicit TCommDataControl(TCustomComm& comm) : comm_(comm) {}
  TCommDataControl(const TCommDataControl&) = delete;
  TCommDataControl& operator=(const TCommDataControl&) = delete;

  TDataBits DataBits() const;
  void SetDataBits(TDataBits value);
  TParity Parity() const;
  void SetParity(TParity value);
  TStopBits StopBits() const;
  void SetStopBits(TStopBits value);
  void Assign(const TCommDataControl& source);

 private:
  friend class TCustomComm;
  TCustomComm& comm_;
  TDataBits dataBits_ = db8;
  TParity parity_ = paNone;
  TStopBits stopBits_ = sb1;
};

class TCommBuffers {
 public:
  explicit TCommBuffers(TCustomComm& comm) : comm_(comm) {}
  TCommBuffers(const TCommBuffers&) = delete;
  TCommBuffers& operator=(const TCommBuffers&) = delete;

  std::uint16_t InputSize() const;
  void SetInputSize(std::uint16_t value);
  std::uint16_t InputTimeout() const { return inputTimeout_; }
  void SetInputTimeout(std::uint16_t value) { inputTimeout_ = value; }
  std::uint16_t OutputSize() const;
  void SetOutputSize(std::uint16_t value);
  std::uint16_t OutputTimeout() const { return outputTimeout_; }
  void SetOutputTimeout(std::uint16_t value) { outputTimeout_ = value; }
  void Assign(const TCommBuffers& source);

 private:
  friend class TCustomComm;
  TCustomComm& comm_;
  std::uint16_t inputSize_ = 2048;
  std::uint16_t inputTimeout_ = 500;
  std::uint16_t outputSize_ = 2048;
  std::uint16_t outputTimeout_ = 500;
};

class TCommEventChars {
 public:
  // Indexes of Char and SetChar.
  enum : int { XonIndex, XoffIndex, EofIndex, ErrorIndex, EventIndex };

  explicit TCommEventChars(TCustomComm& comm) : comm_(comm) {}
  TCommEventChars(const TCommEventChars&) = delete;
  TCommEventChars& operator=(const TCommEventChars&) = delete;

  char XonChar() const { return Char(XonIndex); }
  void SetXonChar(char value) { SetChar(XonIndex, value); }
  char XoffChar() const { return Char(XoffIndex); }
  void SetXoffChar(char value) { SetChar(XoffIndex, value); }
  char ErrorChar() const { return Char(ErrorIndex); }
  void SetErrorChar(char value) { SetChar(ErrorIndex, value); }
  char EventChar() const { return Char(EventIndex); }
  void SetEventChar(char value) { SetChar(EventIndex, value); }
  char EofChar() const { return Char(EofIndex); }
  void SetEofChar(char value) { SetChar(EofIndex, value); }

  char Char(int index) const;
  void SetChar(int index, char value);
  void Assign(const TCommEventChars& source);

 private:
  friend class TCustomComm;
  TCustomComm& comm_;
  char chars_[5] = {17, 19, 0, 0, 10};  // in index order
};

class TCommTimeoutsEx {
 public:
  // Indexes of Value and SetValue.
  enum : int {
    ReadIntervalIndex,
    ReadMultiplierIndex,
    ReadConstantIndex,
    WriteMultiplierIndex,
    WriteConstantIndex
  };

  explicit TCommTimeoutsEx(TCustomComm& comm) : comm_(comm) {}
  TCommTimeoutsEx(const TCommTimeoutsEx&) = delete;
  TCommTimeoutsEx& operator=(const TCommTimeoutsEx&) = delete;

  std::uint32_t ReadInterval() const { return Value(ReadIntervalIndex); }
  void SetReadInterval(std::uint32_t v) { SetValue(ReadIntervalIndex, v); }
  std::uint32_t ReadMultiplier() const { return Value(ReadMultiplierIndex); }
  void SetReadMultiplier(std::uint32_t v) { SetValue(ReadMultiplierIndex, v); }
  std::uint32_t ReadConstant() const { return Value(ReadConstantIndex); }
  void SetReadConstant(std::uint32_t v) { SetValue(ReadConstantIndex, v); }
  std::uint32_t WriteMultiplier() const { return Value(WriteMultiplierIndex); }
  void SetWriteMultiplier(std::uint32_t v) { SetValue(WriteMultiplierIndex, v); }
  std::uint32_t WriteConstant() const { return Value(WriteConstantIndex); }
  void SetWriteConstant(std::uint32_t v) { SetValue(WriteConstantIndex, v); }

  std::uint32_t Value(int index) const;
  void SetValue(int index, std::uint32_t value);
  void Assign(const TCommTimeoutsEx& source);

 private:
  friend class TCustomComm;
  TCustomComm& comm_;
  std::uint32_t values_[5] = {1, 30, 1, 30, 1};  // in index order
};

class TCommEventThread;

class TCustomComm {
 public:
  using TCommEvent = std::function<void(TCustomComm& sender, TDeviceEvents events)>;
  using TDataEvent = std::function<void(TCustomComm& sender, std::uint32_t received)>;
  using TNotifyEvent = std::function<void(TCustomComm& sender)>;
  // The watcher ended on its own: the device failed (an unplugged adapter, a
  // hung-up line) or a notification raised. Runs on the watcher thread.
  using TWatcherEndEvent = std::function<void(TCustomComm& sender, const std::string& reason)>;

  explicit TCustomComm(Clock& clock = SystemClock());
  virtual ~TCustomComm();
  TCustomComm(const TCustomComm&) = delete;
  TCustomComm& operator=(const TCustomComm&) = delete;

  // 3 (both directions locked) while closed, else the busy flags: bit 0
  // while an OnSend handler runs, bit 1 while an OnRead handler runs.
  virtual std::uint8_t LockState() const;
  virtual void Open();
  virtual void Close();
  bool IsOpen() const { return device_ != nullptr; }

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

  void DispatchEvents(TDeviceEvents events);
  std::uint32_t TickMs() const { return clock_.TickMs(); }

  // Raises or drops RTS by hand (for a port without flow control); does
  // nothing on a closed port, and a line the device lacks is ignored.
  void SetRTS(bool on);

  // Where Synchronize sends notifications; without one they run on the
  // watcher thread. Set it while the port is closed.
  void SetUiSync(UiSync* sync) { uiSync_.store(sync); }
  UiSync* GetUiSync() const { return uiSync_.load(); }

  TWatcherEndEvent OnWatcherEnd() const;
  void SetOnWatcherEnd(TWatcherEndEvent handler);

  // The line configuration as the device holds it now; false while closed.
  bool ReadDeviceControl(commos::TDeviceControlBlock& dcb) const;

  // How Open reaches the OS device: commos::OpenDevice unless set. A test
  // wraps the real device in one that records what reaches it, such as the
  // RTS line a pseudo-terminal does not have, or opens it with options of its
  // own. Set it while the port is closed.
  using TDeviceOpener = std::function<std::unique_ptr<commos::TCommDevice>(
      const std::string& name, Clock& clock, commos::TOpenError& error)>;
  void SetDeviceOpener(TDeviceOpener opener) { deviceOpener_ = std::move(opener); }

 protected:
  virtual void DoCommEvent(TDeviceEvents events);
  virtual void DoData(std::uint32_t received);
  // Ends the watcher and closes the device without raising. The watcher
  // calls the overridable operations, so every class that overrides them
  // calls this first thing in its destructor, before its part is gone.
  void Shutdown() noexcept;

  TBaudRate BaudRate() const;
  void SetBaudRate(TBaudRate value);
  std::uint32_t BaudValue() const;
  void SetBaudValue(std::uint32_t value);
  TCommBuffers& Buffers() { return buffers_; }
  const TCommBuffers& Buffers() const { return buffers_; }
  void SetBuffers(const TCommBuffers& value) { buffers_.Assign(value); }
  TCommDataControl& DataControl() { return dataControl_; }
  const TCommDataControl& DataControl() const { return dataControl_; }
  void SetDataControl(const TCommDataControl& value) { dataControl_.Assign(value); }
  const std::string& DeviceName() const { return deviceName_; }
  void SetDeviceName(const std::string& value);
  TDTRSettings DTRSettings() const;
  void SetDTRSettings(TDTRSettings value);
  TCommEventChars& EventChars() { return eventChars_; }
  const TCommEventChars& EventChars() const { return eventChars_; }
  void SetEventChars(const TCommEventChars& value) { eventChars_.Assign(value); }
  TDeviceEvents MonitorEvents() const { return TDeviceEvents::FromBits(monitorEvents_.load()); }
  void SetMonitorEvents(TDeviceEvents value) { monitorEvents_.store(value.ToBits()); }
  TFlowControl FlowControl() const { return flowControl_; }
  void SetFlowControl(TFlowControl value);
  TCommOptions Options() const;
  void SetOptions(TCommOptions value);
  TRTSSettings RTSSettings() const;
  void SetRTSSettings(TRTSSettings value);
  bool Synchronize() const { return synchronize_.load(); }
  void SetSynchronize(bool value) { synchronize_.store(value); }
  TCommTimeoutsEx& Timeouts() { return timeouts_; }
  const TCommTimeoutsEx& Timeouts() const { return timeouts_; }
  void SetTimeouts(const TCommTimeoutsEx& value) { timeouts_.Assign(value); }
  TXOnXOffSettings XOnXOffSettings() const;
  void SetXOnXOffSettings(TXOnXOffSettings value);

  TCommEvent OnCommEvent() const;
  void SetOnCommEvent(TCommEvent handler);
  TDataEvent OnData() const;
  void SetOnData(TDataEvent handler);
  TNotifyEvent OnRead() const;
  void SetOnRead(TNotifyEvent handler);
  TNotifyEvent OnSend() const;
  void SetOnSend(TNotifyEvent handler);

 private:
  friend class TCommDataControl;
  friend class TCommBuffers;
  friend class TCommEventChars;
  friend class TCommTimeoutsEx;
  friend class TCommEventThread;

  void ApplyLineSettings();
  void ApplyBuffers();
  void ApplyTimeouts();
  void ApplyFlowPreset(TFlowControl preset);
  // Reads the device's line configuration and takes the line sets,
  // options and rate from it into the stored values.
  bool ReadBackState(commos::TDeviceControlBlock& dcb) const;
  [[noreturn]] void RaiseOsError(TDeviceErrorCode code, int osError) const;

  Clock& clock_;
  TDeviceOpener deviceOpener_;
  std::unique_ptr<commos::TCommDevice> device_;
  mutable TBaudRate baudRate_ = br9600;
  mutable std::uint32_t baudValue_ = 9600;
  TCommBuffers buffers_{*this};
  TCommDataControl dataControl_{*this};
  std::string deviceName_ = "COM2";
  mutable TDTRSettings dtrSettings_;
  TCommEventChars eventChars_{*this};
  std::atomic<std::uint16_t> monitorEvents_{TDeviceEvents{deChar, deFlag, deOutEmpty}.ToBits()};
  TFlowControl flowControl_ = fcNone;
  mutable TCommOptions options_;
  mutable TRTSSettings rtsSettings_;
  std::atomic<bool> synchronize_{true};
  TCommTimeoutsEx timeouts_{*this};
  mutable TXOnXOffSettings xOnXOffSettings_;

  mutable std::mutex hookMutex_;
  TCommEvent onCommEvent_;
  TDataEvent onData_;
  TNotifyEvent onRead_;
  TNotifyEvent onSend_;
  TWatcherEndEvent onWatcherEnd_;

  std::unique_ptr<TCommEventThread> eventThread_;
  std::atomic<std::uint8_t> busy_{0};
  // Bytes that reads and purges have taken from the input queue since Open.
  std::atomic<std::uint64_t> taken_{0};
  std::atomic<bool> destroying_{false};
  std::atomic<UiSync*> uiSync_{nullptr};
};

// The published face of the port: every property of the component.
class TXComm : public TCustomComm {
 public:
  using TCustomComm::TCustomComm;
  ~TXComm() override { Shutdown(); }

  using TCustomComm::BaudRate;
  using TCustomComm::BaudValue;
  using TCustomComm::Buffers;
  using TCustomComm::DataControl;
  using TCustomComm::DeviceName;
  using TCustomComm::DTRSettings;
  using TCustomComm::EventChars;
  using TCustomComm::FlowControl;
  using TCustomComm::MonitorEvents;
  using TCustomComm::OnCommEvent;
  using TCustomComm::OnData;
  using TCustomComm::OnRead;
  using TCustomComm::OnSend;
  using TCustomComm::Options;
  using TCustomComm::RTSSettings;
  using TCustomComm::SetBaudRate;
  using TCustomComm::SetBaudValue;
  using TCustomComm::SetBuffers;
  using TCustomComm::SetDataControl;
  using TCustomComm::SetDeviceName;
  using TCustomComm::SetDTRSettings;
  using TCustomComm::SetEventChars;
  using TCustomComm::SetFlowControl;
  using TCustomComm::SetMonitorEvents;
  using TCustomComm::SetOnCommEvent;
  using TCustomComm::SetOnData;
  using TCustomComm::SetOnRead;
  using TCustomComm::SetOnSend;
  using TCustomComm::SetOptions;
  using TCustomComm::SetRTSSettings;
  using TCustomComm::SetSynchronize;
  using TCustomComm::SetTimeouts;
  using TCustomComm::SetXOnXOffSettings;
  using TCustomComm::Synchronize;
  using TCustomComm::Timeouts;
  using TCustomComm::XOnXOffSettings;
};

}  // namespace tarvik
