#pragma once
// How a reflash ended, worked out once by the procedure for every front end:
// whether the image went in, why not, what that leaves the device in, and
// which version the device named afterwards. The windows, the command line
// and the fault campaign each show this one value in their own place; none
// of them tells an outcome from the texts of another. Texts are
// Windows-1251.
#include <cstdint>
#include <string>

namespace tarvik {

class TController;

enum class ReflashOutcome {
  NotRun,  // not started, or stopped before it began
  Running,
  Succeeded,  // every command was answered as it must be
  Failed,     // shown as a failure unless a stop came first
  Stopped,    // ended early because a stop was asked
};

const char* ReflashOutcomeName(ReflashOutcome outcome);

// Why a reflash did not get through.
enum class ReflashCause : std::uint8_t {
  None,             // it got through
  Stopped,          // the user stopped it
  LineLost,         // the port failed under an exchange: a hang-up, a cable pulled
  EraseNotTaken,    // "BE" answered, three times, without success
  EraseUnanswered,  // "BE" not answered at all
  GroupNotTaken,    // a group answered, three times, without its block number
  GroupUnanswered,  // a group not answered at all
  CommitNotTaken,   // type 10: the commit went unanswered or the line dropped
  BadImage,         // the image cannot be sent as it stands; nothing was sent
  Error,            // anything else the procedure met
};

const char* ReflashCauseName(ReflashCause cause);

// What the device holds afterwards, as far as the commands sent tell it.
// Ordered: each state is further along than the one before.
enum class DeviceAfter : std::uint8_t {
  Unchanged,     // nothing went out that changes it
  InBootloader,  // "BL" went out: it waits in its bootloader, its flash not erased
  Erased,        // an erase went out: it waits in its bootloader without firmware
  Committing,    // type 10: the commit went out; it may be reprogramming itself
  Written,       // every group was taken
};

const char* DeviceAfterName(DeviceAfter device);

// What the device named when asked for its version after the reflash.
enum class VersionCheck : std::uint8_t {
  NotAsked,      // the reflash did not get through, or a stop came first
  Verified,      // the image's version line
  OtherVersion,  // another line: it still runs other firmware
  NoAnswer,      // nothing, or the line dropped
};

const char* VersionCheckName(VersionCheck check);

struct ReflashReport {
  ReflashOutcome outcome = ReflashOutcome::NotRun;
  ReflashCause cause = ReflashCause::None;
  DeviceAfter device = DeviceAfter::Unchanged;
  // The group the device did not take, as four hex digits.
  std::string block{};
  // The words of the error behind LineLost, BadImage and Error, for the log.
  std::string detail{};
  VersionCheck check = VersionCheck::NotAsked;
  // The image's version line, and the one the device named afterwards.
  std::string imageVersion{};
  std::string versionAfter{};
};

// The device's answer to the question after a reflash.
struct VersionCheckResult {
  VersionCheck check = VersionCheck::NotAsked;
  std::string versionLine{};
};

// Asks the device for its version as identification asks it, once its new
// firmware has had its settle wait, and holds the first line of the answer
// against the image's version line. A port that fails meanwhile is no
// answer; what failed goes to the traffic log.
VersionCheckResult CheckVersionAfterReflash(TController& controller, const std::string& imageVersion);

// What happened, in one sentence: "Связь с устройством потеряна.",
// "Блок 0004 не принят устройством после трёх попыток." and so on. Empty
// for a reflash that got through.
std::string ReflashCauseText(const ReflashReport& report);
// What the device holds, in one sentence.
std::string DeviceAfterText(DeviceAfter device);
// What the technician should do next, in one sentence; empty when nothing.
std::string ReflashAdviceText(const ReflashReport& report);
// The three above, for a reflash that did not get through.
std::string ReflashFailureText(const ReflashReport& report);

// After a reflash that got through: what the device named.
std::string VerifiedText(const std::string& version);
std::string NotVerifiedText(const std::string& answered, const std::string& image);
std::string NoAnswerAfterReflashText();
// The version check's sentence for the report, empty when it was not asked.
std::string VersionCheckText(const ReflashReport& report);

// "Проверка версии прошивки..."
std::string StageCheckingText();

}  // namespace tarvik
