#include "serial/link.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "portwaits.h"
#include "serial/deviceerror.h"

namespace tarvik {
namespace {

using test::CatchDeviceError;

// What the user types, in the connection dialog's box or after --port, and
// what opens.
TEST(LinkAddress, TextsAndWhatTheyOpen) {
  struct Case {
    const char* text;
    LinkAddress address;
  };
  auto net = [](LinkKind kind, const char* host, std::uint16_t port) {
    return LinkAddress{.Kind = kind, .Port = "", .Host = host, .TcpPort = port};
  };
  const Case cases[] = {
      {"ttyUSB0", SerialPortAddress("ttyUSB0")},
      {"/dev/ttyUSB0", SerialPortAddress("ttyUSB0")},
      {"COM3 (USB Serial)", SerialPortAddress("COM3")},
      {"", SerialPortAddress("")},
      {"rfc2217://127.0.0.1:4000", net(LinkKind::Rfc2217, "127.0.0.1", 4000)},
      {"RFC2217://bench-7:2217/", net(LinkKind::Rfc2217, "bench-7", 2217)},
      {"tcp://localhost:65535", net(LinkKind::Tcp, "localhost", 65535)},
      {"tcp://[::1]:1", net(LinkKind::Tcp, "::1", 1)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const ParsedLinkAddress parsed = ParseLinkAddress(c.text);
    EXPECT_TRUE(parsed.Ok());
    EXPECT_EQ(parsed.Address, c.address);
    EXPECT_EQ(parsed.Take(), c.address);
  }
  EXPECT_EQ(net(LinkKind::Rfc2217, "bench-7", 2217).Name(), "rfc2217://bench-7:2217");
  EXPECT_EQ(net(LinkKind::Tcp, "::1", 1).Name(), "tcp://[::1]:1");
  EXPECT_EQ(SerialPortAddress("pts/3").Name(), "pts/3");
}

// A malformed address says what is wrong with it, and opening it fails as a
// port that cannot be opened would, before anything is reached.
TEST(LinkAddress, MalformedAddressesNameTheirCause) {
  struct Case {
    const char* text;
    LinkAddressError error;
    const char* message;
  };
  const Case cases[] = {
      {"ftp://host:21", LinkAddressError::UnknownScheme,
       "Cannot open device ftp://host:21: bad address (unknown kind of link (rfc2217:// or tcp:// "
       "expected))"},
      {"tcp://:4000", LinkAddressError::NoHost,
       "Cannot open device tcp://:4000: bad address (no host in the address)"},
      {"tcp://host", LinkAddressError::NoPort,
       "Cannot open device tcp://host: bad address (no port in the address)"},
      {"rfc2217://host:", LinkAddressError::NoPort,
       "Cannot open device rfc2217://host:: bad address (no port in the address)"},
      {"tcp://host:http", LinkAddressError::PortNotANumber,
       "Cannot open device tcp://host:http: bad address (the port in the address is not a number)"},
      {"tcp://host:-1", LinkAddressError::PortNotANumber,
       "Cannot open device tcp://host:-1: bad address (the port in the address is not a number)"},
      {"tcp://host:0", LinkAddressError::PortOutOfRange,
       "Cannot open device tcp://host:0: bad address (the port in the address is out of range (1 to 65535))"},
      {"tcp://host:65536", LinkAddressError::PortOutOfRange,
       "Cannot open device tcp://host:65536: bad address (the port in the address is out of range (1 to "
       "65535))"},
      {"tcp://host:99999999999999999999", LinkAddressError::PortOutOfRange, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const ParsedLinkAddress parsed = ParseLinkAddress(c.text);
    EXPECT_FALSE(parsed.Ok());
    EXPECT_EQ(parsed.Error, c.error);
    const EDeviceError e = CatchDeviceError([&] { parsed.Take(); });
    EXPECT_EQ(e.ErrorCode, ecCannotOpen);
    EXPECT_EQ(e.OpenFailure, TOpenFailure::BadAddress);
    EXPECT_EQ(e.Port, c.text);
    if (c.message != nullptr) {
      EXPECT_STREQ(e.what(), c.message);
    }
  }
}

// One reading of a port's text for the windows and the command line: the
// device names, paths and descriptions either may be given.
TEST(PortNameOf, NamesPathsAndDescriptions) {
  const std::string here = std::filesystem::current_path().lexically_normal().generic_string();
  const struct {
    std::string text;
    std::string name;
  } cases[] = {
      {"/dev/ttyUSB0", "ttyUSB0"},
      {"/dev/pts/7", "pts/7"},
      {"\\\\.\\COM12", "COM12"},
      {"/tmp/bench/ttyV0", "../tmp/bench/ttyV0"},
      {"./run/t1", ".." + here + "/run/t1"},
      {"run/t1", ".." + here + "/run/t1"},
      {"COM3 (USB/RS-232)", "COM3"},
      {"\tCOM4", "COM4"},
  };
  for (const auto& c : cases) EXPECT_EQ(PortNameOf(c.text), c.name) << c.text;
}

}  // namespace
}  // namespace tarvik
