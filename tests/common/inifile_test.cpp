#include "common/inifile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "common/text.h"

namespace tarvik {
namespace {

TEST(IniDocument, ProfileSemantics) {
  const auto doc = IniDocument::Parse(
      "; comment\r\n[Connect]\r\nComPort = COM3 \r\n[UPDATERULES]\r\n14.003.000=0..36->37\r\n"
      "14.003.000=ignored\r\nquoted=\"a b\"\r\n[connect]\r\nComPort=second section\r\n");
  EXPECT_EQ(doc.ReadString("connect", "comport", "x"), "COM3");
  EXPECT_EQ(doc.ReadString("UpdateRules", "14.003.000", "NORULE"), "0..36->37");
  EXPECT_EQ(doc.ReadString("UpdateRules", "quoted", ""), "a b");
  EXPECT_EQ(doc.ReadString("UpdateRules", "missing", "NORULE"), "NORULE");
  EXPECT_EQ(doc.ReadString("Missing", "ComPort", "dflt"), "dflt");
  EXPECT_EQ(doc.ReadInteger("Connect", "ComPort", -3), -3);
}

TEST(IniDocument, WritesKeepOtherLinesAndEightBitValues) {
  auto doc = IniDocument::Parse("; keep me\r\n[Update]\r\nUpdatePanelVersion=x\r\n\r\n[Other]\r\nk=v\r\n");
  const std::string cyr = Utf8ToCp1251("Порт №5");
  doc.WriteString("update", "UPDATEPANELVERSION", "hqzvrd");
  doc.WriteString("Connect", "ComPort", cyr);
  doc.WriteString("Update", "New", "1");
  const auto again = IniDocument::Parse(doc.Serialize());
  EXPECT_EQ(again.ReadString("Update", "UpdatePanelVersion", ""), "hqzvrd");
  EXPECT_EQ(again.ReadString("Connect", "ComPort", ""), cyr);
  EXPECT_EQ(again.ReadString("Other", "k", ""), "v");
  EXPECT_EQ(again.ReadString("Update", "New", ""), "1");
  EXPECT_NE(doc.Serialize().find("; keep me\r\n"), std::string::npos);
  EXPECT_NE(doc.Serialize().find("UpdatePanelVersion=hqzvrd\r\nNew=1\r\n\r\n[Other]"), std::string::npos);
}

class IniFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("tarvik-ini-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::filesystem::path dir_;
};

TEST_F(IniFileTest, MissingFileGivesDefaultsAndIsCreatedOnSave) {
  IniFile ini(dir_ / "current.ini");
  EXPECT_EQ(ini.ReadString("Update", "UpdatePanelVersion", ""), "");
  ini.WriteString("Connect", "ComPort", "COM12");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "current.ini"));
  ini.Save();
  EXPECT_EQ(ReadFileBytes(dir_ / "current.ini"), "[Connect]\r\nComPort=COM12\r\n");
}

TEST_F(IniFileTest, WriteThroughSavesAtOnce) {
  IniFile ini(dir_ / "windows.ini", true);
  ini.WriteInteger("formMainFormState", "Saved", 1);
  EXPECT_EQ(ReadProfileString(dir_ / "windows.ini", "FORMMAINFORMSTATE", "saved", ""), "1");
}

TEST_F(IniFileTest, SaveIntoMissingDirectoryThrows) {
  IniFile ini(dir_ / "no-such-dir" / "current.ini");
  ini.WriteString("a", "b", "c");
  EXPECT_THROW(ini.Save(), IniError);
}

}  // namespace
}  // namespace tarvik
