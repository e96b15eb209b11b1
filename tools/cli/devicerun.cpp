#include "cli/devicerun.h"

#include <algorithm>
#include <array>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>

#include "cli/clitexts.h"
#include "common/inifile.h"
#include "common/sha256.h"
#include "common/text.h"
#include "common/uisync.h"
#include "device/connection.h"
#include "device/controller.h"
#include "device/decideupdate.h"
#include "device/mainthread.h"
#include "firmware/selection.h"
#include "reflash/durations.h"
#include "reflash/reflashreport.h"
#include "reflash/reflashview.h"
#include "reflash/servicereflash.h"
#include "reflash/updatethread.h"
#include "serial/deviceerror.h"
#include "serial/link.h"
#include "serial/portlist.h"

namespace tarvik::cli {
namespace {

// --wait looks for the port this often; a fixture takes far longer to come
// back, and the system's list costs little to read.
constexpr std::uint32_t kPortPollMs = 100;
constexpr std::uint32_t kPortSettleMs = 250;

// ":", byte count, address and record type, then 32 digits of data.
constexpr std::size_t kRecordDataAt = 9;
constexpr std::size_t kRecordDataDigits = 32;

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
  explicit CliReflashView(ProgressSink& progress) : progress_(progress) {}
  void MarkRunning() override {}
  void ShowFailure(const ReflashReport&) override { progress_.Finish(); }
  void ShowStage(ReflashStage stage) override { progress_.Stage(stage); }
  void ShowProgress(std::int32_t total, std::int32_t partsComplete) override {
    progress_.Progress(total, partsComplete);
  }
  void ShowElapsed(const std::string& text) override { progress_.Elapsed(text); }
  void ShowRemaining(const std::string& text) override { progress_.Remaining(text); }
  void DisableExit() override {}
  void ShowSuccess(const ReflashReport&) override { progress_.Finish(); }

 private:
  ProgressSink& progress_;
};

// The service reflash counts only parts; the times are worked out here as
// the reflash window works them out.
class CliServiceView final : public ServiceReflashView {
 public:
  CliServiceView(ProgressSink& progress, Clock& clock)
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
  ProgressSink& progress_;
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

// What the connection told from its threads, kept in the order told until
// the thread that runs the device shows it: the log lines, and the lost line
// among them.
class ToldLines {
 public:
  struct Line {
    std::chrono::system_clock::time_point when{};
    std::string text;
    // The line was lost: told to the user, in its place among the log lines.
    bool lineLost = false;
  };
  void Push(Line line) {
    const std::lock_guard lock(mutex_);
    lines_.push_back(std::move(line));
  }
  std::optional<Line> Pop() {
    const std::lock_guard lock(mutex_);
    if (lines_.empty()) return std::nullopt;
    Line line = std::move(lines_.front());
    lines_.pop_front();
    return line;
  }

 private:
  std::mutex mutex_;
  std::deque<Line> lines_;
};

class DeviceRun final : public DeviceEvents, public MainThreadSteps {
 public:
  DeviceRun(const DeviceRunSetup& setup, DeviceSink& sink)
      : setup_(setup),
        options_(setup.Options),
        catalogue_(setup.Catalogue),
        sink_(sink),
        progress_(sink.Progress()) {
    result_.port = setup.Port;
  }

  DeviceResult Run();

  // DeviceEvents: the port opened on this thread; the others come from any
  // thread and wait in told_ for this one. The windows' locks, cursor and
  // panes have nothing here to show.
  void Connected(const std::string&) override { result_.portOpened = true; }
  void LineLost(const std::string&) override { told_.Push({.when = {}, .text = {}, .lineLost = true}); }
  void LogLine(TimePoint when, const std::string& text) override { told_.Push({.when = when, .text = text}); }
  void OutcomeLine(TimePoint when, const std::string& text) override {
    told_.Push({.when = when, .text = text});
  }

  // MainThreadSteps, run on this thread.
  void PublishIdentity(TController& controller) override;
  void ResetFlashState() override {}
  void DecideUpdate(TController& controller) override;

 private:
  ExitCode OnDevice();
  // --wait: until the port is there or the time is up; false when the user
  // interrupted first.
  bool WaitForPort(const std::string& port, int seconds);
  ExitCode Flash(TConnection& connection);
  ExitCode FlashHex(TConnection& connection);
  // After a reflash that got through: what the device named against the
  // image's version line.
  ExitCode Verify(const ReflashReport& report);
  // Starts a task on the connection and serves it to its end; false when the
  // connection would not take it. Ctrl+C stops it only until decided() holds
  // (its outcome is settled): after that there is nothing left to stop, and
  // the outcome is told as it is.
  bool RunTask(TConnection& connection, std::unique_ptr<ConnectionTask> task,
               const std::function<bool()>& decided);
  Plan MakePlan() const;
  // The rules file as the messages name it.
  std::string RulesName() const {
    return setup_.Rules.empty() ? std::string(kRulesFileName) : PathText(setup_.Rules.filename());
  }
  void PrintIdentity();
  std::vector<std::string> ChoiceLines(const std::vector<ImageChoice>& choices) const;
  std::string VersionOfImage(int index) const;
  void SetImage(int index);

  // A line for the user on standard output or error; log: also into the
  // --log file, after the traffic lines so far.
  void Say(const std::string& text, bool log = true);
  void Tell(const std::string& text, bool log = true);
  // What the device is and what it gets: said, or with --quiet only logged.
  void Inform(const std::string& text);
  // What the connection told, and the lines said meanwhile, in their order:
  // into the --log file, with --verbose on standard error too.
  void ShowTold();
  // Serves the workers' steps and what they tell until done() holds; false when
  // the user interrupted first.
  bool Wait(const std::function<bool()>& done);
  // The same without a stop; a second request to stop hurries the clock.
  void Serve(const std::function<bool()>& done);

  const DeviceRunSetup& setup_;
  const CliOptions& options_;
  const FirmwareCatalogue& catalogue_;
  DeviceSink& sink_;
  ProgressSink& progress_;
  // The thread that runs the device serves its workers' steps.
  UiStepQueue sync_;
  ToldLines told_;
  DeviceResult result_;
  // The user asked to stop a task under way.
  bool stopTaken_ = false;

  // Written by the steps, on this thread.
  bool decided_ = false;
  std::string versionLine_;
  std::string unitName_;
  FirmwareVersion version_;
  std::optional<CliDecisionView> view_;
  DecisionOutcome decision_ = DecisionOutcome::FirmwareCancelled;
};

DeviceOutcome OutcomeOfCode(ExitCode code) {
  switch (code) {
    case ExitCode::Done:
      return DeviceOutcome::Done;
    case ExitCode::UpToDate:
      return DeviceOutcome::UpToDate;
    case ExitCode::Refused:
      return DeviceOutcome::Refused;
    case ExitCode::Failed:
      return DeviceOutcome::Failed;
    case ExitCode::NotVerified:
      return DeviceOutcome::NotVerified;
    case ExitCode::Interrupted:
      return DeviceOutcome::Interrupted;
    default:
      return DeviceOutcome::NoDevice;
  }
}

DeviceResult DeviceRun::Run() {
  result_.start = setup_.Time.WallNow();
  // An outcome the run names itself (verified, offered) stays; the others
  // follow from the code.
  result_.outcome = DeviceOutcome::NoDevice;
  const ExitCode code = OnDevice();
  ShowTold();
  const bool named = code == ExitCode::Done && (result_.outcome == DeviceOutcome::Verified ||
                                                result_.outcome == DeviceOutcome::Offered);
  if (!named) result_.outcome = OutcomeOfCode(code);
  result_.code = code;
  result_.end = setup_.Time.WallNow();
  return result_;
}

// An open error names the port as the worker reached it; a path outside
// /dev it reaches as "../path", which the user never typed.
std::string NamedAsTyped(const std::string& message, const std::string& opened, const std::string& typed) {
  const std::string named = CannotOpenText(opened);
  if (!opened.starts_with("../") || !message.starts_with(named)) return message;
  return CannotOpenText(typed) + message.substr(named.size());
}

ExitCode DeviceRun::OnDevice() {
  TConnection connection({.Events = *this, .Sync = sync_, .Time = setup_.Time});
  const ParsedLinkAddress address = setup_.Listed
                                        ? ParsedLinkAddress{.Address = SerialPortAddress(setup_.Port)}
                                        : ParseLinkAddress(setup_.Port);
  const std::string port = address.Address.Port;
  if (options_.waitSeconds && address.Address.Kind == LinkKind::Serial &&
      !WaitForPort(port, *options_.waitSeconds)) {
    Tell(InterruptedText());
    return ExitCode::Interrupted;
  }
  try {
    connection.Open(address.Take());
  } catch (const EDeviceError& e) {
    Tell(OpenPortErrorText(NamedAsTyped(e.what(), port, setup_.Port), e.OpenFailure));
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
    ShowTold();
    Tell(InterruptedText());
    return ExitCode::Interrupted;
  }
  if (!decided_) {
    connection.Close();
    ShowTold();
    // The main worker thread has logged it already.
    Tell(NoAnswerText(), false);
    return ExitCode::NoDevice;
  }
  PrintIdentity();
  const ExitCode code = options_.command == Command::FlashHex ? FlashHex(connection) : Flash(connection);
  connection.Close();
  return code;
}

bool DeviceRun::WaitForPort(const std::string& port, int seconds) {
  const auto present = [&] {
    return setup_.PortPresent ? setup_.PortPresent(port) : SerialPortPresent(port);
  };
  if (present()) return true;
  Inform(WaitingForPortText(setup_.Port, seconds));
  Clock& time = setup_.Time;
  const std::uint64_t start = time.NowMs();
  const std::uint64_t limit = static_cast<std::uint64_t>(seconds) * 1000;
  for (;;) {
    if (setup_.StopAsked && setup_.StopAsked()) return false;
    const std::uint64_t waited = time.NowMs() - start;
    // Not there in time: the open that follows tells it as without --wait.
    if (waited >= limit) return true;
    time.SleepMs(static_cast<std::uint32_t>(std::min<std::uint64_t>(kPortPollMs, limit - waited)));
    if (present()) {
      // A device just plugged in gets its permissions a moment after its
      // node appears.
      time.SleepMs(kPortSettleMs);
      return true;
    }
  }
}

void DeviceRun::PublishIdentity(TController& controller) {
  versionLine_ = controller.Identity.VersionLine;
  unitName_ = controller.Identity.UnitName;
  version_ = controller.Identity.Version;
}

void DeviceRun::DecideUpdate(TController& controller) {
  if (options_.command != Command::FlashHex) {
    view_.emplace(catalogue_, options_.image ? std::optional<int>(*options_.image - 1) : std::nullopt);
    decision_ = tarvik::DecideUpdate(controller.Identity, catalogue_, setup_.Rules, *view_);
  }
  decided_ = true;
}

void DeviceRun::PrintIdentity() {
  Inform(CurrentVersionLabelText() + " " + versionLine_);
  if (!unitName_.empty()) Inform(UnitNameLabel() + " " + unitName_);
  const std::string type = DeviceTypeName(catalogue_, version_);
  if (!type.empty()) Inform(DeviceTypeLabel() + " " + type);
  result_.versionBefore = versionLine_;
  result_.unitName = unitName_;
  result_.deviceType = type;
  sink_.Known(result_);
}

std::string DeviceRun::VersionOfImage(int index) const {
  return catalogue_.FirmwareImages()[static_cast<std::size_t>(index)].VersionText;
}

void DeviceRun::SetImage(int index) {
  result_.image = index + 1;
  result_.imageVersion = VersionOfImage(index);
  result_.imageSha256 = Sha256Hex(ImageData(catalogue_.ImageLines()[static_cast<std::size_t>(index)]));
  sink_.Known(result_);
}

std::vector<std::string> DeviceRun::ChoiceLines(const std::vector<ImageChoice>& choices) const {
  std::vector<std::string> lines = {ImageListHead()};
  for (const ImageChoice& choice : choices) {
    lines.push_back(PaddedColumn(std::to_string(choice.ImageIndex + 1), 5, false) + "  " + choice.Text);
  }
  return lines;
}

Plan DeviceRun::MakePlan() const {
  Plan plan;
  plan.notices = view_->Notices();
  const std::optional<int> wanted = options_.image ? std::optional<int>(*options_.image - 1) : std::nullopt;
  switch (decision_) {
    case DecisionOutcome::Offered:
      // An image the rules chose is written only if --image, when given,
      // names the same one: neither may be overruled without a word.
      if (wanted && *wanted != view_->Offered()) {
        plan.lines.push_back(RulesDisagreeText(view_->Offered() + 1, VersionOfImage(view_->Offered()),
                                               *wanted + 1, VersionOfImage(*wanted), RulesName()));
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
                                  : NeedsImageText(versionLine_, RulesName()));
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

ExitCode DeviceRun::Flash(TConnection& connection) {
  const Plan plan = MakePlan();
  if (plan.image) SetImage(*plan.image);
  if (options_.command == Command::Identify) {
    // What flash would end with, so a script can check a device first.
    for (const std::string& line : plan.notices) Say(line);
    if (plan.image) Say(OfferedText(*plan.image + 1, VersionOfImage(*plan.image)));
    for (const std::string& line : plan.lines) Say(line);
    if (plan.image) {
      result_.outcome = DeviceOutcome::Offered;
    } else if (!plan.lines.empty()) {
      result_.error = plan.lines.front();
    }
    return plan.refusal;
  }
  for (const std::string& line : plan.notices) Tell(line);
  if (!plan.image) {
    for (const std::string& line : plan.lines) Tell(line);
    return plan.refusal;
  }
  Inform(OfferedText(*plan.image + 1, VersionOfImage(*plan.image)));

  TController* controller = connection.Controller();
  CliReflashView view(progress_);
  auto task = std::make_unique<TUpdateThread>(sync_, setup_.Time);
  TUpdateThread& reflash = *task;
  task->SetDevice(controller->Identity);
  task->SetImageLines(catalogue_.ImageLines()[static_cast<std::size_t>(*plan.image)]);
  task->SetController(controller);
  task->SetStartTime(setup_.Time.WallNow());
  task->SetView(&view);
  task->SetCheckVersionAfter(!options_.noVerify);
  const auto decided = [&reflash] {
    const ReflashOutcome outcome = reflash.Outcome();
    return outcome != ReflashOutcome::NotRun && outcome != ReflashOutcome::Running;
  };
  if (!RunTask(connection, std::move(task), decided)) {
    Tell(ReflashFailedText());
    return ExitCode::Failed;
  }
  const ReflashReport report = reflash.Report();
  if (report.outcome == ReflashOutcome::Failed || report.outcome == ReflashOutcome::Stopped) {
    result_.cause = ReflashCauseName(report.cause);
    result_.deviceAfter = DeviceAfterName(report.device);
  }
  switch (reflash.Outcome()) {
    case ReflashOutcome::Succeeded:
      // Also when the stop came in the settle wait: the image was written whole.
      Say(ReflashSucceededText());
      return Verify(report);
    case ReflashOutcome::Failed:
      // Its cause, what it left the device with and what to do: a bench
      // tells a pulled cable from a device that refused a write.
      Tell(ReflashFailedText() + " " + ReflashFailureText(report));
      return ExitCode::Failed;
    case ReflashOutcome::NotRun:
    case ReflashOutcome::Running:
    case ReflashOutcome::Stopped:
      break;
  }
  Tell(ReflashInterruptedText());
  return ExitCode::Interrupted;
}

ExitCode DeviceRun::Verify(const ReflashReport& report) {
  switch (report.check) {
    case VersionCheck::NotAsked:
      // --no-verify, or a stop came before the question.
      return ExitCode::Done;
    case VersionCheck::NoAnswer:
      if (stopTaken_) {
        Tell(VerifyInterruptedText());
        return ExitCode::Interrupted;
      }
      Tell(VersionCheckText(report));
      return ExitCode::Failed;
    case VersionCheck::OtherVersion:
      result_.versionAfter = report.versionAfter;
      sink_.Known(result_);
      Tell(VersionCheckText(report));
      return ExitCode::NotVerified;
    case VersionCheck::Verified:
      break;
  }
  result_.versionAfter = report.versionAfter;
  sink_.Known(result_);
  Say(VersionCheckText(report));
  result_.outcome = DeviceOutcome::Verified;
  return ExitCode::Done;
}

ExitCode DeviceRun::FlashHex(TConnection& connection) {
  CliServiceView view(progress_, setup_.Time);
  auto task = std::make_unique<TServiceReflash>(
      TServiceReflash::Setup{
          .Controller = *connection.Controller(), .View = view, .Sync = sync_, .Time = setup_.Time},
      setup_.Grid);
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

bool DeviceRun::RunTask(TConnection& connection, std::unique_ptr<ConnectionTask> task,
                        const std::function<bool()>& decided) {
  ConnectionTask& running = *task;
  if (!connection.StartTask(std::move(task))) return false;
  const auto finished = [&] { return !connection.TaskRunning(); };
  if (!Wait([&] { return finished() || decided(); })) {
    // Between two commands, as the reflash window's exit button stops it:
    // the command under way is answered or times out first.
    running.Thread().Stop();
    stopTaken_ = true;
    // Said, but not the reason the device ends as it does: that follows.
    progress_.Break();
    sink_.Line(Stream::Err, ClosingText());
  }
  Serve(finished);
  progress_.Break();
  return true;
}

void DeviceRun::Say(const std::string& text, bool log) {
  // Scripts that asked for JSON read the record instead.
  if (!options_.json) {
    progress_.Break();
    sink_.Line(Stream::Out, text);
  }
  if (log) told_.Push({.when = setup_.Time.WallNow(), .text = text});
}

void DeviceRun::Tell(const std::string& text, bool log) {
  progress_.Break();
  sink_.Line(Stream::Err, text);
  if (result_.error.empty()) result_.error = text;
  if (log) told_.Push({.when = setup_.Time.WallNow(), .text = text});
}

void DeviceRun::Inform(const std::string& text) {
  // identify has nothing else to say.
  if (options_.quiet && options_.command != Command::Identify) {
    told_.Push({.when = setup_.Time.WallNow(), .text = text});
  } else {
    Say(text);
  }
}

void DeviceRun::ShowTold() {
  // A lost line told here logs its text behind what is waiting, and that is
  // shown in this same pass.
  while (std::optional<ToldLines::Line> told = told_.Pop()) {
    if (told->lineLost) {
      Tell(LinkLostText());
      continue;
    }
    // Each line names its time with the offset and its port, so the logs of
    // several ports and machines can share a file and still be read apart
    // and in order.
    const std::string line = FormatIsoDateTime(told->when) + " " + setup_.Port + " " + told->text;
    if (setup_.Log != nullptr) setup_.Log->WriteLine(line);
    if (options_.verbose) {
      progress_.Break();
      sink_.Line(Stream::Err, MarkLineBreaks(line));
    }
  }
}

bool DeviceRun::Wait(const std::function<bool()>& done) {
  bool interrupted = false;
  sync_.WaitServicing([&] {
    ShowTold();
    if (done()) return true;
    interrupted = setup_.StopAsked && setup_.StopAsked();
    return interrupted;
  });
  return !interrupted;
}

void DeviceRun::Serve(const std::function<bool()>& done) {
  sync_.WaitServicing([&] {
    ShowTold();
    if (done()) return true;
    // A second Ctrl+C: the command under way is not waited for.
    if (stopTaken_ && setup_.HurryAsked && !setup_.Time.Hurried() && setup_.HurryAsked()) {
      setup_.Time.Hurry();
    }
    return false;
  });
}

}  // namespace

DeviceResult RunDevice(const DeviceRunSetup& setup, DeviceSink& sink) {
  DeviceRun run(setup, sink);
  return run.Run();
}

std::string ImageData(const std::vector<std::string>& imageLines) {
  std::string data;
  for (std::size_t line = 1; line < imageLines.size(); ++line) {
    const std::string& record = imageLines[line];
    const std::size_t end = std::min(record.size(), kRecordDataAt + kRecordDataDigits);
    for (std::size_t at = kRecordDataAt; at + 1 < end; at += 2) {
      data += static_cast<char>(HexDigitValue(record[at]) * 16 + HexDigitValue(record[at + 1]));
    }
  }
  return data;
}

}  // namespace tarvik::cli
