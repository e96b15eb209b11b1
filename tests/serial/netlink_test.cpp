#include "serial/netlink.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "pacedclock.h"
#include "portwaits.h"
#include "ptypeer.h"
#include "ser2net.h"
#include "serial/comportworker.h"
#include "serialtesting.h"
#include "support/fakeclock.h"

namespace tarvik {
namespace {

using test::CatchDeviceError;
using test::PtyPeer;
using test::Ser2Net;
using test::WaitUntil;

const std::string kNetProbe = "+v\r\n";
const std::string kNetAnswer = "VER 14.002.020\r\nOK\r\n";

std::unique_ptr<Link> LinkTo(const std::string& address, Clock& clock, bool highSpeed = false) {
  return MakeLink(ParseLinkAddress(address).Take(), {.HighSpeed = highSpeed}, clock);
}

// ---- through a server a bench would use ----

// A device answering every command the same, behind a server of one kind.
struct ServedDevice {
  ServedDevice(Ser2Net::Kind kind, const std::string& answer) : server(peer.Path(), kind) {
    peer.Start(test::AnswerEachCommand(answer));
  }
  PtyPeer peer;
  Ser2Net server;
};

// Both kinds reach the device behind the server: the command arrives as it
// was sent, with nothing of Telnet's among its bytes, and the answer comes
// back whole. The COM port option sets the far line's rate.
TEST(NetLinkOverSer2net, BothKindsCarryAnExchange) {
  for (const Ser2Net::Kind kind : {Ser2Net::Kind::Rfc2217, Ser2Net::Kind::Tcp}) {
    SCOPED_TRACE(Ser2Net::Scheme(kind));
    ServedDevice device(kind, kNetAnswer);
    test::PacedClock clock;
    TComPortWorker worker(LinkTo(device.server.Address(), clock, true), nullptr, clock);
    worker.Open();
    EXPECT_EQ(worker.Port().Name(), device.server.Address());
    std::string reply;
    EXPECT_TRUE(worker.Exchange(kNetProbe, reply, {.TimeoutMs = 5000}));
    EXPECT_EQ(reply, kNetAnswer);
    ASSERT_TRUE(device.peer.WaitReceived(kNetProbe.size()));
    EXPECT_EQ(device.peer.Received(), kNetProbe);
    if (kind == Ser2Net::Kind::Rfc2217) {
      const termios line = test::TermiosOf(device.peer.Slave());
      EXPECT_EQ(cfgetospeed(&line), B115200) << "the rate asked for, not the server's own 19200";
    }
    worker.Close();
  }
}

// Byte 255 is Telnet's escape: it goes out doubled and comes back single.
TEST(NetLinkOverSer2net, TheEscapeByteCrossesBothWays) {
  const std::string answer = "\xFF\xFFOK\xFF\r\n";
  ServedDevice device(Ser2Net::Kind::Rfc2217, answer);
  test::PacedClock clock;
  TComPortWorker worker(LinkTo(device.server.Address(), clock), nullptr, clock);
  worker.Open();
  const std::string command = "+\xFF\xFF\x01\r";
  std::string reply;
  EXPECT_TRUE(worker.Exchange(command, reply, {.TimeoutMs = 5000}));
  EXPECT_EQ(reply, answer);
  ASSERT_TRUE(device.peer.WaitReceived(command.size()));
  EXPECT_EQ(device.peer.Received(), command);
}

// The server going away is a lost line: told while idle, and a failed
// transfer for the exchange that meets it.
TEST(NetLinkOverSer2net, AServerThatGoesIsALostLine) {
  for (const Ser2Net::Kind kind : {Ser2Net::Kind::Rfc2217, Ser2Net::Kind::Tcp}) {
    SCOPED_TRACE(Ser2Net::Scheme(kind));
    ServedDevice device(kind, kNetAnswer);
    test::PacedClock clock;
    auto link = LinkTo(device.server.Address(), clock);
    std::mutex mutex;
    std::vector<std::string> lost;
    link->SetOnLost([&](const std::string& reason) {
      std::lock_guard lock(mutex);
      lost.push_back(reason);
    });
    TComPortWorker worker(std::move(link), nullptr, clock);
    worker.Open();
    device.server.End();
    ASSERT_TRUE(WaitUntil([&] {
      std::lock_guard lock(mutex);
      return !lost.empty();
    }));
    std::string reply;
    const EDeviceError e = CatchDeviceError([&] { worker.Exchange(kNetProbe, reply, {.TimeoutMs = 5000}); });
    EXPECT_TRUE(e.ErrorCode == ecRead || e.ErrorCode == ecWrite) << e.what();
    EXPECT_TRUE(
        std::string(e.what()).starts_with(DeviceErrorText(static_cast<TDeviceErrorCode>(e.ErrorCode))))
        << e.what();
    worker.Close();
    std::lock_guard lock(mutex);
    EXPECT_EQ(lost.size(), 1u);
  }
}

// ---- a server that says what the test wants ----

// One connection at a time on 127.0.0.1, answering the COM port option as a
// test tells it, and sending what the test gives it with the last answer.
class ScriptedTelnetServer {
 public:
  // The server's answer to a setting (command, value); nullopt: none.
  using Answer = std::function<std::optional<std::string>(unsigned char command, const std::string& value)>;

  explicit ScriptedTelnetServer(Answer answer, std::string afterSettings = {}, std::string onData = {})
      : answer_(std::move(answer)), afterSettings_(std::move(afterSettings)), onData_(std::move(onData)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener_, 1);
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~ScriptedTelnetServer() {
    stop_.store(true);
    thread_.join();
    ::close(listener_);
  }

  std::string Address() const { return "rfc2217://127.0.0.1:" + std::to_string(port_); }
  // The data bytes that reached the server, Telnet's taken out.
  std::string Data() {
    std::lock_guard lock(mutex_);
    return data_;
  }

 private:
  void Serve() {
    pollfd waiting{listener_, POLLIN, 0};
    while (!stop_.load() && ::poll(&waiting, 1, 20) <= 0) {
    }
    if (stop_.load()) return;
    const int fd = ::accept(listener_, nullptr, nullptr);
    std::string pending;
    while (!stop_.load()) {
      pollfd in{fd, POLLIN, 0};
      if (::poll(&in, 1, 20) <= 0) continue;
      char chunk[256];
      const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
      if (n <= 0) break;
      pending.append(chunk, static_cast<std::size_t>(n));
      Take(fd, pending);
    }
    ::close(fd);
  }

  // Takes the whole Telnet sequences off the front of pending.
  void Take(int fd, std::string& pending) {
    for (;;) {
      if (pending.empty()) return;
      const auto first = static_cast<unsigned char>(pending[0]);
      if (first != 255) {
        Note(pending.substr(0, 1));
        pending.erase(0, 1);
        Send(fd, std::exchange(onData_, {}));
        continue;
      }
      if (pending.size() < 2) return;
      const auto verb = static_cast<unsigned char>(pending[1]);
      if (verb == 255) {
        Note("\xFF");
        pending.erase(0, 2);
      } else if (verb >= 251) {
        if (pending.size() < 3) return;
        pending.erase(0, 3);
      } else if (verb == 250) {
        const std::size_t end = pending.find("\xFF\xF0");
        if (end == std::string::npos) return;
        const std::string sub = pending.substr(2, end - 2);
        pending.erase(0, end + 2);
        if (sub.size() >= 2 && static_cast<unsigned char>(sub[0]) == 44) Answered(fd, sub);
      } else {
        pending.erase(0, 2);
      }
    }
  }

  void Answered(int fd, const std::string& sub) {
    const auto command = static_cast<unsigned char>(sub[1]);
    // Before the last answer, so the link has it by the time the line is set.
    if (command == 12) Send(fd, afterSettings_);
    const std::optional<std::string> answer = answer_(command, sub.substr(2));
    if (answer) {
      Send(fd, std::string("\xFF\xFA\x2C", 3) + static_cast<char>(command + 100) + *answer + "\xFF\xF0");
    }
  }

  static void Send(int fd, const std::string& bytes) {
    if (!bytes.empty()) ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  }

  void Note(const std::string& byte) {
    std::lock_guard lock(mutex_);
    data_ += byte;
  }

  Answer answer_;
  std::string afterSettings_;
  // Sent once, at the first data byte.
  std::string onData_;
  int listener_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex mutex_;
  std::string data_;
};

// What it was asked for, as a server that does its job answers.
std::optional<std::string> AsAsked(unsigned char, const std::string& value) { return value; }

// Each refusal of the line names what the server did instead.
TEST(NetLinkSettings, ALineTheServerDoesNotSetIsRefused) {
  struct Case {
    const char* name;
    ScriptedTelnetServer::Answer answer;
    std::string detail;
  };
  const Case cases[] = {
      {"another rate",
       [](unsigned char command, const std::string& value) -> std::optional<std::string> {
         return command == 1 ? std::string("\x00\x00\x25\x80", 4) : value;
       },
       "bit/s: asked 19200, the server set 9600"},
      {"flow control it keeps",
       [](unsigned char command, const std::string& value) -> std::optional<std::string> {
         return command == 5 ? std::string("\x03") : value;
       },
       "flow control: asked 1, the server set 3"},
      {"no answer at all", [](unsigned char, const std::string&) { return std::nullopt; },
       "no answer to the line settings within 3000 ms"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedTelnetServer server(c.answer);
    test::PacedClock clock;
    auto link = LinkTo(server.Address(), clock);
    const EDeviceError e = CatchDeviceError([&] { link->Open(); });
    EXPECT_EQ(e.ErrorCode, ecCannotOpen);
    EXPECT_EQ(e.OpenFailure, TOpenFailure::SettingRefused);
    EXPECT_EQ(std::string(e.what()), "Cannot open device " + server.Address() +
                                         ": the server refused a line setting (" + c.detail + ")");
    EXPECT_EQ(e.SystemDetail, c.detail);
    EXPECT_FALSE(link->IsOpen()) << "nothing held after a refusal";
  }
}

// The escape byte inside the stream, and a stream that is no Telnet: before
// the line is set it is no line to use, after it a transfer that failed.
TEST(NetLinkSettings, TheStreamFromTheServer) {
  {
    ScriptedTelnetServer server(AsAsked,
                                "A\xFF\xFF"
                                "B\xFF\xF1"
                                "C");  // a no-operation between the data
    test::PacedClock clock;
    auto link = LinkTo(server.Address(), clock);
    link->Open();
    std::string text;
    ASSERT_TRUE(WaitUntil([&] {
      link->ReadAvailable(text);
      return text.size() >= 4;
    }));
    EXPECT_EQ(text,
              "A\xFF"
              "BC");
    ASSERT_TRUE(link->Write("x\xFFy"));
    ASSERT_TRUE(WaitUntil([&] { return server.Data() == "x\xFFy"; })) << server.Data();
  }
  const std::string broken =
      "OK\xFF"
      "A";
  const std::string why = "Unable to read from port. (the server broke the Telnet stream: IAC before 0x41)";
  {
    ScriptedTelnetServer server(AsAsked, broken);
    test::PacedClock clock;
    auto link = LinkTo(server.Address(), clock);
    const EDeviceError e = CatchDeviceError([&] { link->Open(); });
    EXPECT_EQ(e.OpenFailure, TOpenFailure::SettingRefused);
    EXPECT_EQ(std::string(e.what()),
              "Cannot open device " + server.Address() + ": the server refused a line setting (" + why + ")");
    EXPECT_FALSE(link->IsOpen());
  }
  {
    ScriptedTelnetServer server(AsAsked, "", broken);
    test::PacedClock clock;
    auto link = LinkTo(server.Address(), clock);
    link->Open();
    ASSERT_TRUE(link->Write("+v\r"));
    const EDeviceError e = CatchDeviceError([&] {
      std::string text;
      WaitUntil([&] { return link->ReadAvailable(text) && false; });
    });
    EXPECT_EQ(e.ErrorCode, ecRead);
    EXPECT_EQ(std::string(e.what()), why);
  }
}

// ---- servers that cannot be reached ----

TEST(NetLinkOpen, EachFailureToConnectNamesItsCause) {
  // Nobody listens on a port just freed; a listener with a full queue takes
  // no more connections and leaves them unanswered.
  const std::uint16_t closedPort = test::FreeTcpPort();
  const int full = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ASSERT_EQ(::bind(full, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(full, 0), 0);
  ::getsockname(full, reinterpret_cast<sockaddr*>(&address), &size);
  const std::string fullAddress = "tcp://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
  test::PacedClock clock;
  auto filler = LinkTo(fullAddress, clock);
  filler->Open();

  struct Case {
    std::string address;
    TOpenFailure cause;
    std::string message;  // the start of it
  };
  const std::string refused = "tcp://127.0.0.1:" + std::to_string(closedPort);
  const Case cases[] = {
      {refused, TOpenFailure::Refused,
       "Cannot open device " + refused +
           ": the server refused the connection (error 111: Connection refused)"},
      {"rfc2217://" + fullAddress.substr(6), TOpenFailure::NoAnswer,
       "Cannot open device rfc2217://" + fullAddress.substr(6) +
           ": the server does not answer (nothing within 5000 ms)"},
      {"tcp://no-such-host.invalid:4000", TOpenFailure::UnknownHost,
       "Cannot open device tcp://no-such-host.invalid:4000: unknown host ("},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    test::FakeClock fake;
    auto link = LinkTo(c.address, fake);
    const std::uint64_t start = fake.NowMs();
    const EDeviceError e = CatchDeviceError([&] { link->Open(); });
    EXPECT_EQ(e.ErrorCode, ecCannotOpen);
    EXPECT_EQ(e.OpenFailure, c.cause);
    EXPECT_TRUE(std::string(e.what()).starts_with(c.message)) << e.what();
    EXPECT_EQ(e.Port, c.address);
    EXPECT_LE(fake.NowMs() - start, NetLink::kConnectTimeoutMs) << "the wait is bounded on the clock";
    EXPECT_FALSE(link->IsOpen());
  }
  filler->Close();
  ::close(full);
}

}  // namespace
}  // namespace tarvik
