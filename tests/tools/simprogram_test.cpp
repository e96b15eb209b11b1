// The tarvik-sim program and its command line.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "simulator/simoptions.h"
#include "tools/simwire.h"

extern char** environ;

namespace tarvik::sim {
namespace {

namespace fs = std::filesystem;
using simtest::GroupData;
using simtest::Wire;
using simtest::WireWrite;

TEST(SimFaultSpec, Parses) {
  struct Case {
    const char* faultText;
    FaultKind kind;
    const char* command;
    std::uint32_t nth;
    std::uint32_t delayMs;
    std::int32_t splitAt = 0;
    bool lost = false;
  };
  const Case cases[] = {
      {"silence", FaultKind::Silence, "", 0, 0},
      {"silence@un", FaultKind::Silence, "un", 0, 0},
      {"garbage@v#2", FaultKind::Garbage, "v", 2, 0},
      {"no-ok@W", FaultKind::NoOk, "W", 0, 0},
      {"wrong-echo#3", FaultKind::WrongEcho, "", 3, 0},
      {"slow=300@v", FaultKind::Slow, "v", 0, 300},
      {"slow#4=25", FaultKind::Slow, "", 4, 25},
      {"no-carrier@W#2", FaultKind::NoCarrier, "W", 2, 0},
      {"hangup#5", FaultKind::HangUp, "", 5, 0},
      {"silence!@W0008#2", FaultKind::Silence, "W0008", 2, 0, 0, true},
      {"split=400@W", FaultKind::Split, "W", 0, 400},
      {"split=400/-2@EE#1", FaultKind::Split, "EE", 1, 400, -2},
      {"split=7/3", FaultKind::Split, "", 0, 7, 3},
      {"echo-no-carrier@W0004", FaultKind::EchoNoCarrier, "W0004", 0, 0},
      {"echo-no-carrier@W#2", FaultKind::EchoNoCarrier, "W", 2, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.faultText);
    Fault fault;
    std::string error;
    ASSERT_TRUE(ParseFault(c.faultText, fault, error)) << error;
    EXPECT_EQ(fault.kind, c.kind);
    EXPECT_EQ(fault.command, c.command);
    EXPECT_EQ(fault.nth, c.nth);
    EXPECT_EQ(fault.delayMs, c.delayMs);
    EXPECT_EQ(fault.splitAt, c.splitAt);
    EXPECT_EQ(fault.lost, c.lost);
    EXPECT_EQ(std::string(c.faultText).rfind(FaultKindName(fault.kind), 0), 0u);
    // Written back, it reads as the same fault.
    Fault again;
    ASSERT_TRUE(ParseFault(FaultText(fault), again, error)) << FaultText(fault) << ": " << error;
    EXPECT_EQ(FaultText(again), FaultText(fault));
    EXPECT_EQ(again.kind, fault.kind);
    EXPECT_EQ(again.command, fault.command);
    EXPECT_EQ(again.nth, fault.nth);
    EXPECT_EQ(again.delayMs, fault.delayMs);
    EXPECT_EQ(again.splitAt, fault.splitAt);
    EXPECT_EQ(again.lost, fault.lost);
  }
  EXPECT_EQ(FaultText(Fault{.kind = FaultKind::Split,
                            .command = "W0004",
                            .nth = 2,
                            .delayMs = 50,
                            .splitAt = -3,
                            .lost = false}),
            "split=50/-3@W0004#2");
}

TEST(SimFaultSpec, RejectsNonsense) {
  for (const char* faultText :
       {"", "mute", "silence@", "silence#0", "silence#x", "slow", "slow=", "slow=abc", "garbage=10",
        "hangup#-1", "Silence", "split", "split=10/x", "slow=10/2", "silence!x", "garbage=5!"}) {
    SCOPED_TRACE(faultText);
    Fault fault;
    std::string error;
    EXPECT_FALSE(ParseFault(faultText, fault, error));
    EXPECT_FALSE(error.empty());
  }
}

TEST(SimCommandLine, ReadsEveryFlag) {
  ProgramOptions options;
  std::string error;
  ASSERT_TRUE(ParseCommandLine({"--version-reply",
                                "QTT1.001.002",
                                "--banner",
                                "BootLdr X",
                                "--unit-name",
                                "QLT1",
                                "--bootloader",
                                "--staged",
                                "--no-require-bootloader",
                                "--erase-ms",
                                "150",
                                "--unpaced",
                                "--seed",
                                "7",
                                "--link",
                                "/tmp/ttyV9",
                                "--report",
                                "r.json",
                                "--image-out",
                                "i.txt",
                                "--flash-out",
                                "f.txt",
                                "--write-latency",
                                "30",
                                "--echo-digits",
                                "4",
                                "--exit-after-last",
                                "--fault",
                                "silence@un",
                                "--fault",
                                "hangup#4"},
                               options, error))
      << error;
  const SimOptions& sim = options.sim;
  EXPECT_EQ(sim.version, "QTT1.001.002");
  EXPECT_EQ(sim.banner, "BootLdr X");
  EXPECT_EQ(sim.unitName, "QLT1");
  EXPECT_TRUE(sim.startInBootloader);
  EXPECT_TRUE(sim.staged);
  EXPECT_FALSE(sim.requireBootloader);
  EXPECT_EQ(sim.eraseMs, 150u);
  EXPECT_TRUE(sim.unpaced);
  EXPECT_EQ(sim.seed, 7u);
  EXPECT_EQ(sim.linkPath, "/tmp/ttyV9");
  EXPECT_EQ(options.reportPath, "r.json");
  EXPECT_EQ(options.imageOutPath, "i.txt");
  EXPECT_EQ(options.flashOutPath, "f.txt");
  EXPECT_EQ(sim.writeLatencyMs, 30u);
  EXPECT_EQ(sim.echoDigits, 4u);
  EXPECT_TRUE(sim.exitAfterLast);
  ASSERT_EQ(sim.faults.size(), 2u);
  EXPECT_EQ(sim.faults[1].kind, FaultKind::HangUp);
  EXPECT_EQ(sim.faults[1].nth, 4u);
  EXPECT_FALSE(options.help);
}

TEST(SimCommandLine, RejectsBadFlags) {
  const std::vector<std::vector<std::string>> cases = {
      {"--bogus"},
      {"--link"},
      {"--erase-ms", "soon"},
      {"--erase-ms"},
      {"--fault", "loud"},
      {"--seed", "-1"},
      {"--write-latency", "10ms"},
      {"--echo-digits", "5"},
      {"--echo-digits", "0"},
      {"--flash-out"},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(args.front());
    ProgramOptions options;
    std::string error;
    EXPECT_FALSE(ParseCommandLine(args, options, error));
    EXPECT_FALSE(error.empty());
  }
}

// Bounds on how long a program just started may take, not how long it
// should: a loaded machine with sanitizers starts a process and answers the
// first command in seconds. Every answer here ends in its closing word, so a
// passing test never waits the whole quiet time.
constexpr int kPatienceMs = 30000;
constexpr int kAnswerQuietMs = 3000;

// One run of the program with its standard output on a pipe.
class Program {
 public:
  explicit Program(std::vector<std::string> args) {
    args.insert(args.begin(), TARVIK_SIM_PROGRAM);
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    int out[2];
    if (::pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    out_ = out[0];
  }
  ~Program() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) ::close(out_);
  }

  // Standard output up to a line end, or what came within timeoutMs.
  std::string Line(int timeoutMs = kPatienceMs) {
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
      pollfd pfd{out_, POLLIN, 0};
      if (::poll(&pfd, 1, 20) <= 0) continue;
      char c;
      if (::read(out_, &c, 1) != 1) break;
      if (c == '\n') break;
      line += c;
    }
    return line;
  }

  // The exit status, or -1 if it did not end within timeoutMs.
  int Wait(int timeoutMs = kPatienceMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
  }

  void Signal(int signal) { ::kill(pid_, signal); }
  std::string Rest() {
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = ::read(out_, buffer, sizeof buffer)) > 0;)
      text.append(buffer, static_cast<std::size_t>(n));
    return text;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
};

std::string ReadFile(const fs::path& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

class SimProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("tarvik-sim-prog-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

TEST_F(SimProgramTest, PublishesThePortAndWritesItsResultsOnSignal) {
  const fs::path link = dir_ / "ttyV0";
  const fs::path report = dir_ / "report.json";
  const fs::path image = dir_ / "image.txt";
  for (int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal);
    Program program({"--unpaced", "--bootloader", "--erase-ms", "0", "--link", link.string(), "--report",
                     report.string(), "--image-out", image.string()});
    const std::string port = program.Line();
    ASSERT_EQ(port.rfind("PORT /dev/pts/", 0), 0u) << port;
    EXPECT_EQ(program.Line(), "LINK " + link.string());
    EXPECT_EQ(fs::read_symlink(link).string(), port.substr(5));
    {
      Wire wire(link.string());
      EXPECT_EQ(wire.Exchange("+v\r", kAnswerQuietMs).text, "BootLdr v1.0\r\nOK\r\n");
      EXPECT_EQ(wire.Exchange("+BE\r", kAnswerQuietMs).text, "OK\r\n");
      EXPECT_EQ(wire.Exchange(WireWrite(0, GroupData(0, 4)), kAnswerQuietMs).text, "000\r\nOK\r\n");
    }
    program.Signal(signal);
    EXPECT_EQ(program.Wait(), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
    const std::string json = ReadFile(report);
    EXPECT_NE(json.find("\"commands\": [\"v\", \"BE\", \"W0000\"]"), std::string::npos) << json;
    EXPECT_NE(json.find("\"complete\": true"), std::string::npos) << json;
    EXPECT_EQ(ReadFile(image), "0000:" + GroupData(0, 4) + "\n");
  }
}

TEST_F(SimProgramTest, EndsByItself) {
  const fs::path report = dir_ / "report.json";
  struct Case {
    const char* name;
    std::vector<std::string> flags;
    const char* reportPart;
  };
  const Case cases[] = {
      {"after the first group", {"--exit-after-last"}, "\"exitedAfterLast\": true"},
      {"on a hang-up", {"--fault", "hangup@W"}, "\"hungUp\": true"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = {"--unpaced", "--bootloader", "--erase-ms",
                                     "0",         "--report",     report.string()};
    args.insert(args.end(), c.flags.begin(), c.flags.end());
    Program program(args);
    const std::string port = program.Line();
    ASSERT_EQ(port.rfind("PORT ", 0), 0u) << port;
    Wire wire(port.substr(5));
    EXPECT_EQ(wire.Exchange("+BE\r", kAnswerQuietMs).text, "OK\r\n");
    EXPECT_EQ(wire.Exchange(WireWrite(0, GroupData(0, 4)), kAnswerQuietMs).text, "000\r\nOK\r\n");
    EXPECT_EQ(program.Wait(), 0);
    EXPECT_NE(ReadFile(report).find(c.reportPart), std::string::npos);
  }
}

// What a script does to check a reflash: the flash the device was left with
// against the one the image calls for.
TEST_F(SimProgramTest, FlashOutMatchesTheExpectedFlashOfTheImage) {
  const fs::path imagePath = dir_ / "image.hex";
  const fs::path flashPath = dir_ / "flash.txt";
  {
    std::ofstream image(imagePath, std::ios::binary);
    image << "VER 14.002.028\r\n";
    for (int record = 0; record < 6; ++record) {
      char address[5];
      std::snprintf(address, sizeof address, "%04X", record * 16);
      image << ":10" << address << "00" << simtest::RecordData(record) << "5A\r\n";
    }
  }
  Program expected({"--expected-flash", imagePath.string()});
  EXPECT_EQ(expected.Wait(), 0);
  const std::string expectedFlash = expected.Rest();
  EXPECT_EQ(std::count(expectedFlash.begin(), expectedFlash.end(), '\n'), 6);

  Program device({"--unpaced", "--bootloader", "--erase-ms", "0", "--flash-out", flashPath.string()});
  const std::string port = device.Line();
  ASSERT_EQ(port.rfind("PORT ", 0), 0u) << port;
  {
    Wire wire(port.substr(5));
    EXPECT_EQ(wire.Exchange("+BE\r", kAnswerQuietMs).text, "OK\r\n");
    EXPECT_EQ(wire.Exchange(WireWrite(4, GroupData(4, 2)), kAnswerQuietMs).text, "004\r\nOK\r\n");
    EXPECT_EQ(wire.Exchange(WireWrite(0, GroupData(0, 4)), kAnswerQuietMs).text, "000\r\nOK\r\n");
  }
  device.Signal(SIGTERM);
  EXPECT_EQ(device.Wait(), 0);
  EXPECT_EQ(ReadFile(flashPath), expectedFlash);

  Program missing({"--expected-flash", (dir_ / "no-such.hex").string()});
  EXPECT_EQ(missing.Wait(), 1);
}

TEST_F(SimProgramTest, HelpAndUsageErrors) {
  struct Case {
    std::vector<std::string> args;
    int status;
  };
  for (const Case& c :
       {Case{{"--help"}, 0}, Case{{"--bogus"}, 2}, Case{{"--link", (dir_ / "no/such/dir").string()}, 1}}) {
    SCOPED_TRACE(c.args.front());
    Program program(c.args);
    EXPECT_EQ(program.Wait(), c.status);
    const std::string out = program.Rest();
    if (c.status == 0) {
      EXPECT_NE(out.find("--fault KIND[@CMD][#N][=MS]"), std::string::npos) << out;
    } else {
      EXPECT_EQ(out.find("PORT"), std::string::npos);
    }
  }
}

}  // namespace
}  // namespace tarvik::sim
