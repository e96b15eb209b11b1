#include "reflash/servicereflash.h"

#include <algorithm>
#include <exception>

#include "common/text.h"
#include "reflash/bootloaderflash.h"
#include "reflash/reflashreport.h"

namespace tarvik {
namespace {

constexpr std::size_t kRowsPerGroup = 4;

// Block 0000 is tried once and taken with any answer; every exchange goes to
// the log; the device gets 15 s to settle, which a closing connection cuts
// short.
constexpr BootloaderPolicy kServicePolicy{.firstBlockAttempts = 1,
                                          .firstBlockEchoChecked = false,
                                          .logTraffic = true,
                                          .settleMs = TServiceReflash::kSettleMs,
                                          .settleStoppable = true};
constexpr std::size_t kByteColumns = 16;
const std::string kFillRow = [] {
  std::string fill;
  for (std::size_t i = 0; i < kByteColumns; ++i) fill += "FF";
  return fill;
}();

ServiceGridError GridError(const std::string& utf8) { return ServiceGridError(Utf8ToCp1251(utf8)); }

bool EmptyRow(const HexGridRow& row) {
  return std::all_of(row.begin(), row.end(), [](const std::string& cell) { return cell.empty(); });
}

// Rows 1 .. n hold data; the rows the viewer leaves empty at the end of a
// short file count as past the end of the data, so they are filled with FF
// like rows past the end of the grid instead of shortening their group.
std::size_t DataRows(const HexGrid& grid) {
  std::size_t last = 0;
  while (last + 1 < grid.Rows.size() && !EmptyRow(grid.Rows[last + 1])) ++last;
  for (std::size_t r = last + 1; r < grid.Rows.size(); ++r) {
    if (!EmptyRow(grid.Rows[r])) {
      throw GridError("Строка " + std::to_string(r) + " таблицы прошивки идёт после пустой строки");
    }
  }
  return last;
}

// The 16 byte cells of a data row, checked, as they stand.
std::string RowData(const HexGrid& grid, std::size_t r, unsigned& check) {
  std::string data;
  data.reserve(2 * kByteColumns);
  for (std::size_t c = 1; c <= kByteColumns; ++c) {
    const std::string& cell = grid.Rows[r][c];
    const int high = cell.size() == 2 ? HexDigitValue(cell[0]) : -1;
    const int low = cell.size() == 2 ? HexDigitValue(cell[1]) : -1;
    if (high < 0 || low < 0) {
      throw GridError("Ячейка таблицы прошивки в строке " + std::to_string(r) + ", столбце " +
                      std::to_string(c) + " не является шестнадцатеричным байтом");
    }
    check ^= static_cast<unsigned>(high * 16 + low);
    data += cell;
  }
  return data;
}

std::string BuildCommand(const HexGrid& grid, std::size_t firstRow, std::size_t dataRows) {
  if (firstRow < 1 || firstRow > dataRows) {
    throw GridError("Строка " + std::to_string(firstRow) + " таблицы прошивки не содержит данных");
  }
  const std::string& address = grid.Rows[firstRow][0];
  if (address.size() < 4 ||
      !std::all_of(address.begin(), address.begin() + 4, [](char c) { return HexDigitValue(c) >= 0; })) {
    throw GridError("Адрес в строке " + std::to_string(firstRow) +
                    " таблицы прошивки не является шестнадцатеричным");
  }
  std::string command = "W" + address.substr(0, 4) + ":";
  unsigned check = 0;
  for (std::size_t r = firstRow; r < firstRow + kRowsPerGroup; ++r) {
    if (r <= dataRows) {
      command += RowData(grid, r, check);
    } else {
      command += kFillRow;  // sixteen FF bytes XOR to zero: the check byte stays
    }
  }
  return command + ":" + HexDigits(check, 2);
}

}  // namespace

std::string BuildServiceWriteCommand(const HexGrid& grid, std::size_t firstRow) {
  return BuildCommand(grid, firstRow, DataRows(grid));
}

std::vector<std::string> BuildServiceWriteCommands(const HexGrid& grid) {
  const std::size_t dataRows = DataRows(grid);
  if (dataRows == 0) throw GridError("Таблица прошивки не содержит данных");
  std::vector<std::string> commands;
  commands.reserve(dataRows / kRowsPerGroup + 1);
  for (std::size_t r = 1 + kRowsPerGroup; r <= dataRows; r += kRowsPerGroup) {
    commands.push_back(BuildCommand(grid, r, dataRows));
  }
  commands.push_back(BuildCommand(grid, 1, dataRows));
  return commands;
}

std::int32_t ServiceProgressTotal(std::size_t gridRows) {
  return BootloaderProgressParts(kServicePolicy, gridRows == 0 ? 0 : (gridRows - 1) / kRowsPerGroup);
}

std::string EraseFailedText() {
  return Utf8ToCp1251("ОШИБКА! Прошивка не обновлена! Не удалось стереть содержимое флэш.");
}

std::string WriteFailedText() {
  return Utf8ToCp1251("ОШИБКА! Прошивка не обновлена! Не удалось записать строку из файла прошивки.");
}

TServiceReflash::TServiceReflash(Setup setup, const HexGrid* grid)
    : setup_(setup), hasGrid_(grid != nullptr), thread_(setup.Sync) {
  if (grid) grid_ = *grid;
}

void TServiceReflash::Body() {
  // However the device part ends (an error included), the end steps run and
  // the waiter learns that the body is over.
  ServiceReflashOutcome outcome = ServiceReflashOutcome::NothingToSend;
  if (hasGrid_) {
    try {
      outcome = Flash();
    } catch (const std::exception& e) {
      outcome = ServiceReflashOutcome::Error;
      const std::string text = Utf8ToCp1251("ОШИБКА! Прошивка не обновлена! ") + e.what();
      LogLine(text);
      thread_.RunStep([&] { setup_.View.ShowError(text); });
    }
  }
  if (Stopped() && outcome != ServiceReflashOutcome::NothingToSend) outcome = ServiceReflashOutcome::Stopped;
  if (outcome == ServiceReflashOutcome::Settled && setup_.AskVersionAfter) {
    // A file carries no version line to hold the answer against: what the
    // device names is told as it is.
    const std::string named = CheckVersionAfterReflash(setup_.Controller, std::string()).versionLine;
    thread_.RunStep([&] { setup_.View.ShowVersionAfter(named); });
  }
  outcome_.store(outcome);
  if (!Stopped()) thread_.RunStep([&] { setup_.View.ShowOutcome(outcome); });
  EndSteps();
  done_->store(true);
}

void TServiceReflash::EndSteps() {
  setup_.Controller.UnlockUi();
  // A connection that is closing anyway needs no disconnect request, and a
  // stray one could reach the next connection.
  if (Stopped()) return;
  setup_.Time.SleepMs(kEndPauseMs);
  setup_.Controller.RequestDisconnect();
}

// The main window's progress bar, a part for each step of the sequence.
class TServiceReflash::Steps final : public BootloaderSteps {
 public:
  explicit Steps(TServiceReflash& task) : task_(task) {}
  bool StopRequested() override { return task_.Stopped(); }
  void Switched() override { task_.Step(); }
  void Erasing() override { task_.Step(); }
  void Erased() override { task_.Step(); }
  void Written() override { task_.Step(); }
  void SettleTick() override { task_.Step(); }

 private:
  TServiceReflash& task_;
};

ServiceReflashOutcome TServiceReflash::Flash() {
  TController& controller = setup_.Controller;
  controller.LockUi();
  progress_.SetTotal(ServiceProgressTotal(grid_.Rows.size()));
  progress_.SetPartsComplete(0);
  ShowProgress();
  // The whole grid is checked before the device hears anything, so a grid
  // that cannot be sent never leaves the device erased.
  const std::vector<std::string> commands = BuildServiceWriteCommands(grid_);

  Steps steps(*this);
  const BootloaderResult result = FlashThroughBootloader(
      controller, setup_.Time, commands, controller.Identity.InBootloader(), kServicePolicy, steps);
  switch (result) {
    case BootloaderResult::Written:
      break;
    case BootloaderResult::Stopped:
      return ServiceReflashOutcome::Stopped;
    case BootloaderResult::EraseFailed:
      LogLine(EraseFailedText());
      return ServiceReflashOutcome::EraseFailed;
    case BootloaderResult::WriteFailed:
      LogLine(WriteFailedText());
      return ServiceReflashOutcome::WriteFailed;
  }
  progress_.SetPartsComplete(progress_.Total());
  ShowProgress();
  return ServiceReflashOutcome::Settled;
}

void TServiceReflash::Step() {
  progress_.AddParts(1);
  ShowProgress();
}

void TServiceReflash::ShowProgress() {
  const std::int32_t total = progress_.Total();
  const std::int32_t parts = progress_.PartsComplete();
  thread_.RunStep([this, total, parts] { setup_.View.ShowProgress(total, parts); });
}

void TServiceReflash::LogLine(const std::string& text) {
  // Through the events the traffic lines took, so it stands after them.
  setup_.Controller.Events().OutcomeLine(setup_.Time.WallNow(), text);
}

}  // namespace tarvik
