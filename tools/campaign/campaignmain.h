#pragma once
// tarvik-campaign's two roles: the campaign (on Linux, where the simulated
// device lives) and the agent that performs one reflash for it in a process
// of its own (the Windows program under Wine).
#include <string>
#include <vector>

namespace tarvik::campaign {

// args without the program's name.
int CampaignMain(const std::vector<std::string>& args);
// args after "agent".
int AgentMain(const std::vector<std::string>& args);

}  // namespace tarvik::campaign
