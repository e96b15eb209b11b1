#include <cstdio>

#include "campaign/campaignmain.h"

namespace tarvik::campaign {

int CampaignMain(const std::vector<std::string>&) {
  // The simulated device needs a pseudo-terminal, which only Linux has.
  std::fputs(
      "tarvik-campaign: on Windows this program is the campaign's agent only; run the campaign on Linux "
      "with --agent and this program (see README)\n",
      stderr);
  return 2;
}

}  // namespace tarvik::campaign
