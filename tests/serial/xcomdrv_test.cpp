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
  EXPECT_EQ(port.DeviceName(), "COM2");
  EXPECT_EQ(port.BaudRate(), 9600u);
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
  }

  std::filesystem::path lockDir() const { return dir.Path() / "lock"; }
  std::filesystem::path lockFile() const { return lockDir() / ("LCK..pts_" + PtyNumber()); }
  std::string PtyNumber() const { return peer.DeviceName().substr(std::string("pts/").size()); }

  // A port that looks where the options say now.
  std::unique_ptr<TXComm> PortWithOptions(const std::string& name) {
    auto p = std::make_unique<TXComm>(SystemClock(), options);
    p->SetDeviceName(name);
    return p;
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
  const auto own = PortWithOptions(peer.DeviceName());
  const EDeviceError e = CatchDeviceError([&] { own->Open(); });
  EXPECT_EQ(e.ErrorCode, ecCannotOpen);
  EXPECT_EQ(e.OpenFailure, TOpenFailure::Busy);
  EXPECT_EQ(std::string(e.what()), BusyText("cat, pid " + std::to_string(cat.Pid())));
  EXPECT_FALSE(own->IsOpen());
  EXPECT_FALSE(std::filesystem::exists(lockFile())) << "no lock is taken for a port refused";
  cat.End();
  EXPECT_NO_THROW(own->Open()) << "free again once the program has gone";
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
    const auto own = PortWithOptions(peer.DeviceName());
    if (c.holder.empty()) {
      EXPECT_NO_THROW(own->Open());
      if (own->IsOpen()) own->Close();
      continue;
    }
    const EDeviceError e = CatchDeviceError([&] { own->Open(); });
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
    const auto other = PortWithOptions(c.portName);
    if (c.holder.empty()) {
      ASSERT_NO_THROW(other->Open());
      // The stale lock went; this tool's own stands under the device's name,
      // whatever name it was opened by, since that is where other programs
      // look.
      EXPECT_EQ(ReadText(lockDir() / byDevice), LockText(::getpid()));
      other->Close();
      EXPECT_TRUE(std::filesystem::is_empty(lockDir())) << "the own lock goes with the port";
      continue;
    }
    const EDeviceError e = CatchDeviceError([&] { other->Open(); });
    EXPECT_EQ(e.OpenFailure, TOpenFailure::Busy);
    EXPECT_EQ(std::string(e.what()),
              "Cannot open device " + c.portName + ": the port is busy (held by " + c.holder + ")");
    EXPECT_EQ(ReadText(lockDir() / c.lockName), c.content) << "another program's lock is left alone";
    std::filesystem::remove(lockDir() / c.lockName);
  }
}

TEST_F(PortOthersMayHold, TheOwnLockKeepsASecondOpenOutAndGoesWithThePort) {
  const auto own = PortWithOptions(peer.DeviceName());
  own->Open();
  EXPECT_EQ(ReadText(lockFile()), LockText(::getpid()));
  const auto second = PortWithOptions(peer.DeviceName());
  const EDeviceError e = CatchDeviceError([&] { second->Open(); });
  EXPECT_EQ(e.OpenFailure, TOpenFailure::Busy);
  EXPECT_EQ(std::string(e.what()),
            BusyText(ReadText("/proc/self/comm").substr(0, ReadText("/proc/self/comm").size() - 1) +
                     ", pid " + std::to_string(::getpid())));
  own->Close();
  EXPECT_FALSE(std::filesystem::exists(lockFile()));
  EXPECT_NO_THROW(second->Open());
}

// Without a folder for lock files, or one that cannot be written, the port
// opens as it would on a system without lock files.
TEST_F(PortOthersMayHold, ALockFolderThatCannotBeUsedDoesNotKeepThePortShut) {
  std::ofstream(dir.Path() / "plain") << "not a folder";
  for (const std::filesystem::path& folder : {dir.Path() / "missing", dir.Path() / "plain"}) {
    SCOPED_TRACE(folder.string());
    options.LockDirs = {folder.string()};
    const auto own = PortWithOptions(peer.DeviceName());
    ASSERT_NO_THROW(own->Open());
    own->Close();
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
          PortWithOptions(peer.DeviceName())->Open();
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
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.XonLim, 512);
  EXPECT_EQ(dcb.XoffLim, 512);
  EXPECT_EQ(dcb.XonChar, 17);
  EXPECT_EQ(dcb.XoffChar, 19);
  EXPECT_EQ(dcb.EvtChar, '\r');
  EXPECT_EQ(dcb.fDtrControl, commos::TDtrControl::Disable);
  EXPECT_EQ(dcb.fRtsControl, commos::TRtsControl::Disable);
}

TEST_F(PortOnPty, RateReachesTheOpenLineAtOnce) {
  port.SetBaudRate(14400);
  port.Open();
  struct Case {
    std::uint32_t rate;
    speed_t speed;  // B0 for a rate without a constant of its own
  };
  for (const Case c : {Case{14400, B0}, Case{19200, B19200}, Case{115200, B115200}, Case{12345, B0}}) {
    SCOPED_TRACE(c.rate);
    port.SetBaudRate(c.rate);
    const termios t = test::TermiosOf(peer.Slave());
    if (c.speed != B0) {
      EXPECT_EQ(cfgetospeed(&t), c.speed);
    }
    commos::TDeviceControlBlock dcb;
    ASSERT_TRUE(port.ReadDeviceControl(dcb));
    EXPECT_EQ(dcb.BaudRate, c.rate);
    EXPECT_EQ(port.BaudRate(), c.rate);
  }
}

TEST_F(PortOnPty, DeviceNameChangeWaitsForClose) {
  port.Open();
  port.SetDeviceName("ttyOther");
  EXPECT_EQ(port.DeviceName(), peer.DeviceName());
  port.Close();
  port.SetDeviceName("ttyOther");
  EXPECT_EQ(port.DeviceName(), "ttyOther");
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

// ---- the watcher ----

// Bytes that sit unread keep the device readable: the watcher must not spin
// on them, nor on an idle line.
TEST_F(PortOnPty, WatchingALineKeepsNoCoreBusy) {
  port.Open();
  for (const std::string& unread : {std::string(), std::string("abc")}) {
    SCOPED_TRACE(unread.size());
    if (!unread.empty()) {
      peer.Write(unread);
      ASSERT_TRUE(WaitUntil([&] { return port.QueueCount(0) == unread.size(); }));
    }
    const double cpuBefore = test::ProcessCpuMs();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_LT(test::ProcessCpuMs() - cpuBefore, 60.0);
  }
  EXPECT_EQ(port.QueueCount(0), 3u) << "the watcher only looks";
  std::string text;
  EXPECT_TRUE(port.ReadString(text));
  EXPECT_EQ(text, "abc");
}

// A line that goes away between exchanges is told at once, with the
// system's reason; a close is no loss, and the port can be opened again.
TEST_F(PortOnPty, ALostLineIsToldOnceAndACloseIsNot) {
  std::mutex mutex;
  std::vector<std::string> reasons;
  port.SetOnWatcherEnd([&](const std::string& reason) {
    std::lock_guard lock(mutex);
    reasons.push_back(reason);
  });
  auto told = [&] {
    std::lock_guard lock(mutex);
    return reasons;
  };
  port.Open();
  port.Close();
  port.Open();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_TRUE(told().empty()) << "closing is no loss";
  peer.HangUp();
  ASSERT_TRUE(WaitUntil([&] { return !told().empty(); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(told().size(), 1u);
  EXPECT_FALSE(told().front().empty());
  EXPECT_NO_THROW(port.Close());
}

}  // namespace
}  // namespace tarvik
