#include "campaign/campaignrun.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <ostream>
#include <random>
#include <thread>

#include "campaign/campaignagent.h"
#include "campaign/campaignprocess.h"
#include "simulator/devicesimulator.h"

namespace tarvik::campaign {
namespace {

// A reflash that takes longer than this has hung; the campaign then ends
// with the run's seed rather than wait for ever.
constexpr auto kLongestRun = std::chrono::minutes(5);
constexpr int kLongestAgentMs = 240'000;
// The longest a device holds an answer back is 130 % of 15 s.
constexpr std::uint32_t kLongestDeviceMs = 30'000;

bool IsIdentification(const std::string& command) { return command == "v" || command == "un"; }

// The step a command the device received belongs to.
std::string StepOf(const std::string& command) { return command.rfind("EE", 0) == 0 ? "EE" : command; }

std::size_t ReflashCommands(const sim::SimReport& report) {
  return static_cast<std::size_t>(std::count_if(report.commands.begin(), report.commands.end(),
                                                [](const std::string& c) { return !IsIdentification(c); }));
}

std::string Joined(const std::vector<std::string>& items, std::size_t from = 0) {
  std::string text;
  for (std::size_t i = from; i < items.size(); ++i) text += (text.empty() ? "" : " ") + items[i];
  return text;
}

// The device for a reflash of the plan: with the run's faults, or without
// them as the run left it.
sim::SimOptions DeviceOptions(const Plan& plan, bool withFaults, bool inBootloader,
                              const std::map<std::string, std::string>& flash) {
  sim::SimOptions o;
  o.version = plan.versionReply;
  o.unitName = plan.unitName;
  o.startInBootloader = inBootloader;
  o.staged = plan.procedure == Procedure::Staged;
  o.eraseMs = plan.eraseMs;
  o.unpaced = true;
  o.initialFlash = flash;
  o.seed = static_cast<std::uint32_t>(plan.seed);
  if (!withFaults) return o;
  for (const PlannedFault& f : plan.faults) {
    sim::Fault fault{.command = f.step, .nth = f.attempt, .lost = f.lost};
    switch (f.kind) {
      case FaultKind::Silence:
        fault.kind = sim::FaultKind::Silence;
        break;
      case FaultKind::Garbage:
        fault.kind = sim::FaultKind::Garbage;
        break;
      case FaultKind::WrongEcho:
        fault.kind = sim::FaultKind::WrongEcho;
        break;
      case FaultKind::NoOk:
        fault.kind = sim::FaultKind::NoOk;
        break;
      case FaultKind::Split:
        fault.kind = sim::FaultKind::Split;
        fault.delayMs = f.delayMs;
        fault.splitAt = f.splitAt;
        break;
      case FaultKind::SlowUnder:
      case FaultKind::SlowOver:
        fault.kind = sim::FaultKind::Slow;
        fault.delayMs = f.delayMs;
        break;
      case FaultKind::NoCarrier:
        fault.kind = sim::FaultKind::NoCarrier;
        break;
      case FaultKind::EchoNoCarrier:
        fault.kind = sim::FaultKind::EchoNoCarrier;
        break;
      case FaultKind::HangUp:
        fault.kind = sim::FaultKind::HangUp;
        break;
      case FaultKind::HangUpSilent:
        fault.kind = sim::FaultKind::Silence;
        o.faults.push_back(fault);
        fault.kind = sim::FaultKind::HangUp;
        fault.lost = false;
        break;
    }
    o.faults.push_back(fault);
  }
  return o;
}

// Whether the device met the fault: the step was sent that often.
bool Met(const PlannedFault& fault, const sim::SimReport& report) {
  const auto sent = std::count_if(report.commands.begin(), report.commands.end(),
                                  [&](const std::string& c) { return StepOf(c) == fault.step; });
  return sent >= static_cast<std::ptrdiff_t>(fault.attempt);
}

// The last answer carried "NO CARRIER".
bool LastAnswerLostTheLine(const sim::SimReport& report) {
  if (report.commands.empty()) return false;
  const std::size_t last = report.commands.size() - 1;
  return std::any_of(report.faultLog.begin(), report.faultLog.end(), [&](const auto& entry) {
    return entry.first == last && entry.second.find("no-carrier") != std::string::npos;
  });
}

}  // namespace

std::vector<CutPoint> CutPoints(const Plan& plan) {
  std::vector<CutPoint> cuts;
  const std::vector<std::string> steps = ReflashSteps(plan, plan.startInBootloader);
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const std::string& step = steps[i];
    cuts.push_back({"during " + step, {.step = step, .attempt = 1, .kind = FaultKind::HangUpSilent}});
    cuts.push_back({i + 1 == steps.size() ? "in the settle wait after " + step : "after " + step,
                    {.step = step, .attempt = 1, .kind = FaultKind::HangUp}});
  }
  return cuts;
}

std::vector<std::string> CheckReflash(const Plan& plan, const ReflashFacts& facts,
                                      const Expectation& expected) {
  std::vector<std::string> broken;
  const FrontResult& front = facts.front;
  const sim::SimReport& report = facts.report;
  const std::vector<std::string> steps = ReflashSteps(plan, facts.inBootloader);

  if (!front.error.empty()) broken.push_back("the front end could not work: " + front.error);

  // The commands the device received follow the procedure: identification,
  // then the steps in order, each tried again only as often as allowed.
  std::size_t first = 0;
  while (first < report.commands.size() && IsIdentification(report.commands[first])) ++first;
  int step = -1;
  std::uint32_t attempts = 0;
  bool outOfOrder = false;
  for (std::size_t i = first; i < report.commands.size() && !outOfOrder; ++i) {
    const std::string sent = StepOf(report.commands[i]);
    if (step >= 0 && sent == steps[static_cast<std::size_t>(step)]) {
      if (++attempts > StepAttempts(plan.procedure, sent)) {
        broken.push_back(sent + " sent " + std::to_string(attempts) + " times, at most " +
                         std::to_string(StepAttempts(plan.procedure, sent)) + " allowed");
      }
      continue;
    }
    if (static_cast<std::size_t>(step + 1) < steps.size() &&
        sent == steps[static_cast<std::size_t>(step + 1)]) {
      ++step;
      attempts = 1;
      continue;
    }
    broken.push_back("the device got " + report.commands[i] + " where " +
                     (step + 1 < static_cast<int>(steps.size()) ? steps[static_cast<std::size_t>(step + 1)]
                                                                : std::string("nothing")) +
                     " or a retry of " +
                     (step >= 0 ? steps[static_cast<std::size_t>(step)] : std::string("-")) + " was due");
    outOfOrder = true;
  }
  const bool lastStepReached = step + 1 == static_cast<int>(steps.size());

  // Every command arrived whole.
  if (!report.malformed.empty()) broken.push_back("malformed commands: " + Joined(report.malformed));
  if (!report.checkErrors.empty()) broken.push_back("check byte errors: " + Joined(report.checkErrors));
  if (report.strayBytes != 0)
    broken.push_back(std::to_string(report.strayBytes) + " stray bytes on the line");

  // Success only with the image whole, its last step last.
  if (front.successShown) {
    const std::string differs = FirstDifference(report.flash, ExpectedFlash(plan));
    if (!differs.empty())
      broken.push_back("success shown, but block " + differs + " of the flash is not the image's");
    if (!lastStepReached)
      broken.push_back("success shown before the last step (" + steps.back() + ") was sent");
    if (plan.procedure == Procedure::Staged && !report.commitMatches) {
      broken.push_back("success shown, but the device did not take the commit (" + report.commit +
                       ", wanted " + report.expectedCommit + ")");
    }
  }
  if (front.successShown && front.failureShown) broken.push_back("both success and failure shown");

  const bool stopped = front.stopMade;
  if (stopped) {
    // Between two commands: the one under way is answered or times out,
    // and nothing follows it.
    if (facts.commandsAtStop != ReflashFacts::kNoStop && facts.commandsAtStop <= report.commands.size()) {
      // Identification is not cut short; the reflash must be.
      const auto after =
          std::count_if(report.commands.begin() + static_cast<std::ptrdiff_t>(facts.commandsAtStop),
                        report.commands.end(), [](const std::string& c) { return !IsIdentification(c); });
      if (after > 1) {
        broken.push_back("after the stop the device still got " +
                         Joined(report.commands, facts.commandsAtStop));
      }
    }
    if (front.verdictAfterStop && plan.front == Front::Window)
      broken.push_back("a verdict shown after the exit");
    if (front.failureShown && plan.front == Front::Cli) broken.push_back("a failure told after Ctrl+C");
    if (plan.front == Front::Cli && !front.successShown && !front.failureShown && front.exitCode != 130) {
      broken.push_back("exit code " + std::to_string(front.exitCode) + " after Ctrl+C");
    }
  } else if (front.identified && !front.successShown && !front.failureShown) {
    broken.push_back("the reflash ended without a verdict (" + front.outcome + ")");
  } else if (!front.identified) {
    broken.push_back("the device was not identified (" + front.outcome + ")");
  }

  // After a failure, nothing but the failing step's attempts: the walk above
  // allows nothing after it; here the step must have used its attempts, or
  // have had a reason to stop short of them.
  if (front.failureShown && !stopped && step >= 0 && !outOfOrder) {
    const std::string& failing = steps[static_cast<std::size_t>(step)];
    const bool exhausted = attempts >= StepAttempts(plan.procedure, failing);
    const bool lineLost =
        report.hungUp || (plan.procedure == Procedure::Staged && LastAnswerLostTheLine(report));
    if (!exhausted && !lineLost) {
      broken.push_back("failed at " + failing + " after " + std::to_string(attempts) + " attempts of " +
                       std::to_string(StepAttempts(plan.procedure, failing)) + " without a reason");
    }
  }
  if (front.failureShown && !stopped && step < 0)
    broken.push_back("failed without sending a reflash command");

  if (!stopped) {
    if (expected.outcome == Expected::Success && !front.successShown) {
      broken.push_back("success expected (" + expected.reason + "), got " + front.outcome);
    }
    if (expected.outcome == Expected::Failure && front.successShown) {
      broken.push_back("failure expected (" + expected.reason + "), got success");
    }
  }

  if (!facts.warmUp.empty() && facts.warmUp != "succeeded") {
    broken.push_back("the agent's reflash of a device without faults did not succeed: " + facts.warmUp);
  }
  // The port is free again, and nothing of the reflash is left behind.
  if (facts.reopenChecked && !facts.reopenError.empty()) {
    broken.push_back("the port could not be opened again: " + facts.reopenError);
  }
  if (!(facts.after == facts.before)) {
    broken.push_back("descriptors " + std::to_string(facts.before.descriptors) + " -> " +
                     std::to_string(facts.after.descriptors) + ", threads " +
                     std::to_string(facts.before.threads) + " -> " + std::to_string(facts.after.threads));
  }
  return broken;
}

namespace {

struct RunRecord {
  Plan plan;
  Expectation expected;
  ReflashFacts first;
  ReflashFacts second;
  std::vector<std::string> broken;
};

std::string Outcome(const FrontResult& front) {
  if (!front.error.empty()) return "error";
  if (front.stopMade) return front.successShown ? "stopped after the last write" : "stopped";
  if (front.successShown) return "succeeded";
  if (front.failureShown) return "failed";
  return front.outcome.empty() ? "no verdict" : front.outcome;
}

class Stats {
 public:
  void Add(const RunRecord& run) {
    ++runs_;
    ++fronts_[FrontName(run.plan.front)];
    ++procedures_[ProcedureName(run.plan.procedure)];
    for (const PlannedFault& fault : run.plan.faults) {
      ++drawn_[FaultKindName(fault.kind)];
      if (Met(fault, run.first.report)) ++met_[FaultKindName(fault.kind)];
      if (fault.lost) ++lost_;
    }
    ++outcomes_[Outcome(run.first.front)];
    if (run.first.front.stopRefused) ++stopRefused_;
    ++expected_[ExpectedName(run.expected.outcome)];
    ++second_[Outcome(run.second.front)];
    if (!run.broken.empty()) ++brokenRuns_;
    for (const std::string& line : run.broken) {
      // The kind of promise: the text before its details.
      ++broken_[line.substr(0, line.find_first_of(":(0123456789"))];
    }
  }

  void Print(std::ostream& out, double seconds, std::uint64_t firstSeed) const {
    char time[32];
    std::snprintf(time, sizeof time, "%.1f", seconds);
    out << "campaign: " << runs_ << " runs (" << 2 * runs_ << " reflashes) in " << time << " s, seeds "
        << firstSeed << ".." << (runs_ == 0 ? firstSeed : firstSeed + runs_ - 1) << "\n";
    out << "  front ends: " << List(fronts_) << "; procedures: " << List(procedures_) << "\n";
    std::map<std::string, int> faults;
    std::string kinds;
    for (int k = 0; k < kFaultKindCount; ++k) {
      const std::string name = FaultKindName(static_cast<FaultKind>(k));
      const auto drawn = drawn_.find(name);
      const auto met = met_.find(name);
      kinds += (kinds.empty() ? "" : ", ") + name + " " +
               std::to_string(met == met_.end() ? 0 : met->second) + "/" +
               std::to_string(drawn == drawn_.end() ? 0 : drawn->second);
    }
    out << "  faults met/drawn: " << kinds << "; lost commands drawn " << lost_ << "\n";
    out << "  first reflash: " << List(outcomes_) << "; exit disabled at the stop " << stopRefused_ << "\n";
    out << "  expected: " << List(expected_) << "\n";
    out << "  second reflash: " << List(second_) << "\n";
    out << "  violations: " << brokenRuns_ << (broken_.empty() ? "" : " runs (" + List(broken_) + ")")
        << "\n";
  }

  std::uint32_t Runs() const { return runs_; }
  std::uint32_t BrokenRuns() const { return brokenRuns_; }

 private:
  static std::string List(const std::map<std::string, int>& counts) {
    std::string text;
    for (const auto& [name, count] : counts)
      text += (text.empty() ? "" : ", ") + name + " " + std::to_string(count);
    return text.empty() ? "none" : text;
  }

  std::uint32_t runs_ = 0;
  std::uint32_t brokenRuns_ = 0;
  std::uint32_t stopRefused_ = 0;
  std::uint32_t lost_ = 0;
  std::map<std::string, int> fronts_, procedures_, drawn_, met_, outcomes_, expected_, second_, broken_;
};

// Ends the process with the run's seed when a run hangs.
class Watchdog {
 public:
  explicit Watchdog(const std::string& replayFlags) : replayFlags_(replayFlags) {
    thread_ = std::thread([this] { Watch(); });
  }
  ~Watchdog() {
    {
      std::lock_guard lock(mutex_);
      over_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
  void Begin(std::uint64_t seed) {
    std::lock_guard lock(mutex_);
    seed_ = seed;
    since_ = std::chrono::steady_clock::now();
    running_ = true;
  }
  void End() {
    std::lock_guard lock(mutex_);
    running_ = false;
  }

 private:
  void Watch() {
    std::unique_lock lock(mutex_);
    while (!over_) {
      changed_.wait_for(lock, std::chrono::seconds(1));
      if (running_ && std::chrono::steady_clock::now() - since_ > kLongestRun) {
        std::fprintf(
            stderr,
            "VIOLATION in run %llu: it did not end within %lld s\n  replay: tarvik-campaign --seed %llu "
            "--runs 1%s\n",
            static_cast<unsigned long long>(seed_),
            static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(kLongestRun).count()),
            static_cast<unsigned long long>(seed_), replayFlags_.c_str());
        std::fflush(stderr);
        std::_Exit(3);
      }
    }
  }

  const std::string replayFlags_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool over_ = false;
  bool running_ = false;
  std::uint64_t seed_ = 0;
  std::chrono::steady_clock::time_point since_;
  std::thread thread_;
};

// The user: wants out once the device has had so many of the reflash's
// commands and the clock has gone on by the delay.
class User {
 public:
  // act runs on the user's thread and may watch over, which is set once the
  // reflash is over.
  using Act = std::function<void(const std::atomic<bool>& over)>;
  User(const Plan& plan, bool withFaults, sim::DeviceSimulator& sim, Clock& clock, Act act) : sim_(sim) {
    if (!withFaults || !plan.stop.wanted) return;
    thread_ = std::thread([this, &plan, &clock, act] {
      const std::size_t after = plan.stop.afterCommands;
      while (!over_.load()) {
        if (sim_.WaitUntil([after](const sim::SimReport& r) { return ReflashCommands(r) >= after; }, 20))
          break;
      }
      const std::uint64_t start = clock.NowMs();
      while (!over_.load() && clock.NowMs() - start < plan.stop.delayMs) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      if (!over_.load()) act(over_);
    });
  }
  ~User() { End(); }
  void End() {
    over_.store(true);
    if (thread_.joinable()) thread_.join();
  }

 private:
  sim::DeviceSimulator& sim_;
  std::atomic<bool> over_{false};
  std::thread thread_;
};

class Runner {
 public:
  Runner(const CampaignOptions& options, std::ostream& out) : options_(options), out_(out) {}

  int Run() {
    if (options_.cutPoints) return RunCutPoints();
    Watchdog watchdog(options_.replayFlags);
    const auto start = std::chrono::steady_clock::now();
    for (std::uint64_t i = 0;; ++i) {
      if (options_.runs != 0 && i >= options_.runs) break;
      const double elapsed = Seconds(start);
      if (options_.seconds != 0 && elapsed >= options_.seconds) break;
      if (options_.runs == 0 && options_.seconds == 0 && i > 0) break;
      const std::uint64_t seed = options_.firstSeed + i;
      watchdog.Begin(seed);
      const RunRecord run = RunOne(seed);
      watchdog.End();
      stats_.Add(run);
      Print(run);
    }
    stats_.Print(out_, Seconds(start), options_.firstSeed);
    if (agentRestarts_ > 0) out_ << "  agents started again: " << agentRestarts_ << "\n";
    out_.flush();
    return stats_.BrokenRuns() == 0 ? 0 : 1;
  }

 private:
  static double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
  }

  std::string HexPath(const Plan& plan) const {
    return (std::filesystem::path(options_.workDir) / ("run-" + std::to_string(plan.seed) + ".hex")).string();
  }
  // A path as the agent reads it.
  std::string AgentPath(const std::string& path) const { return options_.winePaths ? "Z:" + path : path; }

  RunRecord RunOne(std::uint64_t seed) { return RunPlanned(DrawPlan(seed, options_.draw)); }

  // A plan for the cut points of a procedure: from the first seed on, the
  // first image of at least kCutRecords records, written into a device in its
  // firmware (so the catalogue reflash starts with "BL"), with no faults of
  // its own.
  Plan CutPlan(Procedure procedure) const {
    constexpr std::size_t kCutRecords = 16;
    DrawOptions draw = options_.draw;
    draw.procedure = procedure;
    Plan plan;
    for (std::uint64_t seed = options_.firstSeed;; ++seed) {
      plan = DrawPlan(seed, draw);
      if (plan.imageLines.size() > kCutRecords) break;
    }
    plan.faults.clear();
    plan.stop = {};
    if (procedure != Procedure::Staged) {
      plan.startInBootloader = false;
      plan.unitName = "QTT1";
    }
    return plan;
  }

  // Every cut point (or a sample) of one image of each procedure, with each
  // front end: the reflash cut there, then the device reflashed anew, which
  // must identify it, offer its image, write it and leave the flash equal to
  // it.
  int RunCutPoints() {
    Watchdog watchdog(options_.replayFlags);
    const auto start = std::chrono::steady_clock::now();
    std::vector<Procedure> procedures = {Procedure::Catalogue, Procedure::Service, Procedure::Staged};
    if (options_.draw.procedure) procedures = {*options_.draw.procedure};
    std::vector<Front> fronts = {Front::Window, Front::Cli};
    if (options_.draw.front) fronts = {*options_.draw.front};
    std::mt19937_64 sample(options_.firstSeed);
    std::vector<std::string> figures;
    std::uint32_t notRecovered = 0;
    for (const Procedure procedure : procedures) {
      const Plan base = CutPlan(procedure);
      std::vector<std::pair<Front, CutPoint>> tries;
      for (const CutPoint& cut : CutPoints(base)) {
        for (const Front front : fronts) tries.emplace_back(front, cut);
      }
      if (options_.cutSample > 0 && tries.size() > options_.cutSample) {
        std::shuffle(tries.begin(), tries.end(), sample);
        tries.resize(options_.cutSample);
      }
      std::uint32_t recovered = 0;
      std::string failed;
      for (const auto& [front, cut] : tries) {
        Plan plan = base;
        plan.front = front;
        plan.faults = {cut.fault};
        watchdog.Begin(plan.seed);
        const RunRecord run = RunPlanned(plan, true);
        watchdog.End();
        const FrontResult& again = run.second.front;
        std::vector<std::string> broken = run.broken;
        if (again.successShown && FirstDifference(run.second.report.flash, ExpectedFlash(plan)) != "")
          broken.push_back("again: the flash is not the image's");
        const bool ok = broken.empty() && again.identified && again.successShown;
        if (ok) {
          ++recovered;
        } else {
          ++notRecovered;
          failed += std::string(failed.empty() ? "" : ", ") + FrontName(front) + " " + cut.name;
        }
        out_ << "cut " << ProcedureName(procedure) << " " << FrontName(front) << " " << cut.name << ": "
             << Outcome(run.first.front) << "; again: " << Outcome(again)
             << (again.offered.empty() ? "" : ", offered " + again.offered)
             << (ok ? "; recovered" : "; NOT RECOVERED") << "\n";
        if (!ok) {
          for (const std::string& line : broken) out_ << "  " << line << "\n";
          out_ << "  device got: " << Joined(run.first.report.commands)
               << (run.first.report.hungUp ? " (hung up)" : "")
               << "; again: " << Joined(run.second.report.commands) << "\n";
          out_ << "  replay: tarvik-campaign --cut-points --seed " << base.seed << " --procedure "
               << ProcedureName(procedure) << " --front " << FrontName(front) << options_.replayFlags << "\n";
        }
        out_.flush();
      }
      figures.push_back(std::string(ProcedureName(procedure)) + " (seed " + std::to_string(base.seed) + ", " +
                        std::to_string(base.imageLines.size() - 1) + " records, " +
                        std::to_string(CutPoints(base).size()) + " cut points): tried " +
                        std::to_string(tries.size()) + ", recovered " + std::to_string(recovered) +
                        (failed.empty() ? "" : ", not recovered: " + failed));
    }
    char time[32];
    std::snprintf(time, sizeof time, "%.1f", Seconds(start));
    out_ << "campaign: cut points in " << time << " s\n";
    for (const std::string& line : figures) out_ << "  " << line << "\n";
    out_ << "  violations: " << notRecovered << "\n";
    out_.flush();
    return notRecovered == 0 ? 0 : 1;
  }

  // decide: the second reflash, as a technician's, lets the windows' update
  // decision choose the image.
  RunRecord RunPlanned(const Plan& drawn, bool decide = false) {
    RunRecord run;
    run.plan = drawn;
    const Plan& plan = run.plan;
    run.expected = Expect(plan, plan.startInBootloader, true);
    const std::string hexPath = HexPath(plan);
    if (plan.procedure == Procedure::Service) std::ofstream(hexPath, std::ios::binary) << plan.hexText;

    ClockPace pace = options_.pace;
    const bool slowAnswer = std::any_of(plan.faults.begin(), plan.faults.end(),
                                        [](const PlannedFault& f) { return f.kind == FaultKind::SlowUnder; });
    if (!slowAnswer) pace.answerWaitRealMs = std::min(pace.answerWaitRealMs, options_.quickAnswerWaitRealMs);
    CampaignClock clock(pace);
    run.first = Reflash(plan, clock, true, plan.startInBootloader, plan.oldFlash, hexPath);
    run.broken = CheckReflash(plan, run.first, run.expected);
    const bool inBootloader = run.first.report.mode == "bootloader";
    run.second = Reflash(plan, clock, false, inBootloader, run.first.report.flash, hexPath, decide);
    if (decide && !run.second.front.offered.empty() && run.second.front.offered != "the image")
      run.broken.push_back("again: the decision offered " + run.second.front.offered);
    for (const std::string& line : CheckReflash(plan, run.second, Expect(plan, inBootloader, false))) {
      run.broken.push_back("again: " + line);
    }
    std::error_code error;
    std::filesystem::remove(hexPath, error);
    return run;
  }

  ReflashFacts Reflash(const Plan& plan, Clock& clock, bool withFaults, bool inBootloader,
                       const std::map<std::string, std::string>& flash, const std::string& hexPath,
                       bool decide = false) {
    ReflashFacts facts;
    facts.inBootloader = inBootloader;
    facts.withFaults = withFaults;
    sim::SimOptions device = DeviceOptions(plan, withFaults, inBootloader, flash);
    const bool inProcess = options_.agentCommand.empty();
    if (inProcess) {
      device.clock = &clock;
    } else {
      device.linkPath = options_.portLink;
    }
    if (inProcess) facts.before = CountResources();
    {
      sim::DeviceSimulator sim(device);
      if (!sim.Start()) {
        facts.front.error = "the simulator did not start: " + sim.Error();
        return facts;
      }
      if (inProcess) {
        RunInProcess(plan, clock, withFaults, sim, hexPath, facts, decide);
      } else {
        RunAgentProcess(plan, withFaults, sim, hexPath, facts);
      }
      facts.report = sim.Report();
      facts.reopenChecked = !facts.report.hungUp;
      if (inProcess && facts.reopenChecked) facts.reopenError = ReopenError(sim.SlavePath());
      if (!inProcess && !facts.reopenChecked) facts.reopenError.clear();
      sim.Stop();
    }
    if (inProcess) facts.after = CountResourcesBackTo(facts.before);
    return facts;
  }

  void RunInProcess(const Plan& plan, Clock& clock, bool withFaults, sim::DeviceSimulator& sim,
                    const std::string& hexPath, ReflashFacts& facts, bool decide) {
    std::atomic<bool> wanted{false};
    User user(plan, withFaults, sim, clock, [&](const std::atomic<bool>&) { wanted.store(true); });
    const FrontRequest request{
        .plan = plan,
        .port = sim.SlavePath(),
        .hexPath = hexPath,
        .clock = clock,
        .userWantsOut =
            [&] {
              if (!wanted.load()) return false;
              facts.commandsAtStop = sim.Report().commands.size();
              return true;
            },
        .mayStop = withFaults,
        .decide = decide,
    };
    facts.front = RunFront(request);
    user.End();
    WaitForTheDevice(sim, facts);
  }

  // Commands still on the line, or waiting behind an answer the device holds
  // back, reach its report.
  static void WaitForTheDevice(sim::DeviceSimulator& sim, ReflashFacts& facts) {
    if (!sim.WaitIdle(kLongestDeviceMs)) {
      facts.front.error +=
          "the device was still busy " + std::to_string(kLongestDeviceMs / 1000) + " s later";
    }
  }

  // One agent process for one reflash: its warm-up device, the user who may
  // want out, and what it printed.
  struct AgentAttempt {
    ProcessResult process;
    std::string line;
    std::size_t commandsAtStop = ReflashFacts::kNoStop;
    bool warmUpHeardAnything = false;
  };

  AgentAttempt RunAgentOnce(const Plan& plan, bool withFaults, sim::DeviceSimulator& sim,
                            const std::string& hexPath, ReflashFacts& facts) {
    AgentAttempt attempt;
    const std::string stopFile =
        (std::filesystem::path(options_.workDir) / ("stop-" + std::to_string(plan.seed))).string();
    std::error_code error;
    std::filesystem::remove(stopFile, error);
    std::filesystem::remove(stopFile + ".done", error);
    std::atomic<std::size_t> atStop{ReflashFacts::kNoStop};
    User user(plan, withFaults, sim, SystemClock(), [&](const std::atomic<bool>& over) {
      std::ofstream(stopFile) << "stop\n";
      // The stop takes effect when the agent sees the file; the device's
      // commands are counted once it says so, which can only be later.
      while (!over.load()) {
        std::error_code e;
        if (std::filesystem::exists(stopFile + ".done", e)) {
          atStop.store(sim.Report().commands.size());
          return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    });
    std::optional<sim::DeviceSimulator> warmUp;
    if (!options_.warmUpLink.empty()) {
      sim::SimOptions device = DeviceOptions(plan, false, plan.startInBootloader, plan.oldFlash);
      device.linkPath = options_.warmUpLink;
      warmUp.emplace(device);
      if (!warmUp->Start()) facts.front.error = "the warm-up simulator did not start: " + warmUp->Error();
    }
    AgentRequest request;
    request.seed = plan.seed;
    request.warmUpPort = options_.warmUpPort;
    request.draw = options_.draw;
    request.phase = withFaults ? 1 : 2;
    request.port = options_.agentPort;
    if (plan.procedure == Procedure::Service) request.hexPath = AgentPath(hexPath);
    if (withFaults && plan.stop.wanted) request.stopFile = AgentPath(stopFile);
    std::vector<std::string> argv = options_.agentCommand;
    argv.push_back("agent");
    for (const std::string& arg : AgentArguments(request)) argv.push_back(arg);
    attempt.process = RunProcess(argv, kLongestAgentMs);
    user.End();
    attempt.commandsAtStop = atStop.load();
    std::filesystem::remove(stopFile, error);
    std::filesystem::remove(stopFile + ".done", error);
    if (warmUp) {
      attempt.warmUpHeardAnything = !warmUp->Report().commands.empty();
      warmUp->Stop();
    }
    const std::string& out = attempt.process.out;
    for (std::size_t at = 0; at < out.size();) {
      const std::size_t end = out.find('\n', at);
      const std::string one = out.substr(at, end == std::string::npos ? end : end - at);
      if (one.rfind("RESULT ", 0) == 0) attempt.line = one;
      at = end == std::string::npos ? out.size() : end + 1;
    }
    while (!attempt.line.empty() && (attempt.line.back() == '\r' || attempt.line.back() == '\n')) {
      attempt.line.pop_back();
    }
    return attempt;
  }

  void RunAgentProcess(const Plan& plan, bool withFaults, sim::DeviceSimulator& sim,
                       const std::string& hexPath, ReflashFacts& facts) {
    AgentAttempt attempt = RunAgentOnce(plan, withFaults, sim, hexPath, facts);
    AgentReport report;
    // A Windows program under Wine now and then ends at its start, before it
    // has said or sent anything; with both devices untouched it is started
    // once more, and that is told.
    if (attempt.process.started && !attempt.process.timedOut && !ParseAgentLine(attempt.line, report) &&
        sim.Report().commands.empty() && !attempt.warmUpHeardAnything) {
      ++agentRestarts_;
      out_ << "note: in run " << plan.seed << " the agent ended with " << attempt.process.exitCode
           << " before it did anything (" << attempt.process.err.substr(0, 200) << "); started again\n";
      attempt = RunAgentOnce(plan, withFaults, sim, hexPath, facts);
    }
    const ProcessResult& process = attempt.process;
    facts.commandsAtStop = attempt.commandsAtStop;
    if (!process.started) {
      facts.front.error = "the agent did not start";
    } else if (process.timedOut) {
      facts.front.error = "the agent did not end within " + std::to_string(kLongestAgentMs / 1000) + " s";
    } else if (process.exitCode != 0 || !ParseAgentLine(attempt.line, report)) {
      facts.front.error = "the agent ended with " + std::to_string(process.exitCode) + ": " +
                          process.err.substr(process.err.size() > 2000 ? process.err.size() - 2000 : 0);
    } else {
      facts.front = report.front;
      facts.before = report.before;
      facts.after = report.after;
      facts.reopenError = report.reopenError;
      facts.warmUp = report.warmUp;
    }
    WaitForTheDevice(sim, facts);
  }

  void Print(const RunRecord& run) {
    const Plan& plan = run.plan;
    out_ << "run " << plan.seed << ": " << Describe(plan) << " -> " << Outcome(run.first.front)
         << " (expected " << ExpectedName(run.expected.outcome) << "); again: " << Outcome(run.second.front)
         << (run.broken.empty() ? "" : "; VIOLATED") << "\n";
    if (run.broken.empty() && !options_.verbose) return;
    if (!run.broken.empty()) out_ << "VIOLATION in run " << plan.seed << ":\n";
    for (const std::string& line : run.broken) out_ << "  " << line << "\n";
    out_ << "  expected " << ExpectedName(run.expected.outcome) << ": " << run.expected.reason << "\n";
    out_ << "  device got: " << Joined(run.first.report.commands)
         << (run.first.report.hungUp ? " (hung up)" : "") << "\n";
    std::string faults;
    for (const auto& [index, kind] : run.first.report.faultLog) {
      faults += (faults.empty() ? "" : ", ") + kind + " at " +
                (index < run.first.report.commands.size() ? run.first.report.commands[index] : "?");
    }
    out_ << "  faults met: " << (faults.empty() ? "none" : faults) << "\n";
    out_ << "  first: " << run.first.front.outcome << ", stop " << run.first.front.stopMade << ", refused "
         << run.first.front.stopRefused << ", descriptors " << run.first.before.descriptors << " -> "
         << run.first.after.descriptors << ", threads " << run.first.before.threads << " -> "
         << run.first.after.threads << "; again: " << run.second.front.outcome
         << ", device got: " << Joined(run.second.report.commands) << "\n";
    if (!run.broken.empty()) {
      out_ << "  replay: tarvik-campaign --seed " << plan.seed << " --runs 1" << options_.replayFlags << "\n";
    }
    out_.flush();
  }

  const CampaignOptions& options_;
  std::ostream& out_;
  Stats stats_;
  int agentRestarts_ = 0;
};

}  // namespace

int RunCampaign(const CampaignOptions& options, std::ostream& out) {
  Runner runner(options, out);
  return runner.Run();
}

}  // namespace tarvik::campaign
