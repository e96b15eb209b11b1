#include "device/devtarvik6.h"

#include <gtest/gtest.h>

#include <functional>

#include "devicefixture.h"
#include "serial/comportworker.h"
#include "support/fakeclock.h"

namespace tarvik {
namespace {

TEST(FrameCommand, PlusNameCarriageReturn) {
  EXPECT_EQ(FrameCommand("v"), "+v\r");
  EXPECT_EQ(FrameCommand("W0004:00:00"), "+W0004:00:00\r");
}

TEST(ParseValue, CutsBetweenFirstColonAndFirstOk) {
  struct Case {
    const char* reply;
    const char* value;
  } cases[] = {
      {"UN: QTT3\r\nOK\r\n", "QTT3"},
      {"+un\r\nUN: QLT1\r\nOK", "QLT1"},
      {"QNF\r\nOK", "QNF"},        // no colon: the text before OK
      {"UN: QTT1\r\nok\r\n", ""},  // lower-case ok is no OK for the value
      {"UN: a:b OK OK", "a:b"},
      {"UN: QTT1", ""},  // no OK at all
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseValue(c.reply), c.value) << c.reply;
}

TEST(ClassifyVersionReply, Table) {
  struct Case {
    const char* reply;
    VersionReplyKind kind;
    const char* line;
    int family;
  } cases[] = {
      {"VER 14.003.037\r\nOK\r\n", VersionReplyKind::Version, "VER 14.003.037", 0},
      {"+v\r\nVER 14.003.037\r\nOK", VersionReplyKind::Version, "+v", 0},  // an echo first: its line is taken
      {"VER 14.002.028 QTT1\r\nOK", VersionReplyKind::Version, "VER 14.002.028 QTT1", 0},
      {"QTT1.001.002\r\nOK", VersionReplyKind::Family, "QTT1.001.002", 1},
      {"QZT1 QTT3.003.001\r\nOK", VersionReplyKind::Family, "QZT1 QTT3.003.001", 2},  // table order wins
      {"BootLdr v1\r\nOK", VersionReplyKind::Bootloader, "BootLdr v1\r\nOK", 0},
      {"BOOTLDR\r\nOK", VersionReplyKind::None, "", 0},
      {"qtt1.001.002 OK", VersionReplyKind::None, "", 0},
      {"ERROR", VersionReplyKind::None, "", 0},
  };
  for (const auto& c : cases) {
    const auto r = ClassifyVersionReply(c.reply);
    EXPECT_EQ(r.kind, c.kind) << c.reply;
    EXPECT_EQ(r.line, c.line) << c.reply;
    EXPECT_EQ(r.familyIndex, c.family) << c.reply;
  }
}

TEST(DevTarvik6, CommandsGoOutFramedWithTheirTerminators) {
  sim::SimOptions o = test::Unpaced({});
  o.eraseMs = 0;
  test::DeviceFixture dev(o);
  TDevTarvik6& d = *dev.Controller().Device;
  std::string reply;
  EXPECT_TRUE(d.Command("BL", reply, true));
  EXPECT_TRUE(d.SlowCommand("BE", reply, false));
  EXPECT_TRUE(d.Query("v", reply));
  EXPECT_NE(reply.find('\r'), std::string::npos);
  std::string value;
  EXPECT_TRUE(d.ReadUnitName(value));
  EXPECT_EQ(value, "QTT1");
  const auto report = dev.Sim().Report();
  EXPECT_EQ(report.commands, (std::vector<std::string>{"BL", "BE", "v", "un"}));
}

// Every operation against a device that never answers, on the fake clock:
// the device counts the commands (the attempts), the fake time pins the
// time-outs. Each attempt adds 60 ms of RTS pauses and the 1 ms by which a
// wait overshoots its time-out, so it costs its time-out plus at most 100 ms.
struct TimeoutCase {
  const char* name;
  std::function<bool(TDevTarvik6&)> call;
  std::vector<std::string> commands;    // what the device receives, in order
  std::vector<std::uint32_t> timeouts;  // one per attempt, in ms
  friend void PrintTo(const TimeoutCase& c, std::ostream* os) { *os << c.name; }
};

class SilentDeviceTimeouts : public ::testing::TestWithParam<TimeoutCase> {};

TEST_P(SilentDeviceTimeouts, AttemptsAndTimeOutsOfEachOperation) {
  const TimeoutCase& c = GetParam();
  test::FakeClock clock;
  sim::SimOptions o = test::Unpaced({});
  o.faults.push_back({sim::FaultKind::Silence, "", 0, 0});
  test::DeviceFixture dev(o, clock);

  const std::uint64_t start = clock.NowMs();
  EXPECT_FALSE(c.call(*dev.Controller().Device));
  const std::uint64_t elapsed = clock.NowMs() - start;

  std::uint64_t least = 0;
  for (const std::uint32_t timeout : c.timeouts) least += timeout;
  EXPECT_GT(elapsed, least);
  EXPECT_LE(elapsed, least + 100 * c.timeouts.size());
  EXPECT_EQ(dev.ReceivedCommands(), c.commands);
}

bool CallWithReply(bool (TDevTarvik6::*op)(std::string_view, std::string&), TDevTarvik6& d,
                   std::string_view name) {
  std::string reply;
  return (d.*op)(name, reply);
}

INSTANTIATE_TEST_SUITE_P(
    DevTarvik6, SilentDeviceTimeouts,
    ::testing::Values(
        TimeoutCase{"Command",
                    [](TDevTarvik6& d) {
                      std::string reply;
                      return d.Command("BL", reply, true);
                    },
                    {"BL"},
                    {2500}},
        TimeoutCase{"SlowCommand",
                    [](TDevTarvik6& d) {
                      std::string reply;
                      return d.SlowCommand("BE", reply, true);
                    },
                    {"BE"},
                    {15000}},
        TimeoutCase{"WriteCommand",
                    [](TDevTarvik6& d) {
                      std::string reply;
                      return d.WriteCommand("W0004:00", reply, true);
                    },
                    {"W0004"},
                    {3500}},
        TimeoutCase{"Query",
                    [](TDevTarvik6& d) { return CallWithReply(&TDevTarvik6::Query, d, "v"); },
                    {"v"},
                    {2000}},
        TimeoutCase{"QueryValue",
                    [](TDevTarvik6& d) { return CallWithReply(&TDevTarvik6::QueryValue, d, "un"); },
                    {"un", "un", "un"},
                    {500, 500, 500}},
        TimeoutCase{"QueryRaw",
                    [](TDevTarvik6& d) { return CallWithReply(&TDevTarvik6::QueryRaw, d, "v"); },
                    {"v"},
                    {500}},
        // Three tries of the query that gets the device talking, then the one
        // whose answer is read.
        TimeoutCase{"ReadVersion",
                    [](TDevTarvik6& d) {
                      std::string reply;
                      return d.ReadVersion(reply);
                    },
                    {"v", "v", "v", "v"},
                    {500, 500, 500, 500}},
        TimeoutCase{"ReadUnitName",
                    [](TDevTarvik6& d) {
                      std::string value;
                      return d.ReadUnitName(value);
                    },
                    {"un", "un", "un"},
                    {500, 500, 500}}),
    [](const ::testing::TestParamInfo<TimeoutCase>& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace tarvik
