#include "device/decideupdate.h"

#include "common/inifile.h"
#include "common/text.h"
#include "firmware/rules.h"

namespace tarvik {

std::string NoUpdateNeededText() { return Utf8ToCp1251("Данное устройство не требует обновления прошивки"); }

std::string UnsupportedVersionText(const std::string& versionLine) {
  return Utf8ToCp1251("Версия ") + versionLine + Utf8ToCp1251(" не поддерживается");
}

namespace {

// A rule value shown to the user: a file may hold a value of megabytes.
constexpr std::size_t kShownValueChars = 200;

// The rules as they stand now; a file that cannot be read is reported once
// and then reads as missing.
UpdateRules ReadRules(const std::filesystem::path& rulesFile, DecisionView& view) {
  UpdateRules rules = UpdateRules::Read(rulesFile);
  if (!rules.Problem().empty()) view.ShowError(RulesFileUnreadableText(rulesFile, rules.Problem()));
  return rules;
}

// The file the rules were read from, as the messages name it: the command
// line may name any file, the windows always read an update.ini.
std::string RulesName(const std::filesystem::path& rulesFile) {
  return rulesFile.empty() ? std::string(kRulesFileName) : PathText(rulesFile.filename());
}

}  // namespace

std::string RuleNamesNoImageText(std::string_view typeCode, std::string_view ruleValue,
                                 std::string_view rulesName) {
  std::string value(ruleValue.substr(0, kShownValueChars));
  if (ruleValue.size() > kShownValueChars) value += "...";
  return Utf8ToCp1251("Правило обновления ") + std::string(typeCode) + "=" + value +
         Utf8ToCp1251(" в файле ") + std::string(rulesName) +
         Utf8ToCp1251(" не указывает ни одной прошивки, имеющейся в программе");
}

std::string NoRuleForBootloaderText(std::string_view typeName, std::string_view rulesName) {
  return Utf8ToCp1251("В файле ") + std::string(rulesName) +
         Utf8ToCp1251(" нет правила обновления, применимого к устройству \"") + std::string(typeName) +
         Utf8ToCp1251("\" в режиме перепрошивки");
}

std::string RulesFileUnreadableText(const std::filesystem::path& rulesFile, const std::string& problem) {
  return Utf8ToCp1251("Не удалось прочитать файл правил обновления ") + PathText(rulesFile) + " (" + problem +
         Utf8ToCp1251("). Прошивка выбирается без правил обновления.");
}

DecisionOutcome DecideUpdate(DeviceIdentity& device, const FirmwareCatalogue& catalogue,
                             const std::filesystem::path& rulesFile, DecisionView& view) {
  // A bootloader device that did not name a known model: only the user can
  // tell what it is.
  if (device.InBootloader()) {
    const std::vector<std::string> names = DeviceTypeNames(catalogue);
    const int type = view.ChooseDeviceType(names);
    if (type < 0) return DecisionOutcome::DeviceTypeCancelled;
    const auto index = static_cast<std::size_t>(type);
    if (index < catalogue.DeviceTypes().size())
      device.ResolvedType = KnownTypeNumber(catalogue.DeviceTypes()[index].Version.TypeNumber);
    // The rules are looked up under the chosen type as such, as a device
    // whose bootloader named its model is: build 0 of that type.
    const FirmwareVersion version = ParseVersion(TypeBuildZeroText(catalogue, type));
    const std::string value = ReadRules(rulesFile, view).Value(version.TypeCode);
    const RuleChoice choice = EvaluateRules(catalogue, value, version);
    switch (choice.verdict) {
      case RuleVerdict::Chosen:
        view.OfferImage(choice.image);
        return DecisionOutcome::Offered;
      case RuleVerdict::NoImage:
      case RuleVerdict::Unreadable:
        view.ShowError(RuleNamesNoImageText(version.TypeCode, value, RulesName(rulesFile)));
        return DecisionOutcome::RuleNamesNoImage;
      case RuleVerdict::NotCovered:
        break;
    }
    // The user chose a type and waits for a reflash; silence would look as if
    // the choice had been lost. The device stays connected for another try.
    view.ShowInformation(
        NoRuleForBootloaderText(index < names.size() ? names[index] : std::string(), RulesName(rulesFile)));
    return DecisionOutcome::NoImageForType;
  }

  const std::string& versionLine = device.VersionLine;
  const FirmwareVersion& version = device.Version;
  bool notRelease = false;
  if (!IsVersionSupported(catalogue, version, notRelease)) {
    view.ReportUnsupported(UnsupportedVersionText(versionLine));
    return DecisionOutcome::Unsupported;
  }

  const std::string value = ReadRules(rulesFile, view).Value(version.TypeCode);
  if (value == kNoRule) {
    const int chosen =
        view.ChoosePreferredFirmware(versionLine, ListImagesForVersion(catalogue, version), notRelease);
    if (chosen == -1) return DecisionOutcome::FirmwareCancelled;
    view.OfferImage(chosen);
    return DecisionOutcome::Offered;
  }

  const RuleChoice choice = EvaluateRules(catalogue, value, version);
  switch (choice.verdict) {
    case RuleVerdict::Chosen:
      view.OfferImage(choice.image);
      return DecisionOutcome::Offered;
    case RuleVerdict::NotCovered:
      view.ShowInformation(NoUpdateNeededText());
      view.RequestDisconnect();
      return DecisionOutcome::NoUpdateNeeded;
    case RuleVerdict::NoImage:
    case RuleVerdict::Unreadable:
      break;
  }
  view.ShowError(RuleNamesNoImageText(version.TypeCode, value, RulesName(rulesFile)));
  view.RequestDisconnect();
  return DecisionOutcome::RuleNamesNoImage;
}

}  // namespace tarvik
