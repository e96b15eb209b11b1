// The Windows serial layer against the Linux device simulator, reached through
// COM ports of the Wine prefix that the test stage prepares (scripts/wine.sh):
//   TARVIK_WIN_COM         a door detector, VER 14.002.020, that leaves "+un"
//                          unanswered
//   TARVIK_WIN_COM_HANGUP  a device that hangs up instead of answering "+v"
// Without them the port tests are skipped; the rest runs anywhere.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "common/text.h"
#include "common/uisync.h"
#include "device/controller.h"
#include "device/decideupdate.h"
#include "device/mainthread.h"
#include "firmware/catalogue.h"
#include "firmware/rules.h"
#include "serial/comportworker.h"
#include "serial/pacedclock.h"
#include "serial/portlist.h"
#include "serial/portwaits.h"
#include "serial/seriallink.h"
#include "support/fakeclock.h"
#include "support/lineslog.h"
#include "support/tempdir.h"

namespace tarvik {
namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

using test::CatchDeviceError;
using test::LinesLog;
using test::RealMs;
using test::WaitUntil;

const std::string kProbe = "+v\r\n";

// A COM port with a simulated device behind it, named by the environment.
class SimulatedPort : public ::testing::Test {
 protected:
  void SetUp() override {
    name = Env("TARVIK_WIN_COM");
    if (name.empty()) GTEST_SKIP() << "TARVIK_WIN_COM names no simulated port";
  }
  std::string name;
};

// ---- opening ----

// Each refusal says why, with the system's own error where it has one:
// "Cannot open device COM199: no such port (Win32 error 2: <its text>)".
TEST(Win32Open, EachRefusalNamesItsCause) {
  struct Case {
    const char* name;
    TOpenFailure cause;
    std::string form;  // a regular expression
  };
  const Case cases[] = {
      {"COM199", TOpenFailure::Missing, R"(Cannot open device COM199: no such port \(Win32 error 2: .+\))"},
      {"NoSuchPort", TOpenFailure::Missing,
       R"(Cannot open device NoSuchPort: no such port \(Win32 error 2: .+\))"},
      // A device without a line.
      {"NUL", TOpenFailure::NotASerialLine, R"(Cannot open device NUL: not a serial line)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TXComm port;
    port.SetDeviceName(c.name);
    const EDeviceError e = CatchDeviceError([&] { port.Open(); });
    EXPECT_EQ(e.ErrorCode, ecCannotOpen);
    EXPECT_EQ(e.OpenFailure, c.cause);
    EXPECT_TRUE(std::regex_match(std::string(e.what()), std::regex(c.form))) << e.what();
    EXPECT_FALSE(port.IsOpen());
  }
}

TEST_F(SimulatedPort, OpenConfiguresTheDriver) {
  auto serial = std::make_unique<SerialLink>(name, LinkSettings{}, SystemClock());
  TXComm& port = serial->Port();
  TComPortWorker worker(std::move(serial), nullptr);
  worker.Open();
  commos::TDeviceControlBlock dcb;
  ASSERT_TRUE(port.ReadDeviceControl(dcb));
  EXPECT_EQ(dcb.BaudRate, 19200u);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Parity, 0);
  EXPECT_EQ(dcb.StopBits, 0);
  EXPECT_TRUE(dcb.fBinary);
  EXPECT_FALSE(dcb.fOutxCtsFlow);
  EXPECT_FALSE(dcb.fOutX);
  EXPECT_FALSE(dcb.fInX);
  EXPECT_EQ(dcb.fDtrControl, commos::TDtrControl::Disable);
  EXPECT_EQ(dcb.fRtsControl, commos::TRtsControl::Disable);
  EXPECT_EQ(dcb.EvtChar, '\r');
  EXPECT_EQ(dcb.XonChar, 17);
  EXPECT_EQ(dcb.XoffChar, 19);
  commos::TDriverTimeouts timeouts;
  ASSERT_TRUE(port.ReadDriverTimeouts(timeouts));
  EXPECT_EQ(timeouts.ReadInterval, 1u);
  EXPECT_EQ(timeouts.ReadMultiplier, 30u);
  EXPECT_EQ(timeouts.ReadConstant, 1u);
  EXPECT_EQ(timeouts.WriteMultiplier, 30u);
  EXPECT_EQ(timeouts.WriteConstant, 1u);
  EXPECT_EQ(port.BaudRate(), 19200u);

  // A change of rate reaches the open line at once.
  port.SetBaudRate(115200);
  ASSERT_TRUE(port.ReadDeviceControl(dcb));
  EXPECT_EQ(dcb.BaudRate, 115200u);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(port.BaudRate(), 115200u);
}

// Another program holding the port: this test program started again.
class PortHolder {
 public:
  explicit PortHolder(const std::string& portName) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE childIn = nullptr;
    HANDLE childOut = nullptr;
    if (!::CreatePipe(&childIn, &toChild_, &inherit, 0) ||
        !::CreatePipe(&fromChild_, &childOut, &inherit, 0)) {
      return;
    }
    ::SetHandleInformation(toChild_, HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(fromChild_, HANDLE_FLAG_INHERIT, 0);
    char self[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string command = std::string("\"") + self + "\" --hold-port " + portName;
    STARTUPINFOA start{};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdInput = childIn;
    start.hStdOutput = childOut;
    start.hStdError = childOut;
    PROCESS_INFORMATION info{};
    if (::CreateProcessA(self, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start, &info)) {
      process_ = info.hProcess;
      ::CloseHandle(info.hThread);
    }
    ::CloseHandle(childIn);
    ::CloseHandle(childOut);
  }
  ~PortHolder() {
    Release();
    if (fromChild_ != nullptr) ::CloseHandle(fromChild_);
  }
  PortHolder(const PortHolder&) = delete;
  PortHolder& operator=(const PortHolder&) = delete;

  // The first line the holder wrote: "held" once it has the port.
  std::string Line() {
    std::string line;
    char c = 0;
    DWORD n = 0;
    while (fromChild_ != nullptr && ::ReadFile(fromChild_, &c, 1, &n, nullptr) && n == 1 && c != '\n') {
      if (c != '\r') line += c;
    }
    return line;
  }

  // Ends the holder (it waits for its input to close) and waits for it.
  bool Release() {
    if (toChild_ != nullptr) {
      ::CloseHandle(toChild_);
      toChild_ = nullptr;
    }
    if (process_ == nullptr) return false;
    const bool ended = ::WaitForSingleObject(process_, 10000) == WAIT_OBJECT_0;
    ::CloseHandle(process_);
    process_ = nullptr;
    return ended;
  }

 private:
  HANDLE toChild_ = nullptr;
  HANDLE fromChild_ = nullptr;
  HANDLE process_ = nullptr;
};

int HoldPort(const std::string& portName) {
  TXComm port;
  port.SetDeviceName(portName);
  try {
    port.Open();
  } catch (const EDeviceError& e) {
    std::printf("refused: %s\n", e.what());
    return 1;
  }
  std::printf("held\n");
  std::fflush(stdout);
  while (std::fgetc(stdin) != EOF) {
  }
  return 0;
}

TEST_F(SimulatedPort, SecondOpenIsRefusedLikeOnLinux) {
  TXComm first;
  first.SetDeviceName(name);
  first.Open();
  TXComm second;
  second.SetDeviceName(name);
  // The system does not tell who holds a port; its error does say why.
  const std::regex busy("Cannot open device " + name + R"(: the port is busy \(Win32 error 5: .+\))");
  const EDeviceError e = CatchDeviceError([&] { second.Open(); });
  EXPECT_EQ(e.ErrorCode, ecCannotOpen);
  EXPECT_EQ(e.OpenFailure, TOpenFailure::Busy);
  EXPECT_TRUE(std::regex_match(std::string(e.what()), busy)) << e.what();
  first.Close();
  EXPECT_NO_THROW(second.Open()) << "free again once closed";
  second.Close();

  PortHolder holder(name);
  ASSERT_EQ(holder.Line(), "held");
  const EDeviceError held = CatchDeviceError([&] { first.Open(); });
  EXPECT_EQ(held.ErrorCode, ecCannotOpen);
  EXPECT_EQ(held.OpenFailure, TOpenFailure::Busy);
  EXPECT_TRUE(std::regex_match(std::string(held.what()), busy)) << held.what();
  ASSERT_TRUE(holder.Release());
  EXPECT_NO_THROW(first.Open()) << "free again once the other program has gone";
}

// ---- exchanges ----

TEST_F(SimulatedPort, IdentifiesTheSimulatedDoorDetector) {
  TComPortWorker worker(name, false, nullptr);
  worker.Open();
  TController controller(&worker, SilentDeviceEvents());
  EXPECT_TRUE(controller.Identify());
  EXPECT_TRUE(controller.Identified);
  EXPECT_EQ(controller.Identity.VersionLine, "VER 14.002.020");
  EXPECT_EQ(controller.Identity.TypeNumber, 2);
  EXPECT_EQ(controller.Identity.Build, 20);
}

// The decision dialogs, answered by nobody: only an offered image is expected.
class OfferOnlyView final : public DecisionView {
 public:
  int ChooseDeviceType(const std::vector<std::string>&) override { return -1; }
  int ChoosePreferredFirmware(const std::string&, const std::vector<ImageChoice>&, bool) override {
    return -1;
  }
  void ShowInformation(const std::string& text) override { information.push_back(text); }
  void OfferImage(int imageIndex) override { offered = imageIndex; }
  void ReportUnsupported(const std::string& text) override { information.push_back(text); }
  void RequestDisconnect() override {}
  std::optional<int> offered;
  std::vector<std::string> information;
};

TEST_F(SimulatedPort, DemonstrationRoadFromThePortToTheOfferedImage) {
  // update.ini beside the program holds 14.002.000=0,20->28, as scripts/run.sh
  // writes it; the door detector reports build 20.
  test::TempDir programDir("tarvik-win-road");
  const auto rules = UpdateRulesPath(programDir.Path());
  std::ofstream(rules, std::ios::binary) << "[UpdateRules]\r\n14.002.000=0,20->28\r\n";
  FirmwareCatalogue catalogue;
  catalogue.LoadCatalogue();

  TComPortWorker worker(name, false, nullptr);
  worker.Open();
  TController controller(&worker, SilentDeviceEvents());
  OfferOnlyView view;
  struct Steps final : MainThreadSteps {
    std::function<void(TController&)> decide;
    std::vector<std::string> published;
    void PublishIdentity(TController& c) override { published.push_back(c.Identity.VersionLine); }
    void ResetFlashState() override {}
    void DecideUpdate(TController& c) override { decide(c); }
  } steps;
  std::optional<DecisionOutcome> outcome;
  steps.decide = [&](TController& c) { outcome = DecideUpdate(c.Identity, catalogue, rules, view); };
  UiStepQueue ui;
  TMainThread thread(controller, ui, steps);
  thread.Resume();
  ui.WaitServicing([&] { return outcome.has_value() || thread.Finished(); });
  thread.Stop();
  thread.WaitFor();
  EXPECT_EQ(steps.published, std::vector<std::string>{"VER 14.002.020"});
  ASSERT_EQ(outcome, DecisionOutcome::Offered);
  ASSERT_TRUE(view.offered.has_value());
  EXPECT_EQ(catalogue.FirmwareImages().at(static_cast<std::size_t>(*view.offered)).VersionText,
            "VER 14.002.028");
}

TEST_F(SimulatedPort, ReplyIsTakenAsSoonAsItArrives) {
  LinesLog log;
  TComPortWorker worker(name, false, &log);
  worker.Open();
  std::string reply;
  const auto start = RealMs();
  EXPECT_TRUE(worker.Exchange(kProbe, reply, {.TimeoutMs = 2500}));
  const auto elapsed = RealMs() - start;
  EXPECT_EQ(reply, "VER 14.002.020\r\nOK\r\n");
  // 60 ms of RTS pauses and some 15 ms on the wire at 19200 bit/s; the
  // reader wakes with the bytes, not at the end of the time-out.
  EXPECT_LT(elapsed, 500);
  EXPECT_EQ(log.Lines(),
            (std::vector<std::string>{"$$$: ", "#com<-: " + kProbe, "@com->: VER 14.002.020\r\nOK\r\n"}));
}

TEST_F(SimulatedPort, UnansweredCommandsTakeTheirTimeOutsAsOnLinux) {
  // The same figures as the Linux worker test: per attempt 60 ms of RTS
  // pauses and a reply wait that ends as soon as more than 500 ms passed.
  test::FakeClock clock;
  LinesLog log;
  TComPortWorker worker(name, false, &log, clock);
  worker.Open();
  std::string reply;
  const std::uint64_t start = clock.NowMs();
  EXPECT_FALSE(worker.Exchange("+un\r", reply, {.Attempts = 3}));
  const std::uint64_t waited = clock.NowMs() - start;
  EXPECT_EQ(reply, "");
  EXPECT_GE(waited, 3u * (60 + 501));
  EXPECT_LE(waited, 3u * (60 + 501) + 30);
  std::vector<std::string> expected;
  for (int i = 0; i < 3; ++i) expected.insert(expected.end(), {"$$$: ", "#com<-: +un\r", "@com->: "});
  EXPECT_EQ(log.Lines(), expected);
}

TEST_F(SimulatedPort, UnansweredCommandWaitsItsTimeOutInRealTime) {
  TComPortWorker worker(name, false, nullptr);
  worker.Open();
  std::string reply;
  const auto start = RealMs();
  EXPECT_FALSE(worker.Exchange("+un\r", reply, {.TimeoutMs = 500}));
  const auto elapsed = RealMs() - start;
  EXPECT_EQ(reply, "");
  EXPECT_GE(elapsed, 60 + 500);
  EXPECT_LT(elapsed, 60 + 500 + 250);
}

TEST_F(SimulatedPort, LateAnswerIsDiscardedBeforeTheNextCommand) {
  test::PacedClock clock;
  LinesLog log;
  TComPortWorker worker(name, false, &log, clock);
  worker.Open();
  ASSERT_TRUE(worker.Port().Write(kProbe));
  ASSERT_TRUE(WaitUntil([&] { return worker.Port().InputCount() == 20; }));
  std::string reply;
  EXPECT_TRUE(worker.Exchange(kProbe, reply, {.TimeoutMs = 5000}));
  EXPECT_EQ(reply, "VER 14.002.020\r\nOK\r\n");
  EXPECT_EQ(log.Lines().front(), "$$$: VER 14.002.020\r\nOK\r\n");
}

// ---- events ----

TEST_F(SimulatedPort, WatcherLeavesTheBytesAndEndsPromptly) {
  TXComm port;
  port.SetDeviceName(name);
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    port.Open();
    ASSERT_TRUE(port.WriteString(kProbe));
    ASSERT_TRUE(WaitUntil([&] { return port.QueueCount(0) == 20; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(port.QueueCount(0), 20u) << "the watcher only looks";
    std::string text;
    EXPECT_TRUE(port.ReadString(text));
    EXPECT_EQ(text, "VER 14.002.020\r\nOK\r\n");
    const auto start = RealMs();
    port.Close();
    EXPECT_LT(RealMs() - start, 200) << "the watcher ends promptly";
  }
}

double ProcessCpuMs() {
  FILETIME created, exited, kernel, user;
  ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
  auto ms = [](const FILETIME& t) {
    return static_cast<double>((std::uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime) / 10000.0;
  };
  return ms(kernel) + ms(user);
}

TEST_F(SimulatedPort, WatchingAPortKeepsNoCoreBusy) {
  TXComm port;
  port.SetDeviceName(name);
  port.Open();
  struct Case {
    const char* what;
    std::uint32_t queued;
  };
  // An idle line, then bytes that sit unread.
  for (const Case& c : {Case{"idle", 0}, Case{"unread bytes", 20}}) {
    SCOPED_TRACE(c.what);
    if (c.queued != 0) {
      ASSERT_TRUE(port.WriteString(kProbe));
      ASSERT_TRUE(WaitUntil([&] { return port.QueueCount(0) == c.queued; }));
    }
    const double before = ProcessCpuMs();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    // A watcher that spins costs the whole 500 ms of a core; Wine's own
    // wake-ups on a virtual line cost a share that grows with the load of
    // the machine, so the bound is half of that, not a share of it.
    EXPECT_LT(ProcessCpuMs() - before, 250.0);
  }
}

// ---- failures ----

TEST(Win32HangUp, EndsTheExchangeWithTheSystemsError) {
  const std::string name = Env("TARVIK_WIN_COM_HANGUP");
  if (name.empty()) GTEST_SKIP() << "TARVIK_WIN_COM_HANGUP names no simulated port";
  LinesLog log;
  TComPortWorker worker(name, false, &log);
  worker.Open();
  std::string reply;
  const EDeviceError e =
      CatchDeviceError([&] { worker.Exchange(kProbe, reply, {.Attempts = 3, .TimeoutMs = 5000}); });
  EXPECT_TRUE(e.ErrorCode == ecRead || e.ErrorCode == ecWrite) << e.ErrorCode;
  std::printf("the hang-up as the user reads it: code %d, %s\n", e.ErrorCode, e.what());
  // "Unable to read from port. (Win32 error N: the system's text for N)"
  const std::regex form(R"(Unable to (read from|write to) port\. \(Win32 error ([0-9]+): .*\))");
  std::cmatch m;
  ASSERT_TRUE(std::regex_match(e.what(), m, form)) << e.what();
  const int code = std::stoi(m[2].str());
  EXPECT_NE(code, 0);
  EXPECT_EQ(std::string(e.what()),
            FormatOsErrorMessage(DeviceErrorText(static_cast<TDeviceErrorCode>(e.ErrorCode)), code,
                                 commos::OsErrorText(code)));
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{"$$$: ", "#com<-: " + kProbe}));
  EXPECT_NO_THROW(worker.Close());
}

// ---- the system's texts and ports ----

TEST(Win32SystemText, IsTheUsersLanguageInWindows1251) {
  // ctest runs this program as on a Russian system (LC_ALL=ru_RU.UTF-8).
  const std::string text = commos::OsErrorText(ERROR_FILE_NOT_FOUND);
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.find('?'), std::string::npos) << "every character has a Windows-1251 form";
  const std::string locale = Env("LC_ALL").empty() ? Env("LANG") : Env("LC_ALL");
  if (locale.rfind("ru", 0) == 0) {
    // Cyrillic letters are the bytes 0xC0 to 0xFF in Windows-1251.
    const bool cyrillic =
        std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) >= 0xC0; });
    EXPECT_TRUE(cyrillic) << text;
  }
  EXPECT_EQ(commos::OsErrorText(0x2FFFFFFF), "Unknown error 805306367");
}

class UserKey : public ::testing::Test {
 protected:
  void SetUp() override {
    path = "Software\\TarvikTest\\SERIALCOMM-" + std::to_string(::GetCurrentProcessId());
    ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                nullptr),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    if (key != nullptr) ::RegCloseKey(key);
    ::RegDeleteKeyA(HKEY_CURRENT_USER, path.c_str());
    // Gone only when no other run still has its key there.
    ::RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\TarvikTest");
  }
  void Text(const char* valueName, const std::string& data) {
    ::RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                     static_cast<DWORD>(data.size() + 1));
  }

  std::string path;
  HKEY key = nullptr;
};

TEST_F(UserKey, PortsAreTheTextValuesOfTheKey) {
  EXPECT_TRUE(SystemSerialPortsInUserKey(path).empty()) << "an empty key lists nothing";
  Text("\\Device\\Serial2", "COM3");
  Text("\\Device\\VCP0", "COM12");
  Text("\\Device\\Empty", "");
  const DWORD number = 7;
  ::RegSetValueExA(key, "\\Device\\Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                   sizeof number);
  // Data without its terminating zero still reads as its text.
  ::RegSetValueExA(key, "\\Device\\Raw", 0, REG_SZ, reinterpret_cast<const BYTE*>("COM5"), 4);
  std::vector<std::string> ports = SystemSerialPortsInUserKey(path);
  std::sort(ports.begin(), ports.end());
  EXPECT_EQ(ports, (std::vector<std::string>{"COM12", "COM3", "COM5"}));
  EXPECT_TRUE(SystemSerialPortsInUserKey(path + "\\Missing").empty());
}

TEST_F(SimulatedPort, SystemListsTheMappedPorts) {
  const std::vector<std::string> ports = SystemSerialPorts();
  EXPECT_NE(std::find(ports.begin(), ports.end(), name), ports.end()) << name;
  const std::string hangUp = Env("TARVIK_WIN_COM_HANGUP");
  if (!hangUp.empty()) {
    EXPECT_NE(std::find(ports.begin(), ports.end(), hangUp), ports.end()) << hangUp;
  }
}

}  // namespace
}  // namespace tarvik

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--hold-port") return tarvik::HoldPort(argv[2]);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
