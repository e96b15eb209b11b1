#include <cstdio>
#include <iostream>

#include "campaign/campaignagent.h"
#include "campaign/campaignmain.h"

namespace tarvik::campaign {

int AgentMain(const std::vector<std::string>& args) {
  AgentRequest request;
  std::string error;
  if (!ParseAgentArguments(args, request, error)) {
    std::fprintf(stderr, "tarvik-campaign agent: %s\n", error.c_str());
    return 2;
  }
  const AgentReport report = RunAgent(request);
  std::cout << AgentLine(report) << std::endl;
  return 0;
}

}  // namespace tarvik::campaign
