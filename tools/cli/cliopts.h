#pragma once
// The command line of tarvik-cli: a command word, its operands and the
// options, which may stand before or after the command ("--" ends them).
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tarvik::cli {

enum class Command { Help, Version, Ports, Images, Identify, Flash, FlashHex };

struct CliOptions {
  Command command = Command::Help;
  // As the user wrote them; "/dev/" or "\\.\" in front is taken off when a
  // port is opened. A list, as the command line gives operands; each command
  // that reaches a device takes one.
  std::vector<std::string> ports;
  std::filesystem::path hexFile;
  // The image number (1-based, as "images" lists them) that answers the
  // question a window would ask.
  std::optional<int> image;
  std::optional<std::filesystem::path> rules;
  bool noRules = false;
  // flash-hex: write a file whose data the device cannot all take (above
  // 64 KiB, after the end-of-file record) without that data.
  bool allowDroppedData = false;
  std::optional<std::filesystem::path> log;
  bool quiet = false;
  bool verbose = false;
  // How long to wait for the port to appear (a fixture being plugged in).
  std::optional<int> waitSeconds;
  // What is shown goes to standard output as JSON, for scripts.
  bool json = false;
  // flash: every port of the system's list whose device answers the probe.
  bool all = false;
  // With --all: fewer answering devices than this is an error, found before
  // anything is written (a bench knows how many fixtures it has).
  std::optional<int> expect;
  // flash: the device is not asked for its version after the reflash.
  bool noVerify = false;
  // identify, flash: a JSON line per device appended to this file.
  std::optional<std::filesystem::path> record;
};

struct ParsedArguments {
  CliOptions options;
  // Why the arguments cannot be used (Windows-1251); empty when they can.
  std::string error;
  bool Ok() const { return error.empty(); }
};

// args without the program name.
ParsedArguments ParseArguments(const std::vector<std::string>& args);

// The help text, the exit codes included (Windows-1251).
std::string UsageText();

// "tarvik-cli 2.0.0.33": what --version prints.
std::string VersionText();

}  // namespace tarvik::cli
