#pragma once
// One connection to a device and everything that lives exactly as long as
// it: the log writer, the port worker, the controller, the main worker
// thread and, while one runs, a task such as a reflash. It has one owner,
// an explicit state, and one teardown that waits for every worker before
// the controller and the port go.
#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "common/clock.h"
#include "common/logwriter.h"
#include "common/workerthread.h"
#include "device/controller.h"
#include "device/deviceevents.h"
#include "device/mainthread.h"
#include "serial/comportworker.h"
#include "serial/deviceerror.h"
#include "serial/link.h"

namespace tarvik {

enum class ConnectionState {
  Closed,       // no port
  Identifying,  // the main worker thread asks the device what it is
  Idle,         // the port is open and no worker talks to the device
  Flashing,     // a task owns the device
  Closing,      // the teardown waits for the workers
};

const char* ConnectionStateName(ConnectionState state);

// Work that owns the device on a worker thread of its own for a while (a
// reflash). The connection stops it and waits for it before it lets the
// controller and the port go.
class ConnectionTask {
 public:
  virtual ~ConnectionTask() = default;
  virtual TWorkerThread& Thread() = 0;
  // What runs on the thread.
  virtual void Body() = 0;
};

// What a connection needs from its surroundings.
struct ConnectionSetup {
  // What the connection tells, its traffic log included.
  DeviceEvents& Events;
  UiSync& Sync;
  Clock& Time = SystemClock();
  // Makes the link an address names; tests put a link of their own here.
  LinkFactory Links = MakeLink;
};

class TConnection {
 public:
  explicit TConnection(ConnectionSetup setup);
  // Closes, waiting for the workers.
  ~TConnection();
  TConnection(const TConnection&) = delete;
  TConnection& operator=(const TConnection&) = delete;

  // Opens the link the address names with its log writer and creates the
  // controller: Closed to Idle. Errors of the link (EDeviceError) reach the
  // caller, and the connection then stays closed with nothing held.
  // highSpeed: 115200 bit/s instead of 19200.
  void Open(const LinkAddress& address, bool highSpeed = false);
  // The serial port by the name the port opens ("ttyUSB0", "pts/3").
  void Open(const std::string& portName, bool highSpeed = false);
  // Identification and the update decision on the main worker thread: Idle
  // to Identifying, and Idle again once the device has answered or not.
  void StartIdentification(MainThreadSteps& steps);
  // Hands the device to the task: the main worker thread is asked to stop
  // (it only idles by now and never touches the port again) and the task's
  // thread starts; Flashing until its body returns. False, and the task is
  // dropped unstarted, unless the connection is idle.
  bool StartTask(std::unique_ptr<ConnectionTask> task);
  // Stops every worker, waits for each (serving their UI steps, and with
  // keepPainting letting the windows repaint), then releases the controller,
  // the port and the log writer, in that order; true once closed. Called
  // from inside one of its workers' UI steps (a dialog the decision opened)
  // it cannot wait for that worker: it asks the workers to stop and returns
  // false, and the caller closes again once the step has returned. A Close
  // while one is under way (from inside its wait) returns false at once.
  bool Close(bool keepPainting = false);

  ConnectionState State() const { return state_.load(); }
  bool IsOpen() const { return worker_ != nullptr; }
  TComPortWorker* PortWorker() const { return worker_.get(); }
  TController* Controller() const { return controller_.get(); }
  TLogWriter* Log() const { return log_.get(); }
  TMainThread* MainThread() const { return mainThread_.get(); }
  ConnectionTask* Task() const { return task_.get(); }
  // The task's thread is still running.
  bool TaskRunning() const;

  // A line of the traffic log.
  void WriteLog(const std::string& line);

 private:
  void OnLineLost(const std::string& reason);
  void ToIdleFrom(ConnectionState from);

  ConnectionSetup setup_;
  std::atomic<ConnectionState> state_{ConnectionState::Closed};
  // A task has had the device on this connection.
  std::atomic<bool> taskStarted_{false};
  // The device answered its identification; until then a lost line is the
  // identification's to tell.
  std::atomic<bool> identified_{false};
  // The lost line has been told; a connection tells it once.
  std::atomic<bool> lineLostTold_{false};
  // Created in this order and released in the reverse one.
  std::unique_ptr<TLogWriter> log_;
  std::unique_ptr<TComPortWorker> worker_;
  std::unique_ptr<TController> controller_;
  std::unique_ptr<TMainThread> mainThread_;
  std::unique_ptr<ConnectionTask> task_;
};

// "Связь с устройством потеряна"
std::string LinkLostText();
// "Ошибка при открытии Com порта! " + message, and where the cause of a
// failed open leaves the user something to do, what: for a port the user
// may not open, " Для доступа к порту пользователь должен входить в группу
// dialout."
std::string OpenPortErrorText(const std::string& message, TOpenFailure cause = TOpenFailure::None);
// The same for what opening a port threw.
std::string OpenPortErrorText(const std::exception& error);
// What the windows say of a port that did not open, in Russian:
// "Ошибка при открытии Com порта! Не удалось открыть порт ttyUSB0: порт
// занят (его использует программа minicom, pid 1234)." with the system's own
// error text where it gave one, and on a line of its own what the user can
// do about it. Any other error keeps its own words.
std::string PortOpenFailureText(const std::exception& error);
// "Завершение обмена с устройством..."
std::string ClosingText();

}  // namespace tarvik
