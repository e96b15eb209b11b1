// The connection owner against a simulated device: its states, and a
// teardown that waits for every worker before the controller and the port
// go, from wherever it is asked for. The test thread plays the UI thread.
#include "device/connection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "common/text.h"
#include "devicefixture.h"
#include "serial/link.h"
#include "serial/portwaits.h"
#include "support/usertexts.h"

namespace tarvik {
namespace {

using Ms = std::chrono::milliseconds;
namespace text = test::text;

std::int64_t Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<Ms>(std::chrono::steady_clock::now() - start).count();
}

// Records the main worker thread's UI steps; a step may act on the
// connection from inside, as a decision dialog's event loop can.
struct RecordingSteps : MainThreadSteps {
  void PublishIdentity(TController&) override { ++published; }
  void ResetFlashState() override { ++resets; }
  void DecideUpdate(TController&) override {
    ++decisions;
    if (insideDecision) insideDecision();
  }
  void ReportNoAnswer() override { ++noAnswer; }
  int published = 0;
  int resets = 0;
  int decisions = 0;
  int noAnswer = 0;
  std::function<void()> insideDecision;
};

// What a task saw; it outlives the task, which goes with the connection.
struct TaskOutcome {
  std::atomic<bool> answered{false};
  std::atomic<bool> portOpenAfter{false};
};

// A task that asks the device for its version once, in an exchange the
// teardown cannot cut.
class VersionTask final : public ConnectionTask {
 public:
  VersionTask(TController& controller, UiSync& sync, std::shared_ptr<TaskOutcome> outcome = {})
      : controller_(controller),
        outcome_(outcome ? std::move(outcome) : std::make_shared<TaskOutcome>()),
        thread_(sync) {}
  TWorkerThread& Thread() override { return thread_; }
  void Body() override {
    std::string reply;
    outcome_->answered = controller_.Command("v", reply, false) && Contains(reply, "VER");
    outcome_->portOpenAfter = controller_.Device->Worker->Port().IsOpen();
  }

 private:
  TController& controller_;
  std::shared_ptr<TaskOutcome> outcome_;
  TWorkerThread thread_;
};

sim::SimOptions Door() {
  sim::SimOptions o;
  o.version = "VER 14.002.020";
  return o;
}

class ConnectionTest : public ::testing::Test {
 protected:
  void StartDevice(sim::SimOptions options) {
    sim_ = std::make_unique<sim::DeviceSimulator>(test::Unpaced(std::move(options)));
    ASSERT_TRUE(sim_->Start()) << sim_->Error();
  }
  void Open() { connection_.Open(test::PortName(sim_->SlavePath())); }
  // Serves the UI steps until done holds; false on time-out.
  bool ServeUntil(const std::function<bool()>& done, int limitMs = 5000) {
    const auto start = std::chrono::steady_clock::now();
    while (!done()) {
      if (Since(start) > limitMs) return false;
      ui_.RunPending();
      std::this_thread::sleep_for(Ms(2));
    }
    return true;
  }
  // The events told since the last look, the log lines apart.
  std::vector<std::string> ToldEvents() { return events_.TakeEvents(); }
  // The ones that end the connection.
  static long Ends(const std::vector<std::string>& events) {
    return std::count_if(events.begin(), events.end(), [](const std::string& e) {
      return e == "no answer" || e == "line lost" || e == "disconnect";
    });
  }

  test::RecordingEvents events_;
  UiStepQueue ui_;
  RecordingSteps steps_;
  std::unique_ptr<sim::DeviceSimulator> sim_;
  // Declared after everything it uses, so it goes first.
  TConnection connection_{{.Events = events_, .Sync = ui_}};
};

// The link comes from the factory of the setup, made from the address and
// the speed asked for; one it cannot make leaves the connection closed.
TEST_F(ConnectionTest, TheLinkIsMadeByTheSetupsFactory) {
  StartDevice(Door());
  std::vector<std::pair<LinkAddress, bool>> made;
  TConnection connection(
      {.Events = events_,
       .Sync = ui_,
       .Links = [&](const LinkAddress& address, const LinkSettings& settings, Clock& clock) {
         made.emplace_back(address, settings.HighSpeed);
         return MakeLink(address, settings, clock);
       }});
  const LinkAddress address = SerialPortAddress(test::PortName(sim_->SlavePath()));
  connection.Open(address, true);
  EXPECT_EQ(connection.State(), ConnectionState::Idle);
  EXPECT_EQ(made, (std::vector<std::pair<LinkAddress, bool>>{{address, true}}));
  EXPECT_EQ(connection.PortWorker()->Port().Name(), address.Port);
  EXPECT_TRUE(connection.Close());

  const EDeviceError e =
      test::CatchDeviceError([&] { connection.Open(ParseLinkAddress("tcp://host").Take()); });
  EXPECT_EQ(e.OpenFailure, TOpenFailure::BadAddress);
  EXPECT_EQ(made.size(), 1u) << "a malformed address makes no link";
  EXPECT_EQ(connection.State(), ConnectionState::Closed);
  EXPECT_EQ(connection.PortWorker(), nullptr);
}

TEST_F(ConnectionTest, StatesFromOpenToClosed) {
  StartDevice(Door());
  EXPECT_EQ(connection_.State(), ConnectionState::Closed);
  Open();
  EXPECT_EQ(connection_.State(), ConnectionState::Idle);
  ASSERT_NE(connection_.Controller(), nullptr);
  connection_.StartIdentification(steps_);
  EXPECT_EQ(connection_.State(), ConnectionState::Identifying);
  ASSERT_TRUE(ServeUntil([&] { return steps_.decisions == 1; }));
  EXPECT_EQ(connection_.State(), ConnectionState::Idle);
  EXPECT_EQ(ToldEvents(),
            (std::vector<std::string>{"connected " + test::PortName(sim_->SlavePath()), "identifying",
                                      "answered VER 14.002.020", "identified VER 14.002.020"}));
  EXPECT_TRUE(connection_.Close());
  EXPECT_EQ(connection_.State(), ConnectionState::Closed);
  EXPECT_EQ(connection_.PortWorker(), nullptr);
  EXPECT_EQ(connection_.Controller(), nullptr);
  EXPECT_EQ(connection_.MainThread(), nullptr);
  EXPECT_EQ(connection_.Log(), nullptr);
}

TEST_F(ConnectionTest, PortThatCannotOpenLeavesItClosedWithNothingHeld) {
  EXPECT_THROW(connection_.Open("ttyNoSuchPortHere"), EDeviceError);
  EXPECT_EQ(connection_.State(), ConnectionState::Closed);
  EXPECT_EQ(connection_.PortWorker(), nullptr);
  EXPECT_EQ(connection_.Log(), nullptr);
}

TEST_F(ConnectionTest, TeardownWaitsForATaskInsideAnExchangeBeforeThePortGoes) {
  sim::SimOptions slow = Door();
  slow.faults.push_back({sim::FaultKind::Slow, "v", 0, 300});
  StartDevice(slow);
  Open();
  auto outcome = std::make_shared<TaskOutcome>();
  ASSERT_TRUE(connection_.StartTask(std::make_unique<VersionTask>(*connection_.Controller(), ui_, outcome)));
  EXPECT_EQ(connection_.State(), ConnectionState::Flashing);
  ASSERT_TRUE(sim_->WaitUntil([](const sim::SimReport& r) { return !r.commands.empty(); }, 2000));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(connection_.Close());
  // The exchange under way ran to its end, on a port that was still open.
  EXPECT_GE(Since(start), 200);
  EXPECT_TRUE(outcome->answered);
  EXPECT_TRUE(outcome->portOpenAfter);
  EXPECT_EQ(connection_.State(), ConnectionState::Closed);
  EXPECT_EQ(connection_.Task(), nullptr);
}

TEST_F(ConnectionTest, IdleAgainOnceATaskHasEnded) {
  StartDevice(Door());
  Open();
  auto outcome = std::make_shared<TaskOutcome>();
  ASSERT_TRUE(connection_.StartTask(std::make_unique<VersionTask>(*connection_.Controller(), ui_, outcome)));
  ASSERT_TRUE(ServeUntil([&] { return !connection_.TaskRunning(); }));
  EXPECT_TRUE(outcome->answered);
  EXPECT_EQ(connection_.State(), ConnectionState::Idle);
  EXPECT_TRUE(connection_.Close());
}

TEST_F(ConnectionTest, TeardownWhileIdentifyingRunsNoStepAndAsksNoDisconnect) {
  sim::SimOptions slow = Door();
  slow.faults.push_back({sim::FaultKind::Slow, "v", 0, 150});
  StartDevice(slow);
  Open();
  connection_.StartIdentification(steps_);
  ASSERT_TRUE(sim_->WaitUntil([](const sim::SimReport& r) { return !r.commands.empty(); }, 2000));
  EXPECT_TRUE(connection_.Close());
  EXPECT_EQ(steps_.published, 0);
  EXPECT_EQ(steps_.decisions, 0);
  EXPECT_EQ(steps_.resets, 0);
  EXPECT_EQ(Ends(ToldEvents()), 0);
}

TEST_F(ConnectionTest, StopLandingBetweenIdentificationAndDecisionSkipsEveryStep) {
  StartDevice(Door());
  Open();
  std::atomic<int> handedOver{0};
  ui_.SetWakeHook([&] { ++handedOver; });
  connection_.StartIdentification(steps_);
  // Identification is over and PublishIdentity waits for the UI thread;
  // a disconnect is clicked before the UI thread takes the step up.
  const auto start = std::chrono::steady_clock::now();
  while (handedOver.load() == 0 && Since(start) < 5000) std::this_thread::sleep_for(Ms(1));
  ASSERT_EQ(handedOver.load(), 1);
  connection_.MainThread()->Stop();
  ui_.RunPending();
  EXPECT_TRUE(connection_.Close());
  EXPECT_EQ(steps_.published, 0);
  EXPECT_EQ(steps_.resets, 0);
  EXPECT_EQ(steps_.decisions, 0);
}

TEST_F(ConnectionTest, TeardownAskedFromInsideAStepIsLeftForLaterNotDeadlocked) {
  StartDevice(Door());
  Open();
  std::optional<bool> closedInside;
  steps_.insideDecision = [&] { closedInside = connection_.Close(); };
  connection_.StartIdentification(steps_);
  ASSERT_TRUE(ServeUntil([&] { return steps_.decisions == 1; }));
  ASSERT_TRUE(closedInside.has_value());
  EXPECT_FALSE(*closedInside) << "the worker waits for this very step";
  EXPECT_TRUE(connection_.MainThread()->StopRequested());
  EXPECT_TRUE(connection_.Close()) << "once the step has returned";
  EXPECT_EQ(connection_.State(), ConnectionState::Closed);
}

TEST_F(ConnectionTest, FailedIdentificationTellsTheUserAndNoAnswer) {
  sim::SimOptions silent = Door();
  silent.faults.push_back({sim::FaultKind::Silence, "", 0, 0});
  StartDevice(silent);
  Open();
  connection_.StartIdentification(steps_);
  ASSERT_TRUE(ServeUntil([&] { return connection_.MainThread()->Finished(); }, 10000));
  EXPECT_EQ(steps_.noAnswer, 1);
  EXPECT_EQ(steps_.resets, 1);
  const auto events = ToldEvents();
  EXPECT_EQ(std::count(events.begin(), events.end(), "no answer"), 1);
  EXPECT_EQ(Ends(events), 1);
  EXPECT_TRUE(connection_.Close());
}

TEST_F(ConnectionTest, LineLostWhileIdleIsToldAndDropped) {
  StartDevice(Door());
  Open();
  connection_.StartIdentification(steps_);
  ASSERT_TRUE(ServeUntil([&] { return steps_.decisions == 1; }));
  const auto identification = ToldEvents();
  EXPECT_EQ(Ends(identification), 0);
  sim_->Stop();  // the device is unplugged
  std::vector<std::string> events;
  const auto start = std::chrono::steady_clock::now();
  while (events.empty() && Since(start) < 3000) {
    events = ToldEvents();
    std::this_thread::sleep_for(Ms(5));
  }
  // Once, and the log names the reason after the user's words.
  std::this_thread::sleep_for(Ms(300));
  for (const auto& e : ToldEvents()) events.push_back(e);
  EXPECT_EQ(events, std::vector<std::string>{"line lost"});
  const auto log = events_.Log();
  ASSERT_FALSE(log.empty());
  EXPECT_TRUE(log.back().starts_with(text::Cp(text::kLinkLost) + " (")) << log.back();
  EXPECT_TRUE(connection_.Close());
}

// A failed identification tells the user and asks for the disconnect itself;
// a lost line the watcher sees then, whether while the identification waits
// or after it gave up and before its disconnect is served, is not told again:
// a second disconnect, and "link lost" where the user reads that the device
// did not answer.
TEST_F(ConnectionTest, ALineLostAroundAFailedIdentificationEndsItOnceAndIsNotTold) {
  struct Case {
    const char* name;
    std::vector<sim::Fault> faults;
    bool unplugAfterwards;  // the device goes once the identification has failed
  };
  const Case cases[] = {
      {"lost while the identification waits",
       {{sim::FaultKind::Silence, "v", 0, 0}, {sim::FaultKind::HangUp, "v", 0, 0}},
       false},
      {"lost after the identification failed", {{sim::FaultKind::Silence, "", 0, 0}}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::SimOptions device = Door();
    device.faults = c.faults;
    StartDevice(device);
    Open();
    connection_.StartIdentification(steps_);
    ASSERT_TRUE(ServeUntil([&] { return connection_.MainThread()->Finished(); }, 10000));
    if (c.unplugAfterwards) {
      sim_->Stop();
    } else {
      ASSERT_TRUE(sim_->Report().hungUp);
    }
    // The watcher sees a hang-up at once; a notice of it would be queued by now.
    std::this_thread::sleep_for(Ms(300));
    const auto events = ToldEvents();
    EXPECT_EQ(Ends(events), 1);
    EXPECT_EQ(std::count(events.begin(), events.end(), "line lost"), 0);
    EXPECT_TRUE(connection_.Close());
    sim_.reset();
  }
  EXPECT_EQ(steps_.noAnswer, 2);
}

// The device identified first, as before every reflash: only the task's
// having had the device keeps the watcher from telling the loss.
TEST_F(ConnectionTest, ALineLostAfterATaskIsLeftToWhoeverStartedTheTask) {
  StartDevice(Door());
  Open();
  connection_.StartIdentification(steps_);
  ASSERT_TRUE(ServeUntil([&] { return steps_.decisions == 1; }));
  ASSERT_TRUE(ServeUntil([&] { return connection_.State() == ConnectionState::Idle; }));
  ASSERT_TRUE(connection_.StartTask(std::make_unique<VersionTask>(*connection_.Controller(), ui_)));
  ASSERT_TRUE(ServeUntil([&] { return !connection_.TaskRunning(); }));
  ToldEvents();
  sim_->Stop();  // unplugged after the reflash, as a device that restarts is
  std::this_thread::sleep_for(Ms(300));
  EXPECT_TRUE(ToldEvents().empty()) << "the reflash window tells the outcome and ends the connection";
  EXPECT_TRUE(connection_.Close());
}

TEST_F(ConnectionTest, TaskStartsOnlyOnAnIdleConnection) {
  sim::SimOptions slow = Door();
  slow.faults.push_back({sim::FaultKind::Slow, "v", 0, 150});
  StartDevice(slow);
  Open();
  connection_.StartIdentification(steps_);
  EXPECT_FALSE(connection_.StartTask(std::make_unique<VersionTask>(*connection_.Controller(), ui_)));
  EXPECT_EQ(connection_.Task(), nullptr);
  EXPECT_TRUE(connection_.Close());
  TController detached(nullptr, events_);
  EXPECT_FALSE(connection_.StartTask(std::make_unique<VersionTask>(detached, ui_))) << "nor on a closed one";
}

}  // namespace
}  // namespace tarvik

namespace tarvik {
namespace {

EDeviceError OpenFailure(TOpenFailure cause, std::string holder, std::string systemDetail) {
  EDeviceError error("Cannot open device ttyUSB0", ecCannotOpen, cause);
  error.Port = "ttyUSB0";
  error.Holder = std::move(holder);
  error.SystemDetail = std::move(systemDetail);
  return error;
}

EDeviceError ParseErrorOf(const std::string& address) {
  return test::CatchDeviceError([&] { ParseLinkAddress(address).Take(); });
}

// The windows word a failed open in Russian, keeping the system's own error
// text and the program that holds the port.
TEST(PortOpenFailureText, SaysTheCauseInRussian) {
  const struct {
    const char* name;
    EDeviceError error;
    const char* text;
  } cases[] = {
      {"held by another program", OpenFailure(TOpenFailure::Busy, "sleep, pid 18603", ""),
       "Ошибка при открытии Com порта! Не удалось открыть порт ttyUSB0: порт занят (его использует программа "
       "sleep, pid 18603)."},
      {"missing", OpenFailure(TOpenFailure::Missing, "", "error 2: No such file or directory"),
       "Ошибка при открытии Com порта! Не удалось открыть порт ttyUSB0: такого порта нет (error 2: No such "
       "file "
       "or directory)."},
      {"no permission: the hint on a line of its own",
       OpenFailure(TOpenFailure::NoPermission, "", "error 13: Permission denied"),
       "Ошибка при открытии Com порта! Не удалось открыть порт ttyUSB0: нет прав на доступ к порту (error "
       "13: "
       "Permission denied).\nДля доступа к порту пользователь должен входить в группу dialout."},
      {"not a serial line", OpenFailure(TOpenFailure::NotASerialLine, "", ""),
       "Ошибка при открытии Com порта! Не удалось открыть порт ttyUSB0: это не последовательный порт."},
      {"refused for a reason of the system's",
       OpenFailure(TOpenFailure::Other, "", "error 5: Input/output error"),
       "Ошибка при открытии Com порта! Не удалось открыть порт ttyUSB0 (error 5: Input/output error)."},
      {"a host without that name", OpenFailure(TOpenFailure::UnknownHost, "", "Name or service not known"),
       "Ошибка при открытии Com порта! Не удалось открыть порт ttyUSB0: узел не найден (Name or service not "
       "known)."},
      {"nobody listens", OpenFailure(TOpenFailure::Refused, "", "error 111: Connection refused"),
       "Ошибка при открытии Com порта! Не удалось открыть порт ttyUSB0: сервер отказал в соединении (error "
       "111: "
       "Connection refused)."},
      {"no answer", OpenFailure(TOpenFailure::NoAnswer, "", "nothing within 5000 ms"),
       "Ошибка при открытии Com порта! Не удалось открыть порт ttyUSB0: сервер не отвечает (nothing within "
       "5000 "
       "ms)."},
      {"a line setting refused",
       OpenFailure(TOpenFailure::SettingRefused, "", "bit/s: asked 19200, the server set 9600"),
       "Ошибка при открытии Com порта! Не удалось открыть порт ttyUSB0: сервер не принял настройки линии "
       "(bit/s: "
       "asked 19200, the server set 9600)."},
      {"a malformed address", ParseErrorOf("tcp://host:0"),
       "Ошибка при открытии Com порта! Не удалось открыть порт tcp://host:0: неверный адрес (the port in the "
       "address is out of range (1 to 65535))."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Cp1251ToUtf8(PortOpenFailureText(c.error)), c.text);
  }
  // Another error keeps its words.
  EXPECT_EQ(Cp1251ToUtf8(PortOpenFailureText(std::runtime_error("boom"))),
            "Ошибка при открытии Com порта! boom");
}

}  // namespace
}  // namespace tarvik
