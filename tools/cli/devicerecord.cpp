#include "cli/devicerecord.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "cli/cliopts.h"
#include "common/text.h"

namespace tarvik::cli {
namespace {

using Json = nlohmann::ordered_json;

Json TextOrNull(const std::string& cp1251) {
  return cp1251.empty() ? Json(nullptr) : Json(Cp1251ToUtf8(cp1251));
}

Json IdOrNull(const std::optional<std::uint16_t>& id) {
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
  const Json record = {
      {"tool", VersionText()},
      {"command", CommandName(command)},
      {"start", FormatIsoDateTime(result.start)},
      {"end", FormatIsoDateTime(result.end)},
      {"port", Cp1251ToUtf8(result.port)},
      {"stable_name", TextOrNull(port.StableName)},
      {"vendor_id", IdOrNull(port.VendorId)},
      {"product_id", IdOrNull(port.ProductId)},
      {"serial_number", TextOrNull(port.SerialNumber)},
      {"unit_name", TextOrNull(result.unitName)},
      {"device_type", TextOrNull(result.deviceType)},
      {"version_before", TextOrNull(result.versionBefore)},
      {"image", result.image ? Json(*result.image) : Json(nullptr)},
      {"image_version", TextOrNull(result.imageVersion)},
      {"image_sha256", result.imageSha256.empty() ? Json(nullptr) : Json(result.imageSha256)},
      {"version_after", TextOrNull(result.versionAfter)},
      {"outcome", std::string(RowOf(result.outcome).key)},
      {"exit_code", ToInt(result.code)},
      // Only of a device that did not end well.
      {"error", result.code == ExitCode::Done || result.code == ExitCode::UpToDate
                    ? Json(nullptr)
                    : TextOrNull(result.error)},
  };
  return record.dump(-1, ' ', true);
}

}  // namespace tarvik::cli
