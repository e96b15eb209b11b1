// An update-rule value and a version text, evaluated against the shipped
// catalogue. Input: the rule value, a line feed, the version text. The rule
// evaluation must stay linear in the value however large its ranges.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "firmware/catalogue.h"
#include "firmware/rules.h"

namespace {

const tarvik::FirmwareCatalogue& Catalogue() {
  static const tarvik::FirmwareCatalogue catalogue = [] {
    tarvik::FirmwareCatalogue c;
    c.LoadCatalogue();
    return c;
  }();
  return catalogue;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t lf = input.find('\n');
  const std::string_view value = input.substr(0, lf);
  const std::string_view versionText =
      lf == std::string_view::npos ? std::string_view{} : input.substr(lf + 1);

  const tarvik::FirmwareVersion version = tarvik::ParseVersion(versionText);
  const auto& images = Catalogue().FirmwareImages();
  const int chosen = tarvik::ChooseImageByRuleValue(Catalogue(), value, version);
  if (chosen < -1 || chosen >= static_cast<int>(images.size())) std::abort();
  // The verdict agrees with the choice.
  const tarvik::RuleChoice choice = tarvik::EvaluateRules(Catalogue(), value, version);
  if (choice.image != chosen || (choice.verdict == tarvik::RuleVerdict::Chosen) != (chosen >= 0))
    std::abort();
  if (chosen >= 0) {
    const tarvik::FirmwareVersion& image = images[static_cast<std::size_t>(chosen)];
    if (image.Major != version.Major || image.TypeNumber != version.TypeNumber) std::abort();
  }
  for (const std::string& rule : tarvik::SplitRules(value)) {
    if (rule.find_first_of(" \t") != std::string::npos) std::abort();
  }
  return 0;
}
