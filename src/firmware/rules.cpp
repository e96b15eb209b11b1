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

// One rule as the grammar reads it, as far as it can: no "->" leaves no
// builds, and a target that is no integer reads as 0.
struct ParsedRule {
  std::vector<BuildRange> builds;
  std::int32_t target = 0;

  bool Covers(std::int32_t build) const { return InRanges(builds, build); }
};

ParsedRule ParseRule(std::string_view rule) {
  const std::size_t arrow = rule.find("->");
  if (arrow == std::string_view::npos) return {};
  return {ParseBuildList(rule.substr(0, arrow)), ParseInt32Or(rule.substr(arrow + 2), 0)};
}

// The last image of the version's major and type whose build is the
// target; -1 when there is none or the rule does not cover the version.
int ChosenImage(const FirmwareCatalogue& catalogue, const ParsedRule& rule, const FirmwareVersion& version) {
  if (rule.target == 0 || !rule.Covers(version.Build)) return -1;
  const std::vector<FirmwareVersion>& images = catalogue.FirmwareImages();
  int found = -1;
  for (std::size_t i = 0; i < images.size(); ++i) {
    const FirmwareVersion& image = images[i];
    if (image.Major == version.Major && image.TypeNumber == version.TypeNumber &&
        image.Build == rule.target) {
      found = static_cast<int>(i);
    }
  }
  return found;
}

// The rule follows the grammar to the letter: builds that are integers or
// ranges of two, and a target that is a non-zero integer.
bool WellFormed(std::string_view rule) {
  const std::size_t arrow = rule.find("->");
  if (arrow == std::string_view::npos) return false;
  for (const std::string_view item : Split(rule.substr(0, arrow), ',')) {
    const std::size_t dots = item.find("..");
    if (dots == std::string_view::npos) {
      if (!ParseInt32(item)) return false;
    } else if (!ParseInt32(item.substr(0, dots)) || !ParseInt32(item.substr(dots + 2))) {
      return false;
    }
  }
  const auto target = ParseInt32(rule.substr(arrow + 2));
  return target && *target != 0;
}

}  // namespace

UpdateRules UpdateRules::Read(const std::filesystem::path& rulesFile) {
  const FileRead read = ReadSettingsFile(rulesFile);
  UpdateRules rules;
  rules.problem_ = FileReadProblem(read);
  if (read.Usable()) {
    rules.doc_ = IniDocument::Parse(read.bytes);
    // A file that holds something but no rules section is not a rules file
    // (a garbled copy, another program's file): its rules are not silently
    // none.
    if (rules.problem_.empty() && !Trim(read.bytes).empty() && !rules.doc_.HasSection(kUpdateRulesSection)) {
      rules.problem_ = Utf8ToCp1251("в нём нет раздела [") + std::string(kUpdateRulesSection) + "]";
    }
  }
  return rules;
}

std::string UpdateRules::Value(std::string_view typeCode) const {
  return doc_.ReadString(kUpdateRulesSection, typeCode, kNoRule);
}

std::filesystem::path UpdateRulesPath(const std::filesystem::path& programDirectory) {
  return programDirectory / "update.ini";
}

std::string ReadUpdateRule(const std::filesystem::path& rulesFile, std::string_view typeCode) {
  return UpdateRules::Read(rulesFile).Value(typeCode);
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
  return EvaluateRules(catalogue, ruleValue, version).image;
}

RuleChoice EvaluateRules(const FirmwareCatalogue& catalogue, std::string_view ruleValue,
                         const FirmwareVersion& version) {
  if (ruleValue == kNoRule) return {};
  bool anyRule = false;
  bool malformed = false;
  bool coveredWithoutImage = false;
  for (const std::string& rule : SplitRules(ruleValue)) {
    // An empty rule between two others is a stray ";", not a fault.
    if (rule.empty()) continue;
    anyRule = true;
    const ParsedRule parsed = ParseRule(rule);
    if (const int image = ChosenImage(catalogue, parsed, version); image >= 0) {
      return {RuleVerdict::Chosen, image};
    }
    if (!WellFormed(rule)) {
      malformed = true;
      continue;
    }
    if (parsed.Covers(version.Build)) coveredWithoutImage = true;
  }
  if (coveredWithoutImage) return {RuleVerdict::NoImage};
  if (malformed || !anyRule) return {RuleVerdict::Unreadable};
  return {RuleVerdict::NotCovered};
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
  const int found = ChosenImage(catalogue, ParseRule(rule), version);
  if (found < 0) return false;
  imageIndex = found;
  return true;
}

}  // namespace tarvik
