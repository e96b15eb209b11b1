#include "device/controller.h"

#include <gtest/gtest.h>

#include <optional>

#include "common/text.h"
#include "devicefixture.h"
#include "support/fakeclock.h"

namespace tarvik {
namespace {

// Each row names only what differs from a device that answers with a
// version line and is identified: the status pane shows the line as sent.
struct IdentifyCase {
  const char* name;
  std::string version;  // first line(s) of the device's "+v" answer
  std::string versionLine;
  bool identified = true;  // Identify's result
  std::int32_t type = 0;
  std::int32_t build = 0;
  std::int32_t familyMajor = 0;
  std::int32_t familyMinor = 0;
  bool bootloader = false;  // the device sits in its bootloader
  std::string unitName{};   // its "+un" model code
  // The text queued for status pane 1; empty optional: the version as sent.
  // A bootloader's banner is shown as its one line, without the "OK".
  std::optional<std::string> status{};
};

class IdentifyTest : public ::testing::TestWithParam<IdentifyCase> {};

TEST_P(IdentifyTest, AgainstTheSimulator) {
  const IdentifyCase& c = GetParam();
  test::DeviceFixture dev(test::DeviceAnswering(c.version, c.bootloader, c.unitName));
  TController& ctl = dev.Controller();
  EXPECT_EQ(ctl.Identify(), c.identified);
  EXPECT_EQ(ctl.Identity.VersionLine, c.versionLine);
  EXPECT_EQ(ctl.Identity.TypeNumber, c.type);
  EXPECT_EQ(ctl.Identity.Build, c.build);
  EXPECT_EQ(ctl.Identity.FamilyMajor, c.familyMajor);
  EXPECT_EQ(ctl.Identity.FamilyMinor, c.familyMinor);
  EXPECT_EQ(ctl.Identity.AnsweredFromBootloader, c.bootloader);
  // A bootloader that named its model is flashed as that model's build 0;
  // only one known by its banner alone is still taken as a bootloader.
  EXPECT_EQ(ctl.Identity.InBootloader(), c.bootloader && !ctl.Identity.VersionLine.starts_with("VER "));
  // The parsed version is the line's, the model's default line included.
  EXPECT_EQ(ctl.Identity.Version, ParseVersion(ctl.Identity.VersionLine));
  EXPECT_EQ(dev.Events().Count("identifying"), 1);
  const auto status = dev.StatusTexts();
  ASSERT_FALSE(status.empty());
  EXPECT_EQ(status.front(), c.status.value_or(c.version));
}

INSTANTIATE_TEST_SUITE_P(
    Identification, IdentifyTest,
    ::testing::Values(IdentifyCase{.name = "numeric",
                                   .version = "VER 14.003.037",
                                   .versionLine = "VER 14.003.037",
                                   .type = 3,
                                   .build = 37},
                      IdentifyCase{.name = "trailing_text",
                                   .version = "VER 14.003.037 rev B",
                                   .versionLine = "VER 14.003.037 rev B",
                                   .type = 3,
                                   .build = 37},
                      // The status pane gets the untrimmed first line; VersionLine is trimmed.
                      IdentifyCase{.name = "untrimmed",
                                   .version = "  VER 14.002.020\t",
                                   .versionLine = "VER 14.002.020",
                                   .type = 2,
                                   .build = 20},
                      // An echo in front: its line is taken, and characters 8-10 are no number.
                      IdentifyCase{.name = "echo_first",
                                   .version = "+v\r\nVER 14.002.020",
                                   .versionLine = "+v",
                                   .identified = false,
                                   .status = "+v"},
                      // "VER" and a family code: a VER reply, numbers from the positions.
                      IdentifyCase{.name = "ver_and_family",
                                   .version = "VER 14.002.028 QTT1",
                                   .versionLine = "VER 14.002.028 QTT1",
                                   .type = 2,
                                   .build = 28},
                      IdentifyCase{.name = "family",
                                   .version = "QTT1.001.002",
                                   .versionLine = "QTT1.001.002",
                                   .familyMajor = 1,
                                   .familyMinor = 2},
                      IdentifyCase{.name = "family_short_numbers",
                                   .version = "QTT1.01.2",
                                   .versionLine = "QTT1.01.2",
                                   .identified = false,
                                   .familyMajor = -1,
                                   .familyMinor = -1},
                      IdentifyCase{.name = "unpadded",
                                   .version = "VER 14.3.037",
                                   .versionLine = "VER 14.3.037",
                                   .identified = false},
                      // Only "BootLdr" exactly marks a bootloader.
                      IdentifyCase{.name = "capital_bootldr",
                                   .version = "BOOTLDR 2",
                                   .versionLine = "",
                                   .identified = false,
                                   .status = ""},
                      IdentifyCase{.name = "boot_qtt3",
                                   .version = test::kBootBanner,
                                   .versionLine = "VER 14.012.000",
                                   .bootloader = true,
                                   .unitName = "QTT3",
                                   .status = test::kBootBanner},
                      IdentifyCase{.name = "boot_qtt1",
                                   .version = test::kBootBanner,
                                   .versionLine = "VER 14.002.000",
                                   .bootloader = true,
                                   .unitName = "QTT1",
                                   .status = test::kBootBanner},
                      IdentifyCase{.name = "boot_qlt1",
                                   .version = test::kBootBanner,
                                   .versionLine = "VER 14.003.000",
                                   .bootloader = true,
                                   .unitName = "QLT1",
                                   .status = test::kBootBanner},
                      IdentifyCase{.name = "boot_qhs",
                                   .version = test::kBootBanner,
                                   .versionLine = "VER 14.009.000",
                                   .bootloader = true,
                                   .unitName = "QHT1",
                                   .status = test::kBootBanner},
                      // An unknown model keeps the whole trimmed banner reply as the version line.
                      IdentifyCase{.name = "boot_unknown",
                                   .version = test::kBootBanner,
                                   .versionLine = test::kBootBanner + "\r\nOK",
                                   .bootloader = true,
                                   .unitName = "XYZ",
                                   .status = test::kBootBanner}),
    [](const ::testing::TestParamInfo<IdentifyCase>& p) { return std::string(p.param.name); });

// A device in its bootloader stands for build 0 of the type its model code
// names. Every row of the model table, and its order: a code that holds the
// tokens of two rows takes the earlier row.
struct BootloaderModelCase {
  const char* unitName;
  const char* versionLine;
  friend void PrintTo(const BootloaderModelCase& c, std::ostream* os) { *os << c.unitName; }
};

class BootloaderModel : public ::testing::TestWithParam<BootloaderModelCase> {};

TEST_P(BootloaderModel, StandsForBuildZeroOfItsType) {
  const BootloaderModelCase& c = GetParam();
  test::DeviceFixture dev(test::DeviceAnswering(test::kBootBanner, true, c.unitName));
  EXPECT_TRUE(dev.Controller().Identify());
  EXPECT_EQ(dev.Controller().Identity.UnitName, c.unitName);
  EXPECT_EQ(dev.Controller().Identity.VersionLine, c.versionLine);
}

INSTANTIATE_TEST_SUITE_P(
    Identification, BootloaderModel,
    ::testing::Values(
        // One code per row, in table order.
        BootloaderModelCase{"QLT1", "VER 14.003.000"}, BootloaderModelCase{"QTT3", "VER 14.012.000"},
        BootloaderModelCase{"QTT1", "VER 14.002.000"}, BootloaderModelCase{"QTN", "VER 14.001.000"},
        BootloaderModelCase{"QNF", "VER 14.007.000"}, BootloaderModelCase{"QFQ1", "VER 14.004.000"},
        BootloaderModelCase{"QZT1", "VER 14.005.000"}, BootloaderModelCase{"QEVQ1", "VER 14.008.000"},
        BootloaderModelCase{"QHT1", "VER 14.009.000"},
        // Two rows' tokens in one code: the earlier row wins.
        BootloaderModelCase{"QTT3LT", "VER 14.003.000"}, BootloaderModelCase{"TTQTT3", "VER 14.012.000"},
        BootloaderModelCase{"TNTT", "VER 14.002.000"}, BootloaderModelCase{"QNFTN", "VER 14.001.000"},
        BootloaderModelCase{"QFQ1QNF", "VER 14.007.000"}, BootloaderModelCase{"QZT1QFQ1", "VER 14.004.000"},
        BootloaderModelCase{"QEVQ1QZT1", "VER 14.005.000"},
        BootloaderModelCase{"QHT1QEVQ1", "VER 14.008.000"}),
    [](const ::testing::TestParamInfo<BootloaderModelCase>& p) { return std::string(p.param.unitName); });

// Each way identification learns the type ends in the one field that says
// which type the device is: a numeric line, a family line, or the model its
// bootloader names; what names no type of the table leaves it unknown.
TEST(Identify, ResolvedTypeForEveryWayATypeIsFound) {
  const struct {
    std::string version;  // "+v" answer, or the banner
    bool bootloader;
    const char* unitName;
    std::int32_t resolved;
  } cases[] = {
      {"VER 14.001.005", false, "", 1},      {"VER 14.002.005", false, "", 2},
      {"VER 14.012.005", false, "", 12},     {"VER 14.003.005", false, "", 3},
      {"VER 14.004.005", false, "", 4},      {"VER 14.005.005", false, "", 5},
      {"VER 14.007.005", false, "", 7},      {"VER 14.008.005", false, "", 8},
      {"VER 14.009.005", false, "", 9},      {"VER 14.010.001", false, "", 10},
      {"VER 14.006.001", false, "", 0},      {"QTT1.001.002", false, "", 2},
      {"QTT3.003.001", false, "", 12},       {"QLT1.001.001", false, "", 3},
      {"QZT1.005.001", false, "", 5},        {"QEVQ1.002.001", false, "", 8},
      {"QHT1.002.001", false, "", 9},        {test::kBootBanner, true, "QTN", 1},
      {test::kBootBanner, true, "QTT1", 2},  {test::kBootBanner, true, "QTT3", 12},
      {test::kBootBanner, true, "QLT1", 3},  {test::kBootBanner, true, "QFQ1", 4},
      {test::kBootBanner, true, "QZT1", 5},  {test::kBootBanner, true, "QNF", 7},
      {test::kBootBanner, true, "QEVQ1", 8}, {test::kBootBanner, true, "QHT1", 9},
      {test::kBootBanner, true, "XYZ", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.version + " " + c.unitName);
    test::DeviceFixture dev(test::DeviceAnswering(c.version, c.bootloader, c.unitName));
    EXPECT_TRUE(dev.Controller().Identify());
    EXPECT_EQ(dev.Controller().Identity.ResolvedType, c.resolved);
  }
}

// The procedure is the resolved type's, unless the device answered from its
// bootloader, which knows only its own.
TEST(DeviceIdentity, ProcedureComesFromTheTypesRow) {
  const struct {
    std::int32_t type;
    bool fromBootloader;
    FlashProcedure procedure;
  } cases[] = {
      {10, false, FlashProcedure::Staged},    {10, true, FlashProcedure::Bootloader},
      {2, false, FlashProcedure::Bootloader}, {12, false, FlashProcedure::Bootloader},
      {9, true, FlashProcedure::Bootloader},  {0, false, FlashProcedure::Bootloader},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    DeviceIdentity device;
    device.ResolvedType = c.type;
    device.AnsweredFromBootloader = c.fromBootloader;
    EXPECT_EQ(device.Procedure(), c.procedure);
  }
}

TEST(Identify, BootloaderThatDoesNotNameItsModelFails) {
  sim::SimOptions o = test::Unpaced({});
  o.banner = "BootLdr v1.0";
  o.startInBootloader = true;
  o.faults.push_back({sim::FaultKind::Silence, "un", 0, 0});
  test::DeviceFixture dev(o);
  EXPECT_FALSE(dev.Controller().Identify());
  EXPECT_TRUE(dev.Controller().Identified);
  // The banner stays as the device sent it, trimmed at the ends only.
  EXPECT_EQ(dev.Controller().Identity.VersionLine, "BootLdr v1.0\r\nOK");
}

TEST(Identify, SilentDeviceEmptiesThePaneAndCostsFourWaits) {
  test::FakeClock clock;
  sim::SimOptions o = test::Unpaced({});
  o.faults.push_back({sim::FaultKind::Silence, "", 0, 0});
  test::DeviceFixture dev(o, clock);
  const auto start = clock.NowMs();
  EXPECT_FALSE(dev.Controller().Identify());
  EXPECT_GE(clock.NowMs() - start, 2000u);
  EXPECT_FALSE(dev.Controller().Identified);
  EXPECT_EQ(dev.StatusTexts(), std::vector<std::string>{""});
}

TEST(Identify, ClosedPortFailsWithoutThrowing) {
  test::DeviceFixture dev(test::Unpaced({}));
  dev.Worker().Close();
  EXPECT_FALSE(dev.Controller().Identify());
}

TEST(ControllerEvents, LockUnlockNoAnswerAndDisconnectAreTold) {
  test::DeviceFixture dev(test::Unpaced({}));
  TController& ctl = dev.Controller();
  ctl.Identified = true;
  ctl.LockUi();
  ctl.UnlockUi();
  ctl.RequestDisconnect();
  EXPECT_FALSE(ctl.Identified);
  ctl.Identified = true;
  ctl.ReportNoAnswer();
  EXPECT_FALSE(ctl.Identified);
  EXPECT_EQ(dev.Events().Events(), (std::vector<std::string>{"busy", "idle", "disconnect", "no answer"}));
}

}  // namespace
}  // namespace tarvik
