#pragma once
// Update rules: per device type, which builds of its firmware are replaced by
// which image. They live in update.ini beside the program (section
// "UpdateRules", key = the version's TypeCode), which the tool only reads and
// reads anew for every question, so edits apply at the next decision.
//
// Value grammar (blanks and tabs anywhere are ignored):
//   rules  = rule { ";" rule } [ ";" ]
//   rule   = builds "->" target
//   builds = item { "," item }
//   item   = build | build ".." build      (a reversed range stands for nothing)
// A build that is not a 32-bit integer counts as 0; a target of 0, or one
// that is not an integer, makes the rule inapplicable. Target -1 reaches the
// family images.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "common/inifile.h"
#include "firmware/catalogue.h"
#include "firmware/firmwareversion.h"

namespace tarvik {

inline constexpr std::string_view kUpdateRulesSection = "UpdateRules";
inline constexpr std::string_view kNoRule = "NORULE";

// programDirectory / "update.ini".
std::filesystem::path UpdateRulesPath(const std::filesystem::path& programDirectory);

// The rules file as read for one question.
class UpdateRules {
 public:
  // Never blocks: a file that cannot be read (a FIFO, a device, one larger
  // than the settings limit) gives no rules and says why.
  static UpdateRules Read(const std::filesystem::path& rulesFile);

  // The rule value for a type code; kNoRule when the file, the section or
  // the key is missing, or the file could not be read.
  std::string Value(std::string_view typeCode) const;
  // Why the file could not be read, in Russian (Windows-1251); empty when it
  // was read or is missing.
  const std::string& Problem() const { return problem_; }

 private:
  IniDocument doc_;
  std::string problem_;
};

// The rule value for a type code; kNoRule when the file, the section or the
// key is missing.
std::string ReadUpdateRule(const std::filesystem::path& rulesFile, std::string_view typeCode);

// Whether the rules file has a value other than kNoRule for the version's
// type; an empty value counts as a rule.
bool HasUpdateRule(const std::filesystem::path& rulesFile, std::string_view versionText);

// The image index (into FirmwareImages) that the rules choose for the
// version, or -1.
int ChooseImageByRules(const FirmwareCatalogue& catalogue, const std::filesystem::path& rulesFile,
                       std::string_view versionText);

// The same evaluation on a rule value already read.
int ChooseImageByRuleValue(const FirmwareCatalogue& catalogue, std::string_view ruleValue,
                           const FirmwareVersion& version);

enum class RuleVerdict {
  Chosen,      // a rule covers the build and names an image the tool carries
  NotCovered,  // no rule covers the build: nothing is due
  NoImage,     // a rule covers the build, but the tool carries no image of its target
  Unreadable,  // nothing chosen, and the value holds no rule or one outside the grammar
};

struct RuleChoice {
  RuleVerdict verdict = RuleVerdict::NotCovered;
  int image = -1;  // for Chosen
  friend bool operator==(const RuleChoice&, const RuleChoice&) = default;
};

// ChooseImageByRuleValue, and when it chooses nothing, whether that is the
// rules' intent or a fault of the rules. kNoRule is not covered. A rule is
// outside the grammar when it has no "->", a build that is not a 32-bit
// integer or a range of two, or a target that is not a non-zero integer; the
// grammar still reads it as far as it can, so the image chosen is the same.
RuleChoice EvaluateRules(const FirmwareCatalogue& catalogue, std::string_view ruleValue,
                         const FirmwareVersion& version);

// The rule texts of a value, blanks and tabs removed; an empty rule stays
// (and never applies).
std::vector<std::string> SplitRules(std::string_view value);

// Applies one rule to the version: on success sets imageIndex to the last
// image of the version's major and type whose build is the target, and
// returns true; otherwise leaves imageIndex alone and returns false.
bool ApplyRule(const FirmwareCatalogue& catalogue, std::string_view rule, const FirmwareVersion& version,
               int& imageIndex);

}  // namespace tarvik
