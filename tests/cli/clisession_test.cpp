// tarvik-cli's commands as a library call, against a simulated device on a
// pseudo-terminal, on a clock whose pauses pass at once: what the user reads,
// what the device receives and keeps, the exit code, and the --log file.
#include "cli/clisession.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <regex>
#include <thread>

#include "cli/clitesting.h"
#include "cli/clitexts.h"
#include "cli/exitcodes.h"
#include "common/inifile.h"
#include "common/text.h"
#include "device/decideupdate.h"
#include "device/devicefixture.h"
#include "firmware/shippedcatalogue.h"
#include "serial/comportworker.h"
#include "serial/link.h"
#include "serial/otherprogram.h"
#include "serial/ser2net.h"
#include "support/tempdir.h"
#include "support/usertexts.h"

namespace tarvik {
namespace {

using cli::ExitCode;
using test::CaptureOutput;

struct Outcome {
  ExitCode code = ExitCode::Done;
  std::string out;  // UTF-8
  std::string err;  // UTF-8
  std::vector<std::string> outWrites;
  sim::SimReport report;
};

struct Bench {
  // The update.ini the program finds when --rules names none; nullopt: none.
  std::optional<std::string> updateIni{};
  bool terminal = false;
  int columns = 0;
  // Ctrl+C once the device has seen what this asks for.
  std::function<bool(const sim::SimReport&)> interruptWhen{};
  // The device reached through a server on the network, "PORT" its address;
  // the server goes once the device has seen what endServerWhen asks for.
  std::optional<test::Ser2Net::Kind> server{};
  std::function<bool(const sim::SimReport&)> endServerWhen{};
};

const std::vector<std::string>& ImageLines(int number) {
  return test::ShippedCatalogue().ImageLines()[static_cast<std::size_t>(number - 1)];
}

std::string Joined(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& item : items) out += (out.empty() ? "" : " ") + item;
  return out;
}

std::size_t CountOf(const std::vector<std::string>& items, const std::string& item) {
  return static_cast<std::size_t>(std::count(items.begin(), items.end(), item));
}

class CliSession : public ::testing::Test {
 protected:
  std::filesystem::path WriteFile(const std::string& name, const std::string& bytes) {
    const std::filesystem::path path = dir_.Path() / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  // Runs the program's arguments; "PORT" stands for the device's port.
  Outcome Run(sim::SimOptions device, std::vector<std::string> args, const Bench& bench = {}) {
    sim::DeviceSimulator sim(std::move(device));
    if (!sim.Start()) throw std::runtime_error("simulator: " + sim.Error());
    std::optional<test::Ser2Net> server;
    if (bench.server) server.emplace(sim.SlavePath(), *bench.server);
    for (std::string& arg : args) {
      if (arg == "PORT") arg = server ? server->Address() : sim.SlavePath();
    }
    std::atomic<bool> over{false};
    std::thread cut;
    if (bench.endServerWhen && server) {
      cut = std::thread([&] {
        while (!over.load()) {
          if (sim.WaitUntil(bench.endServerWhen, 20)) {
            server->End();
            return;
          }
        }
      });
    }
    Outcome outcome = RunArgs(args, bench, &sim);
    over.store(true);
    if (cut.joinable()) cut.join();
    // Bytes still on their way reach the device's report.
    sim.WaitUntil([](const sim::SimReport&) { return false; }, 30);
    outcome.report = sim.Report();
    sim.Stop();
    return outcome;
  }

  Outcome RunArgs(const std::vector<std::string>& args, const Bench& bench = {},
                  sim::DeviceSimulator* sim = nullptr) {
    if (bench.updateIni) WriteFile("update.ini", *bench.updateIni);
    test::QuickPauseClock clock;
    CaptureOutput out(bench.terminal, bench.columns);
    std::atomic<bool> interrupt{false};
    std::atomic<bool> over{false};
    std::thread button;
    if (bench.interruptWhen && sim != nullptr) {
      button = std::thread([&] {
        while (!over.load()) {
          if (sim->WaitUntil(bench.interruptWhen, 20)) {
            interrupt.store(true);
            return;
          }
        }
      });
    }
    cli::CliEnvironment env{
        .Out = out,
        .Time = clock,
        .Interrupted = [&] { return interrupt.exchange(false); },
        .ListPorts =
            [] {
              return std::vector<std::string>{"ttyS0", "ttyV0"};
            },
        .DefaultRules = [this] { return dir_.Path() / "update.ini"; },
    };
    Outcome outcome;
    outcome.code = cli::RunCli(args, env);
    over.store(true);
    if (button.joinable()) button.join();
    outcome.out = out.Out();
    outcome.err = out.Err();
    outcome.outWrites = out.OutWrites();
    return outcome;
  }

  test::TempDir dir_{"tarvik-cli-session"};
  CaptureOutput out_;
};

constexpr const char* kDoorRule = "[UpdateRules]\r\n14.002.000=20->28\r\n";

// ---------------------------------------------------------------------------
// identify: what the device is and what flash would do, without a write

struct IdentifyCase {
  const char* name = "";
  sim::SimOptions device{};
  std::optional<std::string> updateIni{};
  std::vector<std::string> extraArgs{};
  std::vector<std::string> said{};  // lines of standard output, in order
  // What flash would end with, before it writes.
  ExitCode code = ExitCode::Done;
};

TEST_F(CliSession, IdentifyTellsTheDeviceAndWhatFlashWouldDo) {
  const IdentifyCase cases[] = {
      {.name = "a rule offers an image",
       .device = test::Detector(),
       .updateIni = kDoorRule,
       .said = {"Текущая версия прошивки : VER 14.002.020",
                "Устройство: QTT Радиоканальный магнитоконтактный извещатель",
                "Доступна следующая версия для перепрошивки: VER 14.002.028 (прошивка 2)"}},
      {.name = "no rule: the images of the type to choose from",
       .device = test::Detector(),
       .said =
           {"Текущая версия прошивки : VER 14.002.020",
            "Устройство: QTT Радиоканальный магнитоконтактный извещатель",
            "Для версии VER 14.002.020 правила update.ini не выбирают прошивку: укажите её ключом --image N.",
            "Подходящие прошивки:", "    2  VER 14.002.028", "    3  VER QTT1.001.001",
            "    4  VER QTT1.001.002"},
       .code = ExitCode::Refused},
      {.name = "no rule, --image answers",
       .device = test::Detector(),
       .extraArgs = {"--image", "3"},
       .said = {"Текущая версия прошивки : VER 14.002.020",
                "Устройство: QTT Радиоканальный магнитоконтактный извещатель",
                "Доступна следующая версия для перепрошивки: VER QTT1.001.001 (прошивка 3)"}},
      {.name = "a bootloader that names a known model",
       .device = test::InBootloader("QTT3"),
       .said =
           {"Текущая версия прошивки : VER 14.012.000", "Модель: QTT3",
            "Устройство: QTT Радиоканальный магнитоконтактный извещатель (малый)",
            "Для версии VER 14.012.000 правила update.ini не выбирают прошивку: укажите её ключом --image N.",
            "Подходящие прошивки:", "    5  VER QTT3.003.001"},
       .code = ExitCode::Refused},
      {.name = "an unsupported version",
       .device = test::Detector({}, "VER 14.010.001"),
       .said = {"Текущая версия прошивки : VER 14.010.001", "Версия VER 14.010.001 не поддерживается"},
       .code = ExitCode::Refused},
      {.name = "the rules cover other builds",
       .device = test::Detector(),
       .updateIni = "[UpdateRules]\r\n14.002.000=0..10->28\r\n",
       .said = {"Текущая версия прошивки : VER 14.002.020",
                "Устройство: QTT Радиоканальный магнитоконтактный извещатель",
                "Данное устройство не требует обновления прошивки"},
       .code = ExitCode::UpToDate},
  };
  for (const IdentifyCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(dir_.Path() / "update.ini");
    std::vector<std::string> args = {"identify", "PORT"};
    args.insert(args.end(), c.extraArgs.begin(), c.extraArgs.end());
    const Outcome run = Run(c.device, args, {.updateIni = c.updateIni});
    EXPECT_EQ(cli::ToInt(run.code), cli::ToInt(c.code)) << run.err;
    EXPECT_EQ(test::Lines(run.out), c.said);
    EXPECT_EQ(run.err, "");
    // Only questions: nothing that changes the device.
    for (const std::string& command : run.report.commands)
      EXPECT_TRUE(command == "v" || command == "un") << command;
  }
}

// ---------------------------------------------------------------------------
// flash: the decision, then the image written whole or the device untouched

TEST_F(CliSession, FlashWritesTheImageTheRulesChoose) {
  // The port named by a link outside /dev, as a bench may publish one.
  sim::SimOptions device = test::Detector();
  device.linkPath = (dir_.Path() / "ttyBench").string();
  const Outcome run = Run(device, {"flash", device.linkPath}, {.updateIni = kDoorRule});
  ASSERT_EQ(run.code, ExitCode::Done) << run.err;
  EXPECT_TRUE(run.report.complete);
  EXPECT_EQ(run.report.FlashRecords(), sim::ExpectedFlash(ImageLines(2)));
  EXPECT_EQ(run.report.lastBlock, "0000");
  const std::vector<std::string> lines = test::Lines(run.out);
  ASSERT_GE(lines.size(), 7u);
  EXPECT_EQ(lines[2], "Доступна следующая версия для перепрошивки: VER 14.002.028 (прошивка 2)");
  EXPECT_EQ(lines[3], "Идет переход в режим перепрошивки...");
  EXPECT_EQ(lines[4], "Идет очистка памяти...");
  EXPECT_EQ(lines[5], "Идет загрузка новой версии прошивки...");
  EXPECT_EQ(lines[lines.size() - 2], "Перепрошивка успешно завершена!");
  // Asked once more after the settle wait, it names the image's version.
  EXPECT_EQ(lines.back(), "Проверено: устройство называет версию записанной прошивки VER 14.002.028.");
  EXPECT_EQ(run.report.commands.back(), "v");
  EXPECT_EQ(run.err, "");
}

// A port a server shares on the network, in both of its kinds: the same
// identification, the same image byte for byte (from the catalogue and from a
// HEX file), and a server that goes away
// during the writes ends the reflash as a line lost on the spot does.
TEST_F(CliSession, ThroughAServerOnTheNetwork) {
  for (const test::Ser2Net::Kind kind : {test::Ser2Net::Kind::Rfc2217, test::Ser2Net::Kind::Tcp}) {
    SCOPED_TRACE(test::Ser2Net::Scheme(kind));
    std::filesystem::remove(dir_.Path() / "update.ini");
    const Outcome identified =
        Run(test::Detector(), {"identify", "PORT"}, {.updateIni = kDoorRule, .server = kind});
    EXPECT_EQ(identified.code, ExitCode::Done) << identified.err;
    EXPECT_EQ(test::Lines(identified.out),
              (std::vector<std::string>{
                  "Текущая версия прошивки : VER 14.002.020",
                  "Устройство: QTT Радиоканальный магнитоконтактный извещатель",
                  "Доступна следующая версия для перепрошивки: VER 14.002.028 (прошивка 2)"}));

    // Its record names the port by its address; the system knows nothing more of it.
    const Outcome recorded =
        Run(test::Detector(), {"identify", "PORT", "--json"}, {.updateIni = kDoorRule, .server = kind});
    const nlohmann::json record = nlohmann::json::parse(recorded.out);
    EXPECT_TRUE(
        std::string(record["port"]).starts_with(std::string(test::Ser2Net::Scheme(kind)) + "://127.0.0.1:"));
    EXPECT_TRUE(record["stable_name"].is_null());
    EXPECT_EQ(record["version_before"], "VER 14.002.020");

    const Outcome flashed =
        Run(test::Detector(), {"flash", "PORT"}, {.updateIni = kDoorRule, .server = kind});
    ASSERT_EQ(flashed.code, ExitCode::Done) << flashed.err;
    EXPECT_TRUE(flashed.report.complete);
    EXPECT_EQ(flashed.report.FlashRecords(), sim::ExpectedFlash(ImageLines(2)));
    EXPECT_EQ(flashed.report.lastBlock, "0000");
    EXPECT_EQ(test::Lines(flashed.out).back(),
              "Проверено: устройство называет версию записанной прошивки VER 14.002.028.");
    EXPECT_EQ(flashed.err, "");

    const test::HexFile hex = test::MakeHexFile(20);
    const std::filesystem::path file = WriteFile("panel.hex", hex.text);
    const Outcome serviced = Run(test::Detector(), {"flash-hex", "PORT", file.string()}, {.server = kind});
    ASSERT_EQ(serviced.code, ExitCode::Done) << serviced.err;
    EXPECT_EQ(serviced.report.FlashRecords(), sim::ExpectedFlash(hex.imageLines));
    EXPECT_EQ(serviced.report.writes, (std::vector<std::string>{"0004", "0008", "000C", "0010", "0000"}));
    EXPECT_EQ(test::Lines(serviced.out).back(), "Перепрошивка успешно завершена!");

    const Outcome lost = Run(test::Detector(), {"flash", "PORT", "--image", "2"},
                             {.server = kind, .endServerWhen = [](const sim::SimReport& report) {
                                return report.writes.size() >= 3;
                              }});
    EXPECT_EQ(lost.code, ExitCode::Failed);
    EXPECT_EQ(
        test::Lines(lost.err).at(0),
        "В процессе перепрошивки возникли ошибки! Связь с устройством потеряна. Память устройства стёрта: "
        "оно "
        "осталось в режиме перепрошивки без прошивки. Подключитесь к устройству снова: ему будет предложена "
        "прошивка.");
    EXPECT_EQ(CountOf(lost.report.writes, "0000"), 0u);
  }
}

struct RefusalCase {
  const char* name = "";
  sim::SimOptions device{};
  std::optional<std::string> updateIni{};
  std::vector<std::string> extraArgs{};
  ExitCode code{};
  std::string firstErrorLine{};
};

TEST_F(CliSession, FlashRefusesWhereItMayNotDecideAndLeavesTheDeviceAlone) {
  const RefusalCase cases[] = {
      {.name = "no rule and no --image",
       .device = test::Detector(),
       .code = ExitCode::Refused,
       .firstErrorLine =
           "Для версии VER 14.002.020 правила update.ini не выбирают прошивку: укажите её ключом --image N."},
      {.name = "--image of another device type",
       .device = test::Detector(),
       .extraArgs = {"--image", "7"},
       .code = ExitCode::Refused,
       .firstErrorLine = "Прошивка 7 (VER 14.003.039) не подходит для версии VER 14.002.020."},
      {.name = "--image against the rules' choice",
       .device = test::Detector(),
       .updateIni = kDoorRule,
       .extraArgs = {"--image", "3"},
       .code = ExitCode::Refused,
       .firstErrorLine =
           "Правила update.ini выбирают прошивку 2 (VER 14.002.028), а --image называет прошивку 3 "
           "(VER QTT1.001.001); устройство не перепрошивалось."},
      {.name = "--no-rules needs --image although update.ini has a rule",
       .device = test::Detector(),
       .updateIni = kDoorRule,
       .extraArgs = {"--no-rules"},
       .code = ExitCode::Refused,
       .firstErrorLine =
           "Для версии VER 14.002.020 правила update.ini не выбирают прошивку: укажите её ключом --image N."},
      {.name = "the rules cover other builds",
       .device = test::Detector(),
       .updateIni = "[UpdateRules]\r\n14.002.000=0..10->28\r\n",
       .code = ExitCode::UpToDate,
       .firstErrorLine = "Данное устройство не требует обновления прошивки"},
      {.name = "a rule whose target the tool does not carry",
       .device = test::Detector(),
       .updateIni = "[UpdateRules]\r\n14.002.000=20->99\r\n",
       .code = ExitCode::Refused,
       .firstErrorLine = test::text::RuleNamesNoImage("14.002.000", "20->99")},
      // The messages name the file that was read, not the windows' update.ini.
      {.name = "an unreadable rule in a --rules file",
       .device = test::Detector(),
       .extraArgs = {"--rules", WriteFile("bench.ini", "[UpdateRules]\r\n14.002.000=20=>28\r\n").string()},
       .code = ExitCode::Refused,
       .firstErrorLine = test::text::RuleNamesNoImage("14.002.000", "20=>28", "bench.ini")},
      {.name = "a --rules file without a rule for the type",
       .device = test::Detector(),
       .extraArgs = {"--rules", WriteFile("other.ini", "[UpdateRules]\r\n14.003.000=20->39\r\n").string()},
       .code = ExitCode::Refused,
       .firstErrorLine =
           "Для версии VER 14.002.020 правила other.ini не выбирают прошивку: укажите её ключом --image N."},
      {.name = "an unsupported version",
       .device = test::Detector({}, "VER 14.010.001"),
       .extraArgs = {"--image", "2"},
       .code = ExitCode::Refused,
       .firstErrorLine = "Версия VER 14.010.001 не поддерживается"},
      {.name = "a bootloader that names no model, no --image",
       .device = test::InBootloader("XYZ"),
       .code = ExitCode::Refused,
       .firstErrorLine =
           "Подключенное устройство находится в процедуре перепрошивки и не назвало свою модель: "
           "укажите прошивку ключом --image N (см. images), её тип будет типом устройства."},
  };
  for (const RefusalCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(dir_.Path() / "update.ini");
    std::vector<std::string> args = {"flash", "PORT"};
    args.insert(args.end(), c.extraArgs.begin(), c.extraArgs.end());
    const Outcome run = Run(c.device, args, {.updateIni = c.updateIni});
    EXPECT_EQ(run.code, c.code);
    ASSERT_FALSE(test::Lines(run.err).empty());
    EXPECT_EQ(test::Lines(run.err).front(), c.firstErrorLine);
    for (const std::string& command : run.report.commands)
      EXPECT_TRUE(command == "v" || command == "un") << command;
  }
}

TEST_F(CliSession, ImageNamedForAnUnknownBootloaderDeviceIsWrittenWithoutAnotherBL) {
  const Outcome run = Run(test::InBootloader("XYZ"), {"flash", "PORT", "--image", "3"});
  ASSERT_EQ(run.code, ExitCode::Done) << run.err;
  EXPECT_EQ(run.report.FlashRecords(), sim::ExpectedFlash(ImageLines(3)));
  // Identified by "+v" and "+un"; erased next, since it sits in its bootloader.
  ASSERT_GE(run.report.commands.size(), 4u);
  EXPECT_EQ(run.report.commands[3], "BE");
  EXPECT_EQ(CountOf(run.report.commands, "BL"), 0u);
}

TEST_F(CliSession, RulesFileNamedOnTheCommandLine) {
  const std::filesystem::path rules = WriteFile("bench.ini", kDoorRule);
  const Outcome used = Run(test::Detector(), {"identify", "PORT", "--rules", rules.string()});
  EXPECT_EQ(used.code, ExitCode::Done);
  EXPECT_TRUE(Contains(used.out, "VER 14.002.028 (прошивка 2)")) << used.out;
}

// A rules file the user named that is not there, or cannot be read, would
// read as no rules at all, and --image would then decide alone: refused
// before the port is opened. (Root reads a file of any mode, so the files
// here cannot be read whoever runs the tests.)
TEST_F(CliSession, RulesFileNamedButNotThereOrUnreadableIsAFileError) {
  const std::filesystem::path folder = dir_.Path() / "rules-folder.ini";
  std::filesystem::create_directory(folder);
  const std::filesystem::path huge = WriteFile("huge.ini", kDoorRule);
  std::filesystem::resize_file(huge, (std::uintmax_t{64} << 20) + 1);
  const std::filesystem::path fifo = dir_.Path() / "fifo.ini";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::filesystem::path missing = dir_.Path() / "nothing.ini";
  struct Case {
    std::filesystem::path rules;
    std::string error;
  };
  const Case cases[] = {
      {missing, "Файл правил \"" + missing.string() + "\" не найден.\n"},
      {folder, "Не удалось прочитать файл правил \"" + folder.string() + "\": это папка, а не файл.\n"},
      {huge, "Не удалось прочитать файл правил \"" + huge.string() + "\": файл больше 64 МБ.\n"},
      {fifo,
       "Не удалось прочитать файл правил \"" + fifo.string() + "\": это именованный канал, а не файл.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rules.string());
    const Outcome run = Run(test::Detector(), {"flash", "PORT", "--rules", c.rules.string(), "--image", "2"});
    EXPECT_EQ(cli::ToInt(run.code), 1);
    EXPECT_EQ(run.err, c.error);
    EXPECT_TRUE(run.report.commands.empty()) << Joined(run.report.commands);
    EXPECT_TRUE(run.report.writes.empty());
  }
}

// ---------------------------------------------------------------------------
// No device, a failing device

TEST_F(CliSession, NoDevice) {
  const Outcome silent = Run(test::Detector({"silence@v"}), {"flash", "PORT", "--image", "2"});
  EXPECT_EQ(silent.code, ExitCode::NoDevice);
  EXPECT_EQ(silent.err, "Устройство не отвечает\n");
  EXPECT_EQ(CountOf(silent.report.commands, "v"), 4u);
}

// A port that cannot be opened says why, and names the port as the user
// typed it where it lies outside /dev.
TEST_F(CliSession, PortThatCannotBeOpenedSaysWhy) {
  const std::string plain = WriteFile("plain", "not a port").string();
  const std::string missing = (dir_.Path() / "missing").string();
  sim::DeviceSimulator held(test::Detector());
  ASSERT_TRUE(held.Start()) << held.Error();
  const test::OtherProgram terminal({"cat"}, held.SlavePath());
  const std::string heldName = held.SlavePath().substr(std::string("/dev/").size());
  struct Case {
    const char* name;
    std::string port;
    std::string err;
  };
  const Case cases[] = {
      {"missing under /dev", "/dev/tarvik-no-such-port",
       "Cannot open device tarvik-no-such-port: no such port (error 2: No such file or directory)"},
      {"missing elsewhere", missing,
       "Cannot open device " + missing + ": no such port (error 2: No such file or directory)"},
      {"a plain file", plain, "Cannot open device " + plain + ": not a serial line"},
      {"held by a terminal program", held.SlavePath(),
       "Cannot open device " + heldName + ": the port is busy (held by cat, pid " +
           std::to_string(terminal.Pid()) + ")"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome run = RunArgs({"identify", c.port});
    EXPECT_EQ(run.code, ExitCode::NoDevice);
    EXPECT_EQ(run.err, "Ошибка при открытии Com порта! " + c.err + "\n");
  }
  EXPECT_TRUE(held.Report().commands.empty()) << "nothing reached the held port";
}

struct FailureCase {
  const char* name = "";
  std::vector<std::string> faults{};
  // What follows the failure's first words: the cause, what the device is
  // left with, what to do.
  std::string cause{};
};

TEST_F(CliSession, FailedReflashSaysSoAndNeverWritesBlockZeroAfterAFailure) {
  const FailureCase cases[] = {
      {"every write echoed wrongly",
       {"wrong-echo"},
       "Блок 0004 не принят устройством после трёх попыток. Память устройства стёрта: оно осталось в режиме "
       "перепрошивки без прошивки. Подключитесь к устройству снова: ему будет предложена прошивка."},
      {"the erase never answered",
       {"silence@BE"},
       "Устройство не ответило на команду очистки памяти. Память устройства стёрта: оно осталось в режиме "
       "перепрошивки без прошивки. Подключитесь к устройству снова: ему будет предложена прошивка."},
      {"the line hung up during the writes",
       {"hangup@W#3"},
       "Связь с устройством потеряна. Память устройства стёрта: оно осталось в режиме перепрошивки без "
       "прошивки. Подключитесь к устройству снова: ему будет предложена прошивка."},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome run = Run(test::Detector(c.faults), {"flash", "PORT", "--image", "2"});
    EXPECT_EQ(run.code, ExitCode::Failed);
    // A hang-up may also be told as the link lost, once the reflash is over.
    EXPECT_EQ(test::Lines(run.err).at(0), "В процессе перепрошивки возникли ошибки! " + c.cause);
    EXPECT_FALSE(Contains(run.out, "успешно"));
    EXPECT_EQ(CountOf(run.report.writes, "0000"), 0u);
  }
}

// ---------------------------------------------------------------------------
// flash-hex: the service menu's procedure from a file

TEST_F(CliSession, FlashHexWritesTheFileWithBlockZeroLast) {
  const test::HexFile hex = test::MakeHexFile(20);
  const std::filesystem::path file = WriteFile("panel.hex", hex.text);
  const Outcome run = Run(test::Detector(), {"flash-hex", "PORT", file.string()});
  ASSERT_EQ(run.code, ExitCode::Done) << run.err;
  EXPECT_EQ(run.report.FlashRecords(), sim::ExpectedFlash(hex.imageLines));
  EXPECT_EQ(run.report.writes, (std::vector<std::string>{"0004", "0008", "000C", "0010", "0000"}));
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(test::Lines(run.out).back(), "Перепрошивка успешно завершена!");
}

// Data the device cannot take (above 64 KiB, after the end-of-file record)
// would leave it with a part of the file taken for the whole: the file is
// refused unless the user asks for the rest alone, and the count is told
// either way.
TEST_F(CliSession, FlashHexRefusesDataTheDeviceCannotTakeUnlessAsked) {
  const std::string above = sim::HexRecord(0, 4, "0001") + "\r\n" +
                            sim::HexRecord(0, 0, simtest::RecordData(99)) + "\r\n" +
                            sim::HexRecord(0, 4, "0000") + "\r\n";
  const std::string after = sim::HexRecord(0x400, 0, simtest::RecordData(98)) + "\r\n" +
                            sim::HexRecord(0x410, 0, "0102030405") + "\r\n" + ":00000001FF\r\n";
  const std::string aboveLine = "Данные выше 64 КБ не загружены, пропущено байт: 16\n";
  const std::string afterLine = "Данные после записи конца файла не загружены, пропущено байт: 21\n";
  const std::string askLine =
      "Устройство не может принять эти данные. Чтобы записать файл без них, укажите ключ "
      "--allow-dropped-data.\n";
  struct Case {
    const char* name;
    std::string beforeEnd;
    std::string afterEnd;
    bool allow;
    std::string err;  // after "Файл "..." не загружен." when refused
  };
  const Case cases[] = {
      {"above 64 KiB", above, "", false, aboveLine + askLine},
      {"above 64 KiB, asked for", above, "", true, aboveLine},
      {"after the end record", "", after, false, afterLine + askLine},
      {"after the end record, asked for", "", after, true, afterLine},
      {"both", above, after, false, aboveLine + afterLine + askLine},
      {"both, asked for", above, after, true, aboveLine + afterLine},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::HexFile hex = test::MakeHexFile(20, c.beforeEnd);
    const std::filesystem::path file = WriteFile("dropped.hex", hex.text + c.afterEnd);
    std::vector<std::string> args = {"flash-hex", "PORT", file.string()};
    if (c.allow) args.push_back("--allow-dropped-data");
    const Outcome run = Run(test::Detector(), args);
    if (c.allow) {
      EXPECT_EQ(cli::ToInt(run.code), 0) << run.err;
      EXPECT_EQ(run.err, c.err);
      EXPECT_EQ(run.report.FlashRecords(), sim::ExpectedFlash(hex.imageLines));
    } else {
      EXPECT_EQ(cli::ToInt(run.code), 1);
      EXPECT_EQ(run.err, "Файл \"" + file.string() + "\" не загружен.\n" + c.err);
      EXPECT_TRUE(run.report.commands.empty()) << Joined(run.report.commands);
    }
  }
}

TEST_F(CliSession, FlashHexFileThatCannotBeUsedSaysWhatItIs) {
  const test::HexFile hex = test::MakeHexFile(20);
  std::string damaged = hex.text;
  damaged[damaged.find("\r\n") - 1] ^= 1;  // the first record's checksum
  const std::filesystem::path bad = WriteFile("bad.hex", damaged);
  const std::filesystem::path folder = dir_.Path() / "folder.hex";
  std::filesystem::create_directory(folder);
  const std::filesystem::path fifo = dir_.Path() / "fifo.hex";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::filesystem::path huge = WriteFile("huge.hex", hex.text);
  std::filesystem::resize_file(huge, (std::uintmax_t{64} << 20) + 1);
  struct Case {
    std::filesystem::path file;
    std::string reason;
  };
  const Case cases[] = {
      {dir_.Path() / "none.hex", "Файл не найден."},
      {folder, "Не удалось прочитать файл: это папка, а не файл."},
      {fifo, "Не удалось прочитать файл: это именованный канал, а не файл."},
      {"/dev/zero", "Не удалось прочитать файл: это устройство, а не файл."},
      {huge, "Файл слишком велик для файла прошивки (67108865 байт)."},
      {bad, "Ошибка в строке 1 файла: неверная контрольная сумма"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file.string());
    const Outcome run = Run(test::Detector(), {"flash-hex", "PORT", c.file.string()});
    EXPECT_EQ(cli::ToInt(run.code), 1);
    EXPECT_EQ(run.err, "Файл \"" + c.file.string() + "\" не загружен.\n" + c.reason + "\n");
    EXPECT_TRUE(run.report.commands.empty()) << Joined(run.report.commands);
  }
}

// What a script branches on: a device that did not take the reflash (5) is
// not a device that is not there (3).
TEST_F(CliSession, FlashHexExitCodes) {
  const std::filesystem::path good = WriteFile("good.hex", test::MakeHexFile(20).text);
  struct Case {
    const char* name;
    std::optional<sim::SimOptions> device;  // none: a port that is not there
    int code;
    std::string firstErrorLine;
  };
  const Case cases[] = {
      {"the erase not answered", test::Detector({"silence@BE"}), 5,
       "ОШИБКА! Прошивка не обновлена! Не удалось стереть содержимое флэш."},
      {"a write echoed wrongly", test::Detector({"wrong-echo"}), 5,
       "ОШИБКА! Прошивка не обновлена! Не удалось записать строку из файла прошивки."},
      // Followed by the port's own text.
      {"the line hung up during the writes", test::Detector({"hangup@W#2"}), 5,
       "ОШИБКА! Прошивка не обновлена! "},
      {"no such port", std::nullopt, 3, "Ошибка при открытии Com порта!"},
      {"a silent device", test::Detector({"silence@v"}), 3, "Устройство не отвечает"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome run = c.device ? Run(*c.device, {"flash-hex", "PORT", good.string()})
                                 : RunArgs({"flash-hex", "/dev/tarvik-no-such-port", good.string()});
    EXPECT_EQ(cli::ToInt(run.code), c.code) << run.err;
    ASSERT_FALSE(test::Lines(run.err).empty());
    EXPECT_TRUE(test::Lines(run.err).front().starts_with(c.firstErrorLine)) << run.err;
    EXPECT_EQ(CountOf(run.report.writes, "0000"), 0u);
  }
}

// ---------------------------------------------------------------------------
// ports

SerialPortFacts NameOnly(const std::string& name) { return {.Name = name}; }

TEST_F(CliSession, PortsOneALineOrNoDevice) {
  cli::CliEnvironment env{.Out = out_,
                          .ListPorts =
                              [] {
                                return std::vector<std::string>{"ttyS0", "ttyV0"};
                              },
                          .DescribePort = NameOnly};
  EXPECT_EQ(cli::RunCli({"ports"}, env), ExitCode::Done);
  EXPECT_EQ(out_.Out(), "ttyS0\nttyV0\n");

  CaptureOutput none;
  cli::CliEnvironment empty{.Out = none, .ListPorts = [] { return std::vector<std::string>{}; }};
  EXPECT_EQ(cli::RunCli({"ports"}, empty), ExitCode::NoDevice);
  EXPECT_EQ(none.Err(), "Последовательных портов нет.\n");

  // A script gets an empty list, and the same code.
  CaptureOutput noneJson;
  cli::CliEnvironment emptyJson{.Out = noneJson, .ListPorts = [] { return std::vector<std::string>{}; }};
  EXPECT_EQ(cli::RunCli({"ports", "--json"}, emptyJson), ExitCode::NoDevice);
  EXPECT_EQ(noneJson.Out(), "[]\n");
}

// What the system knows of each port, from a fixed set of facts as udev or
// SetupAPI would give them.
const std::vector<SerialPortFacts>& KnownPorts() {
  static const std::vector<SerialPortFacts> ports = {
      {.Name = "ttyUSB0",
       .StableName = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0",
       .VendorId = 0x0403,
       .ProductId = 0x6001,
       .Manufacturer = "FTDI",
       .Product = "FT232R USB UART",
       .SerialNumber = "A50285BI"},
      // The product names its maker already; no serial number.
      {.Name = "ttyACM10",
       .StableName = "/dev/serial/by-id/usb-Tarvik_Tarvik_Bench_Adapter-if00",
       .VendorId = 0x1a86,
       .ProductId = 0x7523,
       .Manufacturer = "Tarvik",
       .Product = "Tarvik Bench Adapter"},
      // Names in Russian, as Windows-1251.
      {.Name = "ttyUSB1", .Manufacturer = Utf8ToCp1251("Завод"), .Product = Utf8ToCp1251("Адаптер")},
      // A stable name and nothing else.
      {.Name = "ttyUSB2", .StableName = "/dev/serial/by-id/usb-0000-if00"},
      // A port on the board, a pseudo-terminal: the name alone.
      {.Name = "ttyS0"},
      {.Name = "ttyV0"},
  };
  return ports;
}

TEST_F(CliSession, PortsTellWhatTheSystemKnowsOfEachPort) {
  cli::CliEnvironment env{.Out = out_,
                          .ListPorts =
                              [] {
                                std::vector<std::string> names;
                                for (const SerialPortFacts& port : KnownPorts()) names.push_back(port.Name);
                                return names;
                              },
                          .DescribePort =
                              [](const std::string& name) {
                                for (const SerialPortFacts& port : KnownPorts())
                                  if (port.Name == name) return port;
                                return NameOnly(name);
                              }};
  EXPECT_EQ(cli::RunCli({"ports"}, env), ExitCode::Done);
  EXPECT_EQ(test::Lines(out_.Out()),
            (std::vector<std::string>{
                "ttyUSB0   FTDI FT232R USB UART, USB 0403:6001, серийный номер A50285BI",
                "          /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0",
                "ttyACM10  Tarvik Bench Adapter, USB 1a86:7523",
                "          /dev/serial/by-id/usb-Tarvik_Tarvik_Bench_Adapter-if00",
                "ttyUSB1   Завод Адаптер",
                "ttyUSB2   /dev/serial/by-id/usb-0000-if00",
                "ttyS0",
                "ttyV0",
            }));

  CaptureOutput json;
  cli::CliEnvironment forJson{.Out = json, .ListPorts = env.ListPorts, .DescribePort = env.DescribePort};
  EXPECT_EQ(cli::RunCli({"ports", "--json"}, forJson), ExitCode::Done);
  // Plain ASCII whatever the names hold, so no code page can spoil it.
  const std::string text = json.Out();
  EXPECT_TRUE(std::all_of(text.begin(), text.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x80;
  })) << text;
  const nlohmann::json parsed = nlohmann::json::parse(text);
  ASSERT_TRUE(parsed.is_array());
  ASSERT_EQ(parsed.size(), 6u);
  EXPECT_EQ(parsed[0], nlohmann::json::parse(R"({
      "port": "ttyUSB0",
      "stable_name": "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0",
      "vendor_id": "0403", "product_id": "6001",
      "manufacturer": "FTDI", "product": "FT232R USB UART", "serial_number": "A50285BI"})"));
  EXPECT_EQ(parsed[2]["manufacturer"], "Завод");
  EXPECT_EQ(parsed[2]["product"], "Адаптер");
  EXPECT_EQ(parsed[5], nlohmann::json::parse(R"({
      "port": "ttyV0", "stable_name": null, "vendor_id": null, "product_id": null,
      "manufacturer": null, "product": null, "serial_number": null})"));
}

// The system's own reader on a pseudo-terminal, as the simulator publishes
// one: listed with its name, every fact null.
TEST_F(CliSession, PortsJsonListsAPseudoTerminal) {
  sim::SimOptions device = test::Detector();
  device.linkPath = (dir_.Path() / "ttyBench").string();
  sim::DeviceSimulator sim(device);
  ASSERT_TRUE(sim.Start()) << sim.Error();
  const std::string link = PortNameOf(device.linkPath);
  const std::string pts = PortNameOf(sim.SlavePath());
  cli::CliEnvironment env{.Out = out_, .ListPorts = [&] { return std::vector<std::string>{link, pts}; }};
  EXPECT_EQ(cli::RunCli({"ports", "--json"}, env), ExitCode::Done);
  const nlohmann::json parsed = nlohmann::json::parse(out_.Out());
  ASSERT_EQ(parsed.size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(parsed[i]["port"], i == 0 ? link : pts);
    for (const char* key :
         {"stable_name", "vendor_id", "product_id", "manufacturer", "product", "serial_number"})
      EXPECT_TRUE(parsed[i][key].is_null()) << key;
  }
}

// ---------------------------------------------------------------------------
// --wait: a fixture being plugged in

TEST_F(CliSession, WaitForAPortThatNeverComesEndsAsWithoutIt) {
  const std::string missing = (dir_.Path() / "ttyLater").string();
  test::QuickPauseClock clock;
  const std::uint64_t start = clock.NowMs();
  cli::CliEnvironment env{.Out = out_, .Time = clock};
  EXPECT_EQ(cli::RunCli({"identify", missing, "--wait", "30"}, env), ExitCode::NoDevice);
  EXPECT_EQ(out_.Out(), "Порта " + missing + " нет, ожидание до 30 сек...\n");
  EXPECT_EQ(out_.Err(), "Ошибка при открытии Com порта! Cannot open device " + missing +
                            ": no such port (error 2: No such file or directory)\n");
  // Waited out on the clock, not by the wall.
  EXPECT_GE(clock.NowMs() - start, 30000u);
  EXPECT_LT(clock.NowMs() - start, 31000u);
}

TEST_F(CliSession, WaitForAPortEndsWithCtrlC) {
  test::QuickPauseClock clock;
  int polls = 0;
  cli::CliEnvironment env{.Out = out_,
                          .Time = clock,
                          .Interrupted = [&] { return ++polls == 5; },
                          .PortPresent = [](const std::string&) { return false; }};
  EXPECT_EQ(cli::RunCli({"flash", "ttyUSB7", "--wait", "600", "--image", "2"}, env), ExitCode::Interrupted);
  EXPECT_EQ(out_.Err(), "Прервано.\n");
  EXPECT_EQ(polls, 5);
}

// A port that is there is not waited for: no message, no time.
TEST_F(CliSession, WaitForAPortThatIsThereTakesNoTime) {
  const Outcome run = Run(test::Detector(), {"identify", "PORT", "--wait", "30", "--image", "2"});
  EXPECT_EQ(run.code, ExitCode::Done) << run.err;
  EXPECT_FALSE(Contains(run.out, "ожидание")) << run.out;
}

// ---------------------------------------------------------------------------
// Ctrl+C

TEST_F(CliSession, InterruptStopsBetweenCommandsAndReleasesThePort) {
  const std::filesystem::path file = WriteFile("long.hex", test::MakeHexFile(80).text);
  struct Case {
    const char* what;
    std::vector<std::string> args;  // PORT stands for the device's port
  };
  const Case cases[] = {
      {"a catalogue image", {"flash", "PORT", "--image", "2"}},
      {"a file", {"flash-hex", "PORT", file.string()}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim::DeviceSimulator device(test::Detector());
    ASSERT_TRUE(device.Start());
    std::vector<std::string> args = c.args;
    std::replace(args.begin(), args.end(), std::string("PORT"), device.SlavePath());
    const Bench bench{.interruptWhen = [](const sim::SimReport& r) { return r.writes.size() >= 5; }};
    const Outcome run = RunArgs(args, bench, &device);
    device.WaitUntil([](const sim::SimReport&) { return false; }, 30);
    const sim::SimReport report = device.Report();
    EXPECT_EQ(run.code, ExitCode::Interrupted);
    EXPECT_TRUE(Contains(run.err, "Перепрошивка прервана")) << run.err;
    // Every command arrived whole, the device was not left believing its
    // firmware complete, and the port is free again.
    EXPECT_TRUE(report.malformed.empty());
    EXPECT_EQ(report.strayBytes, 0u);
    EXPECT_FALSE(report.complete);
    EXPECT_EQ(CountOf(report.writes, "0000"), 0u);
    TComPortWorker again(test::PortName(device.SlavePath()), false, nullptr);
    EXPECT_NO_THROW(again.Open());
    device.Stop();
  }
}

// Ctrl+C pressed once the reflash has failed, while the failure's own step
// (the bar closed on the terminal) is still being served: there is nothing
// left to stop, so the failure is told as it is, without "closing" words.
TEST_F(CliSession, InterruptAfterTheOutcomeChangesNothing) {
  sim::DeviceSimulator device(test::Detector({"silence@BE"}));
  ASSERT_TRUE(device.Start());
  test::QuickPauseClock clock;
  CaptureOutput out(true, 80);
  bool asked = false;
  cli::CliEnvironment env{
      .Out = out,
      .Time = clock,
      .Interrupted =
          [&] {
            const auto& writes = out.OutWrites();
            asked = asked || (!writes.empty() && writes.back() == "\n");
            return asked;
          },
      .ListPorts = [] { return std::vector<std::string>{}; },
      .DefaultRules = [this] { return dir_.Path() / "update.ini"; },
  };
  EXPECT_EQ(cli::RunCli({"flash", device.SlavePath(), "--image", "2", "--no-rules"}, env), ExitCode::Failed);
  EXPECT_FALSE(asked) << "Ctrl+C was taken after the outcome";
  EXPECT_FALSE(Contains(out.Err(), "Завершение обмена")) << out.Err();
  EXPECT_TRUE(Contains(out.Err(), "В процессе перепрошивки возникли ошибки!")) << out.Err();
  device.Stop();
}

// On a single port as in a batch: the first Ctrl+C lets the command under
// way be answered (here a write the device holds 3 s), and only then stops.
TEST_F(CliSession, FirstCtrlCLetsTheCommandUnderWayBeAnswered) {
  sim::DeviceSimulator device(test::Detector({"slow=3000@W#3"}));
  ASSERT_TRUE(device.Start()) << device.Error();
  test::QuickPauseClock clock(10000);
  std::uint64_t pressedAt = 0;
  bool pressed = false;
  cli::CliEnvironment env{
      .Out = out_,
      .Time = clock,
      .Interrupted =
          [&] {
            if (pressed || device.Report().writes.size() < 3) return false;
            pressed = true;
            pressedAt = clock.NowMs();
            return true;
          },
      .ListPorts = [] { return std::vector<std::string>{}; },
  };
  EXPECT_EQ(cli::RunCli({"flash", device.SlavePath(), "--image", "2", "--no-rules"}, env),
            ExitCode::Interrupted);
  ASSERT_TRUE(pressed);
  // The tool's time went on while it waited for the held answer.
  EXPECT_GE(clock.NowMs() - pressedAt, 3000u) << "the write under way was cut short";
  device.WaitUntil([](const sim::SimReport&) { return false; }, 30);
  EXPECT_EQ(device.Report().writes.size(), 3u) << "nothing after the stop";
  device.Stop();
}

// The second Ctrl+C ends every wait at once: on the real clock, an erase
// that is never answered is not waited out (15 s).
TEST_F(CliSession, SecondCtrlCEndsTheWaitsAtOnce) {
  sim::DeviceSimulator device(test::Detector({"silence@BE"}));
  ASSERT_TRUE(device.Start()) << device.Error();
  int presses = 0;
  cli::CliEnvironment env{
      .Out = out_,
      .Time = SystemClock(),
      .Interrupted =
          [&] {
            const std::vector<std::string> commands = device.Report().commands;
            if (presses == 2 || std::find(commands.begin(), commands.end(), "BE") == commands.end())
              return false;
            ++presses;
            return true;
          },
      .ListPorts = [] { return std::vector<std::string>{}; },
  };
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(cli::RunCli({"flash", device.SlavePath(), "--image", "2", "--no-rules"}, env),
            ExitCode::Interrupted);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(12))
      << "the erase's time-out was waited out";
  EXPECT_EQ(presses, 2);
  device.WaitUntil([](const sim::SimReport&) { return false; }, 30);
  const sim::SimReport report = device.Report();
  EXPECT_EQ(CountOf(report.commands, "BE"), 1u);
  EXPECT_TRUE(report.writes.empty());
  device.Stop();
}

TEST_F(CliSession, InterruptDuringIdentification) {
  const Bench bench{.interruptWhen = [](const sim::SimReport& r) { return !r.commands.empty(); }};
  const Outcome run = Run(test::Detector({"silence@v"}), {"flash", "PORT", "--image", "2"}, bench);
  EXPECT_EQ(run.code, ExitCode::Interrupted);
  EXPECT_EQ(run.err, "Прервано.\n");
}

// ---------------------------------------------------------------------------
// The --log file

TEST_F(CliSession, LogFileHoldsTheMessageLogsLinesAndGrowsFromRunToRun) {
  const std::filesystem::path log = dir_.Path() / "bench.log";
  sim::SimOptions device = test::Detector();
  device.linkPath = (dir_.Path() / "ttyBench").string();
  // No rule: flash would need --image.
  ASSERT_EQ(Run(device, {"identify", device.linkPath, "--log", log.string()}).code, ExitCode::Refused);
  const std::string first = ReadFileBytes(log);
  ASSERT_EQ(Run(device, {"identify", device.linkPath, "--log", log.string()}).code, ExitCode::Refused);
  const std::string both = ReadFileBytes(log);
  ASSERT_EQ(both.size(), 2 * first.size());
  EXPECT_EQ(both.substr(0, first.size()), first);

  // Every line: the time in ISO 8601 with milliseconds and the offset, the
  // port as the user named it, the text, CR LF; the reply's own line ends
  // marked.
  ASSERT_TRUE(first.ends_with("\r\n"));
  std::vector<std::string> texts;
  const std::regex line(R"((\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d) (\S+) (.*))");
  for (std::string_view rest = first; !rest.empty();) {
    const std::size_t end = rest.find("\r\n");
    const std::string one(rest.substr(0, end));
    rest.remove_prefix(end + 2);
    EXPECT_EQ(one.find_first_of("\r\n"), std::string::npos);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(one, m, line)) << one;
    EXPECT_EQ(m[2], device.linkPath);
    texts.push_back(m[3]);
  }
  EXPECT_EQ(texts, (std::vector<std::string>{
                       "$$$: ", "#com<-: +v<CR>", "@com->: VER 14.002.020<CR><LF>OK<CR><LF>",
                       "$$$: ", "#com<-: +v<CR>", "@com->: VER 14.002.020<CR><LF>OK<CR><LF>",
                       // What the user read, as Windows-1251 bytes.
                       Utf8ToCp1251("Текущая версия прошивки : VER 14.002.020"),
                       Utf8ToCp1251("Устройство: QTT Радиоканальный магнитоконтактный извещатель"),
                       Utf8ToCp1251("Для версии VER 14.002.020 правила update.ini не выбирают прошивку: "
                                    "укажите её ключом --image N."),
                       Utf8ToCp1251("Подходящие прошивки:"), "    2  VER 14.002.028",
                       "    3  VER QTT1.001.001", "    4  VER QTT1.001.002"}));
}

// A FIFO's open waits for a reader for ever, with Ctrl+C only polled: a log
// or record path that is no regular file is refused before the port, as the
// rules and HEX files are. (The test keeps a reader on the FIFO, so a tool
// that opened it would go on rather than hang.)
TEST_F(CliSession, LogOrRecordThatIsNoRegularFileIsRefusedBeforeThePort) {
  const std::filesystem::path fifo = dir_.Path() / "bench.fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  const std::filesystem::path folder = dir_.Path() / "records";
  std::filesystem::create_directory(folder);
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string err;
  };
  const Case cases[] = {
      {"--log on a FIFO",
       {"flash", "PORT", "--image", "2", "--log", fifo.string()},
       "Не удалось записать журнал в \"" + fifo.string() + "\": это именованный канал, а не файл.\n"},
      {"--record on a FIFO",
       {"flash", "PORT", "--image", "2", "--record", fifo.string()},
       "Не удалось записать отчёт в \"" + fifo.string() + "\": это именованный канал, а не файл.\n"},
      {"identify --record on a folder",
       {"identify", "PORT", "--record", folder.string()},
       "Не удалось записать отчёт в \"" + folder.string() + "\": это папка, а не файл.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome run = Run(test::Detector(), c.args);
    EXPECT_EQ(cli::ToInt(run.code), 1);
    EXPECT_EQ(run.err, c.err);
    EXPECT_TRUE(run.report.commands.empty()) << Joined(run.report.commands);
  }
  ::close(reader);
}

// One port named twice in a batch would find itself busy by the tool's own
// hand: bad usage, told before any port is opened, however it is named.
TEST_F(CliSession, SamePortTwiceIsBadUsage) {
  sim::SimOptions device = test::Detector();
  device.linkPath = (dir_.Path() / "ttyBench").string();
  sim::DeviceSimulator sim(device);
  ASSERT_TRUE(sim.Start()) << sim.Error();
  const std::string pts = sim.SlavePath();
  struct Case {
    const char* name;
    std::vector<std::string> ports;
    std::string err;
  };
  const Case cases[] = {
      {"the same text", {pts, pts}, "Порт " + pts + " назван дважды.\n"},
      {"spelt another way",
       {pts, "/dev/pts/../" + PortNameOf(pts)},
       "Порт /dev/pts/../" + PortNameOf(pts) + " назван дважды: это тот же порт, что и " + pts + ".\n"},
      {"through a link",
       {device.linkPath, pts},
       "Порт " + pts + " назван дважды: это тот же порт, что и " + device.linkPath + ".\n"},
      {"a server's port, its scheme spelt another way",
       {"rfc2217://bench:4000", "RFC2217://bench:4000/"},
       "Порт RFC2217://bench:4000/ назван дважды: это тот же порт, что и rfc2217://bench:4000.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = {"flash"};
    args.insert(args.end(), c.ports.begin(), c.ports.end());
    args.insert(args.end(), {"--image", "2"});
    const Outcome run = RunArgs(args);
    EXPECT_EQ(run.code, ExitCode::Usage);
    EXPECT_EQ(run.err, c.err);
  }
  EXPECT_TRUE(sim.Report().commands.empty()) << Joined(sim.Report().commands);
  sim.Stop();
}

// A name with a slash is a path from the current folder, as a shell user
// means "./run/t1", not a place under /dev.
TEST_F(CliSession, RelativePortPathIsTakenFromTheCurrentFolder) {
  sim::SimOptions device = test::Detector();
  std::filesystem::create_directory(dir_.Path() / "run");
  device.linkPath = (dir_.Path() / "run" / "t1").string();
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(dir_.Path());
  for (const char* typed : {"./run/t1", "run/t1"}) {
    SCOPED_TRACE(typed);
    const Outcome run = Run(device, {"identify", typed, "--image", "2"});
    EXPECT_EQ(run.code, ExitCode::Done) << run.err;
    EXPECT_TRUE(Contains(run.out, "Текущая версия прошивки : VER 14.002.020")) << run.out;
  }
  std::filesystem::current_path(before);
}

// Records are appended: a bench keeps one file for many runs, and a second
// run must leave the first one's lines as they were.
TEST_F(CliSession, RecordFileGrowsFromRunToRun) {
  const std::filesystem::path record = dir_.Path() / "bench.jsonl";
  ASSERT_EQ(Run(test::Detector(), {"identify", "PORT", "--image", "2", "--record", record.string()}).code,
            ExitCode::Done);
  const std::string first = ReadFileBytes(record);
  ASSERT_EQ(test::Count(first, "\n"), 1u) << first;
  ASSERT_EQ(Run(test::Detector(), {"identify", "PORT", "--image", "2", "--record", record.string()}).code,
            ExitCode::Done);
  const std::string both = ReadFileBytes(record);
  EXPECT_EQ(test::Count(both, "\n"), 2u) << both;
  EXPECT_TRUE(both.starts_with(first));
}

TEST_F(CliSession, LogFileThatCannotBeOpenedStopsBeforeThePort) {
  const Outcome run =
      Run(test::Detector(), {"flash", "PORT", "--log", (dir_.Path() / "no" / "log").string()});
  EXPECT_EQ(run.code, ExitCode::FileError);
  EXPECT_TRUE(run.report.commands.empty());
}

// ---------------------------------------------------------------------------
// How the progress looks where the output goes

TEST_F(CliSession, ProgressIsPlainLinesUnlessTheOutputIsATerminal) {
  const Outcome plain = Run(test::Detector(), {"flash", "PORT", "--image", "2"});
  ASSERT_EQ(plain.code, ExitCode::Done);
  EXPECT_EQ(plain.out.find('\r'), std::string::npos);
  std::vector<std::string> percents;
  for (const std::string& line : test::Lines(plain.out)) {
    if (Contains(line, " %")) percents.push_back(line.substr(0, line.find(' ')));
  }
  EXPECT_EQ(percents,
            (std::vector<std::string>{"10", "20", "30", "40", "50", "60", "70", "80", "90", "100"}));
  EXPECT_EQ(test::Count(plain.out, "Идет загрузка новой версии прошивки..."), 1u);

  const Outcome terminal =
      Run(test::Detector(), {"flash", "PORT", "--image", "2"}, {.terminal = true, .columns = 60});
  ASSERT_EQ(terminal.code, ExitCode::Done);
  std::size_t redraws = 0;
  for (const std::string& write : terminal.outWrites) {
    if (!write.starts_with("\r[")) continue;
    ++redraws;
    EXPECT_LE(write.size(), 60u) << write;
  }
  EXPECT_GT(redraws, 50u);
  EXPECT_TRUE(Contains(terminal.out, "\r[####################] 100 %")) << terminal.out;
  const std::vector<std::string> lines = test::Lines(terminal.out);
  EXPECT_EQ(lines[lines.size() - 2], "Перепрошивка успешно завершена!");

  const Outcome quiet = Run(test::Detector(), {"flash", "PORT", "--image", "2", "--quiet"});
  EXPECT_EQ(quiet.code, ExitCode::Done);
  EXPECT_EQ(quiet.out,
            "Перепрошивка успешно завершена!\n"
            "Проверено: устройство называет версию записанной прошивки VER 14.002.028.\n");
}

}  // namespace
}  // namespace tarvik
