#pragma once
// What a batch shows while its devices are worked on, and at its end. On a
// terminal a table with one line per port (port, device, version before and
// image, stage, bar, elapsed and remaining time) is redrawn in place under
// the lines the devices say, each line fitted to the terminal's width. Into a
// file or a pipe every device says its lines and its progress (a line per
// stage and per 10 %) with its port in front. At the end a summary: each
// port's outcome and duration, and how many ended each way. Every call may
// come from any device's thread.
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cli/clioutput.h"
#include "cli/devicerun.h"
#include "cli/outcome.h"
#include "cli/progress.h"

namespace tarvik::cli {

class BatchBoard {
 public:
  // quiet: no progress, only what the devices say; table: the live table
  // (only on a terminal).
  BatchBoard(CliOutput& out, const std::vector<std::string>& ports, bool quiet, bool table);
  ~BatchBoard();

  // The sink of the device at this index.
  DeviceSink& Sink(std::size_t index);
  // A line of the batch itself (standard error), above the table.
  void Note(const std::string& text);
  // Redraws the table where a device has changed it since the last time.
  void Refresh();
  void Ended(std::size_t index, const DeviceResult& result);
  // The table's last state stays; the summary follows below it.
  // passedOver: the ports --all left out, each named with why.
  void Summary(const std::vector<DeviceResult>& results, const std::vector<PassedPort>& passedOver = {});

  // A table line, fitted to columns (0: 80).
  struct Row {
    std::string port;
    std::string device;
    std::string versions;
    std::string stage;
    std::int32_t total = 0;
    std::int32_t parts = 0;
    std::string elapsed;
    std::string remaining;
  };
  static std::string RowLine(const Row& row, std::size_t portWidth, int columns);

 private:
  class RowSink;
  friend class RowSink;

  // Under the lock.
  void WriteLine(Stream stream, const std::string& text);
  void Erase();
  void Draw();

  CliOutput& out_;
  const bool table_;
  std::size_t portWidth_ = 0;
  std::mutex mutex_;
  std::vector<std::unique_ptr<RowSink>> rows_;
  // The lengths of the table's lines on the screen now, and the terminal's
  // size they were drawn for.
  std::vector<std::size_t> drawnLines_;
  int drawnColumns_ = 0;
  int drawnRows_ = 0;
  bool dirty_ = false;
};

}  // namespace tarvik::cli
