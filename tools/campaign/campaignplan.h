#pragma once
// One run of the fault campaign, drawn from its seed: which front end
// reflashes which device with which image, which faults the device commits on
// which attempt of which step, and when the user stops the reflash. A seed
// always gives the same run on every system, so a run that breaks a promise
// is replayed from its seed alone.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "firmware/catalogue.h"

namespace tarvik::campaign {

// How the user reflashes: the windows (a connection and the reflash worker
// or the service reflash, as the reflash window and the service menu drive
// them) or tarvik-cli.
enum class Front { Window, Cli };
// The reflash from the catalogue through the bootloader, the service reflash
// from a HEX file, and the staged upload of a type-10 device.
enum class Procedure { Catalogue, Service, Staged };

// What goes wrong with one answer.
enum class FaultKind {
  Silence,        // no answer
  Garbage,        // bytes that mean nothing
  WrongEcho,      // a write echoed with another block's number
  NoOk,           // the answer without its "OK"
  Split,          // the answer in two pieces, cut at an awkward point
  SlowUnder,      // the answer at 80 % of the command's time-out
  SlowOver,       // the answer at 130 % of the command's time-out
  NoCarrier,      // "NO CARRIER" instead of the answer
  EchoNoCarrier,  // the answer, then "NO CARRIER" before its "OK"
  HangUp,         // the answer, then the line hangs up
  HangUpSilent,   // the line hangs up instead of answering
};
inline constexpr int kFaultKindCount = 11;

const char* FrontName(Front front);
const char* ProcedureName(Procedure procedure);
const char* FaultKindName(FaultKind kind);

// Time-outs of the tool's commands, which the slow answers are measured
// against: 2500 ms for a command, 15000 ms for the erase and the commit,
// 3500 ms for a write.
std::uint32_t StepTimeoutMs(const std::string& step);

struct PlannedFault {
  // "BL", "BE", "W" and a block number ("W0004"), or "EE" for the commit.
  std::string step;
  // Which attempt of the step it meets, counted from 1.
  std::uint32_t attempt = 1;
  FaultKind kind = FaultKind::Silence;
  // The device does not carry the command out. Drawn only where the answer
  // tells the tool so, as the devices' answers promise.
  bool lost = false;
  // Slow: how long the answer is held back after the command is carried
  // out; split: the pause between its pieces.
  std::uint32_t delayMs = 0;
  // Split: bytes before the pause; negative counts from the end.
  std::int32_t splitAt = 0;
};

// The user leaves the reflash window (or presses Ctrl+C) once the device has
// had this many of the reflash's commands and this much clock time more.
struct PlannedStop {
  bool wanted = false;
  std::uint32_t afterCommands = 0;
  std::uint32_t delayMs = 0;
};

struct DrawOptions {
  // The device keeps real time in another process (the Windows serial layer
  // under Wine): every time-out there costs its whole length, so the faults
  // that wait out an erase or a commit are left out, and slow answers are
  // drawn for writes only.
  bool realTime = false;
  // Only this front end or procedure, when given.
  std::optional<Front> front = std::nullopt;
  std::optional<Procedure> procedure = std::nullopt;
};

struct Plan {
  std::uint64_t seed = 0;
  bool realTime = false;
  Front front = Front::Window;
  Procedure procedure = Procedure::Catalogue;
  // The device: its "+v" line outside the bootloader, whether it sits in its
  // bootloader from the start, the model its bootloader names, how long its
  // erase takes, and what its flash holds from an earlier firmware.
  std::string versionReply;
  bool startInBootloader = false;
  std::string unitName;
  std::uint32_t eraseMs = 0;
  std::map<std::string, std::string> oldFlash;
  // The image, header first, as the catalogue holds it; for the service
  // reflash the HEX file's data in the same form, a record per row.
  std::vector<std::string> imageLines;
  // The service reflash: the HEX file, with its gaps.
  std::string hexText;
  std::vector<PlannedFault> faults;
  PlannedStop stop;
};

Plan DrawPlan(std::uint64_t seed, const DrawOptions& options = {});

// "VER 14.002.000" for a model its bootloader names that the tool knows.
bool KnownModel(const std::string& unitName);

// The commands of the reflash as the device sees them, in order: "BL" when
// it is sent, "BE", the writes ("W" + block number, block 0000 last) and for
// the staged upload the writes from block 0000 and then "EE".
std::vector<std::string> ReflashSteps(const Plan& plan, bool inBootloader);
// How often the tool may send the step: once for "BL" and for the service
// reflash's block 0000, three times for anything else.
std::uint32_t StepAttempts(Procedure procedure, const std::string& step);

// What the device's flash must hold after a whole reflash: block number to
// 32 hex digits; a block that is not there must read FF.
std::map<std::string, std::string> ExpectedFlash(const Plan& plan);
// Two flashes hold the same bytes, FF where a block is missing.
bool SameFlash(const std::map<std::string, std::string>& a, const std::map<std::string, std::string>& b);
// The first block that differs, for a message; empty when none does.
std::string FirstDifference(const std::map<std::string, std::string>& a,
                            const std::map<std::string, std::string>& b);

// One line of text for a run: front end, procedure, device, image, faults
// and stop.
std::string Describe(const Plan& plan);
std::string Describe(const PlannedFault& fault);

// The catalogue the command line loads for a run: the door detector type and
// the panel (the staged type), image 1 the detector's, image 2 the panel's
// (one of them the run's image).
class CampaignCatalogue {
 public:
  explicit CampaignCatalogue(const Plan& plan);
  CampaignCatalogue(const CampaignCatalogue&) = delete;
  CampaignCatalogue& operator=(const CampaignCatalogue&) = delete;
  CatalogueSource Source() const;
  // The number tarvik-cli's --image takes for the run's image.
  int ImageNumber() const { return imageNumber_; }

 private:
  std::string images_[2];
  int imageNumber_ = 1;
};

}  // namespace tarvik::campaign
