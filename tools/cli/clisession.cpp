#include "cli/clisession.h"

#include <algorithm>
#include <fstream>
#include <optional>

#include "cli/batchrun.h"
#include "cli/clitexts.h"
#include "cli/console.h"
#include "cli/devicerecord.h"
#include "cli/devicerun.h"
#include "cli/hurriedclock.h"
#include "cli/logfile.h"
#include "cli/portlisting.h"
#include "cli/progress.h"
#include "common/inifile.h"
#include "common/text.h"
#include "common/uisync.h"
#include "connect/portsearch.h"
#include "firmware/hexfile.h"
#include "firmware/selection.h"
#include "serial/link.h"
#include "serial/portfacts.h"
#include "serial/portlist.h"

namespace tarvik::cli {
namespace {

// A single device's texts go straight to the program's streams, with its
// progress on one line.
class DirectSink final : public DeviceSink {
 public:
  DirectSink(CliOutput& out, bool quiet) : out_(out), progress_(out, quiet) {}
  void Line(Stream stream, const std::string& text) override { out_.Write(stream, text + "\n"); }
  ProgressSink& Progress() override { return progress_; }

 private:
  CliOutput& out_;
  ProgressPrinter progress_;
};

// An answer that is not the protocol's, as one line of at most a few dozen
// characters: it may be noise of any length.
std::string ShownAnswer(const std::string& answer) {
  constexpr std::size_t kShownChars = 40;
  std::string shown;
  for (const char c : Trim(answer)) {
    if (shown.size() == kShownChars) {
      shown += "...";
      break;
    }
    shown += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
  }
  return shown;
}

class Session final {
 public:
  Session(const CliOptions& options, CliEnvironment& env) : options_(options), env_(env), out_(env.Out) {}

  ExitCode Run();

 private:
  ExitCode Ports();
  ExitCode Images();
  ExitCode DeviceCommand();
  bool LoadCatalogue();
  bool LoadHexFile();
  // The ports whose devices answer the automatic search's probe; the others
  // go to passedOver_ with why.
  std::vector<std::string> AnsweringPorts();
  // False (and said) when two names of the command line reach one port.
  bool PortsDistinct();
  // False (and said) when a --log or --record path is no file to append to.
  bool WritablePath(const std::filesystem::path& path, bool log);
  ExitCode OneDevice();
  ExitCode Batch(const std::vector<std::string>& ports);
  // --record and --json, as each device ends.
  void Recorded(const DeviceResult& result);
  // A line on standard error; log: also into the --log file.
  void Tell(const std::string& text, bool log = true);

  const CliOptions& options_;
  CliEnvironment& env_;
  CliOutput& out_;
  LogFile log_;
  FirmwareCatalogue catalogue_;
  std::filesystem::path rulesFile_;
  HexGrid grid_;
  std::ofstream record_;
  bool recordFailed_ = false;
  // --all: each port the search passed over, with why.
  std::vector<PassedPort> passedOver_;
};

ExitCode Session::Run() {
  switch (options_.command) {
    case Command::Help:
      out_.Write(Stream::Out, UsageText());
      return ExitCode::Done;
    case Command::Version:
      out_.Write(Stream::Out, VersionText() + "\n");
      return ExitCode::Done;
    case Command::Ports:
      return Ports();
    case Command::Images:
      return Images();
    case Command::Identify:
    case Command::Flash:
    case Command::FlashHex:
      break;
  }
  const ExitCode code = DeviceCommand();
  const bool logLost = log_.IsOpen() && !log_.Good();
  if (logLost) {
    // The file no longer takes lines: say so here, where nothing is logged.
    Tell(LogFileErrorText(PathText(*options_.log)), false);
  }
  if (recordFailed_) Tell(RecordFileErrorText(PathText(*options_.record)));
  // A bench keeps the record and the log for traceability: a device served
  // without its trace is not a success.
  if ((logLost || recordFailed_) && (code == ExitCode::Done || code == ExitCode::UpToDate))
    return ExitCode::NotRecorded;
  return code;
}

void Session::Tell(const std::string& text, bool log) {
  out_.Write(Stream::Err, text + "\n");
  if (log && log_.IsOpen()) {
    const std::string port = options_.ports.empty() ? std::string() : options_.ports.front();
    log_.WriteLine(FormatIsoDateTime(env_.Time.WallNow()) + " " + port + " " + text);
  }
}

ExitCode Session::Ports() {
  std::vector<SerialPortFacts> ports;
  for (const std::string& name : env_.ListPorts ? env_.ListPorts() : SystemSerialPorts()) {
    ports.push_back(env_.DescribePort ? env_.DescribePort(name) : DescribeSerialPort(name));
  }
  // A script reads an empty list as well as a full one.
  if (options_.json) out_.Write(Stream::Out, PortListingJson(ports) + "\n");
  if (ports.empty()) {
    Tell(NoPortsText(), false);
    return ExitCode::NoDevice;
  }
  if (!options_.json) out_.Write(Stream::Out, PortListingText(ports));
  return ExitCode::Done;
}

ExitCode Session::Images() {
  if (!LoadCatalogue()) return ExitCode::FileError;
  const std::vector<FirmwareVersion>& images = catalogue_.FirmwareImages();
  for (std::size_t i = 0; i < images.size(); ++i) {
    const std::string number = PaddedColumn(std::to_string(i + 1), 3, false);
    const std::string name = DeviceTypeName(catalogue_, images[i]);
    std::string line = number + "  " + PaddedColumn(images[i].VersionText, 20, true) + name;
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out_.Write(Stream::Out, line + "\n");
  }
  return ExitCode::Done;
}

bool Session::LoadCatalogue() {
  try {
    catalogue_.LoadCatalogue(env_.Catalogue);
    return true;
  } catch (const std::exception& e) {
    Tell(CatalogueErrorText(e.what()));
    return false;
  }
}

bool Session::LoadHexFile() {
  const std::string path = PathText(options_.hexFile);
  HexFileLoad file = tarvik::LoadHexFile(options_.hexFile);
  if (!file.Ok()) {
    // Why the file could not be read ends with a full stop here, as in the
    // command line's other file messages.
    Tell(
        HexNotLoadedText(path, file.ReadProblem.empty() ? file.Error : FileUnreadableText(file.ReadProblem)));
    return false;
  }
  // The device would take the rest for the whole file: written only when the
  // user asks for it, and the count told either way.
  const std::vector<std::string> leftOut = LeftOutLines(file.Load);
  if (!leftOut.empty() && !options_.allowDroppedData) {
    Tell(HexNotLoadedText(path, leftOut.front()));
    for (std::size_t i = 1; i < leftOut.size(); ++i) Tell(leftOut[i]);
    Tell(AllowDroppedDataText());
    return false;
  }
  for (const std::string& line : leftOut) Tell(line);
  grid_ = std::move(file.Load.Grid);
  return true;
}

bool Session::WritablePath(const std::filesystem::path& path, bool log) {
  // Only a regular file is opened (created when missing), or the log on a
  // terminal: the open of a FIFO waits for a reader for ever, deaf to
  // Ctrl+C, and a device may block or act on the open itself.
  std::error_code error;
  const std::filesystem::file_type type = std::filesystem::status(path, error).type();
  if (type == std::filesystem::file_type::regular || type == std::filesystem::file_type::not_found ||
      type == std::filesystem::file_type::none || (log && IsTerminalPath(path))) {
    return true;
  }
  const std::string problem = FileReadProblem({.status = FileReadStatus::NotAFile, .type = type});
  Tell(log ? LogFileNotAFileText(PathText(path), problem) : RecordFileNotAFileText(PathText(path), problem),
       false);
  return false;
}

bool Session::PortsDistinct() {
  // The same device by another name: "ttyUSB0" and "/dev/ttyUSB0", or a
  // link to it. A batch would find it held by itself.
  const auto sameAs = [](const std::string& typed) {
    const ParsedLinkAddress parsed = ParseLinkAddress(typed);
    if (parsed.Address.Kind != LinkKind::Serial) return parsed.Ok() ? parsed.Address.Name() : typed;
    const std::string& name = parsed.Address.Port;
    std::error_code error;
    const std::filesystem::path real =
        std::filesystem::canonical(std::filesystem::path("/dev") / name, error);
    return error ? name : real.string();
  };
  std::vector<std::string> seen;
  for (const std::string& port : options_.ports) {
    const std::string key = sameAs(port);
    const auto first = std::find(seen.begin(), seen.end(), key);
    if (first != seen.end()) {
      Tell(PortNamedTwiceText(options_.ports[static_cast<std::size_t>(first - seen.begin())], port), false);
      return false;
    }
    seen.push_back(key);
  }
  return true;
}

ExitCode Session::DeviceCommand() {
  if (!PortsDistinct()) return ExitCode::Usage;
  if (options_.log && !WritablePath(*options_.log, true)) return ExitCode::FileError;
  if (options_.record && !WritablePath(*options_.record, false)) return ExitCode::FileError;
  if (options_.log && !log_.Open(*options_.log)) {
    Tell(LogFileErrorText(PathText(*options_.log)), false);
    return ExitCode::FileError;
  }
  if (options_.record) {
    record_.open(*options_.record, std::ios::binary | std::ios::app);
    if (!record_.is_open()) {
      Tell(RecordFileErrorText(PathText(*options_.record)));
      return ExitCode::FileError;
    }
  }
  if (!LoadCatalogue()) return ExitCode::FileError;
  if (options_.image) {
    const std::size_t count = catalogue_.FirmwareImages().size();
    if (static_cast<std::size_t>(*options_.image) > count) {
      Tell(ImageNumberUnknownText(*options_.image, count));
      return ExitCode::Usage;
    }
  }
  if (options_.rules) {
    // Named on purpose: a file that is missing or cannot be read must not
    // pass for a file without rules.
    const FileRead read = ReadSettingsFile(*options_.rules);
    if (read.status == FileReadStatus::Missing) {
      Tell(RulesFileMissingText(PathText(*options_.rules)));
      return ExitCode::FileError;
    }
    if (read.status != FileReadStatus::Read) {
      Tell(RulesFileNotReadText(PathText(*options_.rules), FileReadProblem(read)));
      return ExitCode::FileError;
    }
    rulesFile_ = *options_.rules;
  } else if (!options_.noRules && env_.DefaultRules) {
    rulesFile_ = env_.DefaultRules();
  }
  if (options_.command == Command::FlashHex && !LoadHexFile()) return ExitCode::FileError;
  if (options_.all) {
    const std::vector<std::string> ports = AnsweringPorts();
    const bool tooFew = options_.expect && ports.size() < static_cast<std::size_t>(*options_.expect);
    if (ports.empty() || tooFew || options_.json) {
      // No summary follows (or none on standard output): each port passed
      // over is told here.
      for (const PassedPort& passed : passedOver_) Tell(passed.port + ": " + passed.why);
    }
    if (ports.empty()) {
      Tell(NoAnsweringPortsText());
      return ExitCode::NoDevice;
    }
    if (tooFew) {
      Tell(FewerDevicesText(ports.size(), *options_.expect));
      return ExitCode::NoDevice;
    }
    return Batch(ports);
  }
  if (options_.ports.size() > 1) return Batch(options_.ports);
  return OneDevice();
}

std::vector<std::string> Session::AnsweringPorts() {
  UiStepQueue sync;
  const std::vector<std::string> listed = env_.ListPorts ? env_.ListPorts() : SystemSerialPorts();
  const std::vector<PortProbe> probed = ProbeEveryPort(
      listed, {.Log = SilentDeviceEvents(), .Sync = sync, .Catalogue = &catalogue_, .Time = env_.Time});
  std::vector<std::string> ports;
  for (std::size_t i = 0; i < listed.size(); ++i) {
    const PortProbe& probe = probed[i];
    switch (probe.verdict) {
      case ProbeVerdict::Accepted:
        ports.push_back(listed[i]);
        break;
      case ProbeVerdict::NotOpened:
        passedOver_.push_back({listed[i], PortNotOpenedText(probe.detail)});
        break;
      case ProbeVerdict::Silent:
        passedOver_.push_back({listed[i], PortSilentText()});
        break;
      case ProbeVerdict::Foreign:
        passedOver_.push_back({listed[i], PortForeignText(ShownAnswer(probe.detail))});
        break;
      case ProbeVerdict::Failed:
        passedOver_.push_back({listed[i], PortProbeFailedText(probe.detail)});
        break;
    }
  }
  return ports;
}

ExitCode Session::OneDevice() {
  DirectSink sink(out_, options_.quiet || options_.json);
  HurriedClock clock(env_.Time);
  const DeviceRunSetup setup{.Options = options_,
                             .Port = options_.ports.front(),
                             .Catalogue = catalogue_,
                             .Rules = rulesFile_,
                             .Grid = &grid_,
                             .Time = clock,
                             .StopAsked = env_.Interrupted,
                             .HurryAsked = env_.Interrupted,
                             .Log = log_.IsOpen() ? &log_ : nullptr,
                             .PortPresent = env_.PortPresent};
  const DeviceResult result = RunDevice(setup, sink);
  Recorded(result);
  return result.code;
}

ExitCode Session::Batch(const std::vector<std::string>& ports) {
  const std::vector<DeviceResult> results = RunBatch({.Options = options_,
                                                      .Ports = ports,
                                                      .Catalogue = catalogue_,
                                                      .Rules = rulesFile_,
                                                      .Time = env_.Time,
                                                      .DeviceClock = env_.DeviceClock,
                                                      .Out = out_,
                                                      .Interrupted = env_.Interrupted,
                                                      .Log = log_.IsOpen() ? &log_ : nullptr,
                                                      .PortPresent = env_.PortPresent,
                                                      .Ended = [this](const DeviceResult& r) { Recorded(r); },
                                                      .Summary = !options_.json,
                                                      .Listed = options_.all,
                                                      .PassedOver = passedOver_});
  std::vector<DeviceOutcome> outcomes;
  for (const DeviceResult& result : results) outcomes.push_back(result.outcome);
  return BatchExitCode(outcomes);
}

void Session::Recorded(const DeviceResult& result) {
  if (env_.Ended) env_.Ended(result);
  if (!options_.record && !options_.json) return;
  const LinkAddress address =
      options_.all ? SerialPortAddress(result.port) : ParseLinkAddress(result.port).Address;
  // The system knows nothing of a port a server shares on the network.
  SerialPortFacts facts{.Name = address.Name()};
  if (address.Kind == LinkKind::Serial) {
    facts = env_.DescribePort ? env_.DescribePort(address.Port) : DescribeSerialPort(address.Port);
  }
  const std::string line = DeviceRecordJson(options_.command, result, facts);
  if (options_.json) out_.Write(Stream::Out, line + "\n");
  if (record_.is_open()) {
    // Whole lines only, each written through at once, so a run cut short
    // keeps every device that had ended.
    record_ << line << '\n';
    record_.flush();
    if (!record_) recordFailed_ = true;
  }
}

}  // namespace

ExitCode RunCli(const std::vector<std::string>& args, CliEnvironment& env) {
  const ParsedArguments parsed = ParseArguments(args);
  if (!parsed.Ok()) {
    env.Out.Write(Stream::Err,
                  "tarvik-cli: " + parsed.error + "\n" + Utf8ToCp1251("Справка: tarvik-cli --help") + "\n");
    return ExitCode::Usage;
  }
  Session session(parsed.options, env);
  const ExitCode code = session.Run();
  // Where the command would have ended well, a result that never reached
  // its reader must not pass for one that did.
  if (env.Out.OutFailed() && (code == ExitCode::Done || code == ExitCode::UpToDate)) {
    env.Out.Write(Stream::Err, "tarvik-cli: " + OutputFailedText() + "\n");
    return ExitCode::OutputFailed;
  }
  return code;
}

}  // namespace tarvik::cli
