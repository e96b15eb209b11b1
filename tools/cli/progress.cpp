#include "cli/progress.h"

#include <algorithm>
#include <array>

#include "common/text.h"
#include "reflash/updatethread.h"

namespace tarvik::cli {
namespace {

// Used when neither the terminal nor COLUMNS says how wide it is.
constexpr int kDefaultColumns = 80;

// What a terminal line shows, richest first: the first that fits the width
// is drawn. The bar narrows before a time goes; the elapsed time goes
// before the remaining one, which says more to someone waiting; the
// per cent stays to the last.
struct Layout {
  int bar;
  bool elapsed;
  bool remaining;
};
constexpr std::array<Layout, 8> kLayouts = {{
    {ProgressPrinter::kBarWidth, true, true},
    {ProgressPrinter::kNarrowBarWidth, true, true},
    {ProgressPrinter::kBarWidth, false, true},
    {ProgressPrinter::kNarrowBarWidth, false, true},
    {0, false, true},
    {ProgressPrinter::kBarWidth, false, false},
    {ProgressPrinter::kNarrowBarWidth, false, false},
    {0, false, false},
}};

std::string WithoutTrailingBlanks(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

}  // namespace

ProgressPrinter::ProgressPrinter(CliOutput& out, bool quiet)
    : out_(out), quiet_(quiet), terminal_(out.OutIsTerminal()) {}

std::string ProgressPrinter::Line(int bar, bool elapsed, bool remaining) const {
  std::string line;
  if (bar > 0) {
    const std::int32_t total = model_.Total();
    const std::int32_t filled =
        total > 0 ? static_cast<std::int32_t>(std::int64_t{model_.PartsComplete()} * bar / total) : 0;
    line = "[" + std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(bar - filled), '.') + "] ";
  }
  std::string percent = std::to_string(model_.Percent());
  // Redrawn in place, the figures keep their columns.
  if (terminal_) percent.insert(0, 3 - std::min<std::size_t>(3, percent.size()), ' ');
  line += percent + " %";
  // The windows' time texts end in a blank of their own.
  if (elapsed && !elapsed_.empty()) line += "  " + ElapsedLabelText() + " " + WithoutTrailingBlanks(elapsed_);
  // Before the first part is written (the erase) there is nothing to reckon
  // the rest from: no estimate rather than "0 сек".
  if (remaining && !remaining_.empty() && model_.PartsComplete() > 0) {
    line += "  " + RemainingLabelText() + " " + WithoutTrailingBlanks(remaining_);
  }
  return line;
}

std::string ProgressPrinter::TerminalLine() const {
  // One character less than the width: a full line would wrap the cursor
  // onto the next one, and the next redraw would leave it behind. Windows-1251
  // takes a byte a character.
  const int columns = out_.Columns() > 0 ? out_.Columns() : kDefaultColumns;
  const std::size_t room = static_cast<std::size_t>(std::max(columns - 1, 1));
  std::string line;
  for (const Layout& layout : kLayouts) {
    line = Line(layout.bar, layout.elapsed, layout.remaining);
    if (line.size() <= room) return line;
  }
  line.resize(room);
  return line;
}

void ProgressPrinter::Redraw() {
  if (model_.Total() <= 0) return;
  const std::string line = TerminalLine();
  if (line == drawn_) return;
  std::string text = "\r" + line;
  if (drawn_.size() > line.size()) text += std::string(drawn_.size() - line.size(), ' ');
  drawn_ = line;
  out_.Write(Stream::Out, text);
}

void ProgressPrinter::WritePlainLine() {
  lineOwed_ = false;
  out_.Write(Stream::Out, Line(0, true, true) + "\n");
}

void ProgressPrinter::Break() {
  if (quiet_) return;
  if (terminal_) {
    if (drawn_.empty()) return;
    out_.Write(Stream::Out, "\r" + std::string(drawn_.size(), ' ') + "\r");
    drawn_.clear();
  } else if (lineOwed_) {
    WritePlainLine();
  }
}

void ProgressPrinter::Finish() {
  if (quiet_) return;
  if (terminal_ && !drawn_.empty()) {
    out_.Write(Stream::Out, "\n");
    drawn_.clear();
  } else {
    Break();
  }
}

void ProgressPrinter::Stage(ReflashStage stage) {
  const std::string text = StageText(stage);
  if (quiet_ || text == stage_) return;
  Break();
  stage_ = text;
  out_.Write(Stream::Out, text + "\n");
  if (terminal_) Redraw();
}

void ProgressPrinter::Progress(std::int32_t total, std::int32_t partsComplete) {
  if (quiet_) return;
  if (total != model_.Total()) tensWritten_ = 0;
  model_.SetTotal(total);
  model_.SetPartsComplete(partsComplete);
  if (terminal_) {
    Redraw();
    return;
  }
  const std::int32_t tens = model_.Percent() / 10;
  if (tens > tensWritten_) {
    tensWritten_ = tens;
    // Written once the times of this step are known.
    lineOwed_ = true;
  }
}

void ProgressPrinter::Elapsed(const std::string& text) {
  if (quiet_) return;
  elapsed_ = text;
  if (terminal_) Redraw();
}

void ProgressPrinter::Remaining(const std::string& text) {
  if (quiet_) return;
  remaining_ = text;
  if (terminal_) {
    Redraw();
  } else if (lineOwed_) {
    WritePlainLine();
  }
}

}  // namespace tarvik::cli
