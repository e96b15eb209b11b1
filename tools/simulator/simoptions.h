#pragma once
// Command line of the tarvik-sim program.
#include <string>
#include <vector>

#include "simulator/devicesimulator.h"

namespace tarvik::sim {

struct ProgramOptions {
  SimOptions sim;
  std::string reportPath;
  std::string imageOutPath;
  std::string flashOutPath;
  // Prints the flash that this image file leaves on a device and exits.
  std::string expectedFlashOf;
  bool help = false;
  // The device does not know the program's embedded images by their data.
  bool noCatalogue = false;
};

// args without the program name. False with error set on a bad flag.
bool ParseCommandLine(const std::vector<std::string>& args, ProgramOptions& options, std::string& error);
std::string UsageText();

}  // namespace tarvik::sim
