#include "serial/portlist.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <fstream>

#include "ptypeer.h"
#include "serial/link.h"
#include "serial/portfacts.h"

namespace tarvik {
namespace {

namespace fs = std::filesystem;

// A throw-away tree with a tty class folder and a device folder.
class PortTree : public ::testing::Test {
 protected:
  void SetUp() override {
    root = fs::temp_directory_path() / ("portlist-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root);
    fs::create_directories(sys());
    fs::create_directories(dev() / "pts");
  }
  void TearDown() override { fs::remove_all(root); }

  fs::path sys() const { return root / "sys"; }
  fs::path dev() const { return root / "dev"; }

  static void Touch(const fs::path& file, const std::string& text = "") { std::ofstream(file) << text; }

  // A tty of the class; with a device behind it when hardware is true.
  void Tty(const std::string& name, bool hardware, bool node = true, const char* uartType = nullptr) {
    fs::create_directories(sys() / name);
    if (hardware) fs::create_directory_symlink("../../devices/platform/serial8250", sys() / name / "device");
    if (uartType != nullptr) Touch(sys() / name / "type", uartType);
    if (node) Touch(dev() / name);
  }

  std::vector<std::string> List() const { return SystemSerialPortsIn(sys().string(), dev().string()); }

  fs::path root;
};

TEST_F(PortTree, ListsRealAndPublishedVirtualPorts) {
  Tty("ttyUSB0", true);
  Tty("ttyACM1", true);
  Tty("ttyS0", true, true, "0\n");  // a legacy port without a UART
  Tty("ttyS1", true, true, "4\n");
  Tty("tty0", false);  // a console
  Tty("ptmx", false);
  Tty("ttyUSB9", true, false);  // gone from /dev
  Touch(dev() / "pts" / "3");
  Touch(dev() / "pts" / "4");  // a pseudo-terminal nobody published
  fs::create_symlink("pts/3", dev() / "ttyV0");
  fs::create_symlink(dev() / "pts" / "3", dev() / "ttyV1");
  fs::create_symlink("pts/9", dev() / "ttyGone");  // its terminal has ended
  fs::create_symlink("pts/ptmx", dev() / "ptmx-link");
  fs::create_symlink("/proc/self/fd/0", dev() / "stdin");
  fs::create_symlink("ttyUSB0", dev() / "modem");  // a link, but not to a pseudo-terminal

  EXPECT_EQ(List(), (std::vector<std::string>{"ttyACM1", "ttyS1", "ttyUSB0", "ttyV0", "ttyV1"}));
}

TEST_F(PortTree, OnlyNamesThatConnectingOpensAsThemselvesAreListed) {
  Touch(dev() / "pts" / "3");
  // Connecting keeps the first run of letters, digits, underscores, hyphens
  // and dots: these would open ttyV and ttyW instead.
  for (const char* name : {"ttyV 2", "ttyW(3)"}) fs::create_symlink("pts/3", dev() / name);
  for (const char* name : {"tty-sim", "tarvik.sim", "ttyUSB-1", "ttyV_4"})
    fs::create_symlink("pts/3", dev() / name);
  Tty("ttyS-1", true, true, "4\n");

  EXPECT_EQ(List(), (std::vector<std::string>{"tarvik.sim", "tty-sim", "ttyS-1", "ttyUSB-1", "ttyV_4"}));
}

TEST(PortNameOf, ABoxTextOpensItsFirstName) {
  const struct {
    const char* text;
    const char* name;
  } cases[] = {
      {"COM3 (USB Serial)", "COM3"}, {"COM12 - USB", "COM12"}, {"ttyV_4", "ttyV_4"},
      {"tty-sim", "tty-sim"},        {"  ttyUSB0", "ttyUSB0"}, {"", ""},
      {"tarvik.sim", "tarvik.sim"},  {"COM4: USB", "COM4"},
  };
  for (const auto& c : cases) EXPECT_EQ(PortNameOf(c.text), c.name) << c.text;
}

TEST_F(PortTree, MissingRootsGiveAnEmptyList) {
  EXPECT_TRUE(SystemSerialPortsIn((root / "none").string(), (root / "none").string()).empty());
  EXPECT_TRUE(List().empty());
}

TEST_F(PortTree, LinkToARealPseudoTerminalIsListedWhileItLives) {
  std::string path;
  {
    test::PtyPeer pty;
    path = pty.Path();
    fs::create_symlink(path, dev() / "ttyV7");
    EXPECT_EQ(List(), std::vector<std::string>{"ttyV7"});
  }
  // The terminal has ended (unless another process got its number since:
  // looked at after the listing, so a terminal made meanwhile is no failure).
  const std::vector<std::string> listed = List();
  if (!fs::exists(path)) {
    EXPECT_TRUE(listed.empty());
  }
}

// The stable name of a port where udev's database is not there to say it
// (as in this tree): the link of serial/by-id that leads to the port's
// device, the first by name when there are several.
TEST_F(PortTree, StableNameIsTheByIdLinkToThePortsDevice) {
  test::PtyPeer pty;
  test::PtyPeer other;
  fs::create_symlink(pty.Path(), dev() / "ttyV0");
  fs::create_symlink(other.Path(), dev() / "ttyV1");
  fs::create_directories(dev() / "serial" / "by-id");
  const fs::path byId = dev() / "serial" / "by-id";
  fs::create_symlink("../../ttyV0", byId / "usb-Tarvik_Bench_Adapter_0042-if00-port0");
  fs::create_symlink("../../ttyV0", byId / "usb-Tarvik_Bench_Adapter_0042-if01-port0");
  fs::create_symlink("../../ttyV1", byId / "usb-Other_Adapter_7-if00-port0");
  fs::create_symlink("../../ttyGone", byId / "usb-Gone_Adapter_1-if00-port0");

  struct Case {
    std::string name;
    std::string stableName;
  };
  const Case cases[] = {
      {"ttyV0", (byId / "usb-Tarvik_Bench_Adapter_0042-if00-port0").string()},
      {"ttyV1", (byId / "usb-Other_Adapter_7-if00-port0").string()},
      // Named by the by-id link itself.
      {"serial/by-id/usb-Other_Adapter_7-if00-port0", (byId / "usb-Other_Adapter_7-if00-port0").string()},
      {"ttyGone", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const SerialPortFacts facts = DescribeSerialPortIn(c.name, dev().string());
    EXPECT_EQ(facts.Name, c.name);
    EXPECT_EQ(facts.StableName, c.stableName);
    // No USB device above a pseudo-terminal.
    EXPECT_FALSE(facts.VendorId);
    EXPECT_EQ(facts.Manufacturer, "");
  }
}

// The system's reader on ports that are no USB adapters: a port on the board,
// a pseudo-terminal, a name that is not there, something that is no device.
// Each gives its name and no fact, and nothing fails.
TEST(SystemPorts, PortsWithoutFactsGiveTheirNameAlone) {
  test::PtyPeer pty;
  std::vector<std::string> names = {"ttyS0", "ttyS1", pty.DeviceName(), "tarvik-no-such-port", "null",
                                    "pts",   ""};
  for (const std::string& listed : SystemSerialPorts()) {
    if (listed.starts_with("ttyS")) names.push_back(listed);
  }
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const SerialPortFacts facts = DescribeSerialPort(name);
    EXPECT_EQ(facts.Name, name);
    EXPECT_FALSE(facts.VendorId);
    EXPECT_FALSE(facts.ProductId);
    EXPECT_EQ(facts.Manufacturer + facts.Product + facts.SerialNumber, "");
  }
  const std::vector<SerialPortFacts> all = DescribeSerialPorts();
  EXPECT_EQ(all.size(), SystemSerialPorts().size());
}

TEST(SystemPorts, ConsolesAreNeverListed) {
  for (const std::string& name : SystemSerialPorts()) {
    const bool virtualConsole = name == "tty" || (name.size() > 3 && name.rfind("tty", 0) == 0 &&
                                                  std::isdigit(static_cast<unsigned char>(name[3])));
    EXPECT_FALSE(virtualConsole || name == "console" || name == "ptmx") << name;
  }
}

}  // namespace
}  // namespace tarvik
