// The command line: what each command takes, and every way of getting it
// wrong ending in a clear message instead of a guess.
#include "cli/cliopts.h"

#include <gtest/gtest.h>

#include <regex>

#include "cli/clisession.h"
#include "common/inifile.h"
#include "common/text.h"
#include "serial/link.h"

namespace tarvik::cli {
namespace {

struct ArgsCase {
  std::vector<std::string> args;
  // Empty when the arguments are good.
  std::string error = "";
};

TEST(CliArguments, BadUsageIsToldNotGuessed) {
  const ArgsCase cases[] = {
      {{}, "не указана команда"},
      {{"-V"}, "неизвестный ключ -V"},
      {{"--frobnicate"}, "неизвестный ключ --frobnicate"},
      {{"identify", "COM3", "--expect", "2"}, "--expect нужен только вместе с --all"},
      {{"flash", "--all", "--expect", "0"}, "--expect ждёт число устройств от 1 до 9999, а не \"0\""},
      {{"flash", "--all", "--expect", "4"}},
      {{"flsh", "COM3"}, "неизвестная команда \"flsh\""},
      {{"flash"}, "команде flash нужен порт"},
      {{"flash-hex", "COM3"}, "команде flash-hex нужен HEX-файл после порта"},
      {{"identify", "--all", "COM3"}, "с ключом --all порты не указываются: \"COM3\""},
      {{"flash-hex", "COM3", "a.hex", "b.hex"}, "лишний аргумент \"b.hex\""},
      {{"ports", "COM3"}, "лишний аргумент \"COM3\""},
      {{"flash", "COM3", "--image"}, "ключу --image нужно значение"},
      {{"flash", "COM3", "--image", "0"}, "--image ждёт номер прошивки из списка images, а не \"0\""},
      {{"flash", "COM3", "--image=2x"}, "--image ждёт номер прошивки из списка images, а не \"2x\""},
      {{"flash", "COM3", "--image", "-2"}, "--image ждёт номер прошивки из списка images, а не \"-2\""},
      {{"flash", "COM3", "--log="}, "ключу --log нужно непустое значение"},
      {{"flash", "COM3", "--quiet=yes"}, "ключ --quiet не принимает значения"},
      {{"flash", "COM3", "--force"}, "неизвестный ключ --force"},
      {{"flash", "COM3", "-qx"}, "неизвестный ключ -x"},
      {{"flash-hex", "COM3", "a.hex", "--", "--quiet"}, "лишний аргумент \"--quiet\""},
      {{"identify", "COM3", "--no-verify"}, "--no-verify нужен только команде flash"},
      {{"flash-hex", "COM3", "a.hex", "--all"},
       "--image, --rules, --no-rules, --all, --expect и --record нужны только командам identify и flash"},
      {{"identify", "COM3", "--wait", "5x"}, "--wait ждёт число секунд от 0 до 86400, а не \"5x\""},
      {{"identify", "COM3", "--wait", "86401"}, "--wait ждёт число секунд от 0 до 86400, а не \"86401\""},
      {{"images", "--json"}, "--json нужен только командам ports, identify и flash"},
      {{"flash-hex", "COM3", "a.hex", "--image", "2"},
       "--image, --rules, --no-rules, --all, --expect и --record нужны только командам identify и flash"},
      {{"flash", "COM3", "--rules", "a.ini", "--no-rules"}, "--rules и --no-rules исключают друг друга"},
      {{"images", "--log", "x"},
       "--log, --quiet, --verbose и --wait нужны только командам, которые обращаются к устройству"},
      {{"flash", "COM3", "--image", "2", "--rules=a.ini", "--log", "b.log", "-q", "-v"}},
      {{"flash-hex", "/dev/ttyUSB0", "panel.hex", "--log=b.log"}},
      // Many ports, or every port whose device answers.
      {{"flash", "COM3", "COM4", "/dev/ttyUSB0"}},
      {{"identify", "COM3", "--", "--quiet"}},
      {{"flash", "--all", "--json", "--record", "bench.jsonl", "--no-verify"}},
      {{"--help"}},
      {{"flash", "-h"}},
  };
  for (const ArgsCase& c : cases) {
    std::string line;
    for (const std::string& a : c.args) line += a + " ";
    SCOPED_TRACE(line);
    EXPECT_EQ(Cp1251ToUtf8(ParseArguments(c.args).error), c.error);
  }
}

// Help where a command or an option stands; anywhere else the word is what
// the position makes it: an option's value, a port, a file.
TEST(CliArguments, HelpOnlyWhereACommandOrAnOptionStands) {
  struct Case {
    std::vector<std::string> args;
    bool help;
    std::string port = "";
    std::string hexFile = "";
    std::string log = "";
    std::string rules = "";
  };
  const Case cases[] = {
      {{"help"}, true},
      {{"-h"}, true},
      {{"--help"}, true},
      {{"flash", "COM3", "--help"}, true},
      {{"flash", "-h", "COM3"}, true},
      {{"flash", "COM3", "--image", "2", "-h"}, true},
      {{"flash", "COM3", "--log", "bench.log", "--help"}, true},
      {{"flash", "COM3", "--image", "2", "--log", "help"}, false, "COM3", "", "help"},
      {{"flash", "COM3", "--log", "-h"}, false, "COM3", "", "-h"},
      {{"flash", "COM3", "--log", "--help"}, false, "COM3", "", "--help"},
      {{"flash", "COM3", "--log=help"}, false, "COM3", "", "help"},
      {{"identify", "COM3", "--rules", "help"}, false, "COM3", "", "", "help"},
      {{"identify", "help"}, false, "help"},
      {{"flash-hex", "COM3", "help"}, false, "COM3", "help"},
  };
  for (const Case& c : cases) {
    std::string line;
    for (const std::string& a : c.args) line += a + " ";
    SCOPED_TRACE(line);
    const ParsedArguments parsed = ParseArguments(c.args);
    ASSERT_TRUE(parsed.Ok()) << Cp1251ToUtf8(parsed.error);
    const CliOptions& o = parsed.options;
    EXPECT_EQ(o.command == Command::Help, c.help);
    if (c.help) continue;
    EXPECT_EQ(o.ports, std::vector<std::string>{c.port});
    EXPECT_EQ(o.hexFile, std::filesystem::path(c.hexFile));
    EXPECT_EQ(o.log.value_or(""), std::filesystem::path(c.log));
    EXPECT_EQ(o.rules.value_or(""), std::filesystem::path(c.rules));
  }
}

TEST(CliArguments, OptionsMayStandAnywhere) {
  const ParsedArguments parsed =
      ParseArguments({"flash", "--image", "12", "COM3", "--rules=bench.ini", "--log", "run.log", "--quiet"});
  ASSERT_TRUE(parsed.Ok());
  const CliOptions& o = parsed.options;
  EXPECT_EQ(o.command, Command::Flash);
  EXPECT_EQ(o.ports, std::vector<std::string>{"COM3"});
  EXPECT_EQ(o.image, 12);
  EXPECT_EQ(o.rules, std::filesystem::path("bench.ini"));
  EXPECT_EQ(o.log, std::filesystem::path("run.log"));
  EXPECT_TRUE(o.quiet);
  EXPECT_FALSE(o.verbose);

  const ParsedArguments hex = ParseArguments({"flash-hex", "ttyUSB0", "panel.hex"});
  ASSERT_TRUE(hex.Ok());
  EXPECT_EQ(hex.options.hexFile, std::filesystem::path("panel.hex"));
}

// What engineers expect of a command line: options before or after the
// command, short flags merged, "--" ending the options, --version.
TEST(CliArguments, CommonConventions) {
  struct Case {
    std::vector<std::string> args;
    Command command;
    std::vector<std::string> ports = {};
    bool quiet = false;
    bool verbose = false;
    std::string log = "";
    std::string hexFile = "";
  };
  const Case cases[] = {
      {{"--version"}, Command::Version},
      {{"identify", "COM3", "--version"}, Command::Version},
      {{"--quiet", "flash", "COM3"}, Command::Flash, {"COM3"}, true},
      {{"--log", "run.log", "-v", "identify", "COM3"}, Command::Identify, {"COM3"}, false, true, "run.log"},
      {{"-q", "identify", "--log=run.log", "COM3"}, Command::Identify, {"COM3"}, true, false, "run.log"},
      {{"flash", "COM3", "-qv"}, Command::Flash, {"COM3"}, true, true},
      {{"-vq", "flash", "COM3"}, Command::Flash, {"COM3"}, true, true},
      // After "--" every word is a port or a file, whatever it looks like.
      {{"identify", "--", "-ttyX"}, Command::Identify, {"-ttyX"}},
      {{"-q", "flash-hex", "COM3", "--", "--help"}, Command::FlashHex, {"COM3"}, true, false, "", "--help"},
      {{"flash", "--", "--version"}, Command::Flash, {"--version"}},
  };
  for (const Case& c : cases) {
    std::string line;
    for (const std::string& a : c.args) line += a + " ";
    SCOPED_TRACE(line);
    const ParsedArguments parsed = ParseArguments(c.args);
    ASSERT_TRUE(parsed.Ok()) << Cp1251ToUtf8(parsed.error);
    const CliOptions& o = parsed.options;
    EXPECT_EQ(o.command, c.command);
    if (c.command == Command::Version) continue;
    EXPECT_EQ(o.ports, c.ports);
    EXPECT_EQ(o.quiet, c.quiet);
    EXPECT_EQ(o.verbose, c.verbose);
    EXPECT_EQ(o.log.value_or(""), std::filesystem::path(c.log));
    EXPECT_EQ(o.hexFile, std::filesystem::path(c.hexFile));
  }
}

TEST(CliArguments, VersionNamesTheProgramAndItsVersion) {
  const std::regex version(R"(tarvik-cli \d+\.\d+\.\d+\.\d+)");
  EXPECT_TRUE(std::regex_match(VersionText(), version)) << VersionText();
}

// The manual page and the help cannot drift apart: every option and
// command the help names, the page names too.
TEST(CliArguments, ManualPageNamesEveryOptionAndCommandOfTheHelp) {
  std::string page = ReadFileBytes(std::filesystem::path(TARVIK_SOURCE_DIR) / "packaging" / "tarvik-cli.1");
  ASSERT_FALSE(page.empty());
  // Roff writes a dash as "\-".
  std::erase(page, '\\');
  // Up to the exit codes, whose note ends in a line of shell.
  std::string help = Cp1251ToUtf8(UsageText());
  help.resize(help.find("Коды завершения:"));
  const std::regex word(R"((^|[\s,(])(--?[a-z][a-z-]*|ports|images|identify|flash-hex|flash)(?=[\s,)=]))");
  std::size_t named = 0;
  for (auto it = std::sregex_iterator(help.begin(), help.end(), word); it != std::sregex_iterator(); ++it) {
    const std::string name = (*it)[2];
    EXPECT_TRUE(Contains(page, name)) << name;
    ++named;
  }
  EXPECT_GE(named, 15u);
}

TEST(CliArguments, PortAsTheUserWritesIt) {
  EXPECT_EQ(PortNameOf("/dev/ttyUSB0"), "ttyUSB0");
  EXPECT_EQ(PortNameOf("/dev/pts/7"), "pts/7");
  EXPECT_EQ(PortNameOf("\\\\.\\COM12"), "COM12");
  EXPECT_EQ(PortNameOf("COM3"), "COM3");
  EXPECT_EQ(PortNameOf("/tmp/bench/ttyV0"), "../tmp/bench/ttyV0");
  // A name with a slash is a path from the current folder.
  const std::string here = std::filesystem::current_path().lexically_normal().generic_string();
  EXPECT_EQ(PortNameOf("./run/t1"), ".." + here + "/run/t1");
  EXPECT_EQ(PortNameOf("run/t1"), ".." + here + "/run/t1");
}

}  // namespace
}  // namespace tarvik::cli
