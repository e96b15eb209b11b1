#pragma once
// How far a reflash has got, as the terminal or a log of the output shows it.
// On a terminal one line with a bar, the percentage and the elapsed and
// remaining times is redrawn in place, shortened to the terminal's width, and
// each new stage is a line above it;
// elsewhere (a file, a pipe) every new stage and every further 10 % is one
// plain line, so a bench's log stays short and readable. All on the thread
// that owns the output.
#include <cstdint>
#include <string>

#include "cli/clioutput.h"
#include "reflash/progressmodel.h"
#include "reflash/reflashview.h"

namespace tarvik::cli {

// Where a procedure's steps are shown: one device's line, or a row of the
// batch's table.
class ProgressSink {
 public:
  virtual ~ProgressSink() = default;
  virtual void Stage(ReflashStage stage) = 0;
  virtual void Progress(std::int32_t total, std::int32_t partsComplete) = 0;
  virtual void Elapsed(const std::string& text) = 0;
  virtual void Remaining(const std::string& text) = 0;
  // Before any other text: the bar's line is cleared (it comes back with the
  // next change), a plain line still owed is written.
  virtual void Break() = 0;
  // At the end of the procedure: the bar stays where it is and the next text
  // starts below it.
  virtual void Finish() = 0;
};

class ProgressPrinter final : public ProgressSink {
 public:
  // quiet: nothing is shown.
  ProgressPrinter(CliOutput& out, bool quiet);

  void Stage(ReflashStage stage) override;
  void Progress(std::int32_t total, std::int32_t partsComplete) override;
  void Elapsed(const std::string& text) override;
  void Remaining(const std::string& text) override;
  void Break() override;
  void Finish() override;

  static constexpr int kBarWidth = 20;
  // Where the terminal is too narrow for the wide bar.
  static constexpr int kNarrowBarWidth = 10;

 private:
  // bar: its width, 0 for none; which of the times to show.
  std::string Line(int bar, bool elapsed, bool remaining) const;
  // The richest line that fits the terminal's width.
  std::string TerminalLine() const;
  void Redraw();
  void WritePlainLine();

  CliOutput& out_;
  const bool quiet_;
  const bool terminal_;
  TProgressModel model_;
  std::string stage_;
  std::string elapsed_;
  std::string remaining_;
  // Terminal: what the line shows now (empty when it is clear).
  std::string drawn_;
  // Plain: the tens of per cent already written, and a line that waits for
  // the times that belong to it.
  std::int32_t tensWritten_ = 0;
  bool lineOwed_ = false;
};

}  // namespace tarvik::cli
