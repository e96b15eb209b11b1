#include "campaign/campaignexpect.h"

#include <optional>
#include <vector>

namespace tarvik::campaign {
namespace {

// What one attempt comes to.
enum class Attempt {
  Taken,          // the tool takes the answer
  Refused,        // the tool tries again, if it may
  Ends,           // the reflash fails at once
  Unsure,         // depends on timing
  TakenThenGone,  // taken, then the line hangs up: only a last step survives it
};

// kind: nullopt for an answer without a fault.
Attempt Judge(const Plan& plan, const std::string& step, bool last, std::optional<FaultKind> kind,
              bool deviceInBootloader) {
  if (kind == FaultKind::HangUpSilent) return Attempt::Ends;
  if (kind == FaultKind::HangUp) return Attempt::TakenThenGone;
  const bool service = plan.procedure == Procedure::Service;
  const bool staged = plan.procedure == Procedure::Staged;
  // The service reflash's last write has one attempt: an answer after its
  // time-out comes when nothing more is sent.
  if (kind == FaultKind::SlowOver) return service && last ? Attempt::Refused : Attempt::Unsure;
  // Whatever "BL" is answered, the erase decides.
  if (step == "BL") return Attempt::Taken;

  if (!staged && !deviceInBootloader) {
    // A device still in its firmware answers "ERROR" to the erase and the
    // writes: the erase's answer holds no "OK" and is taken once its time is
    // up, a write's echoes nothing.
    if (step == "BE") return kind == FaultKind::Silence ? Attempt::Refused : Attempt::Taken;
    return Attempt::Refused;
  }

  if (step == "BE") {
    return kind == FaultKind::Silence || kind == FaultKind::NoOk ? Attempt::Refused : Attempt::Taken;
  }
  if (step == "EE") {
    if (kind == FaultKind::Silence || kind == FaultKind::NoOk) return Attempt::Refused;
    if (kind == FaultKind::NoCarrier || kind == FaultKind::EchoNoCarrier) return Attempt::Ends;
    // An answer without "OK" on a live line: refused by one reading of the
    // commit's check, taken by another.
    if (kind == FaultKind::Garbage) return Attempt::Unsure;
    return Attempt::Taken;
  }
  // The writes.
  if (service && last) return kind == FaultKind::Silence ? Attempt::Refused : Attempt::Taken;
  if (staged && (kind == FaultKind::NoCarrier || kind == FaultKind::EchoNoCarrier)) return Attempt::Ends;
  const bool echoMissing = kind == FaultKind::Silence || kind == FaultKind::Garbage ||
                           kind == FaultKind::WrongEcho || kind == FaultKind::NoCarrier;
  return echoMissing ? Attempt::Refused : Attempt::Taken;
}

}  // namespace

const char* ExpectedName(Expected expected) {
  switch (expected) {
    case Expected::Success:
      return "success";
    case Expected::Failure:
      return "failure";
    case Expected::Either:
      return "either";
  }
  return "?";
}

Expectation Expect(const Plan& plan, bool inBootloader, bool withFaults) {
  if (withFaults && plan.stop.wanted) return {Expected::Either, "the user stops it"};
  const std::vector<std::string> steps = ReflashSteps(plan, inBootloader);
  bool deviceInBootloader = inBootloader;
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const std::string& step = steps[i];
    const bool last = i + 1 == steps.size();
    const std::uint32_t attempts = StepAttempts(plan.procedure, step);
    bool taken = false;
    for (std::uint32_t attempt = 1; attempt <= attempts && !taken; ++attempt) {
      const PlannedFault* fault = nullptr;
      if (withFaults) {
        for (const PlannedFault& f : plan.faults) {
          if (f.step == step && f.attempt == attempt) fault = &f;
        }
      }
      const std::optional<FaultKind> kind = fault ? std::optional(fault->kind) : std::nullopt;
      const std::string where = fault ? Describe(*fault) : step + "#" + std::to_string(attempt);
      switch (Judge(plan, step, last, kind, deviceInBootloader)) {
        case Attempt::Taken:
          taken = true;
          break;
        case Attempt::Refused:
          break;
        case Attempt::Ends:
          return {Expected::Failure, where + " ends it"};
        case Attempt::Unsure:
          return {Expected::Either, where + " may pass or not"};
        case Attempt::TakenThenGone:
          if (last) return {Expected::Success, where + " comes after the last answer"};
          return {Expected::Failure, where + ": the line is gone for the next command"};
      }
      if (step == "BL" && !(fault && fault->lost)) deviceInBootloader = true;
    }
    if (!taken) return {Expected::Failure, step + " refused " + std::to_string(attempts) + " times"};
  }
  return {Expected::Success, "every step answered"};
}

}  // namespace tarvik::campaign
