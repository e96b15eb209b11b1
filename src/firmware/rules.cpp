#include "firmware/rules.h"

#include "common/inifile.h"
#include "common/text.h"

namespace tarvik {
namespace {

// The builds of a rule as inclusive ranges: a range may span billions of
// builds, so it is tested, never expanded.
struct BuildRange {
  std::int32_t low;
  std::int32_t high;
};

std::int32_t BuildNumber(std::string_view text) { return ParseInt32Or(text, 0); }

std::vector<BuildRange> ParseBuildList(std::string_view list) {
  std::vector<BuildRange> ranges;
  for (const std::string_view item : Split(list, ',')) {
    if (const std::size_t dots = item.find(".."); dots != std::string_view::npos) {
      const std::int32_t low = BuildNumber(item.substr(0, dots));
      const std::int32_t high = BuildNumber(item.substr(dots + 2));
      if (high >= low) ranges.push_back({low, high});
    } else {
      const std::int32_t build = BuildNumber(item);
      ranges.push_back({build, build});
    }
  }
  return ranges;
}

bool InRanges(const std::vector<BuildRange>& ranges, std::int32_t build) {
  for (const BuildRange& r : ranges) {
    if (build >= r.low && build <= r.high) return true;
  }
  return false;
}

}  // namespace

std::filesystem::path UpdateRulesPath(const std::filesystem::path& programDirectory) {
  return programDirectory / "update.ini";
}

std::string ReadUpdateRule(const std::filesystem::path& rulesFile, std::string_view typeCode) {
  return ReadProfileString(rulesFile, kUpdateRulesSection, typeCode, kNoRule);
}

bool HasUpdateRule(const std::filesystem::path& rulesFile, std::string_view versionText) {
  return ReadUpdateRule(rulesFile, ParseVersion(versionText).TypeCode) != kNoRule;
}

int ChooseImageByRules(const FirmwareCatalogue& catalogue, const std::filesystem::path& rulesFile,
                       std::string_view versionText) {
  const FirmwareVersion version = ParseVersion(versionText);
  return ChooseImageByRuleValue(catalogue, ReadUpdateRule(rulesFile, version.TypeCode), version);
}

int ChooseImageByRuleValue(const FirmwareCatalogue& catalogue, std::string_view ruleValue,
                           const FirmwareVersion& version) {
  int result = -1;
  for (const std::string& rule : SplitRules(ruleValue)) {
    if (ApplyRule(catalogue, rule, version, result)) break;
  }
  return result;
}

std::vector<std::string> SplitRules(std::string_view value) {
  std::string text = Trim(value);
  if (text.empty()) return {};
  if (text.back() == ';') text.pop_back();
  std::string compact;
  compact.reserve(text.size());
  for (char c : text) {
    if (c != ' ' && c != '\t') compact += c;
  }
  std::vector<std::string> rules;
  for (const std::string_view rule : Split(compact, ';')) rules.emplace_back(rule);
  return rules;
}

bool ApplyRule(const FirmwareCatalogue& catalogue, std::string_view rule, const FirmwareVersion& version,
               int& imageIndex) {
  const std::size_t arrow = rule.find("->");
  if (arrow == std::string_view::npos) return false;
  const std::vector<BuildRange> builds = ParseBuildList(rule.substr(0, arrow));
  if (builds.empty()) return false;
  const std::int32_t target = ParseInt32Or(rule.substr(arrow + 2), 0);
  if (target == 0) return false;
  if (!InRanges(builds, version.Build)) return false;

  const std::vector<FirmwareVersion>& images = catalogue.FirmwareImages();
  int found = -1;
  for (std::size_t i = 0; i < images.size(); ++i) {
    const FirmwareVersion& image = images[i];
    if (image.Major == version.Major && image.TypeNumber == version.TypeNumber && image.Build == target) {
      found = static_cast<int>(i);
    }
  }
  if (found < 0) return false;
  imageIndex = found;
  return true;
}

}  // namespace tarvik
