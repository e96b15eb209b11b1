#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include "simulator/devicesimulator.h"
#include "support/fakeclock.h"
#include "tools/simwire.h"

namespace tarvik::sim {
namespace {

using simtest::GroupData;
using simtest::Reply;
using simtest::Wire;
using simtest::WireWrite;

const std::string kVersionAnswer = "VER 14.002.020\r\nOK\r\n";

SimOptions Fast() {
  SimOptions options;
  options.unpaced = true;
  options.eraseMs = 0;
  return options;
}

SimOptions FastBootloader() {
  SimOptions options = Fast();
  options.startInBootloader = true;
  return options;
}

class SimulatorTest : public ::testing::Test {
 protected:
  DeviceSimulator& Start(SimOptions options) {
    wire_.reset();
    if (sim_) sim_->Stop();
    sim_ = std::make_unique<DeviceSimulator>(std::move(options));
    EXPECT_TRUE(sim_->Start()) << sim_->Error();
    wire_ = std::make_unique<Wire>(sim_->SlavePath());
    EXPECT_GE(wire_->Fd(), 0);
    return *sim_;
  }
  Reply Ask(const std::string& bytes, int quietMs = 150) { return wire_->Exchange(bytes, quietMs); }

  void TearDown() override {
    wire_.reset();
    if (sim_) sim_->Stop();
  }

  std::unique_ptr<DeviceSimulator> sim_;
  std::unique_ptr<Wire> wire_;
};

// The reply value as the tool cuts it: after the first ":", before the first
// "OK", trimmed.
std::string ValueOf(const std::string& reply) {
  const auto colon = reply.find(':');
  std::string rest = colon == std::string::npos ? reply : reply.substr(colon + 1);
  const auto ok = rest.find("OK");
  rest = ok == std::string::npos ? std::string() : rest.substr(0, ok);
  const auto first = rest.find_first_not_of(" \r\n\t");
  const auto last = rest.find_last_not_of(" \r\n\t");
  return first == std::string::npos ? std::string() : rest.substr(first, last - first + 1);
}

TEST_F(SimulatorTest, AnswersIdentificationQueries) {
  struct Case {
    const char* name;
    std::function<void(SimOptions&)> setup;
    std::string wire;
    std::string answer;
    std::string value = {};  // as the tool's value parser cuts it, where it matters
  };
  const Case cases[] = {
      {"numeric version", [](SimOptions&) {}, "+v\r", kVersionAnswer},
      {"search probe with LF", [](SimOptions&) {}, "+v\r\n", kVersionAnswer},
      {"family version", [](SimOptions& o) { o.version = "QTT1.001.002"; }, "+v\r", "QTT1.001.002\r\nOK\r\n"},
      {"bootloader from the start", [](SimOptions& o) { o.startInBootloader = true; }, "+v\r",
       "BootLdr v1.0\r\nOK\r\n"},
      {"own banner", [](SimOptions& o) { o.startInBootloader = true, o.banner = "BootLdr QTT 2.1"; }, "+v\r",
       "BootLdr QTT 2.1\r\nOK\r\n"},
      {"model code", [](SimOptions& o) { o.unitName = "QTT3"; }, "+un\r", "UN: QTT3\r\nOK\r\n", "QTT3"},
      {"unknown command", [](SimOptions&) {}, "+XYZ\r", "ERROR\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimOptions options = Fast();
    c.setup(options);
    Start(options);
    const std::string reply = Ask(c.wire).text;
    EXPECT_EQ(reply, c.answer);
    if (!c.value.empty()) {
      EXPECT_EQ(ValueOf(reply), c.value);
    }
  }
}

TEST_F(SimulatorTest, ProbeLineFeedMakesNoExtraCommand) {
  Start(Fast());
  EXPECT_EQ(Ask("+v\r\n").text, kVersionAnswer);
  EXPECT_EQ(Ask("+v\r\n").text, kVersionAnswer);
  EXPECT_EQ(Ask("junk+un\r").text, "UN: QTT1\r\nOK\r\n");
  const SimReport report = sim_->Report();
  EXPECT_EQ(report.commands, (std::vector<std::string>{"v", "v", "un"}));
  EXPECT_EQ(report.strayBytes, 4u);
}

TEST_F(SimulatorTest, BootloaderEntryChangesTheVersionAnswer) {
  Start(Fast());
  EXPECT_EQ(Ask("+v\r").text, kVersionAnswer);
  EXPECT_EQ(sim_->Report().mode, "firmware");
  EXPECT_EQ(Ask("+BL\r").text, "OK\r\n");
  EXPECT_EQ(Ask("+v\r").text, "BootLdr v1.0\r\nOK\r\n");
  const SimReport report = sim_->Report();
  EXPECT_EQ(report.commands, (std::vector<std::string>{"v", "BL", "v"}));
  EXPECT_EQ(report.mode, "bootloader");
}

TEST_F(SimulatorTest, BootloaderUploadIsEchoedAndRecorded) {
  Start(Fast());
  ASSERT_EQ(Ask("+BL\r").text, "OK\r\n");
  ASSERT_EQ(Ask("+BE\r").text, "OK\r\n");
  // The tool writes every group but the first, then the first; the last
  // group may be short.
  EXPECT_EQ(Ask(WireWrite(4, GroupData(4, 4))).text, "004\r\nOK\r\n");
  EXPECT_EQ(Ask(WireWrite(8, GroupData(8, 2))).text, "008\r\nOK\r\n");
  EXPECT_EQ(Ask(WireWrite(0, GroupData(0, 4))).text, "000\r\nOK\r\n");

  const SimReport report = sim_->Report();
  EXPECT_EQ(report.commands, (std::vector<std::string>{"BL", "BE", "W0004", "W0008", "W0000"}));
  EXPECT_EQ(report.writes, (std::vector<std::string>{"0004", "0008", "0000"}));
  EXPECT_TRUE(report.eraseSeen);
  EXPECT_TRUE(report.complete);
  EXPECT_EQ(report.records, 10u);
  EXPECT_EQ(report.lastBlock, "0000");
  EXPECT_EQ(report.highestBlock, "0008");
  EXPECT_TRUE(report.checkErrors.empty());
  EXPECT_EQ(report.image.at("0008"), GroupData(8, 2));
  EXPECT_EQ(report.ImageRecords(),
            "0000:" + GroupData(0, 4) + "\n0004:" + GroupData(4, 4) + "\n0008:" + GroupData(8, 2) + "\n");
}

// An image as the catalogue holds it: the header, then one 43-character
// record per block.
std::vector<std::string> ImageLines(int records) {
  std::vector<std::string> lines = {"VER 14.002.028"};
  for (int i = 0; i < records; ++i) {
    char address[5];
    std::snprintf(address, sizeof address, "%04X", (i * 16) & 0xFFFF);
    lines.push_back(std::string(":10") + address + "00" + simtest::RecordData(i) + "5A");
  }
  return lines;
}

std::string FlashLine(int block, const std::string& data) {
  char head[6];
  std::snprintf(head, sizeof head, "%04X:", block);
  return head + data + "\n";
}

// Nibble by nibble, as flash cells that can only be cleared.
std::string AndHex(const std::string& a, const std::string& b) {
  std::string out;
  for (std::size_t i = 0; i < a.size(); ++i) {
    out +=
        "0123456789ABCDEF"[std::stoi(a.substr(i, 1), nullptr, 16) & std::stoi(b.substr(i, 1), nullptr, 16)];
  }
  return out;
}

// After a complete reflash the device starts the firmware it was written:
// "+v" answers the version line of the image it knows by its data, or the
// one it was told; unknown data, an unfinished image or the stale-version
// fault leave the answer as it was.
TEST_F(SimulatorTest, VersionAfterAReflashIsTheWrittenImages) {
  const std::vector<std::vector<std::string>> known = {ImageLines(6), [] {
                                                         std::vector<std::string> other = ImageLines(10);
                                                         other[0] = "VER 14.002.030";
                                                         return other;
                                                       }()};
  struct Case {
    const char* name;
    std::string versionAfter;
    bool knowsImages;
    std::vector<std::string> faults;
    bool lastBlockWritten;
    std::string answer;
  };
  const Case cases[] = {
      {"known by its data", "", true, {}, true, "VER 14.002.030\r\nOK\r\n"},
      {"told outright", "VER 14.002.099", false, {}, true, "VER 14.002.099\r\nOK\r\n"},
      {"data it does not know", "", false, {}, true, "BootLdr v1.0\r\nOK\r\n"},
      {"block 0000 not written yet", "", true, {}, false, "BootLdr v1.0\r\nOK\r\n"},
      {"stale version", "", true, {"stale-version"}, true, kVersionAnswer},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimOptions options = Fast();
    options.versionAfter = c.versionAfter;
    if (c.knowsImages) options.knownImages = &known;
    for (const std::string& text : c.faults) {
      Fault fault;
      std::string error;
      ASSERT_TRUE(ParseFault(text, fault, error)) << error;
      options.faults.push_back(fault);
    }
    Start(options);
    ASSERT_EQ(Ask("+BL\r").text, "OK\r\n");
    ASSERT_EQ(Ask("+BE\r").text, "OK\r\n");
    ASSERT_EQ(Ask(WireWrite(4, GroupData(4, 4))).text, "004\r\nOK\r\n");
    ASSERT_EQ(Ask(WireWrite(8, GroupData(8, 2))).text, "008\r\nOK\r\n");
    if (c.lastBlockWritten) {
      ASSERT_EQ(Ask(WireWrite(0, GroupData(0, 4))).text, "000\r\nOK\r\n");
    }
    EXPECT_EQ(Ask("+v\r").text, c.answer);
    // Done with the images it reads before they go.
    sim_->Stop();
  }
}

TEST_F(SimulatorTest, FlashHoldsWhatWasWrittenAndFfElsewhere) {
  using simtest::RecordData;
  const std::string ff(32, 'F');
  const std::string partial = RecordData(9).substr(0, 20);
  std::string gapFlash;
  for (int block = 0; block < 8; ++block) gapFlash += FlashLine(block, ff);
  gapFlash += FlashLine(8, RecordData(8)) + FlashLine(9, partial + std::string(12, 'F'));
  SimOptions staged = Fast();
  staged.staged = true;
  struct Case {
    const char* name;
    SimOptions options;
    std::vector<std::string> wires;
    std::string flash;
  };
  const Case cases[] = {
      {"an image written whole, short last group",
       FastBootloader(),
       {"+BE\r", WireWrite(4, GroupData(4, 4)), WireWrite(8, GroupData(8, 2)), WireWrite(0, GroupData(0, 4))},
       ExpectedFlash(ImageLines(10))},
      {"a gap and a block cut short",
       FastBootloader(),
       {"+BE\r", WireWrite(8, RecordData(8) + partial)},
       gapFlash},
      {"an erase clears it", FastBootloader(), {"+BE\r", WireWrite(0, GroupData(0, 4)), "+BE\r"}, ""},
      {"rewritten without an erase: bits only clear",
       FastBootloader(),
       {WireWrite(0, RecordData(1)), WireWrite(0, RecordData(2))},
       FlashLine(0, AndHex(RecordData(1), RecordData(2)))},
      {"rewritten after an erase",
       FastBootloader(),
       {WireWrite(0, RecordData(1)), "+BE\r", WireWrite(0, RecordData(2))},
       FlashLine(0, RecordData(2))},
      {"a staged upload keeps the last data sent",
       staged,
       {WireWrite(0, RecordData(1)), WireWrite(0, RecordData(2))},
       FlashLine(0, RecordData(2))},
      {"refused and spoilt writes leave it alone",
       Fast(),
       {WireWrite(0, RecordData(1)), "+BL\r", WireWrite(0, RecordData(1), 0x01)},
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Start(c.options);
    for (const std::string& wire : c.wires) Ask(wire);
    EXPECT_EQ(sim_->Report().FlashRecords(), c.flash);
  }
}

TEST(SimExpectedFlash, TurnsImageLinesIntoBlocks) {
  EXPECT_EQ(ExpectedFlash({"VER 14.002.028"}), "");
  EXPECT_EQ(ExpectedFlash({}), "");
  const std::vector<std::string> lines = ImageLines(2);
  EXPECT_EQ(ExpectedFlash(lines),
            FlashLine(0, simtest::RecordData(0)) + FlashLine(1, simtest::RecordData(1)));
}

TEST_F(SimulatorTest, EchoCarriesTheModesDigits) {
  struct Case {
    const char* name;
    bool staged;
    std::uint32_t echoDigits;
    std::string answer;
  };
  const Case cases[] = {
      {"bootloader", false, 0, "00C\r\nOK\r\n"},
      {"staged", true, 0, "000C\r\nOK\r\n"},
      {"bootloader with four digits", false, 4, "000C\r\nOK\r\n"},
      {"staged with three digits", true, 3, "00C\r\nOK\r\n"},
      {"one digit", false, 1, "C\r\nOK\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimOptions options = FastBootloader();
    options.staged = c.staged;
    options.echoDigits = c.echoDigits;
    Start(options);
    EXPECT_EQ(Ask(WireWrite(0xC, GroupData(12, 4))).text, c.answer);
  }
}

TEST_F(SimulatorTest, ImageIsCompleteOnlyWhenErasedAndWithoutGaps) {
  struct Case {
    const char* name;
    std::vector<std::string> wires;
    bool complete;
  };
  const Case cases[] = {
      {"erased, all groups", {"+BE\r", WireWrite(4, GroupData(4, 4)), WireWrite(0, GroupData(0, 4))}, true},
      {"not erased", {WireWrite(4, GroupData(4, 4)), WireWrite(0, GroupData(0, 4))}, false},
      {"gap", {"+BE\r", WireWrite(8, GroupData(8, 4)), WireWrite(0, GroupData(0, 4))}, false},
      {"short group inside", {"+BE\r", WireWrite(0, GroupData(0, 3)), WireWrite(4, GroupData(4, 4))}, false},
      {"first group missing", {"+BE\r", WireWrite(4, GroupData(4, 4))}, false},
      {"erased again afterwards",
       {"+BE\r", WireWrite(4, GroupData(4, 4)), WireWrite(0, GroupData(0, 4)), "+BE\r"},
       false},
      {"nothing written", {"+BE\r"}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Start(FastBootloader());
    for (const std::string& wire : c.wires) Ask(wire);
    EXPECT_EQ(sim_->Report().complete, c.complete);
  }
}

TEST_F(SimulatorTest, CheckByteErrorIsAnsweredWithoutOkOrEcho) {
  Start(FastBootloader());
  Ask("+BE\r");
  const Reply reply = Ask(WireWrite(4, GroupData(4, 4), 0x01));
  EXPECT_EQ(reply.text, "ERR CHECK\r\n");
  EXPECT_EQ(reply.text.find("OK"), std::string::npos);
  const SimReport report = sim_->Report();
  EXPECT_EQ(report.checkErrors, std::vector<std::string>{"0004"});
  EXPECT_TRUE(report.image.empty());
  EXPECT_TRUE(report.writes.empty());
  EXPECT_EQ(report.commands.back(), "W0004");
}

TEST_F(SimulatorTest, RefusesMalformedAndOutOfModeCommands) {
  const std::string data = GroupData(4, 4);
  const std::string good = WireWrite(4, data);
  struct Case {
    const char* name;
    SimOptions options;
    std::string wire;
    std::vector<std::string> SimReport::*list;
    std::string entry;
  };
  SimOptions staged = Fast();
  staged.staged = true;
  const Case cases[] = {
      {"lower-case block number", FastBootloader(), "+W000a:" + data + ":00\r", &SimReport::malformed,
       "W000a"},
      {"lower-case data", FastBootloader(), "+W0004:" + std::string(32, 'a') + ":00\r", &SimReport::malformed,
       "W0004"},
      {"no check byte", FastBootloader(), "+W0004:" + data + "\r", &SimReport::malformed, "W0004"},
      {"odd digit count", FastBootloader(), "+W0004:" + data + "A:00\r", &SimReport::malformed, "W0004"},
      {"no data", FastBootloader(), "+W0004::00\r", &SimReport::malformed, "W0004"},
      {"write before BL", Fast(), good, &SimReport::refused, "W0004"},
      {"erase before BL", Fast(), "+BE\r", &SimReport::refused, "BE"},
      {"commit outside staged mode", FastBootloader(), "+EE00000000\r", &SimReport::refused, "EE00000000"},
      {"short commit", staged, "+EE1234\r", &SimReport::malformed, "EE1234"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Start(c.options);
    EXPECT_EQ(Ask(c.wire).text, "ERROR\r\n");
    const SimReport report = sim_->Report();
    EXPECT_EQ(report.*c.list, std::vector<std::string>{c.entry});
    EXPECT_TRUE(report.image.empty());
    EXPECT_TRUE(report.commit.empty());
  }
}

TEST_F(SimulatorTest, StagedUploadEchoesFourDigitsAndChecksTheCommit) {
  SimOptions options = Fast();
  options.staged = true;
  Start(options);
  // Nine groups: the ninth folds into the first accumulator again.
  int accumulators[4] = {0, 0, 0, 0};
  for (int group = 0; group < 9; ++group) {
    const std::string data = GroupData(group * 4, 4);
    accumulators[(group % 8) / 2] ^= simtest::CheckByte(data);
    char echo[16];
    std::snprintf(echo, sizeof echo, "%04X\r\nOK\r\n", group * 4);
    EXPECT_EQ(Ask(WireWrite(group * 4, data)).text, echo);
  }
  char commit[9];
  std::snprintf(commit, sizeof commit, "%02X%02X%02X%02X", accumulators[0], accumulators[1], accumulators[2],
                accumulators[3]);

  SimReport report = sim_->Report();
  EXPECT_TRUE(report.complete) << "a staged device needs no erase";
  EXPECT_EQ(report.expectedCommit, commit);
  EXPECT_EQ(report.mode, "staged");

  EXPECT_EQ(Ask("+EE" + std::string(commit) + "\r").text, "OK\r\n");
  report = sim_->Report();
  EXPECT_EQ(report.commit, commit);
  EXPECT_TRUE(report.commitMatches);

  EXPECT_EQ(Ask("+EE00000001\r").text, "ERR CHECK\r\n") << "an upload that disagrees is not taken";
  report = sim_->Report();
  EXPECT_EQ(report.commit, "00000001");
  EXPECT_FALSE(report.commitMatches);
}

TEST_F(SimulatorTest, EmptyStagedImageCallsForZeroCommit) {
  SimOptions options = Fast();
  options.staged = true;
  Start(options);
  EXPECT_EQ(Ask("+EE00000000\r").text, "OK\r\n");
  EXPECT_TRUE(sim_->Report().commitMatches);
}

TEST_F(SimulatorTest, EraseAndSlowAnswersWaitOnTheClock) {
  struct Case {
    const char* name;
    std::uint32_t eraseMs;
    const char* fault;
    std::string wire;
    std::uint64_t waitedMs;
    std::uint32_t writeLatencyMs = 0;
  };
  const std::string write = WireWrite(4, GroupData(4, 4));
  const Case cases[] = {
      {"erase", 15000, nullptr, "+BE\r", 15000},
      {"slow version", 0, "slow=4000@v", "+v\r", 4000},
      {"slow everything, erase too", 3000, "slow=700", "+BE\r", 3700},
      {"slow other command", 0, "slow=4000@un", "+v\r", 0},
      {"write latency", 0, nullptr, write, 30, 30},
      {"write latency and a slow write", 0, "slow=500@W", write, 530, 30},
      {"write latency is not an erase", 0, nullptr, "+BE\r", 0, 30},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::FakeClock clock;
    SimOptions options = FastBootloader();
    options.clock = &clock;
    options.eraseMs = c.eraseMs;
    options.writeLatencyMs = c.writeLatencyMs;
    if (c.fault != nullptr) {
      Fault fault;
      std::string error;
      ASSERT_TRUE(ParseFault(c.fault, fault, error)) << error;
      options.faults.push_back(fault);
    }
    Start(options);
    const auto before = clock.NowMs();
    const Reply reply = Ask(c.wire);
    EXPECT_TRUE(simtest::EndsWith(reply.text, "OK\r\n")) << reply.text;
    EXPECT_LT(reply.ms, 1000) << "the wait must cost no real time";
    EXPECT_GE(clock.NowMs() - before, c.waitedMs);
    EXPECT_LT(clock.NowMs() - before, c.waitedMs + 20);
    sim_->Stop();  // before the clock it waits on goes away
  }
}

TEST_F(SimulatorTest, StopCutsAnEraseShort) {
  SimOptions options = FastBootloader();
  options.eraseMs = 60000;
  Start(options);
  wire_->Send("+BE\r");
  ASSERT_TRUE(sim_->WaitUntil([](const SimReport& r) { return !r.commands.empty(); }, 2000));
  const auto start = std::chrono::steady_clock::now();
  sim_->Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_FALSE(sim_->Report().eraseSeen);
}

bool LooksLikeGarbage(const std::string& text) {
  std::string lower;
  for (char c : text) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return !text.empty() && lower.find("ok") == std::string::npos && lower.find("ver") == std::string::npos;
}

TEST_F(SimulatorTest, FaultsSpoilTheChosenAnswers) {
  enum class Expect { Exactly, Nothing, Garbage };
  struct Step {
    std::string wire;
    Expect expect;
    std::string answer;
  };
  struct Case {
    const char* name;
    std::vector<std::string> faults;
    std::vector<Step> steps;
    std::uint32_t applied;
  };
  const std::string w4 = WireWrite(4, GroupData(4, 4));
  const std::string w8 = WireWrite(8, GroupData(8, 4));
  const std::string w0 = WireWrite(0, GroupData(0, 4));
  const Case cases[] = {
      {"silence for all", {"silence"}, {{"+BE\r", Expect::Nothing, ""}, {"+un\r", Expect::Nothing, ""}}, 2},
      {"silence for one command",
       {"silence@un"},
       {{"+v\r", Expect::Exactly, "BootLdr v1.0\r\nOK\r\n"}, {"+un\r", Expect::Nothing, ""}},
       1},
      {"silence for the second write only",
       {"silence@W#2"},
       {{w4, Expect::Exactly, "004\r\nOK\r\n"},
        {w8, Expect::Nothing, ""},
        {w8, Expect::Exactly, "008\r\nOK\r\n"}},
       1},
      {"garbage", {"garbage@v"}, {{"+v\r", Expect::Garbage, ""}, {"+BE\r", Expect::Exactly, "OK\r\n"}}, 1},
      {"garbage for every write", {"garbage@W"}, {{w4, Expect::Garbage, ""}, {w8, Expect::Garbage, ""}}, 2},
      {"no OK", {"no-ok@W"}, {{"+BE\r", Expect::Exactly, "OK\r\n"}, {w4, Expect::Exactly, "004\r\n"}}, 1},
      {"no OK on the version", {"no-ok@v"}, {{"+v\r", Expect::Exactly, "BootLdr v1.0\r\n"}}, 1},
      {"wrong echo for the second write",
       {"wrong-echo#2"},
       {{"+BE\r", Expect::Exactly, "OK\r\n"},
        {w4, Expect::Exactly, "004\r\nOK\r\n"},
        {w8, Expect::Exactly, "00C\r\nOK\r\n"},
        {w0, Expect::Exactly, "000\r\nOK\r\n"}},
       1},
      {"wrong echo without OK", {"wrong-echo", "no-ok@W"}, {{w0, Expect::Exactly, "004\r\n"}}, 2},
      {"lower-case echo",
       {"lower-echo"},
       {{WireWrite(0xC, GroupData(12, 4)), Expect::Exactly, "00c\r\nOK\r\n"},
        {"+v\r", Expect::Exactly, "BootLdr v1.0\r\nOK\r\n"}},
       1},
      {"no carrier for the second write",
       {"no-carrier@W#2"},
       {{w4, Expect::Exactly, "004\r\nOK\r\n"},
        {w8, Expect::Exactly, "NO CARRIER\r\n"},
        {w0, Expect::Exactly, "000\r\nOK\r\n"}},
       1},
      {"no carrier for all",
       {"no-carrier"},
       {{"+v\r", Expect::Exactly, "NO CARRIER\r\n"}, {"+BE\r", Expect::Exactly, "NO CARRIER\r\n"}},
       2},
      {"no carrier after the echo",
       {"echo-no-carrier@W"},
       {{w4, Expect::Exactly, "004\r\nNO CARRIER\r\nOK\r\n"}, {"+BE\r", Expect::Exactly, "OK\r\n"}},
       1},
      {"no carrier after an answer without OK",
       {"echo-no-carrier@BE", "no-ok@BE"},
       {{"+BE\r", Expect::Exactly, "NO CARRIER\r\n"}},
       2},
      {"the second write of one block",
       {"silence@W0008#2"},
       {{w8, Expect::Exactly, "008\r\nOK\r\n"},
        {w4, Expect::Exactly, "004\r\nOK\r\n"},
        {w8, Expect::Nothing, ""},
        {w8, Expect::Exactly, "008\r\nOK\r\n"}},
       1},
      {"a split answer arrives whole", {"split=30/-1@W"}, {{w4, Expect::Exactly, "004\r\nOK\r\n"}}, 1},
      {"no carrier after the echo of the second write",
       {"echo-no-carrier@W#2"},
       {{w4, Expect::Exactly, "004\r\nOK\r\n"},
        {w8, Expect::Exactly, "008\r\nNO CARRIER\r\nOK\r\n"},
        {w0, Expect::Exactly, "000\r\nOK\r\n"}},
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimOptions options = FastBootloader();
    for (const std::string& faultText : c.faults) {
      Fault fault;
      std::string error;
      ASSERT_TRUE(ParseFault(faultText, fault, error)) << error;
      options.faults.push_back(fault);
    }
    Start(options);
    for (const Step& step : c.steps) {
      SCOPED_TRACE(step.wire.substr(0, 8));
      const Reply reply = Ask(step.wire);
      EXPECT_FALSE(reply.hungUp);
      switch (step.expect) {
        case Expect::Exactly:
          EXPECT_EQ(reply.text, step.answer);
          break;
        case Expect::Nothing:
          EXPECT_EQ(reply.text, "");
          break;
        case Expect::Garbage:
          EXPECT_TRUE(LooksLikeGarbage(reply.text)) << reply.text;
          break;
      }
    }
    const SimReport report = sim_->Report();
    EXPECT_EQ(report.faultsApplied, c.applied);
    EXPECT_EQ(report.commands.size(), c.steps.size()) << "a spoilt answer still records its command";
  }
}

// A lost command is recorded but changes nothing on the device; the faults
// on it still decide what the tool hears.
TEST_F(SimulatorTest, LostCommandsAreRecordedButNotCarriedOut) {
  struct Case {
    const char* name;
    SimOptions options;
    std::vector<std::string> faults;
    std::vector<std::string> wires;
    std::vector<std::string> answers;
    std::string flash;
    std::string mode;
  };
  SimOptions oldFirmware = Fast();
  oldFirmware.initialFlash = {{"0000", simtest::RecordData(7)}};
  const std::string w0 = WireWrite(0, GroupData(0, 4));
  const Case cases[] = {
      {"a lost BL leaves the firmware running, and BE is refused",
       Fast(),
       {"silence!@BL"},
       {"+BL\r", "+BE\r"},
       {"", "ERROR\r\n"},
       "",
       "firmware"},
      {"a lost erase keeps the old data",
       [] {
         SimOptions o = Fast();
         o.startInBootloader = true;
         o.initialFlash = {{"0000", simtest::RecordData(7)}};
         return o;
       }(),
       {"silence!@BE#1"},
       {"+BE\r"},
       {""},
       FlashLine(0, simtest::RecordData(7)),
       "bootloader"},
      {"a lost write stores nothing; the retry does",
       FastBootloader(),
       {"wrong-echo!@W0000#1"},
       {w0, w0},
       {"004\r\nOK\r\n", "000\r\nOK\r\n"},
       ExpectedFlash(ImageLines(4)),
       "bootloader"},
      {"a lost write answered with NO CARRIER",
       FastBootloader(),
       {"no-carrier!@W"},
       {w0},
       {"NO CARRIER\r\n"},
       "",
       "bootloader"},
      {"a device written before starts with its flash",
       oldFirmware,
       {},
       {"+v\r"},
       {kVersionAnswer},
       FlashLine(0, simtest::RecordData(7)),
       "firmware"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimOptions options = c.options;
    for (const std::string& text : c.faults) {
      Fault fault;
      std::string error;
      ASSERT_TRUE(ParseFault(text, fault, error)) << error;
      options.faults.push_back(fault);
    }
    Start(options);
    std::vector<std::string> answers;
    for (const std::string& wire : c.wires) answers.push_back(Ask(wire).text);
    const SimReport report = sim_->Report();
    EXPECT_EQ(answers.front(), c.answers.front());
    EXPECT_EQ(answers, c.answers);
    EXPECT_EQ(report.commands.size(), c.wires.size());
    EXPECT_EQ(report.FlashRecords(), c.flash);
    EXPECT_EQ(report.mode, c.mode);
    if (!c.faults.empty()) {
      ASSERT_FALSE(report.faultLog.empty());
      EXPECT_EQ(report.faultLog.front().first, 0u);
      EXPECT_EQ(report.faultLog.front().second.back(), '!');
    }
  }
}

// The two pieces of a split answer: the first at once, the rest after the
// pause, whatever the tool reads in between.
TEST_F(SimulatorTest, SplitAnswerComesInTwoPiecesWithAPauseBetween) {
  struct Case {
    const char* fault;
    std::string first;
    std::string rest;
  };
  const Case cases[] = {
      {"split=500/-1@W", "004\r\nOK\r", "\n"},
      {"split=500/5@W", "004\r\n", "OK\r\n"},
      {"split=500@W", "004\r", "\nOK\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    SimOptions options = FastBootloader();
    Fault fault;
    std::string error;
    ASSERT_TRUE(ParseFault(c.fault, fault, error)) << error;
    options.faults.push_back(fault);
    Start(options);
    // The pause is real time here: the first piece stands alone for a while.
    EXPECT_EQ(Ask(WireWrite(4, GroupData(4, 4)), 100).text, c.first);
    EXPECT_EQ(wire_->Read(700).text, c.rest);
  }
}

// Commands that wait behind a slow answer are handled, and in the report,
// by the time the device is idle.
TEST_F(SimulatorTest, IdleOnceEveryCommandSentIsHandled) {
  SimOptions options = FastBootloader();
  Fault slow;
  std::string error;
  ASSERT_TRUE(ParseFault("slow=400@BE", slow, error)) << error;
  options.faults.push_back(slow);
  Start(options);
  EXPECT_TRUE(sim_->WaitIdle(1000)) << "nothing sent yet";
  wire_->Send("+BE\r");
  wire_->Send(WireWrite(4, GroupData(4, 4)));
  ASSERT_TRUE(sim_->WaitUntil([](const SimReport& r) { return !r.commands.empty(); }, 2000));
  EXPECT_FALSE(sim_->WaitIdle(50)) << "the erase's answer is still held back";
  ASSERT_TRUE(sim_->WaitIdle(5000));
  EXPECT_EQ(sim_->Report().commands, (std::vector<std::string>{"BE", "W0004"}));
}

TEST_F(SimulatorTest, SpoiltAnswersStillStoreTheData) {
  SimOptions options = FastBootloader();
  options.faults = {Fault{FaultKind::Silence, "W", 0, 0}};
  Start(options);
  Ask("+BE\r");
  Ask(WireWrite(0, GroupData(0, 4)));
  EXPECT_TRUE(sim_->Report().complete);
}

TEST_F(SimulatorTest, HangUpClosesTheLine) {
  struct Case {
    const char* name;
    std::vector<Fault> faults;
    std::string lastAnswer;
  };
  const Case cases[] = {
      {"after answering the second command", {Fault{FaultKind::HangUp, "", 2, 0}}, "UN: QTT1\r\nOK\r\n"},
      {"without answering",
       {Fault{FaultKind::HangUp, "un", 1, 0}, Fault{FaultKind::Silence, "un", 1, 0}},
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimOptions options = Fast();
    options.faults = c.faults;
    Start(options);
    EXPECT_EQ(Ask("+v\r").text, kVersionAnswer);
    const Reply reply = Ask("+un\r", 1000);
    EXPECT_EQ(reply.text, c.lastAnswer);
    EXPECT_TRUE(sim_->WaitFinished(2000));
    if (!reply.hungUp) {
      EXPECT_TRUE(wire_->Read(1000).hungUp);
    }
    const SimReport report = sim_->Report();
    EXPECT_TRUE(report.hungUp);
    EXPECT_EQ(report.commands, (std::vector<std::string>{"v", "un"}));
  }
}

TEST_F(SimulatorTest, ExitAfterLastWaitsForAnUnspoiltFirstGroup) {
  SimOptions options = FastBootloader();
  options.exitAfterLast = true;
  options.faults = {Fault{FaultKind::WrongEcho, "W", 2, 0}};
  Start(options);
  Ask("+BE\r");
  EXPECT_EQ(Ask(WireWrite(4, GroupData(4, 4))).text, "004\r\nOK\r\n");
  // Block 0000 with a spoilt echo: the tool will retry it, so keep serving.
  EXPECT_EQ(Ask(WireWrite(0, GroupData(0, 4))).text, "004\r\nOK\r\n");
  EXPECT_FALSE(sim_->Finished());
  const Reply last = Ask(WireWrite(0, GroupData(0, 4)));
  EXPECT_EQ(last.text, "000\r\nOK\r\n") << "the answer must reach the tool before the line closes";
  ASSERT_TRUE(sim_->WaitFinished(3000));
  EXPECT_TRUE(wire_->Read(1000).hungUp);
  const SimReport report = sim_->Report();
  EXPECT_TRUE(report.exitedAfterLast);
  EXPECT_FALSE(report.hungUp);
  EXPECT_TRUE(report.complete);
}

TEST_F(SimulatorTest, ExitAfterLastInStagedModeFollowsTheCommit) {
  SimOptions options = Fast();
  options.staged = true;
  options.exitAfterLast = true;
  Start(options);
  const std::string data = GroupData(0, 4);
  EXPECT_EQ(Ask(WireWrite(0, data)).text, "0000\r\nOK\r\n");
  EXPECT_FALSE(sim_->Finished());
  EXPECT_EQ(Ask("+EE00000000\r").text, "ERR CHECK\r\n");
  EXPECT_FALSE(sim_->Finished()) << "a refused commit will be tried again";
  char commit[16];
  std::snprintf(commit, sizeof commit, "+EE%02X000000\r", simtest::CheckByte(data));
  EXPECT_EQ(Ask(commit).text, "OK\r\n");
  EXPECT_TRUE(sim_->WaitFinished(3000));
}

TEST_F(SimulatorTest, ReportAsJson) {
  Start(Fast());
  Ask("+v\r");
  Ask("+BL\r");
  Ask("+BE\r");
  Ask(WireWrite(4, GroupData(4, 4)));
  Ask(WireWrite(8, GroupData(8, 4), 0x10));
  Ask(std::string("+Q\"\\\x01\xC0\r"));
  Ask(WireWrite(0, GroupData(0, 4)));
  const std::string json = sim_->Report().ToJson();
  for (const char* part : {
           "\"mode\": \"bootloader\"",
           "\"commands\": [\"v\", \"BL\", \"BE\", \"W0004\", \"W0008\", \"Q\\\"\\\\\\u0001\xD0\x90\", "
           "\"W0000\"]",
           "\"writes\": [\"0004\", \"0000\"]",
           "\"blocks\": [\"0000\", \"0004\"]",
           "\"records\": 8",
           "\"eraseSeen\": true",
           "\"complete\": true",
           "\"lastBlock\": \"0000\"",
           "\"checkErrors\": [\"0008\"]",
           "\"flash\": {\"0000\": \"",
           "\"hungUp\": false",
       }) {
    EXPECT_NE(json.find(part), std::string::npos) << part << "\n" << json;
  }
  EXPECT_EQ(json.front(), '{');
  EXPECT_EQ(json.substr(json.size() - 2), "}\n");
}

// Long enough that "at once" and "at the wire rate" stay apart by far more
// than a busy machine's delays: an unpaced answer is allowed half the time
// the line would take.
TEST_F(SimulatorTest, PacesAnswersAtTheWireRate) {
  // Paced, a 1000-byte answer takes at least the 520 ms it needs at 19200
  // bit/s, and not ten times that. Unpaced, a 10000-byte answer (5.2 s on
  // the wire) comes in well under half its wire time however busy the
  // machine. Each is a version line of x's, CR LF, "OK", CR LF; a pause of
  // a starved device thread inside the answer is waited out, not taken for
  // its end.
  struct Case {
    bool unpaced;
    std::size_t bytes;
    long long minMs;
    long long maxMs;
  };
  for (const Case c : {Case{false, 1000, 520, 5200}, Case{true, 10000, 0, 2600}}) {
    SCOPED_TRACE(c.unpaced ? "unpaced" : "paced");
    SimOptions options = Fast();
    options.unpaced = c.unpaced;
    options.version = "VER 14.002.020 " + std::string(c.bytes - 21, 'x');
    Start(options);
    const Reply reply = Ask("+v\r", 3000);
    ASSERT_EQ(reply.text.size(), c.bytes);
    EXPECT_GE(reply.ms, c.minMs);
    EXPECT_LE(reply.ms, c.maxMs);
  }
}

// A device sees the end of a command only once all of it has crossed the
// line: 1000 bytes take 520 ms at 19200 bit/s before any answer can start.
// Unpaced, it is allowed half of that.
TEST_F(SimulatorTest, TakesCommandsAtTheWireRate) {
  const std::string command = "+" + std::string(998, 'Z') + "\r";
  struct Case {
    bool unpaced;
    long long minMs;
    long long maxMs;
  };
  for (const Case c : {Case{false, 520, 2600}, Case{true, 0, 260}}) {
    SCOPED_TRACE(c.unpaced ? "unpaced" : "paced");
    SimOptions options = Fast();
    options.unpaced = c.unpaced;
    Start(options);
    // Silent while the command crosses the line.
    const Reply reply = Ask(command, 3000);
    EXPECT_EQ(reply.text, "ERROR\r\n");
    EXPECT_GE(reply.ms, c.minMs);
    EXPECT_LE(reply.ms, c.maxMs);
  }
}

TEST_F(SimulatorTest, ToolCanTakeThePortExclusively) {
  Start(Fast());
  // What the tool does on open: exclusive mode and an advisory lock. The
  // descriptor the simulator keeps must stand in the way of neither.
  ASSERT_EQ(::ioctl(wire_->Fd(), TIOCEXCL), 0);
  ASSERT_EQ(::flock(wire_->Fd(), LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(Ask("+v\r").text, kVersionAnswer);
  const int second = ::open(sim_->SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (second >= 0) {
    // Privileged users pass the exclusive mode; the lock still stops them.
    EXPECT_NE(::flock(second, LOCK_EX | LOCK_NB), 0);
    ::close(second);
  }
}

TEST_F(SimulatorTest, SlaveIsRawAndSurvivesTheToolClosingIt) {
  Start(Fast());
  termios settings{};
  ASSERT_EQ(::tcgetattr(wire_->Fd(), &settings), 0);
  EXPECT_EQ(settings.c_lflag & (ICANON | ECHO), 0u);
  EXPECT_EQ(settings.c_oflag & OPOST, 0u);
  EXPECT_EQ(settings.c_iflag & ICRNL, 0u);
  wire_ = std::make_unique<Wire>(sim_->SlavePath());
  EXPECT_EQ(Ask("+v\r").text, kVersionAnswer);
}

TEST_F(SimulatorTest, LinkPointsAtTheSlaveWhileRunning) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("tarvik-sim-link-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const fs::path link = dir / "ttyV0";
  struct Case {
    const char* name;
    std::function<void()> before;
  };
  const Case cases[] = {
      {"fresh name", [] {}},
      {"stale link of an earlier run", [&] { fs::create_symlink("/dev/pts/nonexistent", link); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.before();
    SimOptions options = Fast();
    options.linkPath = link.string();
    Start(options);
    EXPECT_EQ(fs::read_symlink(link).string(), sim_->SlavePath());
    Wire viaLink(link.string());
    EXPECT_GE(viaLink.Fd(), 0);
    EXPECT_EQ(viaLink.Exchange("+v\r").text, kVersionAnswer);
    sim_->Stop();
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
  }

  // A file that is not a link is never replaced.
  { std::ofstream(link.string()) << "keep"; }
  SimOptions options = Fast();
  options.linkPath = link.string();
  DeviceSimulator blocked(options);
  EXPECT_FALSE(blocked.Start());
  EXPECT_NE(blocked.Error().find(link.string()), std::string::npos) << blocked.Error();
  EXPECT_TRUE(fs::is_regular_file(link));
  fs::remove_all(dir);
}

}  // namespace
}  // namespace tarvik::sim
