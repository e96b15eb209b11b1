// The main window reads and writes its settings where the settings folder
// decision puts them: an installed copy keeps them in the user's
// configuration folder and never writes beside itself.
#include <gtest/gtest.h>

#include <QAction>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <vector>

#include "app/formmain.h"
#include "common/inifile.h"

namespace tarvik {
namespace {

namespace fs = std::filesystem;

fs::path ToPath(const QString& name) { return fs::path(QFile::encodeName(name).toStdString()); }

// XDG_CONFIG_HOME for one test, given back afterwards.
class ConfigHome {
 public:
  explicit ConfigHome(const QString& folder)
      : hadOld_(qEnvironmentVariableIsSet("XDG_CONFIG_HOME")), old_(qgetenv("XDG_CONFIG_HOME")) {
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(folder));
  }
  ~ConfigHome() {
    if (hadOld_) {
      qputenv("XDG_CONFIG_HOME", old_);
    } else {
      qunsetenv("XDG_CONFIG_HOME");
    }
  }
  ConfigHome(const ConfigHome&) = delete;
  ConfigHome& operator=(const ConfigHome&) = delete;

 private:
  bool hadOld_;
  QByteArray old_;
};

TEST(FormMainSettingsPlaces, InstalledCopyKeepsItsSettingsInTheUsersFolder) {
  QTemporaryDir dir;
  ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("prefix/bin")));
  ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("prefix/share/tarvikflash")));
  ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("prefix/etc/tarvikflash")));
  const QString bin = dir.filePath(QStringLiteral("prefix/bin"));
  const fs::path user = ToPath(dir.filePath(QStringLiteral("config/tarvikflash")));
  const fs::path systemRules = ToPath(dir.filePath(QStringLiteral("prefix/etc/tarvikflash/update.ini")));
  ConfigHome config(dir.filePath(QStringLiteral("config")));

  // Settings the user saved before: the service word opens the hidden menu.
  fs::create_directories(user);
  IniFile saved(user / "current.ini");
  saved.WriteString("Update", "UpdatePanelVersion", TformMain::kAccessWord);
  saved.Save();
  std::ofstream(systemRules) << "[UpdateRules]\r\n";

  std::vector<QString> errors;
  {
    TformMain form(bin, false);
    form.SetErrorHook([&](const QString& text) { errors.push_back(text); });
    EXPECT_EQ(form.SettingsPlaces().Folder, user);
    EXPECT_EQ(form.SettingsPlaces().UpdateIni(), systemRules)
        << "the administrator's rules when the user has none";
    form.show();
    EXPECT_TRUE(form.Ui().mnuPanel->menuAction()->isVisible())
        << "current.ini is read from the user's folder";
    form.close();
  }
  EXPECT_TRUE(errors.empty());
  EXPECT_EQ(IniFile(user / "windows.ini").ReadInteger(TformMain::kPlacementSection, "Saved", 0), 1);
  EXPECT_EQ(IniFile(user / "current.ini").ReadString("Update", "UpdatePanelVersion", ""),
            TformMain::kAccessWord);
  EXPECT_TRUE(QDir(bin).isEmpty()) << "nothing is written beside an installed program";
}

}  // namespace
}  // namespace tarvik
