#include "device/controller.h"

#include <optional>

#include "common/regex.h"
#include "common/text.h"
#include "serial/comportworker.h"

namespace tarvik {
namespace {

// Characters first..first+count-1 (1-based) of a "VER" line as an integer.
std::optional<std::int32_t> IntegerAt(const std::string& line, std::size_t first, std::size_t count) {
  if (line.size() < first) return std::nullopt;
  return ParseInt32(std::string_view(line).substr(first - 1, count));
}

std::int32_t ThreeDigitGroup(const std::string& line, int n) {
  return ParseInt32Or(RegexNthMatch(line, "\\d{3}", n), -1);
}

// The first line that holds more than blanks, trimmed.
std::string FirstTextLine(const std::string& text) {
  for (const std::string& line : SplitLines(text)) {
    std::string trimmed = Trim(line);
    if (!trimmed.empty()) return trimmed;
  }
  return {};
}

}  // namespace

TController::TController(TComPortWorker* worker, DeviceEvents& events)
    : Device(std::make_unique<TDevTarvik6>(worker)), events_(events) {}

void TController::FailIdentification() {
  Identity.Build = 0;
  Identity.TypeNumber = 0;
  Identity.ResolvedType = 0;
  events_.IdentityCleared();
}

bool TController::Identify() {
  // A failing port ends identification like a silent device; what failed
  // goes to the traffic log.
  try {
    const bool identified = IdentifyInner();
    Device->Timings = TimingsOfType(Identity.ResolvedType);
    return identified;
  } catch (const std::exception& e) {
    WriteLog(e.what());
  } catch (...) {
    WriteLog("unknown error");
  }
  return false;
}

void TController::WriteLog(const std::string& line) {
  if (Device->Worker != nullptr && Device->Worker->Log() != nullptr) Device->Worker->Log()->WriteLine(line);
}

bool TController::IdentifyInner() {
  events_.Identifying();
  std::string reply;
  if (!Device->ReadVersion(reply)) {
    Identified = false;
    FailIdentification();
    return false;
  }
  // A bootloader's reply is its banner and an "OK" on lines of their own; one
  // line shows the banner. Told at once, while the device is asked further.
  events_.Answered(IsBootloaderBanner(reply) ? FirstTextLine(reply) : reply);
  Identified = true;
  Identity = DeviceIdentity::FromVersionLine(Trim(reply));

  if (Identity.AnsweredFromBootloader) {
    std::string unit;
    const bool named = Device->ReadUnitName(unit);
    Identity.UnitName = unit;
    // A known model stands for build 0 of its type.
    if (const DeviceTypeRow* model = BootloaderModel(Identity.UnitName)) {
      Identity.VersionLine = "VER " + std::string(model->versionLine);
      Identity.Version = ParseVersion(Identity.VersionLine);
      Identity.ModelNamed = true;
      Identity.ResolvedType = model->typeNumber;
    }
    if (named) events_.Identified(Identity);
    return named;
  }

  const std::string& line = Identity.VersionLine;
  if (Device->FamilyFlag == 0) {
    const auto type = IntegerAt(line, 8, 3);
    const auto build = IntegerAt(line, 12, 3);
    if (!type || !build) {
      FailIdentification();
      return false;
    }
    Identity.TypeNumber = *type;
    Identity.Build = *build;
    Identity.ResolvedType = KnownTypeNumber(*type);
    events_.Identified(Identity);
    return true;
  }

  Identity.FamilyMajor = ThreeDigitGroup(line, 1);
  Identity.FamilyMinor = ThreeDigitGroup(line, 2);
  if (Identity.FamilyMajor < 0 || Identity.FamilyMinor < 0) {
    FailIdentification();
    return false;
  }
  if (const DeviceTypeRow* family = FamilyByRank(Device->FamilyIndex))
    Identity.ResolvedType = family->typeNumber;
  events_.Identified(Identity);
  return true;
}

void TController::LockUi() { events_.Busy(true); }

void TController::UnlockUi() { events_.Busy(false); }

void TController::ReportNoAnswer() {
  Identified = false;
  events_.NoAnswer();
}

void TController::RequestDisconnect() {
  Identified = false;
  events_.DisconnectRequested();
}

}  // namespace tarvik
