#pragma once
// Turns each log line into a timestamped memo element of the output queue,
// so lines from any thread reach the message log on the UI thread.
#include "common/logwriter.h"
#include "outqueue/outarray.h"

namespace tarvik {

class TLogMemoWriter final : public TLogWriter {
 public:
  TLogMemoWriter(UiObject* memo, TOutArray& queue) : Memo(memo), Queue(queue) {}
  void WriteLine(const std::string& text) override { Queue.PushMemoLine(Memo, text, true, true); }

 private:
  UiObject* Memo;
  TOutArray& Queue;
};

}  // namespace tarvik
