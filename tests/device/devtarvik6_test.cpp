#include "device/devtarvik6.h"

#include <gtest/gtest.h>

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

TEST(DevTarvik6, SilentDeviceCostsFourHalfSecondWaitsInReadVersion) {
  test::FakeClock clock;
  sim::SimOptions o = test::Unpaced({});
  o.faults.push_back({sim::FaultKind::Silence, "", 0, 0});
  test::DeviceFixture dev(o, clock);
  std::string reply;
  const auto start = clock.NowMs();
  EXPECT_FALSE(dev.Controller().Device->ReadVersion(reply));
  EXPECT_GE(clock.NowMs() - start, 4u * 500u);
  EXPECT_TRUE(dev.Sim().WaitUntil([](const sim::SimReport& r) { return r.commands.size() == 4; }, 2000));
}

}  // namespace
}  // namespace tarvik
