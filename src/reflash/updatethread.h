#pragma once
// The reflash worker: writes one firmware image into the connected device on
// a thread of its own, by the procedure of the device's type
// (DeviceIdentity::Procedure): through its bootloader (BootloaderFlash) or a
// staged upload with a commit (StagedFlash, the panel's). The worker reaches the device only through the
// controller's pass-throughs and the window only through ReflashView steps that run synchronously on the UI
// thread.
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "common/clock.h"
#include "common/workerthread.h"
#include "device/connection.h"
#include "device/deviceidentity.h"
#include "reflash/bootloaderflash.h"
#include "reflash/progressmodel.h"
#include "reflash/reflashreport.h"
#include "reflash/reflashview.h"

namespace tarvik {

class TController;

// Image lines that cannot be sent as they stand.
class EImageData : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One group of up to four records as the W command carries it.
struct WriteGroup {
  // "W" + block number (four upper-case hex digits) + ":" + the records'
  // data digits + ":" + check byte (two upper-case hex digits); the device
  // command set frames it.
  std::string command;
  // XOR of the group's data bytes.
  std::uint8_t checkByte = 0;
};

// The W command of the group that starts on image line firstLine (1, 5, 9,
// ...; line 0 is the header): the data digits of lines firstLine to
// firstLine + 3 as far as they exist, a short last group unpadded. Throws
// EImageData for a group without records, a record whose data field is not
// 32 hex digits (a shorter or longer one would shift every block after it on
// the device), or a block number past FFFF.
WriteGroup BuildWriteCommand(const std::vector<std::string>& lines, std::size_t firstLine);

// Every group of the image in block order (index 0 is block 0000). Throws
// EImageData when any group cannot be built, or when the image holds no
// record at all: an image is checked whole before anything is sent, so a bad
// one never leaves a device erased or half written.
std::vector<WriteGroup> BuildWriteCommands(const std::vector<std::string>& lines);

// False when the reply tells that the line to a staged device is gone
// ("NO CARRIER", "DISCONNECT" or "BUSY", case-sensitive).
bool LinkAlive(std::string_view reply);

// "EE" and the four accumulators as two upper-case hex digits each.
std::string CommitCommand(const std::array<std::uint8_t, 4>& accumulators);

// Total parts of the reflash progress bar for an image of this many lines:
// the bootloader sequence's parts (BootloaderProgressParts). The staged
// upload is shown on the same scale; its longer settle wait runs with the
// bar full.
std::int32_t ReflashProgressTotal(std::size_t imageLines);

class TUpdateThread final : public ConnectionTask {
 public:
  // Created suspended: nothing runs before Resume, or before a connection
  // starts it as its task.
  explicit TUpdateThread(UiSync& sync, Clock& clock = SystemClock());
  TUpdateThread(const TUpdateThread&) = delete;
  TUpdateThread& operator=(const TUpdateThread&) = delete;

  // The inputs, set before the thread starts. The image lines and the
  // controller are not owned and must outlive the thread; so must the view.
  // What identification found: whether the device sits in its bootloader,
  // and its type, which picks the procedure.
  void SetDevice(DeviceIdentity device) { device_ = std::move(device); }
  void SetImageLines(const std::vector<std::string>& lines) { lines_ = &lines; }
  void SetController(TController* controller) { controller_ = controller; }
  // The moment the user started the reflash; elapsed and remaining times are
  // measured from it on the clock's wall time.
  void SetStartTime(std::chrono::system_clock::time_point start) { start_ = start; }
  void SetView(ReflashView* view) { view_ = view; }
  // After a reflash that got through, the device is asked for its version
  // and the answer held against the image's (VersionCheck of the report).
  void SetCheckVersionAfter(bool check) { checkVersionAfter_ = check; }
  // Runs on the UI thread once the procedure has ended, whatever ended it (a
  // stop included), with the report: for whoever tells the outcome after
  // the view is gone.
  void SetOnEnded(std::function<void(const ReflashReport&)> onEnded) { onEnded_ = std::move(onEnded); }

  // Starts the thread without a connection (a connection starts it itself).
  void Resume();
  // From now on no device command is sent and no view step runs but the
  // stage notice before a group; the exchange under way is not cut short.
  // Does not wait.
  void Stop() { thread_.Stop(); }
  bool StopRequested() const { return thread_.StopRequested(); }
  ReflashOutcome Outcome() const { return outcome_.load(); }
  // What the device may hold by now; read from any thread, also while the
  // worker runs (no command goes out after a stop, so at a stop this is
  // what the device is left with).
  DeviceAfter DeviceState() const { return deviceAfter_.load(); }
  // How the reflash ended, whole once the outcome is no longer Running.
  ReflashReport Report() const;

  TWorkerThread& Thread() override { return thread_; }
  void Body() override;

 private:
  class BootloaderView;

  bool Run();
  // The report's cause, device state and version check once the procedure
  // has ended.
  void Conclude(bool succeeded);
  void Reached(DeviceAfter device);
  bool BootloaderFlash(const std::vector<WriteGroup>& groups);
  bool StagedFlash(const std::vector<WriteGroup>& groups);
  // Up to three attempts, ending at the first answer on a live line that
  // echoes the whole block number.
  bool WriteStagedGroup(const WriteGroup& group);
  // A settle wait no stop shortens, moving the bar and the times.
  void SettleWait(std::uint32_t limitMs);

  // View steps; each is skipped once a stop was asked, but the stage notice
  // before a group.
  void Step(void (ReflashView::*step)());
  void ShowStage(ReflashStage stage);
  void ShowGroupStage();
  void ShowProgress();
  void StepProgress();
  void FillProgress();
  void ShowElapsed();
  void ShowInitialRemaining();
  void ShowRemaining();
  std::uint32_t Elapsed();
  bool ViewSkipped() const { return view_ == nullptr || thread_.StopRequested(); }
  void LogError(const std::string& what);

  Clock& clock_;
  DeviceIdentity device_;
  const std::vector<std::string>* lines_ = nullptr;
  TController* controller_ = nullptr;
  std::chrono::system_clock::time_point start_{};
  ReflashView* view_ = nullptr;
  // The bar's count, kept here; the window only shows it.
  TProgressModel progress_;
  // What the remaining time is judged by: the pace of the writes, then the
  // settle wait (on the clock's milliseconds).
  std::optional<std::uint64_t> writesStartMs_;
  std::size_t groupsTotal_ = 0;
  std::size_t groupsWritten_ = 0;
  std::uint32_t settleMs_ = 0;
  std::optional<std::uint64_t> settleStartMs_;
  std::atomic<ReflashOutcome> outcome_{ReflashOutcome::NotRun};
  std::atomic<DeviceAfter> deviceAfter_{DeviceAfter::Unchanged};
  bool checkVersionAfter_ = false;
  std::function<void(const ReflashReport&)> onEnded_;
  // Written by the worker; the failure it met on the way.
  ReflashCause cause_ = ReflashCause::None;
  std::string detail_;
  std::string failedBlock_;
  mutable std::mutex reportMutex_;
  ReflashReport report_;
  // Last: ends the thread before the members it reads go.
  TWorkerThread thread_;
};

// Stage texts (Windows-1251).
std::string StageSwitchingText();   // "Идет переход в режим перепрошивки..."
std::string StageErasingText();     // "Идет очистка памяти..."
std::string StageLoadingText();     // "Идет загрузка новой версии прошивки..."
std::string StageReflashingText();  // "Идет перепрошивка..."

// The reflash window's other texts, which the command line shows too.
std::string OfferedVersionLabelText();  // "Доступна следующая версия для перепрошивки:"
std::string ElapsedLabelText();      // "Времени прошло:"
std::string RemainingLabelText();    // "Времени осталось:"
std::string ReflashSucceededText();  // "Перепрошивка успешно завершена!"
std::string ReflashFailedText();  // "В процессе перепрошивки возникли ошибки!"
// One line on how a reflash ended, for a status bar or a summary: the success
// text with what the device named, or what went wrong with the device's
// state and what to do.
std::string ReflashSummaryText(const ReflashReport& report);
// The traffic log's note on a commit answered without "OK":
// "Ответ на команду " + commit + " не содержит \"OK\""
std::string CommitWithoutOkText(const std::string& commit);

}  // namespace tarvik
