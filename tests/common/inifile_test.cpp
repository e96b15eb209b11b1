#include "common/inifile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "common/text.h"
#include "support/withoutblocking.h"

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

using test::WithoutBlocking;

struct SettingsFileCase {
  const char* name;
  FileReadStatus status;
  std::string bytes;
  // What the user is told, UTF-8; empty for a file that reads.
  std::string problem = "";
};

TEST_F(IniFileTest, SettingsFilesAreReadOnlyWhenRegularAndWithinTheLimit) {
  const std::string text = "[UpdateRules]\r\n14.002.000=20->28\r\n";
  std::ofstream(dir_ / "update.ini", std::ios::binary) << text;
  std::ofstream(dir_ / "limit.ini", std::ios::binary) << std::string(100, ';');
  std::ofstream(dir_ / "over.ini", std::ios::binary) << std::string(101, ';');
  std::filesystem::create_directory(dir_ / "folder.ini");
  std::vector<SettingsFileCase> cases = {
      {"update.ini", FileReadStatus::Read, text},
      {"missing.ini", FileReadStatus::Missing, ""},
      {"limit.ini", FileReadStatus::Read, std::string(100, ';')},
      {"over.ini", FileReadStatus::TooLarge, "", "файл больше 64 МБ"},
      {"folder.ini", FileReadStatus::NotAFile, "", "это папка, а не файл"},
  };
#ifndef _WIN32
  std::filesystem::create_symlink(dir_ / "update.ini", dir_ / "link.ini");
  std::filesystem::create_symlink("/dev/zero", dir_ / "zero.ini");
  std::filesystem::create_symlink("/dev/null", dir_ / "null.ini");
  ASSERT_EQ(::mkfifo((dir_ / "fifo.ini").c_str(), 0600), 0);
  cases.insert(cases.end(),
               {
                   {"link.ini", FileReadStatus::Read, text},
                   // Would grow without end.
                   {"zero.ini", FileReadStatus::NotAFile, "", "это устройство, а не файл"},
                   {"null.ini", FileReadStatus::NotAFile, "", "это устройство, а не файл"},
                   // Would wait for a writer.
                   {"fifo.ini", FileReadStatus::NotAFile, "", "это именованный канал, а не файл"},
               });
#endif
  for (const auto& c : cases) {
    const auto path = dir_ / c.name;
    const FileRead read = WithoutBlocking(path, [&] { return ReadSettingsFile(path, 100); });
    EXPECT_EQ(read.status, c.status) << c.name;
    EXPECT_EQ(read.bytes, c.bytes) << c.name;
    EXPECT_EQ(read.Usable(), c.status == FileReadStatus::Read || c.status == FileReadStatus::Missing)
        << c.name;
    EXPECT_EQ(Cp1251ToUtf8(FileReadProblem(read)), c.problem) << c.name;
  }
  EXPECT_EQ(FileReadProblem({.status = FileReadStatus::NotAFile, .type = std::filesystem::file_type::socket}),
            Utf8ToCp1251("это не обычный файл"));
  EXPECT_EQ(FileReadProblem({.status = FileReadStatus::TooLarge}), Utf8ToCp1251("файл больше 64 МБ"));
  EXPECT_EQ(FileReadProblem({.status = FileReadStatus::Failed, .systemText = "x"}), "x");
}

TEST_F(IniFileTest, RulesFileOfFiftyMegabytesIsStillRead) {
  const auto path = dir_ / "update.ini";
  {
    std::ofstream out(path, std::ios::binary);
    out << ";" << std::string(50u << 20, 'x') << "\r\n[UpdateRules]\r\n14.002.000=20->28\r\n";
  }
  EXPECT_EQ(ReadProfileString(path, "UpdateRules", "14.002.000", "NORULE"), "20->28");
}

TEST_F(IniFileTest, FileThatCannotBeReadGivesEmptySettingsAndIsKept) {
  const auto big = dir_ / "windows.ini";
  std::filesystem::resize_file((std::ofstream(big), big), kMaxSettingsFileBytes + 1);
  std::vector<std::filesystem::path> unreadable = {big};
#ifndef _WIN32
  const auto fifo = dir_ / "current.ini";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  unreadable.push_back(fifo);
#endif

  for (const auto& path : unreadable) {
    auto ini = WithoutBlocking(path, [&] { return std::make_unique<IniFile>(path); });
    EXPECT_FALSE(ini->ReadProblem().empty()) << path;
    EXPECT_EQ(ini->ReadString("Connect", "ComPort", "none"), "none") << path;
    ini->WriteString("Connect", "ComPort", "COM3");
    // Writing would wait for a reader of the FIFO, or replace what could not be read.
    try {
      WithoutBlocking(path, [&] { ini->Save(); });
      ADD_FAILURE() << "written over " << path;
    } catch (const IniError& e) {
      EXPECT_EQ(std::string(e.what()),
                Utf8ToCp1251("Не удалось записать файл ") + PathText(path) +
                    Utf8ToCp1251(": его не удалось прочитать, и он оставлен как есть"));
    }
  }
  EXPECT_EQ(std::filesystem::file_size(big), kMaxSettingsFileBytes + 1);
#ifndef _WIN32
  EXPECT_EQ(std::filesystem::status(fifo).type(), std::filesystem::file_type::fifo);
  EXPECT_THROW(
      WithoutBlocking(fifo, [&] { IniFile(fifo, true).WriteInteger("formMainFormState", "Saved", 1); }),
      IniError);
#endif
}

TEST_F(IniFileTest, SaveIntoMissingDirectoryThrowsWithThePathAndTheReasonInWindows1251) {
  const auto path = dir_ / std::filesystem::path(u8"нет-папки") / "current.ini";
  IniFile ini(path);
  ini.WriteString("a", "b", "c");
  try {
    ini.Save();
    ADD_FAILURE() << "saved into a missing folder";
  } catch (const IniError& e) {
    const std::u8string utf8 = path.u8string();
    const std::string shown = Utf8ToCp1251(std::string(utf8.begin(), utf8.end()));
    EXPECT_EQ(std::string(e.what()), Utf8ToCp1251("Не удалось записать файл ") + shown +
                                         Utf8ToCp1251(": нет такого файла или папки"));
    EXPECT_EQ(PathText(path), shown);
  }
}

// The user reads the reason: Russian, whatever the language of the system.
TEST(FileErrorReason, NamesTheCommonCausesInRussian) {
  const struct {
    std::errc cause;
    const char* text;
  } cases[] = {
      {std::errc::permission_denied, "нет доступа"},
      {std::errc::no_such_file_or_directory, "нет такого файла или папки"},
      {std::errc::read_only_file_system, "диск доступен только для чтения"},
      {std::errc::no_space_on_device, "на диске нет места"},
      {std::errc::io_error, "ошибка ввода-вывода"},
      {std::errc::device_or_resource_busy, "файл занят другой программой"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FileErrorReason(std::make_error_code(c.cause)), Utf8ToCp1251(c.text)) << c.text;
  }
  EXPECT_EQ(FileErrorReason(std::error_code(1234, std::generic_category())),
            Utf8ToCp1251("системная ошибка 1234"));
}

}  // namespace
}  // namespace tarvik
