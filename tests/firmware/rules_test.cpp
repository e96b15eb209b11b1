#include "firmware/rules.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "common/text.h"
#include "shippedcatalogue.h"
#include "support/tempdir.h"

namespace tarvik {
namespace {

using test::ShippedCatalogue;

class RulesFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = temp_.Path();
    path_ = UpdateRulesPath(dir_);
  }

  void Write(const std::string& text) {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out << text;
  }
  void WriteRule(const std::string& key, const std::string& value) {
    Write("[UpdateRules]\r\n" + key + "=" + value + "\r\n");
  }

  test::TempDir temp_{"tarvik-rules"};
  std::filesystem::path dir_;
  std::filesystem::path path_;
};

TEST_F(RulesFile, LivesInTheProgramDirectory) { EXPECT_EQ(path_, dir_ / "update.ini"); }

struct RuleCase {
  const char* value;    // under the key of the version's type code
  const char* version;  // the device's version line
  bool hasRule;
  int image;  // 0-based index, -1 for none
  RuleVerdict verdict;
};

constexpr RuleVerdict kChosen = RuleVerdict::Chosen;
constexpr RuleVerdict kNotCovered = RuleVerdict::NotCovered;
// The rule that covers the build names a build the tool has no image of.
constexpr RuleVerdict kNoImage = RuleVerdict::NoImage;
// Nothing chosen, and the value breaks the grammar somewhere (or is empty).
constexpr RuleVerdict kUnreadable = RuleVerdict::Unreadable;

// 63 ranges of the negative builds, then the others: 137 billion builds.
const std::string kManyRangesText = [] {
  std::string value;
  for (int i = 0; i < 63; ++i) value += "-2147483648..-1,";
  return value + "0..2147483647->37";
}();
const char* const kManyRanges = kManyRangesText.c_str();

// Image indexes of the shipped catalogue used below: 5 = 14.003.037, 6 = 14.003.039,
// 1 = 14.002.028, 2 and 3 = the two QTT1 family images of type 2.
const RuleCase kRuleCases[] = {
    {"0..36,38->39", "VER 14.003.020", true, 6, kChosen},
    {"0..36,38->39", "VER 14.003.038", true, 6, kChosen},
    {"0..36,38->39", "VER 14.003.036", true, 6, kChosen},
    {"0..36,38->39", "VER 14.003.037", true, -1, kNotCovered},
    {"0..36->37;38->39", "VER 14.003.038", true, 6, kChosen},
    {"0..36->37;38->39", "VER 14.003.000", true, 5, kChosen},
    // The build already being the target does not matter.
    {"0..39->39", "VER 14.003.039", true, 6, kChosen},
    // Blanks and tabs anywhere, one trailing ";".
    {" 0 .. 36 ,\t38 - > 39 ; ", "VER 14.003.038", true, 6, kChosen},
    {" 0 .. 36 ,\t38 -> 3 9 ; ", "VER 14.003.038", true, 6, kChosen},
    {"\t0..36->37 ;\t", "VER 14.003.010", true, 5, kChosen},
    // Empty rules never apply; the next one is tried.
    {";;0..36->37", "VER 14.003.005", true, 5, kChosen},
    {"0..36->37;;", "VER 14.003.005", true, 5, kChosen},
    {";", "VER 14.003.005", true, -1, kUnreadable},
    // A reversed range stands for nothing; a rule of reversed ranges only fails.
    {"36..0->37", "VER 14.003.005", true, -1, kNotCovered},
    {"36..0->37", "VER 14.003.000", true, -1, kNotCovered},
    {"36..0,5->37", "VER 14.003.005", true, 5, kChosen},
    {"5..5->37", "VER 14.003.005", true, 5, kChosen},
    // Target 0, or a target that is no number, makes the rule inapplicable.
    {"0..36->0;0..36->37", "VER 14.003.005", true, 5, kChosen},
    {"0..36->x", "VER 14.003.005", true, -1, kUnreadable},
    {"0..36->37->39", "VER 14.003.005", true, -1, kUnreadable},
    {"0..36->", "VER 14.003.005", true, -1, kUnreadable},
    // A target without an image of the type fails, and the next rule is tried.
    {"0..36->38;0..36->39", "VER 14.003.005", true, 6, kChosen},
    {"0..36->28", "VER 14.003.005", true, -1, kNoImage},
    {"20->99", "VER 14.002.020", true, -1, kNoImage},
    {"0..36->28;x", "VER 14.003.005", true, -1, kNoImage},
    {"36..0->28", "VER 14.003.005", true, -1, kNotCovered},
    // A rule outside the grammar may have been meant for the build.
    {"0..36->37;38-39", "VER 14.003.038", true, -1, kUnreadable},
    // Negative builds: "VER 14.003." has an unreadable, -1, build.
    {"-5..-1->39", "VER 14.003.", true, 6, kChosen},
    {"-1->39", "VER 14.003.", true, 6, kChosen},
    {"-5..-2->39", "VER 14.003.", true, -1, kNotCovered},
    // Builds that are no integers count as 0, an empty item too.
    {"abc->39", "VER 14.003.000", true, 6, kChosen},
    {"abc->39", "VER 14.003.001", true, -1, kUnreadable},
    {"x..3->39", "VER 14.003.002", true, 6, kChosen},
    {"1..x->39", "VER 14.003.000", true, -1, kUnreadable},
    {"->39", "VER 14.003.000", true, 6, kChosen},
    {"5,->39", "VER 14.003.000", true, 6, kChosen},
    {"5=39", "VER 14.003.005", true, -1, kUnreadable},
    // Numbers beyond 32 bits are no integers.
    {"0..99999999999->39", "VER 14.003.000", true, 6, kChosen},
    {"0..99999999999->39", "VER 14.003.005", true, -1, kUnreadable},
    {"99999999999->39", "VER 14.003.000", true, 6, kChosen},
    {"0..36->4294967335", "VER 14.003.005", true, -1, kUnreadable},
    // A range of two billion builds is tested, never expanded.
    {"0..2000000000->39", "VER 14.003.038", true, 6, kChosen},
    {"-2147483648..2147483647->37", "VER 14.003.999", true, 5, kChosen},
    // 64 ranges, 137 billion builds: expanded, minutes on any machine.
    {kManyRanges, "VER 14.003.999", true, 5, kChosen},
    // NORULE written out is no rule; in any other spelling, or empty, it is a rule that yields nothing.
    {"NORULE", "VER 14.003.005", false, -1, kNotCovered},
    {"norule", "VER 14.003.005", true, -1, kUnreadable},
    {"", "VER 14.003.005", true, -1, kUnreadable},
    // Family images have build -1 and are reached by the target -1; of two equal ones the later wins.
    {"20->-1", "VER 14.002.020", true, 3, kChosen},
    {"20->28", "VER 14.002.020", true, 1, kChosen},
    // A device found in its bootloader stands as build 0 of its type.
    {"0->37", "VER 14.003.000", true, 5, kChosen},
};

// How long one case may take at most: a guard against a range expanded
// build by build (which takes minutes with kManyRanges), not against a slow
// machine, where a case takes microseconds.
constexpr auto kNeverExpanded = std::chrono::seconds(20);

TEST_F(RulesFile, Grammar) {
  for (const RuleCase& c : kRuleCases) {
    SCOPED_TRACE(std::string("value '") + c.value + "', version " + c.version);
    WriteRule(ParseVersion(c.version).TypeCode, c.value);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(HasUpdateRule(path_, c.version), c.hasRule);
    EXPECT_EQ(ChooseImageByRules(ShippedCatalogue(), path_, c.version), c.image);
    const FirmwareVersion version = ParseVersion(c.version);
    EXPECT_EQ(EvaluateRules(ShippedCatalogue(), ReadUpdateRule(path_, version.TypeCode), version),
              (RuleChoice{c.verdict, c.image}));
    EXPECT_LT(std::chrono::steady_clock::now() - start, kNeverExpanded);
  }
}

TEST_F(RulesFile, OtherTypesAndFamilyVersionsHaveNoRule) {
  WriteRule("14.003.000", "0..36->37");
  for (const char* version :
       {"VER 14.002.020", "VER 14.001.000", "VER QLT1.001.001", "QLT1.001.001", "garbage"}) {
    SCOPED_TRACE(version);
    EXPECT_FALSE(HasUpdateRule(path_, version));
    EXPECT_EQ(ChooseImageByRules(ShippedCatalogue(), path_, version), -1);
  }
}

TEST_F(RulesFile, NoFileMeansNoRules) {
  ASSERT_FALSE(std::filesystem::exists(path_));
  for (const char* version : {"VER 14.003.020", "VER 14.002.000", "VER 14.010.001", "QTT1.001.001"}) {
    EXPECT_FALSE(HasUpdateRule(path_, version)) << version;
    EXPECT_EQ(ChooseImageByRules(ShippedCatalogue(), path_, version), -1) << version;
  }
}

#ifndef _WIN32
TEST_F(RulesFile, FileThatCannotBeReadGivesNoRulesAndSaysWhy) {
  // A FIFO would block the reader until someone writes; /dev/zero never ends.
  ASSERT_EQ(::mkfifo(path_.c_str(), 0600), 0);
  EXPECT_EQ(UpdateRules::Read(path_).Problem(), Utf8ToCp1251("это именованный канал, а не файл"));
  EXPECT_FALSE(HasUpdateRule(path_, "VER 14.003.001"));
  std::filesystem::remove(path_);
  std::filesystem::create_symlink("/dev/zero", path_);
  EXPECT_EQ(UpdateRules::Read(path_).Value("14.003.000"), kNoRule);
  EXPECT_EQ(ChooseImageByRules(ShippedCatalogue(), path_, "VER 14.003.001"), -1);
  std::filesystem::remove(path_);
  EXPECT_EQ(UpdateRules::Read(path_).Problem(), "") << "a missing file is no fault";
}
#endif

// A file that holds something but no rules section gives no rules and says
// so, rather than passing for a file whose rules cover nothing.
TEST_F(RulesFile, AFileWithoutTheRulesSectionSaysSo) {
  const std::string noSection = Utf8ToCp1251("в нём нет раздела [UpdateRules]");
  const struct {
    const char* name;
    std::string text;
    std::string problem;
  } cases[] = {
      {"garbage", std::string("\x89PNG\r\n\x1a\n\0\0binary", 16), noSection},
      {"another program's file", "[Settings]\r\nColour=red\r\n", noSection},
      {"a rule without its section", "14.002.000=20->28\r\n", noSection},
      {"empty", "", ""},
      {"blank lines", "\r\n  \r\n", ""},
      {"the section, empty", "[UpdateRules]\r\n", ""},
      {"the section in other letters", "[updaterules]\r\n14.002.000=20->28\r\n", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Write(c.text);
    EXPECT_EQ(UpdateRules::Read(path_).Problem(), c.problem);
  }
}

TEST_F(RulesFile, SectionAndKeyMatchWithoutRegardToCase) {
  Write("[updaterules]\r\n14.003.000 = 0..36->37\r\n");
  EXPECT_TRUE(HasUpdateRule(path_, "VER 14.003.001"));
  EXPECT_EQ(ChooseImageByRules(ShippedCatalogue(), path_, "VER 14.003.001"), 5);
  Write("[Other]\r\n14.003.000=0..36->37\r\n");
  EXPECT_FALSE(HasUpdateRule(path_, "VER 14.003.001"));
}

TEST_F(RulesFile, IsReadAnewForEveryQuestion) {
  WriteRule("14.003.000", "0..36->37");
  EXPECT_EQ(ChooseImageByRules(ShippedCatalogue(), path_, "VER 14.003.001"), 5);
  WriteRule("14.003.000", "0..36->39");
  EXPECT_EQ(ChooseImageByRules(ShippedCatalogue(), path_, "VER 14.003.001"), 6);
  std::filesystem::remove(path_);
  EXPECT_EQ(ChooseImageByRules(ShippedCatalogue(), path_, "VER 14.003.001"), -1);
  EXPECT_FALSE(HasUpdateRule(path_, "VER 14.003.001"));
}

TEST(SplitRules, Table) {
  const struct {
    const char* value;
    std::vector<std::string> rules;
  } cases[] = {
      {"", {}},
      {" \t\r\n", {}},
      {"a", {"a"}},
      {" a ; b ;", {"a", "b"}},
      {"a;;", {"a", ""}},
      {";;", {"", ""}},
      {"\t1 ..\t2 -> 3 ", {"1..2->3"}},
      {"1->2;3 4->5", {"1->2", "34->5"}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitRules(c.value), c.rules) << "'" << c.value << "'";
}

TEST(ApplyRule, LeavesTheIndexAloneWhenItFails) {
  const FirmwareVersion v = ParseVersion("VER 14.003.005");
  int index = 17;
  EXPECT_FALSE(ApplyRule(ShippedCatalogue(), "6..9->37", v, index));
  EXPECT_FALSE(ApplyRule(ShippedCatalogue(), "0..9->38", v, index));
  EXPECT_EQ(index, 17);
  EXPECT_TRUE(ApplyRule(ShippedCatalogue(), "0..9->37", v, index));
  EXPECT_EQ(index, 5);
}

}  // namespace
}  // namespace tarvik
