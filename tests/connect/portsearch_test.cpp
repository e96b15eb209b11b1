#include "connect/portsearch.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>

#include "common/text.h"
#include "device/devicefixture.h"
#include "firmware/shippedcatalogue.h"
#include "serial/deviceerror.h"
#include "serial/otherprogram.h"
#include "serial/xcomdrv.h"
#include "simulator/devicesimulator.h"
#include "support/recordingevents.h"

namespace tarvik {
namespace {

using sim::Fault;
using sim::FaultKind;

// Descriptors of this process open on the path: the simulator keeps its own
// slave side open, so a search must leave the count as it found it.
int OpenDescriptorsTo(const std::string& path) {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    const auto target = std::filesystem::read_symlink(entry.path(), error);
    if (!error && target.string().rfind(path, 0) == 0) ++count;
  }
  return count;
}

sim::SimOptions Answering(const std::string& version) {
  sim::SimOptions o;
  o.version = version;
  o.unpaced = true;
  return o;
}

sim::SimOptions Bootloader() {
  sim::SimOptions o = Answering("VER 14.002.020");
  o.startInBootloader = true;
  o.banner = "BootLdr v1.0";
  return o;
}

sim::SimOptions Silent() {
  sim::SimOptions o = Answering("VER 14.002.020");
  o.faults = {Fault{.kind = FaultKind::Silence, .command = ""}};
  return o;
}

// A version no device type of the catalogue has, without "boot" in it.
const std::string kUnknownVersion = "VER 99.099.001";

class PortSearchTest : public ::testing::Test {
 protected:
  // A simulated device on its own pseudo-terminal; the port name it goes by.
  std::string AddDevice(sim::SimOptions options) {
    auto device = std::make_unique<sim::DeviceSimulator>(std::move(options));
    if (!device->Start()) throw std::runtime_error("simulator: " + device->Error());
    const std::string port = test::PortName(device->SlavePath());
    devices_.push_back(std::move(device));
    return port;
  }
  sim::DeviceSimulator& Device(std::size_t i) { return *devices_[i]; }

  std::optional<std::size_t> Search(const std::vector<std::string>& ports) {
    std::vector<int> before;
    for (const std::string& port : ports) before.push_back(OpenDescriptorsTo("/dev/" + port));
    const auto found = SearchPorts(ports, setup_,
                                   {.Answered = [this](std::size_t i) { answered_.push_back(i); },
                                    .Progress = [this](std::size_t n) { progress_.push_back(n); },
                                    .Failed = {}},
                                   stop_);
    for (std::size_t i = 0; i < ports.size(); ++i) {
      EXPECT_EQ(OpenDescriptorsTo("/dev/" + ports[i]), before[i]) << ports[i] << " left open";
    }
    return found;
  }

  // The log lines told so far.
  std::vector<std::string> Log() { return log_.Log(); }
  static std::size_t Count(const std::vector<std::string>& lines, const std::string& part) {
    return static_cast<std::size_t>(
        std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return Contains(l, part); }));
  }

  std::vector<std::unique_ptr<sim::DeviceSimulator>> devices_;
  test::RecordingEvents log_;
  UiStepQueue steps_;
  PortSearchSetup setup_{.Log = log_, .Sync = steps_, .Catalogue = &test::ShippedCatalogue()};
  std::atomic<bool> stop_{false};
  std::vector<std::size_t> answered_;
  std::vector<std::size_t> progress_;
};

TEST_F(PortSearchTest, FirstKnownDeviceWinsAfterSilentAndMissingPorts) {
  const std::string silent = AddDevice(Silent());
  const std::string first = AddDevice(Answering("VER 14.002.020"));
  const std::string second = AddDevice(Answering("VER 14.003.037"));
  const std::vector<std::string> ports = {silent, "ttyTarvikNoSuchPort", first, second};
  ASSERT_EQ(OpenDescriptorsTo("/dev/" + first), 1) << "the simulator's own side is seen";

  EXPECT_EQ(Search(ports), std::optional<std::size_t>(2));
  EXPECT_EQ(answered_, (std::vector<std::size_t>{2}));
  EXPECT_EQ(progress_, (std::vector<std::size_t>{1, 2}));
  EXPECT_EQ(Device(0).Report().commands, (std::vector<std::string>{"v"}));
  EXPECT_EQ(Device(1).Report().commands, (std::vector<std::string>{"v"}));
  EXPECT_TRUE(Device(2).Report().commands.empty()) << "no port is tried after the one found";

  // Two probes, each logged in full; the missing port leaves no trace.
  const std::vector<std::string> log = Log();
  EXPECT_EQ(Count(log, "$$$: "), 2u);
  EXPECT_EQ(Count(log, "#com<-: +v\r\n"), 2u);
  ASSERT_EQ(Count(log, "@com->: "), 2u);
  EXPECT_TRUE(Contains(log.back(), "@com->: VER 14.002.020")) << log.back();
  EXPECT_EQ(Count(log, "ttyTarvikNoSuchPort"), 0u);
}

TEST_F(PortSearchTest, OtherAnswerIsSelectedButTheSearchGoesOnToABootloader) {
  const std::string other = AddDevice(Answering(kUnknownVersion));
  const std::string boot = AddDevice(Bootloader());
  EXPECT_EQ(Search({other, boot}), std::optional<std::size_t>(1));
  EXPECT_EQ(answered_, (std::vector<std::size_t>{0, 1}));
  EXPECT_EQ(progress_, (std::vector<std::size_t>{1}));
}

TEST_F(PortSearchTest, NothingAcceptedLeavesTheLastAnsweringPortSelected) {
  const std::string other = AddDevice(Answering(kUnknownVersion));
  const std::string silent = AddDevice(Silent());
  EXPECT_EQ(Search({other, silent}), std::nullopt);
  EXPECT_EQ(answered_, (std::vector<std::size_t>{0}));
  EXPECT_EQ(progress_, (std::vector<std::size_t>{1, 2}));
  EXPECT_EQ(Device(1).Report().commands, (std::vector<std::string>{"v"}));
}

TEST_F(PortSearchTest, PortHeldByAnotherProgramIsSkippedAndKeptByIt) {
  const std::string held = AddDevice(Answering("VER 14.002.020"));
  const std::string free = AddDevice(Answering("VER 14.002.020"));
  TXComm holder;
  holder.SetDeviceName(held);
  holder.Open();
  EXPECT_EQ(Search({held, free}), std::optional<std::size_t>(1));
  EXPECT_TRUE(Device(0).Report().commands.empty()) << "nothing reached the held port";
  EXPECT_TRUE(holder.IsOpen());
  EXPECT_EQ(answered_, (std::vector<std::size_t>{1}));
  EXPECT_EQ(progress_, (std::vector<std::size_t>{1}));
}

// A terminal program left on a port would take the device's answer to the
// probe; the search passes that port by without opening it.
TEST_F(PortSearchTest, PortThatATerminalProgramHoldsIsPassedBy) {
  const std::string held = AddDevice(Answering("VER 14.002.020"));
  const std::string free = AddDevice(Answering("VER 14.002.020"));
  const test::OtherProgram terminal({"cat"}, "/dev/" + held);
  EXPECT_EQ(Search({held, free}), std::optional<std::size_t>(1));
  EXPECT_TRUE(Device(0).Report().commands.empty()) << "nothing reached the held port";
  EXPECT_EQ(answered_, (std::vector<std::size_t>{1}));
  EXPECT_EQ(Count(Log(), held), 0u) << "a port in use leaves no trace, as a missing one";
}

// The protocol lets a device answer without "OK": its version alone is
// an answer, and the device is found.
TEST_F(PortSearchTest, AnAnswerWithoutOkIsAnAnswer) {
  sim::SimOptions noOk = Answering("VER 14.002.020");
  noOk.faults = {Fault{.kind = FaultKind::NoOk, .command = "v"}};
  const std::string port = AddDevice(noOk);
  EXPECT_EQ(Search({port}), std::optional<std::size_t>(0));
  EXPECT_EQ(answered_, (std::vector<std::size_t>{0}));
  EXPECT_EQ(Device(0).Report().faultsApplied, 1u) << "the answer had no OK";
}

TEST_F(PortSearchTest, NoPortsFindsNothing) {
  EXPECT_EQ(Search({}), std::nullopt);
  EXPECT_TRUE(answered_.empty());
  EXPECT_TRUE(progress_.empty());
}

TEST_F(PortSearchTest, StopEndsTheSearchBeforeTheNextPort) {
  const std::string silent = AddDevice(Silent());
  const std::string device = AddDevice(Answering("VER 14.002.020"));
  const auto found = SearchPorts(
      {silent, device}, setup_,
      {.Answered = {}, .Progress = [this](std::size_t) { stop_.store(true); }, .Failed = {}}, stop_);
  EXPECT_EQ(found, std::nullopt);
  EXPECT_TRUE(Device(1).Report().commands.empty());
}

// An adapter pulled out during its probe must not end the search: a device
// on a later port is still found, and the log says which port failed.
TEST_F(PortSearchTest, APortThatFailsDuringItsProbeIsClosedLoggedAndSkipped) {
  // The adapter goes while the answer is awaited, not while the query is
  // written.
  sim::SimOptions gone = Answering("VER 14.002.020");
  gone.faults = {Fault{.kind = FaultKind::Silence, .command = "v"},
                 Fault{.kind = FaultKind::Slow, .command = "v", .nth = 0, .delayMs = 50},
                 Fault{.kind = FaultKind::HangUp, .command = "v"}};
  const std::string port = AddDevice(gone);
  const std::string after = AddDevice(Answering("VER 14.002.020"));
  std::vector<std::pair<std::size_t, std::string>> failed;
  const auto found = SearchPorts(
      {port, after}, setup_,
      {.Answered = {},
       .Progress = {},
       .Failed = [&](std::size_t i, const std::string& reason) { failed.emplace_back(i, reason); }},
      stop_);
  EXPECT_EQ(found, std::optional<std::size_t>(1));
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(failed[0].first, 0u);
  EXPECT_TRUE(Contains(failed[0].second, "Unable to read from port.")) << failed[0].second;
  EXPECT_EQ(Device(1).Report().commands, (std::vector<std::string>{"v"}));
  // The device has let go of its side too once it reports the hang-up.
  ASSERT_TRUE(Device(0).WaitFinished(5000));
  EXPECT_EQ(OpenDescriptorsTo("/dev/" + port), 0) << "the failed port was closed";
  const std::vector<std::string> log = Log();
  EXPECT_EQ(Count(log, Utf8ToCp1251("Порт ") + port +
                           Utf8ToCp1251(" не удалось опросить: Unable to read from port.")),
            1u);
}

TEST(ProbeReply, KnownVersionOrBootloader) {
  struct Case {
    std::string reply;
    bool accepted;
  };
  const Case cases[] = {
      {"VER 14.002.020\r\nOK\r\n", true},
      {"VER 14.003.037 rev B\r\nOK\r\n", true},
      {kUnknownVersion + "\r\nOK\r\n", false},
      {"BootLdr v1.0\r\nOK\r\n", true},
      {"reboot pending\r\nOK", true},  // "BOOT" anywhere, any case
      {Utf8ToCp1251("загрузчик boot") + "\r\n", true},
      {"ERROR\r\n", false},
      {"", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AcceptsProbeReply(&test::ShippedCatalogue(), c.reply), c.accepted) << c.reply;
  }
  EXPECT_FALSE(AcceptsProbeReply(nullptr, "VER 14.002.020\r\nOK\r\n")) << "without a catalogue";
  EXPECT_TRUE(AcceptsProbeReply(nullptr, "BootLdr\r\nOK\r\n"));
}

}  // namespace
}  // namespace tarvik
