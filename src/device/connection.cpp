#include "device/connection.h"

#include "common/text.h"

namespace tarvik {

const char* ConnectionStateName(ConnectionState state) {
  switch (state) {
    case ConnectionState::Closed:
      return "closed";
    case ConnectionState::Identifying:
      return "identifying";
    case ConnectionState::Idle:
      return "idle";
    case ConnectionState::Flashing:
      return "flashing";
    case ConnectionState::Closing:
      return "closing";
  }
  return "?";
}

std::string LinkLostText() { return Utf8ToCp1251("Связь с устройством потеряна"); }

std::string OpenPortErrorText(const std::string& message, TOpenFailure cause) {
  std::string text = Utf8ToCp1251("Ошибка при открытии Com порта! ") + message;
  // Serial ports belong to the group dialout; a user outside it is refused
  // whatever the port's state.
  if (cause == TOpenFailure::NoPermission) {
    text += Utf8ToCp1251(" Для доступа к порту пользователь должен входить в группу dialout.");
  }
  return text;
}

std::string OpenPortErrorText(const std::exception& error) {
  const auto* device = dynamic_cast<const EDeviceError*>(&error);
  return OpenPortErrorText(error.what(), device != nullptr ? device->OpenFailure : TOpenFailure::None);
}

namespace {

// What the windows say after the port's name for each cause of a failed
// open; the causes not here say nothing more than the system's text.
struct OpenFailureWords {
  TOpenFailure Cause;
  const char* Words;  // UTF-8
};
constexpr OpenFailureWords kOpenFailureWords[] = {
    {TOpenFailure::Missing, ": такого порта нет"},
    {TOpenFailure::Busy, ": порт занят"},
    {TOpenFailure::NoPermission, ": нет прав на доступ к порту"},
    {TOpenFailure::NotASerialLine, ": это не последовательный порт"},
    {TOpenFailure::BadAddress, ": неверный адрес"},
    {TOpenFailure::UnknownHost, ": узел не найден"},
    {TOpenFailure::Refused, ": сервер отказал в соединении"},
    {TOpenFailure::NoAnswer, ": сервер не отвечает"},
    {TOpenFailure::SettingRefused, ": сервер не принял настройки линии"},
};

}  // namespace

std::string PortOpenFailureText(const std::exception& error) {
  const auto* device = dynamic_cast<const EDeviceError*>(&error);
  if (device == nullptr || device->ErrorCode != ecCannotOpen || device->Port.empty()) {
    return OpenPortErrorText(error);
  }
  std::string text = Utf8ToCp1251("Ошибка при открытии Com порта! Не удалось открыть порт ") + device->Port;
  for (const OpenFailureWords& words : kOpenFailureWords) {
    if (words.Cause == device->OpenFailure) text += Utf8ToCp1251(words.Words);
  }
  if (!device->Holder.empty()) {
    text += Utf8ToCp1251(" (его использует программа ") + device->Holder + ")";
  } else if (!device->SystemDetail.empty()) {
    text += " (" + device->SystemDetail + ")";
  }
  text += ".";
  // Serial ports belong to the group dialout; a user outside it is refused
  // whatever the port's state.
  if (device->OpenFailure == TOpenFailure::NoPermission) {
    text += Utf8ToCp1251("\nДля доступа к порту пользователь должен входить в группу dialout.");
  }
  return text;
}

std::string ClosingText() { return Utf8ToCp1251("Завершение обмена с устройством..."); }

TConnection::TConnection(ConnectionSetup setup) : setup_(setup) {}

TConnection::~TConnection() {
  // Owners close before they go; this is the last resort of a test or an
  // error path, never from inside a step.
  Close();
}

void TConnection::Open(const std::string& portName, bool highSpeed) {
  Open(SerialPortAddress(portName), highSpeed);
}

void TConnection::Open(const LinkAddress& address, bool highSpeed) {
  if (state_.load() != ConnectionState::Closed) return;
  auto log = std::make_unique<EventLogWriter>(setup_.Events, setup_.Time);
  std::unique_ptr<Link> link = setup_.Links(address, {.HighSpeed = highSpeed}, setup_.Time);
  link->SetOnLost([this](const std::string& reason) { OnLineLost(reason); });
  auto worker = std::make_unique<TComPortWorker>(std::move(link), log.get(), setup_.Time);
  worker->Open();  // on failure both go with this frame
  log_ = std::move(log);
  worker_ = std::move(worker);
  controller_ = std::make_unique<TController>(worker_.get(), setup_.Events);
  state_.store(ConnectionState::Idle);
  setup_.Events.Connected(address.Name());
}

void TConnection::StartIdentification(MainThreadSteps& steps) {
  if (state_.load() != ConnectionState::Idle || mainThread_) return;
  controller_->Identity = {};
  identified_.store(false);
  mainThread_ = std::make_unique<TMainThread>(*controller_, setup_.Sync, steps, setup_.Time);
  mainThread_->Thread().SetErrorSink([this](const std::string& what) { WriteLog(what); });
  mainThread_->SetOnIdentified([this](bool identified) {
    // Before the state leaves Identifying, so that the watcher never sees an
    // idle connection whose identification failed.
    identified_.store(identified);
    ToIdleFrom(ConnectionState::Identifying);
  });
  state_.store(ConnectionState::Identifying);
  mainThread_->Resume();
}

bool TConnection::StartTask(std::unique_ptr<ConnectionTask> task) {
  if (!task || state_.load() != ConnectionState::Idle || TaskRunning()) return false;
  taskStarted_.store(true);
  if (mainThread_) mainThread_->Stop();
  // A finished task (a reflash that failed) gives way to the next.
  if (task_) {
    task_->Thread().WaitFor();
    task_.reset();
  }
  task_ = std::move(task);
  task_->Thread().SetErrorSink([this](const std::string& what) { WriteLog(what); });
  state_.store(ConnectionState::Flashing);
  ConnectionTask* running = task_.get();
  running->Thread().Start([this, running] {
    running->Body();
    ToIdleFrom(ConnectionState::Flashing);
  });
  return true;
}

bool TConnection::TaskRunning() const {
  return task_ && task_->Thread().Started() && !task_->Thread().Finished();
}

bool TConnection::Close(bool keepPainting) {
  const ConnectionState was = state_.load();
  if (was == ConnectionState::Closing) return false;
  if (was == ConnectionState::Closed && !worker_) return true;
  if (task_) task_->Thread().Stop();
  if (mainThread_) mainThread_->Stop();
  const bool stepOnStack =
      (task_ && task_->Thread().StepOnStack()) || (mainThread_ && mainThread_->Thread().StepOnStack());
  if (stepOnStack) return false;
  state_.store(ConnectionState::Closing);
  // Every worker has ended before anything it uses goes.
  if (task_) task_->Thread().WaitFor(keepPainting);
  if (mainThread_) mainThread_->WaitFor(keepPainting);
  task_.reset();
  mainThread_.reset();
  controller_.reset();
  worker_.reset();
  log_.reset();
  taskStarted_.store(false);
  identified_.store(false);
  lineLostTold_.store(false);
  state_.store(ConnectionState::Closed);
  return true;
}

void TConnection::WriteLog(const std::string& line) {
  if (log_) log_->WriteLine(line);
}

void TConnection::ToIdleFrom(ConnectionState from) {
  ConnectionState expected = from;
  state_.compare_exchange_strong(expected, ConnectionState::Idle);
}

void TConnection::OnLineLost(const std::string& reason) {
  // Runs on the port's watcher thread. Only an idle line is dropped here: a
  // worker that talks to the device meets the failure in its own exchange,
  // and once a task has had the device, the task and whoever started it
  // (the reflash window, the service menu) tell the outcome and end the
  // connection; a lost line seen after such a task ended is theirs to tell.
  // A failed identification (the lost line among its causes) has asked for
  // the disconnect and told the user already.
  if (state_.load() != ConnectionState::Idle || taskStarted_.load() || !identified_.load()) return;
  if (lineLostTold_.exchange(true)) return;
  WriteLog(LinkLostText() + " (" + reason + ")");
  setup_.Events.LineLost(reason);
}

}  // namespace tarvik
