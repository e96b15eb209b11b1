#pragma once
// The service-menu reflash: a device written from a HEX file that the viewer
// has laid out as a grid of 16-byte rows. It follows the bootloader sequence
// ("BL", "BE", the groups with block 0000 last), logs every exchange, lets the
// device settle for 15 s and always hands the main window back and drops the
// connection at the end. It runs as a connection task on a worker thread, so
// the UI thread only waits for it and the windows keep painting.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/clock.h"
#include "common/workerthread.h"
#include "device/connection.h"
#include "device/controller.h"
#include "firmware/hexgrid.h"
#include "reflash/bootloaderflash.h"
#include "reflash/progressmodel.h"

namespace tarvik {

enum class ServiceReflashOutcome {
  NotStarted,
  NothingToSend,  // the viewer was confirmed without a file
  Settled,        // every group written and the settle wait over
  EraseFailed,
  WriteFailed,
  Error,    // the port failed or the grid cannot be sent
  Stopped,  // the connection is closing
};

// What the main window shows of a service reflash. Each step runs on the UI
// thread while the worker waits for it. Texts are Windows-1251.
class ServiceReflashView {
 public:
  virtual ~ServiceReflashView() = default;
  // The status-bar progress bar.
  virtual void ShowProgress(std::int32_t total, std::int32_t partsComplete) = 0;
  // What ended the procedure before its end (a port that failed, a grid that
  // cannot be sent); the window shows it in a message box.
  virtual void ShowError(const std::string& text) = 0;
  // How the procedure ended, told once before the connection is handed back
  // (not when the connection is closing anyway).
  virtual void ShowOutcome(ServiceReflashOutcome /*outcome*/) {}
  // After a reflash that settled, when asked for: the first line the device
  // named as its version, empty when it named none. Before ShowOutcome.
  virtual void ShowVersionAfter(const std::string& /*versionLine*/) {}
};

// A grid that cannot be turned into write commands.
class ServiceGridError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The W command of the group whose first row is firstRow: the first four
// characters of that row's address cell as the block number, the 16 byte cells
// of each of the four rows (three rows' worth of "FF" for every row past the
// end of the grid), and the XOR of those bytes. ServiceGridError for a cell
// that is not two hex digits, an address cell without four hex digits, or a
// group without data.
std::string BuildServiceWriteCommand(const HexGrid& grid, std::size_t firstRow);

// Every group's command in the order they are written: rows 5, 9, 13, … and
// then rows 1 to 4. A grid without data rows has none.
std::vector<std::string> BuildServiceWriteCommands(const HexGrid& grid);

// The parts of the service reflash's sequence for a grid of this many rows
// (the header row among them): BootloaderProgressParts of its policy.
std::int32_t ServiceProgressTotal(std::size_t gridRows);

// "ОШИБКА! Прошивка не обновлена! Не удалось стереть содержимое флэш."
std::string EraseFailedText();
// "ОШИБКА! Прошивка не обновлена! Не удалось записать строку из файла прошивки."
std::string WriteFailedText();

class TServiceReflash final : public ConnectionTask {
 public:
  struct Setup {
    // Its events carry the failure lines, after the traffic lines.
    TController& Controller;
    ServiceReflashView& View;
    UiSync& Sync;
    Clock& Time = SystemClock();
    // Once the device has settled, ask it for its version (ShowVersionAfter).
    bool AskVersionAfter = false;
  };

  static constexpr std::uint32_t kSettleMs = 15000;
  static constexpr std::uint32_t kEndPauseMs = 100;

  // Without a grid (the viewer confirmed with no file chosen) nothing is sent
  // to the device and only the end steps run.
  TServiceReflash(Setup setup, const HexGrid* grid);

  TWorkerThread& Thread() override { return thread_; }
  void Body() override;

  // Set once the body has returned, including the end steps. Shared, so a
  // waiter can watch it even if the task goes while it waits.
  std::shared_ptr<const std::atomic<bool>> Done() const { return done_; }
  ServiceReflashOutcome Outcome() const { return outcome_.load(); }

 private:
  class Steps;

  ServiceReflashOutcome Flash();
  void Step();
  void ShowProgress();
  void LogLine(const std::string& text);
  void EndSteps();
  bool Stopped() const { return thread_.StopRequested(); }

  Setup setup_;
  bool hasGrid_;
  HexGrid grid_;
  TProgressModel progress_;
  std::atomic<ServiceReflashOutcome> outcome_{ServiceReflashOutcome::NotStarted};
  std::shared_ptr<std::atomic<bool>> done_ = std::make_shared<std::atomic<bool>>(false);
  TWorkerThread thread_;  // last: it ends before anything it reads goes
};

}  // namespace tarvik
