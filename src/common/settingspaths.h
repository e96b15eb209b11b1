#pragma once
// Where the settings files live. A copy run from a folder it may write to
// keeps them beside the program, where a technician carrying the tool on a
// stick or in an unpacked folder expects them. An installed copy, or one in a
// folder the user may not write to, keeps current.ini and windows.ini in the
// user's configuration folder. update.ini is only ever read: the user's own
// file comes first, then the one an administrator put in place for everyone
// (beside a copy that is not installed, or in the system's configuration
// folder of an installed tree).
#include <filesystem>
#include <string_view>
#include <vector>

namespace tarvik {

inline constexpr std::string_view kCurrentIniName = "current.ini";
inline constexpr std::string_view kWindowsIniName = "windows.ini";
inline constexpr std::string_view kUpdateIniName = "update.ini";
// The name of this program's folder in the user's and the system's
// configuration folders, and of its data folder in an installed tree.
inline constexpr std::string_view kSettingsFolderName = "tarvikflash";

// What the choice of folders rests on, gathered from the disk and the
// environment (GatherSettingsFacts) or given by a test.
struct SettingsFacts {
  std::filesystem::path ProgramFolder;
  bool ProgramFolderWritable = false;
  // The program runs from the bin folder of an installed tree.
  bool Installed = false;
  // The user's configuration folder for this program; empty when the user
  // has none.
  std::filesystem::path UserFolder;
  // The system-wide configuration folder of an installed tree.
  std::filesystem::path SystemFolder;
};

struct SettingsLocations {
  // current.ini and windows.ini, read and written.
  std::filesystem::path Folder;
  // Where update.ini is looked for, in order; the first folder that holds
  // one wins.
  std::vector<std::filesystem::path> RulesFolders;

  std::filesystem::path CurrentIni() const;
  std::filesystem::path WindowsIni() const;
  // The rules file to read now: looked up on every call, so a file put in
  // place while the program runs counts at the next decision. When no folder
  // holds one, the missing file in the first folder (which reads as no rules).
  std::filesystem::path UpdateIni() const;
};

SettingsLocations ChooseSettingsLocations(const SettingsFacts& facts);

// True when a new file can be created in the folder (tried with a probe file
// that is removed again). False for a missing folder or a path that is no
// folder.
bool CanCreateFileIn(const std::filesystem::path& folder);

// True for PREFIX/bin when PREFIX/share/tarvikflash exists, the data folder
// that installing puts in place.
bool IsInstalledProgramFolder(const std::filesystem::path& programFolder);

// PREFIX/etc/tarvikflash for a program in PREFIX/bin, and /etc/tarvikflash
// for /usr/bin, following the layout of the system's packages.
std::filesystem::path SystemSettingsFolder(const std::filesystem::path& programFolder);

// The XDG rule: $XDG_CONFIG_HOME/tarvikflash when that is an absolute path,
// else $HOME/.config/tarvikflash; empty when neither gives one.
std::filesystem::path XdgUserSettingsFolder(std::string_view xdgConfigHome, std::string_view home);

// The user's configuration folder for this program on this platform
// (settingspaths_posix.cpp, settingspaths_win32.cpp); empty when the user
// has none.
std::filesystem::path UserSettingsFolder();

SettingsFacts GatherSettingsFacts(const std::filesystem::path& programFolder,
                                  const std::filesystem::path& userFolder);

// Gathers the facts, chooses, and creates the settings folder when it is the
// user's and not there yet. A folder that cannot be created is still
// returned: saving into it then fails and says so where saving is reported.
SettingsLocations ResolveSettingsLocations(const std::filesystem::path& programFolder,
                                           const std::filesystem::path& userFolder);
SettingsLocations ResolveSettingsLocations(const std::filesystem::path& programFolder);

}  // namespace tarvik
