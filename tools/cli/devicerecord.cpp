#include "cli/devicerecord.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "cli/cliopts.h"
#include "common/text.h"

namespace tarvik::cli {
namespace {

using RecordJson = nlohmann::ordered_json;

RecordJson RecordText(const std::string& cp1251) {
  return cp1251.empty() ? RecordJson(nullptr) : RecordJson(Cp1251ToUtf8(cp1251));
}

RecordJson RecordId(const std::optional<std::uint16_t>& id) {
  if (!id) return nullptr;
  char text[8];
  std::snprintf(text, sizeof text, "%04x", static_cast<unsigned>(*id));
  return text;
}

const char* CommandName(Command command) {
  switch (command) {
    case Command::Identify:
      return "identify";
    case Command::FlashHex:
      return "flash-hex";
    default:
      return "flash";
  }
}

}  // namespace

std::string DeviceRecordJson(Command command, const DeviceResult& result, const SerialPortFacts& port) {
  const RecordJson record = {
      {"tool", VersionText()},
      {"command", CommandName(command)},
      {"start", FormatIsoDateTime(result.start)},
      {"end", FormatIsoDateTime(result.end)},
      {"port", Cp1251ToUtf8(result.port)},
      {"stable_name", RecordText(port.StableName)},
      {"vendor_id", RecordId(port.VendorId)},
      {"product_id", RecordId(port.ProductId)},
      {"serial_number", RecordText(port.SerialNumber)},
      {"unit_name", RecordText(result.unitName)},
      {"device_type", RecordText(result.deviceType)},
      {"version_before", RecordText(result.versionBefore)},
      {"image", result.image ? RecordJson(*result.image) : RecordJson(nullptr)},
      {"image_version", RecordText(result.imageVersion)},
      {"image_sha256", result.imageSha256.empty() ? RecordJson(nullptr) : RecordJson(result.imageSha256)},
      {"version_after", RecordText(result.versionAfter)},
      {"outcome", std::string(RowOf(result.outcome).key)},
      {"exit_code", ToInt(result.code)},
      // Only of a device that did not end well.
      {"error", result.code == ExitCode::Done || result.code == ExitCode::UpToDate
                    ? RecordJson(nullptr)
                    : RecordText(result.error)},
      // A bench tells a cable from a device by these, not by the words.
      {"cause", result.cause.empty() ? RecordJson(nullptr) : RecordJson(result.cause)},
      {"device_after", result.deviceAfter.empty() ? RecordJson(nullptr) : RecordJson(result.deviceAfter)},
  };
  return record.dump(-1, ' ', true);
}

}  // namespace tarvik::cli
