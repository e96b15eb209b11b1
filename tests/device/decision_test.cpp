// From a simulated device to the update decision: identification on the
// main worker thread, the three UI steps, and every branch of the decision
// with stand-in dialogs.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

#include "common/text.h"
#include "device/decideupdate.h"
#include "device/mainthread.h"
#include "devicefixture.h"

namespace tarvik {
namespace {

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
  void OfferImage(int imageIndex) override { offered = imageIndex; }

  int typeAnswer = -1;
  int firmwareAnswer = -1;
  int typeDialogs = 0;
  int firmwareDialogs = 0;
  std::vector<std::string> typeNames;
  std::string firmwareLine;
  std::vector<ImageChoice> firmwareImages;
  bool firmwareNotRelease = true;
  std::vector<std::string> information;
  std::optional<int> offered;
};

struct Steps : MainThreadSteps {
  Steps(FakeDecisionView& v, TOutArray& q, std::filesystem::path r)
      : view(v), queue(q), rules(std::move(r)) {}
  void PublishIdentity(TController& c) override { published.push_back(c.VersionLine); }
  void ResetFlashState() override { ++resets; }
  void DecideUpdate(TController& c) override {
    outcome = tarvik::DecideUpdate(c.VersionLine, Catalogue(), rules, view, queue, test::FakeHandle(1));
  }
  FakeDecisionView& view;
  TOutArray& queue;
  std::filesystem::path rules;
  std::vector<std::string> published;
  int resets = 0;
  std::optional<DecisionOutcome> outcome;
};

struct DecisionCase {
  const char* name;
  std::string version;  // "+v" answer, or the banner when bootloader
  bool bootloader;
  std::string unitName;
  std::string rule;  // the rule for the type's key; empty: no update.ini
  std::string ruleKey;
  int typeAnswer;      // what the device-type dialog returns
  int firmwareAnswer;  // what the preferred-firmware dialog returns
  DecisionOutcome outcome;
  std::optional<int> offered;
  int typeDialogs;
  int firmwareDialogs;
  std::vector<std::string> queuedWords;  // texts queued by the decision (messages, control words)
};

class DecisionTest : public ::testing::TestWithParam<DecisionCase> {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("tarvik-decision-" + std::string(GetParam().name) + "-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::filesystem::path dir_;
};

TEST_P(DecisionTest, RoadFromDeviceToDecision) {
  const DecisionCase& c = GetParam();
  const auto rules = dir_ / "update.ini";
  if (!c.rule.empty())
    std::ofstream(rules, std::ios::binary) << "[UpdateRules]\r\n" << c.ruleKey << "=" << c.rule << "\r\n";

  test::DeviceFixture dev(test::DeviceAnswering(c.version, c.bootloader, c.unitName));
  FakeDecisionView view;
  view.typeAnswer = c.typeAnswer;
  view.firmwareAnswer = c.firmwareAnswer;
  Steps steps(view, dev.Queue(), rules);
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
  std::vector<std::string> words;
  TOutElement* e = nullptr;
  while (dev.Queue().Pop(e) != kOutNone) {
    if (e->Kind == kOutMessage) words.push_back(static_cast<TMsgOut*>(e)->Text);
    if (e->Kind == kOutControl) words.push_back(static_cast<TControlOut*>(e)->Text);
  }
  EXPECT_EQ(words, c.queuedWords);
  if (c.outcome == DecisionOutcome::NoUpdateNeeded) {
    EXPECT_EQ(view.information, std::vector<std::string>{NoUpdateNeededText()});
  }
  if (c.firmwareDialogs > 0) {
    EXPECT_EQ(view.firmwareLine, dev.Controller().VersionLine);
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

const std::string kBanner = "BootLdr v1.0";

INSTANTIATE_TEST_SUITE_P(
    Decisions, DecisionTest,
    ::testing::Values(
        // No rule: the user picks among the type's images.
        DecisionCase{"no_rule_pick",
                     "VER 14.002.020",
                     false,
                     "",
                     "",
                     "",
                     -1,
                     3,
                     DecisionOutcome::Offered,
                     3,
                     0,
                     1,
                     {}},
        DecisionCase{"no_rule_cancel",
                     "VER 14.002.020",
                     false,
                     "",
                     "",
                     "",
                     -1,
                     -1,
                     DecisionOutcome::FirmwareCancelled,
                     std::nullopt,
                     0,
                     1,
                     {}},
        // A rule for the type that maps build 20 to 28: image 2 (index 1).
        DecisionCase{"rule_offers",
                     "VER 14.002.020",
                     false,
                     "",
                     "20->28",
                     "14.002.000",
                     -1,
                     -1,
                     DecisionOutcome::Offered,
                     1,
                     0,
                     0,
                     {}},
        // A rule that does not cover this build: told, then a queued disconnect.
        DecisionCase{"rule_none",
                     "VER 14.002.028",
                     false,
                     "",
                     "20->28",
                     "14.002.000",
                     -1,
                     -1,
                     DecisionOutcome::NoUpdateNeeded,
                     std::nullopt,
                     0,
                     0,
                     {"CLICK"}},
        // The control panel is not in the catalogue: a queued message, the connection stays.
        DecisionCase{"unsupported",
                     "VER 14.010.003",
                     false,
                     "",
                     "",
                     "",
                     -1,
                     -1,
                     DecisionOutcome::Unsupported,
                     std::nullopt,
                     0,
                     0,
                     {UnsupportedVersionText("VER 14.010.003")}},
        // A bootloader device with an unknown model: the device-type dialog.
        DecisionCase{"boot_unknown_cancel",
                     kBanner,
                     true,
                     "XYZ",
                     "",
                     "",
                     -1,
                     -1,
                     DecisionOutcome::DeviceTypeCancelled,
                     std::nullopt,
                     1,
                     0,
                     {}},
        DecisionCase{"boot_unknown_type_rule",
                     kBanner,
                     true,
                     "XYZ",
                     "0..100->42",
                     "14.001.000",
                     0,
                     -1,
                     DecisionOutcome::Offered,
                     0,
                     1,
                     0,
                     {}},
        DecisionCase{"boot_unknown_type_no_rule",
                     kBanner,
                     true,
                     "XYZ",
                     "",
                     "",
                     4,
                     -1,
                     DecisionOutcome::NoImageForType,
                     std::nullopt,
                     1,
                     0,
                     {}},
        // A bootloader device that named its model: straight to the rules with build 0.
        DecisionCase{"boot_named_build0",
                     kBanner,
                     true,
                     "QTT1",
                     "0->28",
                     "14.002.000",
                     -1,
                     -1,
                     DecisionOutcome::Offered,
                     1,
                     0,
                     0,
                     {}}),
    [](const ::testing::TestParamInfo<DecisionCase>& p) { return std::string(p.param.name); });

TEST(MainThread, FailedIdentificationQueuesADisconnectAndEnds) {
  sim::SimOptions o = test::Unpaced({});
  o.version = "garbage";
  test::DeviceFixture dev(o);
  FakeDecisionView view;
  Steps steps(view, dev.Queue(), "/nonexistent/update.ini");
  UiStepQueue ui;
  TMainThread thread(dev.Controller(), ui, steps);
  thread.Resume();
  thread.WaitFor();
  EXPECT_TRUE(thread.Finished());
  EXPECT_TRUE(steps.published.empty());
  EXPECT_EQ(steps.resets, 1);
  EXPECT_FALSE(steps.outcome.has_value());
  std::vector<std::string> words;
  TOutElement* e = nullptr;
  while (dev.Queue().Pop(e) != kOutNone) {
    if (e->Kind == kOutControl) words.push_back(static_cast<TControlOut*>(e)->Text);
  }
  EXPECT_EQ(words, std::vector<std::string>{"Click"});
}

TEST(MainThread, NothingRunsBeforeResumeAndDestructionWithoutResumeIsSafe) {
  test::DeviceFixture dev(test::Unpaced({}));
  FakeDecisionView view;
  Steps steps(view, dev.Queue(), "/nonexistent/update.ini");
  UiStepQueue ui;
  { TMainThread thread(dev.Controller(), ui, steps); }
  EXPECT_TRUE(dev.Sim().Report().commands.empty());
}

TEST(MainThread, StopDuringIdentificationSkipsTheUiSteps) {
  sim::SimOptions o = test::Unpaced({});
  o.faults.push_back({sim::FaultKind::Slow, "v", 0, 200});
  test::DeviceFixture dev(o);
  FakeDecisionView view;
  Steps steps(view, dev.Queue(), "/nonexistent/update.ini");
  UiStepQueue ui;
  TMainThread thread(dev.Controller(), ui, steps);
  thread.Resume();
  thread.Stop();
  thread.WaitFor();
  EXPECT_TRUE(steps.published.empty());
  EXPECT_EQ(steps.resets, 0);
  EXPECT_FALSE(steps.outcome.has_value());
  TOutElement* e = nullptr;
  while (dev.Queue().Pop(e) != kOutNone) EXPECT_NE(e->Kind, kOutControl);
}

}  // namespace
}  // namespace tarvik
