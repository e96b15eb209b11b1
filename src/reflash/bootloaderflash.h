#pragma once
// The bootloader's reflash sequence, written once for every way a device is
// written through its bootloader (the catalogue reflash and the service
// reflash): "BL" unless the device sits in its bootloader already (2.5 s more
// when it went unanswered, for a late answer to pass), "BE" up to three
// times, every group but block 0000, block 0000 last, a pause after every
// write attempt (the device type's), then a settle wait in which the device
// is not addressed.
// What differs between the two is data (BootloaderPolicy); what each shows
// on the way are its own steps (BootloaderSteps).
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/clock.h"

namespace tarvik {

class TController;

// The reply, trimmed of blanks and control characters, begins with echo
// (case-sensitive).
bool EchoMatches(std::string_view reply, std::string_view echo);

// The reply to a bootloader write names the block: trimmed, it begins with
// characters 3 to 5 of the command (case-sensitive).
bool EchoesBlock(const std::string& command, const std::string& reply);

// Waits until more than totalMs have passed on the clock, calling tick each
// time another stepMs have gone by since the last tick (100 ticks for 15000
// and 150). With a stop, it sleeps in slices of at most 50 ms and ends early
// once stop() holds; without one it sleeps from tick to tick.
void WaitWithProgress(Clock& clock, std::uint32_t totalMs, std::uint32_t stepMs,
                      const std::function<void()>& tick, const std::function<bool()>& stop = {});

// What differs between the procedures; each names only what differs.
struct BootloaderPolicy {
  // Attempts at block 0000, and whether its reply must echo the block.
  int firstBlockAttempts = 3;
  bool firstBlockEchoChecked = true;
  // "BE" and the writes in the traffic log ("BL" always goes there).
  bool logTraffic = false;
  // After block 0000, while the device starts its new firmware.
  std::uint32_t settleMs = 1500;
  // A stop ends the settle wait early, and the procedure as stopped; without
  // it the wait runs out and the image counts as written.
  bool settleStoppable = false;
};

// The commands of the sequence, for telling what the device may hold.
enum class BootloaderCommand { Switch, Erase, Write };

// What a procedure shows between the sequence's commands, and whether it was
// asked to stop. Every step but StopRequested does nothing unless
// overridden.
class BootloaderSteps {
 public:
  virtual ~BootloaderSteps() = default;
  virtual bool StopRequested() = 0;
  // Just before each command goes out: from then on the device may be in
  // its bootloader, erased, or part written.
  virtual void Sending(BootloaderCommand /*command*/) {}
  // Before and after "BL" (only when it is sent).
  virtual void Switching() {}
  virtual void Switched() {}
  // Before the first "BE", after each attempt, after the last whatever it
  // gave, and once the device took one.
  virtual void Erasing() {}
  virtual void EraseAttempted() {}
  virtual void EraseEnded() {}
  virtual void Erased() {}
  // Before a group's attempts (block 0000 last, firstBlock set).
  virtual void Writing(bool /*firstBlock*/) {}
  // After each write attempt, before the pause that follows it.
  virtual void WriteAttempted() {}
  // A group the device took.
  virtual void Written() {}
  // Block 0000 was taken; the settle wait follows.
  virtual void FirstBlockWritten() {}
  // Every 150 ms of the settle wait.
  virtual void SettleTick() {}
};

enum class BootloaderResult {
  Written,  // every group taken and the settle wait over
  EraseFailed,
  WriteFailed,
  Stopped,  // a stop was asked before the end
};

// Where a sequence that did not get through stopped: the group the device
// did not take (its four digits of block number), and whether any attempt at
// the failed command got a reply.
struct BootloaderFailure {
  std::string block;
  bool answered = false;
};

// The ticks of the settle wait.
inline constexpr std::uint32_t kBootloaderSettleTickMs = 150;

// The parts the sequence's progress is measured in: the switch, the erase
// begun, the erase taken, one for each group of four records or rows
// (fullGroups: a short last group is not counted), and a settle tick each.
// The steps past that (a short last group, the first block's own step in the
// catalogue reflash) run into the end, where the bar is filled anyway.
std::int32_t BootloaderProgressParts(const BootloaderPolicy& policy, std::size_t fullGroups);

// Runs the sequence on the controller's device. commands are the W commands
// in the order they are written, block 0000 last; inBootloader: the device
// needs no "BL". No command goes out once a stop was asked. failure, when
// given, tells where an EraseFailed or WriteFailed stopped.
BootloaderResult FlashThroughBootloader(TController& controller, Clock& clock,
                                        const std::vector<std::string>& commands, bool inBootloader,
                                        const BootloaderPolicy& policy, BootloaderSteps& steps,
                                        BootloaderFailure* failure = nullptr);

}  // namespace tarvik
