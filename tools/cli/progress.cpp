#include "cli/progress.h"

#include <algorithm>

#include "common/text.h"
#include "reflash/updatethread.h"

namespace tarvik::cli {
namespace {

// Used when the terminal does not say how wide it is.
constexpr int kDefaultColumns = 80;

std::string WithoutTrailingBlanks(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

}  // namespace

ProgressPrinter::ProgressPrinter(CliOutput& out, bool quiet)
    : out_(out), quiet_(quiet), terminal_(out.OutIsTerminal()) {}

std::string ProgressPrinter::Line() const {
  std::string line;
  if (terminal_) {
    const std::int32_t total = model_.Total();
    const std::int32_t filled =
        total > 0 ? static_cast<std::int32_t>(std::int64_t{model_.PartsComplete()} * kBarWidth / total) : 0;
    line = "[" + std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(kBarWidth - filled), '.') + "] ";
  }
  std::string percent = std::to_string(model_.Percent());
  if (terminal_) percent.insert(0, 3 - std::min<std::size_t>(3, percent.size()), ' ');
  line += percent + " %";
  // The windows' time texts end in a blank of their own.
  if (!elapsed_.empty()) line += "  " + ElapsedLabelText() + " " + elapsed_;
  if (!remaining_.empty()) line += " " + RemainingLabelText() + " " + remaining_;
  return WithoutTrailingBlanks(line);
}

void ProgressPrinter::Redraw() {
  if (model_.Total() <= 0) return;
  std::string line = Line();
  // One character less than the width: a full line would wrap the cursor
  // onto the next one, and the next redraw would leave it behind.
  const int columns = out_.Columns() > 0 ? out_.Columns() : kDefaultColumns;
  const std::size_t room = static_cast<std::size_t>(std::max(columns - 1, 10));
  if (line.size() > room) line.resize(room);
  if (line == drawn_) return;
  std::string text = "\r" + line;
  if (drawn_.size() > line.size()) text += std::string(drawn_.size() - line.size(), ' ');
  drawn_ = line;
  out_.Write(Stream::Out, text);
}

void ProgressPrinter::WritePlainLine() {
  lineOwed_ = false;
  out_.Write(Stream::Out, Line() + "\n");
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

void ProgressPrinter::Stage(const std::string& text) {
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
