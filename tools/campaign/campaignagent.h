#pragma once
// The front end in a process of its own, for the Windows program under Wine:
// the campaign on Linux keeps the simulated device, draws the run from its
// seed and checks the promises; the agent draws the same run from the same
// seed, performs one reflash through the port it is given and reports what
// the user saw and what its process held before and after, as one line.
#include <cstdint>
#include <string>
#include <vector>

#include "campaign/campaignfront.h"
#include "campaign/campaignplan.h"
#include "campaign/campaignresources.h"

namespace tarvik::campaign {

struct AgentRequest {
  std::uint64_t seed = 0;
  DrawOptions draw;
  // 1: the run's reflash, faults and stop as drawn; 2: the second reflash,
  // without faults and without a stop.
  int phase = 1;
  std::string port;
  std::string hexPath;
  // The user wants out once this file is there; the agent answers with the
  // same name and ".done" once the stop took effect.
  std::string stopFile;
  // A device of the same kind without faults, reflashed first: the system
  // makes some things once per process on their first use (the port's, the
  // threads', an exception's), which must not count as left behind.
  std::string warmUpPort;
};

struct AgentReport {
  FrontResult front;
  Resources before;
  Resources after;
  // Why the port could not be opened again afterwards; empty: it could.
  std::string reopenError;
  // How the reflash of the warm-up device ended; empty without one.
  std::string warmUp;
};

// The agent's arguments after "agent", and back.
std::vector<std::string> AgentArguments(const AgentRequest& request);
bool ParseAgentArguments(const std::vector<std::string>& args, AgentRequest& request, std::string& error);

// "RESULT key=value ...", one line.
std::string AgentLine(const AgentReport& report);
// False when the line is not one AgentLine wrote.
bool ParseAgentLine(const std::string& line, AgentReport& report);

// One reflash in this process, the device keeping real time elsewhere.
AgentReport RunAgent(const AgentRequest& request);

// Opens the port as the tool does and closes it again; the error's text when
// that fails.
std::string ReopenError(const std::string& port);

}  // namespace tarvik::campaign
