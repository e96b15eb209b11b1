#pragma once
// The sink of serial traffic lines: the port worker knows nothing of windows.
#include <string>

namespace tarvik {

class TLogWriter {
 public:
  virtual ~TLogWriter() = default;
  virtual void WriteLine(const std::string& text) = 0;
};

}  // namespace tarvik
