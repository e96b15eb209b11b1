#include "common/settingspaths.h"

#include <cstdint>
#include <fstream>
#include <random>
#include <string>
#include <system_error>

namespace tarvik {
namespace {

namespace fs = std::filesystem;

// "/usr/bin/" and "/usr/bin" name the same folder; parent_path and filename
// only agree on the second.
fs::path WithoutTrailingSeparator(const fs::path& folder) {
  fs::path normal = folder.lexically_normal();
  if (!normal.has_filename() && normal.has_relative_path()) normal = normal.parent_path();
  return normal;
}

std::string ProbeName() {
  std::random_device device;
  const std::uint64_t value = (std::uint64_t{device()} << 32) ^ device();
  return ".tarvikflash-probe-" + std::to_string(value);
}

}  // namespace

fs::path SettingsLocations::CurrentIni() const { return Folder / kCurrentIniName; }

fs::path SettingsLocations::WindowsIni() const { return Folder / kWindowsIniName; }

fs::path SettingsLocations::UpdateIni() const {
  for (const fs::path& folder : RulesFolders) {
    std::error_code error;
    if (fs::is_regular_file(folder / kUpdateIniName, error)) return folder / kUpdateIniName;
  }
  return (RulesFolders.empty() ? Folder : RulesFolders.front()) / kUpdateIniName;
}

SettingsLocations ChooseSettingsLocations(const SettingsFacts& facts) {
  // An installed copy never writes into its program folder, even when it
  // could (run by root, or installed under the user's home): the package
  // manager does not know such files and every user would share them.
  const bool beside = (!facts.Installed && facts.ProgramFolderWritable) || facts.UserFolder.empty();
  SettingsLocations locations;
  locations.Folder = beside ? facts.ProgramFolder : facts.UserFolder;
  locations.RulesFolders.push_back(locations.Folder);
  const fs::path& shared = facts.Installed ? facts.SystemFolder : facts.ProgramFolder;
  if (!shared.empty() && shared != locations.Folder) locations.RulesFolders.push_back(shared);
  return locations;
}

bool CanCreateFileIn(const fs::path& folder) {
  std::error_code error;
  if (!fs::is_directory(folder, error)) return false;
  fs::path probe = folder / ProbeName();
  // Never open an existing file: the probe must not touch anything it did
  // not make.
  while (fs::exists(probe, error)) probe = folder / ProbeName();
  bool created = false;
  {
    std::ofstream file(probe, std::ios::binary);
    created = file.is_open();
  }
  if (created) fs::remove(probe, error);
  return created;
}

bool IsInstalledProgramFolder(const fs::path& programFolder) {
  const fs::path folder = WithoutTrailingSeparator(programFolder);
  std::error_code error;
  return folder.filename() == "bin" &&
         fs::is_directory(folder.parent_path() / "share" / kSettingsFolderName, error);
}

fs::path SystemSettingsFolder(const fs::path& programFolder) {
  const fs::path prefix = WithoutTrailingSeparator(programFolder).parent_path();
  if (prefix == "/usr") return fs::path("/etc") / kSettingsFolderName;
  return prefix / "etc" / kSettingsFolderName;
}

fs::path XdgUserSettingsFolder(std::string_view xdgConfigHome, std::string_view home) {
  // A relative XDG_CONFIG_HOME is invalid by the XDG rules and is ignored;
  // a relative HOME would put the settings wherever the program was started.
  const fs::path xdg(xdgConfigHome);
  if (!xdgConfigHome.empty() && xdg.is_absolute()) return xdg / kSettingsFolderName;
  const fs::path homeFolder(home);
  if (!home.empty() && homeFolder.is_absolute()) return homeFolder / ".config" / kSettingsFolderName;
  return {};
}

SettingsFacts GatherSettingsFacts(const fs::path& programFolder, const fs::path& userFolder) {
  SettingsFacts facts;
  facts.ProgramFolder = WithoutTrailingSeparator(programFolder);
  facts.ProgramFolderWritable = CanCreateFileIn(facts.ProgramFolder);
  facts.Installed = IsInstalledProgramFolder(facts.ProgramFolder);
  if (facts.Installed) facts.SystemFolder = SystemSettingsFolder(facts.ProgramFolder);
  facts.UserFolder = userFolder.empty() ? fs::path() : WithoutTrailingSeparator(userFolder);
  return facts;
}

SettingsLocations ResolveSettingsLocations(const fs::path& programFolder, const fs::path& userFolder) {
  const SettingsFacts facts = GatherSettingsFacts(programFolder, userFolder);
  SettingsLocations locations = ChooseSettingsLocations(facts);
  if (locations.Folder == facts.UserFolder) {
    std::error_code error;
    fs::create_directories(locations.Folder, error);
  }
  return locations;
}

SettingsLocations ResolveSettingsLocations(const fs::path& programFolder) {
  return ResolveSettingsLocations(programFolder, UserSettingsFolder());
}

}  // namespace tarvik
