// The reflash worker against a simulated device on a pseudo-terminal: what
// the device receives, what its flash holds afterwards, and what the window
// is shown.
#include "reflash/updatethread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/uisync.h"
#include "device/connection.h"
#include "device/controller.h"
#include "device/devicefixture.h"
#include "firmware/shippedcatalogue.h"
#include "reflash/durations.h"
#include "reflash/recordingview.h"
#include "serial/comportworker.h"
#include "serial/pacedclock.h"
#include "simulator/devicesimulator.h"
#include "support/lineslog.h"
#include "support/quickpauseclock.h"
#include "support/recordingclock.h"
#include "support/scaledclock.h"
#include "support/serveuntil.h"
#include "support/sharedtimeline.h"
#include "support/usertexts.h"
#include "tools/simwire.h"

namespace tarvik {
namespace {

using simtest::RecordData;
namespace text = test::text;

// ---------------------------------------------------------------------------
// Images, commands and devices

// An image as the catalogue holds it: the header, then 43-character records.
std::vector<std::string> Image(int records) {
  std::vector<std::string> lines = {"VER 14.002.028"};
  for (int i = 0; i < records; ++i) {
    char address[5];
    std::snprintf(address, sizeof address, "%04X", (i * 16) & 0xFFFF);
    lines.push_back(std::string(":10") + address + "00" + RecordData(i) + "3C");
  }
  return lines;
}

std::string W(int block) {
  char text[6];
  std::snprintf(text, sizeof text, "W%04X", block);
  return text;
}

// The commit a staged device expects for an Image(records), worked out from
// the records themselves: group k folds into accumulator (k mod 8) div 2.
std::string CommitFor(int records) {
  int accumulators[4] = {0, 0, 0, 0};
  for (int group = 0; group * 4 < records; ++group) {
    const int count = std::min(4, records - group * 4);
    accumulators[(group % 8) / 2] ^= simtest::CheckByte(simtest::GroupData(group * 4, count));
  }
  char text[11];
  std::snprintf(text, sizeof text, "EE%02X%02X%02X%02X", accumulators[0], accumulators[1], accumulators[2],
                accumulators[3]);
  return text;
}

sim::Fault FaultOf(const std::string& text) {
  sim::Fault fault;
  std::string error;
  if (!sim::ParseFault(text, fault, error)) throw std::runtime_error(error);
  return fault;
}

// A device in its firmware that answers at once; staged: a type-10 device.
sim::SimOptions Device(std::vector<std::string> faults = {}, bool staged = false) {
  sim::SimOptions options;
  options.unpaced = true;
  options.eraseMs = 0;
  options.staged = staged;
  for (const std::string& fault : faults) options.faults.push_back(FaultOf(fault));
  return options;
}

sim::SimOptions Staged(std::vector<std::string> faults = {}) { return Device(std::move(faults), true); }

// A device whose flash holds an earlier firmware: only an erase lets a new
// image be programmed over it.
sim::SimOptions WithOldFirmware(sim::SimOptions options) {
  for (int block = 0; block < 16; ++block) options.initialFlash[sim::Hex4(block)] = RecordData(100 + block);
  return options;
}

// The commands as the traffic log shows them.
std::vector<std::string> SentCommands(const std::vector<std::string>& logLines) {
  std::vector<std::string> sent;
  for (const std::string& line : logLines) {
    if (line.rfind("#com<-: ", 0) == 0) sent.push_back(line.substr(8));
  }
  return sent;
}

// A simulated device and the tool's port worker and controller on its line.
class DeviceLine {
 public:
  DeviceLine(sim::SimOptions options, Clock& clock) : sim_(std::move(options)) {
    if (!sim_.Start()) throw std::runtime_error("simulator: " + sim_.Error());
    worker_ = std::make_unique<TComPortWorker>(test::PortName(sim_.SlavePath()), false, &log_, clock);
    worker_->Open();
    controller_ = std::make_unique<TController>(worker_.get(), events_);
  }
  ~DeviceLine() {
    controller_.reset();
    worker_.reset();
    sim_.Stop();
  }
  DeviceLine(const DeviceLine&) = delete;
  DeviceLine& operator=(const DeviceLine&) = delete;

  sim::DeviceSimulator& Sim() { return sim_; }
  TController& Controller() { return *controller_; }
  test::LinesLog& Log() { return log_; }

 private:
  sim::DeviceSimulator sim_;
  test::LinesLog log_;
  test::RecordingEvents events_;
  std::unique_ptr<TComPortWorker> worker_;
  std::unique_ptr<TController> controller_;
};

// ---------------------------------------------------------------------------
// One reflash

struct Reflash {
  // The controller's version line when the reflash starts.
  std::string version = "VER 14.002.020";
  std::int32_t type = 2;
  bool withController = true;
  // The exit button: Stop once the device's report satisfies this.
  std::function<bool(const sim::SimReport&)> stopWhen = {};
  bool stopBeforeStart = false;
  // The worker's own clock for its pauses, apart from the port's; none: the
  // port's.
  Clock* workerClock = nullptr;
  // The tool and the device on one timeline (SharedTimeline) rather than
  // each on a paced clock of its own: where the case turns on when an answer
  // comes against a time-out, a busy machine must not shift one against the
  // other.
  bool oneTimeline = false;
};

struct Result {
  ReflashOutcome outcome = ReflashOutcome::NotRun;
  sim::SimReport report;
  test::RecordingView view;
  std::vector<std::string> sent;
  std::vector<std::string> logLines;
  std::vector<std::string> commandsAtStop;
};

// Runs a whole reflash with the test thread as the UI thread, which serves
// the worker's steps while it waits for it.
Result Flash(sim::SimOptions options, const std::vector<std::string>& lines, const Reflash& setup,
             Clock& clock) {
  // Erase and write latency go by a paced clock of the device's own unless
  // the case gives one.
  test::PacedClock deviceClock;
  test::SharedTimeline timeline;
  Clock& toolClock = setup.oneTimeline ? timeline.Tool() : clock;
  if (setup.oneTimeline) options.clock = &timeline.Device();
  if (options.clock == nullptr) options.clock = &deviceClock;
  UiStepQueue sync;
  DeviceLine line(std::move(options), toolClock);
  if (setup.oneTimeline) timeline.WatchDevice([&line] { return line.Sim().Working(); });
  Result result;
  Clock& workerClock = setup.workerClock != nullptr ? *setup.workerClock : toolClock;
  TUpdateThread task(sync, workerClock);
  DeviceIdentity device = DeviceIdentity::FromVersionLine(setup.version);
  device.ResolvedType = setup.type;
  task.SetDevice(device);
  task.SetImageLines(lines);
  if (setup.withController) task.SetController(&line.Controller());
  task.SetStartTime(workerClock.WallNow());
  task.SetView(&result.view);
  if (setup.stopBeforeStart) task.Stop();
  task.Resume();
  std::thread exitButton;
  if (setup.stopWhen) {
    exitButton = std::thread([&] {
      line.Sim().WaitUntil(setup.stopWhen, 20000);
      task.Stop();
      result.commandsAtStop = line.Sim().Report().commands;
    });
  }
  task.Thread().WaitFor();
  if (exitButton.joinable()) exitButton.join();
  // Bytes still on their way reach the device and its report.
  line.Sim().WaitUntil([](const sim::SimReport&) { return false; }, 30);
  // Nobody waits on the tool's time any more: a device still in a pause is
  // let out, so it can be stopped.
  timeline.Free();
  result.outcome = task.Outcome();
  result.report = line.Sim().Report();
  result.logLines = line.Log().Lines();
  result.sent = SentCommands(result.logLines);
  return result;
}

std::function<bool(const sim::SimReport&)> DeviceSaw(const std::string& command) {
  return [command](const sim::SimReport& r) {
    return std::find(r.commands.begin(), r.commands.end(), command) != r.commands.end();
  };
}

bool Has(const std::vector<std::string>& list, const std::string& item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

std::string Joined(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& item : items) out += (out.empty() ? "" : " ") + item;
  return out;
}

// What every finished reflash must show: success exactly when it got
// through, the failure text otherwise, and never both.
void ExpectShown(const Result& r, bool succeeds) {
  EXPECT_EQ(r.outcome, succeeds ? ReflashOutcome::Succeeded : ReflashOutcome::Failed)
      << ReflashOutcomeName(r.outcome);
  EXPECT_EQ(r.view.successShown, succeeds);
  EXPECT_EQ(r.view.failureShown, !succeeds);
  const std::vector<std::string> milestones = r.view.Milestones();
  ASSERT_FALSE(milestones.empty());
  EXPECT_EQ(milestones.front(), "running");
  EXPECT_EQ(milestones.back(), succeeds ? "success" : "failure");
  EXPECT_EQ(std::count(milestones.begin(), milestones.end(), "success"), succeeds ? 1 : 0);
  EXPECT_EQ(r.view.offUiThread, 0) << "every step runs on the UI thread";
}

// ---------------------------------------------------------------------------
// The write command

TEST(BuildWriteCommand, CarriesTheGroupsDataAndItsCheckByte) {
  const std::vector<std::string> lines = Image(6);
  const WriteGroup full = BuildWriteCommand(lines, 1);
  const std::string fullData = simtest::GroupData(0, 4);
  char check[3];
  std::snprintf(check, sizeof check, "%02X", simtest::CheckByte(fullData));
  EXPECT_EQ(full.command, "W0000:" + fullData + ":" + check);
  EXPECT_EQ(full.checkByte, simtest::CheckByte(fullData));

  // A short last group is not padded; its check byte covers its own bytes.
  const WriteGroup last = BuildWriteCommand(lines, 5);
  const std::string lastData = simtest::GroupData(4, 2);
  std::snprintf(check, sizeof check, "%02X", simtest::CheckByte(lastData));
  EXPECT_EQ(last.command, "W0004:" + lastData + ":" + check);

  // The check byte in upper-case hex, the data as the image holds it.
  const std::vector<std::string> lettered = {"VER 14.002.028", ":10000000" + std::string(30, '0') + "ab3C"};
  EXPECT_EQ(BuildWriteCommand(lettered, 1).command, "W0000:" + std::string(30, '0') + "ab:AB");

  const std::vector<WriteGroup> groups = BuildWriteCommands(Image(10));
  ASSERT_EQ(groups.size(), 3u);
  EXPECT_EQ(groups[0].command.substr(0, 6), "W0000:");
  EXPECT_EQ(groups[1].command.substr(0, 6), "W0004:");
  EXPECT_EQ(groups[2].command.substr(0, 6), "W0008:");
  EXPECT_EQ(groups[2].command.size(), 6 + 64 + 3u);
}

TEST(BuildWriteCommand, RefusesDataItCannotSendAsItStands) {
  auto spoilt = [](std::size_t line, std::string record) {
    std::vector<std::string> lines = Image(8);
    lines[line] = std::move(record);
    return lines;
  };
  const std::string good = Image(1)[1];
  struct Case {
    const char* name;
    std::vector<std::string> lines;
    const char* message;
  };
  const Case cases[] = {
      {"header only", Image(0), "no record"},
      {"no header either", {}, "no record"},
      {"a data digit that is not hex", spoilt(6, good.substr(0, 20) + "G" + good.substr(21)),
       "image line 7: the data field"},
      {"a record two digits short", spoilt(2, good.substr(0, 9) + good.substr(11)), "image line 3"},
      {"a record two digits long", spoilt(8, good.substr(0, 9) + "00" + good.substr(9)), "image line 9"},
      {"an empty line", spoilt(4, ""), "image line 5"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      BuildWriteCommands(c.lines);
      ADD_FAILURE() << "accepted";
    } catch (const EImageData& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
  EXPECT_THROW(BuildWriteCommand(Image(4), 5), EImageData);
  EXPECT_THROW(BuildWriteCommand(Image(4), 0), EImageData);

  // Block numbers have four hex digits; an image that runs past FFFF cannot
  // be addressed.
  std::vector<std::string> huge(0x10002, good);
  EXPECT_NO_THROW(BuildWriteCommand(huge, 0xFFFD));
  EXPECT_THROW(BuildWriteCommand(huge, 0x10001), EImageData);
}

TEST(ReplyChecks, EchoLinkAndCommit) {
  struct EchoCase {
    const char* reply;
    const char* echo;
    bool matches;
  };
  for (const EchoCase& c : {EchoCase{"004\r\nOK\r\n", "004", true}, EchoCase{" \r\n004xyz", "004", true},
                            EchoCase{"0004\r\nOK", "004", false}, EchoCase{"0004\r\nOK", "0004", true},
                            EchoCase{"004\r\nOK", "0004", false}, EchoCase{"00c\r\nOK", "00C", false},
                            EchoCase{"OK\r\n", "004", false}, EchoCase{"", "004", false}}) {
    SCOPED_TRACE(c.reply);
    EXPECT_EQ(EchoMatches(c.reply, c.echo), c.matches);
  }
  struct LinkCase {
    const char* reply;
    bool alive;
  };
  for (const LinkCase& c :
       {LinkCase{"", true}, LinkCase{"0004\r\nOK\r\n", true}, LinkCase{"NO CARRIER\r\n", false},
        LinkCase{"x DISCONNECT", false}, LinkCase{"BUSY", false}, LinkCase{"no carrier", true}}) {
    SCOPED_TRACE(c.reply);
    EXPECT_EQ(LinkAlive(c.reply), c.alive);
  }
  EXPECT_EQ(CommitCommand({0x00, 0x0A, 0xB0, 0xFF}), "EE000AB0FF");
  for (const auto& [lines, total] :
       std::vector<std::pair<std::size_t, std::int32_t>>{{0, 13}, {1, 13}, {5, 14}, {6, 14}, {1569, 405}}) {
    EXPECT_EQ(ReflashProgressTotal(lines), total) << lines;
  }
}

// ---------------------------------------------------------------------------
// The procedures

struct ProcedureCase {
  const char* name;
  int records;
  sim::SimOptions device;
  Reflash setup;
  std::vector<std::string> commands;  // what the device received, in order
  bool succeeds;
  std::function<void(std::vector<std::string>&)> spoil = {};
};

void RunProcedureTable(const std::vector<ProcedureCase>& cases) {
  for (const ProcedureCase& c : cases) {
    SCOPED_TRACE(c.name);
    test::PacedClock clock;
    std::vector<std::string> lines = Image(c.records);
    if (c.spoil) c.spoil(lines);
    const Result r = Flash(c.device, lines, c.setup, clock);
    EXPECT_EQ(Joined(r.report.commands), Joined(c.commands));
    ExpectShown(r, c.succeeds);
    if (c.succeeds) {
      EXPECT_EQ(r.report.FlashRecords(), sim::ExpectedFlash(lines)) << "the flash must hold the image";
      if (c.device.staged) {
        EXPECT_TRUE(r.report.commitMatches);
      }
    }
    EXPECT_TRUE(r.report.checkErrors.empty());
    EXPECT_TRUE(r.report.malformed.empty());
    // The traffic log: only "BL" in the bootloader, every command staged
    // (a line that hangs up may swallow the last one logged).
    if (c.device.staged && !r.report.hungUp) {
      EXPECT_EQ(r.sent.size(), r.report.commands.size());
    } else if (!c.device.staged) {
      EXPECT_EQ(r.sent,
                Has(c.commands, "BL") ? std::vector<std::string>{"+BL\r"} : std::vector<std::string>{});
    }
  }
}

TEST(UpdateThreadProcedure, WritesTheImageAsTheDeviceExpects) {
  sim::SimOptions inBootloader = Device();
  inBootloader.startInBootloader = true;
  sim::SimOptions fourDigitEcho = Device();
  fourDigitEcho.echoDigits = 4;
  sim::SimOptions threeDigitStaged = Staged();
  threeDigitStaged.echoDigits = 3;
  const Reflash type10{.version = "VER 14.010.001", .type = 10};

  RunProcedureTable({
      {"a header and one group: block 0000 alone", 4, Device(), {}, {"BL", "BE", "W0000"}, true},
      {"records not a multiple of four: a short last group",
       10,
       Device(),
       {},
       {"BL", "BE", "W0004", "W0008", "W0000"},
       true},
      {"found in the bootloader: the erase comes first",
       8,
       inBootloader,
       {.version = "BootLdr v1.0", .type = 0},
       {"BE", "W0004", "W0000"},
       true},
      {"a known model found in the bootloader is still told BL",
       4,
       inBootloader,
       {.version = "VER 14.002.000"},
       {"BL", "BE", "W0000"},
       true},
      {"header only: nothing is sent", 0, Device(), {}, {}, false},
      {"a record that is not hex: nothing is sent",
       12,
       Device(),
       {},
       {},
       false,
       [](std::vector<std::string>& lines) { lines[10][20] = 'x'; }},
      {"no controller: nothing is sent", 4, Device(), {.withController = false}, {}, false},
      {"echo 0004 fails where 004 is due",
       8,
       fourDigitEcho,
       {},
       {"BL", "BE", "W0004", "W0004", "W0004"},
       false},
      {"lower-case echo fails",
       16,
       Device({"lower-echo"}),
       {},
       {"BL", "BE", "W0004", "W0008", "W000C", "W000C", "W000C"},
       false},
      {"NO CARRIER to a write is retried",
       8,
       Device({"no-carrier@W#1"}),
       {},
       {"BL", "BE", "W0004", "W0004", "W0000"},
       true},
      {"staged: block 0000 first, then the commit",
       8,
       Staged(),
       type10,
       {"W0000", "W0004", CommitFor(8)},
       true},
      {"staged: echo 004 fails where 0004 is due",
       8,
       threeDigitStaged,
       type10,
       {"W0000", "W0000", "W0000"},
       false},
      {"staged: lower-case echo fails",
       16,
       Staged({"lower-echo"}),
       type10,
       {"W0000", "W0004", "W0008", "W000C", "W000C", "W000C"},
       false},
      {"staged: NO CARRIER to a write ends it at once",
       8,
       Staged({"no-carrier@W#2"}),
       type10,
       {"W0000", "W0004"},
       false},
      // The echo is right, but the line is lost: nothing of the upload that
      // follows could reach the device.
      {"staged: an echo with NO CARRIER ends it at once",
       12,
       Staged({"echo-no-carrier@W#2"}),
       type10,
       {"W0000", "W0004"},
       false},
      {"an echo with NO CARRIER is an echo in the bootloader",
       8,
       Device({"echo-no-carrier@W#1"}),
       {},
       {"BL", "BE", "W0004", "W0000"},
       true},
      {"staged: NO CARRIER to the commit ends it at once",
       4,
       Staged({"no-carrier@EE"}),
       type10,
       {"W0000", CommitFor(4)},
       false},
      // Sent again, the commit would reach a device that is reprogramming
      // itself.
      {"staged: a commit answered without OK is taken, and sent once",
       4,
       Staged({"garbage@EE"}),
       type10,
       {"W0000", CommitFor(4)},
       true},
      {"staged: header only: nothing is sent", 0, Staged(), type10, {}, false},
  });
}

// Any answer to the commit on a live line passes; one without "OK" is noted
// in the traffic log.
TEST(UpdateThreadProcedure, ACommitAnsweredWithoutOkIsNotedInTheLog) {
  const struct {
    const char* name;
    std::vector<std::string> faults;
    bool noted;
  } cases[] = {
      {"the usual answer", {}, false},
      {"other bytes", {"garbage@EE"}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // The settle waits pass at once; the answer waits take real time.
    test::QuickPauseClock clock;
    const Result r = Flash(Staged(c.faults), Image(4), {.version = "VER 14.010.001", .type = 10}, clock);
    ExpectShown(r, true);
    const std::string note =
        Utf8ToCp1251("Ответ на команду ") + CommitFor(4) + Utf8ToCp1251(" не содержит \"OK\"");
    EXPECT_EQ(std::count(r.logLines.begin(), r.logLines.end(), note), c.noted ? 1 : 0) << Joined(r.logLines);
  }
}

// The accumulators spelled out for nine groups c1 ... c9: c1^c2^c9, c3^c4,
// c5^c6, c7^c8.
TEST(UpdateThreadProcedure, StagedCommitFoldsNineGroups) {
  int c[10];
  for (int group = 1; group <= 9; ++group)
    c[group] = simtest::CheckByte(simtest::GroupData((group - 1) * 4, 4));
  char expected[11];
  std::snprintf(expected, sizeof expected, "EE%02X%02X%02X%02X", c[1] ^ c[2] ^ c[9], c[3] ^ c[4], c[5] ^ c[6],
                c[7] ^ c[8]);
  test::PacedClock clock;
  const std::vector<std::string> lines = Image(36);
  const Result r = Flash(Staged(), lines, {.version = "VER 14.010.001", .type = 10}, clock);
  std::vector<std::string> commands;
  for (int group = 0; group < 9; ++group) commands.push_back(W(group * 4));
  commands.push_back(expected);
  EXPECT_EQ(Joined(r.report.commands), Joined(commands));
  EXPECT_TRUE(r.report.commitMatches);
  ExpectShown(r, true);
  EXPECT_EQ(r.report.FlashRecords(), sim::ExpectedFlash(lines));
}

TEST(UpdateThreadProcedure, WritesAShippedImageByteForByte) {
  const std::vector<std::string>& lines = test::ShippedCatalogue().ImageLines().at(5);  // image 6
  ASSERT_EQ(lines.size(), 913u);
  test::PacedClock clock;
  // Every group answered within its time-out: on one timeline a busy machine
  // cannot make the device's answer late for the tool.
  const Result r = Flash(Device(), lines, {.oneTimeline = true}, clock);
  ExpectShown(r, true);
  EXPECT_EQ(r.report.FlashRecords(), sim::ExpectedFlash(lines));
  // Every group, each tried no more than three times: a kernel slow to
  // pass the command on may still make an answer late for the tool now and
  // then, and the group is then written again.
  std::map<std::string, int> tries;
  for (const std::string& block : r.report.writes) ++tries[block];
  ASSERT_EQ(tries.size(), 228u) << "every group";
  for (const auto& [block, count] : tries) EXPECT_LE(count, 3) << block;
  EXPECT_EQ(r.report.writes.front(), "0004");
  EXPECT_EQ(r.report.writes.back(), "0000");
}

// Bar, stage line and times of a bootloader run of two groups.
TEST(UpdateThreadProcedure, ShowsStagesProgressAndTimes) {
  test::PacedClock clock;
  const Result r = Flash(Device(), Image(8), {}, clock);
  ExpectShown(r, true);
  EXPECT_EQ(r.view.stages,
            (std::vector<std::string>{text::Cp(text::kStageSwitching), text::Cp(text::kStageErasing),
                                      text::Cp(text::kStageLoading), text::Cp(text::kStageLoading)}));
  const std::vector<std::string> milestones = r.view.Milestones();
  ASSERT_GE(milestones.size(), 2u);
  EXPECT_EQ(milestones[milestones.size() - 2], "disable exit");

  // Total 8 div 4 + 13 = 15: "BL", the erase notice, the erase, block 0004,
  // before and after block 0000, ten ticks of the 1.5 s settle (the last
  // ones held at the total), then full.
  std::vector<std::int32_t> parts;
  for (const auto& p : r.view.progress) {
    EXPECT_EQ(p.total, 15);
    parts.push_back(p.parts);
  }
  EXPECT_EQ(parts, (std::vector<std::int32_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 15, 15}));

  // The remaining label shows no estimate before the first write (the
  // erase says nothing of the writes' pace) and ends at nothing left.
  ASSERT_FALSE(r.view.elapsed.empty());
  ASSERT_FALSE(r.view.remaining.empty());
  EXPECT_EQ(r.view.remaining.front(), "");
  EXPECT_EQ(r.view.remaining.back(), Utf8ToCp1251("0 сек "));
}

// The erase may take three attempts of 15 s: the elapsed time is told after
// each, so a front end that shows only what it is told (the command line)
// does not stand still for 45 s.
TEST(UpdateThreadProgress, ElapsedTimeIsToldAfterEachEraseAttempt) {
  test::PacedClock clock;
  const Result r = Flash(Device({"silence@BE"}), Image(8), {.oneTimeline = true}, clock);
  ExpectShown(r, false);
  // The seconds each text tells (FormatDuration's words read back).
  std::map<std::string, std::uint32_t> seconds;
  for (std::uint32_t s = 0; s < 3600; ++s) seconds.emplace(FormatDuration(s), s);
  std::vector<std::uint32_t> told;
  for (const std::string& text : r.view.elapsed) {
    ASSERT_TRUE(seconds.contains(text)) << text;
    if (told.empty() || told.back() != seconds[text]) told.push_back(seconds[text]);
  }
  // Each attempt waits out 15 s (a little more on a busy machine): after
  // each, a time at least that much later than the one before.
  ASSERT_GE(told.size(), 4u);
  for (std::size_t attempt = told.size() - 3; attempt < told.size(); ++attempt) {
    EXPECT_GE(told[attempt], told[attempt - 1] + 15) << attempt;
  }
}

// What a device needs between commands, pinned: 40 ms after every write
// attempt of the bootloader procedure, answered or not, then the 1.5 s
// settle in ticks of 150 ms; no pause after a staged write, then 45.3 s and
// a further 15 s while the device reprograms itself.
TEST(UpdateThreadProcedure, PausesBetweenWritesAndAfterTheLast) {
  struct Case {
    const char* name;
    sim::SimOptions device;
    Reflash setup;
    std::vector<std::string> commands;
    std::string pauses;
    bool succeeds;
  };
  const Case cases[] = {
      {"bootloader: after every attempt, the failed ones too",
       Device({"wrong-echo#1", "silence@W#2"}),
       {},
       {"BL", "BE", "W0004", "W0004", "W0004", "W0000"},
       "40 x4, 150 x10, 1",
       true},
      {"bootloader: a group that fails",
       Device({"wrong-echo"}),
       {},
       {"BL", "BE", "W0004", "W0004", "W0004"},
       "40 x3",
       false},
      {"staged: none after a write, a failed one neither",
       Staged({"wrong-echo#1"}),
       {.version = "VER 14.010.001", .type = 10},
       {"W0000", "W0000", "W0004", CommitFor(8)},
       "150 x302, 1, 50 x300",
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::PacedClock clock;
    test::RecordingClock workerClock;
    Reflash setup = c.setup;
    setup.workerClock = &workerClock;
    const Result r = Flash(c.device, Image(8), setup, clock);
    EXPECT_EQ(Joined(r.report.commands), Joined(c.commands));
    ExpectShown(r, c.succeeds);
    EXPECT_EQ(workerClock.Pauses(), c.pauses);
  }
}

TEST(UpdateThreadProcedure, StagedBarIsFullEarlyInTheLongWait) {
  test::PacedClock clock;
  const std::uint64_t start = clock.NowMs();
  const Result r = Flash(Staged(), Image(36), {.version = "VER 14.010.001", .type = 10}, clock);
  ExpectShown(r, true);
  // 45.3 s and 15 s after the commit.
  EXPECT_GE(clock.NowMs() - start, 60300u);
  const auto full = std::find_if(r.view.progress.begin(), r.view.progress.end(),
                                 [](const test::RecordingView::Progress& p) { return p.parts == p.total; });
  ASSERT_NE(full, r.view.progress.end());
  EXPECT_EQ(full->total, 22);
  // One part before the groups, nine groups, then a tick each 150 ms.
  EXPECT_LT(full - r.view.progress.begin(), 30);
  EXPECT_GT(r.view.progress.size(), 300u);
  EXPECT_EQ(r.view.stages.back(), text::Cp(text::kStageReflashing));
}

// ---------------------------------------------------------------------------
// Faults of the device or the line

TEST(UpdateThreadFaults, EndInFailureWithNothingSentAfterIt) {
  // Each case's command list ends with the last command the device saw; in
  // none of the failures is block 0000 written.
  RunProcedureTable({
      {"silence to the erase", 8, Device({"silence@BE"}), {}, {"BL", "BE", "BE", "BE"}, false},
      // Busy starting its bootloader, the device answers "BL" 750 ms after
      // its time-out and never hears the erase: that late "OK" is no answer
      // to "BE", and nothing is written over the old firmware. The 750 ms
      // are the tool's: on clocks of their own a starved device thread made
      // them longer than the tool's wait for a late answer.
      {"a late answer to BL is not taken for the erase's",
       4,
       WithOldFirmware(Device({"slow=3250@BL", "no-ok!@BE"})),
       {.oneTimeline = true},
       {"BL", "BE", "BE", "BE"},
       false},
      {"a wrong echo to group 2, three times",
       16,
       Device({"wrong-echo#2", "wrong-echo#3", "wrong-echo#4"}),
       {},
       {"BL", "BE", "W0004", "W0008", "W0008", "W0008"},
       false},
      {"a wrong echo once is retried",
       16,
       Device({"wrong-echo#2"}),
       {},
       {"BL", "BE", "W0004", "W0008", "W0008", "W000C", "W0000"},
       true},
      {"garbage to every write",
       8,
       Device({"garbage@W"}),
       {},
       {"BL", "BE", "W0004", "W0004", "W0004"},
       false},
      {"garbage to BL: the erase decides",
       8,
       Device({"garbage@BL"}),
       {},
       {"BL", "BE", "W0004", "W0000"},
       true},
      {"silence to block 0000 after every other group",
       8,
       Device({"silence@W#2", "silence@W#3", "silence@W#4"}),
       {},
       {"BL", "BE", "W0004", "W0000", "W0000", "W0000"},
       false},
      {"a hang-up after answering group 2",
       16,
       Device({"hangup@W#2"}),
       {},
       {"BL", "BE", "W0004", "W0008"},
       false},
      {"a hang-up instead of answering group 2",
       16,
       Device({"hangup@W#2", "silence@W#2"}),
       {},
       {"BL", "BE", "W0004", "W0008"},
       false},
      {"staged: a hang-up mid-image",
       16,
       Staged({"hangup@W#2"}),
       {.version = "VER 14.010.001", .type = 10},
       {"W0000", "W0004"},
       false},
      // The line end of "BL"'s answer comes after the exchange has taken the
      // answer; it belongs to that answer, not to the silent erase's.
      {"the late line end of an answer is no answer to the erase",
       8,
       WithOldFirmware(Device({"split=5000/-2@BL", "silence!@BE#1"})),
       {},
       {"BL", "BE", "BE", "W0004", "W0000"},
       true},
  });
}

TEST(UpdateThreadFaults, AFailingLineIsLogged) {
  test::PacedClock clock;
  const Result r = Flash(Device({"hangup@W#1"}), Image(8), {}, clock);
  ExpectShown(r, false);
  // The port's own error text, in the log and nowhere in the window.
  ASSERT_FALSE(r.logLines.empty());
  EXPECT_NE(r.logLines.back().find("port"), std::string::npos) << r.logLines.back();
}

// A device that takes its time just inside or just outside each time-out.
// The tool and the device share one clock that runs fast, so the time-out
// under test lasts about 400 ms of real time and the margin is 15% of it.
TEST(UpdateThreadFaults, SlowDeviceNearEachTimeout) {
  struct Case {
    const char* name;
    std::uint32_t timeoutMs;
    double share;         // the device's time as a share of the time-out
    std::string command;  // the slow one: "BE" takes erase time, others a slow answer
    bool staged;
    std::string slowFault;  // where the slow answer applies
    int sentTimes;          // how often the slow command went out
    bool succeeds;
  };
  const Case cases[] = {
      {"BL past its 2.5 s: ignored, the erase decides", 2500, 1.15, "BL", false, "@BL", 1, true},
      {"erase just inside 15 s", 15000, 0.85, "BE", false, "", 1, true},
      // The late answer to the first erase passes for the second one, which
      // keeps the device erasing while the writes time out.
      {"erase just past 15 s", 15000, 1.15, "BE", false, "", 2, false},
      {"write just inside 3.5 s", 3500, 0.85, "W0000", false, "@W", 1, true},
      // The first attempt fails; its late echo names the same block and
      // answers the second.
      {"write just past 3.5 s", 3500, 1.15, "W0000", false, "@W#1", 2, true},
      {"commit just inside 15 s", 15000, 0.85, CommitFor(4), true, "@EE", 1, true},
      {"commit just past 15 s", 15000, 1.15, CommitFor(4), true, "@EE#1", 2, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::ScaledClock clock(c.timeoutMs / 400);
    const auto deviceMs = static_cast<std::uint32_t>(c.timeoutMs * c.share);
    sim::SimOptions options = c.staged ? Staged() : Device();
    options.clock = &clock;
    if (c.command == "BE") {
      options.eraseMs = deviceMs;
    } else {
      options.faults.push_back(FaultOf("slow=" + std::to_string(deviceMs) + c.slowFault));
    }
    const Reflash setup = c.staged ? Reflash{.version = "VER 14.010.001", .type = 10} : Reflash{};
    const Result r = Flash(options, Image(c.command == "BE" ? 8 : 4), setup, clock);
    ExpectShown(r, c.succeeds);
    EXPECT_EQ(std::count(r.report.commands.begin(), r.report.commands.end(), c.command), c.sentTimes)
        << Joined(r.report.commands);
    if (!c.succeeds) {
      EXPECT_FALSE(Has(r.report.commands, "W0000"));
    }
  }
}

// ---------------------------------------------------------------------------
// Stop

TEST(UpdateThreadStop, EndsAfterTheExchangeUnderWayWithoutAVerdict) {
  struct Case {
    const char* name;
    int records;
    sim::SimOptions device;
    Reflash setup;
    std::vector<std::string> commands;
  };
  sim::SimOptions slowErase = Device();
  slowErase.eraseMs = 2000;
  sim::SimOptions slowWrites = Device();
  slowWrites.writeLatencyMs = 500;
  sim::SimOptions slowStaged = Staged();
  slowStaged.writeLatencyMs = 500;
  const Case cases[] = {
      {"during the erase", 8, slowErase, {.stopWhen = DeviceSaw("BE")}, {"BL", "BE"}},
      {"during the writes", 16, slowWrites, {.stopWhen = DeviceSaw("W0008")}, {"BL", "BE", "W0004", "W0008"}},
      {"during a staged upload",
       16,
       slowStaged,
       {.version = "VER 14.010.001", .type = 10, .stopWhen = DeviceSaw("W0004")},
       {"W0000", "W0004"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::PacedClock clock;
    const Result r = Flash(c.device, Image(c.records), c.setup, clock);
    EXPECT_EQ(r.outcome, ReflashOutcome::Stopped) << ReflashOutcomeName(r.outcome);
    EXPECT_EQ(Joined(r.commandsAtStop), Joined(c.commands)) << "the stop came too late to test anything";
    EXPECT_EQ(Joined(r.report.commands), Joined(c.commands)) << "nothing may follow the exchange under way";
    EXPECT_FALSE(r.view.failureShown);
    EXPECT_FALSE(r.view.successShown);
    for (const std::string& event : r.view.Milestones()) {
      EXPECT_NE(event, "failure");
      EXPECT_NE(event, "disable exit");
    }
  }
}

TEST(UpdateThreadStop, BeforeTheStartNothingHappens) {
  test::PacedClock clock;
  const Result r = Flash(Device(), Image(8), {.stopBeforeStart = true}, clock);
  EXPECT_EQ(r.outcome, ReflashOutcome::NotRun);
  EXPECT_TRUE(r.report.commands.empty());
  EXPECT_TRUE(r.view.events.empty());
}

TEST(UpdateThreadStop, DuringTheSettleWaitTheImageIsWrittenButNotAnnounced) {
  test::PacedClock clock;
  const std::vector<std::string> lines = Image(8);
  const Result r = Flash(Device(), lines,
                         {.stopWhen =
                              [](const sim::SimReport& report) {
                                return !report.writes.empty() && report.writes.back() == "0000";
                              }},
                         clock);
  EXPECT_EQ(r.outcome, ReflashOutcome::Succeeded);
  EXPECT_FALSE(r.view.successShown);
  EXPECT_FALSE(r.view.failureShown);
  EXPECT_EQ(r.report.FlashRecords(), sim::ExpectedFlash(lines));
}

// ---------------------------------------------------------------------------
// As a connection's task

TEST(UpdateThreadConnection, RunsAsTheTaskAndACloseWaitsForIt) {
  for (const bool closeMidway : {false, true}) {
    SCOPED_TRACE(closeMidway ? "closed mid-way" : "run to the end");
    // The device's 500 ms for each write are measured on the tool's time,
    // far inside the write's time-out however busy the machine: every group
    // is answered at its first attempt.
    test::SharedTimeline timeline;
    Clock& clock = timeline.Tool();
    sim::SimOptions options = Device();
    options.clock = &timeline.Device();
    options.writeLatencyMs = 500;
    sim::DeviceSimulator sim(options);
    ASSERT_TRUE(sim.Start()) << sim.Error();
    timeline.WatchDevice([&sim] { return sim.Working(); });
    UiStepQueue sync;
    test::RecordingEvents events;
    test::RecordingView view;
    const std::vector<std::string> lines = Image(16);
    {
      TConnection connection({.Events = events, .Sync = sync, .Time = clock});
      connection.Open(test::PortName(sim.SlavePath()));
      auto task = std::make_unique<TUpdateThread>(sync, clock);
      TUpdateThread& flash = *task;
      flash.SetDevice(DeviceIdentity::FromVersionLine("VER 14.002.020"));
      flash.SetImageLines(lines);
      flash.SetController(connection.Controller());
      flash.SetStartTime(clock.WallNow());
      flash.SetView(&view);
      ASSERT_TRUE(connection.StartTask(std::move(task)));
      EXPECT_EQ(connection.State(), ConnectionState::Flashing);
      if (closeMidway) {
        ASSERT_TRUE(test::ServeUntil(sync, [&] { return DeviceSaw("W0008")(sim.Report()); }))
            << "the device never saw W0008: " << Joined(sim.Report().commands);
        connection.Close();
        EXPECT_EQ(connection.State(), ConnectionState::Closed);
        EXPECT_EQ(Joined(sim.Report().commands), "BL BE W0004 W0008");
        EXPECT_FALSE(view.failureShown);
      } else {
        connection.Task()->Thread().WaitFor();
        EXPECT_EQ(connection.State(), ConnectionState::Idle);
        EXPECT_EQ(flash.Outcome(), ReflashOutcome::Succeeded);
        EXPECT_TRUE(view.successShown);
        EXPECT_EQ(sim.Report().FlashRecords(), sim::ExpectedFlash(lines));
        connection.Close();
      }
    }
    timeline.Free();
    sim.Stop();
  }
}

}  // namespace
}  // namespace tarvik
