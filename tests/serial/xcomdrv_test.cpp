#include "serial/xcomdrv.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "otherprogram.h"
#include "ptypeer.h"
#include "serialtesting.h"
#include "support/fakeclock.h"
#include "support/tempdir.h"

namespace tarvik {
namespace {

using test::CatchDeviceError;
using test::PtyPeer;
using test::WaitUntil;

// A port on the slave of a fresh pseudo-terminal; the peer listens on the
// master.
class PortOnPty : public ::testing::Test {
 protected:
  void SetUp() override { port.SetDeviceName(peer.DeviceName()); }

  PtyPeer peer;
  TXComm port;
};

// ---- settings model ----

TEST(SerialSettings, NewComponentDefaults) {
  TXComm port;
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.LockState(), 3);
  EXPECT_EQ(port.DeviceName(), "COM2");
  EXPECT_EQ(port.BaudRate(), br9600);
  EXPECT_EQ(port.BaudValue(), 9600u);
  EXPECT_EQ(port.DataControl().DataBits(), db8);
  EXPECT_EQ(port.DataControl().Parity(), paNone);
  EXPECT_EQ(port.DataControl().StopBits(), sb1);
  EXPECT_EQ(port.FlowControl(), fcNone);
  EXPECT_TRUE(port.RTSSettings().Empty());
  EXPECT_TRUE(port.DTRSettings().Empty());
  EXPECT_TRUE(port.XOnXOffSettings().Empty());
  EXPECT_TRUE(port.Options().Empty());
  EXPECT_EQ(port.MonitorEvents(), (TDeviceEvents{deChar, deFlag, deOutEmpty}));
  EXPECT_TRUE(port.Synchronize());
  EXPECT_EQ(port.Buffers().InputSize(), 2048);
  EXPECT_EQ(port.Buffers().OutputSize(), 2048);
  EXPECT_EQ(port.Buffers().InputTimeout(), 500);
  EXPECT_EQ(port.Buffers().OutputTimeout(), 500);

  const char chars[] = {17, 19, 0, 0, 10};  // Xon, Xoff, Eof, Error, Event
  for (int i = 0; i < 5; ++i) EXPECT_EQ(port.EventChars().Char(i), chars[i]) << i;
  EXPECT_EQ(port.EventChars().EventChar(), 10);
  const std::uint32_t timeouts[] = {1, 30, 1, 30, 1};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(port.Timeouts().Value(i), timeouts[i]) << i;
}

TEST(SerialSettings, SetsAreBitMasksByOrdinal) {
  EXPECT_EQ((TDeviceEvents{deChar, deFlag, deOutEmpty}).ToBits(), 0x7);
  EXPECT_EQ((TDeviceEvents{deProv2}).ToBits(), 0x1000);
  EXPECT_EQ((TCommOptions{coLeaveDTROpen}).ToBits(), 0x40);
  EXPECT_EQ((TRTSSettings{fsCTSOut, fsRTSHandshake}).ToBits(), 0x5);
}

TEST(SerialSettings, QueueSizesAreClamped) {
  struct Case {
    std::uint16_t asked;
    std::uint16_t stored;
  };
  const Case cases[] = {{0, 128},     {50, 128},     {128, 128},   {2000, 2000},
                        {4096, 4096}, {10000, 4096}, {65535, 4096}};
  for (const Case& c : cases) {
    TXComm port;
    port.Buffers().SetInputSize(c.asked);
    port.Buffers().SetOutputSize(c.asked);
    EXPECT_EQ(port.Buffers().InputSize(), c.stored) << c.asked;
    EXPECT_EQ(port.Buffers().OutputSize(), c.stored) << c.asked;
  }
}

TEST(SerialSettings, BaudValueFollowsTheRateTableUnlessCustom) {
  TXComm port;
  port.SetBaudRate(br19200);
  EXPECT_EQ(port.BaudValue(), 19200u);
  port.SetBaudValue(12345);
  EXPECT_EQ(port.BaudValue(), 19200u) << "ignored while a table rate is chosen";
  port.SetBaudRate(brCustom);
  EXPECT_EQ(port.BaudValue(), 19200u) << "custom keeps the value";
  port.SetBaudValue(12345);
  EXPECT_EQ(port.BaudValue(), 12345u);
  port.SetBaudRate(br256000);
  EXPECT_EQ(port.BaudValue(), 256000u);
}

TEST(SerialSettings, FlowControlPresets) {
  struct Case {
    TFlowControl flow;
    TCommOptions options;
    TRTSSettings rts;
    TDTRSettings dtr;
    TXOnXOffSettings xon;
  };
  const Case cases[] = {
      {fcNone, {}, {}, {}, {}},
      {fcRtsCts, {}, {fsCTSOut, fsRTSHandshake}, {fsDTREnabled}, {}},
      {fcDtrDsr, {}, {fsRTSEnabled}, {fsDSROut, fsDTREnabled}, {}},
      {fcSoftware, {}, {}, {fsDTREnabled}, {fsInX, fsOutX}},
      {fcNone, {coLeaveDTROpen}, {}, {fsDTREnabled}, {}},
      {fcDtrDsr, {coLeaveDTROpen}, {fsRTSEnabled}, {fsDSROut, fsDTREnabled}, {}},
  };
  for (const Case& c : cases) {
    TXComm port;
    port.SetFlowControl(fcCustom);  // so that the preset below is a change
    port.SetOptions(c.options);
    port.SetFlowControl(c.flow);
    SCOPED_TRACE(testing::Message() << "flow " << int(c.flow) << " options " << int(c.options.ToBits()));
    EXPECT_EQ(port.RTSSettings(), c.rts);
    EXPECT_EQ(port.DTRSettings(), c.dtr);
    EXPECT_EQ(port.XOnXOffSettings(), c.xon);
  }
}

TEST(SerialSettings, LineSetsChangeOnlyUnderCustomFlowControl) {
  TXComm port;
  port.SetRTSSettings({fsRTSEnabled});
  port.SetDTRSettings({fsDTREnabled});
  port.SetXOnXOffSettings({fsInX});
  EXPECT_TRUE(port.RTSSettings().Empty());
  EXPECT_TRUE(port.DTRSettings().Empty());
  EXPECT_TRUE(port.XOnXOffSettings().Empty());

  port.SetFlowControl(fcCustom);
  port.SetRTSSettings({fsRTSEnabled});
  port.SetXOnXOffSettings({fsInX});
  EXPECT_EQ(port.RTSSettings(), TRTSSettings{fsRTSEnabled});
  EXPECT_EQ(port.XOnXOffSettings(), TXOnXOffSettings{fsInX});
}

TEST(SerialSettings, DtrRules) {
  struct Case {
    const char* name;
    TCommOptions options;
    TDTRSettings stored;
    TDTRSettings asked;
    TDTRSettings result;
  };
  const Case cases[] = {
      {"both asked, stored had handshake",
       {},
       {fsDTRHandshake},
       {fsDTREnabled, fsDTRHandshake},
       {fsDTREnabled}},
      {"both asked, stored had enabled",
       {},
       {fsDTREnabled},
       {fsDTREnabled, fsDTRHandshake},
       {fsDTRHandshake}},
      {"both asked, stored empty", {}, {}, {fsDTREnabled, fsDTRHandshake}, {fsDTRHandshake}},
      {"leave open forces DTR on", {coLeaveDTROpen}, {fsDTREnabled}, {fsDTRHandshake}, {fsDTREnabled}},
      {"leave open keeps DSR flow", {coLeaveDTROpen}, {fsDTREnabled}, {fsDSROut}, {fsDSROut, fsDTREnabled}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TXComm port;
    port.SetFlowControl(fcCustom);
    port.SetOptions(c.options);
    port.SetDTRSettings({});
    // Reach the stored state through a set without both members.
    port.SetDTRSettings(c.stored);
    ASSERT_EQ(port.DTRSettings(), c.stored);
    port.SetDTRSettings(c.asked);
    EXPECT_EQ(port.DTRSettings(), c.result);
  }
}

TEST(SerialSettings, OptionsOnClosedPortReapplyThePreset) {
  TXComm port;
  port.SetFlowControl(fcCustom);
  port.SetRTSSettings({fsRTSEnabled});
  port.SetOptions({coParityCheck});
  EXPECT_TRUE(port.RTSSettings().Empty());
  EXPECT_EQ(port.DTRSettings(), TDTRSettings{fsDTREnabled});
}

TEST(SerialSettings, AssignCopiesAGroup) {
  TXComm a;
  TXComm b;
  b.DataControl().SetDataBits(db7);
  b.DataControl().SetParity(paEven);
  b.DataControl().SetStopBits(sb2);
  b.Buffers().SetInputSize(1024);
  b.Buffers().SetOutputTimeout(77);
  b.EventChars().SetEventChar('\r');
  b.Timeouts().SetWriteConstant(9);
  a.SetDataControl(b.DataControl());
  a.SetBuffers(b.Buffers());
  a.SetEventChars(b.EventChars());
  a.SetTimeouts(b.Timeouts());
  EXPECT_EQ(a.DataControl().DataBits(), db7);
  EXPECT_EQ(a.DataControl().Parity(), paEven);
  EXPECT_EQ(a.DataControl().StopBits(), sb2);
  EXPECT_EQ(a.Buffers().InputSize(), 1024);
  EXPECT_EQ(a.Buffers().OutputTimeout(), 77);
  EXPECT_EQ(a.EventChars().EventChar(), '\r');
  EXPECT_EQ(a.Timeouts().WriteConstant(), 9u);
}

TEST(SerialErrors, OsErrorMessage) {
  struct Case {
    std::string system;
    std::string expected;
  };
  const Case cases[] = {
      {"Access is denied.\r\n", "Unable to read from port. (error 5: Access is denied)"},
      {"Input/output error", "Unable to read from port. (error 5: Input/output error)"},
      {"Trailing dots... \t", "Unable to read from port. (error 5: Trailing dots)"},
      // Letters above 0x7F are text, not control characters.
      {"\xCE\xF8\xE8\xE1\xEA\xE0", "Unable to read from port. (error 5: \xCE\xF8\xE8\xE1\xEA\xE0)"},
      {"", "Unable to read from port. (error 5: )"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatOsErrorMessage("Unable to read from port.", 5, c.system), c.expected);
  }
  const std::string longText = std::string(255, 'x') + "yz";
  EXPECT_EQ(FormatOsErrorMessage("T", 1, longText), "T (error 1: " + std::string(255, 'x') + "y)");
}

// ---- opening and closing ----

TEST(SerialOpen, MissingDeviceCannotBeOpened) {
  TXComm port;
  port.SetDeviceName("ttyNoSuchPort");
  const EDeviceError e = CatchDeviceError([&] { port.Open(); });
  EXPECT_EQ(e.ErrorCode, ecCannotOpen);
  EXPECT_EQ(e.OpenFailure, TOpenFailure::Missing);
  EXPECT_STREQ(e.what(),
               "Cannot open device ttyNoSuchPort: no such port (error 2: No such file or directory)");
  EXPECT_FALSE(port.IsOpen());
}

TEST_F(PortOnPty, LineSettingTheDeviceRefusesLeavesItOpenAfterTheFailure) {
  // Four data bits: no tty has them.
  port.DataControl().SetDataBits(db4);
  const EDeviceError e = CatchDeviceError([&] { port.Open(); });
  EXPECT_EQ(e.ErrorCode, ecControlBlock);
  EXPECT_STREQ(e.what(), "Unable to update device control block.");
  EXPECT_TRUE(port.IsOpen()) << "the owner disposes of it";
  EXPECT_NO_THROW(port.Close());
}

// What a port name can lead to besides a serial line: each is refused as a
// device that cannot be opened, before anything is configured or written,
// and the message says why.
class NotASerialLine : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = std::filesystem::temp_directory_path() /
          ("xcomdrv-open-" + std::to_string(::getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
  }
  void TearDown() override { std::filesystem::remove_all(dir); }

  // The port name that reaches a path outside /dev.
  static std::string NameOf(const std::filesystem::path& path) {
    return "../" + path.relative_path().string();
  }

  std::filesystem::path dir;
};

TEST_F(NotASerialLine, IsRefusedAsADeviceThatCannotBeOpened) {
  std::ofstream(dir / "plain") << "not a port";
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  std::filesystem::create_symlink("/dev/ptmx", dir / "ptmx-sim");
  std::filesystem::create_symlink("/dev/tty", dir / "tty-sim");
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);

  const std::string names[] = {
      "null",                                // a character device without a line
      "zero",                                //
      "fd/" + std::to_string(fileno(file)),  // a plain file of this process
      NameOf(dir / "plain"),                 //
      NameOf(dir / "fifo"),                  // would block a reader, or take what is written
      NameOf(dir),                           // a folder
      "pts",                                 //
      "ptmx",                                // would hand out a new pseudo-terminal
      "pts/ptmx",                            //
      NameOf(dir / "ptmx-sim"),              //
      "tty",                                 // the controlling terminal, whichever it is
      NameOf(dir / "tty-sim"),               //
      "console",                             //
      "tty0",                                // the virtual consoles
      "tty1",                                //
      "tty63",                               //
  };
  for (const std::string& name : names) {
    TXComm port;
    port.SetDeviceName(name);
    const EDeviceError e = CatchDeviceError([&] { port.Open(); });
    EXPECT_EQ(e.ErrorCode, ecCannotOpen) << name;
    // A system may lack one of the terminals; it is then missing instead.
    if (!std::filesystem::exists("/dev/" + name)) {
      EXPECT_EQ(e.OpenFailure, TOpenFailure::Missing) << name;
      continue;
    }
    EXPECT_EQ(e.OpenFailure, TOpenFailure::NotASerialLine) << name;
    EXPECT_EQ(std::string(e.what()), "Cannot open device " + name + ": not a serial line");
    EXPECT_FALSE(port.IsOpen()) << name;
  }
  std::fclose(file);
}

TEST(SerialOpen, OwnTerminalIsNeverOpened) {
  // In a session of its own whose controlling terminal is a pseudo-terminal,
  // as the tool is when started from a shell: neither /dev/tty nor the
  // terminal's own name opens it.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  PtyPeer peer;
  EXPECT_EXIT(
      {
        ::setsid();
        const int ctty = ::open(peer.Path().c_str(), O_RDWR);
        if (ctty < 0 || ::ioctl(ctty, TIOCSCTTY, 0) < 0) std::_Exit(2);
        int opened = 0;
        for (const std::string& name : {std::string("tty"), peer.DeviceName()}) {
          TXComm port;
          port.SetDeviceName(name);
          try {
            port.Open();
            ++opened;
          } catch (const EDeviceError& e) {
            if (e.ErrorCode != ecCannotOpen) ++opened;
          }
        }
        std::_Exit(opened == 0 ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(PortOnPty, StateErrors) {
  EXPECT_EQ(CatchDeviceError([&] { port.Close(); }).ErrorCode, ecNotOpened);
  char buffer[4];
  struct Case {
    const char* what;
    std::function<void()> call;
  };
  const Case closedCalls[] = {
      {"Close", [&] { port.Close(); }},
      {"QueueCount", [&] { port.QueueCount(0); }},
      {"ReadBuffer", [&] { port.ReadBuffer(buffer, 4, 10); }},
      {"WriteBuffer", [&] { port.WriteBuffer(buffer, 4, 10); }},
      {"WriteString", [&] { port.WriteString("x"); }},
  };
  for (const Case& c : closedCalls) {
    const EDeviceError e = CatchDeviceError(c.call);
    EXPECT_EQ(e.ErrorCode, ecNotOpened) << c.what;
    EXPECT_STREQ(e.what(), "Device not opened.") << c.what;
  }

  port.Open();
  const EDeviceError again = CatchDeviceError([&] { port.Open(); });
  EXPECT_EQ(again.ErrorCode, ecAlreadyOpened);
  EXPECT_STREQ(again.what(), "Device is allready opened.");
  EXPECT_TRUE(port.IsOpen());
  EXPECT_EQ(port.LockState(), 0);
  port.Close();
  EXPECT_FALSE(port.IsOpen());
}

TEST_F(PortOnPty, HeldPortCannotBeOpenedAgainInThisProcess) {
  port.Open();
  TXComm second;
  second.SetDeviceName(peer.DeviceName());
  const EDeviceError e = CatchDeviceError([&] { second.Open(); });
  EXPECT_EQ(e.ErrorCode, ecCannotOpen);
  EXPECT_EQ(e.OpenFailure, TOpenFailure::Busy);
  EXPECT_TRUE(
      std::string(e.what()).starts_with("Cannot open device " + peer.DeviceName() + ": the port is busy"))
      << e.what();
  port.Close();
  EXPECT_NO_THROW(second.Open()) << "free again once closed";
}

TEST_F(PortOnPty, PortHeldByAnotherProcessCannotBeOpened) {
  int toParent[2];
  int toChild[2];
  ASSERT_EQ(pipe(toParent), 0);
  ASSERT_EQ(pipe(toChild), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Another instance of the tool: it holds the port the same way.
    const int fd = ::open(peer.Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    const char ok = (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0) ? 'y' : 'n';
    [[maybe_unused]] auto w = ::write(toParent[1], &ok, 1);
    char c;
    [[maybe_unused]] auto r = ::read(toChild[0], &c, 1);
    _exit(0);
  }
  char ok = 0;
  ASSERT_EQ(::read(toParent[0], &ok, 1), 1);
  ASSERT_EQ(ok, 'y');
  const EDeviceError e = CatchDeviceError([&] { port.Open(); });
  EXPECT_EQ(e.ErrorCode, ecCannotOpen);
  // The child holds the master too, as a fork of the test: only its lock
  // on the port keeps the port out.
  EXPECT_EQ(e.OpenFailure, TOpenFailure::Busy);
  EXPECT_EQ(std::string(e.what()), "Cannot open device " + peer.DeviceName() + ": the port is busy");
  const char done = 'x';
  ASSERT_EQ(::write(toChild[1], &done, 1), 1);
  waitpid(child, nullptr, 0);
  for (int fd : {toParent[0], toParent[1], toChild[0], toChild[1]}) ::close(fd);
  EXPECT_NO_THROW(port.Open()) << "free again once the other process has gone";
}

// ---- ports that other programs hold ----

// A port opened with the backend's look at other programs pointed at a
// process root and a lock folder of the test's own.
class PortOthersMayHold : public PortOnPty {
 protected:
  void SetUp() override {
    PortOnPty::SetUp();
    std::filesystem::create_directory(lockDir());
    UseOptions(port);
  }

  std::filesystem::path lockDir() const { return dir.Path() / "lock"; }
  std::filesystem::path lockFile() const { return lockDir() / ("LCK..pts_" + PtyNumber()); }
  std::string PtyNumber() const { return peer.DeviceName().substr(std::string("pts/").size()); }

  void UseOptions(TXComm& p) {
    p.SetDeviceOpener([this](const std::string& name, Clock& clock, commos::TOpenError& error) {
      return commos::OpenDevice(name, clock, error, options);
    });
  }

  // "Cannot open device pts/N: the port is busy (held by <program>)".
  std::string BusyText(const std::string& holder) const {
    return "Cannot open device " + peer.DeviceName() + ": the port is busy (held by " + holder + ")";
  }

  static std::string ReadText(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  // The form every serial program writes: ten characters and a line end.
  static std::string LockText(pid_t pid) {
    char text[16];
    std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
    return text;
  }

  test::TempDir dir{"xcomdrv-holders"};
  commos::TOpenOptions options{.ProcRoot = "/proc", .LockDirs = {lockDir().string()}};
};

// A terminal program left running would take the device's answers: the
// port is refused before it is opened, naming the program.
TEST_F(PortOthersMayHold, AProgramThatHasThePortOpenKeepsItOut) {
  peer.Start();
  test::OtherProgram cat({"cat"}, peer.Path());
  const EDeviceError e = CatchDeviceError([&] { port.Open(); });
  EXPECT_EQ(e.ErrorCode, ecCannotOpen);
  EXPECT_EQ(e.OpenFailure, TOpenFailure::Busy);
  EXPECT_EQ(std::string(e.what()), BusyText("cat, pid " + std::to_string(cat.Pid())));
  EXPECT_FALSE(port.IsOpen());
  EXPECT_FALSE(std::filesystem::exists(lockFile())) << "no lock is taken for a port refused";
  cat.End();
  EXPECT_NO_THROW(port.Open()) << "free again once the program has gone";
}

// A process root of the test's own: which processes hold which devices,
// as the system would show them.
struct FakeProcess {
  std::string pid;
  std::string comm;
  // Descriptor number to what it leads to.
  std::vector<std::pair<std::string, std::string>> fds;
  // Descriptor number to the text of its fdinfo entry.
  std::vector<std::pair<std::string, std::string>> fdinfo{};
};

TEST_F(PortOthersMayHold, TheLookAtProcessesNamesTheHolderAndPassesTheLinesFarEnd) {
  const std::string self = std::to_string(::getpid());
  const std::string index = "tty-index:\t" + PtyNumber() + "\n";
  const std::string otherIndex = "tty-index:\t" + PtyNumber() + "9\n";
  struct Case {
    const char* name;
    std::vector<FakeProcess> processes;
    std::string holder;  // empty: the port opens
  };
  const Case cases[] = {
      {"a terminal program",
       {{"4321", "minicom\n", {{"0", "/dev/null"}, {"5", peer.Path()}}}},
       "minicom, pid 4321"},
      {"a process without a name", {{"77", "", {{"3", peer.Path()}}}}, "pid 77"},
      {"sockets, pipes and other devices only",
       {{"4321", "bash\n", {{"0", "socket:[1234]"}, {"1", "pipe:[99]"}, {"2", "/dev/null"}}}},
       ""},
      {"this process", {{self, "serial_test\n", {{"7", peer.Path()}}}}, ""},
      // The simulation of a device holds both sides of its pseudo-terminal.
      {"the far end",
       {{"4321", "tarvik-sim\n", {{"3", "/dev/ptmx"}, {"4", peer.Path()}}, {{"3", index}}}},
       ""},
      {"the master of another terminal",
       {{"4321", "screen\n", {{"3", "/dev/ptmx"}, {"4", peer.Path()}}, {{"3", otherIndex}}}},
       "screen, pid 4321"},
      {"the second of two",
       {{"100", "bash\n", {{"0", "/dev/null"}}}, {"200", "cat\n", {{"0", peer.Path()}}}},
       "cat, pid 200"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const test::TempDir proc("xcomdrv-proc");
    for (const FakeProcess& p : c.processes) {
      std::filesystem::create_directories(proc.Path() / p.pid / "fd");
      std::filesystem::create_directories(proc.Path() / p.pid / "fdinfo");
      std::ofstream(proc.Path() / p.pid / "comm") << p.comm;
      for (const auto& [fd, target] : p.fds)
        std::filesystem::create_symlink(target, proc.Path() / p.pid / "fd" / fd);
      for (const auto& [fd, text] : p.fdinfo) std::ofstream(proc.Path() / p.pid / "fdinfo" / fd) << text;
    }
    std::filesystem::create_directories(proc.Path() / "self");
    options.ProcRoot = proc.Path().string();
    if (c.holder.empty()) {
      EXPECT_NO_THROW(port.Open());
      if (port.IsOpen()) port.Close();
      continue;
    }
    const EDeviceError e = CatchDeviceError([&] { port.Open(); });
    EXPECT_EQ(e.OpenFailure, TOpenFailure::Busy);
    EXPECT_EQ(std::string(e.what()), BusyText(c.holder));
  }
}

// Serial programs mark a port they use with a lock file, LCK..<name>, that
// holds their process number; one whose process has gone is stale. One that
// holds something else is nobody's to delete: it may be a live program's.
TEST_F(PortOthersMayHold, LockFilesOfRunningProgramsKeepThePortOutAndStaleOnesAreTakenOver) {
  test::OtherProgram sleeper({"sleep", "60"});
  const std::string sleeping = "sleep, pid " + std::to_string(sleeper.Pid());
  // The port is also opened through a link to it, under a name of its own.
  const std::filesystem::path link = dir.Path() / "ttyLinked";
  std::filesystem::create_symlink(peer.Path(), link);
  const std::string linkName = "../" + link.relative_path().string();
  struct Case {
    const char* name;
    std::string portName;
    std::string lockName;
    std::string content;
    std::string holder;  // empty: the port opens and the lock is taken over
  };
  const std::string byDevice = "LCK..pts_" + PtyNumber();
  const Case cases[] = {
      {"a running program, the usual form", peer.DeviceName(), byDevice, LockText(sleeper.Pid()), sleeping},
      {"a running program, a bare number", peer.DeviceName(), byDevice, std::to_string(sleeper.Pid()),
       sleeping},
      {"by the device's name, opened through a link", linkName, byDevice, LockText(sleeper.Pid()), sleeping},
      {"by the link's name", linkName, "LCK..ttyLinked", LockText(sleeper.Pid()), sleeping},
      {"a program that has gone", peer.DeviceName(), byDevice, LockText(test::GonePid()), ""},
      {"a form this tool does not read", peer.DeviceName(), byDevice, "locked\n",
       "the lock file " + (lockDir() / byDevice).string()},
      {"a binary number", linkName, byDevice, std::string("\x39\x30\x00\x00", 4),
       "the lock file " + (lockDir() / byDevice).string()},
      {"empty", peer.DeviceName(), byDevice, "", ""},
      {"empty, opened through a link", linkName, byDevice, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::ofstream(lockDir() / c.lockName, std::ios::binary) << c.content;
    TXComm other;
    other.SetDeviceName(c.portName);
    UseOptions(other);
    if (c.holder.empty()) {
      ASSERT_NO_THROW(other.Open());
      // The stale lock went; this tool's own stands under the device's name,
      // whatever name it was opened by, since that is where other programs
      // look.
      EXPECT_EQ(ReadText(lockDir() / byDevice), LockText(::getpid()));
      other.Close();
      EXPECT_TRUE(std::filesystem::is_empty(lockDir())) << "the own lock goes with the port";
      continue;
    }
    const EDeviceError e = CatchDeviceError([&] { other.Open(); });
    EXPECT_EQ(e.OpenFailure, TOpenFailure::Busy);
    EXPECT_EQ(std::string(e.what()),
              "Cannot open device " + c.portName + ": the port is busy (held by " + c.holder + ")");
    EXPECT_EQ(ReadText(lockDir() / c.lockName), c.content) << "another program's lock is left alone";
    std::filesystem::remove(lockDir() / c.lockName);
  }
}

TEST_F(PortOthersMayHold, TheOwnLockKeepsASecondOpenOutAndGoesWithThePort) {
  port.Open();
  EXPECT_EQ(ReadText(lockFile()), LockText(::getpid()));
  TXComm second;
  second.SetDeviceName(peer.DeviceName());
  UseOptions(second);
  const EDeviceError e = CatchDeviceError([&] { second.Open(); });
  EXPECT_EQ(e.OpenFailure, TOpenFailure::Busy);
  EXPECT_EQ(std::string(e.what()),
            BusyText(ReadText("/proc/self/comm").substr(0, ReadText("/proc/self/comm").size() - 1) +
                     ", pid " + std::to_string(::getpid())));
  port.Close();
  EXPECT_FALSE(std::filesystem::exists(lockFile()));
  EXPECT_NO_THROW(second.Open());
}

// Without a folder for lock files, or one that cannot be written, the port
// opens as it would on a system without lock files.
TEST_F(PortOthersMayHold, ALockFolderThatCannotBeUsedDoesNotKeepThePortShut) {
  std::ofstream(dir.Path() / "plain") << "not a folder";
  for (const std::filesystem::path& folder : {dir.Path() / "missing", dir.Path() / "plain"}) {
    SCOPED_TRACE(folder.string());
    options.LockDirs = {folder.string()};
    ASSERT_NO_THROW(port.Open());
    port.Close();
  }
  // A folder the user may not write in; root may write anywhere, so the
  // child gives up root first.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  options.LockDirs = {lockDir().string()};
  EXPECT_EXIT(
      {
        ::chmod(lockDir().c_str(), 0555);
        ::chmod(peer.Path().c_str(), 0666);
        if (::getuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) std::_Exit(2);
        try {
          port.Open();
        } catch (const EDeviceError&) {
          std::_Exit(3);
        }
        std::_Exit(std::filesystem::is_empty(lockDir()) ? 0 : 4);
      },
      ::testing::ExitedWithCode(0), "");
}

// ---- why a port did not open ----

TEST_F(PortOnPty, APortTheUserMayNotOpenSaysSo) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        // Root opens anything, so the child gives up root first.
        ::chmod(peer.Path().c_str(), 0);
        if (::getuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) std::_Exit(2);
        try {
          port.Open();
          std::_Exit(3);
        } catch (const EDeviceError& e) {
          const std::string expected = "Cannot open device " + peer.DeviceName() +
                                       ": no permission to open the port (error 13: Permission denied)";
          std::_Exit(e.OpenFailure == TOpenFailure::NoPermission && e.what() == expected ? 0 : 4);
        }
      },
      ::testing::ExitedWithCode(0), "");
}

// A program started with its standard streams closed: whatever the serial
// layer opens takes a number above them, and no program the tool starts
// inherits it.
TEST_F(PortOnPty, DescriptorsStayAboveTheStandardStreamsAndAreNotInherited) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto openDescriptors = [] {
    std::vector<int> fds;
    DIR* folder = ::opendir("/proc/self/fd");
    while (const dirent* entry = ::readdir(folder)) {
      if (entry->d_name[0] == '.') continue;
      const int fd = std::atoi(entry->d_name);
      if (fd != ::dirfd(folder)) fds.push_back(fd);
    }
    ::closedir(folder);
    return fds;
  };
  // The exit code names the first descriptor found wrong: 10 + n for a
  // standard stream taken, 20 for one that a started program would inherit.
  auto checkOpen = [&]() -> int {
    const std::vector<int> before = openDescriptors();
    port.Open();
    int code = 0;
    for (const int fd : openDescriptors()) {
      if (std::find(before.begin(), before.end(), fd) != before.end()) continue;
      if (fd <= 2 && code == 0) code = 10 + fd;
      if ((::fcntl(fd, F_GETFD) & FD_CLOEXEC) == 0 && code == 0) code = 20;
    }
    port.Close();
    return code;
  };
  EXPECT_EXIT(
      {
        if (const int code = checkOpen(); code != 0) std::_Exit(code);
        for (int fd = 0; fd <= 2; ++fd) ::close(fd);
        std::_Exit(checkOpen());
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(PortOnPty, OpenedWithDefaultsConfiguresTheLine) {
  port.Open();
  const termios t = test::TermiosOf(peer.Slave());
  EXPECT_EQ(cfgetospeed(&t), B9600);
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | INPCK), 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u) << "raw line";
  EXPECT_EQ(t.c_oflag & OPOST, 0u);

  commos::TDeviceControlBlock dcb;
  ASSERT_TRUE(port.ReadDeviceControl(dcb));
  EXPECT_TRUE(dcb.fBinary);
  EXPECT_EQ(dcb.BaudRate, 9600u);
  EXPECT_EQ(dcb.XonLim, 512);
  EXPECT_EQ(dcb.XoffLim, 512);
  EXPECT_EQ(dcb.EvtChar, 10);
  EXPECT_EQ(dcb.fDtrControl, commos::TDtrControl::Disable);
  EXPECT_EQ(dcb.fRtsControl, commos::TRtsControl::Disable);
  EXPECT_EQ(port.BaudRate(), br9600);
  EXPECT_EQ(port.DataControl().DataBits(), db8);
}

TEST_F(PortOnPty, SettingsReachTheOpenLineAtOnce) {
  port.Open();
  struct Case {
    const char* what;
    std::function<void()> change;
    std::function<bool(const termios&)> holds;
  };
  const Case cases[] = {
      {"19200 bit/s", [&] { port.SetBaudRate(br19200); },
       [](const termios& t) { return cfgetospeed(&t) == B19200; }},
      {"two stop bits", [&] { port.DataControl().SetStopBits(sb2); },
       [](const termios& t) { return (t.c_cflag & CSTOPB) != 0; }},
      {"hardware handshake", [&] { port.SetFlowControl(fcRtsCts); },
       [](const termios& t) { return (t.c_cflag & CRTSCTS) != 0; }},
      {"software flow", [&] { port.SetFlowControl(fcSoftware); },
       [](const termios& t) {
         return (t.c_iflag & (IXON | IXOFF)) == (IXON | IXOFF) && (t.c_cflag & CRTSCTS) == 0;
       }},
      {"custom RTS handshake",
       [&] {
         port.SetFlowControl(fcCustom);
         port.SetRTSSettings({fsRTSHandshake});
       },
       [](const termios& t) { return (t.c_cflag & CRTSCTS) != 0; }},
      {"XON character", [&] { port.EventChars().SetXonChar(0x11 + 1); },
       [](const termios& t) { return t.c_cc[VSTART] == 0x12; }},
  };
  for (const Case& c : cases) {
    c.change();
    EXPECT_TRUE(c.holds(test::TermiosOf(peer.Slave()))) << c.what;
  }
  // And the getters read the line back.
  EXPECT_EQ(port.BaudValue(), 19200u);
  EXPECT_EQ(port.BaudRate(), br19200);
  EXPECT_EQ(port.DataControl().StopBits(), sb2);
  EXPECT_EQ(port.RTSSettings(), TRTSSettings{fsRTSHandshake});
  EXPECT_EQ(port.EventChars().XonChar(), 0x12);
}

TEST_F(PortOnPty, GettersTellWhatTheLineHolds) {
  // A pseudo-terminal carries 8 data bits without parity whatever it is
  // asked for; an open port reports the line, a closed one what was set.
  port.Open();
  port.DataControl().SetDataBits(db7);
  port.DataControl().SetParity(paEven);
  EXPECT_EQ(port.DataControl().DataBits(), db8);
  EXPECT_EQ(port.DataControl().Parity(), paNone);
  port.Close();
  EXPECT_EQ(port.DataControl().DataBits(), db7);
  EXPECT_EQ(port.DataControl().Parity(), paEven);
}

TEST_F(PortOnPty, CustomRateReachesTheLine) {
  port.SetBaudRate(brCustom);
  port.SetBaudValue(14400);
  port.Open();
  port.SetBaudValue(12345);
  EXPECT_EQ(port.BaudValue(), 12345u);
  EXPECT_EQ(port.BaudRate(), brCustom);
  commos::TDeviceControlBlock dcb;
  ASSERT_TRUE(port.ReadDeviceControl(dcb));
  EXPECT_EQ(dcb.BaudRate, 12345u);
}

TEST_F(PortOnPty, LeaveDtrOpenCannotChangeWhileOpen) {
  port.Open();
  port.SetOptions({coLeaveDTROpen, coParityCheck});
  EXPECT_EQ(port.Options(), TCommOptions{coParityCheck});
  EXPECT_NE(test::TermiosOf(peer.Slave()).c_iflag & INPCK, 0u);
  port.Close();
  port.SetOptions({coLeaveDTROpen});
  port.Open();
  port.SetOptions({});
  EXPECT_EQ(port.Options(), TCommOptions{coLeaveDTROpen});
  EXPECT_EQ(port.DTRSettings(), TDTRSettings{fsDTREnabled});
}

TEST_F(PortOnPty, DeviceNameChangeWaitsForClose) {
  port.Open();
  port.SetDeviceName("ttyOther");
  EXPECT_EQ(port.DeviceName(), peer.DeviceName());
  port.Close();
  port.SetDeviceName("ttyOther");
  EXPECT_EQ(port.DeviceName(), "ttyOther");
}

TEST_F(PortOnPty, QueueSizeChangeDiscardsPendingInput) {
  port.Open();
  peer.Write("stale");
  ASSERT_TRUE(WaitUntil([&] { return port.QueueCount(0) == 5; }));
  port.Buffers().SetInputSize(2048);  // unchanged: nothing happens
  EXPECT_EQ(port.QueueCount(0), 5u);
  port.Buffers().SetInputSize(1024);
  EXPECT_EQ(port.QueueCount(0), 0u);
}

// ---- transfers ----

TEST_F(PortOnPty, TransfersOnAnIdleLine) {
  peer.Start();
  port.Open();
  EXPECT_EQ(port.QueueCount(2), 0u);
  EXPECT_TRUE(port.WriteString(""));
  std::string text = "junk";
  const auto start = test::RealMs();
  EXPECT_FALSE(port.ReadString(text));
  EXPECT_EQ(text, "");
  EXPECT_LT(test::RealMs() - start, 100) << "an empty queue answers at once";

  EXPECT_TRUE(port.WriteString("+v\r\n"));
  ASSERT_TRUE(peer.WaitReceived(4));
  EXPECT_EQ(peer.Received(), "+v\r\n") << "nothing from the empty write";
  EXPECT_EQ(port.QueueCount(1), 0u) << "a write returns once the bytes have left";

  peer.Write("VER 14.002.020\r\n");
  ASSERT_TRUE(WaitUntil([&] { return port.QueueCount(0) == 16; }));
  EXPECT_TRUE(port.ReadString(text));
  EXPECT_EQ(text, "VER 14.002.020\r\n");
}

TEST_F(PortOnPty, ReadWaitsOutItsLimitForMissingBytes) {
  port.Open();
  std::thread late([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    peer.Write("abcd");
  });
  char buffer[10];
  const auto start = test::RealMs();
  const std::uint32_t n = port.ReadBuffer(buffer, 10, 500);
  const auto elapsed = test::RealMs() - start;
  late.join();
  EXPECT_EQ(n, 4u);
  EXPECT_EQ(std::string(buffer, 4), "abcd");
  EXPECT_GE(elapsed, 500);
  EXPECT_LT(elapsed, 800);
}

TEST_F(PortOnPty, WriteToABlockedLineReturnsWhatWentOut) {
  // Nobody reads the master: the line takes some kilobytes, then no more.
  port.Timeouts().SetWriteMultiplier(0);
  port.Timeouts().SetWriteConstant(20);
  port.Open();
  const std::string data(64 * 1024, 'x');
  const auto start = test::RealMs();
  const std::uint32_t n = port.WriteBuffer(data.data(), static_cast<std::uint32_t>(data.size()), 200);
  const auto elapsed = test::RealMs() - start;
  EXPECT_GT(n, 0u);
  EXPECT_LT(n, data.size());
  EXPECT_GE(elapsed, 200);
  EXPECT_LT(elapsed, 1000);
}

TEST_F(PortOnPty, HandlersCannotReenterTheirTransfer) {
  peer.Start();
  port.SetSynchronize(false);
  port.Open();
  int sends = 0;
  port.SetOnSend([&](TCustomComm& sender) {
    ++sends;
    EXPECT_EQ(sender.LockState(), 1);
    sender.WriteString("again");
  });
  const EDeviceError send = CatchDeviceError([&] { port.WriteString("x"); });
  EXPECT_EQ(send.ErrorCode, ecSendLocked);
  EXPECT_STREQ(send.what(), "Device locked. Cannot perform send operations.");
  EXPECT_EQ(sends, 1);
  EXPECT_EQ(port.LockState(), 0) << "the busy bit is cleared when the handler raises";

  port.SetOnRead([&](TCustomComm& sender) {
    EXPECT_EQ(sender.LockState(), 2);
    std::string more;
    sender.ReadString(more);
  });
  peer.Write("abc");
  ASSERT_TRUE(WaitUntil([&] { return port.QueueCount(0) == 3; }));
  std::string text;
  const EDeviceError read = CatchDeviceError([&] { port.ReadString(text); });
  EXPECT_EQ(read.ErrorCode, ecReadLocked);
  EXPECT_STREQ(read.what(), "Device locked. Cannot perform read operations.");
  EXPECT_EQ(port.LockState(), 0);
}

TEST_F(PortOnPty, VanishedPeerFailsTransfersWithTheOsError) {
  port.Open();
  peer.HangUp();
  const std::string osText = " (error 5: Input/output error)";
  const EDeviceError read = CatchDeviceError([&] { port.QueueCount(0); });
  EXPECT_EQ(read.ErrorCode, ecRead);
  EXPECT_EQ(std::string(read.what()), "Unable to read from port." + osText);
  const EDeviceError write = CatchDeviceError([&] { port.WriteString("x"); });
  EXPECT_EQ(write.ErrorCode, ecWrite);
  EXPECT_EQ(std::string(write.what()), "Unable to write to port." + osText);
  EXPECT_NO_THROW(port.Close());
}

TEST(SerialClock, ReadLimitHoldsAcrossTheTickWrap) {
  PtyPeer peer;
  test::FakeClock clock((std::uint64_t{1} << 32) - 200);
  TXComm port(clock);
  port.SetDeviceName(peer.DeviceName());
  port.Open();
  const std::uint64_t start = clock.NowMs();
  char buffer[4];
  EXPECT_EQ(port.ReadBuffer(buffer, 4, 500), 0u);
  const std::uint64_t waited = clock.NowMs() - start;
  EXPECT_GT(waited, 500u);
  EXPECT_LT(waited, 520u);
  EXPECT_LT(port.TickMs(), 1000u) << "the tick counter wrapped during the wait";
}

// ---- events ----

class EventsOnPty : public PortOnPty {
 protected:
  struct Seen {
    std::thread::id thread;
    TDeviceEvents events;
  };

  void Watch() {
    port.SetOnCommEvent([this](TCustomComm&, TDeviceEvents events) {
      std::lock_guard lock(mutex);
      seen.push_back({std::this_thread::get_id(), events});
    });
    port.SetOnData([this](TCustomComm&, std::uint32_t received) {
      std::lock_guard lock(mutex);
      data.push_back(received);
    });
  }

  std::vector<Seen> Events() {
    std::lock_guard lock(mutex);
    return seen;
  }
  std::vector<std::uint32_t> Data() {
    std::lock_guard lock(mutex);
    return data;
  }
  void Forget() {
    std::lock_guard lock(mutex);
    seen.clear();
    data.clear();
  }

  std::mutex mutex;
  std::vector<Seen> seen;
  std::vector<std::uint32_t> data;
};

TEST_F(EventsOnPty, ArrivalIsReportedWithoutTakingTheBytes) {
  Watch();
  port.SetSynchronize(false);
  port.Open();
  peer.Write("abc");
  ASSERT_TRUE(WaitUntil([&] { return !Events().empty(); }));
  const Seen first = Events().front();
  EXPECT_EQ(first.events, TDeviceEvents{deChar});
  EXPECT_NE(first.thread, std::this_thread::get_id()) << "runs on the watcher";
  ASSERT_FALSE(Data().empty());
  EXPECT_EQ(Data().front(), 3u);
  EXPECT_EQ(port.QueueCount(0), 3u) << "the watcher only looks";

  // Bytes that sit unread neither repeat the event nor keep a core busy.
  const double cpuBefore = test::ProcessCpuMs();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const double cpuUsed = test::ProcessCpuMs() - cpuBefore;
  EXPECT_LT(cpuUsed, 60.0);
  EXPECT_EQ(Events().size(), 1u);

  // More bytes on top of the unread ones are news again.
  peer.Write("de");
  ASSERT_TRUE(WaitUntil([&] { return Events().size() == 2; }));
  EXPECT_EQ(Data().back(), 5u);

  std::string text;
  EXPECT_TRUE(port.ReadString(text));
  EXPECT_EQ(text, "abcde");
}

TEST_F(EventsOnPty, TransfersRaiseTheirOwnEvents) {
  Watch();
  port.SetSynchronize(false);
  port.Open();
  EXPECT_TRUE(port.WriteString("+v\r"));
  {
    const auto events = Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].events, TDeviceEvents{deOutEmpty});
    EXPECT_EQ(events[0].thread, std::this_thread::get_id()) << "on the writing thread";
  }

  peer.Write("OK\n");
  ASSERT_TRUE(WaitUntil([&] { return Events().size() == 2; }));
  Forget();
  std::string text;
  EXPECT_TRUE(port.ReadString(text));
  const auto events = Events();
  ASSERT_EQ(events.size(), 1u) << "the event character came with the read";
  EXPECT_EQ(events[0].events, TDeviceEvents{deFlag});

  // Events outside MonitorEvents still reach OnData, not OnCommEvent.
  port.SetMonitorEvents({deFlag});
  Forget();
  peer.Write("x");
  ASSERT_TRUE(WaitUntil([&] { return !Data().empty(); }));
  EXPECT_TRUE(Events().empty());
}

TEST_F(EventsOnPty, WatcherEndsOnCloseAndComesBackOnOpen) {
  Watch();
  port.SetSynchronize(false);
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    Forget();
    port.Open();
    peer.Write("a");
    ASSERT_TRUE(WaitUntil([&] { return !Events().empty(); }));
    const auto start = test::RealMs();
    port.Close();
    EXPECT_LT(test::RealMs() - start, 100) << "the watcher ends promptly";
    Forget();
    peer.Write("b");
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_TRUE(Events().empty()) << "no watcher while closed";
  }
}

TEST_F(EventsOnPty, SynchronizedEventsRunOnTheUiThread) {
  UiStepQueue ui;
  std::atomic<int> handed{0};
  ui.SetWakeHook([&] { handed.fetch_add(1); });
  Watch();
  port.SetUiSync(&ui);
  // Whatever happens below, the port lets go of the queue before it dies.
  struct Detach {
    TXComm& port;
    ~Detach() {
      if (port.IsOpen()) port.Close();
      port.SetUiSync(nullptr);
    }
  } detach{port};
  port.Open();

  peer.Write("a");
  ASSERT_TRUE(WaitUntil([&] {
    ui.RunPending();
    return !Events().empty();
  }));
  EXPECT_EQ(Events().front().thread, std::this_thread::get_id());

  // The watcher now waits for the UI thread with the next event in hand;
  // closing on the UI thread must serve it, not wait for it.
  const int before = handed.load();
  peer.Write("b");
  ASSERT_TRUE(WaitUntil([&] { return handed.load() > before; }));
  const auto start = test::RealMs();
  port.Close();
  EXPECT_LT(test::RealMs() - start, 500);
  EXPECT_FALSE(port.IsOpen());
}

TEST_F(EventsOnPty, SynchronizeWithoutAUiThreadRunsOnTheWatcher) {
  Watch();
  port.Open();
  peer.Write("a");
  ASSERT_TRUE(WaitUntil([&] { return !Events().empty(); }));
  EXPECT_NE(Events().front().thread, std::this_thread::get_id());
}

}  // namespace
}  // namespace tarvik
