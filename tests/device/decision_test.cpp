// From a simulated device to the update decision: identification on the
// main worker thread, the three UI steps, and every branch of the decision
// with stand-in dialogs.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

#include "common/text.h"
#include "device/decideupdate.h"
#include "device/mainthread.h"
#include "devicefixture.h"
#include "support/usertexts.h"

namespace tarvik {
namespace {

namespace text = test::text;

const FirmwareCatalogue& Catalogue() {
  static const FirmwareCatalogue catalogue = [] {
    FirmwareCatalogue c;
    c.LoadCatalogue();
    return c;
  }();
  return catalogue;
}

class FakeDecisionView : public DecisionView {
 public:
  int ChooseDeviceType(const std::vector<std::string>& names) override {
    typeNames = names;
    ++typeDialogs;
    return typeAnswer;
  }
  int ChoosePreferredFirmware(const std::string& versionLine, const std::vector<ImageChoice>& images,
                              bool notRelease) override {
    firmwareLine = versionLine;
    firmwareImages = images;
    firmwareNotRelease = notRelease;
    ++firmwareDialogs;
    return firmwareAnswer;
  }
  void ShowInformation(const std::string& text) override { information.push_back(text); }
  void ShowError(const std::string& text) override { errors.push_back(text); }
  void OfferImage(int imageIndex) override { offered = imageIndex; }
  // As the windows queue them: the message, then the disconnect click.
  void ReportUnsupported(const std::string& text) override { asked.push_back(text); }
  void RequestDisconnect() override { asked.push_back("CLICK"); }

  int typeAnswer = -1;
  int firmwareAnswer = -1;
  int typeDialogs = 0;
  int firmwareDialogs = 0;
  std::vector<std::string> typeNames;
  std::string firmwareLine;
  std::vector<ImageChoice> firmwareImages;
  bool firmwareNotRelease = true;
  std::vector<std::string> information;
  std::vector<std::string> errors;
  std::optional<int> offered;
  std::vector<std::string> asked;
};

// The disconnect clicks the windows would queue for what the controller told.
std::vector<std::string> DisconnectClicks(const test::RecordingEvents& events) {
  std::vector<std::string> clicks;
  for (const std::string& e : events.Events()) {
    if (e == "no answer" || e == "disconnect") clicks.push_back("Click");
  }
  return clicks;
}

struct Steps : MainThreadSteps {
  Steps(FakeDecisionView& v, std::filesystem::path r) : view(v), rules(std::move(r)) {}
  void PublishIdentity(TController& c) override { published.push_back(c.Identity.VersionLine); }
  void ResetFlashState() override { ++resets; }
  void DecideUpdate(TController& c) override {
    outcome = tarvik::DecideUpdate(c.Identity, Catalogue(), rules, view);
  }
  FakeDecisionView& view;
  std::filesystem::path rules;
  std::vector<std::string> published;
  int resets = 0;
  std::optional<DecisionOutcome> outcome;
};

// What stands where update.ini is looked for.
enum class RulesFileKind { Missing, Rule, Fifo, DevZero };

struct DecisionCase {
  const char* name;
  std::string version;  // "+v" answer, or the banner when bootloader
  bool bootloader = false;
  std::string unitName = "QTT1";
  RulesFileKind rulesFile = RulesFileKind::Missing;
  std::string ruleKey{};  // with Rule: the key and value of update.ini
  std::string rule{};
  int typeAnswer = -1;      // what the device-type dialog returns
  int firmwareAnswer = -1;  // what the preferred-firmware dialog returns
  DecisionOutcome outcome;
  std::optional<int> offered{};
  int typeDialogs = 0;
  int firmwareDialogs = 0;
  std::vector<std::string> queuedWords{};  // texts queued by the decision (messages, control words)
  std::vector<std::string> information{};  // information boxes shown
  std::vector<std::string> errors{};       // warning boxes shown
  friend void PrintTo(const DecisionCase& c, std::ostream* os) { *os << c.name; }
};

// Where a case keeps its update.ini.
std::filesystem::path RulesPathOf(const char* caseName) {
  return std::filesystem::temp_directory_path() /
         ("tarvik-decision-" + std::string(caseName) + "-" + std::to_string(::getpid())) / "update.ini";
}

class DecisionTest : public ::testing::TestWithParam<DecisionCase> {
 protected:
  void SetUp() override {
    dir_ = RulesPathOf(GetParam().name).parent_path();
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::filesystem::path dir_;
};

TEST_P(DecisionTest, RoadFromDeviceToDecision) {
  const DecisionCase& c = GetParam();
  const auto rules = dir_ / "update.ini";
  switch (c.rulesFile) {
    case RulesFileKind::Missing:
      break;
    case RulesFileKind::Rule:
      std::ofstream(rules, std::ios::binary) << "[UpdateRules]\r\n" << c.ruleKey << "=" << c.rule << "\r\n";
      break;
    case RulesFileKind::Fifo:
      ASSERT_EQ(::mkfifo(rules.c_str(), 0600), 0);
      break;
    case RulesFileKind::DevZero:
      std::filesystem::create_symlink("/dev/zero", rules);
      break;
  }

  test::DeviceFixture dev(test::DeviceAnswering(c.version, c.bootloader, c.unitName));
  FakeDecisionView view;
  view.typeAnswer = c.typeAnswer;
  view.firmwareAnswer = c.firmwareAnswer;
  Steps steps(view, rules);
  UiStepQueue ui;
  {
    TMainThread thread(dev.Controller(), ui, steps);
    thread.Resume();
    ui.WaitServicing([&] { return steps.outcome.has_value() || thread.Finished(); });
    // The thread idles after the decision: it is still running and sends
    // nothing more, over several of its idle looks at the stop request.
    EXPECT_FALSE(thread.Finished());
    const auto commands = dev.Sim().Report().commands.size();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(thread.Finished());
    EXPECT_EQ(dev.Sim().Report().commands.size(), commands);
    const auto stopAt = std::chrono::steady_clock::now();
    thread.Stop();
    thread.WaitFor();
    EXPECT_LT(std::chrono::steady_clock::now() - stopAt, std::chrono::milliseconds(200));
    EXPECT_EQ(dev.Sim().Report().commands.size(), commands);
  }
  ASSERT_TRUE(steps.outcome.has_value());
  EXPECT_EQ(*steps.outcome, c.outcome);
  EXPECT_EQ(steps.published.size(), 1u);
  EXPECT_EQ(steps.resets, 1);
  EXPECT_EQ(view.offered, c.offered);
  EXPECT_EQ(view.typeDialogs, c.typeDialogs);
  EXPECT_EQ(view.firmwareDialogs, c.firmwareDialogs);
  std::vector<std::string> words = DisconnectClicks(dev.Events());
  words.insert(words.end(), view.asked.begin(), view.asked.end());
  EXPECT_EQ(words, c.queuedWords);
  EXPECT_EQ(view.information, c.information);
  EXPECT_EQ(view.errors, c.errors);
  if (c.firmwareDialogs > 0) {
    EXPECT_EQ(view.firmwareLine, dev.Controller().Identity.VersionLine);
    EXPECT_FALSE(view.firmwareNotRelease);
    // A reed-switch door detector is offered its numeric image, then the two family images.
    const std::vector<ImageChoice> typeTwo = {
        {"VER 14.002.028", 1}, {"VER QTT1.001.001", 2}, {"VER QTT1.001.002", 3}};
    EXPECT_EQ(view.firmwareImages, typeTwo);
  }
  if (c.typeDialogs > 0) {
    EXPECT_EQ(view.typeNames.size(), 9u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Decisions, DecisionTest,
    ::testing::Values(
        // No rule: the user picks among the type's images.
        DecisionCase{.name = "no_rule_pick",
                     .version = "VER 14.002.020",
                     .firmwareAnswer = 3,
                     .outcome = DecisionOutcome::Offered,
                     .offered = 3,
                     .firmwareDialogs = 1},
        DecisionCase{.name = "no_rule_cancel",
                     .version = "VER 14.002.020",
                     .outcome = DecisionOutcome::FirmwareCancelled,
                     .firmwareDialogs = 1},
        // A rule for the type that maps build 20 to 28: image 2 (index 1).
        DecisionCase{.name = "rule_offers",
                     .version = "VER 14.002.020",
                     .rulesFile = RulesFileKind::Rule,
                     .ruleKey = "14.002.000",
                     .rule = "20->28",
                     .outcome = DecisionOutcome::Offered,
                     .offered = 1},
        // A rule that does not cover this build: told, then a queued disconnect.
        DecisionCase{.name = "rule_none",
                     .version = "VER 14.002.028",
                     .rulesFile = RulesFileKind::Rule,
                     .ruleKey = "14.002.000",
                     .rule = "20->28",
                     .outcome = DecisionOutcome::NoUpdateNeeded,
                     .queuedWords = {"CLICK"},
                     .information = {text::Cp(text::kNoUpdateNeeded)}},
        // A rule whose target the tool has no image of, or that cannot be
        // read, is no "no update needed": the user is told what is wrong.
        DecisionCase{.name = "rule_target_not_carried",
                     .version = "VER 14.002.020",
                     .rulesFile = RulesFileKind::Rule,
                     .ruleKey = "14.002.000",
                     .rule = "20->99",
                     .outcome = DecisionOutcome::RuleNamesNoImage,
                     .queuedWords = {"CLICK"},
                     .errors = {text::Cp(text::RuleNamesNoImage("14.002.000", "20->99"))}},
        DecisionCase{.name = "rule_unreadable",
                     .version = "VER 14.002.020",
                     .rulesFile = RulesFileKind::Rule,
                     .ruleKey = "14.002.000",
                     .rule = "20=>28",
                     .outcome = DecisionOutcome::RuleNamesNoImage,
                     .queuedWords = {"CLICK"},
                     .errors = {text::Cp(text::RuleNamesNoImage("14.002.000", "20=>28"))}},
        // A rules file that cannot be read is reported, then the user picks
        // as if there were none; reading it neither blocks nor eats memory.
        DecisionCase{.name = "rules_fifo",
                     .version = "VER 14.002.020",
                     .rulesFile = RulesFileKind::Fifo,
                     .firmwareAnswer = 1,
                     .outcome = DecisionOutcome::Offered,
                     .offered = 1,
                     .firmwareDialogs = 1,
                     .errors = {text::Cp(text::RulesFileUnreadable(RulesPathOf("rules_fifo").string(),
                                                                   "это именованный канал, а не файл"))}},
        DecisionCase{.name = "rules_dev_zero",
                     .version = "VER 14.002.020",
                     .rulesFile = RulesFileKind::DevZero,
                     .outcome = DecisionOutcome::FirmwareCancelled,
                     .firmwareDialogs = 1,
                     .errors = {text::Cp(text::RulesFileUnreadable(RulesPathOf("rules_dev_zero").string(),
                                                                   "это устройство, а не файл"))}},
        // The control panel is not in the catalogue: a queued message, the connection stays.
        DecisionCase{.name = "unsupported",
                     .version = "VER 14.010.003",
                     .outcome = DecisionOutcome::Unsupported,
                     .queuedWords = {text::Cp(text::UnsupportedVersion("VER 14.010.003"))}},
        // A bootloader device with an unknown model: the device-type dialog.
        DecisionCase{.name = "boot_unknown_cancel",
                     .version = test::kBootBanner,
                     .bootloader = true,
                     .unitName = "XYZ",
                     .outcome = DecisionOutcome::DeviceTypeCancelled,
                     .typeDialogs = 1},
        DecisionCase{.name = "boot_unknown_type_rule",
                     .version = test::kBootBanner,
                     .bootloader = true,
                     .unitName = "XYZ",
                     .rulesFile = RulesFileKind::Rule,
                     .ruleKey = "14.001.000",
                     .rule = "0..100->42",
                     .typeAnswer = 0,
                     .outcome = DecisionOutcome::Offered,
                     .offered = 0,
                     .typeDialogs = 1},
        // No rule covers the chosen type in its bootloader: told, and the
        // connection stays.
        DecisionCase{.name = "boot_unknown_type_no_rule",
                     .version = test::kBootBanner,
                     .bootloader = true,
                     .unitName = "XYZ",
                     .typeAnswer = 4,
                     .outcome = DecisionOutcome::NoImageForType,
                     .typeDialogs = 1,
                     .information = {Utf8ToCp1251("В файле update.ini нет правила обновления, применимого к "
                                                  "устройству \"QFQ Радиобрелок\" в режиме перепрошивки")}},
        DecisionCase{.name = "boot_unknown_type_rule_not_for_build0",
                     .version = test::kBootBanner,
                     .bootloader = true,
                     .unitName = "XYZ",
                     .rulesFile = RulesFileKind::Rule,
                     .ruleKey = "14.001.000",
                     .rule = "20->42",
                     .typeAnswer = 0,
                     .outcome = DecisionOutcome::NoImageForType,
                     .typeDialogs = 1,
                     .information = {Utf8ToCp1251("В файле update.ini нет правила обновления, применимого к "
                                                  "устройству \"QTN Радиоканальный приемник\" в режиме "
                                                  "перепрошивки")}},
        // The chosen type's rule names no image: told; the connection stays,
        // as it does for a bootloader device without a rule.
        DecisionCase{.name = "boot_unknown_type_rule_not_carried",
                     .version = test::kBootBanner,
                     .bootloader = true,
                     .unitName = "XYZ",
                     .rulesFile = RulesFileKind::Rule,
                     .ruleKey = "14.001.000",
                     .rule = "0..100->99",
                     .typeAnswer = 0,
                     .outcome = DecisionOutcome::RuleNamesNoImage,
                     .typeDialogs = 1,
                     .errors = {text::Cp(text::RuleNamesNoImage("14.001.000", "0..100->99"))}},
        // A bootloader device that named its model: straight to the rules with build 0.
        DecisionCase{.name = "boot_named_build0",
                     .version = test::kBootBanner,
                     .bootloader = true,
                     .rulesFile = RulesFileKind::Rule,
                     .ruleKey = "14.002.000",
                     .rule = "0->28",
                     .outcome = DecisionOutcome::Offered,
                     .offered = 1}),
    [](const ::testing::TestParamInfo<DecisionCase>& p) { return std::string(p.param.name); });

TEST(DecideUpdate, ViewWithoutAWarningBoxShowsTheFaultAsInformation) {
  struct InformationOnly : DecisionView {
    int ChooseDeviceType(const std::vector<std::string>&) override { return -1; }
    int ChoosePreferredFirmware(const std::string&, const std::vector<ImageChoice>&, bool) override {
      return -1;
    }
    void ShowInformation(const std::string& text) override { shown.push_back(text); }
    void OfferImage(int) override {}
    void ReportUnsupported(const std::string&) override {}
    void RequestDisconnect() override {}
    std::vector<std::string> shown;
  } view;
  const auto dir = RulesPathOf("information_only").parent_path();
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "update.ini", std::ios::binary) << "[UpdateRules]\r\n14.002.000=20->99\r\n";
  DeviceIdentity device = DeviceIdentity::FromVersionLine("VER 14.002.020");
  EXPECT_EQ(DecideUpdate(device, Catalogue(), dir / "update.ini", view), DecisionOutcome::RuleNamesNoImage);
  EXPECT_EQ(view.shown, std::vector<std::string>{text::Cp(text::RuleNamesNoImage("14.002.000", "20->99"))});
  std::filesystem::remove_all(dir);
}

// A bootloader device that did not name its model gets the image the rules
// give the type the user chooses, exactly as one whose bootloader named that
// type: for every type of the catalogue, those whose line names a firmware
// family among them.
TEST(DecideUpdate, TheTypeTheUserChoosesIsLookedUpInTheRules) {
  const FirmwareCatalogue& catalogue = Catalogue();
  const auto dir = RulesPathOf("chosen_type").parent_path();
  std::filesystem::create_directories(dir);
  const auto rules = dir / "update.ini";
  ASSERT_EQ(catalogue.DeviceTypes().size(), 9u);
  int typesWithRules = 0;
  for (int type = 0; type < static_cast<int>(catalogue.DeviceTypes().size()); ++type) {
    const std::string line = TypeBuildZeroText(catalogue, type);
    SCOPED_TRACE(line);
    const FirmwareVersion version = ParseVersion(line);
    ASSERT_FALSE(version.TypeCode.empty());
    // Build 0 to the type's first numeric image, where it has one.
    std::optional<int> target;
    for (const FirmwareVersion& image : catalogue.FirmwareImages()) {
      if (image.TypeCode == version.TypeCode && image.Build > 0) {
        target = image.Build;
        break;
      }
    }
    if (!target) continue;  // a type with family images only
    ++typesWithRules;
    std::ofstream(rules, std::ios::binary | std::ios::trunc)
        << "[UpdateRules]\r\n"
        << version.TypeCode << "=0->" << *target << "\r\n";

    FakeDecisionView named;
    DeviceIdentity modelNamed = DeviceIdentity::FromVersionLine(line);
    modelNamed.AnsweredFromBootloader = true;
    modelNamed.ModelNamed = true;
    ASSERT_EQ(DecideUpdate(modelNamed, catalogue, rules, named), DecisionOutcome::Offered);

    FakeDecisionView chosen;
    chosen.typeAnswer = type;
    DeviceIdentity banner = DeviceIdentity::FromVersionLine(test::kBootBanner + "\r\nOK");
    EXPECT_EQ(DecideUpdate(banner, catalogue, rules, chosen), DecisionOutcome::Offered);
    EXPECT_EQ(chosen.offered, named.offered);
    EXPECT_TRUE(chosen.errors.empty());
    EXPECT_TRUE(chosen.information.empty());
  }
  EXPECT_EQ(typesWithRules, 8);
  std::filesystem::remove_all(dir);
}

// The type the user chooses for a device in its bootloader is the device's
// type from then on, whether an image follows or not; a cancelled choice
// leaves it unknown. It stays in its bootloader, so it is flashed through
// it whatever the type.
TEST(DecideUpdate, TheChosenTypeIsTheDevicesType) {
  const std::int32_t expected[] = {1, 2, 12, 3, 4, 5, 7, 8, 9};
  ASSERT_EQ(Catalogue().DeviceTypes().size(), std::size(expected));
  for (int index = -1; index < static_cast<int>(std::size(expected)); ++index) {
    SCOPED_TRACE(index);
    FakeDecisionView view;
    view.typeAnswer = index;
    DeviceIdentity device = DeviceIdentity::FromVersionLine(test::kBootBanner + "\r\nOK");
    DecideUpdate(device, Catalogue(), "/nonexistent/update.ini", view);
    EXPECT_EQ(device.ResolvedType, index < 0 ? 0 : expected[index]);
    EXPECT_EQ(device.Procedure(), FlashProcedure::Bootloader);
  }
}

TEST(DecideUpdate, LongRuleValueIsCutInTheMessage) {
  EXPECT_EQ(RuleNamesNoImageText("14.002.000", std::string(100000, '1') + "->99"),
            text::Cp(text::RuleNamesNoImage("14.002.000", std::string(200, '1') + "...")));
}

TEST(MainThread, FailedIdentificationQueuesADisconnectAndEnds) {
  sim::SimOptions o = test::Unpaced({});
  o.version = "garbage";
  test::DeviceFixture dev(o);
  FakeDecisionView view;
  Steps steps(view, "/nonexistent/update.ini");
  UiStepQueue ui;
  TMainThread thread(dev.Controller(), ui, steps);
  thread.Resume();
  thread.WaitFor();
  EXPECT_TRUE(thread.Finished());
  EXPECT_TRUE(steps.published.empty());
  EXPECT_EQ(steps.resets, 1);
  EXPECT_FALSE(steps.outcome.has_value());
  EXPECT_EQ(DisconnectClicks(dev.Events()), std::vector<std::string>{"Click"});
}

TEST(MainThread, NothingRunsBeforeResumeAndDestructionWithoutResumeIsSafe) {
  test::DeviceFixture dev(test::Unpaced({}));
  FakeDecisionView view;
  Steps steps(view, "/nonexistent/update.ini");
  UiStepQueue ui;
  { TMainThread thread(dev.Controller(), ui, steps); }
  EXPECT_TRUE(dev.Sim().Report().commands.empty());
}

TEST(MainThread, StopDuringIdentificationSkipsTheUiSteps) {
  sim::SimOptions o = test::Unpaced({});
  o.faults.push_back({sim::FaultKind::Slow, "v", 0, 200});
  test::DeviceFixture dev(o);
  FakeDecisionView view;
  Steps steps(view, "/nonexistent/update.ini");
  UiStepQueue ui;
  TMainThread thread(dev.Controller(), ui, steps);
  thread.Resume();
  thread.Stop();
  thread.WaitFor();
  EXPECT_TRUE(steps.published.empty());
  EXPECT_EQ(steps.resets, 0);
  EXPECT_FALSE(steps.outcome.has_value());
  EXPECT_TRUE(DisconnectClicks(dev.Events()).empty());
}

}  // namespace
}  // namespace tarvik
