// tarvik-sim: one simulated device on a pseudo-terminal, for the demo and for
// trying the tool by hand.
#include <signal.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/text.h"
#include "firmware/catalogue.h"
#include "simulator/devicesimulator.h"
#include "simulator/simoptions.h"

int main(int argc, char** argv) {
  using namespace tarvik::sim;
  ProgramOptions options;
  std::string error;
  if (!ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
    std::fprintf(stderr, "tarvik-sim: %s (see --help)\n", error.c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(UsageText().c_str(), stdout);
    return 0;
  }
  if (!options.expectedFlashOf.empty()) {
    std::ifstream image(options.expectedFlashOf, std::ios::binary);
    if (!image.is_open()) {
      std::fprintf(stderr, "tarvik-sim: cannot read %s\n", options.expectedFlashOf.c_str());
      return 1;
    }
    std::stringstream text;
    text << image.rdbuf();
    std::fputs(ExpectedFlash(tarvik::SplitLines(text.str())).c_str(), stdout);
    return 0;
  }

  // Blocked before the serving thread starts, so that thread inherits the
  // mask and the signals are taken only here.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  // The program's own images, so that a device written one of them answers
  // with its version, as a real device starting that firmware would.
  tarvik::FirmwareCatalogue catalogue;
  if (!options.noCatalogue && options.sim.versionAfter.empty()) {
    try {
      catalogue.LoadCatalogue(tarvik::EmbeddedCatalogueSource());
      options.sim.knownImages = &catalogue.ImageLines();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "tarvik-sim: the embedded images did not load: %s\n", e.what());
    }
  }
  DeviceSimulator simulator(options.sim);
  if (!simulator.Start()) {
    std::fprintf(stderr, "tarvik-sim: %s\n", simulator.Error().c_str());
    return 1;
  }
  std::printf("PORT %s\n", simulator.SlavePath().c_str());
  if (!options.sim.linkPath.empty()) std::printf("LINK %s\n", options.sim.linkPath.c_str());
  std::fflush(stdout);

  const timespec tick{0, 100'000'000};
  int signal = 0;
  while (!simulator.Finished()) {
    signal = sigtimedwait(&stopSignals, nullptr, &tick);
    if (signal > 0) break;
  }
  simulator.Stop();

  const SimReport report = simulator.Report();
  int status = 0;
  if (!options.reportPath.empty() && !WriteTextFile(options.reportPath, report.ToJson())) {
    std::fprintf(stderr, "tarvik-sim: cannot write %s\n", options.reportPath.c_str());
    status = 1;
  }
  if (!options.imageOutPath.empty() && !WriteTextFile(options.imageOutPath, report.ImageRecords())) {
    std::fprintf(stderr, "tarvik-sim: cannot write %s\n", options.imageOutPath.c_str());
    status = 1;
  }
  if (!options.flashOutPath.empty() && !WriteTextFile(options.flashOutPath, report.FlashRecords())) {
    std::fprintf(stderr, "tarvik-sim: cannot write %s\n", options.flashOutPath.c_str());
    status = 1;
  }
  std::fprintf(stderr, "tarvik-sim: %zu commands, %zu records, image %s, last block %s%s\n",
               report.commands.size(), report.records, report.complete ? "complete" : "incomplete",
               report.lastBlock.empty() ? "-" : report.lastBlock.c_str(),
               report.hungUp ? ", hung up" : (signal > 0 ? ", stopped by signal" : ""));
  return status;
}
