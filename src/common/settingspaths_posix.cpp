// The user's configuration folder on Linux and other POSIX systems.
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/settingspaths.h"

namespace tarvik {
namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// A program started without HOME (from a service or a bare su) still
// finds the user's home in the password database.
std::string HomeFromPasswordDatabase() {
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr ||
      found->pw_dir == nullptr) {
    return {};
  }
  return found->pw_dir;
}

}  // namespace

std::filesystem::path UserSettingsFolder() {
  std::string home = Environment("HOME");
  if (home.empty()) home = HomeFromPasswordDatabase();
  return XdgUserSettingsFolder(Environment("XDG_CONFIG_HOME"), home);
}

}  // namespace tarvik
