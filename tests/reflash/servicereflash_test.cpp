#include "reflash/servicereflash.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <random>

#include "common/text.h"
#include "device/connection.h"
#include "device/devicefixture.h"
#include "outqueue/outarray.h"
#include "simulator/devicesimulator.h"
#include "support/fakeclock.h"
#include "support/quickpauseclock.h"
#include "support/recordingclock.h"
#include "support/serveuntil.h"
#include "support/usertexts.h"

namespace tarvik {
namespace {

using sim::Fault;
namespace text = test::text;
using sim::FaultKind;

std::string Hex(unsigned value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*X", digits, value);
  return text;
}

std::string Repeat(const std::string& text, std::size_t n) {
  std::string out;
  for (std::size_t i = 0; i < n; ++i) out += text;
  return out;
}

// A grid as the viewer leaves it: the heading row, dataRows rows of bytes
// (some FF, as the viewer fills the gaps of a file), and empty rows up to
// nine rows in all.
HexGrid MakeGrid(std::size_t dataRows, unsigned seed = 7) {
  std::mt19937 random(seed);
  HexGrid grid;
  HexGridRow heading;
  for (int c = 1; c < kHexGridColumns; ++c)
    heading[static_cast<std::size_t>(c)] = Hex(static_cast<unsigned>(c - 1), 2);
  grid.Rows.push_back(heading);
  for (std::size_t r = 1; r <= dataRows; ++r) {
    HexGridRow row;
    row[0] = Hex(static_cast<unsigned>(r - 1), 4) + "0";
    for (std::size_t c = 1; c < row.size(); ++c) {
      row[c] = random() % 5 == 0 ? "FF" : Hex(static_cast<unsigned>(random() % 256), 2);
    }
    grid.Rows.push_back(row);
  }
  while (grid.Rows.size() < 9) grid.Rows.push_back(HexGridRow{});
  return grid;
}

std::string RowBytes(const HexGrid& grid, std::size_t r) {
  std::string bytes;
  for (std::size_t c = 1; c < kHexGridColumns; ++c) bytes += grid.Rows[r][c];
  return bytes;
}

// What the device must hold afterwards: per group's block number its four
// rows, rows past the data as FF.
std::map<std::string, std::string> ExpectedImage(const HexGrid& grid, std::size_t dataRows) {
  std::map<std::string, std::string> image;
  for (std::size_t first = 1; first <= dataRows; first += 4) {
    std::string data;
    for (std::size_t r = first; r < first + 4; ++r)
      data += r <= dataRows ? RowBytes(grid, r) : Repeat("FF", 16);
    image[Hex(static_cast<unsigned>(first - 1), 4)] = data;
  }
  return image;
}

class RecordingView final : public ServiceReflashView {
 public:
  void ShowProgress(std::int32_t total, std::int32_t parts) override { progress.emplace_back(total, parts); }
  void ShowError(const std::string& text) override { errors.push_back(text); }

  std::vector<std::pair<std::int32_t, std::int32_t>> progress;
  std::vector<std::string> errors;
};

std::ptrdiff_t LastIndexContaining(const std::vector<std::string>& lines, const std::string& part) {
  for (auto i = static_cast<std::ptrdiff_t>(lines.size()) - 1; i >= 0; --i) {
    if (Contains(lines[static_cast<std::size_t>(i)], part)) return i;
  }
  return -1;
}

std::size_t CountContaining(const std::vector<std::string>& lines, const std::string& part) {
  return static_cast<std::size_t>(
      std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return Contains(l, part); }));
}

using test::QuickPauseClock;

// A simulated device, a connection to it and the UI thread's side (this
// thread). The device keeps real time for its own delays.
class ServiceReflashRun {
 public:
  explicit ServiceReflashRun(sim::SimOptions options) : sim_(Prepare(std::move(options))) {
    if (!sim_.Start()) throw std::runtime_error("simulator: " + sim_.Error());
    connection_.Open(test::PortName(sim_.SlavePath()));
  }
  ~ServiceReflashRun() {
    connection_.Close();
    sim_.Stop();
  }

  // Starts the procedure on the connection's task thread; its own pauses on
  // procedureClock, when one is given, apart from the port's.
  TServiceReflash& Start(const HexGrid* grid, const std::string& versionLine,
                         Clock* procedureClock = nullptr) {
    connection_.Controller()->Identity = DeviceIdentity::FromVersionLine(versionLine);
    toldBefore_ = events_.Everything().size();
    auto task = std::make_unique<TServiceReflash>(
        TServiceReflash::Setup{
            .Controller = *connection_.Controller(),
            .View = view_,
            .Sync = steps_,
            .Time = procedureClock != nullptr ? *procedureClock : static_cast<Clock&>(clock_)},
        grid);
    TServiceReflash& started = *task;
    if (!connection_.StartTask(std::move(task))) throw std::runtime_error("task refused");
    return started;
  }
  // Runs it to its end, serving its UI steps meanwhile.
  ServiceReflashOutcome Run(const HexGrid* grid, const std::string& versionLine,
                            Clock* procedureClock = nullptr) {
    TServiceReflash& task = Start(grid, versionLine, procedureClock);
    task.Thread().WaitFor();
    return task.Outcome();
  }

  // Serves the task's UI steps until done() holds; false when it did not
  // within 20 s.
  bool Serve(const std::function<bool()>& done) { return test::ServeUntil(steps_, done); }

  sim::DeviceSimulator& Sim() { return sim_; }
  TConnection& Connection() { return connection_; }
  RecordingView& View() { return view_; }
  test::RecordingEvents& Events() { return events_; }
  // What the connection told, the log lines among the events: "busy" and
  // "idle" where the window locks and unlocks, "disconnect" for its click.
  // Only what came after the start.
  std::vector<std::string> Told() {
    const std::vector<std::string> all = events_.Everything();
    return std::vector<std::string>(all.begin() + static_cast<std::ptrdiff_t>(toldBefore_), all.end());
  }

 private:
  static sim::SimOptions Prepare(sim::SimOptions o) {
    o.unpaced = true;
    o.eraseMs = 0;
    return o;
  }

  QuickPauseClock clock_;
  sim::DeviceSimulator sim_;
  test::RecordingEvents events_;
  std::size_t toldBefore_ = 0;
  UiStepQueue steps_;
  RecordingView view_;
  TConnection connection_{ConnectionSetup{.Events = events_, .Sync = steps_, .Time = clock_}};
};

const std::string kFirmware = "VER 14.002.020";
const std::string kBootLine = "BootLdr v1.0";

sim::SimOptions InBootloader() {
  sim::SimOptions o;
  o.startInBootloader = true;
  return o;
}

sim::SimOptions WithFaults(std::vector<Fault> faults, sim::SimOptions o = {}) {
  o.faults = std::move(faults);
  return o;
}

// ---------------------------------------------------------------------------
// The commands built from the grid.

TEST(ServiceWriteCommand, TenRowGridGivesThreeGroupsWithTheFirstLast) {
  const HexGrid grid = MakeGrid(9);
  ASSERT_EQ(grid.Rows.size(), 10u);
  const std::vector<std::string> commands = BuildServiceWriteCommands(grid);
  ASSERT_EQ(commands.size(), 3u);
  EXPECT_EQ(commands[0].substr(0, 6), "W0004:");
  EXPECT_EQ(commands[1].substr(0, 6), "W0008:");
  EXPECT_EQ(commands[2].substr(0, 6), "W0000:");
  // Row 9, then three rows' worth of FF: always 64 bytes.
  EXPECT_EQ(commands[1].substr(6, 128), RowBytes(grid, 9) + Repeat("FF", 48));
  for (const std::string& command : commands) {
    ASSERT_EQ(command.size(), 1 + 4 + 1 + 128 + 1 + 2u);
    EXPECT_EQ(sim::XorOfHexBytes(command.substr(6, 128)),
              std::stoi(command.substr(command.size() - 2), nullptr, 16))
        << command;
  }
}

TEST(ServiceWriteCommand, CheckByteCoversTheFillAndIsUpperCase) {
  HexGrid grid = MakeGrid(1);
  for (std::size_t c = 1; c < kHexGridColumns; ++c) grid.Rows[1][c] = "00";
  grid.Rows[1][1] = "a5";  // kept as it stands, read as hex
  const std::string command = BuildServiceWriteCommand(grid, 1);
  EXPECT_EQ(command, "W0000:a5" + Repeat("00", 15) + Repeat("FF", 48) + ":A5");
}

TEST(ServiceWriteCommand, BlockNumberIsTheAddressCellAsItStands) {
  HexGrid grid = MakeGrid(5);
  grid.Rows[5][0] = "01230";
  EXPECT_EQ(BuildServiceWriteCommands(grid).front().substr(0, 6), "W0123:");
}

TEST(ServiceWriteCommand, GridsThatCannotBeSent) {
  struct Case {
    const char* name;
    std::function<void(HexGrid&)> spoil;
  };
  const Case cases[] = {
      {"cell_not_hex", [](HexGrid& g) { g.Rows[6][3] = "G1"; }},
      {"cell_one_digit", [](HexGrid& g) { g.Rows[2][16] = "F"; }},
      {"cell_three_digits", [](HexGrid& g) { g.Rows[2][16] = "FFF"; }},
      // A row with holes would shift every later byte to another address.
      {"row_with_empty_cell", [](HexGrid& g) { g.Rows[3][8].clear(); }},
      {"address_not_hex", [](HexGrid& g) { g.Rows[5][0] = "00x40"; }},
      {"address_short", [](HexGrid& g) { g.Rows[1][0] = "000"; }},
      {"data_after_an_empty_row", [](HexGrid& g) { g.Rows[4] = HexGridRow{}; }},
      {"no_data_rows", [](HexGrid& g) { g.Rows.resize(1); }},
      {"only_empty_rows", [](HexGrid& g) { std::fill(g.Rows.begin() + 1, g.Rows.end(), HexGridRow{}); }},
  };
  for (const Case& c : cases) {
    HexGrid grid = MakeGrid(9);
    c.spoil(grid);
    EXPECT_THROW(BuildServiceWriteCommands(grid), ServiceGridError) << c.name;
  }
}

TEST(ServiceWriteCommand, EmptyRowsTheViewerLeavesCountAsPastTheData) {
  // Three rows of data in a nine-row grid: one group, rows 4 to 8 empty,
  // filled like rows past the end instead of shortening the group.
  const HexGrid grid = MakeGrid(3);
  ASSERT_EQ(grid.Rows.size(), 9u);
  const std::vector<std::string> commands = BuildServiceWriteCommands(grid);
  ASSERT_EQ(commands.size(), 1u);
  EXPECT_EQ(commands[0].substr(6, 128),
            RowBytes(grid, 1) + RowBytes(grid, 2) + RowBytes(grid, 3) + Repeat("FF", 16));
}

TEST(ServiceReflashRules, EchoAndProgressTotal) {
  const std::string w = "W0004:" + Repeat("00", 64) + ":00";
  struct Case {
    std::string reply;
    bool echoes;
  };
  const Case cases[] = {
      {"004\r\nOK\r\n", true}, {"  \t004xyz", true},  // trimmed, then only its start counts
      {"0004\r\nOK", false},   {"005\r\nOK", false}, {"", false}, {"OK", false},
  };
  for (const Case& c : cases) EXPECT_EQ(EchoesBlock(w, c.reply), c.echoes) << c.reply;
  EXPECT_FALSE(EchoesBlock("W0A0C:00:00", "a0c")) << "case-sensitive";

  EXPECT_EQ(ServiceProgressTotal(10), 105);
  EXPECT_EQ(ServiceProgressTotal(9), 105);
  EXPECT_EQ(ServiceProgressTotal(13), 106);
  EXPECT_EQ(ServiceProgressTotal(4097), 1127);
}

TEST(ServiceReflashRules, WaitWithProgressTicksEvery150msFor15s) {
  test::FakeClock clock;
  const std::uint64_t start = clock.NowMs();
  std::vector<std::uint64_t> ticks;
  WaitWithProgress(clock, 15000, 150, [&] { ticks.push_back(clock.NowMs() - start); });
  ASSERT_EQ(ticks.size(), 100u);
  EXPECT_EQ(ticks.front(), 150u);
  EXPECT_EQ(ticks.back(), 15000u);
  EXPECT_EQ(clock.NowMs() - start, 15001u) << "returns once more than the total has passed";

  ticks.clear();
  WaitWithProgress(
      clock, 15000, 150, [&] { ticks.push_back(0); }, [&] { return ticks.size() >= 3u; });
  EXPECT_EQ(ticks.size(), 3u) << "a stop ends the wait";
}

// ---------------------------------------------------------------------------
// Against the simulated device.

// Each row names what differs from a nine-row grid written to a device
// outside its bootloader that takes everything.
struct FlashCase {
  const char* name = "";
  std::string versionLine = kFirmware;
  sim::SimOptions device = {};
  ServiceReflashOutcome outcome = ServiceReflashOutcome::Settled;
  std::vector<std::string> commands = {};  // what the device received, in order
  std::string failureLine = {};            // the one failure line in the log, if any
  std::int32_t partsAtEnd = -1;            // where the bar stops; -1: full
};

class ServiceReflashAgainstDevice : public ::testing::TestWithParam<FlashCase> {};

TEST_P(ServiceReflashAgainstDevice, CommandsOutcomeAndLog) {
  const FlashCase& c = GetParam();
  ServiceReflashRun run(c.device);
  const HexGrid grid = MakeGrid(9);
  EXPECT_EQ(run.Run(&grid, c.versionLine), c.outcome);

  const sim::SimReport report = run.Sim().Report();
  EXPECT_EQ(report.commands, c.commands);
  EXPECT_TRUE(report.checkErrors.empty());
  EXPECT_TRUE(report.malformed.empty());
  EXPECT_TRUE(run.View().errors.empty());

  const std::vector<std::string> queued = run.Told();
  // Every exchange is logged: three lines each.
  EXPECT_EQ(CountContaining(queued, "#com<-: +"), c.commands.size());
  EXPECT_EQ(CountContaining(queued, "@com->: "), c.commands.size());
  EXPECT_EQ(CountContaining(queued, "$$$: "), c.commands.size());
  // The window is locked first, handed back and disconnected last.
  ASSERT_GE(queued.size(), 3u);
  EXPECT_EQ(queued.front(), "busy");
  EXPECT_EQ(queued[queued.size() - 2], "idle");
  EXPECT_EQ(queued.back(), "disconnect");
  EXPECT_EQ(run.Events().Count("busy"), 1);
  EXPECT_EQ(run.Events().Count("idle"), 1);

  const std::ptrdiff_t lastTraffic = LastIndexContaining(queued, "@com->: ");
  const std::ptrdiff_t failure = c.failureLine.empty() ? -1 : LastIndexContaining(queued, c.failureLine);
  EXPECT_EQ(CountContaining(queued, Utf8ToCp1251("ОШИБКА!")), c.failureLine.empty() ? 0u : 1u);
  if (!c.failureLine.empty()) {
    ASSERT_GE(failure, 0);
    EXPECT_EQ(queued[static_cast<std::size_t>(failure)], c.failureLine) << "untimestamped";
    EXPECT_GT(failure, lastTraffic) << "after the traffic that led to it";
  }

  // The bar: total from the grid's rows; full exactly when the device settled.
  const auto& progress = run.View().progress;
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.front(), std::make_pair(ServiceProgressTotal(grid.Rows.size()), 0));
  EXPECT_EQ(progress.back().second, c.partsAtEnd < 0 ? progress.back().first : c.partsAtEnd);
}

std::vector<std::string> Writes(std::initializer_list<const char*> blocks) {
  std::vector<std::string> out;
  for (const char* b : blocks) out.push_back(std::string("W") + b);
  return out;
}

std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const auto kBootCommands = Join({"BE"}, Writes({"0004", "0008", "0000"}));
const auto kAllCommands = Join({"BL"}, kBootCommands);

INSTANTIATE_TEST_SUITE_P(
    Procedure, ServiceReflashAgainstDevice,
    ::testing::Values(
        // Header and nine rows: rows 5-8, row 9 with FF filling, rows 1-4 once.
        FlashCase{.name = "rows_10", .commands = kAllCommands},
        // A device in its bootloader gets "BE" first.
        FlashCase{.name = "bootloader_gets_erase_first",
                  .versionLine = kBootLine,
                  .device = InBootloader(),
                  .commands = kBootCommands},
        // The first group needs "OK" only, not the echo of its block.
        FlashCase{.name = "first_group_without_echo",
                  .device = WithFaults({Fault{.kind = FaultKind::WrongEcho, .command = "W", .nth = 3}}),
                  .commands = kAllCommands},
        // Another group is tried again when its echo is wrong.
        FlashCase{.name = "wrong_echo_once_is_retried",
                  .device = WithFaults({Fault{.kind = FaultKind::WrongEcho, .command = "W", .nth = 1}}),
                  .commands = Join({"BL", "BE"}, Writes({"0004", "0004", "0008", "0000"}))},
        // The bar: one part for "BL", one for the erase notice.
        FlashCase{.name = "erase_fails_three_times",
                  .device = WithFaults({Fault{.kind = FaultKind::Silence, .command = "BE"}}),
                  .outcome = ServiceReflashOutcome::EraseFailed,
                  .commands = {"BL", "BE", "BE", "BE"},
                  .failureLine = text::Cp(text::kEraseFailed),
                  .partsAtEnd = 2},
        // Block 0000 never follows a failed group.
        FlashCase{.name = "group_fails_three_times",
                  .device = WithFaults({Fault{.kind = FaultKind::WrongEcho, .command = "W"}}),
                  .outcome = ServiceReflashOutcome::WriteFailed,
                  .commands = Join({"BL", "BE"}, Writes({"0004", "0004", "0004"})),
                  .failureLine = text::Cp(text::kWriteFailed),
                  .partsAtEnd = 3},
        // Without "BL" the bar has one part less before the writes.
        FlashCase{.name = "bootloader_group_fails",
                  .versionLine = kBootLine,
                  .device = WithFaults({Fault{.kind = FaultKind::WrongEcho, .command = "W"}}, InBootloader()),
                  .outcome = ServiceReflashOutcome::WriteFailed,
                  .commands = Join({"BE"}, Writes({"0004", "0004", "0004"})),
                  .failureLine = text::Cp(text::kWriteFailed),
                  .partsAtEnd = 2},
        FlashCase{.name = "first_group_has_one_attempt",
                  .device = WithFaults({Fault{.kind = FaultKind::Silence, .command = "W", .nth = 3}}),
                  .outcome = ServiceReflashOutcome::WriteFailed,
                  .commands = kAllCommands,
                  .failureLine = text::Cp(text::kWriteFailed),
                  .partsAtEnd = 5},
        // The line end of the answer before it comes 300 ms late, while the
        // device leaves block 0000 unwritten and unanswered: that line end
        // is no answer to block 0000.
        FlashCase{.name = "late_line_end_is_no_answer_to_the_first_group",
                  .device = WithFaults(
                      {Fault{.kind = FaultKind::Split, .command = "W0008", .delayMs = 300, .splitAt = -2},
                       Fault{.kind = FaultKind::Silence, .command = "W0000", .lost = true}}),
                  .outcome = ServiceReflashOutcome::WriteFailed,
                  .commands = kAllCommands,
                  .failureLine = text::Cp(text::kWriteFailed),
                  .partsAtEnd = 5}),
    [](const ::testing::TestParamInfo<FlashCase>& p) { return std::string(p.param.name); });

// What a device needs between commands, pinned: 40 ms after every write
// attempt, answered or not, block 0000 included; 15 s for the device to
// settle after block 0000, in slices of 50 ms; 100 ms before the disconnect.
TEST(ServiceReflash, PausesBetweenWritesAfterTheLastAndBeforeTheDisconnect) {
  struct Case {
    const char* name;
    std::vector<Fault> faults;
    ServiceReflashOutcome outcome;
    std::vector<std::string> commands;
    std::string pauses;
  };
  const Case cases[] = {
      {"every group at once", {}, ServiceReflashOutcome::Settled, kAllCommands, "40 x3, 50 x300, 1, 100"},
      {"a failed attempt too",
       {Fault{.kind = FaultKind::WrongEcho, .command = "W", .nth = 1},
        Fault{.kind = FaultKind::Silence, .command = "W", .nth = 2}},
       ServiceReflashOutcome::Settled,
       Join({"BL", "BE"}, Writes({"0004", "0004", "0004", "0008", "0000"})),
       "40 x5, 50 x300, 1, 100"},
      {"block 0000 not taken",
       {Fault{.kind = FaultKind::Silence, .command = "W", .nth = 3}},
       ServiceReflashOutcome::WriteFailed,
       kAllCommands,
       "40 x3, 100"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ServiceReflashRun run(WithFaults(c.faults));
    test::RecordingClock procedureClock;
    const HexGrid grid = MakeGrid(9);
    EXPECT_EQ(run.Run(&grid, kFirmware, &procedureClock), c.outcome);
    EXPECT_EQ(run.Sim().Report().commands, c.commands);
    EXPECT_EQ(procedureClock.Pauses(), c.pauses);
  }
}

TEST(ServiceReflash, DeviceHoldsTheFileDataWithFfInTheGaps) {
  ServiceReflashRun run({});
  const std::size_t dataRows = 23;  // the last group has three rows of data
  const HexGrid grid = MakeGrid(dataRows, 11);
  EXPECT_EQ(run.Run(&grid, kFirmware), ServiceReflashOutcome::Settled);
  const sim::SimReport report = run.Sim().Report();
  EXPECT_TRUE(report.eraseSeen);
  EXPECT_TRUE(report.complete);
  EXPECT_EQ(report.image, ExpectedImage(grid, dataRows));
  EXPECT_EQ(report.writes.back(), "0000");
}

TEST(ServiceReflash, LongFileLosesNoLogLineAndStillHandsTheWindowBack) {
  // More rows than the queue's ring holds lines for: three lines an
  // exchange, and nothing drains the queue while the procedure runs.
  ServiceReflashRun run({});
  const std::size_t dataRows = 1600;
  const HexGrid grid = MakeGrid(dataRows, 3);
  EXPECT_EQ(run.Run(&grid, kFirmware), ServiceReflashOutcome::Settled);
  const std::vector<std::string> queued = run.Told();
  const std::size_t groups = dataRows / 4;
  EXPECT_EQ(CountContaining(queued, "#com<-: +W"), groups);
  EXPECT_EQ(CountContaining(queued, "@com->: "), groups + 2);
  EXPECT_GT(queued.size(), static_cast<std::size_t>(TOutArray::kSlots));
  ASSERT_GE(LastIndexContaining(queued, "#com<-: +W0000:"), 0);
  EXPECT_GT(LastIndexContaining(queued, "#com<-: +W0000:"), LastIndexContaining(queued, "#com<-: +W063C:"));
  EXPECT_EQ(queued[queued.size() - 2], "idle");
  EXPECT_EQ(queued.back(), "disconnect");
  EXPECT_EQ(run.Sim().Report().image.size(), groups);
}

TEST(ServiceReflash, NoFileChosenSendsNothingButStillDisconnects) {
  ServiceReflashRun run({});
  EXPECT_EQ(run.Run(nullptr, kFirmware), ServiceReflashOutcome::NothingToSend);
  EXPECT_TRUE(run.Sim().Report().commands.empty());
  EXPECT_TRUE(run.View().progress.empty());
  const std::vector<std::string> queued = run.Told();
  EXPECT_EQ(queued, (std::vector<std::string>{"idle", "disconnect"}));
}

TEST(ServiceReflash, GridThatCannotBeSentIsReportedBeforeTheDeviceHearsAnything) {
  ServiceReflashRun run({});
  HexGrid grid = MakeGrid(12);
  grid.Rows[10][4] = "ZZ";
  EXPECT_EQ(run.Run(&grid, kFirmware), ServiceReflashOutcome::Error);
  EXPECT_TRUE(run.Sim().Report().commands.empty())
      << "the device is not erased for a file that cannot be sent";
  ASSERT_EQ(run.View().errors.size(), 1u);
  EXPECT_TRUE(Contains(run.View().errors[0], Utf8ToCp1251("строке 10, столбце 4"))) << run.View().errors[0];
  const std::vector<std::string> queued = run.Told();
  ASSERT_GE(queued.size(), 3u);
  EXPECT_EQ(queued[queued.size() - 3], run.View().errors[0]) << "the error is logged too";
  EXPECT_EQ(run.Events().OutcomeLines(), std::vector<std::string>{run.View().errors[0]})
      << "without its time, as the outcome";
  EXPECT_EQ(queued.back(), "disconnect");
}

TEST(ServiceReflash, PortErrorEndsWithTheErrorShownAndTheEndStepsRun) {
  // The device hangs up while the second group's answer is awaited (not
  // while the command is written).
  ServiceReflashRun run(WithFaults({Fault{.kind = FaultKind::Silence, .command = "W", .nth = 2},
                                    Fault{.kind = FaultKind::Slow, .command = "W", .nth = 2, .delayMs = 50},
                                    Fault{.kind = FaultKind::HangUp, .command = "W", .nth = 2}}));
  const HexGrid grid = MakeGrid(16);
  EXPECT_EQ(run.Run(&grid, kFirmware), ServiceReflashOutcome::Error);
  EXPECT_EQ(run.Sim().Report().commands, Join({"BL", "BE"}, Writes({"0004", "0008"})));
  ASSERT_EQ(run.View().errors.size(), 1u);
  EXPECT_TRUE(Contains(run.View().errors[0], "Unable to read from port.")) << run.View().errors[0];
  const std::vector<std::string> queued = run.Told();
  EXPECT_EQ(CountContaining(queued, "Unable to read from port."), 1u);
  EXPECT_EQ(queued[queued.size() - 2], "idle");
  EXPECT_EQ(queued.back(), "disconnect");
}

TEST(ServiceReflash, ClosingTheConnectionStopsAfterTheExchangeUnderWay) {
  // A device that takes its time over each write, so the close comes while
  // the procedure is still among the groups.
  ServiceReflashRun run(
      WithFaults({Fault{.kind = FaultKind::Slow, .command = "W", .nth = 0, .delayMs = 20}}));
  const HexGrid grid = MakeGrid(400);
  TServiceReflash& task = run.Start(&grid, kFirmware);
  const auto done = task.Done();
  // Serve the steps until a few groups are in, then close as the program's
  // exit does.
  ASSERT_TRUE(run.Serve([&] { return run.Sim().Report().writes.size() >= 3; }))
      << "the device took " << run.Sim().Report().writes.size() << " writes";
  run.Connection().Close();
  EXPECT_TRUE(done->load());
  const sim::SimReport report = run.Sim().Report();
  EXPECT_LT(report.writes.size(), 100u);
  EXPECT_EQ(std::count(report.writes.begin(), report.writes.end(), "0000"), 0)
      << "block 0000 is never written";
  const std::vector<std::string> queued = run.Told();
  EXPECT_EQ(CountContaining(queued, Utf8ToCp1251("ОШИБКА!")), 0u);
  EXPECT_EQ(queued.back(), "idle") << "handed back, with no disconnect request for a closed connection";
  EXPECT_EQ(std::count(queued.begin(), queued.end(), "disconnect"), 0);
}

}  // namespace
}  // namespace tarvik
