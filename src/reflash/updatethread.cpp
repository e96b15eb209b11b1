#include "reflash/updatethread.h"

#include <algorithm>
#include <cstdio>

#include "common/text.h"
#include "device/controller.h"
#include "reflash/durations.h"
#include "serial/deviceerror.h"

namespace tarvik {
namespace {

constexpr int kAttempts = 3;
// While a staged device reprograms itself after the commit, and after that.
constexpr std::uint32_t kStagedSettleMs = 45300;
constexpr std::uint32_t kStagedPauseMs = 15000;
// How often the pause after the staged settle wait looks for a stop.
constexpr std::uint32_t kPauseSliceMs = 50;

constexpr std::size_t kRecordsPerGroup = 4;
// ":", byte count, address and record type, then the data, then two digits
// that close the record.
constexpr std::size_t kRecordHeadChars = 9;
constexpr std::size_t kRecordDataChars = 32;
constexpr std::size_t kRecordChars = kRecordHeadChars + kRecordDataChars + 2;
constexpr std::size_t kLastBlock = 0xFFFF;

std::string LineError(std::size_t index, const std::string& what) {
  // Counted from 1 with the header as line 1, as an editor shows the file.
  return "image line " + std::to_string(index + 1) + ": " + what;
}

}  // namespace

std::string StageSwitchingText() { return Utf8ToCp1251("Идет переход в режим перепрошивки..."); }
std::string StageErasingText() { return Utf8ToCp1251("Идет очистка памяти..."); }
std::string StageLoadingText() { return Utf8ToCp1251("Идет загрузка новой версии прошивки..."); }
std::string StageReflashingText() { return Utf8ToCp1251("Идет перепрошивка..."); }

std::string StageText(ReflashStage stage) {
  switch (stage) {
    case ReflashStage::Switching:
      return StageSwitchingText();
    case ReflashStage::Erasing:
      return StageErasingText();
    case ReflashStage::Loading:
      return StageLoadingText();
    case ReflashStage::Reflashing:
      return StageReflashingText();
    case ReflashStage::Checking:
      return StageCheckingText();
  }
  return {};
}
std::string OfferedVersionLabelText() { return Utf8ToCp1251("Доступна следующая версия для перепрошивки:"); }
std::string ElapsedLabelText() { return Utf8ToCp1251("Времени прошло:"); }
std::string RemainingLabelText() { return Utf8ToCp1251("Времени осталось:"); }
std::string ReflashSucceededText() { return Utf8ToCp1251("Перепрошивка успешно завершена!"); }
std::string ReflashFailedText() { return Utf8ToCp1251("В процессе перепрошивки возникли ошибки!"); }
std::string ReflashSummaryText(const ReflashReport& report) {
  switch (report.outcome) {
    case ReflashOutcome::Succeeded:
      switch (report.check) {
        case VersionCheck::Verified:
          return ReflashSucceededText() + " " + VersionCheckText(report);
        case VersionCheck::OtherVersion:
        case VersionCheck::NoAnswer:
          return Utf8ToCp1251("Прошивка записана. ") + VersionCheckText(report);
        case VersionCheck::NotAsked:
          return ReflashSucceededText();
      }
      break;
    case ReflashOutcome::Failed:
    case ReflashOutcome::Stopped:
      return ReflashFailureText(report);
    case ReflashOutcome::NotRun:
    case ReflashOutcome::Running:
      break;
  }
  return {};
}
std::string CommitWithoutOkText(const std::string& commit) {
  return Utf8ToCp1251("Ответ на команду ") + commit + Utf8ToCp1251(" не содержит \"OK\"");
}

WriteGroup BuildWriteCommand(const std::vector<std::string>& lines, std::size_t firstLine) {
  if (firstLine == 0 || firstLine >= lines.size())
    throw EImageData(LineError(firstLine, "no record to write"));
  const std::size_t block = firstLine - 1;
  if (block > kLastBlock) throw EImageData(LineError(firstLine, "block number past FFFF"));
  std::string data;
  const std::size_t end = std::min(lines.size(), firstLine + kRecordsPerGroup);
  for (std::size_t index = firstLine; index < end; ++index) {
    const std::string& record = lines[index];
    const bool shaped =
        record.size() == kRecordChars &&
        std::all_of(record.begin() + kRecordHeadChars, record.begin() + kRecordHeadChars + kRecordDataChars,
                    [](char c) { return HexDigitValue(c) >= 0; });
    if (!shaped) throw EImageData(LineError(index, "the data field is not 32 hexadecimal digits"));
    data.append(record, kRecordHeadChars, kRecordDataChars);
  }
  unsigned check = 0;
  for (std::size_t i = 0; i < data.size(); i += 2) {
    check ^= static_cast<unsigned>(HexDigitValue(data[i]) * 16 + HexDigitValue(data[i + 1]));
  }
  WriteGroup group;
  group.checkByte = static_cast<std::uint8_t>(check);
  std::string& command = group.command;
  command.reserve(data.size() + 9);
  command.append(1, 'W').append(HexDigits(static_cast<unsigned>(block), 4)).append(1, ':');
  command.append(data).append(1, ':').append(HexDigits(check, 2));
  return group;
}

std::vector<WriteGroup> BuildWriteCommands(const std::vector<std::string>& lines) {
  if (lines.size() < 2) throw EImageData("the image holds no record");
  std::vector<WriteGroup> groups;
  groups.reserve((lines.size() - 1 + kRecordsPerGroup - 1) / kRecordsPerGroup);
  for (std::size_t line = 1; line < lines.size(); line += kRecordsPerGroup) {
    groups.push_back(BuildWriteCommand(lines, line));
  }
  return groups;
}

bool LinkAlive(std::string_view reply) {
  return !Contains(reply, "NO CARRIER") && !Contains(reply, "DISCONNECT") && !Contains(reply, "BUSY");
}

std::string CommitCommand(const std::array<std::uint8_t, 4>& accumulators) {
  std::string command = "EE";
  for (std::uint8_t value : accumulators) command += HexDigits(value, 2);
  return command;
}

std::int32_t ReflashProgressTotal(std::size_t imageLines) {
  return BootloaderProgressParts(BootloaderPolicy{},
                                 imageLines == 0 ? 0 : (imageLines - 1) / kRecordsPerGroup);
}

TUpdateThread::TUpdateThread(UiSync& sync, Clock& clock) : clock_(clock), thread_(sync) {}

void TUpdateThread::Resume() {
  thread_.Start([this] { Body(); });
}

void TUpdateThread::Body() {
  if (thread_.StopRequested()) return;
  outcome_.store(ReflashOutcome::Running);
  bool succeeded = false;
  bool raised = false;
  const auto failedWith = [&](ReflashCause cause, const std::exception& e) {
    LogError(e.what());
    cause_ = cause;
    detail_ = e.what();
    raised = true;
  };
  try {
    Step(&ReflashView::MarkRunning);
    const bool written = Run();
    Conclude(written);
    if (written) {
      FillProgress();
      ShowElapsed();
      ShowRemaining();
      if (!ViewSkipped()) {
        const ReflashReport report = Report();
        thread_.RunStep([this, &report] { view_->ShowSuccess(report); });
      }
    }
    succeeded = written;
  } catch (const EImageData& e) {
    failedWith(ReflashCause::BadImage, e);
  } catch (const EDeviceError& e) {
    // The port failed under an exchange: a hang-up or a cable pulled.
    failedWith(ReflashCause::LineLost, e);
  } catch (const std::exception& e) {
    failedWith(ReflashCause::Error, e);
  }
  if (raised) Conclude(false);
  outcome_.store(Report().outcome);
  // An error inside the success step leaves the window in between; put it
  // back to Running so the failure shows.
  if (raised) Step(&ReflashView::MarkRunning);
  // Only a procedure that did not get through shows the failure: success is
  // never followed by it, and a failure never passes for success.
  if (!succeeded && !ViewSkipped()) {
    const ReflashReport report = Report();
    thread_.RunStep([this, &report] { view_->ShowFailure(report); });
  }
  if (onEnded_) {
    const ReflashReport report = Report();
    thread_.RunStepAlways([this, &report] { onEnded_(report); });
  }
}

void TUpdateThread::Conclude(bool succeeded) {
  ReflashReport report;
  report.imageVersion =
      lines_ != nullptr && !lines_->empty() ? ParseVersion(lines_->front()).VersionText : std::string();
  report.device = deviceAfter_.load();
  report.detail = detail_;
  report.block = failedBlock_;
  if (succeeded) {
    Reached(DeviceAfter::Written);
    report.outcome = ReflashOutcome::Succeeded;
    report.device = DeviceAfter::Written;
    // Written whole also when the stop came in the settle wait; the device
    // is then left to start its firmware unasked.
    if (checkVersionAfter_ && !thread_.StopRequested() && controller_ != nullptr) {
      ShowStage(ReflashStage::Checking);
      const VersionCheckResult check = CheckVersionAfterReflash(*controller_, report.imageVersion);
      report.check = check.check;
      report.versionAfter = check.versionLine;
    }
  } else if (thread_.StopRequested() && cause_ != ReflashCause::LineLost) {
    report.outcome = ReflashOutcome::Stopped;
    report.cause = ReflashCause::Stopped;
  } else {
    report.outcome = thread_.StopRequested() ? ReflashOutcome::Stopped : ReflashOutcome::Failed;
    report.cause = cause_ == ReflashCause::None ? ReflashCause::Error : cause_;
  }
  std::lock_guard lock(reportMutex_);
  report_ = std::move(report);
}

ReflashReport TUpdateThread::Report() const {
  std::lock_guard lock(reportMutex_);
  return report_;
}

void TUpdateThread::Reached(DeviceAfter device) {
  // Only ever further along: a write after the erase leaves it erased.
  DeviceAfter now = deviceAfter_.load();
  while (now < device && !deviceAfter_.compare_exchange_weak(now, device)) {
  }
}

bool TUpdateThread::Run() {
  if (controller_ == nullptr || lines_ == nullptr) return false;
  progress_.SetTotal(ReflashProgressTotal(lines_->size()));
  ShowProgress();
  ShowElapsed();
  ShowInitialRemaining();
  // The whole image is checked before the first command.
  const std::vector<WriteGroup> groups = BuildWriteCommands(*lines_);
  return device_.Procedure() == FlashProcedure::Staged ? StagedFlash(groups) : BootloaderFlash(groups);
}

// The reflash window's steps between the bootloader's commands.
class TUpdateThread::BootloaderView final : public BootloaderSteps {
 public:
  explicit BootloaderView(TUpdateThread& thread) : t_(thread) {}
  bool StopRequested() override { return t_.thread_.StopRequested(); }
  void Sending(BootloaderCommand command) override {
    t_.Reached(command == BootloaderCommand::Switch ? DeviceAfter::InBootloader : DeviceAfter::Erased);
  }
  void Switching() override { t_.ShowStage(ReflashStage::Switching); }
  void Switched() override {
    t_.StepProgress();
    t_.ShowElapsed();
    t_.ShowRemaining();
  }
  void Erasing() override {
    t_.ShowStage(ReflashStage::Erasing);
    t_.StepProgress();
  }
  void EraseAttempted() override { t_.ShowElapsed(); }
  void EraseEnded() override { t_.ShowRemaining(); }
  void Erased() override {
    t_.StepProgress();
    t_.ShowRemaining();
  }
  void Writing(bool firstBlock) override {
    if (!t_.writesStartMs_) t_.writesStartMs_ = t_.clock_.NowMs();
    if (firstBlock) {
      t_.StepProgress();
      t_.ShowRemaining();
    }
    t_.ShowGroupStage();
  }
  void WriteAttempted() override { t_.ShowElapsed(); }
  void Written() override {
    ++t_.groupsWritten_;
    t_.StepProgress();
    t_.ShowRemaining();
  }
  void FirstBlockWritten() override {
    t_.settleStartMs_ = t_.clock_.NowMs();
    t_.Step(&ReflashView::DisableExit);
  }
  void SettleTick() override {
    t_.StepProgress();
    t_.ShowElapsed();
    t_.ShowRemaining();
  }

 private:
  TUpdateThread& t_;
};

bool TUpdateThread::BootloaderFlash(const std::vector<WriteGroup>& groups) {
  std::vector<std::string> commands;
  commands.reserve(groups.size());
  for (std::size_t group = 1; group < groups.size(); ++group) commands.push_back(groups[group].command);
  commands.push_back(groups.front().command);
  BootloaderView steps(*this);
  groupsTotal_ = commands.size();
  settleMs_ = BootloaderPolicy{}.settleMs;
  // A device found in its bootloader is there already; one that named a
  // known model is told again.
  if (device_.InBootloader()) Reached(DeviceAfter::InBootloader);
  BootloaderFailure failure;
  const BootloaderResult result =
      FlashThroughBootloader(*controller_, clock_, commands, device_.InBootloader(), {}, steps, &failure);
  switch (result) {
    case BootloaderResult::Written:
      return true;
    case BootloaderResult::EraseFailed:
      cause_ = failure.answered ? ReflashCause::EraseNotTaken : ReflashCause::EraseUnanswered;
      break;
    case BootloaderResult::WriteFailed:
      cause_ = failure.answered ? ReflashCause::GroupNotTaken : ReflashCause::GroupUnanswered;
      failedBlock_ = failure.block;
      break;
    case BootloaderResult::Stopped:
      break;
  }
  return false;
}

bool TUpdateThread::StagedFlash(const std::vector<WriteGroup>& groups) {
  StepProgress();
  ShowRemaining();
  // Group k of the upload (counted from 0) folds into accumulator
  // (k mod 8) div 2, once, whatever its attempts.
  std::array<std::uint8_t, 4> accumulators{};
  std::size_t counter = 0;
  groupsTotal_ = groups.size();
  settleMs_ = kStagedSettleMs + kStagedPauseMs;
  for (const WriteGroup& group : groups) {
    if (!writesStartMs_) writesStartMs_ = clock_.NowMs();
    ShowGroupStage();
    accumulators[counter / 2] ^= group.checkByte;
    counter = (counter + 1) % 8;
    if (!WriteStagedGroup(group)) return false;
  }
  Step(&ReflashView::DisableExit);
  const std::string commit = CommitCommand(accumulators);
  Reached(DeviceAfter::Committing);
  std::string reply;
  bool committed = false;
  for (int attempt = 0; attempt < kAttempts && !committed && !thread_.StopRequested(); ++attempt) {
    ShowStage(ReflashStage::Reflashing);
    reply.clear();
    if (thread_.StopRequested()) break;
    const bool answered = controller_->SlowCommand(commit, reply, true);
    const bool alive = LinkAlive(reply);
    // Any answer on a live line is taken: a device may answer the commit
    // otherwise and set about reprogramming itself, and a second commit
    // would reach it in the middle of that. An answer without "OK" is worth
    // a line in the log all the same.
    committed = answered && alive && !reply.empty();
    if (committed && !Contains(AsciiUpper(reply), "OK")) {
      controller_->WriteLog(CommitWithoutOkText(commit));
    }
    ShowElapsed();
    if (!alive) break;
  }
  if (!committed) {
    cause_ = ReflashCause::CommitNotTaken;
    return false;
  }
  settleStartMs_ = clock_.NowMs();
  SettleWait(kStagedSettleMs);
  if (thread_.StopRequested()) return true;
  for (std::uint32_t paused = 0; paused < kStagedPauseMs && !thread_.StopRequested();
       paused += kPauseSliceMs) {
    clock_.SleepMs(std::min(kPauseSliceMs, kStagedPauseMs - paused));
  }
  return true;
}

bool TUpdateThread::WriteStagedGroup(const WriteGroup& group) {
  // The echo: characters 2 to 5 of the command, the whole block number.
  const std::string_view echo = std::string_view(group.command).substr(1, 4);
  bool written = false;
  bool replied = false;
  bool alive = true;
  for (int attempt = 0; attempt < kAttempts && !written; ++attempt) {
    // No command goes out once a stop was asked; the group then fails.
    if (thread_.StopRequested()) break;
    std::string reply;
    const bool answered = controller_->WriteCommand(group.command, reply, true);
    alive = LinkAlive(reply);
    replied = replied || !Trim(reply).empty();
    written = answered && EchoMatches(reply, echo) && alive;
    ShowElapsed();
    // A lost line is not tried again.
    if (!alive) break;
  }
  if (!written) {
    failedBlock_ = std::string(echo);
    cause_ = !alive    ? ReflashCause::LineLost
             : replied ? ReflashCause::GroupNotTaken
                       : ReflashCause::GroupUnanswered;
  }
  if (written) {
    ++groupsWritten_;
    StepProgress();
    ShowRemaining();
  }
  return written;
}

void TUpdateThread::SettleWait(std::uint32_t limitMs) {
  // The device is not addressed; a stop does not shorten the wait, it only
  // keeps the window as it is.
  WaitWithProgress(clock_, limitMs, kBootloaderSettleTickMs, [this] {
    StepProgress();
    ShowElapsed();
    ShowRemaining();
  });
}

void TUpdateThread::Step(void (ReflashView::*step)()) {
  if (ViewSkipped()) return;
  thread_.RunStep([this, step] { (view_->*step)(); });
}

void TUpdateThread::ShowStage(ReflashStage stage) {
  if (ViewSkipped()) return;
  thread_.RunStep([this, stage] { view_->ShowStage(stage); });
}

void TUpdateThread::ShowGroupStage() {
  // The one step a stop does not hold back: until the worker has ended, the
  // window says that it is still busy with the image.
  if (view_ == nullptr) return;
  thread_.RunStepAlways([this] { view_->ShowStage(ReflashStage::Loading); });
}

void TUpdateThread::ShowProgress() {
  if (ViewSkipped()) return;
  const std::int32_t total = progress_.Total();
  const std::int32_t parts = progress_.PartsComplete();
  thread_.RunStep([this, total, parts] { view_->ShowProgress(total, parts); });
}

void TUpdateThread::StepProgress() {
  progress_.AddParts(1);
  ShowProgress();
}

void TUpdateThread::FillProgress() {
  progress_.SetPartsComplete(progress_.Total());
  ShowProgress();
}

std::uint32_t TUpdateThread::Elapsed() { return ElapsedSeconds(clock_.WallNow(), start_); }

void TUpdateThread::ShowElapsed() {
  if (ViewSkipped()) return;
  const std::string text = FormatDuration(Elapsed());
  thread_.RunStep([this, &text] { view_->ShowElapsed(text); });
}

void TUpdateThread::ShowInitialRemaining() {
  // Nothing to go by before the first write: no estimate rather than a
  // wrong one.
  if (ViewSkipped()) return;
  thread_.RunStep([this] { view_->ShowRemaining(std::string()); });
}

void TUpdateThread::ShowRemaining() {
  if (ViewSkipped()) return;
  const std::uint64_t now = clock_.NowMs();
  std::string text;
  if (settleStartMs_) {
    const std::uint64_t settled = now - *settleStartMs_;
    text = FormatDuration(RemainingFromWrites(
        0, 0, 0, settled >= settleMs_ ? 0 : static_cast<std::uint32_t>(settleMs_ - settled)));
  } else if (writesStartMs_ && groupsWritten_ > 0) {
    text =
        FormatDuration(RemainingFromWrites(now - *writesStartMs_, groupsWritten_,
                                           groupsTotal_ - std::min(groupsWritten_, groupsTotal_), settleMs_));
  }
  thread_.RunStep([this, &text] { view_->ShowRemaining(text); });
}

void TUpdateThread::LogError(const std::string& what) {
  if (controller_ != nullptr) controller_->WriteLog(what);
}

}  // namespace tarvik
