#pragma once
// A log writer that keeps the lines written to it, from any thread.
#include <mutex>
#include <string>
#include <vector>

#include "common/logwriter.h"

namespace tarvik::test {

class LinesLog final : public TLogWriter {
 public:
  void WriteLine(const std::string& text) override {
    std::lock_guard lock(mutex_);
    lines_.push_back(text);
  }
  std::vector<std::string> Lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

}  // namespace tarvik::test
