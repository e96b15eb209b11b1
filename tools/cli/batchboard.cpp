#include "cli/batchboard.h"

#include <algorithm>
#include <array>

#include "cli/clitexts.h"
#include "common/text.h"
#include "reflash/durations.h"
#include "reflash/updatethread.h"

namespace tarvik::cli {
namespace {

constexpr int kTableDefaultColumns = 80;
constexpr int kWideBar = 20;
constexpr int kNarrowBar = 10;
constexpr std::size_t kDeviceWidth = 6;
constexpr std::size_t kVersionsWidth = 25;
constexpr std::size_t kStageWidth = 13;

// What a table line shows, richest first; the first that fits is drawn. The
// bar narrows first, then the elapsed time, the device, the bar, the
// versions and the remaining time go in turn; port, stage and per cent stay.
// Without the versions the columns no longer line up, and the stage keeps
// its own width only.
struct TableLayout {
  int bar;
  bool elapsed;
  bool device;
  bool versions;
  bool remaining;
};
constexpr std::array<TableLayout, 7> kTableLayouts = {{
    {kWideBar, true, true, true, true},
    {kNarrowBar, true, true, true, true},
    {kNarrowBar, false, true, true, true},
    {kNarrowBar, false, false, true, true},
    {0, false, false, true, true},
    {0, false, false, false, true},
    {0, false, false, false, false},
}};

std::string FittedCell(std::string text, std::size_t width) {
  if (text.size() < width) text.append(width - text.size(), ' ');
  return text;
}

std::string WithoutVer(const std::string& line) { return line.starts_with("VER ") ? line.substr(4) : line; }

// The stage in a word or two, so the table keeps its columns.
std::string ShortStage(ReflashStage stage) {
  switch (stage) {
    case ReflashStage::Switching:
      return Utf8ToCp1251("переход");
    case ReflashStage::Erasing:
      return Utf8ToCp1251("очистка");
    case ReflashStage::Loading:
      return Utf8ToCp1251("загрузка");
    case ReflashStage::Reflashing:
      return Utf8ToCp1251("перепрошивка");
    case ReflashStage::Checking:
      break;
  }
  return StageText(stage);
}

std::string DurationText(std::chrono::system_clock::time_point start,
                         std::chrono::system_clock::time_point end) {
  return Trim(FormatDuration(ElapsedSeconds(end, start)));
}

}  // namespace

// One device: its row of the table, or its lines with the port in front.
class BatchBoard::RowSink final : public DeviceSink, public ProgressSink, private CliOutput {
 public:
  RowSink(BatchBoard& board, const std::string& port, bool quiet)
      : board_(board), printer_(*this, quiet), quiet_(quiet) {
    row_.port = port;
    row_.stage = Utf8ToCp1251("опрос");
  }

  // DeviceSink.
  void Line(Stream stream, const std::string& text) override {
    const std::lock_guard lock(board_.mutex_);
    board_.WriteLine(stream, row_.port + ": " + text);
  }
  ProgressSink& Progress() override {
    if (board_.table_) return *this;
    return printer_;
  }
  void Known(const DeviceResult& facts) override {
    const std::lock_guard lock(board_.mutex_);
    const std::string& type = facts.deviceType;
    row_.device = type.empty() ? facts.unitName : type.substr(0, type.find(' '));
    row_.versions = WithoutVer(facts.versionBefore);
    if (!facts.imageVersion.empty()) row_.versions += " -> " + WithoutVer(facts.imageVersion);
    if (facts.versionAfter.empty() && row_.stage == Utf8ToCp1251("опрос")) row_.stage.clear();
    board_.dirty_ = true;
  }

  // ProgressSink of the table.
  void Stage(ReflashStage stage) override {
    Change([&] { row_.stage = ShortStage(stage); });
  }
  void Progress(std::int32_t total, std::int32_t parts) override {
    Change([&] {
      row_.total = total;
      row_.parts = parts;
    });
  }
  void Elapsed(const std::string& text) override {
    Change([&] { row_.elapsed = Trim(text); });
  }
  void Remaining(const std::string& text) override {
    Change([&] { row_.remaining = Trim(text); });
  }
  void Break() override {}
  void Finish() override {}

  void End(const DeviceResult& result) {
    row_.stage = Utf8ToCp1251(std::string(RowOf(result.outcome).words));
    row_.remaining.clear();
    row_.elapsed = DurationText(result.start, result.end);
  }
  const Row& Shown() const { return row_; }

 private:
  template <typename Update>
  void Change(Update update) {
    if (quiet_) return;
    const std::lock_guard lock(board_.mutex_);
    update();
    board_.dirty_ = true;
  }

  // CliOutput of the plain progress: each of its lines with the port in
  // front. It writes whole lines only.
  void Write(Stream stream, std::string_view cp1251) override {
    const std::lock_guard lock(board_.mutex_);
    for (const std::string& line : SplitLines(std::string(cp1251))) {
      board_.WriteLine(stream, row_.port + ": " + line);
    }
  }
  bool OutIsTerminal() const override { return false; }
  int Columns() const override { return 0; }

  BatchBoard& board_;
  ProgressPrinter printer_;
  const bool quiet_;
  Row row_;
};

BatchBoard::BatchBoard(CliOutput& out, const std::vector<std::string>& ports, bool quiet, bool table)
    : out_(out), table_(table && !quiet && out.OutMovesCursor()) {
  for (const std::string& port : ports) {
    portWidth_ = std::max(portWidth_, port.size());
    rows_.push_back(std::make_unique<RowSink>(*this, port, quiet));
  }
  const std::lock_guard lock(mutex_);
  Draw();
}

BatchBoard::~BatchBoard() = default;

DeviceSink& BatchBoard::Sink(std::size_t index) { return *rows_[index]; }

void BatchBoard::Note(const std::string& text) {
  const std::lock_guard lock(mutex_);
  WriteLine(Stream::Err, text);
}

void BatchBoard::WriteLine(Stream stream, const std::string& text) {
  Erase();
  out_.Write(stream, text + "\n");
  Draw();
}

void BatchBoard::Erase() {
  if (drawnLines_.empty()) return;
  // A terminal narrowed since the table was drawn has wrapped each line onto
  // as many screen lines as it now takes: all of them go.
  const std::size_t columns =
      static_cast<std::size_t>(out_.Columns() > 0 ? out_.Columns() : kTableDefaultColumns);
  std::size_t up = 0;
  for (const std::size_t length : drawnLines_)
    up += std::max<std::size_t>(1, (length + columns - 1) / columns);
  // Up to the table's first line, and everything from there down cleared.
  out_.Write(Stream::Out, "\x1b[" + std::to_string(up) + "A\r\x1b[J");
  drawnLines_.clear();
}

void BatchBoard::Draw() {
  dirty_ = false;
  if (!table_) return;
  drawnColumns_ = out_.Columns();
  drawnRows_ = out_.Rows();
  // Only what fits the screen, with a line to spare for the cursor: a line
  // that scrolled off could not be reached again, and each redraw would
  // leave another copy of the table behind.
  std::size_t shown = rows_.size();
  if (drawnRows_ > 0) shown = std::min(shown, static_cast<std::size_t>(std::max(drawnRows_ - 1, 1)));
  const bool cut = shown < rows_.size();
  if (cut) shown = shown > 1 ? shown - 1 : 0;
  std::string text;
  for (std::size_t i = 0; i < shown; ++i) {
    const std::string line = RowLine(rows_[i]->Shown(), portWidth_, drawnColumns_);
    drawnLines_.push_back(line.size());
    text += line + "\n";
  }
  if (cut) {
    std::string line = HiddenRowsText(rows_.size() - shown);
    const int columns = drawnColumns_ > 0 ? drawnColumns_ : kTableDefaultColumns;
    line.resize(std::min(line.size(), static_cast<std::size_t>(std::max(columns - 1, 1))));
    drawnLines_.push_back(line.size());
    text += line + "\n";
  }
  out_.Write(Stream::Out, text);
}

void BatchBoard::Refresh() {
  const std::lock_guard lock(mutex_);
  if (!table_) return;
  // A resized terminal gets the table drawn anew to its size.
  const bool resized = out_.Columns() != drawnColumns_ || out_.Rows() != drawnRows_;
  if (!dirty_ && !resized) return;
  Erase();
  Draw();
}

void BatchBoard::Ended(std::size_t index, const DeviceResult& result) {
  const std::lock_guard lock(mutex_);
  rows_[index]->End(result);
  dirty_ = true;
}

void BatchBoard::Summary(const std::vector<DeviceResult>& results,
                         const std::vector<PassedPort>& passedOver) {
  const std::lock_guard lock(mutex_);
  if (table_) {
    // The table's last state stays on the screen, above the summary.
    Erase();
    Draw();
    drawnLines_.clear();
  }
  std::size_t wordsWidth = 0;
  for (const DeviceResult& result : results)
    wordsWidth = std::max(wordsWidth, Utf8ToCp1251(std::string(RowOf(result.outcome).words)).size());
  std::string text = Utf8ToCp1251("Итог:") + "\n";
  for (const DeviceResult& result : results) {
    text += "  " + FittedCell(result.port, portWidth_) + "  " +
            FittedCell(Utf8ToCp1251(std::string(RowOf(result.outcome).words)), wordsWidth) + "  " +
            DurationText(result.start, result.end) + "\n";
  }
  std::string counts;
  for (const OutcomeRow& row : kOutcomes) {
    const auto n = std::count_if(results.begin(), results.end(),
                                 [&](const DeviceResult& result) { return result.outcome == row.outcome; });
    if (n == 0) continue;
    counts += (counts.empty() ? "" : ", ") + Utf8ToCp1251(std::string(row.words)) + ": " + std::to_string(n);
  }
  if (!passedOver.empty()) {
    std::size_t width = 0;
    for (const PassedPort& passed : passedOver) width = std::max(width, passed.port.size());
    text += PassedOverHead() + "\n";
    for (const PassedPort& passed : passedOver)
      text += "  " + FittedCell(passed.port, width) + "  " + passed.why + "\n";
  }
  text += Utf8ToCp1251("Устройств: ") + std::to_string(results.size()) + " (" + counts + ")";
  if (!passedOver.empty()) text += Utf8ToCp1251(", пропущено портов: ") + std::to_string(passedOver.size());
  text += "\n";
  out_.Write(Stream::Out, text);
}

std::string BatchBoard::RowLine(const Row& row, std::size_t portWidth, int columns) {
  // One character less than the width, as the single device's line.
  const std::size_t room =
      static_cast<std::size_t>(std::max((columns > 0 ? columns : kTableDefaultColumns) - 1, 1));
  std::string line;
  for (const TableLayout& layout : kTableLayouts) {
    line = FittedCell(row.port, portWidth);
    if (layout.device) line += "  " + FittedCell(row.device, kDeviceWidth);
    if (layout.versions) line += "  " + FittedCell(row.versions, kVersionsWidth);
    line += "  " + (layout.versions ? FittedCell(row.stage, kStageWidth) : row.stage);
    if (row.total > 0) {
      const std::int32_t percent =
          static_cast<std::int32_t>(std::int64_t{row.parts} * 100 / std::max<std::int32_t>(row.total, 1));
      if (layout.bar > 0) {
        const std::int32_t filled =
            static_cast<std::int32_t>(std::int64_t{row.parts} * layout.bar / row.total);
        line += "  [" + std::string(static_cast<std::size_t>(filled), '#') +
                std::string(static_cast<std::size_t>(layout.bar - filled), '.') + "]";
      }
      std::string figure = std::to_string(std::clamp(percent, 0, 100));
      line += "  " + std::string(3 - std::min<std::size_t>(3, figure.size()), ' ') + figure + " %";
    }
    if (layout.elapsed && !row.elapsed.empty()) line += "  " + row.elapsed;
    // Before the first part is written (the erase) there is nothing to
    // reckon the rest from: no estimate rather than "0 сек".
    if (layout.remaining && !row.remaining.empty() && row.parts > 0)
      line += Utf8ToCp1251("  ещё ") + row.remaining;
    while (!line.empty() && line.back() == ' ') line.pop_back();
    if (line.size() <= room) return line;
  }
  line.resize(room);
  return line;
}

}  // namespace tarvik::cli
