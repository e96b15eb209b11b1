#pragma once
// A link over the network to a serial port that a server shares: raw bytes
// over TCP (tcp://HOST:PORT), or Telnet with the COM port option
// (rfc2217://HOST:PORT), which also sets the far port's line and switches its
// RTS as a local port would.
#include <atomic>
#include <bitset>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "serial/link.h"
#include "serial/netsocket.h"

namespace tarvik {

class NetLink final : public Link {
 public:
  NetLink(const LinkAddress& address, const LinkSettings& settings, Clock& clock);
  ~NetLink() override;
  NetLink(const NetLink&) = delete;
  NetLink& operator=(const NetLink&) = delete;

  void Open() override;
  void Close() override;
  bool IsOpen() const override { return socket_ != nullptr; }
  std::string Name() const override { return address_.Name(); }
  bool Write(const std::string& bytes) override;
  std::uint32_t InputCount() override;
  bool ReadAvailable(std::string& text) override;
  bool WaitInput(std::uint32_t realMs) override;
  void SetRts(bool on) override;
  void SetOnLost(LostHandler handler) override;

  // How long a server may take to accept the connection, and to confirm the
  // line settings.
  static constexpr std::uint32_t kConnectTimeoutMs = 5000;
  static constexpr std::uint32_t kSettingsTimeoutMs = 3000;

 private:
  bool Telnet() const { return address_.Kind == LinkKind::Rfc2217; }
  [[noreturn]] void FailOpen(TOpenFailure cause, const std::string& detail);
  void SetUpLine();
  void CheckSettings();
  // Takes what has arrived off the socket into data_, answering Telnet's
  // negotiation on the way.
  void Pump();
  void Decode(unsigned char byte);
  void Negotiated(unsigned char verb, unsigned char option);
  void SubNegotiated();
  // Sends the bytes as they are; how many went.
  std::uint32_t SendRaw(const std::string& bytes);
  void SendOption(unsigned char verb, unsigned char option);
  void SendComPort(unsigned char command, const std::string& value);
  void Watch();

  const LinkAddress address_;
  const LinkSettings settings_;
  Clock& clock_;
  std::unique_ptr<netos::TSocket> socket_;
  std::thread watcher_;
  std::atomic<bool> stopping_{false};
  mutable std::mutex hookMutex_;
  LostHandler onLost_;

  // Bytes from the device not yet read.
  std::string data_;
  // Where the Telnet decoder stands.
  enum class TelnetState : std::uint8_t { Data, Iac, Verb, Sub, SubIac };
  TelnetState state_ = TelnetState::Data;
  unsigned char verb_ = 0;
  std::string sub_;
  // What this end has said of each option, by verb (WILL, WONT, DO, DONT),
  // so that each is said once: Telnet's rule against negotiation loops.
  std::bitset<256> said_[4];
  bool comPortRefused_ = false;
  // The server's confirmations of the COM port settings, by command.
  std::map<unsigned char, std::string> answers_;
};

}  // namespace tarvik
