#include "common/settingspaths.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace tarvik {
namespace {

namespace fs = std::filesystem;

using Folders = std::vector<fs::path>;

TEST(ChooseSettingsLocations, FolderAndRulesOrderForEachKindOfCopy) {
  const fs::path program = "P", user = "U", system = "S";
  struct Case {
    const char* name;
    bool writable;
    bool installed;
    fs::path userFolder;
    fs::path expectedFolder;
    Folders expectedRules;
  };
  const Case cases[] = {
      // Unpacked into a folder of the technician's: everything stays beside
      // the program, as it always has.
      {"portable, writable", true, false, user, program, {program}},
      // A read-only share or Program Files: the user's own settings, and the
      // administrator's update.ini beside the program when the user has none.
      {"portable, read-only", false, false, user, user, {user, program}},
      // Installed: never into bin/, even for root; the system's rules last.
      {"installed, writable (root)", true, true, user, user, {user, system}},
      {"installed, read-only", false, true, user, user, {user, system}},
      // No home to write to: the program folder is the only place left, and
      // saving there reports its own failure.
      {"portable, read-only, no user folder", false, false, {}, program, {program}},
      {"installed, no user folder", false, true, {}, program, {program, system}},
  };
  for (const Case& c : cases) {
    const SettingsLocations got = ChooseSettingsLocations({.ProgramFolder = program,
                                                           .ProgramFolderWritable = c.writable,
                                                           .Installed = c.installed,
                                                           .UserFolder = c.userFolder,
                                                           .SystemFolder = system});
    EXPECT_EQ(got.Folder, c.expectedFolder) << c.name;
    EXPECT_EQ(got.RulesFolders, c.expectedRules) << c.name;
    EXPECT_EQ(got.CurrentIni(), c.expectedFolder / "current.ini") << c.name;
    EXPECT_EQ(got.WindowsIni(), c.expectedFolder / "windows.ini") << c.name;
  }
}

TEST(SettingsPaths, SystemFolderFollowsThePrefix) {
  EXPECT_EQ(SystemSettingsFolder("/usr/bin/"), fs::path("/etc/tarvikflash"));
  EXPECT_EQ(SystemSettingsFolder("/usr/bin"), fs::path("/etc/tarvikflash"));
  EXPECT_EQ(SystemSettingsFolder("/usr/local/bin/"), fs::path("/usr/local/etc/tarvikflash"));
  EXPECT_EQ(SystemSettingsFolder("/opt/tools/bin"), fs::path("/opt/tools/etc/tarvikflash"));
}

TEST(SettingsPaths, XdgRules) {
  const fs::path xdg = fs::temp_directory_path() / "xdg";
  const fs::path home = fs::temp_directory_path() / "home";
  EXPECT_EQ(XdgUserSettingsFolder(xdg.string(), home.string()), xdg / "tarvikflash");
  EXPECT_EQ(XdgUserSettingsFolder("", home.string()), home / ".config" / "tarvikflash");
  EXPECT_EQ(XdgUserSettingsFolder("relative/config", home.string()), home / ".config" / "tarvikflash")
      << "a relative XDG_CONFIG_HOME is ignored";
  EXPECT_EQ(XdgUserSettingsFolder("", "relative/home"), fs::path());
  EXPECT_EQ(XdgUserSettingsFolder("", ""), fs::path());
}

class SettingsFoldersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("tarvik-settings-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  static void Touch(const fs::path& file) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << "[UpdateRules]\n";
  }
  static std::size_t Entries(const fs::path& folder) {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
  }
  // PREFIX/bin and PREFIX/share/tarvikflash, as installing lays them out.
  fs::path InstalledTree() const {
    fs::create_directories(dir_ / "prefix" / "bin");
    fs::create_directories(dir_ / "prefix" / "share" / "tarvikflash");
    return dir_ / "prefix" / "bin";
  }

  fs::path dir_;
};

TEST_F(SettingsFoldersTest, CanCreateFileInLeavesNothingBehind) {
  EXPECT_TRUE(CanCreateFileIn(dir_));
  EXPECT_EQ(Entries(dir_), 0u);

  Touch(dir_ / "plain");
  EXPECT_FALSE(CanCreateFileIn(dir_ / "plain")) << "a file is no folder";
  EXPECT_FALSE(CanCreateFileIn(dir_ / "plain" / "below")) << "nothing can be created under a file";
  EXPECT_FALSE(CanCreateFileIn(dir_ / "missing")) << "a missing folder is not made by the probe";
  EXPECT_FALSE(fs::exists(dir_ / "missing"));
}

// Root may write anywhere on a disk, but not into the kernel's process
// folder: a real read-only folder for the probe whoever runs the test.
TEST_F(SettingsFoldersTest, ReadOnlyFolderIsNotWritableAndSendsSettingsToTheUser) {
  const fs::path readOnly = "/proc";
  if (!fs::is_directory(readOnly / "self")) GTEST_SKIP() << "no /proc here";
  EXPECT_FALSE(CanCreateFileIn(readOnly));

  const fs::path user = dir_ / "config" / "nested" / "tarvikflash";
  const SettingsLocations got = ResolveSettingsLocations(readOnly, user);
  EXPECT_EQ(got.Folder, user);
  EXPECT_TRUE(fs::is_directory(user)) << "the user's folder is created when it is chosen";
  EXPECT_EQ(got.RulesFolders, (Folders{user, readOnly}));
}

TEST_F(SettingsFoldersTest, WritableProgramFolderKeepsEverythingBesideIt) {
  const fs::path program = dir_ / "portable";
  fs::create_directories(program);
  const fs::path user = dir_ / "config" / "tarvikflash";
  // The program folder arrives with its trailing separator.
  const SettingsLocations got = ResolveSettingsLocations(program.string() + "/", user);
  EXPECT_EQ(got.Folder, program);
  EXPECT_EQ(got.CurrentIni(), program / "current.ini");
  EXPECT_EQ(got.RulesFolders, Folders{program});
  EXPECT_FALSE(fs::exists(user)) << "an unused user folder is not created";
  EXPECT_EQ(Entries(program), 0u);
}

TEST_F(SettingsFoldersTest, InstalledTreeUsesTheUserFolderEvenWhenBinIsWritable) {
  const fs::path bin = InstalledTree();
  EXPECT_TRUE(IsInstalledProgramFolder(bin));
  EXPECT_TRUE(IsInstalledProgramFolder(bin.string() + "/"));

  const fs::path user = dir_ / "home" / ".config" / "tarvikflash";
  const SettingsLocations got = ResolveSettingsLocations(bin.string() + "/", user);
  EXPECT_EQ(got.Folder, user);
  EXPECT_TRUE(fs::is_directory(user));
  EXPECT_EQ(got.RulesFolders, (Folders{user, dir_ / "prefix" / "etc" / "tarvikflash"}));
  EXPECT_EQ(Entries(bin), 0u) << "nothing is written into bin/";
}

TEST_F(SettingsFoldersTest, OnlyABinFolderBesideTheDataFolderIsAnInstalledTree) {
  fs::create_directories(dir_ / "prefix" / "share" / "tarvikflash");
  fs::create_directories(dir_ / "prefix" / "app");
  fs::create_directories(dir_ / "bare" / "bin");
  EXPECT_FALSE(IsInstalledProgramFolder(dir_ / "prefix" / "app"));
  EXPECT_FALSE(IsInstalledProgramFolder(dir_ / "bare" / "bin"));
  Touch(dir_ / "file" / "share" / "tarvikflash");
  fs::create_directories(dir_ / "file" / "bin");
  EXPECT_FALSE(IsInstalledProgramFolder(dir_ / "file" / "bin")) << "the data folder must be a folder";
}

TEST_F(SettingsFoldersTest, UpdateIniIsTheFirstThatExistsLookedUpAnew) {
  const fs::path user = dir_ / "user", system = dir_ / "system";
  fs::create_directories(user);
  fs::create_directories(system);
  const SettingsLocations locations{.Folder = user, .RulesFolders = {user, system}};

  EXPECT_EQ(locations.UpdateIni(), user / "update.ini") << "none: the user's, which reads as no rules";
  Touch(system / "update.ini");
  EXPECT_EQ(locations.UpdateIni(), system / "update.ini") << "the administrator's when the user has none";
  fs::create_directories(user / "update.ini");
  EXPECT_EQ(locations.UpdateIni(), system / "update.ini") << "a folder of that name is no rules file";
  fs::remove(user / "update.ini");
  Touch(user / "update.ini");
  EXPECT_EQ(locations.UpdateIni(), user / "update.ini") << "the user's own comes first";
}

}  // namespace
}  // namespace tarvik
