#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <random>
#include <sstream>

#include "campaign/campaignmain.h"
#include "campaign/campaignrun.h"

namespace tarvik::campaign {
namespace {

const char kUsage[] = R"(Usage: tarvik-campaign [options]
Runs reflashes against the device simulator with faults drawn from a seed:
the catalogue reflash, the service reflash from a HEX file and the staged
upload of a type-10 device, through the windows' entry points and through
tarvik-cli, with silences, garbage, wrong echoes, answers without "OK", split
answers, answers just inside and just past their time-out, NO CARRIER with
and without an echo, hang-ups, and the user leaving or pressing Ctrl+C at a
random moment. After every reflash it checks what the reflash promises, and
then reflashes the same device once more without faults. Run N uses seed N;
every run prints one line with its seed, a run that breaks a promise prints
what broke and the command that replays it. Exit code 0: every promise held.

  --seed N            the first run's seed (default: drawn from the time)
  --runs N            this many runs (default 100 unless --seconds is given)
  --seconds S         runs until S seconds have passed
  --front F           only window or cli
  --procedure P       only catalogue, service or staged
  --answer-wait-ms MS real time a whole time-out of an answer lasts
                      (default 2000)
  --verbose           the facts of every run, not only of a broken one
  --work-dir DIR      the runs' files (default: a fresh temporary folder)

Recovery from every cut point:
  --cut-points        for one image of each procedure (the first from the
                      seed on with at least 16 records), cut the line during
                      and after each command of the reflash in turn ("BL",
                      "BE", each write, block 0000, the settle wait), with
                      each front end, then connect again as a technician
                      would: the device must be identified, offered its
                      image, reflashed and its flash equal to the image
  --cut-sample N      only N cut points per procedure, drawn from the seed

The front end in another process, for the Windows program under Wine:
  --agent PROGRAM     the agent, repeated for its words (e.g. --agent wine
                      --agent tarvik-campaign.exe); the device then keeps
                      real time and the draws leave out the long waits
  --agent-port NAME   the port the agent opens (e.g. COM10)
  --port-link PATH    where the device is published for it
  --warm-up-port NAME a second port, for a device without faults that the
  --warm-up-link PATH agent reflashes before it counts its handles and
                      threads, and where that device is published
  --wine-paths        the agent reads files through Wine's Z: drive
)";

bool ParseNumber(const std::string& text, std::uint64_t& value) {
  if (text.empty() || text.size() > 19 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  value = std::stoull(text);
  return true;
}

}  // namespace

int CampaignMain(const std::vector<std::string>& args) {
  CampaignOptions options;
  bool seedGiven = false;
  std::ostringstream replay;
  std::string workDir;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& flag = args[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) return false;
      out = args[++i];
      return true;
    };
    std::string text;
    std::uint64_t number = 0;
    if (flag == "--help" || flag == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (flag == "--verbose") {
      options.verbose = true;
    } else if (flag == "--wine-paths") {
      options.winePaths = true;
      replay << " --wine-paths";
    } else if ((flag == "--seed" || flag == "--runs" || flag == "--seconds" || flag == "--answer-wait-ms") &&
               value(text) && ParseNumber(text, number)) {
      if (flag == "--seed") {
        options.firstSeed = number;
        seedGiven = true;
      } else if (flag == "--runs") {
        options.runs = static_cast<std::uint32_t>(number);
      } else if (flag == "--seconds") {
        options.seconds = static_cast<std::uint32_t>(number);
      } else {
        options.pace.answerWaitRealMs = static_cast<std::uint32_t>(number);
        replay << " --answer-wait-ms " << number;
      }
    } else if (flag == "--front" && value(text) && (text == "window" || text == "cli")) {
      options.draw.front = text == "cli" ? Front::Cli : Front::Window;
      replay << " --front " << text;
    } else if (flag == "--procedure" && value(text) &&
               (text == "catalogue" || text == "service" || text == "staged")) {
      options.draw.procedure = text == "service"  ? Procedure::Service
                               : text == "staged" ? Procedure::Staged
                                                  : Procedure::Catalogue;
      replay << " --procedure " << text;
    } else if (flag == "--agent" && value(text)) {
      options.agentCommand.push_back(text);
      replay << " --agent " << text;
    } else if (flag == "--agent-port" && value(options.agentPort)) {
      replay << " --agent-port " << options.agentPort;
    } else if (flag == "--port-link" && value(options.portLink)) {
      replay << " --port-link " << options.portLink;
    } else if (flag == "--warm-up-port" && value(options.warmUpPort)) {
      replay << " --warm-up-port " << options.warmUpPort;
    } else if (flag == "--warm-up-link" && value(options.warmUpLink)) {
      replay << " --warm-up-link " << options.warmUpLink;
    } else if (flag == "--cut-points") {
      options.cutPoints = true;
    } else if (flag == "--cut-sample" && value(text) && ParseNumber(text, number) && number > 0) {
      options.cutPoints = true;
      options.cutSample = static_cast<std::uint32_t>(number);
    } else if (flag == "--work-dir" && value(workDir)) {
    } else {
      std::fprintf(stderr, "tarvik-campaign: bad option %s (see --help)\n", flag.c_str());
      return 2;
    }
  }
  if (!options.agentCommand.empty()) {
    if (options.agentPort.empty() || options.portLink.empty()) {
      std::fputs("tarvik-campaign: --agent needs --agent-port and --port-link\n", stderr);
      return 2;
    }
    options.draw.realTime = true;
  }
  if (!seedGiven) {
    std::random_device random;
    options.firstSeed =
        (static_cast<std::uint64_t>(random()) << 20) ^
        static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count() & 0xFFFFF);
    options.firstSeed %= 1'000'000'000;
  }
  if (options.runs == 0 && options.seconds == 0) options.runs = 100;
  options.replayFlags = replay.str();

  std::error_code error;
  std::filesystem::path folder = workDir;
  const bool ownFolder = workDir.empty();
  if (ownFolder) {
    folder = std::filesystem::temp_directory_path() /
             ("tarvik-campaign-" + std::to_string(options.firstSeed) + "-" +
              std::to_string(std::chrono::steady_clock::now().time_since_epoch().count() % 1000000));
  }
  std::filesystem::create_directories(folder, error);
  if (error) {
    std::fprintf(stderr, "tarvik-campaign: cannot make %s: %s\n", folder.c_str(), error.message().c_str());
    return 2;
  }
  options.workDir = folder.string();
  std::cout << "campaign from seed " << options.firstSeed << " (replay any run with --seed N --runs 1"
            << options.replayFlags << ")" << std::endl;
  const int status = RunCampaign(options, std::cout);
  if (ownFolder) std::filesystem::remove_all(folder, error);
  return status;
}

}  // namespace tarvik::campaign
