// tarvik-cli as the process a script starts: the exit code each outcome
// ends with, progress redrawn on a terminal and plain lines into a pipe, and
// Ctrl+C (SIGINT) that stops a reflash between two commands. On the real
// clock, so these runs are picked to be short.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/clitesting.h"
#include "support/tempdir.h"

extern char** environ;

namespace tarvik {
namespace {

// Closed: a pipe whose reader has gone, as in "tarvik-cli ... | head -1".
// Full: a device that takes no byte, as a full disk ("> /dev/full").
enum class StdOut { Pipe, Terminal, Closed, Full };

struct Finished {
  int code = -1;
  std::string out;
  std::string err;
  bool interrupted = false;
};

// Starts the program with standard output on a pipe or on a pseudo-terminal,
// collects both streams until it ends, and sends SIGINT once interruptWhen
// holds for what it has written so far.
class Program {
 public:
  explicit Program(const std::filesystem::path& home) : home_(home) {}

  // The standard descriptors the next runs start without, as after ">&-".
  void StartWithout(std::vector<int> closed) { closedAtStart_ = std::move(closed); }
  // "NAME=value" for the next runs, in place of the test's own NAME.
  void SetEnvironment(std::vector<std::string> entries) { environment_ = std::move(entries); }
  // The width the next runs' terminal tells (0: none, as before any was set).
  void SetTerminalColumns(unsigned short columns) { terminalColumns_ = columns; }
  // The size no file of the next runs may grow beyond (ulimit -f), in bytes;
  // 0: the test's own.
  void SetFileSizeLimit(rlim_t bytes) { fileSizeLimit_ = bytes; }

  Finished Run(const std::vector<std::string>& args, StdOut stdOut = StdOut::Pipe,
               const std::function<bool(const std::string& out)>& interruptWhen = {}) {
    int outRead = -1;
    int outWrite = -1;
    if (stdOut == StdOut::Terminal) {
      outRead = ::posix_openpt(O_RDWR | O_NOCTTY);
      if (outRead < 0 || ::grantpt(outRead) != 0 || ::unlockpt(outRead) != 0) throw std::runtime_error("pty");
      outWrite = ::open(::ptsname(outRead), O_RDWR | O_NOCTTY);
      const winsize size{.ws_row = static_cast<unsigned short>(terminalColumns_ > 0 ? 24 : 0),
                         .ws_col = terminalColumns_,
                         .ws_xpixel = 0,
                         .ws_ypixel = 0};
      ::ioctl(outRead, TIOCSWINSZ, &size);
    } else if (stdOut == StdOut::Full) {
      outWrite = ::open("/dev/full", O_WRONLY | O_NOCTTY);
      if (outWrite < 0) throw std::runtime_error("/dev/full");
    } else {
      int fds[2];
      if (::pipe(fds) != 0) throw std::runtime_error("pipe");
      outRead = fds[0];
      outWrite = fds[1];
    }
    int errFds[2];
    if (::pipe(errFds) != 0) throw std::runtime_error("pipe");

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outWrite, 1);
    posix_spawn_file_actions_adddup2(&actions, errFds[1], 2);
    if (outRead >= 0) posix_spawn_file_actions_addclose(&actions, outRead);
    posix_spawn_file_actions_addclose(&actions, errFds[0]);
    for (const int fd : closedAtStart_) posix_spawn_file_actions_addclose(&actions, fd);
    // Whatever the test runner ignores, the program starts as from a shell.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (const int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaddset(&defaults, s);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    std::vector<std::string> argStrings = {TARVIK_CLI_PROGRAM};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argStrings) argv.push_back(a.data());
    argv.push_back(nullptr);
    // No update.ini of the user running the tests may reach the program.
    std::vector<std::string> envStrings = {"HOME=" + home_.string(), "XDG_CONFIG_HOME=" + home_.string()};
    envStrings.insert(envStrings.end(), environment_.begin(), environment_.end());
    // Nor a terminal width of the test's own.
    std::vector<std::string> replaced = {"HOME=", "XDG_CONFIG_HOME=", "COLUMNS="};
    for (const std::string& entry : environment_) replaced.push_back(entry.substr(0, entry.find('=') + 1));
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string entry = *e;
      if (std::none_of(replaced.begin(), replaced.end(),
                       [&](const std::string& name) { return entry.starts_with(name); })) {
        envStrings.push_back(entry);
      }
    }
    std::vector<char*> envp;
    for (std::string& e : envStrings) envp.push_back(e.data());
    envp.push_back(nullptr);

    pid_t pid = -1;
    // The limit is inherited at the start: the test's own is set back at once.
    rlimit own{};
    ::getrlimit(RLIMIT_FSIZE, &own);
    if (fileSizeLimit_ > 0) {
      const rlimit limited{.rlim_cur = fileSizeLimit_, .rlim_max = own.rlim_max};
      ::setrlimit(RLIMIT_FSIZE, &limited);
    }
    const int spawned = ::posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
    if (fileSizeLimit_ > 0) ::setrlimit(RLIMIT_FSIZE, &own);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(outWrite);
    ::close(errFds[1]);
    if (spawned != 0) throw std::runtime_error("posix_spawn failed");
    if (stdOut == StdOut::Closed) {
      ::close(outRead);
      outRead = -1;
    }

    Finished finished;
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    int fds[2] = {outRead, errFds[0]};
    std::string* sinks[2] = {&finished.out, &finished.err};
    while (fds[0] >= 0 || fds[1] >= 0) {
      pollfd polls[2] = {{fds[0], POLLIN, 0}, {fds[1], POLLIN, 0}};
      ::poll(polls, 2, 50);
      for (int i = 0; i < 2; ++i) {
        if (fds[i] < 0 || polls[i].revents == 0) continue;
        char buffer[4096];
        const ssize_t n = ::read(fds[i], buffer, sizeof buffer);
        if (n > 0) {
          sinks[i]->append(buffer, static_cast<std::size_t>(n));
        } else {
          // End of the pipe, or EIO once the terminal's last user is gone.
          ::close(fds[i]);
          fds[i] = -1;
        }
      }
      if (!finished.interrupted && interruptWhen && interruptWhen(finished.out)) {
        ::kill(pid, SIGINT);
        finished.interrupted = true;
      }
      if (std::chrono::steady_clock::now() > limit) {
        ::kill(pid, SIGKILL);
        ADD_FAILURE() << "tarvik-cli did not end";
        break;
      }
    }
    for (int fd : fds) {
      if (fd >= 0) ::close(fd);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    finished.code = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
    return finished;
  }

 private:
  std::filesystem::path home_;
  std::vector<int> closedAtStart_;
  std::vector<std::string> environment_;
  unsigned short terminalColumns_ = 0;
  rlim_t fileSizeLimit_ = 0;
};

class CliProcess : public ::testing::Test {
 protected:
  std::string WriteFile(const std::string& name, const std::string& bytes) {
    const std::filesystem::path path = dir_.Path() / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
  }

  test::TempDir dir_{"tarvik-cli-process"};
  Program program_{dir_.Path()};
};

struct CodeCase {
  const char* name = "";
  // The device on PORT; none: no simulator.
  std::optional<sim::SimOptions> device{};
  std::vector<std::string> args{};
  int code = 0;
  // A piece of standard output (or of standard error when the code is not 0).
  std::string said{};
};

TEST_F(CliProcess, ExitCodes) {
  const std::string upToDate = WriteFile("uptodate.ini", "[UpdateRules]\r\n14.002.000=0..10->28\r\n");
  const std::string badHex = WriteFile("bad.hex", ":10000000ZZ\r\n:00000001FF\r\n");
  const CodeCase cases[] = {
      {.name = "help", .args = {"--help"}, .code = 0, .said = "Коды завершения:"},
      {.name = "identified: flash would write",
       .device = test::Detector(),
       .args = {"identify", "PORT", "--image", "2"},
       .code = 0,
       .said = "Текущая версия прошивки : VER 14.002.020\n"},
      {.name = "a file that cannot be used",
       .device = test::Detector(),
       .args = {"flash-hex", "PORT", badHex},
       .code = 1,
       .said = "не загружен."},
      {.name = "bad usage", .args = {"flash"}, .code = 2, .said = "команде flash нужен порт"},
      {.name = "no such port",
       .args = {"identify", "/dev/tarvik-no-such-port"},
       .code = 3,
       .said = "Ошибка при открытии Com порта!"},
      {.name = "a silent device",
       .device = test::Detector({"silence@v"}),
       .args = {"identify", "PORT"},
       .code = 3,
       .said = "Устройство не отвечает"},
      {.name = "refused: needs --image",
       .device = test::Detector(),
       .args = {"flash", "PORT", "--no-rules"},
       .code = 4,
       .said = "укажите её ключом --image N"},
      {.name = "failed",
       .device = test::Detector({"wrong-echo"}),
       .args = {"flash", "PORT", "--no-rules", "--image", "2"},
       .code = 5,
       .said = "В процессе перепрошивки возникли ошибки!"},
      {.name = "nothing to do",
       .device = test::Detector(),
       .args = {"flash", "PORT", "--rules", upToDate},
       .code = 6,
       .said = "Данное устройство не требует обновления прошивки"},
      {.name = "written, but it still names its old version",
       .device = test::Detector({"stale-version"}),
       .args = {"flash", "PORT", "--no-rules", "--image", "2"},
       .code = 8,
       .said =
           "Не проверено: устройство называет версию VER 14.002.020, а записана прошивка VER 14.002.028."},
  };
  for (const CodeCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<sim::DeviceSimulator> sim;
    std::vector<std::string> args = c.args;
    if (c.device) {
      sim.emplace(*c.device);
      ASSERT_TRUE(sim->Start()) << sim->Error();
      for (std::string& a : args) {
        if (a == "PORT") a = sim->SlavePath();
      }
    }
    const Finished run = program_.Run(args);
    EXPECT_EQ(run.code, c.code) << run.out << run.err;
    EXPECT_TRUE(Contains(c.code == 0 ? run.out : run.err, c.said)) << run.out << run.err;
  }
}

// A bench keeps the record (and the log) for traceability: a device served
// whose record or log could not be written (a full disk, here the file size
// limit) ends with a code of its own, never 0. A command that failed anyway
// keeps its own code.
TEST_F(CliProcess, RecordOrLogThatCannotBeWrittenIsNotSuccess) {
  constexpr rlim_t kFull = 4096;
  struct Case {
    const char* name;
    sim::SimOptions device;
    std::vector<std::string> args;  // FILE: a file already at the limit
    int code;
    bool flashed;
  };
  const Case cases[] = {
      {"flash --record",
       test::Detector(),
       {"flash", "PORT", "--no-rules", "--image", "2", "--record", "FILE"},
       9,
       true},
      {"identify --record",
       test::Detector(),
       {"identify", "PORT", "--image", "2", "--record", "FILE"},
       9,
       false},
      {"flash-hex --log", test::Detector(), {"flash-hex", "PORT", "HEX", "--log", "FILE"}, 9, true},
      {"failed anyway",
       test::Detector({"wrong-echo"}),
       {"flash", "PORT", "--no-rules", "--image", "2", "--record", "FILE"},
       5,
       false},
  };
  // A short file: on the real clock a whole catalogue image takes 25 s.
  const std::string hex = WriteFile("short.hex", test::MakeHexFile(8).text);
  program_.SetFileSizeLimit(kFull);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = WriteFile("full.txt", std::string(kFull, 'x'));
    sim::DeviceSimulator sim(c.device);
    ASSERT_TRUE(sim.Start()) << sim.Error();
    std::vector<std::string> args = c.args;
    for (std::string& a : args) {
      if (a == "PORT") a = sim.SlavePath();
      if (a == "FILE") a = file;
      if (a == "HEX") a = hex;
    }
    const Finished run = program_.Run(args);
    EXPECT_EQ(run.code, c.code) << run.out << run.err;
    EXPECT_TRUE(Contains(run.err, "Не удалось записать")) << run.err;
    sim.WaitUntil([](const sim::SimReport&) { return false; }, 30);
    EXPECT_EQ(sim.Report().complete, c.flashed);
    sim.Stop();
  }
}

// A result that never reached standard output must not pass for one that
// did: the command's success becomes an error, said on standard error. A
// command that failed anyway keeps its own code.
TEST_F(CliProcess, WriteErrorOnStandardOutputIsAnError) {
  const std::string upToDate = WriteFile("uptodate.ini", "[UpdateRules]\r\n14.002.000=0..10->28\r\n");
  const CodeCase cases[] = {
      {.name = "version", .args = {"--version"}, .code = 7},
      {.name = "help", .args = {"--help"}, .code = 7},
      {.name = "images", .args = {"images"}, .code = 7},
      {.name = "ports", .args = {"ports", "--json"}, .code = 7},
      {.name = "identified",
       .device = test::Detector(),
       .args = {"identify", "PORT", "--image", "2"},
       .code = 7},
      {.name = "nothing to do",
       .device = test::Detector(),
       .args = {"flash", "PORT", "--rules", upToDate},
       .code = 7},
      {.name = "refused anyway",
       .device = test::Detector(),
       .args = {"flash", "PORT", "--no-rules"},
       .code = 4,
       .said = "укажите её ключом --image N"},
      {.name = "bad usage anyway", .args = {"flsh"}, .code = 2, .said = "неизвестная команда"},
  };
  for (const CodeCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<sim::DeviceSimulator> sim;
    std::vector<std::string> args = c.args;
    if (c.device) {
      sim.emplace(*c.device);
      ASSERT_TRUE(sim->Start()) << sim->Error();
      std::replace(args.begin(), args.end(), std::string("PORT"), sim->SlavePath());
    }
    const Finished run = program_.Run(args, StdOut::Full);
    EXPECT_EQ(run.code, c.code) << run.err;
    if (c.code == 7) {
      EXPECT_TRUE(run.err.ends_with(
          "tarvik-cli: стандартный вывод не принял текст: итог команды до читателя не дошёл.\n"))
          << run.err;
    } else {
      EXPECT_TRUE(Contains(run.err, c.said)) << run.err;
      EXPECT_FALSE(Contains(run.err, "стандартный вывод")) << run.err;
    }
  }
}

// --wait: a fixture plugged in a moment after the command was given. The
// device is published once the program waits for it and identified as usual.
TEST_F(CliProcess, WaitTakesAPortThatAppearsLater) {
  sim::SimOptions device = test::Detector();
  device.linkPath = (dir_.Path() / "ttyLate").string();
  sim::DeviceSimulator sim(device);
  // Plugged in once the program says it waits, however slowly a busy
  // machine starts it.
  bool started = false;
  const Finished run = program_.Run({"identify", device.linkPath, "--wait", "60", "--image", "2"},
                                    StdOut::Pipe, [&](const std::string& out) {
                                      if (!started && Contains(out, "ожидание")) started = sim.Start();
                                      return false;
                                    });
  ASSERT_TRUE(started) << sim.Error();
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_TRUE(run.out.starts_with("Порта " + device.linkPath + " нет, ожидание до 60 сек...\n")) << run.out;
  EXPECT_TRUE(Contains(run.out, "Текущая версия прошивки : VER 14.002.020\n")) << run.out;
}

TEST_F(CliProcess, AReaderThatGoesAwayDoesNotEndTheProgram) {
  sim::DeviceSimulator sim(test::Detector());
  ASSERT_TRUE(sim.Start());
  const Finished run = program_.Run({"identify", sim.SlavePath(), "--image", "2"}, StdOut::Closed);
  EXPECT_EQ(run.code, 0);
}

// Started from a shell with "1>&-" or "2>&-": the port must not take the
// number of a closed stream, or what the program says would go onto the line
// between the commands.
TEST_F(CliProcess, ClosedStandardStreamsKeepTheProgramsTextOffTheLine) {
  struct Case {
    const char* name = "";
    std::vector<int> closed{};
    sim::SimOptions device{};
    std::vector<std::string> args{};
    int code = 0;
  };
  const std::vector<std::string> failingFlash = {"flash", "PORT", "--no-rules", "--image", "2"};
  const Case cases[] = {
      {"standard output closed: the identity",
       {1},
       test::Detector(),
       {"identify", "PORT", "--image", "2"},
       0},
      // The stages go to standard output, the failure to standard error.
      {"standard output closed: a failed reflash", {1}, test::Detector({"wrong-echo"}), failingFlash, 5},
      {"standard error closed: a failed reflash", {2}, test::Detector({"wrong-echo"}), failingFlash, 5},
      {"all three closed: a failed reflash", {0, 1, 2}, test::Detector({"wrong-echo"}), failingFlash, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::DeviceSimulator sim(c.device);
    ASSERT_TRUE(sim.Start()) << sim.Error();
    std::vector<std::string> args = c.args;
    std::replace(args.begin(), args.end(), std::string("PORT"), sim.SlavePath());
    program_.StartWithout(c.closed);
    const Finished run = program_.Run(args);
    EXPECT_EQ(run.code, c.code) << run.out << run.err;
    const sim::SimReport report = sim.Report();
    EXPECT_EQ(report.strayBytes, 0u);
    EXPECT_TRUE(report.malformed.empty()) << report.malformed.front();
    ASSERT_FALSE(report.commands.empty());
    EXPECT_EQ(report.commands.front(), "v");
  }
}

// A reflash that a user stops: the device has received whole commands only,
// and never block 0000, which would make it take a broken image for whole.
void ExpectStoppedBetweenCommands(const Finished& run, const sim::SimReport& report) {
  EXPECT_TRUE(run.interrupted);
  EXPECT_EQ(run.code, 130) << run.err;
  EXPECT_TRUE(Contains(run.err, "Перепрошивка прервана")) << run.err;
  EXPECT_FALSE(report.writes.empty());
  EXPECT_TRUE(report.malformed.empty());
  EXPECT_EQ(report.strayBytes, 0u);
  EXPECT_EQ(std::count(report.writes.begin(), report.writes.end(), "0000"), 0);
  EXPECT_FALSE(report.complete);
}

TEST_F(CliProcess, OnATerminalTheProgressLineIsRedrawnInPlace) {
  sim::DeviceSimulator sim(test::Detector());
  ASSERT_TRUE(sim.Start());
  const Finished run = program_.Run({"flash", sim.SlavePath(), "--no-rules", "--image", "2"},
                                    StdOut::Terminal, [&](const std::string& out) {
                                      return test::Count(out, "\r[") >= 3 && sim.Report().writes.size() >= 3;
                                    });
  ExpectStoppedBetweenCommands(run, sim.Report());
  EXPECT_TRUE(Contains(run.out, "%  Времени прошло: ")) << run.out;
}

// The widest of the lines drawn over another: the stretches of characters
// that begin with a "\r" (the terminal's own line ends, "\r\n", begin
// none).
std::size_t WidestRedrawnLine(const std::string& utf8) {
  std::size_t widest = 0;
  std::size_t width = 0;
  bool redrawn = false;
  for (const char c : utf8) {
    if (c == '\r' || c == '\n') {
      redrawn = c == '\r';
      width = 0;
    } else if (redrawn && (static_cast<unsigned char>(c) & 0xC0) != 0x80) {
      widest = std::max(widest, ++width);
    }
  }
  return widest;
}

// The width the terminal tells; COLUMNS where it tells none; 80 without
// either. The line stays a character short of it, or the cursor would wrap.
TEST_F(CliProcess, TheProgressLineFitsTheTerminalsWidth) {
  struct Case {
    const char* name;
    unsigned short terminalColumns;
    std::vector<std::string> environment;
    std::size_t widest;
  };
  const Case cases[] = {
      {"COLUMNS where the terminal tells no width", 0, {"COLUMNS=40"}, 39},
      {"the terminal's own width over COLUMNS", 40, {"COLUMNS=200"}, 39},
      {"80 columns without either", 0, {}, 79},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::DeviceSimulator sim(test::Detector());
    ASSERT_TRUE(sim.Start());
    program_.SetTerminalColumns(c.terminalColumns);
    program_.SetEnvironment(c.environment);
    const Finished run =
        program_.Run({"flash", sim.SlavePath(), "--no-rules", "--image", "2"}, StdOut::Terminal,
                     [&](const std::string& out) { return test::Count(out, "Времени осталось:") >= 5; });
    EXPECT_EQ(run.code, 130) << run.err;
    EXPECT_LE(WidestRedrawnLine(run.out), c.widest) << run.out;
    EXPECT_GE(test::Count(run.out, "Времени осталось:"), 5u) << run.out;
  }
}

TEST_F(CliProcess, IntoAPipeTheProgressIsOneLinePerTenPerCent) {
  sim::DeviceSimulator sim(test::Detector());
  ASSERT_TRUE(sim.Start());
  const Finished run = program_.Run({"flash", sim.SlavePath(), "--no-rules", "--image", "2"}, StdOut::Pipe,
                                    [](const std::string& out) { return Contains(out, "\n10 %  "); });
  ExpectStoppedBetweenCommands(run, sim.Report());
  EXPECT_EQ(run.out.find('\r'), std::string::npos);
  EXPECT_TRUE(Contains(run.out, "Идет загрузка новой версии прошивки...\n10 %  Времени прошло: ")) << run.out;
}

}  // namespace
}  // namespace tarvik
