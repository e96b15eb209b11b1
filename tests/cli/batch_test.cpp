// Several devices from one command, in one process, against simulated
// devices on pseudo-terminals: each flashed as a single one is, one device's
// fault leaving the others alone, Ctrl+C once and twice, the check after the
// reflash, the record of each device, the exit code of the batch, and the
// table on a terminal.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <regex>
#include <thread>

#include "cli/batchboard.h"
#include "cli/clisession.h"
#include "cli/clitesting.h"
#include "cli/exitcodes.h"
#include "cli/outcome.h"
#include "common/text.h"
#include "firmware/shippedcatalogue.h"
#include "serial/link.h"
#include "serial/otherprogram.h"
#include "serial/ser2net.h"
#include "support/tempdir.h"

namespace tarvik {
namespace {

using cli::DeviceOutcome;
using cli::ExitCode;
using test::CaptureOutput;

const std::vector<std::string>& ShippedImage(int number) {
  return test::ShippedCatalogue().ImageLines()[static_cast<std::size_t>(number - 1)];
}

// Real time an answer may take at most: several devices and their
// simulators share the machine with other tests.
constexpr std::uint32_t kBatchAnswerMs = 3000;

struct BatchRun {
  int code = -1;
  std::string out;  // UTF-8
  std::string err;  // UTF-8
  std::vector<std::string> outWrites;
  std::vector<sim::SimReport> reports;
  // The devices' ports, as the command named them.
  std::vector<std::string> ports;
  // The --record file's objects, in the order the devices ended.
  std::vector<nlohmann::ordered_json> records;
  std::chrono::milliseconds took{};
};

struct BatchBench {
  bool terminal = false;
  int columns = 0;
  // Ctrl+C each time this holds for the devices' reports (checked until it
  // has been pressed this often).
  std::function<bool(const std::vector<sim::SimReport>&)> interruptWhen{};
  int interrupts = 1;
  // The tool's clock; null: pauses pass at once.
  Clock* clock = nullptr;
  // The ports the system lists (--all); empty: the devices' own.
  std::vector<std::string> listed{};
  // Each device's clock, by its index; empty: a quick one of its own.
  std::function<std::unique_ptr<Clock>(std::size_t index)> deviceClock{};
  // The devices reached through a server on 127.0.0.1 (by index), named by
  // its address; the others by their ports.
  std::map<std::size_t, test::Ser2Net::Kind> servers{};
};

// A device's clock whose waits for an answer do not begin until open()
// holds (or a minute has passed, against a hang): a device kept waiting on
// purpose while the others work.
class HeldClock final : public Clock {
 public:
  // heldTooLong: set when the minute ran out.
  HeldClock(std::function<bool()> open, std::atomic<bool>& heldTooLong)
      : open_(std::move(open)), heldTooLong_(heldTooLong) {}
  std::uint64_t NowMs() override { return quick_.NowMs(); }
  void SleepMs(std::uint32_t ms) override { quick_.SleepMs(ms); }
  bool SleepMs(std::uint32_t ms, Wakeup& wake) override {
    const auto since = std::chrono::steady_clock::now();
    while (!open_()) {
      if (std::chrono::steady_clock::now() - since > std::chrono::minutes(1)) {
        heldTooLong_.store(true);
        break;
      }
      if (wake.Wait(10)) return true;
    }
    return quick_.SleepMs(ms, wake);
  }
  std::chrono::system_clock::time_point WallNow() override { return quick_.WallNow(); }

 private:
  std::function<bool()> open_;
  std::atomic<bool>& heldTooLong_;
  test::QuickPauseClock quick_{kBatchAnswerMs};
};

class CliBatch : public ::testing::Test {
 protected:
  // "PORT1", "PORT2", ... stand for the devices' ports.
  BatchRun Run(std::vector<sim::SimOptions> devices, std::vector<std::string> args,
               const BatchBench& bench = {}) {
    std::vector<std::unique_ptr<sim::DeviceSimulator>> sims;
    for (sim::SimOptions& device : devices) {
      sims.push_back(std::make_unique<sim::DeviceSimulator>(std::move(device)));
      if (!sims.back()->Start()) throw std::runtime_error("simulator: " + sims.back()->Error());
    }
    std::vector<std::unique_ptr<test::Ser2Net>> servers;
    for (const auto& [index, kind] : bench.servers)
      servers.push_back(std::make_unique<test::Ser2Net>(sims.at(index)->SlavePath(), kind));
    for (std::string& arg : args) {
      for (std::size_t i = 0; i < sims.size(); ++i) {
        if (arg != "PORT" + std::to_string(i + 1)) continue;
        const auto served = bench.servers.find(i);
        arg =
            served == bench.servers.end()
                ? sims[i]->SlavePath()
                : servers[static_cast<std::size_t>(std::distance(bench.servers.begin(), served))]->Address();
      }
    }
    const std::filesystem::path record = dir_.Path() / "bench.jsonl";
    std::filesystem::remove(record);
    args.insert(args.end(), {"--record", record.string()});

    test::QuickPauseClock quick(kBatchAnswerMs);
    CaptureOutput out(bench.terminal, bench.columns);
    std::atomic<int> pressed{0};
    std::atomic<bool> pending{false};
    std::atomic<bool> over{false};
    std::thread button;
    if (bench.interruptWhen) {
      button = std::thread([&] {
        while (!over.load() && pressed.load() < bench.interrupts) {
          std::vector<sim::SimReport> reports;
          for (const auto& s : sims) reports.push_back(s->Report());
          if (!pending.load() && bench.interruptWhen(reports)) {
            pending.store(true);
            ++pressed;
          }
          std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
      });
    }
    std::vector<std::string> listed = bench.listed;
    cli::CliEnvironment env{
        .Out = out,
        .Time = bench.clock != nullptr ? *bench.clock : quick,
        // Each device keeps its own time, as on the real clock.
        .DeviceClock = bench.clock != nullptr
                           ? std::function<std::unique_ptr<Clock>()>()
                           : [&bench, made = std::size_t{0}]() mutable -> std::unique_ptr<Clock> {
          const std::size_t index = made++;
          if (bench.deviceClock) return bench.deviceClock(index);
          return std::make_unique<test::QuickPauseClock>(kBatchAnswerMs);
        },
        .Interrupted = [&] { return pending.exchange(false); },
        .ListPorts = [&] { return listed; },
        .DefaultRules = [this] { return dir_.Path() / "update.ini"; },
    };
    BatchRun run;
    const auto start = std::chrono::steady_clock::now();
    run.code = cli::ToInt(cli::RunCli(args, env));
    run.took =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    over.store(true);
    if (button.joinable()) button.join();
    servers.clear();
    for (const auto& s : sims) {
      s->WaitIdle(2000);
      run.reports.push_back(s->Report());
      run.ports.push_back(s->SlavePath());
      s->Stop();
    }
    run.out = out.Out();
    run.err = out.Err();
    run.outWrites = out.OutWrites();
    std::ifstream file(record);
    for (std::string line; std::getline(file, line);)
      run.records.push_back(nlohmann::ordered_json::parse(line));
    return run;
  }

  static const nlohmann::ordered_json* RecordOf(const BatchRun& run, const std::string& port) {
    for (const nlohmann::ordered_json& record : run.records) {
      if (record["port"] == port) return &record;
    }
    return nullptr;
  }

  test::TempDir dir_{"tarvik-cli-batch"};
};

const std::vector<std::string> kFlashTwo = {"flash", "PORT1", "PORT2", "PORT3", "--no-rules", "--image", "2"};

// ---------------------------------------------------------------------------

TEST_F(CliBatch, EveryDeviceIsFlashedAndCheckedAsASingleOneIs) {
  const BatchRun run = Run({test::Detector(), test::Detector(), test::Detector()}, kFlashTwo);
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const std::string expected = sim::ExpectedFlash(ShippedImage(2));
  for (std::size_t i = 0; i < run.reports.size(); ++i) {
    SCOPED_TRACE(i);
    const sim::SimReport& report = run.reports[i];
    EXPECT_EQ(report.FlashRecords(), expected);
    EXPECT_EQ(report.lastBlock, "0000");
    EXPECT_EQ(report.commands.back(), "v");
    EXPECT_TRUE(report.malformed.empty());
  }
  // Into a pipe: each device's lines with its port in front, the stages and
  // every 10 % among them, then the summary.
  ASSERT_EQ(run.records.size(), 3u);
  for (const nlohmann::ordered_json& record : run.records) {
    const std::string port = record["port"];
    SCOPED_TRACE(port);
    EXPECT_EQ(record["outcome"], "verified");
    EXPECT_TRUE(Contains(run.out, port + ": Текущая версия прошивки : VER 14.002.020\n")) << run.out;
    EXPECT_TRUE(Contains(run.out, port + ": Идет очистка памяти...\n")) << run.out;
    EXPECT_EQ(test::Count(run.out, port + ": 50 %"), 1u) << run.out;
    EXPECT_TRUE(Contains(
        run.out, port + ": Проверено: устройство называет версию записанной прошивки VER 14.002.028.\n"))
        << run.out;
  }
  EXPECT_TRUE(Contains(run.out, "Итог:\n")) << run.out;
  EXPECT_TRUE(run.out.ends_with("Устройств: 3 (проверено: 3)\n")) << run.out;
}

// Local ports and servers' addresses in one command: every device is
// written and checked, and its record names it as it was given.
TEST_F(CliBatch, LocalPortsAndServersAddressesInOneBatch) {
  BatchBench bench;
  bench.servers = {{1, test::Ser2Net::Kind::Rfc2217}, {2, test::Ser2Net::Kind::Tcp}};
  const BatchRun run = Run({test::Detector(), test::Detector(), test::Detector()}, kFlashTwo, bench);
  EXPECT_EQ(run.code, 0) << run.err;
  const std::string expected = sim::ExpectedFlash(ShippedImage(2));
  for (std::size_t i = 0; i < run.reports.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(run.reports[i].FlashRecords(), expected);
    EXPECT_EQ(run.reports[i].commands.back(), "v");
  }
  ASSERT_EQ(run.records.size(), 3u);
  std::vector<std::string> kinds;
  for (const nlohmann::ordered_json& record : run.records) {
    EXPECT_EQ(record["outcome"], "verified") << record.dump();
    const std::string port = record["port"];
    kinds.push_back(port.starts_with("rfc2217://127.0.0.1:") ? "rfc2217"
                    : port.starts_with("tcp://127.0.0.1:")   ? "tcp"
                    : port == run.ports[0]                   ? "local"
                                                             : port);
  }
  std::sort(kinds.begin(), kinds.end());
  EXPECT_EQ(kinds, (std::vector<std::string>{"local", "rfc2217", "tcp"}));
  EXPECT_TRUE(run.out.ends_with("Устройств: 3 (проверено: 3)\n")) << run.out;
}

// A device that is silent, echoes wrongly or hangs up in the middle ends
// with its own outcome; the others are written whole all the same.
TEST_F(CliBatch, OneDeviceFailingLeavesTheOthersAlone) {
  struct Case {
    const char* name;
    std::vector<std::string> faults;
    const char* outcome;
    int code;
    std::string error;
    // The record's cause, by which a bench tells a cable from a device.
    const char* cause;
  };
  const Case cases[] = {
      {"silent", {"silence@v"}, "no_device", 3, "Устройство не отвечает", nullptr},
      {"every write echoed wrongly",
       {"wrong-echo"},
       "failed",
       5,
       "В процессе перепрошивки возникли ошибки! Блок 0004 не принят устройством",
       "group_not_taken"},
      {"hung up in the middle of the image",
       {"hangup@W#40"},
       "failed",
       5,
       "В процессе перепрошивки возникли ошибки! Связь с устройством потеряна.",
       "line_lost"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const BatchRun run = Run({test::Detector(), test::Detector(c.faults), test::Detector()}, kFlashTwo);
    EXPECT_EQ(run.code, c.code) << run.err;
    ASSERT_EQ(run.records.size(), 3u) << run.err;
    const std::string expected = sim::ExpectedFlash(ShippedImage(2));
    EXPECT_EQ(run.reports[0].FlashRecords(), expected);
    EXPECT_EQ(run.reports[2].FlashRecords(), expected);
    EXPECT_EQ(std::count(run.reports[1].writes.begin(), run.reports[1].writes.end(), "0000"), 0);
    int verified = 0;
    for (const nlohmann::ordered_json& record : run.records) {
      if (record["outcome"] == "verified") {
        ++verified;
        continue;
      }
      EXPECT_EQ(record["outcome"], c.outcome);
      EXPECT_EQ(record["exit_code"], c.code);
      EXPECT_EQ(Utf8ToCp1251(record["error"].get<std::string>()).substr(0, Utf8ToCp1251(c.error).size()),
                Utf8ToCp1251(c.error));
      if (c.cause != nullptr) {
        EXPECT_EQ(record["cause"], c.cause);
        EXPECT_EQ(record["device_after"], "erased");
      } else {
        EXPECT_TRUE(record["cause"].is_null());
      }
    }
    EXPECT_EQ(verified, 2);
  }
}

// A silent device takes its time-outs (four version queries); the others do
// not wait for it. Its time-outs begin only once the other device's record
// is written: were the devices run one after the other, that would never
// come, and the silent device would be recorded first.
TEST_F(CliBatch, ASilentDeviceHoldsNobodyUp) {
  const std::filesystem::path record = dir_.Path() / "bench.jsonl";
  std::atomic<bool> heldTooLong{false};
  BatchBench bench{.deviceClock = [&](std::size_t index) -> std::unique_ptr<Clock> {
    if (index != 0) return std::make_unique<test::QuickPauseClock>(kBatchAnswerMs);
    return std::make_unique<HeldClock>(
        [record] {
          std::error_code error;
          const std::uintmax_t size = std::filesystem::file_size(record, error);
          return !error && size > 0;
        },
        heldTooLong);
  }};
  const BatchRun run = Run({test::Detector({"silence@v"}), test::Detector()},
                           {"flash", "PORT1", "PORT2", "--no-rules", "--image", "2"}, bench);
  EXPECT_FALSE(heldTooLong.load()) << "the other device was never recorded while the silent one waited";
  ASSERT_EQ(run.records.size(), 2u);
  EXPECT_EQ(run.records[0]["outcome"], "verified");
  EXPECT_EQ(run.records[1]["outcome"], "no_device");
}

TEST_F(CliBatch, CtrlCStopsEveryDeviceBetweenTwoCommands) {
  const BatchBench bench{.interruptWhen = [](const std::vector<sim::SimReport>& reports) {
    return std::all_of(reports.begin(), reports.end(),
                       [](const sim::SimReport& r) { return r.writes.size() >= 5; });
  }};
  const BatchRun run = Run({test::Detector(), test::Detector(), test::Detector()}, kFlashTwo, bench);
  EXPECT_EQ(run.code, 130);
  ASSERT_EQ(run.records.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    const sim::SimReport& report = run.reports[i];
    // Whole commands only, and never block 0000: no device takes a broken
    // image for whole.
    EXPECT_TRUE(report.malformed.empty());
    EXPECT_EQ(report.strayBytes, 0u);
    EXPECT_FALSE(report.complete);
    EXPECT_EQ(std::count(report.writes.begin(), report.writes.end(), "0000"), 0);
    EXPECT_EQ(run.records[i]["outcome"], "interrupted");
    EXPECT_EQ(run.records[i]["exit_code"], 130);
    EXPECT_EQ(run.records[i]["error"],
              "Перепрошивка прервана: прошивка устройства может быть неполной, повторите перепрошивку.");
  }
  EXPECT_TRUE(Contains(run.err, "Завершение обмена с устройством...")) << run.err;
  EXPECT_TRUE(run.out.ends_with("Устройств: 3 (прервано: 3)\n")) << run.out;
}

// On the real clock, with every device in an erase that is never answered:
// the first Ctrl+C would wait out the erase's 15 s; the second ends the
// waits at once, closes the ports and writes the records.
TEST_F(CliBatch, SecondCtrlCEndsAtOnce) {
  std::vector<sim::SimOptions> devices(3, test::Detector({"silence@BE"}));
  const BatchBench bench{.interruptWhen =
                             [](const std::vector<sim::SimReport>& reports) {
                               return std::all_of(
                                   reports.begin(), reports.end(), [](const sim::SimReport& r) {
                                     return std::count(r.commands.begin(), r.commands.end(), "BE") > 0;
                                   });
                             },
                         .interrupts = 2,
                         .clock = &SystemClock()};
  const BatchRun run = Run(devices, kFlashTwo, bench);
  EXPECT_EQ(run.code, 130);
  EXPECT_LT(run.took, std::chrono::seconds(10)) << "the erase's time-out was waited out";
  ASSERT_EQ(run.records.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(run.records[i]["outcome"], "interrupted");
    // One erase each: none was tried again after the stop.
    EXPECT_EQ(std::count(run.reports[i].commands.begin(), run.reports[i].commands.end(), "BE"), 1);
    EXPECT_TRUE(run.reports[i].writes.empty());
  }
  EXPECT_TRUE(Contains(run.err, "Прервано.\n")) << run.err;
}

// After the reflash the device is asked for its version once more: the
// image's, another, or none.
TEST_F(CliBatch, CheckAfterTheReflash) {
  struct Case {
    const char* name;
    sim::SimOptions device;
    std::vector<std::string> extra;
    const char* outcome;
    int code;
    nlohmann::ordered_json versionAfter;
  };
  const Case cases[] = {
      {"it names the image's version", test::Detector(), {}, "verified", 0, "VER 14.002.028"},
      {"it still names its old version",
       test::Detector({"stale-version"}),
       {},
       "flashed_not_verified",
       8,
       "VER 14.002.020"},
      {"it hangs up after the last block", test::Detector({"hangup@W0000"}), {}, "failed", 5, nullptr},
      {"not asked", test::Detector({"stale-version"}), {"--no-verify"}, "done", 0, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = {"flash", "PORT1", "PORT2", "--no-rules", "--image", "2"};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    const BatchRun run = Run({c.device, test::Detector()}, args);
    EXPECT_EQ(run.code, c.code) << run.err;
    EXPECT_EQ(run.reports[0].FlashRecords(), sim::ExpectedFlash(ShippedImage(2)));
    ASSERT_EQ(run.records.size(), 2u);
    const nlohmann::ordered_json* record = RecordOf(run, run.ports[0]);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ((*record)["outcome"], c.outcome);
    EXPECT_EQ((*record)["exit_code"], c.code);
    EXPECT_EQ((*record)["version_after"], c.versionAfter);
    // The other device, written the same way.
    const bool asked = c.extra.empty();
    EXPECT_EQ((*RecordOf(run, run.ports[1]))["outcome"], asked ? "verified" : "done");
  }
}

// What an auditor reads of a device that was written and of one that was
// not.
TEST_F(CliBatch, RecordOfASuccessAndOfAFailure) {
  const BatchRun run = Run({test::Detector(), test::Detector({"wrong-echo"})},
                           {"flash", "PORT1", "PORT2", "--no-rules", "--image", "2"});
  ASSERT_EQ(run.records.size(), 2u);
  const std::regex iso(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d)");
  const std::vector<std::string> keys = {
      "tool",      "command",       "start",         "end",           "port",        "stable_name",
      "vendor_id", "product_id",    "serial_number", "unit_name",     "device_type", "version_before",
      "image",     "image_version", "image_sha256",  "version_after", "outcome",     "exit_code",
      "error",     "cause",         "device_after"};
  for (const nlohmann::ordered_json& record : run.records) {
    std::vector<std::string> named;
    for (const auto& [key, value] : record.items()) named.push_back(key);
    EXPECT_EQ(named, keys);
    EXPECT_TRUE(record["tool"].get<std::string>().starts_with("tarvik-cli 2.")) << record["tool"];
    EXPECT_EQ(record["command"], "flash");
    EXPECT_TRUE(std::regex_match(record["start"].get<std::string>(), iso)) << record["start"];
    EXPECT_TRUE(std::regex_match(record["end"].get<std::string>(), iso)) << record["end"];
    // A pseudo-terminal: no stable name, no USB facts.
    EXPECT_TRUE(record["stable_name"].is_null());
    EXPECT_TRUE(record["vendor_id"].is_null());
    EXPECT_EQ(record["version_before"], "VER 14.002.020");
    EXPECT_EQ(record["device_type"], "QTT Радиоканальный магнитоконтактный извещатель");
    EXPECT_TRUE(record["unit_name"].is_null());
    EXPECT_EQ(record["image"], 2);
    EXPECT_EQ(record["image_version"], "VER 14.002.028");
    // Of the 952 records' data in block order, as sha256sum gives it for the
    // flash the image leaves.
    EXPECT_EQ(record["image_sha256"], "3b5fbd952ff6a5aabc88b1f06dc7ed8440b061b6e23af91c12102b05e57a576a");
  }
  const nlohmann::ordered_json& success = *RecordOf(run, run.ports[0]);
  const nlohmann::ordered_json& failure = *RecordOf(run, run.ports[1]);
  EXPECT_EQ(success["version_after"], "VER 14.002.028");
  EXPECT_EQ(success["exit_code"], 0);
  EXPECT_TRUE(success["error"].is_null());
  EXPECT_EQ(failure["outcome"], "failed");
  EXPECT_EQ(failure["exit_code"], 5);
  EXPECT_TRUE(failure["version_after"].is_null());
  EXPECT_EQ(
      failure["error"],
      "В процессе перепрошивки возникли ошибки! Блок 0004 не принят устройством после трёх попыток. Память "
      "устройства стёрта: оно осталось в режиме перепрошивки без прошивки. Подключитесь к устройству снова: "
      "ему будет предложена прошивка.");
  EXPECT_EQ(failure["cause"], "group_not_taken");
  EXPECT_EQ(failure["device_after"], "erased");
  EXPECT_TRUE(success["cause"].is_null());
}

// --json: the same objects on standard output, a line each, and nothing else
// there; identify tells what flash would do.
TEST_F(CliBatch, JsonOnStandardOutputForIdentify) {
  const BatchRun run = Run({test::Detector(), test::Detector({}, "VER 14.010.001")},
                           {"identify", "PORT1", "PORT2", "--image", "2", "--json"});
  EXPECT_EQ(run.code, 4);
  const std::vector<std::string> lines = test::Lines(run.out);
  ASSERT_EQ(lines.size(), 2u) << run.out;
  std::map<std::string, nlohmann::ordered_json> byVersion;
  for (const std::string& line : lines) {
    const nlohmann::ordered_json record = nlohmann::ordered_json::parse(line);
    EXPECT_EQ(record["command"], "identify");
    byVersion[record["version_before"]] = record;
  }
  EXPECT_EQ(byVersion["VER 14.002.020"]["outcome"], "offered");
  EXPECT_EQ(byVersion["VER 14.002.020"]["exit_code"], 0);
  EXPECT_EQ(byVersion["VER 14.002.020"]["image_version"], "VER 14.002.028");
  EXPECT_EQ(byVersion["VER 14.010.001"]["outcome"], "refused");
  EXPECT_EQ(byVersion["VER 14.010.001"]["exit_code"], 4);
  EXPECT_EQ(byVersion["VER 14.010.001"]["error"], "Версия VER 14.010.001 не поддерживается");
  EXPECT_EQ(run.records.size(), 2u);
  for (const sim::SimReport& report : run.reports)
    for (const std::string& command : report.commands)
      EXPECT_TRUE(command == "v" || command == "un") << command;
}

// --all: the ports whose devices answer the search's probe, and no others.
TEST_F(CliBatch, AllTakesThePortsWhoseDevicesAnswer) {
  BatchBench bench;
  std::vector<sim::SimOptions> devices = {test::Detector(), test::Detector({"silence@v"}), test::Detector()};
  for (std::size_t i = 0; i < devices.size(); ++i)
    devices[i].linkPath = (dir_.Path() / ("ttyB" + std::to_string(i))).string();
  for (const sim::SimOptions& device : devices) bench.listed.push_back(PortNameOf(device.linkPath));
  bench.listed.push_back("tarvik-no-such-port");
  const BatchRun run = Run(devices, {"flash", "--all", "--no-rules", "--image", "2"}, bench);
  EXPECT_EQ(run.code, 0) << run.err;
  ASSERT_EQ(run.records.size(), 2u);
  EXPECT_EQ(run.reports[0].FlashRecords(), sim::ExpectedFlash(ShippedImage(2)));
  EXPECT_EQ(run.reports[2].FlashRecords(), sim::ExpectedFlash(ShippedImage(2)));
  // Asked once, by the probe, and left alone.
  EXPECT_EQ(run.reports[1].commands, std::vector<std::string>{"v"});
}

// A bench that counts on exit 0 must learn of every port --all passed over:
// the summary names each with why (held by which program, silent, not the
// protocol, not there).
TEST_F(CliBatch, AllNamesEveryPortItPassesOverAndWhy) {
  sim::DeviceSimulator held(test::Detector());
  ASSERT_TRUE(held.Start()) << held.Error();
  const test::OtherProgram terminal({"cat"}, held.SlavePath());
  BatchBench bench;
  std::vector<sim::SimOptions> devices = {test::Detector(), test::Detector({"silence@v"}),
                                          test::Detector({"garbage@v"})};
  for (std::size_t i = 0; i < devices.size(); ++i)
    devices[i].linkPath = (dir_.Path() / ("ttyB" + std::to_string(i))).string();
  for (const sim::SimOptions& device : devices) bench.listed.push_back(PortNameOf(device.linkPath));
  const std::string heldName = PortNameOf(held.SlavePath());
  bench.listed.push_back(heldName);
  bench.listed.push_back("tarvik-no-such-port");
  const BatchRun run = Run(devices, {"flash", "--all", "--no-rules", "--image", "2"}, bench);
  EXPECT_EQ(run.code, 0) << run.err;
  ASSERT_EQ(run.records.size(), 1u);
  EXPECT_EQ(run.reports[0].FlashRecords(), sim::ExpectedFlash(ShippedImage(2)));
  const std::string summary = run.out.substr(run.out.find("Итог:"));
  const std::size_t width = bench.listed[0].size();
  const auto pad = [width](std::string port) {
    port.resize(std::max(width, port.size()), ' ');
    return "  " + port + "  ";
  };
  EXPECT_TRUE(Contains(summary, "Пропущены порты:\n")) << summary;
  EXPECT_TRUE(Contains(summary, pad(bench.listed[1]) + "устройство не отвечает\n")) << summary;
  EXPECT_TRUE(Contains(
      summary, pad(bench.listed[2]) + "отвечает не как устройство, которое обслуживает программа: \""))
      << summary;
  EXPECT_TRUE(Contains(summary, pad(heldName) + "не открывается: Cannot open device " + heldName +
                                    ": the port is busy (held by cat, pid " + std::to_string(terminal.Pid()) +
                                    ")\n"))
      << summary;
  EXPECT_TRUE(Contains(summary, pad("tarvik-no-such-port") +
                                    "не открывается: Cannot open device tarvik-no-such-port: no such port"))
      << summary;
  EXPECT_TRUE(run.out.ends_with("Устройств: 1 (проверено: 1), пропущено портов: 4\n")) << run.out;
  EXPECT_TRUE(held.Report().commands.empty());
}

// --expect N: fewer answering devices than the bench has is an error found
// before anything is written.
TEST_F(CliBatch, AllWithFewerDevicesThanExpectedWritesNothing) {
  BatchBench bench;
  std::vector<sim::SimOptions> devices = {test::Detector(), test::Detector({"silence@v"}), test::Detector()};
  for (std::size_t i = 0; i < devices.size(); ++i)
    devices[i].linkPath = (dir_.Path() / ("ttyB" + std::to_string(i))).string();
  for (const sim::SimOptions& device : devices) bench.listed.push_back(PortNameOf(device.linkPath));
  struct Case {
    int expect;
    int code;
    std::size_t records;
  };
  const Case cases[] = {{3, 3, 0}, {2, 0, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expect);
    const BatchRun run =
        Run(devices, {"flash", "--all", "--no-rules", "--image", "2", "--expect", std::to_string(c.expect)},
            bench);
    EXPECT_EQ(run.code, c.code) << run.err;
    EXPECT_EQ(run.records.size(), c.records);
    if (c.code == 0) continue;
    EXPECT_EQ(run.err,
              bench.listed[1] +
                  ": устройство не отвечает\n"
                  "Отвечают устройств: 2, а ожидается не меньше 3 (--expect); ничего не записано.\n");
    for (const sim::SimReport& report : run.reports)
      EXPECT_EQ(report.commands, std::vector<std::string>{"v"});
  }
}

// ---------------------------------------------------------------------------
// The exit code of a batch: 0 only when every device was written; otherwise
// the code of the worst outcome.

TEST(CliBatchCode, WorstOutcomeDecides) {
  struct Case {
    std::vector<DeviceOutcome> outcomes;
    int code;
  };
  using O = DeviceOutcome;
  const Case cases[] = {
      {{O::Verified, O::Verified}, 0},  {{O::Verified, O::Done}, 0},
      {{O::Verified, O::UpToDate}, 6},  {{O::UpToDate, O::Refused}, 4},
      {{O::Refused, O::NoDevice}, 3},   {{O::NoDevice, O::NotVerified, O::Verified}, 8},
      {{O::NotVerified, O::Failed}, 5}, {{O::Failed, O::Interrupted, O::Verified}, 130},
      {{O::Offered, O::Offered}, 0},    {{O::Offered, O::UpToDate}, 6},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(cli::ToInt(cli::BatchExitCode(c.outcomes)), c.code);
  }
}

// ---------------------------------------------------------------------------
// The table on a terminal

TEST(CliBatchTable, LinesFitTheWidthDroppingWhatMattersLeast) {
  const cli::BatchBoard::Row row{.port = "ttyUSB10",
                                 .device = "QTT",
                                 .versions = "14.002.020 -> 14.002.028",
                                 .stage = Utf8ToCp1251("загрузка"),
                                 .total = 251,
                                 .parts = 120,
                                 .elapsed = Utf8ToCp1251("20 сек"),
                                 .remaining = Utf8ToCp1251("22 сек")};
  struct Case {
    int columns;
    std::string line;
  };
  const Case cases[] = {
      {120,
       "ttyUSB10  QTT     14.002.020 -> 14.002.028   загрузка       [#########...........]   47 %  20 сек  "
       "ещё "
       "22 сек"},
      {100,
       "ttyUSB10  QTT     14.002.020 -> 14.002.028   загрузка       [####......]   47 %  20 сек  ещё 22 сек"},
      {90, "ttyUSB10  14.002.020 -> 14.002.028   загрузка       [####......]   47 %  ещё 22 сек"},
      {80, "ttyUSB10  14.002.020 -> 14.002.028   загрузка        47 %  ещё 22 сек"},
      {50, "ttyUSB10  загрузка   47 %  ещё 22 сек"},
      {30, "ttyUSB10  загрузка   47 %"},
      {20, "ttyUSB10  загрузка "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.columns);
    const std::string line = cli::BatchBoard::RowLine(row, 8, c.columns);
    EXPECT_EQ(Cp1251ToUtf8(line), c.line);
    EXPECT_LT(line.size(), static_cast<std::size_t>(c.columns));
  }
}

// Before the first part is written there is nothing to reckon the rest
// from: the erase shows no "ещё 0 сек".
TEST(CliBatchTable, NoEstimateBeforeThereIsOne) {
  const cli::BatchBoard::Row erasing{.port = "ttyUSB0",
                                     .device = "",
                                     .versions = "",
                                     .stage = Utf8ToCp1251("очистка"),
                                     .total = 251,
                                     .parts = 0,
                                     .elapsed = Utf8ToCp1251("3 сек"),
                                     .remaining = Utf8ToCp1251("0 сек")};
  const std::string line = Cp1251ToUtf8(cli::BatchBoard::RowLine(erasing, 7, 120));
  EXPECT_TRUE(line.ends_with("очистка        [....................]    0 %  3 сек")) << line;
  cli::BatchBoard::Row writing = erasing;
  writing.parts = 1;
  EXPECT_TRUE(Cp1251ToUtf8(cli::BatchBoard::RowLine(writing, 7, 120)).ends_with("  ещё 0 сек"));
}

// The screen lines the table's last drawing took, by the clearing that
// precedes each redraw ("\x1b[NA\r\x1b[J"); -1 where a write is no clearing.
int LinesCleared(const std::string& write) {
  std::smatch m;
  static const std::regex clearing("\x1b\\[(\\d+)A\r\x1b\\[J");
  return std::regex_match(write, m, clearing) ? std::stoi(m[1]) : -1;
}

// A table taller than the terminal would leave a copy in the scrollback at
// each redraw: only what fits is drawn. After the terminal narrows, each
// line drawn before takes several screen lines, and all of them are
// cleared.
TEST(CliBatchTable, DrawsWhatFitsTheTerminalAndRedrawsAfterAResize) {
  CaptureOutput out(true, 100, 6);
  std::vector<std::string> ports;
  for (int i = 0; i < 8; ++i) ports.push_back("ttyUSB" + std::to_string(i));
  cli::BatchBoard board(out, ports, false, true);
  cli::DeviceResult known;
  known.deviceType = Utf8ToCp1251("QTT Радиоканальный магнитоконтактный извещатель");
  known.versionBefore = "VER 14.002.020";
  known.imageVersion = "VER 14.002.028";
  for (std::size_t i = 0; i < ports.size(); ++i) board.Sink(i).Known(known);
  board.Refresh();
  board.Sink(0).Progress().Stage(ReflashStage::Erasing);
  board.Refresh();
  // A terminal of 6 lines: 4 ports and a line that tells how many more.
  std::vector<std::string> lastDrawn;
  for (const std::string& write : out.OutWrites()) {
    const int cleared = LinesCleared(write);
    if (cleared >= 0) {
      EXPECT_EQ(cleared, 5);
      continue;
    }
    lastDrawn = SplitLines(write);
    EXPECT_LE(lastDrawn.size(), 5u);
  }
  ASSERT_EQ(lastDrawn.size(), 5u);
  EXPECT_EQ(Cp1251ToUtf8(lastDrawn.back()), "... и ещё портов: 4 (не помещаются на экране)");
  EXPECT_TRUE(Contains(Cp1251ToUtf8(lastDrawn.front()), "очистка")) << Cp1251ToUtf8(lastDrawn.front());

  // Narrowed to 30 columns: nothing changed on the devices, yet the table is
  // drawn anew, and every wrapped piece of the old one cleared.
  std::size_t wrapped = 0;
  for (const std::string& line : lastDrawn) wrapped += std::max<std::size_t>(1, (line.size() + 29) / 30);
  ASSERT_GT(wrapped, 5u);
  const std::size_t before = out.OutWrites().size();
  out.Resize(30, 6);
  board.Refresh();
  ASSERT_GT(out.OutWrites().size(), before + 1) << "no redraw after the resize";
  EXPECT_EQ(LinesCleared(out.OutWrites()[before]), static_cast<int>(wrapped));
  for (const std::string& line : SplitLines(out.OutWrites()[before + 1])) EXPECT_LT(line.size(), 30u);
}

TEST_F(CliBatch, TableOnATerminalIsRedrawnInPlace) {
  const BatchRun run =
      Run({test::Detector(), test::Detector()}, {"flash", "PORT1", "PORT2", "--no-rules", "--image", "2"},
          {.terminal = true, .columns = 80});
  EXPECT_EQ(run.code, 0) << run.err;
  std::size_t redraws = 0;
  for (const std::string& write : run.outWrites) {
    // Up two lines, cleared, and the table again.
    if (write == "\x1b[2A\r\x1b[J") ++redraws;
  }
  EXPECT_GT(redraws, 10u);
  // The table's lines (each redraw follows the clearing; a device's own line
  // names its port with a colon), narrower than the terminal.
  for (std::size_t i = 1; i < run.outWrites.size(); ++i) {
    if (run.outWrites[i - 1] != "\x1b[2A\r\x1b[J" || Contains(run.outWrites[i], ": ")) continue;
    for (const std::string& line : SplitLines(run.outWrites[i]))
      EXPECT_LE(line.size(), 79u) << Cp1251ToUtf8(line);
  }
  EXPECT_TRUE(Contains(run.out, "проверено")) << run.out;
  EXPECT_TRUE(run.out.ends_with("Устройств: 2 (проверено: 2)\n")) << run.out;
}

}  // namespace
}  // namespace tarvik
