#pragma once
// The --log file: the message log's lines, one a line, each after its time
// and its port, Windows-1251, CR LF, the line ends inside a reply marked so
// that one reply stays one line. A run appends to what earlier runs wrote, so
// a bench can keep one file for a whole batch, and several ports one file.
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string_view>

namespace tarvik::cli {

class LogFile {
 public:
  // False when the file cannot be opened for appending.
  bool Open(const std::filesystem::path& path);
  bool IsOpen() const { return file_.is_open(); }
  // Written through at once, so a run cut short keeps every line so far.
  // Several devices' workers write to one file: each line stays whole.
  void WriteLine(std::string_view text);
  // No write has failed.
  bool Good() const;

 private:
  mutable std::mutex mutex_;
  std::ofstream file_;
  bool good_ = true;
};

}  // namespace tarvik::cli
