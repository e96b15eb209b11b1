#pragma once
// How one device's run ended, and what a batch of them ends with: the exit
// code of the worst outcome, in one order that --help and the README print.
#include <array>
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/exitcodes.h"

namespace tarvik::cli {

enum class DeviceOutcome {
  Verified,     // written, and afterwards it answered the image's version line
  Done,         // written, not checked (--no-verify, flash-hex)
  Offered,      // identify: flash would write an image
  UpToDate,     // the rules choose no new image
  NotVerified,  // written, and afterwards it answered another version line
  Refused,      // no image may be written without the user's word
  NoDevice,     // the port did not open, or the device did not answer
  Failed,       // the reflash failed, or the device did not answer after it
  Interrupted,  // Ctrl+C
};

struct OutcomeRow {
  DeviceOutcome outcome;
  // In a record.
  std::string_view key;
  // In the summary, UTF-8.
  std::string_view words;
  ExitCode code;
};

// Worst first: a batch ends with the code of its worst outcome. An
// interruption leaves devices half written and the user asked for it; a
// failed reflash may have left a device without firmware; a device that
// answers another version has firmware nobody chose; the others were not
// written at all.
inline constexpr std::array<OutcomeRow, 9> kOutcomes = {{
    {DeviceOutcome::Interrupted, "interrupted", "прервано", ExitCode::Interrupted},
    {DeviceOutcome::Failed, "failed", "ошибка", ExitCode::Failed},
    {DeviceOutcome::NotVerified, "flashed_not_verified", "перепрошито, не проверено", ExitCode::NotVerified},
    {DeviceOutcome::NoDevice, "no_device", "нет устройства", ExitCode::NoDevice},
    {DeviceOutcome::Refused, "refused", "отказ", ExitCode::Refused},
    {DeviceOutcome::UpToDate, "up_to_date", "обновление не требуется", ExitCode::UpToDate},
    {DeviceOutcome::Offered, "offered", "доступна прошивка", ExitCode::Done},
    {DeviceOutcome::Done, "done", "перепрошито", ExitCode::Done},
    {DeviceOutcome::Verified, "verified", "проверено", ExitCode::Done},
}};

const OutcomeRow& RowOf(DeviceOutcome outcome);

// The code of the worst outcome; Done for none.
ExitCode BatchExitCode(const std::vector<DeviceOutcome>& outcomes);

// What one device's run found and did: the summary's line and the record.
// Texts are Windows-1251.
struct DeviceResult {
  // As the user named it.
  std::string port;
  // The port opened: whatever followed, the device was reached for.
  bool portOpened = false;
  DeviceOutcome outcome = DeviceOutcome::NoDevice;
  ExitCode code = ExitCode::NoDevice;
  std::chrono::system_clock::time_point start{};
  std::chrono::system_clock::time_point end{};
  std::string versionBefore;
  std::string unitName;
  std::string deviceType;
  // 1-based, as images lists them.
  std::optional<int> image;
  std::string imageVersion;
  // Of the data the writes carried, in block order (lower-case hex).
  std::string imageSha256;
  std::string versionAfter;
  // Why it failed or was refused, the first line the user read.
  std::string error;
  // Of a reflash that did not get through: why (ReflashCauseName) and what
  // that left the device with (DeviceAfterName); empty otherwise.
  std::string cause;
  std::string deviceAfter;
};

// --all: a port of the system's list the search passed over (as listed), and
// why (Windows-1251).
struct PassedPort {
  std::string port;
  std::string why;
};

}  // namespace tarvik::cli
