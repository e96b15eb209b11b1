#pragma once
// A serial port shared over the network as a bench shares one: Debian's
// ser2net, started by the test on 127.0.0.1 in front of a device's
// pseudo-terminal, speaking Telnet with the COM port option or raw TCP.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>

#include "otherprogram.h"
#include "support/tempdir.h"

namespace tarvik::test {

// A port of 127.0.0.1 nobody listens on now.
inline std::uint16_t FreeTcpPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    throw std::runtime_error("no free TCP port");
  }
  ::close(fd);
  return ntohs(address.sin_port);
}

// The system's table shows a socket listening on the port of 127.0.0.1.
inline bool ListeningOn(std::uint16_t port) {
  std::ifstream table("/proc/net/tcp");
  std::string line;
  char wanted[32];
  std::snprintf(wanted, sizeof wanted, "0100007F:%04X", port);
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state;
    fields >> slot >> local >> remote >> state;
    if (local == wanted && state == "0A") return true;
  }
  return false;
}

class Ser2Net {
 public:
  enum class Kind { Rfc2217, Tcp };
  static const char* Scheme(Kind kind) { return kind == Kind::Rfc2217 ? "rfc2217" : "tcp"; }

  Ser2Net(const std::string& devicePath, Kind kind) : kind_(kind), port_(FreeTcpPort()) {
    const std::filesystem::path config = dir_.Path() / "ser2net.yaml";
    std::ofstream(config) << "connection: &device\n"
                          << "  accepter: " << (kind == Kind::Rfc2217 ? "telnet(rfc2217),tcp," : "tcp,")
                          << "127.0.0.1," << port_ << "\n"
                          << "  connector: serialdev," << devicePath << ",19200n81,local\n";
    program_.emplace(std::vector<std::string>{"/usr/sbin/ser2net", "-n", "-d", "-c", config.string()});
    const auto start = std::chrono::steady_clock::now();
    while (!ListeningOn(port_)) {
      if (std::chrono::steady_clock::now() - start > std::chrono::seconds(10)) {
        throw std::runtime_error("ser2net does not listen on " + std::to_string(port_));
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  // "rfc2217://127.0.0.1:PORT" or "tcp://127.0.0.1:PORT".
  std::string Address() const { return std::string(Scheme(kind_)) + "://127.0.0.1:" + std::to_string(port_); }
  // The server goes away, as a bench's server that is switched off.
  void End() { program_.reset(); }

 private:
  Kind kind_;
  std::uint16_t port_;
  TempDir dir_{"tarvik-ser2net"};
  std::optional<OtherProgram> program_;
};

}  // namespace tarvik::test
