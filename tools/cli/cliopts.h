#pragma once
// The command line of tarvik-cli.
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tarvik::cli {

enum class Command { Help, Ports, Images, Identify, Flash, FlashHex };

struct CliOptions {
  Command command = Command::Help;
  // As the user wrote it; "/dev/" or "\\.\" in front is taken off when the
  // port is opened.
  std::string port;
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

}  // namespace tarvik::cli
