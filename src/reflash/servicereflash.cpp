#include "reflash/servicereflash.h"

#include <algorithm>
#include <cstdio>
#include <exception>

#include "common/text.h"

namespace tarvik {
namespace {

constexpr std::size_t kRowsPerGroup = 4;
constexpr std::uint32_t kWaitSliceMs = 50;
constexpr std::size_t kByteColumns = 16;
const std::string kFillRow = [] {
  std::string fill;
  for (std::size_t i = 0; i < kByteColumns; ++i) fill += "FF";
  return fill;
}();

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string Hex2(unsigned value) {
  char text[3];
  std::snprintf(text, sizeof text, "%02X", value & 0xFFu);
  return text;
}

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
    const int high = cell.size() == 2 ? HexDigit(cell[0]) : -1;
    const int low = cell.size() == 2 ? HexDigit(cell[1]) : -1;
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
      !std::all_of(address.begin(), address.begin() + 4, [](char c) { return HexDigit(c) >= 0; })) {
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
  return command + ":" + Hex2(check);
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
  const auto rows = static_cast<std::int64_t>(gridRows);
  return static_cast<std::int32_t>((rows - 1) / 4 + 103);
}

bool EchoesBlock(const std::string& command, const std::string& reply) {
  if (command.size() < 5) return false;
  return Trim(reply).starts_with(std::string_view(command).substr(2, 3));
}

void WaitWithProgress(Clock& clock, std::uint32_t totalMs, std::uint32_t stepMs,
                      const std::function<void()>& tick, const std::function<bool()>& stop) {
  const std::uint32_t start = clock.TickMs();
  std::uint32_t lastTick = start;
  for (;;) {
    if (stop && stop()) return;
    const std::uint32_t now = clock.TickMs();
    const std::uint32_t elapsed = TickDiff(now, start);
    if (elapsed > totalMs) return;
    if (stepMs > 0 && TickDiff(now, lastTick) >= stepMs) {
      lastTick = now;
      if (tick) tick();
    }
    // Up to whichever comes first, the next tick or the end, in short slices
    // so a stop is noticed.
    std::uint32_t sleep = totalMs - elapsed + 1;
    if (stepMs > 0) sleep = std::min(sleep, stepMs - std::min(stepMs, TickDiff(now, lastTick)));
    clock.SleepMs(std::clamp<std::uint32_t>(sleep, 1, kWaitSliceMs));
  }
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

ServiceReflashOutcome TServiceReflash::Flash() {
  TController& controller = setup_.Controller;
  controller.LockUi();
  progress_.SetTotal(ServiceProgressTotal(grid_.Rows.size()));
  progress_.SetPartsComplete(0);
  ShowProgress();
  // The whole grid is checked before the device hears anything, so a grid
  // that cannot be sent never leaves the device erased.
  const std::vector<std::string> commands = BuildServiceWriteCommands(grid_);

  if (!Contains(controller.VersionLine, "BootLdr")) {
    if (Stopped()) return ServiceReflashOutcome::Stopped;
    std::string reply;
    controller.Command("BL", reply, true);  // the erase that follows decides
    Step();
  }
  Step();
  if (!Erase()) {
    if (Stopped()) return ServiceReflashOutcome::Stopped;
    LogLine(EraseFailedText());
    return ServiceReflashOutcome::EraseFailed;
  }
  Step();

  // Block 0000 goes last and only after every other group: a device whose
  // first group is written believes its firmware complete.
  for (std::size_t i = 0; i < commands.size(); ++i) {
    const bool first = i + 1 == commands.size();
    if (!WriteGroup(commands[i], first ? 1 : kAttempts, !first)) {
      if (Stopped()) return ServiceReflashOutcome::Stopped;
      LogLine(WriteFailedText());
      return ServiceReflashOutcome::WriteFailed;
    }
    Step();
  }

  WaitWithProgress(
      setup_.Time, kSettleMs, kSettleStepMs, [this] { Step(); }, [this] { return Stopped(); });
  if (Stopped()) return ServiceReflashOutcome::Stopped;
  progress_.SetPartsComplete(progress_.Total());
  ShowProgress();
  return ServiceReflashOutcome::Settled;
}

bool TServiceReflash::Erase() {
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    if (Stopped()) return false;
    std::string reply;
    if (setup_.Controller.SlowCommand("BE", reply, true)) return true;
  }
  return false;
}

bool TServiceReflash::WriteGroup(const std::string& command, int attempts, bool checkEcho) {
  for (int attempt = 0; attempt < attempts; ++attempt) {
    if (Stopped()) return false;
    std::string reply;
    const bool sent = setup_.Controller.WriteCommand(command, reply, true);
    setup_.Time.SleepMs(kWritePauseMs);
    if (sent && (!checkEcho || EchoesBlock(command, reply))) return true;
  }
  return false;
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
  // Through the queue the traffic lines took, so it stands after them.
  setup_.Queue.PushMemoLine(setup_.Memo, text, true, false);
}

}  // namespace tarvik
