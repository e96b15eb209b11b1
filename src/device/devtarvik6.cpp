#include "device/devtarvik6.h"

#include "common/regex.h"
#include "common/text.h"
#include "firmware/firmwareversion.h"
#include "serial/comportworker.h"

namespace tarvik {
namespace {

// Identification's queries, the same whatever the device turns out to be.
constexpr std::int32_t kQueryMs = 2000;
constexpr std::int32_t kValueQueryMs = 500;
constexpr std::int32_t kValueQueryAttempts = 3;

}  // namespace

std::string FrameCommand(std::string_view name) {
  std::string framed = "+";
  framed += name;
  framed += '\r';
  return framed;
}

std::string ParseValue(std::string_view reply) {
  const auto colon = reply.find(':');
  std::string_view rest = colon == std::string_view::npos ? reply : reply.substr(colon + 1);
  const auto ok = rest.find("OK");
  if (ok == std::string_view::npos) return {};
  return Trim(rest.substr(0, ok));
}

VersionReplyClass ClassifyVersionReply(std::string_view reply) {
  VersionReplyClass result;
  if (Contains(reply, "VER")) {
    result.kind = VersionReplyKind::Version;
    result.line = RegexFirstMatch("[^\\n\\r]+", reply);
  } else if (const int family = FindFamilyCode(reply); family != 0) {
    result.kind = VersionReplyKind::Family;
    result.familyIndex = family;
    result.line = RegexFirstMatch("[^\\n\\r]+", reply);
  } else if (IsBootloaderBanner(reply)) {
    result.kind = VersionReplyKind::Bootloader;
    result.line = std::string(reply);
  }
  return result;
}

bool TDevTarvik6::Send(std::string_view name, std::string& reply, std::string_view terminator,
                       std::int32_t attempts, std::int32_t timeoutMs, bool log) {
  reply.clear();
  if (Worker == nullptr) return false;
  return Worker->Exchange(FrameCommand(name), reply,
                          {.Terminator = std::string(terminator),
                           .Attempts = attempts,
                           .TimeoutMs = timeoutMs,
                           .TerminatorRequired = false,
                           .LogTraffic = log});
}

bool TDevTarvik6::Command(std::string_view name, std::string& reply, bool log) {
  return Send(name, reply, "OK", 1, Timings.commandMs, log);
}

bool TDevTarvik6::SlowCommand(std::string_view name, std::string& reply, bool log) {
  return Send(name, reply, "OK", 1, Timings.slowCommandMs, log);
}

bool TDevTarvik6::WriteCommand(std::string_view command, std::string& reply, bool log) {
  return Send(command, reply, "OK", 1, Timings.writeMs, log);
}

bool TDevTarvik6::Query(std::string_view name, std::string& reply) {
  return Send(name, reply, "\r", 1, kQueryMs, true);
}

bool TDevTarvik6::QueryValue(std::string_view name, std::string& value) {
  std::string reply;
  const bool ok = Send(name, reply, "OK", kValueQueryAttempts, kValueQueryMs, true);
  value = ok ? ParseValue(reply) : reply;
  return ok;
}

bool TDevTarvik6::QueryRaw(std::string_view name, std::string& reply) {
  return Send(name, reply, "OK", 1, kValueQueryMs, true);
}

bool TDevTarvik6::MatchFamily(std::string_view text) {
  const int found = FindFamilyCode(text);
  if (found == 0) return false;
  FamilyIndex = found;
  return true;
}

bool TDevTarvik6::ReadVersion(std::string& reply) {
  std::string ignored;
  QueryValue("v", ignored);  // gets the device talking; its answer is not used
  if (!QueryRaw("v", reply)) return false;
  const VersionReplyClass cls = ClassifyVersionReply(reply);
  switch (cls.kind) {
    case VersionReplyKind::Version:
      reply = cls.line;
      VersionText = cls.line;
      return true;
    case VersionReplyKind::Family:
      FamilyIndex = cls.familyIndex;
      FamilyFlag = 1;
      reply = cls.line;
      VersionText = cls.line;
      return true;
    case VersionReplyKind::Bootloader:
      VersionText.clear();
      return true;
    case VersionReplyKind::None:
      break;
  }
  return false;
}

bool TDevTarvik6::ReadUnitName(std::string& value) { return QueryValue("un", value); }

}  // namespace tarvik
