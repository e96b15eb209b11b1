#include "serial/comportworker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "pacedclock.h"
#include "ptypeer.h"
#include "serial/seriallink.h"
#include "serialtesting.h"
#include "support/fakeclock.h"
#include "support/lineslog.h"

namespace tarvik {
namespace {

using test::PtyPeer;

using test::LinesLog;

TEST(PortWorker, ConfiguresThePortForTheDevices) {
  for (bool highSpeed : {false, true}) {
    SCOPED_TRACE(highSpeed);
    PtyPeer peer;
    SerialLink link(peer.DeviceName(), {.HighSpeed = highSpeed}, SystemClock());
    EXPECT_EQ(link.Name(), peer.DeviceName());
    EXPECT_EQ(link.Port().BaudRate(), highSpeed ? 115200u : 19200u);
    EXPECT_FALSE(link.IsOpen());
    link.Open();
    commos::TDeviceControlBlock dcb;
    ASSERT_TRUE(link.Port().ReadDeviceControl(dcb));
    EXPECT_EQ(dcb.BaudRate, highSpeed ? 115200u : 19200u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, 0);
    EXPECT_EQ(dcb.StopBits, 0);
    EXPECT_FALSE(dcb.fOutxCtsFlow);
    EXPECT_FALSE(dcb.fOutxDsrFlow);
    EXPECT_FALSE(dcb.fInX);
    EXPECT_FALSE(dcb.fOutX);
    EXPECT_EQ(dcb.fRtsControl, commos::TRtsControl::Disable);
    EXPECT_EQ(dcb.fDtrControl, commos::TDtrControl::Disable);
    EXPECT_EQ(dcb.EvtChar, '\r');
    EXPECT_EQ(dcb.XonLim, TXComm::kQueueSize / 4);
    EXPECT_EQ(TXComm::kQueueSize, 2048);
    EXPECT_EQ(TXComm::kTransferTimeoutMs, 500u);
  }
}

TEST(PortWorker, OpenReachesTheLineAndReopens) {
  PtyPeer peer;
  TComPortWorker worker(peer.DeviceName(), false, nullptr);
  worker.Open();
  const termios line = test::TermiosOf(peer.Slave());
  EXPECT_EQ(cfgetospeed(&line), B19200);
  EXPECT_NO_THROW(worker.Open()) << "Open closes first";
  worker.Close();
  EXPECT_FALSE(worker.Port().IsOpen());
  EXPECT_NO_THROW(worker.Close());

  TComPortWorker missing("ttyNoSuchPort", false, nullptr);
  try {
    missing.Open();
    ADD_FAILURE() << "opened a missing port";
  } catch (const EDeviceError& e) {
    EXPECT_EQ(e.ErrorCode, ecCannotOpen);
    EXPECT_STREQ(e.what(),
                 "Cannot open device ttyNoSuchPort: no such port (error 2: No such file or directory)");
  }
}

TEST(PortWorker, ExchangeOnClosedPortDoesNothing) {
  LinesLog log;
  test::FakeClock clock;
  TComPortWorker worker("ttyUSB0", false, &log, clock);
  std::string reply = "left over";
  EXPECT_FALSE(worker.Exchange("+v\r\n", reply, {.Attempts = 3}));
  EXPECT_EQ(reply, "");
  EXPECT_TRUE(log.Lines().empty());
  EXPECT_EQ(clock.Sleeps(), 0u);
}

// The link of a port, with a record of the RTS switches and the writes
// that reach it and when, on the port's clock: what the exchange does
// around a command, whatever the line.
class RtsRecorder final : public Link {
 public:
  struct Event {
    std::string what;  // "RTS on", "RTS off", "write", "written"
    std::uint64_t atMs;
    friend bool operator==(const Event&, const Event&) = default;
  };

  RtsRecorder(std::unique_ptr<Link> link, Clock& clock) : link_(std::move(link)), clock_(clock) {}

  std::vector<Event> Events() const {
    std::lock_guard lock(mutex_);
    return events_;
  }

  void Open() override { link_->Open(); }
  void Close() override { link_->Close(); }
  bool IsOpen() const override { return link_->IsOpen(); }
  std::string Name() const override { return link_->Name(); }
  bool Write(const std::string& bytes) override {
    Note("write");
    const bool all = link_->Write(bytes);
    Note("written");
    return all;
  }
  std::uint32_t InputCount() override { return link_->InputCount(); }
  bool ReadAvailable(std::string& text) override { return link_->ReadAvailable(text); }
  bool WaitInput(std::uint32_t realMs) override { return link_->WaitInput(realMs); }
  void SetRts(bool on) override {
    Note(on ? "RTS on" : "RTS off");
    link_->SetRts(on);
  }
  void SetOnLost(LostHandler handler) override { link_->SetOnLost(std::move(handler)); }

 private:
  void Note(const char* what) {
    std::lock_guard lock(mutex_);
    events_.push_back({what, clock_.NowMs()});
  }

  std::unique_ptr<Link> link_;
  Clock& clock_;
  mutable std::mutex mutex_;
  std::vector<Event> events_;
};

TEST(PortWorker, RtsGoesUpBeforeEachCommandAndDownAfterIt) {
  test::FakeClock clock;
  PtyPeer peer;  // a device that never answers
  peer.Start();
  auto recording =
      std::make_unique<RtsRecorder>(MakeLink(SerialPortAddress(peer.DeviceName()), {}, clock), clock);
  RtsRecorder* recorder = recording.get();
  TComPortWorker worker(std::move(recording), nullptr, clock);
  worker.Open();

  const std::uint64_t start = clock.NowMs();
  std::string reply;
  EXPECT_FALSE(worker.Exchange("+v\r", reply, {.Attempts = 2, .TimeoutMs = 500}));
  const std::uint64_t end = clock.NowMs();

  // Per attempt: RTS down 20 ms into the purge of stale input; up, 20 ms,
  // the command; 20 ms after the write returned, down for the reply wait.
  const std::vector<RtsRecorder::Event> events = recorder->Events();
  ASSERT_EQ(events.size(), 2u * 5u);
  std::uint64_t attemptStart = start;
  for (std::size_t attempt = 0; attempt < 2; ++attempt) {
    const RtsRecorder::Event* e = &events[attempt * 5];
    const std::uint64_t written = e[3].atMs;
    EXPECT_EQ(e[0], (RtsRecorder::Event{"RTS off", attemptStart + 20})) << attempt;
    EXPECT_EQ(e[1], (RtsRecorder::Event{"RTS on", attemptStart + 20})) << attempt;
    EXPECT_EQ(e[2], (RtsRecorder::Event{"write", attemptStart + 40})) << attempt;
    EXPECT_EQ(e[3].what, "written") << attempt;
    EXPECT_EQ(e[4], (RtsRecorder::Event{"RTS off", written + 20})) << attempt;
    // The reply wait follows with RTS down: nothing switches until it is over.
    const std::uint64_t next = attempt == 0 ? events[5].atMs - 20 : end;
    EXPECT_GT(next, written + 20 + 500) << attempt;
    attemptStart = next;
  }
  ASSERT_TRUE(peer.WaitReceived(2 * 3));
  EXPECT_EQ(peer.Received(), "+v\r+v\r");
}

// A worker on a pseudo-terminal whose far end plays the device.
template <typename ClockType>
class WorkerOnPty : public ::testing::Test {
 protected:
  WorkerOnPty() : worker(peer.DeviceName(), false, &log, clock) {}
  void SetUp() override { worker.Open(); }

  ClockType clock;
  PtyPeer peer;
  LinesLog log;
  TComPortWorker worker;
};

// Replies arrive in real time; long waits pass in fake time.
using AnsweringDevice = WorkerOnPty<test::PacedClock>;
using SilentDevice = WorkerOnPty<test::FakeClock>;

const std::string kProbe = "+v\r\n";

TEST_F(AnsweringDevice, ReplyCases) {
  struct Case {
    const char* name;
    std::string reply;
    std::string terminator;
    bool required;
    bool result;
    bool fullWait;
  };
  const Case cases[] = {
      {"lower-case ok", "ok\r\n", "OK", true, true, false},
      {"terminator inside a word", "BOOKED\r", "OK", true, true, false},
      {"echo and bytes after the terminator kept", "+v\r\nVER 14.002.020\r\nOK\r\nzz", "OK", true, true,
       false},
      {"empty terminator is CR", "VER 14.002.020\r", "", true, true, false},
      {"error text accepted", "ERROR\r\n", "OK", false, true, true},
      {"error text refused when the terminator is required", "ERROR\r\n", "OK", true, false, true},
      {"Cyrillic letters are not case-folded", "\xCE\xCA\r\n", "\xEE\xEA", true, false, true},
  };
  constexpr std::int32_t kTimeoutMs = 5000;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PtyPeer device;
    LinesLog lines;
    TComPortWorker w(device.DeviceName(), false, &lines, clock);
    w.Open();
    device.Start(test::AnswerEachCommand(c.reply));
    std::string reply;
    const std::uint64_t start = clock.NowMs();
    EXPECT_EQ(
        w.Exchange(kProbe, reply,
                   {.Terminator = c.terminator, .TimeoutMs = kTimeoutMs, .TerminatorRequired = c.required}),
        c.result);
    const std::uint64_t waited = clock.NowMs() - start;
    EXPECT_EQ(reply, c.reply);
    if (c.fullWait) {
      EXPECT_GT(waited, std::uint64_t{kTimeoutMs});
    } else {
      EXPECT_LT(waited, std::uint64_t{kTimeoutMs});
    }
    EXPECT_EQ(lines.Lines(), (std::vector<std::string>{"$$$: ", "#com<-: " + kProbe, "@com->: " + c.reply}));
  }
}

TEST_F(AnsweringDevice, EmptyTerminatorWaitsForCarriageReturn) {
  peer.Start(test::AnswerEachCommand("AB"));
  std::thread rest([&] {
    peer.WaitReceived(kProbe.size());
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    peer.Write("C\r");
  });
  std::string reply;
  const bool result = worker.Exchange(
      kProbe, reply, {.Terminator = "", .TimeoutMs = 5000, .TerminatorRequired = true, .LogTraffic = false});
  rest.join();
  EXPECT_TRUE(result);
  EXPECT_EQ(reply, "ABC\r");
  EXPECT_TRUE(log.Lines().empty()) << "traffic not logged";
}

TEST_F(AnsweringDevice, StaleInputIsDiscardedAndLogged) {
  peer.Start(test::AnswerEachCommand("OK\r\n"));
  peer.Write("late answer");
  ASSERT_TRUE(test::WaitUntil([&] { return worker.Port().InputCount() == 11; }));
  std::string reply;
  EXPECT_TRUE(worker.Exchange(kProbe, reply, {.TimeoutMs = 5000}));
  EXPECT_EQ(reply, "OK\r\n");
  EXPECT_EQ(log.Lines(),
            (std::vector<std::string>{"$$$: late answer", "#com<-: " + kProbe, "@com->: OK\r\n"}));
}

// The line end of an answer that came after its exchange had taken the
// answer belongs to that answer: a command the device leaves unanswered
// gets no answer out of it.
TEST_F(AnsweringDevice, LateLineEndOfAnAnswerIsNoAnswerToTheNextCommand) {
  std::atomic<int> commands{0};
  peer.Start([&](const std::string& pending) -> std::optional<PtyPeer::Action> {
    if (pending.find('\r') == std::string::npos) return std::nullopt;
    return PtyPeer::Action{++commands == 1 ? "OK" : "", false};
  });
  std::string reply;
  ASSERT_TRUE(worker.Exchange(kProbe, reply, {.TimeoutMs = 5000, .LogTraffic = false}));
  EXPECT_EQ(reply, "OK");
  // The line end comes once the next command is out.
  std::thread late([&] {
    peer.WaitReceived(2 * kProbe.size());
    peer.Write("\r\n");
  });
  EXPECT_FALSE(worker.Exchange(kProbe, reply, {.TimeoutMs = 5000, .LogTraffic = false}));
  late.join();
  EXPECT_EQ(reply, "");
  // Nothing more is owed: a line end in front of the next answer is its own.
  std::thread other([&] {
    peer.WaitReceived(3 * kProbe.size());
    peer.Write("\r\nERR\r\n");
  });
  EXPECT_TRUE(worker.Exchange(kProbe, reply, {.TimeoutMs = 5000, .LogTraffic = false}));
  other.join();
  EXPECT_EQ(reply, "\r\nERR\r\n");
}

TEST_F(AnsweringDevice, UnterminatedRepliesUseEveryAttempt) {
  peer.Start(test::AnswerEachCommand("ERR\r\n"));
  std::string reply;
  EXPECT_TRUE(worker.Exchange(kProbe, reply, {.Attempts = 3, .TimeoutMs = 1000, .LogTraffic = false}));
  EXPECT_EQ(reply, "ERR\r\n");
  ASSERT_TRUE(peer.WaitReceived(3 * kProbe.size()));
  EXPECT_EQ(peer.Received(), kProbe + kProbe + kProbe);
}

TEST_F(AnsweringDevice, PeerHangingUpEndsTheExchangeWithTheOsError) {
  peer.Start([](const std::string& pending) -> std::optional<PtyPeer::Action> {
    if (pending.find('\r') == std::string::npos) return std::nullopt;
    // Gone while the worker waits for the reply, not while it writes.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return PtyPeer::Action{"", true};
  });
  std::string reply;
  try {
    worker.Exchange(kProbe, reply, {.Attempts = 3, .TimeoutMs = 5000});
    ADD_FAILURE() << "no error";
  } catch (const EDeviceError& e) {
    EXPECT_EQ(e.ErrorCode, ecRead);
    EXPECT_EQ(std::string(e.what()), "Unable to read from port. (error 5: Input/output error)");
  }
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{"$$$: ", "#com<-: " + kProbe}));
}

TEST_F(SilentDevice, ThreeSilentAttempts) {
  peer.Start();
  std::string reply;
  const std::uint64_t start = clock.NowMs();
  const auto realStart = test::RealMs();
  EXPECT_FALSE(worker.Exchange(kProbe, reply, {.Attempts = 3}));
  const std::uint64_t waited = clock.NowMs() - start;
  EXPECT_EQ(reply, "");
  // Per attempt 60 ms of RTS pauses and a reply wait that ends as soon as
  // more than 500 ms have passed.
  EXPECT_GE(waited, 3u * (60 + 501));
  EXPECT_LE(waited, 3u * (60 + 501) + 30);
  EXPECT_LT(test::RealMs() - realStart, 1000) << "the waits are on the clock";
  std::vector<std::string> expected;
  for (int i = 0; i < 3; ++i) {
    expected.insert(expected.end(), {"$$$: ", "#com<-: " + kProbe, "@com->: "});
  }
  EXPECT_EQ(log.Lines(), expected);
  ASSERT_TRUE(peer.WaitReceived(3 * kProbe.size()));
  EXPECT_EQ(peer.Received(), kProbe + kProbe + kProbe);
}

TEST_F(SilentDevice, NoAttemptsSendNothing) {
  peer.Start();
  for (std::int32_t attempts : {0, -1}) {
    std::string reply = "x";
    EXPECT_FALSE(worker.Exchange(kProbe, reply, {.Attempts = attempts}));
    EXPECT_EQ(reply, "");
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(peer.Received(), "");
  EXPECT_TRUE(log.Lines().empty());
  EXPECT_EQ(clock.Sleeps(), 0u);
}

}  // namespace
}  // namespace tarvik
