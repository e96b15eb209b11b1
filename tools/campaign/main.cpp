// tarvik-campaign: seeded random faults over many reflashes against the
// device simulator, every promise of the reflash checked after each run.
#include <string>
#include <vector>

#include "campaign/campaignmain.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && args.front() == "agent") {
    return tarvik::campaign::AgentMain(std::vector<std::string>(args.begin() + 1, args.end()));
  }
  return tarvik::campaign::CampaignMain(args);
}
