#include "device/decideupdate.h"

#include "common/text.h"
#include "firmware/rules.h"

namespace tarvik {

std::string NoUpdateNeededText() { return Utf8ToCp1251("Данное устройство не требует обновления прошивки"); }

std::string UnsupportedVersionText(const std::string& versionLine) {
  return Utf8ToCp1251("Версия ") + versionLine + Utf8ToCp1251(" не поддерживается");
}

DecisionOutcome DecideUpdate(const std::string& versionLine, const FirmwareCatalogue& catalogue,
                             const std::filesystem::path& rulesFile, DecisionView& view, TOutArray& queue,
                             UiObject* disconnectButton) {
  // A bootloader device that did not name a known model still carries its
  // banner; identification looks for "BootLdr" exactly, this test for any case.
  if (Contains(AsciiUpper(versionLine), "BOOTLDR")) {
    const int type = view.ChooseDeviceType(DeviceTypeNames(catalogue));
    if (type < 0) return DecisionOutcome::DeviceTypeCancelled;
    const int image = ChooseImageByRules(catalogue, rulesFile, TypeVersionText(catalogue, type));
    if (image < 0) return DecisionOutcome::NoImageForType;
    view.OfferImage(image);
    return DecisionOutcome::Offered;
  }

  bool notRelease = false;
  if (!IsVersionSupported(catalogue, versionLine, notRelease)) {
    queue.PushMessage(UnsupportedVersionText(versionLine));
    return DecisionOutcome::Unsupported;
  }

  if (!HasUpdateRule(rulesFile, versionLine)) {
    const int chosen =
        view.ChoosePreferredFirmware(versionLine, ListImagesForVersion(catalogue, versionLine), notRelease);
    if (chosen == -1) return DecisionOutcome::FirmwareCancelled;
    view.OfferImage(chosen);
    return DecisionOutcome::Offered;
  }

  const int image = ChooseImageByRules(catalogue, rulesFile, versionLine);
  if (image < 0) {
    view.ShowInformation(NoUpdateNeededText());
    queue.PushControl(disconnectButton, "CLICK");
    return DecisionOutcome::NoUpdateNeeded;
  }
  view.OfferImage(image);
  return DecisionOutcome::Offered;
}

}  // namespace tarvik
