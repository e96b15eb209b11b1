#include "cli/clisession.h"

#include <algorithm>
#include <array>
#include <memory>
#include <optional>

#include "cli/clitexts.h"
#include "cli/console.h"
#include "cli/logfile.h"
#include "cli/portlisting.h"
#include "cli/progress.h"
#include "common/inifile.h"
#include "common/text.h"
#include "common/uisync.h"
#include "device/connection.h"
#include "device/controller.h"
#include "device/decideupdate.h"
#include "device/mainthread.h"
#include "firmware/hexfile.h"
#include "firmware/selection.h"
#include "outqueue/outarray.h"
#include "reflash/durations.h"
#include "reflash/reflashview.h"
#include "reflash/servicereflash.h"
#include "reflash/updatethread.h"
#include "serial/deviceerror.h"
#include "serial/portfacts.h"
#include "serial/portlist.h"

namespace tarvik::cli {
namespace {

// The one window object whose queued text the program shows: the status
// pane where the connection tells that the line was lost. The program has no
// windows and only tells it apart from the others, which it leaves null.
char noticePaneTag;
UiObject* NoticePaneHandle() { return reinterpret_cast<UiObject*>(&noticePaneTag); }

// --wait looks for the port this often; a fixture takes far longer to come
// back, and the system's list costs little to read.
constexpr std::uint32_t kPortPollMs = 100;
constexpr std::uint32_t kPortSettleMs = 250;

std::string Padded(std::string text, std::size_t width, bool left) {
  if (text.size() < width) text.insert(left ? text.size() : 0, width - text.size(), ' ');
  return text;
}

std::string TypeNameOf(const FirmwareCatalogue& catalogue, const FirmwareVersion& version) {
  const int type = FindDeviceType(catalogue, version);
  return type < 0 ? std::string() : catalogue.DeviceTypes()[static_cast<std::size_t>(type)].DisplayName;
}

// Answers the questions a window would ask with --image, or records that
// one was asked.
class CliDecisionView final : public DecisionView {
 public:
  CliDecisionView(const FirmwareCatalogue& catalogue, std::optional<int> image)
      : catalogue_(catalogue), image_(image) {}

  int ChooseDeviceType(const std::vector<std::string>&) override {
    if (!image_) return -1;
    return FindDeviceType(catalogue_, catalogue_.FirmwareImages()[static_cast<std::size_t>(*image_)]);
  }
  int ChoosePreferredFirmware(const std::string&, const std::vector<ImageChoice>& images, bool) override {
    choices_ = images;
    if (!image_) return -1;
    const bool fits = std::any_of(images.begin(), images.end(),
                                  [&](const ImageChoice& choice) { return choice.ImageIndex == *image_; });
    return fits ? *image_ : -1;
  }
  // The boxes the decision shows (a warning box too, which falls back to
  // this one), in order.
  void ShowInformation(const std::string& text) override { notices_.push_back(text); }
  void OfferImage(int imageIndex) override { offered_ = imageIndex; }
  void ReportUnsupported(const std::string& text) override { reports_.push_back(text); }
  // The command ends the connection itself once the decision is in.
  void RequestDisconnect() override {}

  const std::vector<ImageChoice>& Choices() const { return choices_; }
  const std::vector<std::string>& Reports() const { return reports_; }
  const std::vector<std::string>& Notices() const { return notices_; }
  int Offered() const { return offered_; }

 private:
  const FirmwareCatalogue& catalogue_;
  // 0-based.
  std::optional<int> image_;
  std::vector<ImageChoice> choices_;
  std::vector<std::string> notices_;
  std::vector<std::string> reports_;
  int offered_ = -1;
};

// The reflash window's steps, shown as the progress line.
class CliReflashView final : public ReflashView {
 public:
  explicit CliReflashView(ProgressPrinter& progress) : progress_(progress) {}
  void MarkRunning() override {}
  void ShowFailure() override { progress_.Finish(); }
  void ShowStage(const std::string& text) override { progress_.Stage(text); }
  void ShowProgress(std::int32_t total, std::int32_t partsComplete) override {
    progress_.Progress(total, partsComplete);
  }
  void ShowElapsed(const std::string& text) override { progress_.Elapsed(text); }
  void ShowRemaining(const std::string& text) override { progress_.Remaining(text); }
  void DisableExit() override {}
  void ShowSuccess() override { progress_.Finish(); }

 private:
  ProgressPrinter& progress_;
};

// The service reflash counts only parts; the times are worked out here as
// the reflash window works them out.
class CliServiceView final : public ServiceReflashView {
 public:
  CliServiceView(ProgressPrinter& progress, Clock& clock)
      : progress_(progress), clock_(clock), start_(clock.WallNow()) {}
  void ShowProgress(std::int32_t total, std::int32_t partsComplete) override {
    const std::uint32_t elapsed = ElapsedSeconds(clock_.WallNow(), start_);
    progress_.Progress(total, partsComplete);
    progress_.Elapsed(FormatDuration(elapsed));
    progress_.Remaining(FormatDuration(RemainingSeconds(elapsed, partsComplete, total)));
  }
  void ShowError(const std::string& text) override { error_ = text; }
  const std::string& Error() const { return error_; }

 private:
  ProgressPrinter& progress_;
  Clock& clock_;
  const std::chrono::system_clock::time_point start_;
  std::string error_;
};

// What the decision leaves for the command to do.
struct Plan {
  // What the decision told on its way (the rules file could not be read).
  std::vector<std::string> notices;
  // The image to write (0-based), or why there is none.
  std::optional<int> image;
  ExitCode refusal = ExitCode::Refused;
  std::vector<std::string> lines;
};

class Session final : public ControllerUi, public MainThreadSteps {
 public:
  Session(const CliOptions& options, CliEnvironment& env)
      : options_(options), env_(env), out_(env.Out), progress_(env.Out, options.quiet), queue_(env.Time) {}

  ExitCode Run();

  // ControllerUi: only the notice pane is read.
  UiObject* DisconnectButton() override { return nullptr; }
  std::array<UiObject*, 5> LockableMenus() override { return {}; }
  UiObject* VersionPane() override { return nullptr; }
  void SetBusyCursor(bool) override {}
  void HideVersionChoice() override {}
  UiObject* NoticePane() override { return NoticePaneHandle(); }

  // MainThreadSteps, run on this thread.
  void PublishIdentity(TController& controller) override;
  void ResetFlashState() override {}
  void DecideUpdate(TController& controller) override;

 private:
  ExitCode Ports();
  ExitCode Images();
  ExitCode DeviceCommand();
  bool LoadCatalogue();
  bool LoadHexFile();
  ExitCode OnDevice();
  // --wait: until the port is there or the time is up; false when the user
  // interrupted first.
  bool WaitForPort(const std::string& port, int seconds);
  ExitCode Flash(TConnection& connection);
  ExitCode FlashHex(TConnection& connection);
  // Starts a task on the connection and serves it to its end; false when the
  // connection would not take it. Ctrl+C stops it only until decided() holds
  // (its outcome is settled): after that there is nothing left to stop, and
  // the outcome is told as it is.
  bool RunTask(TConnection& connection, std::unique_ptr<ConnectionTask> task,
               const std::function<bool()>& decided);
  Plan MakePlan() const;
  void PrintIdentity();
  std::vector<std::string> ChoiceLines(const std::vector<ImageChoice>& choices) const;
  std::string VersionOfImage(int index) const;

  // A line for the user on standard output or error; log: also into the
  // --log file, after the traffic lines so far.
  void Say(const std::string& text, bool log = true);
  void Tell(const std::string& text, bool log = true);
  // What the device is and what it gets: said, or with --quiet only logged.
  void Inform(const std::string& text);
  void Drain();
  // Serves the workers' steps and the queue until done() holds; false when
  // the user interrupted first.
  bool Wait(const std::function<bool()>& done);
  void Serve(const std::function<bool()>& done);

  const CliOptions& options_;
  CliEnvironment& env_;
  CliOutput& out_;
  ProgressPrinter progress_;
  LogFile log_;
  FirmwareCatalogue catalogue_;
  std::filesystem::path rulesFile_;
  HexGrid grid_;
  // The thread that runs the session serves the workers' steps.
  UiStepQueue sync_;
  TOutArray queue_;

  // Written by the steps, on this thread.
  bool decided_ = false;
  std::string versionLine_;
  std::string unitName_;
  FirmwareVersion version_;
  std::optional<CliDecisionView> view_;
  DecisionOutcome decision_ = DecisionOutcome::FirmwareCancelled;
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
  Drain();
  if (log_.IsOpen() && !log_.Good()) {
    // The file no longer takes lines: say so here, where nothing is logged.
    progress_.Break();
    out_.Write(Stream::Err, LogFileErrorText(PathText(*options_.log)) + "\n");
  }
  return code;
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
    const std::string number = Padded(std::to_string(i + 1), 3, false);
    const std::string name = TypeNameOf(catalogue_, images[i]);
    std::string line = number + "  " + Padded(images[i].VersionText, 20, true) + name;
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

ExitCode Session::DeviceCommand() {
  if (options_.log && !log_.Open(*options_.log)) {
    Tell(LogFileErrorText(PathText(*options_.log)), false);
    return ExitCode::FileError;
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
  return OnDevice();
}

// An open error names the port as the worker reached it; a path outside
// /dev it reaches as "../path", which the user never typed.
std::string NamedAsTyped(const std::string& message, const std::string& opened, const std::string& typed) {
  const std::string named = CannotOpenText(opened);
  if (!opened.starts_with("../") || !message.starts_with(named)) return message;
  return CannotOpenText(typed) + message.substr(named.size());
}

ExitCode Session::OnDevice() {
  TConnection connection({.Queue = queue_, .Memo = nullptr, .Ui = *this, .Sync = sync_, .Time = env_.Time});
  const std::string port = PortNameOf(options_.ports.front());
  if (options_.waitSeconds && !WaitForPort(port, *options_.waitSeconds)) {
    Tell(InterruptedText());
    return ExitCode::Interrupted;
  }
  try {
    connection.Open(port);
  } catch (const EDeviceError& e) {
    Tell(OpenPortErrorText(NamedAsTyped(e.what(), port, options_.ports.front()), e.OpenFailure));
    return ExitCode::NoDevice;
  } catch (const std::exception& e) {
    Tell(OpenPortErrorText(e));
    return ExitCode::NoDevice;
  }
  connection.StartIdentification(*this);
  const bool answered = Wait(
      [&] { return decided_ || connection.MainThread() == nullptr || connection.MainThread()->Finished(); });
  if (!answered) {
    connection.Close();
    Drain();
    Tell(InterruptedText());
    return ExitCode::Interrupted;
  }
  if (!decided_) {
    connection.Close();
    Drain();
    // The main worker thread has logged it already.
    Tell(NoAnswerText(), false);
    return ExitCode::NoDevice;
  }
  PrintIdentity();
  const ExitCode code = options_.command == Command::FlashHex ? FlashHex(connection) : Flash(connection);
  connection.Close();
  return code;
}

bool Session::WaitForPort(const std::string& port, int seconds) {
  const auto present = [&] { return env_.PortPresent ? env_.PortPresent(port) : SerialPortPresent(port); };
  if (present()) return true;
  Inform(WaitingForPortText(options_.ports.front(), seconds));
  const std::uint64_t start = env_.Time.NowMs();
  const std::uint64_t limit = static_cast<std::uint64_t>(seconds) * 1000;
  for (;;) {
    if (env_.Interrupted && env_.Interrupted()) return false;
    const std::uint64_t waited = env_.Time.NowMs() - start;
    // Not there in time: the open that follows tells it as without --wait.
    if (waited >= limit) return true;
    env_.Time.SleepMs(static_cast<std::uint32_t>(std::min<std::uint64_t>(kPortPollMs, limit - waited)));
    if (present()) {
      // A device just plugged in gets its permissions a moment after its
      // node appears.
      env_.Time.SleepMs(kPortSettleMs);
      return true;
    }
  }
}

void Session::PublishIdentity(TController& controller) {
  versionLine_ = controller.Identity.VersionLine;
  unitName_ = controller.Identity.UnitName;
  version_ = controller.Identity.Version;
}

void Session::DecideUpdate(TController& controller) {
  if (options_.command != Command::FlashHex) {
    view_.emplace(catalogue_, options_.image ? std::optional<int>(*options_.image - 1) : std::nullopt);
    decision_ = tarvik::DecideUpdate(controller.Identity, catalogue_, rulesFile_, *view_);
  }
  decided_ = true;
}

void Session::PrintIdentity() {
  Inform(CurrentVersionLabelText() + " " + versionLine_);
  if (!unitName_.empty()) Inform(UnitNameLabel() + " " + unitName_);
  const std::string type = TypeNameOf(catalogue_, version_);
  if (!type.empty()) Inform(DeviceTypeLabel() + " " + type);
}

std::string Session::VersionOfImage(int index) const {
  return catalogue_.FirmwareImages()[static_cast<std::size_t>(index)].VersionText;
}

std::vector<std::string> Session::ChoiceLines(const std::vector<ImageChoice>& choices) const {
  std::vector<std::string> lines = {ImageListHead()};
  for (const ImageChoice& choice : choices) {
    lines.push_back(Padded(std::to_string(choice.ImageIndex + 1), 5, false) + "  " + choice.Text);
  }
  return lines;
}

Plan Session::MakePlan() const {
  Plan plan;
  plan.notices = view_->Notices();
  const std::optional<int> wanted = options_.image ? std::optional<int>(*options_.image - 1) : std::nullopt;
  switch (decision_) {
    case DecisionOutcome::Offered:
      // An image the rules chose is written only if --image, when given,
      // names the same one: neither may be overruled without a word.
      if (wanted && *wanted != view_->Offered()) {
        plan.lines.push_back(RulesDisagreeText(view_->Offered() + 1, VersionOfImage(view_->Offered()),
                                               *wanted + 1, VersionOfImage(*wanted)));
      } else {
        plan.image = view_->Offered();
      }
      break;
    case DecisionOutcome::NoImageForType:
      // The type came from --image and the rules are silent on it: the image
      // the user named is the answer, where the window would stop without one.
      plan.image = wanted;
      break;
    case DecisionOutcome::Unsupported:
      plan.lines = view_->Reports();
      break;
    case DecisionOutcome::NoUpdateNeeded:
      // What the box said is the whole answer.
      plan.refusal = ExitCode::UpToDate;
      plan.lines = std::move(plan.notices);
      plan.notices.clear();
      break;
    case DecisionOutcome::FirmwareCancelled:
      if (view_->Choices().empty()) {
        plan.lines.push_back(NoImagesForVersionText(versionLine_));
        break;
      }
      plan.lines.push_back(wanted ? ImageDoesNotFitText(*wanted + 1, VersionOfImage(*wanted), versionLine_)
                                  : NeedsImageText(versionLine_));
      for (std::string& line : ChoiceLines(view_->Choices())) plan.lines.push_back(std::move(line));
      break;
    case DecisionOutcome::DeviceTypeCancelled:
      plan.lines.push_back(wanted ? ImageOfNoTypeText(*wanted + 1, VersionOfImage(*wanted))
                                  : BootloaderNeedsImageText());
      break;
    default:
      // An outcome that offers nothing and has said why in its box (a rule
      // at fault): refused, and the box's text is the reason.
      break;
  }
  if (plan.image) plan.refusal = ExitCode::Done;
  return plan;
}

ExitCode Session::Flash(TConnection& connection) {
  const Plan plan = MakePlan();
  if (options_.command == Command::Identify) {
    for (const std::string& line : plan.notices) Say(line);
    if (plan.image) Say(OfferedText(*plan.image + 1, VersionOfImage(*plan.image)));
    for (const std::string& line : plan.lines) Say(line);
    return ExitCode::Done;
  }
  for (const std::string& line : plan.notices) Tell(line);
  if (!plan.image) {
    for (const std::string& line : plan.lines) Tell(line);
    return plan.refusal;
  }
  Inform(OfferedText(*plan.image + 1, VersionOfImage(*plan.image)));

  TController* controller = connection.Controller();
  CliReflashView view(progress_);
  auto task = std::make_unique<TUpdateThread>(sync_, env_.Time);
  TUpdateThread& reflash = *task;
  task->SetDevice(controller->Identity);
  task->SetImageLines(catalogue_.ImageLines()[static_cast<std::size_t>(*plan.image)]);
  task->SetController(controller);
  task->SetStartTime(env_.Time.WallNow());
  task->SetView(&view);
  const auto decided = [&reflash] {
    const ReflashOutcome outcome = reflash.Outcome();
    return outcome != ReflashOutcome::NotRun && outcome != ReflashOutcome::Running;
  };
  if (!RunTask(connection, std::move(task), decided)) {
    Tell(ReflashFailedText());
    return ExitCode::Failed;
  }
  switch (reflash.Outcome()) {
    case ReflashOutcome::Succeeded:
      // Also when the stop came in the settle wait: the image was written whole.
      Say(ReflashSucceededText());
      return ExitCode::Done;
    case ReflashOutcome::Failed:
      Tell(ReflashFailedText());
      return ExitCode::Failed;
    case ReflashOutcome::NotRun:
    case ReflashOutcome::Running:
    case ReflashOutcome::Stopped:
      break;
  }
  Tell(ReflashInterruptedText());
  return ExitCode::Interrupted;
}

ExitCode Session::FlashHex(TConnection& connection) {
  CliServiceView view(progress_, env_.Time);
  auto task = std::make_unique<TServiceReflash>(TServiceReflash::Setup{.Controller = *connection.Controller(),
                                                                       .Queue = queue_,
                                                                       .Memo = nullptr,
                                                                       .View = view,
                                                                       .Sync = sync_,
                                                                       .Time = env_.Time},
                                                &grid_);
  TServiceReflash& reflash = *task;
  const auto decided = [&reflash] { return reflash.Outcome() != ServiceReflashOutcome::NotStarted; };
  if (!RunTask(connection, std::move(task), decided)) {
    Tell(ReflashFailedText());
    return ExitCode::Failed;
  }
  // The procedure has logged its failure lines itself.
  switch (reflash.Outcome()) {
    case ServiceReflashOutcome::Settled:
      Say(ReflashSucceededText());
      return ExitCode::Done;
    case ServiceReflashOutcome::EraseFailed:
      Tell(EraseFailedText(), false);
      return ExitCode::Failed;
    case ServiceReflashOutcome::WriteFailed:
      Tell(WriteFailedText(), false);
      return ExitCode::Failed;
    case ServiceReflashOutcome::Error:
      Tell(view.Error(), false);
      return ExitCode::Failed;
    case ServiceReflashOutcome::Stopped:
      Tell(ReflashInterruptedText());
      return ExitCode::Interrupted;
    case ServiceReflashOutcome::NotStarted:
    case ServiceReflashOutcome::NothingToSend:
      break;
  }
  Tell(ReflashFailedText());
  return ExitCode::Failed;
}

bool Session::RunTask(TConnection& connection, std::unique_ptr<ConnectionTask> task,
                      const std::function<bool()>& decided) {
  ConnectionTask& running = *task;
  if (!connection.StartTask(std::move(task))) return false;
  const auto finished = [&] { return !connection.TaskRunning(); };
  if (!Wait([&] { return finished() || decided(); })) {
    // Between two commands, as the reflash window's exit button stops it:
    // the command under way is answered or times out first.
    running.Thread().Stop();
    Tell(ClosingText(), false);
  }
  Serve(finished);
  progress_.Break();
  return true;
}

void Session::Say(const std::string& text, bool log) {
  progress_.Break();
  out_.Write(Stream::Out, text + "\n");
  if (log) queue_.PushMemoLine(nullptr, text, true, true);
}

void Session::Tell(const std::string& text, bool log) {
  progress_.Break();
  out_.Write(Stream::Err, text + "\n");
  if (log) queue_.PushMemoLine(nullptr, text, true, true);
}

void Session::Inform(const std::string& text) {
  // identify has nothing else to say.
  if (options_.quiet && options_.command != Command::Identify) {
    queue_.PushMemoLine(nullptr, text, true, true);
  } else {
    Say(text);
  }
}

void Session::Drain() {
  TOutElement* element = nullptr;
  while (queue_.Pop(element) != kOutNone) {
    switch (element->Kind) {
      case kOutMemo: {
        const auto& memo = static_cast<const TMemoOut&>(*element);
        if (!memo.AddLine) break;
        // Each line names its time with the offset and its port, so the logs
        // of several ports and machines can share a file and still be read
        // apart and in order.
        const std::string line =
            FormatIsoDateTime(memo.When) + " " + options_.ports.front() + " " + memo.Text.substr(memo.BodyAt);
        log_.WriteLine(line);
        if (options_.verbose) {
          progress_.Break();
          out_.Write(Stream::Err, MarkLineBreaks(line) + "\n");
        }
        break;
      }
      case kOutStatus: {
        // What the status bar would tell about the connection (the link lost).
        const auto& status = static_cast<const TStatusOut&>(*element);
        if (status.Panel == NoticePane() && !status.Text.empty()) Tell(status.Text);
        break;
      }
      default:
        // Controls and menus of the windows: nothing to show here.
        break;
    }
  }
}

bool Session::Wait(const std::function<bool()>& done) {
  bool interrupted = false;
  sync_.WaitServicing([&] {
    Drain();
    if (done()) return true;
    interrupted = env_.Interrupted && env_.Interrupted();
    return interrupted;
  });
  return !interrupted;
}

void Session::Serve(const std::function<bool()>& done) {
  sync_.WaitServicing([&] {
    Drain();
    return done();
  });
}

}  // namespace

std::string PortNameOf(const std::string& text) {
  for (const std::string_view prefix : {std::string_view("/dev/"), std::string_view("\\\\.\\")}) {
    if (text.rfind(prefix, 0) == 0) return text.substr(prefix.size());
  }
  // Any other absolute path (a simulated port linked elsewhere) is reached
  // from /dev, where the POSIX port worker starts.
  if (text.size() > 1 && text.front() == '/') return ".." + text;
  return text;
}

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
