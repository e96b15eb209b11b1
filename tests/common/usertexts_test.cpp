// Each text function of the core against the text the user must read,
// spelled out in support/usertexts.h: a misspelt text fails here once,
// whichever test would only have compared it with itself.
#include "support/usertexts.h"

#include <gtest/gtest.h>

#include <string>

#include "common/text.h"
#include "device/connection.h"
#include "device/decideupdate.h"
#include "device/mainthread.h"
#include "firmware/selection.h"
#include "hexview/hexfile.h"
#include "reflash/servicereflash.h"
#include "reflash/updatethread.h"

namespace tarvik {
namespace {

TEST(UserTexts, EachReadsAsTheUserMustReadIt) {
  struct Case {
    const char* function;
    std::string shown;  // Windows-1251, as the core makes it
    std::string text;   // UTF-8
  };
  namespace text = test::text;
  const Case cases[] = {
      {"StageSwitchingText", StageSwitchingText(), std::string(text::kStageSwitching)},
      {"StageErasingText", StageErasingText(), std::string(text::kStageErasing)},
      {"StageLoadingText", StageLoadingText(), std::string(text::kStageLoading)},
      {"StageReflashingText", StageReflashingText(), std::string(text::kStageReflashing)},
      {"ReflashSucceededText", ReflashSucceededText(), std::string(text::kReflashSucceeded)},
      {"ReflashFailedText", ReflashFailedText(), std::string(text::kReflashFailed)},
      {"OfferedVersionLabelText", OfferedVersionLabelText(), std::string(text::kOfferedVersionLabel)},
      {"ElapsedLabelText", ElapsedLabelText(), std::string(text::kElapsedLabel)},
      {"RemainingLabelText", RemainingLabelText(), std::string(text::kRemainingLabel)},
      {"CurrentVersionLabelText", CurrentVersionLabelText(), std::string(text::kCurrentVersionLabel)},
      {"EraseFailedText", EraseFailedText(), std::string(text::kEraseFailed)},
      {"WriteFailedText", WriteFailedText(), std::string(text::kWriteFailed)},
      {"LinkLostText", LinkLostText(), std::string(text::kLinkLost)},
      {"ClosingText", ClosingText(), std::string(text::kClosing)},
      {"NoAnswerText", NoAnswerText(), std::string(text::kNoAnswer)},
      {"NoUpdateNeededText", NoUpdateNeededText(), std::string(text::kNoUpdateNeeded)},
      {"OpenPortErrorText", OpenPortErrorText("Cannot open device ttyS9"),
       text::OpenPortError("Cannot open device ttyS9")},
      {"OpenPortErrorText, busy", OpenPortErrorText("Cannot open device ttyS9: busy", TOpenFailure::Busy),
       text::OpenPortError("Cannot open device ttyS9: busy")},
      {"OpenPortErrorText, no permission",
       OpenPortErrorText("Cannot open device ttyS9: no", TOpenFailure::NoPermission),
       text::OpenPortError("Cannot open device ttyS9: no") + std::string(text::kDialoutHint)},
      {"OpenPortErrorText of what the port threw",
       OpenPortErrorText(
           EDeviceError("Cannot open device ttyS9: no", ecCannotOpen, TOpenFailure::NoPermission)),
       text::OpenPortError("Cannot open device ttyS9: no") + std::string(text::kDialoutHint)},
      {"UnsupportedVersionText", UnsupportedVersionText("VER 14.010.003"),
       text::UnsupportedVersion("VER 14.010.003")},
      {"RuleNamesNoImageText", RuleNamesNoImageText("14.002.000", "20->99"),
       text::RuleNamesNoImage("14.002.000", "20->99")},
      {"RulesFileUnreadableText",
       RulesFileUnreadableText("/etc/update.ini", Utf8ToCp1251("это папка, а не файл")),
       text::RulesFileUnreadable("/etc/update.ini", "это папка, а не файл")},
      {"HexFileNotFoundText", HexFileNotFoundText(), std::string(text::kHexFileNotFound)},
      {"HexFileTooLargeText", HexFileTooLargeText(67108865), text::HexFileTooLarge("67108865")},
      {"BytesLeftOutText", BytesLeftOutText(6), text::BytesLeftOut("6")},
      {"BytesAfterEndText", BytesAfterEndText(21), text::BytesAfterEnd("21")},
  };
  for (const Case& c : cases) EXPECT_EQ(Cp1251ToUtf8(c.shown), c.text) << c.function;
}

}  // namespace
}  // namespace tarvik
