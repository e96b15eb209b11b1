// tarvik-cli: the command-line front end for benches and scripts.
#include <clocale>
#include <string>
#include <vector>

#include "cli/clisession.h"
#include "cli/console.h"
#include "common/settingspaths.h"
#include "common/stdstreams.h"
#include "serial/portlist.h"

int main(int argc, char** argv) {
  using namespace tarvik;
  using namespace tarvik::cli;
  // Before anything is opened: a port opened as standard output would get
  // the program's text on its line.
  EnsureStandardStreams();
  // Timestamps of the log follow the user's date and time formats, as the
  // program's message log does.
  std::setlocale(LC_ALL, "");
  HoldInterrupts();

  ConsoleOutput out;
  const std::filesystem::path programFolder = ProgramFolder();
  CliEnvironment env{
      .Out = out,
      .Time = SystemClock(),
      .Interrupted = InterruptRequested,
      .ListPorts = SystemSerialPorts,
      // Where the windows read it: looked up without creating any folder.
      .DefaultRules =
          [programFolder] {
            return ChooseSettingsLocations(GatherSettingsFacts(programFolder, UserSettingsFolder()))
                .UpdateIni();
          },
  };
  return ToInt(RunCli(std::vector<std::string>(argv + 1, argv + argc), env));
}
