#pragma once
// The fault campaign: run after run, each drawn from its seed, each a
// reflash with faults against the simulated device and then a second one
// without them, every promise checked after each; figures at the end.
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "campaign/campaignclock.h"
#include "campaign/campaignexpect.h"
#include "campaign/campaignfront.h"
#include "campaign/campaignplan.h"
#include "campaign/campaignresources.h"
#include "simulator/simreport.h"

namespace tarvik::campaign {

struct CampaignOptions {
  std::uint64_t firstSeed = 1;
  // Bounds: runs (0: none) and seconds (0: none), whichever comes first.
  std::uint32_t runs = 0;
  std::uint32_t seconds = 0;
  DrawOptions draw;
  // The pace of a run with an answer slow to just under its time-out: the
  // fifth of a time-out that it misses by is real time enough for a busy
  // machine.
  ClockPace pace;
  // The real time a time-out lasts in the other runs, where every answer
  // comes at once or not at all.
  std::uint32_t quickAnswerWaitRealMs = 500;
  // Every run's facts, not only a broken promise's.
  bool verbose = false;
  // The front end in another process (the Windows program under Wine): its
  // command, the port name it opens, the link under which the device is
  // published for it, and whether it reads paths through Wine's Z: drive.
  std::vector<std::string> agentCommand;
  std::string agentPort;
  std::string portLink;
  // A second port for a device without faults that the agent reflashes
  // first (see AgentRequest::warmUpPort), and where it is published.
  std::string warmUpPort;
  std::string warmUpLink;
  bool winePaths = false;
  // Files of the runs (the HEX files, the stop files).
  std::string workDir;
  // What a replay must repeat besides the seed, as arguments.
  std::string replayFlags;
  // The cut-point mode: for one image of each procedure (of draw.procedure
  // when given), the line is cut at each moment of the reflash in turn,
  // with each front end (draw.front when given), and the device then
  // reflashed anew as a technician would. cutSample: that many cut points
  // per procedure drawn from the seed; 0: every one.
  bool cutPoints = false;
  std::uint32_t cutSample = 0;
};

// 0 when every promise held in every run.
int RunCampaign(const CampaignOptions& options, std::ostream& out);

// One reflash's facts as the checks take them.
struct ReflashFacts {
  FrontResult front;
  sim::SimReport report;
  // The device sat in its bootloader when the reflash began.
  bool inBootloader = false;
  // The first reflash of a run, with its faults and its stop.
  bool withFaults = true;
  // How many commands the device had when the stop took effect.
  std::size_t commandsAtStop = kNoStop;
  Resources before;
  Resources after;
  bool reopenChecked = false;
  std::string reopenError;
  // The agent's reflash of its warm-up device; empty without one.
  std::string warmUp;

  static constexpr std::size_t kNoStop = static_cast<std::size_t>(-1);
};

// A moment the line is cut at: its name ("during BE", "after W0004") and the
// fault that cuts it.
struct CutPoint {
  std::string name;
  PlannedFault fault;
};
// Every cut point of the plan's reflash: during each command (carried out,
// the line gone before its answer) and after it (answered, the line gone
// before the next command; after the last one, in the settle wait).
std::vector<CutPoint> CutPoints(const Plan& plan);

// The promises of one reflash, each that does not hold as a line.
std::vector<std::string> CheckReflash(const Plan& plan, const ReflashFacts& facts,
                                      const Expectation& expected);

}  // namespace tarvik::campaign
