#pragma once
// The update decision: from the identified device, the catalogue and the
// update rules, whether new firmware is due and which image, asking the user
// where the rules are silent. It runs on the UI thread; what it shows and
// asks for goes through DecisionView, so every branch can be exercised
// without windows and each front end answers in its own way. A rules file that cannot be read is reported
// and then treated as missing: the user still picks the firmware, knowing
// the rules were not applied.
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "device/deviceidentity.h"
#include "firmware/catalogue.h"
#include "firmware/selection.h"

namespace tarvik {

// What the decision asks and shows the user: the windows' modal dialogs.
class DecisionDialogs {
 public:
  virtual ~DecisionDialogs() = default;
  // The device-type dialog over the display names: the confirmed index, or
  // -1 when cancelled or confirmed without a selection.
  virtual int ChooseDeviceType(const std::vector<std::string>& names) = 0;
  // The preferred-firmware dialog: the confirmed image index, or -1 when
  // cancelled or confirmed without a selection.
  virtual int ChoosePreferredFirmware(const std::string& versionLine, const std::vector<ImageChoice>& images,
                                      bool notRelease) = 0;
  // A modal information box with an OK button.
  virtual void ShowInformation(const std::string& text) = 0;
  // A modal warning box with an OK button: the settings the decision rests
  // on are at fault. Until a view shows a warning of its own the text goes
  // to the information box, so it is never lost.
  virtual void ShowError(const std::string& text) { ShowInformation(text); }
  // SelectImage with the index, then the reflash window shown (not modal).
  virtual void OfferImage(int imageIndex) = 0;
};

// The dialogs, and what the decision asks of the connection.
class DecisionView : public DecisionDialogs {
 public:
  // The device's version is not one the tool carries firmware for
  // (UnsupportedVersionText); the connection stays.
  virtual void ReportUnsupported(const std::string& text) = 0;
  // The connection is of no further use: ended as the disconnect button
  // ends it.
  virtual void RequestDisconnect() = 0;
};

enum class DecisionOutcome {
  DeviceTypeCancelled,  // bootloader device, no type chosen
  NoImageForType,       // bootloader device, no rule covers the chosen type: told
  Unsupported,          // the "не поддерживается" message reported
  FirmwareCancelled,    // no rule, the preferred-firmware dialog gave no image
  NoUpdateNeeded,       // a rule exists and does not cover the build: told, then disconnect asked
  RuleNamesNoImage,     // the rule for the type names no image the tool carries, or cannot be read: told
                        // (then disconnect asked, unless the device sits in its bootloader)
  Offered,              // the reflash window shows an image
};

// "Данное устройство не требует обновления прошивки"
std::string NoUpdateNeededText();
// "Версия " + line + " не поддерживается"
std::string UnsupportedVersionText(const std::string& versionLine);
// The name of the rules file the windows read.
inline constexpr std::string_view kRulesFileName = "update.ini";
// The rule key=value of the rules file (its name, Windows-1251) names no
// image the tool carries; a long value is cut.
std::string RuleNamesNoImageText(std::string_view typeCode, std::string_view ruleValue,
                                 std::string_view rulesName = kRulesFileName);
// No rule of the rules file covers a device of the chosen type (its display
// name) that sits in its bootloader.
std::string NoRuleForBootloaderText(std::string_view typeName, std::string_view rulesName = kRulesFileName);
// The rules file could not be read (why: FileReadProblem), so the firmware is
// chosen as if it were not there.
std::string RulesFileUnreadableText(const std::filesystem::path& rulesFile, const std::string& problem);

// A device in its bootloader takes the type the user chooses as its
// ResolvedType, also when no image follows.
DecisionOutcome DecideUpdate(DeviceIdentity& device, const FirmwareCatalogue& catalogue,
                             const std::filesystem::path& rulesFile, DecisionView& view);

}  // namespace tarvik
