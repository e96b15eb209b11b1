// The fault campaign: that a seed draws one run and only faults the
// device's promises allow, that the outcome it expects follows the tool's
// rules, that its checks see a broken promise, that its clock keeps pauses
// short and time-outs long, and a short campaign over every front end and
// procedure.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <sstream>
#include <thread>

#include "campaign/campaignclock.h"
#include "campaign/campaignexpect.h"
#include "campaign/campaignfront.h"
#include "campaign/campaignplan.h"
#include "campaign/campaignrun.h"
#include "support/tempdir.h"

namespace tarvik::campaign {
namespace {

// ---------------------------------------------------------------------------
// The draws

TEST(CampaignPlan, ASeedAlwaysDrawsTheSameRun) {
  for (std::uint64_t seed : {1u, 77u, 123456u}) {
    EXPECT_EQ(Describe(DrawPlan(seed)), Describe(DrawPlan(seed)));
    EXPECT_EQ(DrawPlan(seed).imageLines, DrawPlan(seed).imageLines);
  }
  EXPECT_NE(Describe(DrawPlan(1)), Describe(DrawPlan(2)));
}

// A device may leave a command undone only where its answer tells the tool
// so; a wrong echo needs a write; under real time the 15 s waits are left
// out.
TEST(CampaignPlan, DrawsOnlyFaultsTheDevicesPromisesAllow) {
  int lost = 0;
  int faults = 0;
  for (std::uint64_t seed = 1; seed <= 3000; ++seed) {
    for (const bool realTime : {false, true}) {
      const Plan plan = DrawPlan(seed, {.realTime = realTime});
      const std::vector<std::string> steps = ReflashSteps(plan, plan.startInBootloader);
      for (const PlannedFault& f : plan.faults) {
        SCOPED_TRACE(std::to_string(seed) + ": " + Describe(f));
        ++faults;
        ASSERT_NE(std::find(steps.begin(), steps.end(), f.step), steps.end());
        EXPECT_LE(f.attempt, StepAttempts(plan.procedure, f.step));
        const bool write = f.step.front() == 'W';
        if (f.kind == FaultKind::WrongEcho) {
          EXPECT_TRUE(write);
        }
        if (f.lost) {
          ++lost;
          const bool answerRefused =
              f.kind == FaultKind::Silence || f.kind == FaultKind::HangUpSilent ||
              (f.step != "BE" && f.kind == FaultKind::NoCarrier) ||
              (write && (f.kind == FaultKind::Garbage || f.kind == FaultKind::WrongEcho)) ||
              ((f.step == "BE" || f.step == "EE") && f.kind == FaultKind::NoOk) ||
              (f.kind == FaultKind::EchoNoCarrier && (f.step == "EE" || plan.procedure == Procedure::Staged));
          EXPECT_TRUE(answerRefused);
          if (plan.procedure == Procedure::Service && f.step == "W0000") {
            EXPECT_TRUE(f.kind == FaultKind::Silence || f.kind == FaultKind::HangUpSilent);
          }
          if (f.step == "BL" && f.kind != FaultKind::HangUpSilent) {
            EXPECT_EQ(plan.procedure, Procedure::Catalogue);
          }
        }
        if (realTime && (f.step == "BE" || f.step == "EE")) {
          EXPECT_TRUE(f.kind == FaultKind::Split || f.kind == FaultKind::EchoNoCarrier ||
                      f.kind == FaultKind::HangUp || f.kind == FaultKind::HangUpSilent);
          if (f.kind == FaultKind::Split) {
            EXPECT_LE(f.delayMs, 1000u);
          }
        }
        if (f.kind == FaultKind::SlowUnder) {
          EXPECT_EQ(f.delayMs + (f.step == "BE" ? plan.eraseMs : 0), StepTimeoutMs(f.step) * 80 / 100);
        }
        if (f.kind == FaultKind::SlowOver) {
          EXPECT_EQ(f.delayMs + (f.step == "BE" ? plan.eraseMs : 0), StepTimeoutMs(f.step) * 130 / 100);
        }
      }
    }
  }
  EXPECT_GT(faults, 5000);
  EXPECT_GT(lost, 500);
}

TEST(CampaignPlan, StepsOfEachProcedure) {
  Plan plan = DrawPlan(1, {.procedure = Procedure::Catalogue});
  plan.imageLines.resize(1 + 10);
  plan.unitName = "XYZ9";
  EXPECT_EQ(ReflashSteps(plan, false), (std::vector<std::string>{"BL", "BE", "W0004", "W0008", "W0000"}));
  EXPECT_EQ(ReflashSteps(plan, true), (std::vector<std::string>{"BE", "W0004", "W0008", "W0000"}));
  plan.unitName = "QTT1";
  EXPECT_EQ(ReflashSteps(plan, true).front(), "BL") << "a model the tool knows is told BL again";
  plan.procedure = Procedure::Staged;
  EXPECT_EQ(ReflashSteps(plan, false), (std::vector<std::string>{"W0000", "W0004", "W0008", "EE"}));
  EXPECT_EQ(StepAttempts(Procedure::Service, "W0000"), 1u);
  EXPECT_EQ(StepAttempts(Procedure::Catalogue, "W0000"), 3u);
  EXPECT_EQ(StepAttempts(Procedure::Staged, "EE"), 3u);
  EXPECT_EQ(StepAttempts(Procedure::Catalogue, "BL"), 1u);
}

// The line is cut during each command (carried out, unanswered) and after
// it (answered); after the last one the tool sits in its settle wait.
TEST(CampaignPlan, CutPointsOfEachProcedure) {
  Plan plan = DrawPlan(1, {.procedure = Procedure::Catalogue});
  plan.imageLines.resize(1 + 5);
  plan.startInBootloader = false;
  plan.unitName = "QTT1";
  std::vector<std::string> names;
  for (const CutPoint& cut : CutPoints(plan)) {
    names.push_back(cut.name);
    EXPECT_EQ(cut.fault.attempt, 1u) << cut.name;
    EXPECT_EQ(cut.fault.kind, cut.name.starts_with("during") ? FaultKind::HangUpSilent : FaultKind::HangUp)
        << cut.name;
  }
  EXPECT_EQ(names,
            (std::vector<std::string>{"during BL", "after BL", "during BE", "after BE", "during W0004",
                                      "after W0004", "during W0000", "in the settle wait after W0000"}));
  plan.procedure = Procedure::Staged;
  EXPECT_EQ(CutPoints(plan).back().name, "in the settle wait after EE");
  EXPECT_EQ(CutPoints(plan).size(), 2 * ReflashSteps(plan, false).size());
}

// ---------------------------------------------------------------------------
// What a run must end in

struct ExpectCase {
  const char* name;
  Procedure procedure;
  std::vector<PlannedFault> faults;
  Expected outcome;
  bool inBootloader = false;
};

TEST(CampaignExpect, FollowsTheToolsRules) {
  auto f = [](const char* step, std::uint32_t attempt, FaultKind kind, bool lost = false) {
    return PlannedFault{.step = step, .attempt = attempt, .kind = kind, .lost = lost};
  };
  using K = FaultKind;
  const ExpectCase cases[] = {
      {"no fault", Procedure::Catalogue, {}, Expected::Success},
      {"the erase silent three times",
       Procedure::Catalogue,
       {f("BE", 1, K::Silence), f("BE", 2, K::Silence), f("BE", 3, K::NoOk)},
       Expected::Failure},
      {"the erase silent twice",
       Procedure::Catalogue,
       {f("BE", 1, K::Silence), f("BE", 2, K::Silence)},
       Expected::Success},
      {"garbage to the erase is taken once its time is up",
       Procedure::Catalogue,
       {f("BE", 1, K::Garbage)},
       Expected::Success},
      {"a wrong echo three times",
       Procedure::Catalogue,
       {f("W0004", 1, K::WrongEcho), f("W0004", 2, K::Garbage), f("W0004", 3, K::NoCarrier, true)},
       Expected::Failure},
      {"an echo without OK is taken", Procedure::Catalogue, {f("W0004", 1, K::NoOk)}, Expected::Success},
      {"NO CARRIER after an echo: taken outside the staged upload",
       Procedure::Catalogue,
       {f("W0004", 1, K::EchoNoCarrier)},
       Expected::Success},
      {"staged: NO CARRIER after an echo ends it",
       Procedure::Staged,
       {f("W0004", 1, K::EchoNoCarrier)},
       Expected::Failure},
      {"staged: NO CARRIER to the commit ends it",
       Procedure::Staged,
       {f("EE", 1, K::NoCarrier)},
       Expected::Failure},
      {"staged: garbage to the commit may be read either way",
       Procedure::Staged,
       {f("EE", 1, K::Garbage)},
       Expected::Either},
      {"service: anything but silence passes the last write",
       Procedure::Service,
       {f("W0000", 1, K::WrongEcho)},
       Expected::Success},
      {"service: silence to the last write fails it",
       Procedure::Service,
       {f("W0000", 1, K::Silence, true)},
       Expected::Failure},
      {"service: a late answer to the last write comes too late",
       Procedure::Service,
       {f("W0000", 1, K::SlowOver)},
       Expected::Failure},
      {"a late answer elsewhere may pass for the next attempt's",
       Procedure::Catalogue,
       {f("W0004", 1, K::SlowOver)},
       Expected::Either},
      {"a hang-up after the last answer",
       Procedure::Catalogue,
       {f("W0000", 1, K::HangUp)},
       Expected::Success},
      {"a hang-up after an earlier answer",
       Procedure::Catalogue,
       {f("W0004", 2, K::HangUp)},
       Expected::Success},
      {"a hang-up after the first answer",
       Procedure::Catalogue,
       {f("W0004", 1, K::HangUp)},
       Expected::Failure},
      {"anything to BL but a hang-up", Procedure::Catalogue, {f("BL", 1, K::Garbage)}, Expected::Success},
      {"a lost BL: the firmware refuses the writes",
       Procedure::Catalogue,
       {f("BL", 1, K::Silence, true)},
       Expected::Failure},
      {"a lost BL to a device in its bootloader changes nothing",
       Procedure::Catalogue,
       {f("BL", 1, K::Silence, true)},
       Expected::Success,
       true},
  };
  for (const ExpectCase& c : cases) {
    SCOPED_TRACE(c.name);
    Plan plan = DrawPlan(5, {.procedure = c.procedure});
    plan.imageLines.resize(1);  // and two groups
    for (int r = 0; r < 8; ++r) plan.imageLines.push_back(":10000000" + std::string(32, '0') + "00");
    plan.unitName = "QTT1";
    plan.stop.wanted = false;
    plan.faults = c.faults;
    const Expectation expected = Expect(plan, c.inBootloader, true);
    EXPECT_EQ(expected.outcome, c.outcome) << ExpectedName(expected.outcome) << ": " << expected.reason;
    EXPECT_EQ(Expect(plan, c.inBootloader, false).outcome, Expected::Success);
  }
}

// ---------------------------------------------------------------------------
// The checks see a broken promise

// A plan of two groups and the facts of its clean reflash, to spoil.
struct CleanRun {
  Plan plan;
  ReflashFacts facts;
};

CleanRun Clean(Procedure procedure, Front front = Front::Window) {
  CleanRun run;
  run.plan = DrawPlan(11, {.front = front, .procedure = procedure});
  run.plan.imageLines.resize(1);
  for (int r = 0; r < 8; ++r)
    run.plan.imageLines.push_back(":10000000" + std::string(32, static_cast<char>('1' + r)) + "00");
  run.plan.faults.clear();
  run.plan.stop = {};
  run.plan.startInBootloader = false;
  ReflashFacts& facts = run.facts;
  facts.front.portOpened = true;
  facts.front.identified = true;
  facts.front.successShown = true;
  facts.front.exitCode = front == Front::Cli ? 0 : -1;
  facts.report.commands = {"v", "v"};
  for (const std::string& step : ReflashSteps(run.plan, false)) {
    facts.report.commands.push_back(step == "EE" ? "EE00000000" : step);
  }
  facts.report.flash = ExpectedFlash(run.plan);
  facts.report.commitMatches = true;
  facts.before = facts.after = {10, 2};
  facts.reopenChecked = true;
  return run;
}

TEST(CampaignChecks, SeeEachBrokenPromise) {
  struct Case {
    const char* name;
    Procedure procedure;
    std::function<void(ReflashFacts&)> spoil;
    const char* broken;  // the start of the one line expected; nullptr: none
    Front front = Front::Window;
  };
  const Case cases[] = {
      {"a clean reflash", Procedure::Catalogue, [](ReflashFacts&) {}, nullptr},
      {"success with a block missing", Procedure::Catalogue,
       [](ReflashFacts& f) { f.report.flash.erase("0005"); }, "success shown, but block 0005"},
      {"success before block 0000", Procedure::Catalogue,
       [](ReflashFacts& f) { f.report.commands.pop_back(); }, "success shown before the last step"},
      {"a write after block 0000", Procedure::Catalogue,
       [](ReflashFacts& f) {
         f.front.successShown = false;
         f.front.failureShown = true;
         f.report.commands = {"v", "v", "BL", "BE", "W0004", "W0000", "W0004"};
       },
       "the device got W0004 where nothing or a retry of W0000 was due"},
      {"a failure with attempts left", Procedure::Catalogue,
       [](ReflashFacts& f) {
         f.front.successShown = false;
         f.front.failureShown = true;
         f.report.commands = {"v", "v", "BL", "BE", "W0004", "W0004", "W0004", "W0000"};
       },
       "failed at W0000 after 1 attempts of 3"},
      {"a hang-up ends it early", Procedure::Catalogue,
       [](ReflashFacts& f) {
         f.front.successShown = false;
         f.front.failureShown = true;
         f.report.commands = {"v", "v", "BL", "BE", "W0004"};
         f.report.hungUp = true;
         f.reopenChecked = false;
       },
       nullptr},
      {"a fourth attempt", Procedure::Catalogue,
       [](ReflashFacts& f) {
         f.report.commands = {"v", "v", "BL", "BE", "BE", "BE", "BE", "W0004", "W0000"};
       },
       "BE sent 4 times"},
      {"staged: a lost line ends it at once", Procedure::Staged,
       [](ReflashFacts& f) {
         f.front.successShown = false;
         f.front.failureShown = true;
         f.report.commands = {"v", "v", "W0000"};
         f.report.faultLog = {{2, "no-carrier"}};
       },
       nullptr},
      {"staged: a commit the device refused", Procedure::Staged,
       [](ReflashFacts& f) { f.report.commitMatches = false; }, "success shown, but the device did not take"},
      {"two commands after the exit", Procedure::Catalogue,
       [](ReflashFacts& f) {
         f.front.successShown = false;
         f.front.stopMade = true;
         f.commandsAtStop = 3;
       },
       "after the stop the device still got"},
      {"a verdict after the exit", Procedure::Catalogue,
       [](ReflashFacts& f) {
         f.front.stopMade = true;
         f.front.verdictAfterStop = true;
         f.commandsAtStop = f.report.commands.size();
       },
       "a verdict shown after the exit"},
      {"Ctrl+C told as a failure", Procedure::Service,
       [](ReflashFacts& f) {
         f.front.successShown = false;
         f.front.failureShown = true;
         f.front.exitCode = 5;
         f.front.stopMade = true;
       },
       "a failure told after Ctrl+C", Front::Cli},
      {"no verdict", Procedure::Catalogue, [](ReflashFacts& f) { f.front.successShown = false; },
       "the reflash ended without a verdict"},
      {"a stray byte", Procedure::Catalogue, [](ReflashFacts& f) { f.report.strayBytes = 1; },
       "1 stray bytes"},
      {"the port still taken", Procedure::Catalogue, [](ReflashFacts& f) { f.reopenError = "busy"; },
       "the port could not be opened again"},
      {"a descriptor left", Procedure::Catalogue, [](ReflashFacts& f) { f.after.descriptors = 11; },
       "descriptors 10 -> 11"},
      {"a thread left", Procedure::Catalogue, [](ReflashFacts& f) { f.after.threads = 3; },
       "descriptors 10 -> 10, threads 2 -> 3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CleanRun run = Clean(c.procedure, c.front);
    c.spoil(run.facts);
    const std::vector<std::string> broken =
        CheckReflash(run.plan, run.facts, {Expected::Either, "the case's"});
    std::string all;
    for (const std::string& line : broken) all += line + " | ";
    if (c.broken == nullptr) {
      EXPECT_TRUE(broken.empty()) << all;
      continue;
    }
    ASSERT_EQ(broken.size(), 1u) << all;
    EXPECT_EQ(broken.front().rfind(c.broken, 0), 0u) << all;
  }
  // The outcome the rules call for.
  CleanRun run = Clean(Procedure::Catalogue);
  run.facts.front.successShown = false;
  run.facts.front.failureShown = true;
  run.facts.report.commands = {"v", "v", "BL", "BE", "BE", "BE"};
  const std::vector<std::string> broken = CheckReflash(run.plan, run.facts, {Expected::Success, "no fault"});
  ASSERT_EQ(broken.size(), 1u);
  EXPECT_EQ(broken.front().rfind("success expected (no fault)", 0), 0u) << broken.front();
}

// ---------------------------------------------------------------------------
// The clock

class AlwaysQuiet final : public Wakeup {
 public:
  bool Wait(std::uint32_t realMs) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(realMs));
    return false;
  }
};

double RealMsOf(const std::function<void()>& action) {
  const auto start = std::chrono::steady_clock::now();
  action();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

TEST(CampaignClock, PausesAreQuickAndTimeOutsLastTheirShare) {
  CampaignClock clock(ClockPace{.answerWaitRealMs = 300});
  const std::uint64_t start = clock.NowMs();
  // The staged settle wait and pause in their slices: about a minute.
  const double pauses = RealMsOf([&] {
    for (int i = 0; i < 400; ++i) clock.SleepMs(150);
  });
  EXPECT_GE(clock.NowMs() - start, 60000u);
  EXPECT_LT(pauses, 5000) << "a minute of pauses must pass in moments";

  // An erase's 15 s and a command's 2.5 s of silence both last about 300 ms.
  AlwaysQuiet quiet;
  for (const std::uint32_t timeout : {15000u, 2500u}) {
    const std::uint64_t before = clock.NowMs();
    const double real = RealMsOf([&] { EXPECT_FALSE(clock.SleepMs(timeout, quiet)); });
    EXPECT_GE(clock.NowMs() - before, timeout);
    EXPECT_GE(real, 250) << timeout;
    EXPECT_LT(real, 3000) << timeout;
  }
}

// The device's slow answer and the tool's time-out are measured on one
// time: an answer at 80 % comes inside it, one at 130 % outside, however
// the pace changes meanwhile.
TEST(CampaignClock, ADeviceAndTheToolAgreeOnATimeOut) {
  class Flag final : public Wakeup {
   public:
    bool Wait(std::uint32_t realMs) override {
      const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(realMs);
      while (std::chrono::steady_clock::now() < until) {
        if (set.load()) return true;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
      return set.load();
    }
    std::atomic<bool> set{false};
  };
  for (const int percent : {80, 130}) {
    SCOPED_TRACE(percent);
    CampaignClock clock(ClockPace{.answerWaitRealMs = 400});
    Flag answer;
    std::thread device([&] {
      // The device's waits are short slices, as the simulator's are.
      const std::uint64_t start = clock.NowMs();
      while (clock.NowMs() - start < 3500u * static_cast<unsigned>(percent) / 100) clock.SleepMs(10);
      answer.set.store(true);
    });
    const std::uint64_t start = clock.NowMs();
    bool answered = false;
    while (!answered && clock.NowMs() - start <= 3500) answered = clock.SleepMs(3501, answer);
    EXPECT_EQ(answered, percent < 100);
    device.join();
  }
}

// ---------------------------------------------------------------------------
// A short campaign

// Whether the port opened comes from what the front end tells, not from
// its words: a port that is not there is told as such by both, and nothing
// passes for a success.
TEST(CampaignFront, APortThatDoesNotOpenIsToldByEveryFrontEnd) {
  for (const Front front : {Front::Window, Front::Cli}) {
    const Plan plan = DrawPlan(1, {.front = front, .procedure = Procedure::Catalogue});
    SCOPED_TRACE(Describe(plan));
    CampaignClock clock;
    const FrontResult result =
        RunFront({.plan = plan, .port = "/dev/ttyTarvikNoSuchPort", .hexPath = {}, .clock = clock});
    EXPECT_FALSE(result.portOpened);
    EXPECT_TRUE(result.error.starts_with("the port did not open")) << result.error;
    EXPECT_FALSE(result.identified);
    EXPECT_FALSE(result.successShown);
  }
}

TEST(CampaignRuns, EveryFrontEndAndProcedureKeepsItsPromises) {
  test::TempDir dir("tarvik-campaign-test");
  std::uint64_t seed = 500;
  for (const Front front : {Front::Window, Front::Cli}) {
    for (const Procedure procedure : {Procedure::Catalogue, Procedure::Service, Procedure::Staged}) {
      SCOPED_TRACE(std::string(FrontName(front)) + " " + ProcedureName(procedure));
      std::ostringstream out;
      CampaignOptions options;
      options.firstSeed = seed;
      options.runs = 2;
      options.draw.front = front;
      options.draw.procedure = procedure;
      options.workDir = dir.Path().string();
      EXPECT_EQ(RunCampaign(options, out), 0) << out.str();
      EXPECT_NE(out.str().find("violations: 0"), std::string::npos) << out.str();
      EXPECT_NE(out.str().find("run " + std::to_string(seed) + ": "), std::string::npos) << out.str();
      seed += 2;
    }
  }
}

// A sample of cut points of each procedure: every device the cut left
// behind is reflashed whole by a technician's second try.
TEST(CampaignRuns, RecoveryFromCutPoints) {
  test::TempDir dir("tarvik-campaign-cuts");
  std::ostringstream out;
  CampaignOptions options;
  options.firstSeed = 7;
  options.cutPoints = true;
  options.cutSample = 4;
  options.workDir = dir.Path().string();
  EXPECT_EQ(RunCampaign(options, out), 0) << out.str();
  for (const char* procedure : {"catalogue", "service", "staged"}) {
    EXPECT_NE(out.str().find(std::string("  ") + procedure + " (seed "), std::string::npos) << out.str();
  }
  EXPECT_NE(out.str().find("tried 4, recovered 4"), std::string::npos) << out.str();
  EXPECT_EQ(out.str().find("NOT RECOVERED"), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("violations: 0"), std::string::npos) << out.str();
}

// The agent in a process of its own, as under Wine, on this system: the
// device keeps real time, the agent reports what its user saw.
TEST(CampaignRuns, TheAgentInAProcessOfItsOwn) {
  test::TempDir dir("tarvik-campaign-agent");
  std::ostringstream out;
  CampaignOptions options;
  options.firstSeed = 900;
  options.runs = 3;
  options.workDir = dir.Path().string();
  options.agentCommand = {TARVIK_CAMPAIGN_PROGRAM};
  options.portLink = (dir.Path() / "port").string();
  options.agentPort = options.portLink;
  options.draw.realTime = true;
  EXPECT_EQ(RunCampaign(options, out), 0) << out.str();
  EXPECT_NE(out.str().find("campaign: 3 runs (6 reflashes)"), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("violations: 0"), std::string::npos) << out.str();
}

}  // namespace
}  // namespace tarvik::campaign
