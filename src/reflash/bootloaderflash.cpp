#include "reflash/bootloaderflash.h"

#include <algorithm>
#include <limits>

#include "common/text.h"
#include "device/controller.h"

namespace tarvik {
namespace {

constexpr int kCommandAttempts = 3;
// As long again as "BL" may take to be answered.
constexpr std::uint32_t kLateSwitchAnswerMs = 2500;
// How soon a stoppable wait notices a stop.
constexpr std::uint32_t kStopSliceMs = 50;

bool EraseAttempts(TController& controller, const BootloaderPolicy& policy, BootloaderSteps& steps,
                   BootloaderFailure& failure) {
  for (int attempt = 0; attempt < kCommandAttempts; ++attempt) {
    if (steps.StopRequested()) return false;
    std::string reply;
    steps.Sending(BootloaderCommand::Erase);
    const bool erased = controller.SlowCommand("BE", reply, policy.logTraffic);
    failure.answered = failure.answered || !Trim(reply).empty();
    steps.EraseAttempted();
    if (erased) return true;
  }
  return false;
}

bool WriteAttempts(TController& controller, Clock& clock, const std::string& command, int attempts,
                   bool echoChecked, const BootloaderPolicy& policy, BootloaderSteps& steps,
                   BootloaderFailure& failure) {
  failure = {command.size() > 1 ? command.substr(1, 4) : std::string(), false};
  for (int attempt = 0; attempt < attempts; ++attempt) {
    if (steps.StopRequested()) return false;
    std::string reply;
    steps.Sending(BootloaderCommand::Write);
    const bool answered = controller.WriteCommand(command, reply, policy.logTraffic);
    failure.answered = failure.answered || !Trim(reply).empty();
    const bool written = answered && (!echoChecked || EchoesBlock(command, reply));
    steps.WriteAttempted();
    clock.SleepMs(controller.Device->Timings.writePauseMs);
    if (written) return true;
  }
  return false;
}

}  // namespace

bool EchoMatches(std::string_view reply, std::string_view echo) { return Trim(reply).starts_with(echo); }

bool EchoesBlock(const std::string& command, const std::string& reply) {
  if (command.size() < 5) return false;
  return EchoMatches(reply, std::string_view(command).substr(2, 3));
}

std::int32_t BootloaderProgressParts(const BootloaderPolicy& policy, std::size_t fullGroups) {
  constexpr std::int64_t kSwitchAndEraseParts = 3;
  const std::int64_t fixed = kSwitchAndEraseParts + policy.settleMs / kBootloaderSettleTickMs;
  const auto cap = static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max() - fixed);
  return static_cast<std::int32_t>(static_cast<std::int64_t>(std::min(fullGroups, cap)) + fixed);
}

void WaitWithProgress(Clock& clock, std::uint32_t totalMs, std::uint32_t stepMs,
                      const std::function<void()>& tick, const std::function<bool()>& stop) {
  const std::uint32_t start = clock.TickMs();
  std::uint32_t lastTick = start;
  for (;;) {
    if (stop && stop()) return;
    const std::uint32_t now = clock.TickMs();
    const std::uint32_t elapsed = TickDiff(now, start);
    if (elapsed > totalMs) return;
    if (stepMs > 0 && TickDiff(now, lastTick) >= stepMs) {
      lastTick = now;
      if (tick) tick();
    }
    // Up to whichever comes first, the next tick or just past the end; in
    // short slices when a stop is to be noticed.
    std::uint32_t sleep = totalMs - elapsed + 1;
    if (stepMs > 0) sleep = std::min(sleep, stepMs - std::min(stepMs, TickDiff(now, lastTick)));
    sleep = std::max<std::uint32_t>(sleep, 1);
    if (stop) sleep = std::min(sleep, kStopSliceMs);
    clock.SleepMs(sleep);
  }
}

BootloaderResult FlashThroughBootloader(TController& controller, Clock& clock,
                                        const std::vector<std::string>& commands, bool inBootloader,
                                        const BootloaderPolicy& policy, BootloaderSteps& steps,
                                        BootloaderFailure* failure) {
  BootloaderFailure unused;
  BootloaderFailure& where = failure != nullptr ? *failure : unused;
  where = {};
  const auto failed = [&](BootloaderResult result) {
    return steps.StopRequested() ? BootloaderResult::Stopped : result;
  };
  if (!inBootloader) {
    if (steps.StopRequested()) return BootloaderResult::Stopped;
    steps.Switching();
    std::string reply;
    steps.Sending(BootloaderCommand::Switch);
    // Whatever it answers, the erase that follows decides.
    if (!controller.Command("BL", reply, true)) {
      // A device busy starting its bootloader may answer after the time-out,
      // and that "OK" must not pass for the erase's: it is let come, and the
      // erase's exchange throws it away before it sends.
      WaitWithProgress(clock, kLateSwitchAnswerMs, 0, {}, [&] { return steps.StopRequested(); });
    }
    steps.Switched();
  }
  steps.Erasing();
  const bool erased = EraseAttempts(controller, policy, steps, where);
  steps.EraseEnded();
  if (!erased) return failed(BootloaderResult::EraseFailed);
  steps.Erased();

  // Block 0000 goes last and only after every other group: a device whose
  // upload broke off keeps no valid start and stays in its bootloader for
  // the next try.
  for (std::size_t i = 0; i < commands.size(); ++i) {
    const bool first = i + 1 == commands.size();
    steps.Writing(first);
    const bool written =
        first ? WriteAttempts(controller, clock, commands[i], policy.firstBlockAttempts,
                              policy.firstBlockEchoChecked, policy, steps, where)
              : WriteAttempts(controller, clock, commands[i], kCommandAttempts, true, policy, steps, where);
    if (!written) return failed(BootloaderResult::WriteFailed);
    steps.Written();
  }
  steps.FirstBlockWritten();

  // The device is not addressed again.
  if (policy.settleStoppable) {
    WaitWithProgress(
        clock, policy.settleMs, kBootloaderSettleTickMs, [&] { steps.SettleTick(); },
        [&] { return steps.StopRequested(); });
    if (steps.StopRequested()) return BootloaderResult::Stopped;
  } else {
    WaitWithProgress(clock, policy.settleMs, kBootloaderSettleTickMs, [&] { steps.SettleTick(); });
  }
  return BootloaderResult::Written;
}

}  // namespace tarvik
