#include "campaign/campaignagent.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "campaign/campaignclock.h"
#include "cli/clisession.h"
#include "serial/comportworker.h"
#include "serial/link.h"

namespace tarvik::campaign {
namespace {

// Values travel without blanks.
std::string Token(std::string text) {
  std::replace(text.begin(), text.end(), ' ', '_');
  std::replace(text.begin(), text.end(), '\n', '_');
  std::replace(text.begin(), text.end(), '\r', '_');
  return text.empty() ? "-" : text;
}

std::string Untoken(std::string text) {
  if (text == "-") return {};
  std::replace(text.begin(), text.end(), '_', ' ');
  return text;
}

// How often the agent looks for the stop file: a look costs a call into the
// system, and the windows' and the command line's waits ask every few ms.
constexpr auto kStopLookInterval = std::chrono::milliseconds(5);

// A port name no system has.
constexpr const char* kNoSuchPort = "tarvik-campaign-no-such-port";

}  // namespace

std::vector<std::string> AgentArguments(const AgentRequest& request) {
  std::vector<std::string> args = {"--seed",  std::to_string(request.seed),
                                   "--phase", std::to_string(request.phase),
                                   "--port",  request.port};
  if (request.draw.realTime) args.push_back("--real-time");
  if (request.draw.front) args.insert(args.end(), {"--front", FrontName(*request.draw.front)});
  if (request.draw.procedure)
    args.insert(args.end(), {"--procedure", ProcedureName(*request.draw.procedure)});
  if (!request.hexPath.empty()) args.insert(args.end(), {"--hex", request.hexPath});
  if (!request.stopFile.empty()) args.insert(args.end(), {"--stop-file", request.stopFile});
  if (!request.warmUpPort.empty()) args.insert(args.end(), {"--warm-up-port", request.warmUpPort});
  return args;
}

bool ParseAgentArguments(const std::vector<std::string>& args, AgentRequest& request, std::string& error) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& flag = args[i];
    if (flag == "--real-time") {
      request.draw.realTime = true;
      continue;
    }
    if (i + 1 >= args.size()) {
      error = flag + " needs a value";
      return false;
    }
    const std::string& value = args[++i];
    if (flag == "--seed") {
      request.seed = std::stoull(value);
    } else if (flag == "--phase") {
      request.phase = std::stoi(value);
    } else if (flag == "--port") {
      request.port = value;
    } else if (flag == "--hex") {
      request.hexPath = value;
    } else if (flag == "--stop-file") {
      request.stopFile = value;
    } else if (flag == "--warm-up-port") {
      request.warmUpPort = value;
    } else if (flag == "--front") {
      request.draw.front = value == "cli" ? Front::Cli : Front::Window;
    } else if (flag == "--procedure") {
      request.draw.procedure = value == "service"  ? Procedure::Service
                               : value == "staged" ? Procedure::Staged
                                                   : Procedure::Catalogue;
    } else {
      error = "unknown agent option " + flag;
      return false;
    }
  }
  if (request.port.empty()) {
    error = "the agent needs --port";
    return false;
  }
  return true;
}

std::string AgentLine(const AgentReport& report) {
  const FrontResult& f = report.front;
  std::ostringstream line;
  line << "RESULT opened=" << f.portOpened << " identified=" << f.identified << " success=" << f.successShown
       << " failure=" << f.failureShown << " exit=" << f.exitCode << " stop=" << f.stopMade
       << " refused=" << f.stopRefused << " after-stop=" << f.verdictAfterStop
       << " descriptors=" << report.before.descriptors << "/" << report.after.descriptors
       << " threads=" << report.before.threads << "/" << report.after.threads
       << " outcome=" << Token(f.outcome) << " reopen=" << Token(report.reopenError)
       << " warm-up=" << Token(report.warmUp) << " error=" << Token(f.error);
  return line.str();
}

bool ParseAgentLine(const std::string& line, AgentReport& report) {
  std::istringstream in(line);
  std::string word;
  if (!(in >> word) || word != "RESULT") return false;
  std::map<std::string, std::string> values;
  while (in >> word) {
    const auto equals = word.find('=');
    if (equals == std::string::npos) return false;
    values[word.substr(0, equals)] = word.substr(equals + 1);
  }
  for (const char* key : {"opened", "identified", "success", "failure", "exit", "stop", "refused",
                          "after-stop", "descriptors", "threads", "outcome", "reopen", "error"}) {
    if (values.find(key) == values.end()) return false;
  }
  auto pair = [](const std::string& text, int& before, int& after) {
    const auto slash = text.find('/');
    before = std::stoi(text.substr(0, slash));
    after = slash == std::string::npos ? before : std::stoi(text.substr(slash + 1));
  };
  FrontResult& f = report.front;
  f.portOpened = values["opened"] == "1";
  f.identified = values["identified"] == "1";
  f.successShown = values["success"] == "1";
  f.failureShown = values["failure"] == "1";
  f.exitCode = std::stoi(values["exit"]);
  f.stopMade = values["stop"] == "1";
  f.stopRefused = values["refused"] == "1";
  f.verdictAfterStop = values["after-stop"] == "1";
  f.outcome = Untoken(values["outcome"]);
  f.error = Untoken(values["error"]);
  pair(values["descriptors"], report.before.descriptors, report.after.descriptors);
  pair(values["threads"], report.before.threads, report.after.threads);
  report.reopenError = Untoken(values["reopen"]);
  report.warmUp = Untoken(values["warm-up"]);
  return true;
}

std::string ReopenError(const std::string& port) {
  try {
    TComPortWorker worker(PortNameOf(port), false, nullptr);
    worker.Open();
    worker.Close();
    return {};
  } catch (const std::exception& e) {
    return e.what();
  }
}

void DumpHandles(const char* when);
AgentReport RunAgent(const AgentRequest& request) {
  const Plan plan = DrawPlan(request.seed, request.draw);
  AgentReport report;
  auto lastLook = std::chrono::steady_clock::now();
  const auto wantsOut = [&] {
    const auto now = std::chrono::steady_clock::now();
    if (request.stopFile.empty() || now - lastLook < kStopLookInterval) return false;
    lastLook = now;
    std::error_code error;
    if (!std::filesystem::exists(request.stopFile, error)) return false;
    std::ofstream(request.stopFile + ".done") << "done\n";
    return true;
  };
  // What the system makes once per process on its first use is made here,
  // before the count: a port that is not there (an error thrown and
  // caught), the run's port, a thread, and a whole reflash of the warm-up
  // device.
  ReopenError(kNoSuchPort);
  ReopenError(request.port);
  std::thread([] {}).join();
  if (!request.warmUpPort.empty()) {
    CampaignClock clock(ClockPace{.answerWaitRealMs = 0});
    const FrontResult warmUp = RunFront({.plan = plan,
                                         .port = request.warmUpPort,
                                         .hexPath = request.hexPath,
                                         .clock = clock,
                                         .mayStop = false});
    report.warmUp = warmUp.successShown ? "succeeded" : warmUp.outcome + " " + warmUp.error;
  }
  report.before = CountResources();
  {
    // The device keeps real time: so do the waits for its answers. The
    // clock goes with the reflash, and with it what its lock made.
    CampaignClock clock(ClockPace{.answerWaitRealMs = 0});
    report.front = RunFront({.plan = plan,
                             .port = request.port,
                             .hexPath = request.hexPath,
                             .clock = clock,
                             .userWantsOut = wantsOut,
                             .mayStop = request.phase == 1});
  }
  report.reopenError = ReopenError(request.port);
  report.after = CountResourcesBackTo(report.before);
  return report;
}

}  // namespace tarvik::campaign
