#include "cli/logfile.h"

#include "common/text.h"

namespace tarvik::cli {

bool LogFile::Open(const std::filesystem::path& path) {
  file_.open(path, std::ios::binary | std::ios::app);
  good_ = file_.is_open();
  return good_;
}

void LogFile::WriteLine(std::string_view text) {
  const std::string line = MarkLineBreaks(text) + "\r\n";
  const std::lock_guard lock(mutex_);
  if (!file_.is_open()) return;
  file_.write(line.data(), static_cast<std::streamsize>(line.size()));
  file_.flush();
  if (!file_) good_ = false;
}

bool LogFile::Good() const {
  const std::lock_guard lock(mutex_);
  return good_;
}

}  // namespace tarvik::cli
