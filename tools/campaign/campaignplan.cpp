#include "campaign/campaignplan.h"

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <random>
#include <utility>

#include "common/text.h"
#include "firmware/devicetypes.h"
#include "simulator/hexrecord.h"

namespace tarvik::campaign {
namespace {

// The two types a run's catalogue holds.
constexpr std::int32_t kDoorDetectorType = 2;
constexpr std::int32_t kPanelType = 10;
// The faults are placed against the time-outs of the door detector's
// commands, which the panel's are as well.
constexpr DeviceTimings kTimings = TimingsOfType(kDoorDetectorType);
static_assert(TimingsOfType(kPanelType).commandMs == kTimings.commandMs &&
              TimingsOfType(kPanelType).slowCommandMs == kTimings.slowCommandMs &&
              TimingsOfType(kPanelType).writeMs == kTimings.writeMs);
constexpr auto kCommandTimeoutMs = static_cast<std::uint32_t>(kTimings.commandMs);
constexpr auto kLongTimeoutMs = static_cast<std::uint32_t>(kTimings.slowCommandMs);
constexpr auto kWriteTimeoutMs = static_cast<std::uint32_t>(kTimings.writeMs);
// Where a slow answer lands, as a share of the time-out in per cent.
constexpr std::uint32_t kJustUnderPercent = 80;
constexpr std::uint32_t kJustOverPercent = 130;
// A split answer's pause stays well inside the time-out.
constexpr std::uint32_t kLongestSplitPercent = 40;
constexpr std::uint32_t kShortestSplitMs = 10;
constexpr std::uint32_t kLongestTailSplitMs = 200;
// Under real time a split of the erase's or the commit's answer is kept short.
constexpr std::uint32_t kLongestRealTimeSplitMs = 1000;
// The settle waits after the last command, within which a stop may fall.
constexpr std::uint32_t kBootloaderSettleMs = 1500;
constexpr std::uint32_t kServiceSettleMs = 15000;
constexpr std::uint32_t kStagedSettleMs = 45300 + 15000;
constexpr int kMaxRecords = 20;
constexpr std::uint32_t kLongestEraseMs = 400;
constexpr std::size_t kRecordsPerGroup = 4;

// Every draw is a plain modulo of one 64-bit Mersenne twister: the standard
// distributions differ between libraries, and a seed must give the same run
// on Linux and under Wine.
class Draw {
 public:
  explicit Draw(std::uint64_t seed) : engine_(seed) {}
  std::uint32_t Below(std::uint32_t n) { return n == 0 ? 0 : static_cast<std::uint32_t>(engine_() % n); }
  bool Chance(std::uint32_t percent) { return Below(100) < percent; }
  // An index into the weights, each as likely as its weight.
  std::size_t Weighted(std::initializer_list<std::uint32_t> weights) {
    std::uint32_t total = 0;
    for (std::uint32_t w : weights) total += w;
    std::uint32_t pick = Below(total);
    std::size_t index = 0;
    for (std::uint32_t w : weights) {
      if (pick < w) return index;
      pick -= w;
      ++index;
    }
    return 0;
  }
  std::string HexBytes(std::size_t bytes) {
    std::string text;
    for (std::size_t i = 0; i < bytes; ++i) {
      char pair[3];
      std::snprintf(pair, sizeof pair, "%02X", Below(256));
      text += pair;
    }
    return text;
  }

 private:
  std::mt19937_64 engine_;
};

std::string Block(unsigned number) {
  char text[5];
  std::snprintf(text, sizeof text, "%04X", number & 0xFFFF);
  return text;
}

bool IsWrite(const std::string& step) { return !step.empty() && step.front() == 'W'; }

struct KindWeight {
  FaultKind kind;
  std::uint32_t weight;
};

constexpr KindWeight kKindWeights[] = {
    {FaultKind::Silence, 10}, {FaultKind::Garbage, 10},     {FaultKind::WrongEcho, 8},
    {FaultKind::NoOk, 8},     {FaultKind::Split, 12},       {FaultKind::SlowUnder, 10},
    {FaultKind::SlowOver, 8}, {FaultKind::NoCarrier, 8},    {FaultKind::EchoNoCarrier, 8},
    {FaultKind::HangUp, 6},   {FaultKind::HangUpSilent, 4},
};

// What may meet the step at all.
bool KindFits(FaultKind kind, const std::string& step, bool realTime) {
  if (kind == FaultKind::WrongEcho) return IsWrite(step);
  if (!realTime) return true;
  // Under real time every answer the tool waits out costs the whole
  // time-out: the erase's and the commit's 15 s are spent only where the
  // line ends at once or the answer comes whole.
  const bool longWait = step == "BE" || step == "EE";
  if (kind == FaultKind::SlowUnder || kind == FaultKind::SlowOver) return IsWrite(step);
  if (!longWait) return true;
  return kind == FaultKind::Split || kind == FaultKind::EchoNoCarrier || kind == FaultKind::HangUp ||
         kind == FaultKind::HangUpSilent;
}

// Whether the device may leave the command undone. Only where its answer
// tells the tool so: an answer the tool takes as done (an "OK" to the
// erase, an echo to a write, anything to the service reflash's last write)
// promises that it was.
bool MayBeLost(const Plan& plan, const std::string& step, FaultKind kind) {
  if (kind == FaultKind::HangUpSilent) return true;
  if (step == "BL") return plan.procedure == Procedure::Catalogue && kind == FaultKind::Silence;
  if (step == "BE") return kind == FaultKind::Silence || kind == FaultKind::NoOk;
  if (step == "EE") {
    return kind == FaultKind::Silence || kind == FaultKind::NoOk || kind == FaultKind::NoCarrier ||
           kind == FaultKind::EchoNoCarrier;
  }
  if (plan.procedure == Procedure::Service && StepAttempts(plan.procedure, step) == 1) {
    return kind == FaultKind::Silence;
  }
  const bool refused = kind == FaultKind::Silence || kind == FaultKind::Garbage ||
                       kind == FaultKind::WrongEcho || kind == FaultKind::NoCarrier;
  return refused || (plan.procedure == Procedure::Staged && kind == FaultKind::EchoNoCarrier);
}

// Whether a split's first piece holds the answer's whole "OK": the echo of a
// write ("004" or "0004", CR LF) or nothing, then "OK", CR LF.
bool SplitAfterOk(const Plan& plan, const std::string& step, std::int32_t splitAt) {
  const std::int32_t size = !IsWrite(step) ? 4 : plan.procedure == Procedure::Staged ? 10 : 9;
  std::int32_t cut = splitAt > 0 ? splitAt : size / 2;
  if (splitAt < 0) cut = size + splitAt;
  cut = std::clamp(cut, 1, size - 1);
  return cut >= size - 2;
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

std::vector<std::string> ImageOf(Draw& draw, const std::string& header, int records) {
  std::vector<std::string> lines = {header};
  for (int r = 0; r < records; ++r) {
    lines.push_back(sim::HexRecord(static_cast<unsigned>(r) * 16, 0, draw.HexBytes(16)));
  }
  return lines;
}

const std::string kFfRow(32, 'F');

}  // namespace

const char* FrontName(Front front) { return front == Front::Window ? "window" : "cli"; }

const char* ProcedureName(Procedure procedure) {
  switch (procedure) {
    case Procedure::Catalogue:
      return "catalogue";
    case Procedure::Service:
      return "service";
    case Procedure::Staged:
      return "staged";
  }
  return "?";
}

const char* FaultKindName(FaultKind kind) {
  switch (kind) {
    case FaultKind::Silence:
      return "silence";
    case FaultKind::Garbage:
      return "garbage";
    case FaultKind::WrongEcho:
      return "wrong-echo";
    case FaultKind::NoOk:
      return "no-ok";
    case FaultKind::Split:
      return "split";
    case FaultKind::SlowUnder:
      return "slow-under";
    case FaultKind::SlowOver:
      return "slow-over";
    case FaultKind::NoCarrier:
      return "no-carrier";
    case FaultKind::EchoNoCarrier:
      return "echo-no-carrier";
    case FaultKind::HangUp:
      return "hangup";
    case FaultKind::HangUpSilent:
      return "hangup-silent";
  }
  return "?";
}

std::uint32_t StepTimeoutMs(const std::string& step) {
  if (step == "BE" || step == "EE") return kLongTimeoutMs;
  if (IsWrite(step)) return kWriteTimeoutMs;
  return kCommandTimeoutMs;
}

bool KnownModel(const std::string& unitName) { return BootloaderModel(unitName) != nullptr; }

std::vector<std::string> ReflashSteps(const Plan& plan, bool inBootloader) {
  std::vector<std::string> steps;
  const std::size_t records = plan.imageLines.empty() ? 0 : plan.imageLines.size() - 1;
  const std::size_t groups = (records + kRecordsPerGroup - 1) / kRecordsPerGroup;
  if (plan.procedure == Procedure::Staged) {
    for (std::size_t g = 0; g < groups; ++g) steps.push_back("W" + Block(static_cast<unsigned>(g * 4)));
    steps.push_back("EE");
    return steps;
  }
  // A device found in its bootloader that names no known model keeps its
  // banner, and the tool then sends no "BL".
  if (!(inBootloader && !KnownModel(plan.unitName))) steps.push_back("BL");
  steps.push_back("BE");
  for (std::size_t g = 1; g < groups; ++g) steps.push_back("W" + Block(static_cast<unsigned>(g * 4)));
  steps.push_back("W0000");
  return steps;
}

std::uint32_t StepAttempts(Procedure procedure, const std::string& step) {
  if (step == "BL") return 1;
  if (procedure == Procedure::Service && step == "W0000") return 1;
  return 3;
}

Plan DrawPlan(std::uint64_t seed, const DrawOptions& options) {
  Draw draw(seed);
  Plan plan;
  plan.seed = seed;
  plan.realTime = options.realTime;
  plan.front = draw.Chance(50) ? Front::Window : Front::Cli;
  if (options.front) plan.front = *options.front;
  plan.procedure = static_cast<Procedure>(draw.Weighted({40, 30, 30}));
  if (options.procedure) plan.procedure = *options.procedure;

  const bool staged = plan.procedure == Procedure::Staged;
  plan.versionReply = staged ? "VER 14.010.001" : "VER 14.002.020";
  plan.unitName = "QTT1";
  if (!staged) {
    const std::size_t start = draw.Weighted({70, 15, 15});
    plan.startInBootloader = start != 0;
    if (start == 2) plan.unitName = "XYZ9";
  }
  plan.eraseMs = draw.Below(kLongestEraseMs + 1);

  const int records = 1 + static_cast<int>(draw.Below(kMaxRecords));
  if (plan.procedure == Procedure::Service) {
    // Rows of the file, some of them left out (the viewer fills them with
    // FF); the last row is always there, so the grid has them all.
    const int gapStart = draw.Chance(30) && records > 2 ? 1 + static_cast<int>(draw.Below(records - 2)) : 0;
    const int gapEnd =
        gapStart == 0 ? 0 : gapStart + 1 + static_cast<int>(draw.Below(records - 1 - gapStart));
    plan.imageLines = {"VER 14.002.028"};
    for (int r = 0; r < records; ++r) {
      const bool inGap = r >= gapStart && r < gapEnd && gapStart != 0;
      const std::string data = inGap ? kFfRow : draw.HexBytes(16);
      const std::string record = sim::HexRecord(static_cast<unsigned>(r) * 16, 0, data);
      plan.imageLines.push_back(record);
      if (!inGap) plan.hexText += record + "\r\n";
    }
    plan.hexText += ":00000001FF\r\n";
  } else {
    plan.imageLines = ImageOf(draw, staged ? "VER 14.010.002" : "VER 14.002.028", records);
  }
  // An earlier firmware: a bootloader device must be erased to take the
  // image; a staged upload overwrites the blocks it sends.
  const int oldBlocks = staged ? records : records + 8;
  for (int b = 0; b < oldBlocks; ++b) plan.oldFlash[Block(static_cast<unsigned>(b))] = draw.HexBytes(16);

  const std::vector<std::string> steps = ReflashSteps(plan, plan.startInBootloader);
  const std::size_t faults = draw.Weighted({10, 45, 30, 15});
  for (std::size_t n = 0; n < faults; ++n) {
    for (int tries = 0; tries < 20; ++tries) {
      PlannedFault fault;
      fault.step = steps[draw.Below(static_cast<std::uint32_t>(steps.size()))];
      const std::uint32_t attempts = StepAttempts(plan.procedure, fault.step);
      fault.attempt = attempts == 1 ? 1 : 1 + static_cast<std::uint32_t>(draw.Weighted({65, 25, 10}));
      const bool taken = std::any_of(plan.faults.begin(), plan.faults.end(), [&](const PlannedFault& other) {
        return other.step == fault.step && other.attempt == fault.attempt;
      });
      std::uint32_t total = 0;
      for (const KindWeight& k : kKindWeights) {
        if (KindFits(k.kind, fault.step, plan.realTime)) total += k.weight;
      }
      std::uint32_t pick = draw.Below(total);
      for (const KindWeight& k : kKindWeights) {
        if (!KindFits(k.kind, fault.step, plan.realTime)) continue;
        if (pick < k.weight) {
          fault.kind = k.kind;
          break;
        }
        pick -= k.weight;
      }
      const std::uint32_t timeout = StepTimeoutMs(fault.step);
      // The erase's own time comes before a slow answer to it.
      const std::uint32_t before = fault.step == "BE" ? plan.eraseMs : 0;
      if (fault.kind == FaultKind::SlowUnder) fault.delayMs = timeout * kJustUnderPercent / 100 - before;
      if (fault.kind == FaultKind::SlowOver) fault.delayMs = timeout * kJustOverPercent / 100 - before;
      if (fault.kind == FaultKind::Split) {
        std::uint32_t longest = timeout * kLongestSplitPercent / 100 - before;
        if (plan.realTime && (fault.step == "BE" || fault.step == "EE")) longest = kLongestRealTimeSplitMs;
        fault.delayMs = kShortestSplitMs + draw.Below(longest - kShortestSplitMs);
        // Inside the echo, before or inside "OK", between CR and LF, or
        // after the first byte.
        const std::int32_t cuts[] = {1, 2, 3, -1, -2, -3, -4, 0};
        fault.splitAt = cuts[draw.Below(8)];
        // A first piece that holds the whole "OK" is taken at once, and the
        // device, still busy with the rest, answers the next command that
        // much later: kept short, so that only the line end is late.
        if (SplitAfterOk(plan, fault.step, fault.splitAt)) {
          fault.delayMs = kShortestSplitMs + draw.Below(kLongestTailSplitMs - kShortestSplitMs);
        }
      }
      fault.lost = MayBeLost(plan, fault.step, fault.kind) && draw.Chance(50);
      if (taken) continue;
      plan.faults.push_back(fault);
      break;
    }
  }

  if (draw.Chance(25)) {
    plan.stop.wanted = true;
    plan.stop.afterCommands = draw.Below(static_cast<std::uint32_t>(steps.size() + 1));
    const std::uint32_t settle = plan.procedure == Procedure::Staged    ? kStagedSettleMs
                                 : plan.procedure == Procedure::Service ? kServiceSettleMs
                                                                        : kBootloaderSettleMs;
    plan.stop.delayMs = draw.Chance(60) ? draw.Below(301) : draw.Below(settle + 1);
  }
  return plan;
}

std::map<std::string, std::string> ExpectedFlash(const Plan& plan) {
  std::map<std::string, std::string> flash;
  for (std::size_t line = 1; line < plan.imageLines.size(); ++line) {
    flash[Block(static_cast<unsigned>(line - 1))] = plan.imageLines[line].substr(9, 32);
  }
  return flash;
}

namespace {

const std::string& BlockOr(const std::map<std::string, std::string>& flash, const std::string& block) {
  const auto found = flash.find(block);
  return found == flash.end() ? kFfRow : found->second;
}

}  // namespace

std::string FirstDifference(const std::map<std::string, std::string>& a,
                            const std::map<std::string, std::string>& b) {
  std::map<std::string, std::string> blocks = a;
  blocks.insert(b.begin(), b.end());
  for (const auto& entry : blocks) {
    if (BlockOr(a, entry.first) != BlockOr(b, entry.first)) return entry.first;
  }
  return {};
}

bool SameFlash(const std::map<std::string, std::string>& a, const std::map<std::string, std::string>& b) {
  return FirstDifference(a, b).empty();
}

std::string Describe(const PlannedFault& fault) {
  std::string text = FaultKindName(fault.kind);
  if (fault.delayMs != 0) text += "=" + std::to_string(fault.delayMs);
  if (fault.kind == FaultKind::Split && fault.splitAt != 0) text += "/" + std::to_string(fault.splitAt);
  if (fault.lost) text += "!";
  return text + "@" + fault.step + "#" + std::to_string(fault.attempt);
}

std::string Describe(const Plan& plan) {
  std::string text = std::string(FrontName(plan.front)) + " " + ProcedureName(plan.procedure) + ", device " +
                     plan.versionReply;
  if (plan.startInBootloader) text += " in its bootloader (" + plan.unitName + ")";
  text += ", erase " + std::to_string(plan.eraseMs) + " ms, " + std::to_string(plan.imageLines.size() - 1) +
          (plan.procedure == Procedure::Service ? " rows" : " records") + ", faults [";
  for (std::size_t i = 0; i < plan.faults.size(); ++i) text += (i > 0 ? " " : "") + Describe(plan.faults[i]);
  text += "]";
  if (plan.stop.wanted) {
    text += ", stop after " + std::to_string(plan.stop.afterCommands) + " commands + " +
            std::to_string(plan.stop.delayMs) + " ms";
  }
  return text;
}

CampaignCatalogue::CampaignCatalogue(const Plan& plan) {
  // The image the run does not write: four records of its own.
  Draw draw(0);
  images_[0] = JoinLines(plan.procedure == Procedure::Catalogue ? plan.imageLines
                                                                : ImageOf(draw, "VER 14.002.028", 4));
  images_[1] =
      JoinLines(plan.procedure == Procedure::Staged ? plan.imageLines : ImageOf(draw, "VER 14.010.002", 4));
  imageNumber_ = plan.procedure == Procedure::Staged ? 2 : 1;
}

CatalogueSource CampaignCatalogue::Source() const {
  CatalogueSource source;
  for (const std::int32_t type : {kDoorDetectorType, kPanelType}) {
    DeviceTypeRow row = *DeviceTypeByNumber(type);
    row.listed = true;
    source.Types.push_back(row);
  }
  source.Resources = {{.Name = {}, .Number = 1, .Data = images_[0]},
                      {.Name = {}, .Number = 2, .Data = images_[1]}};
  return source;
}

}  // namespace tarvik::campaign
