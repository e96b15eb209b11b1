#pragma once
// Shared by the tarvik-cli tests: an output that records what the program
// writes, a clock whose pauses pass at once, simulated devices and HEX files.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "cli/clioutput.h"
#include "common/clock.h"
#include "common/text.h"
#include "firmware/shippedcatalogue.h"
#include "simulator/devicesimulator.h"
#include "simulator/hexrecord.h"
#include "support/quickpauseclock.h"
#include "tools/simwire.h"

namespace tarvik::test {

// Records the program's two streams; converted to UTF-8 for the checks.
class CaptureOutput final : public cli::CliOutput {
 public:
  explicit CaptureOutput(bool terminal = false, int columns = 0, int rows = 0)
      : terminal_(terminal), columns_(columns), rows_(rows) {}
  void Write(cli::Stream stream, std::string_view cp1251) override {
    (stream == cli::Stream::Out ? out_ : err_).append(cp1251);
    (stream == cli::Stream::Out ? outWrites_ : errWrites_).emplace_back(cp1251);
  }
  bool OutIsTerminal() const override { return terminal_; }
  int Columns() const override { return columns_.load(); }
  int Rows() const override { return rows_.load(); }
  // The terminal resized, as by its window.
  void Resize(int columns, int rows) {
    columns_.store(columns);
    rows_.store(rows);
  }

  std::string Out() const { return Cp1251ToUtf8(out_); }
  std::string Err() const { return Cp1251ToUtf8(err_); }
  // Every write to standard output, as it was handed over (Windows-1251).
  const std::vector<std::string>& OutWrites() const { return outWrites_; }

 private:
  const bool terminal_;
  std::atomic<int> columns_;
  std::atomic<int> rows_;
  std::string out_;
  std::string err_;
  std::vector<std::string> outWrites_;
  std::vector<std::string> errWrites_;
};

inline sim::Fault FaultOf(const std::string& text) {
  sim::Fault fault;
  std::string error;
  if (!sim::ParseFault(text, fault, error)) throw std::runtime_error(error);
  return fault;
}

// A door detector in its firmware, VER 14.002.020 unless told otherwise,
// that answers at once and erases at once, and once written one of the
// shipped images, answers with its version.
inline sim::SimOptions Detector(std::vector<std::string> faults = {},
                                std::string version = "VER 14.002.020") {
  sim::SimOptions options;
  options.version = std::move(version);
  options.knownImages = &ShippedCatalogue().ImageLines();
  options.unpaced = true;
  options.eraseMs = 0;
  for (const std::string& fault : faults) options.faults.push_back(FaultOf(fault));
  return options;
}

// A device that sits in its bootloader and names itself as unitName.
inline sim::SimOptions InBootloader(std::string unitName) {
  sim::SimOptions options = Detector();
  options.startInBootloader = true;
  options.unitName = std::move(unitName);
  return options;
}

// An Intel HEX file of 16-byte records from address 0, and its lines as the
// simulator's ExpectedFlash takes an image (a header, then 43-character
// records).
struct HexFile {
  std::string text;
  std::vector<std::string> imageLines;
};

inline HexFile MakeHexFile(int records, const std::string& beforeEnd = "") {
  HexFile file;
  file.imageLines.push_back("VER 14.002.028");
  for (int r = 0; r < records; ++r) {
    const std::string record = sim::HexRecord(static_cast<unsigned>(r * 16), 0, simtest::RecordData(r));
    file.text += record + "\r\n";
    file.imageLines.push_back(record);
  }
  file.text += beforeEnd + ":00000001FF\r\n";
  return file;
}

inline std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}

inline std::vector<std::string> Lines(const std::string& text) { return SplitLines(text); }

}  // namespace tarvik::test
