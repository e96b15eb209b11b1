#pragma once
// A link over a local serial port: the serial component configured for the
// devices' line.
#include <string>

#include "serial/link.h"
#include "serial/xcomdrv.h"

namespace tarvik {

class SerialLink final : public Link {
 public:
  // portName as the port opens it ("ttyUSB0", "pts/3", "COM3").
  SerialLink(const std::string& portName, const LinkSettings& settings, Clock& clock,
             commos::TOpenOptions openOptions = {});

  void Open() override;
  void Close() override;
  bool IsOpen() const override { return port_.IsOpen(); }
  std::string Name() const override { return port_.DeviceName(); }
  bool Write(const std::string& bytes) override { return port_.WriteString(bytes); }
  std::uint32_t InputCount() override { return port_.QueueCount(0); }
  bool ReadAvailable(std::string& text) override;
  bool WaitInput(std::uint32_t realMs) override { return port_.WaitInput(realMs); }
  void SetRts(bool on) override { port_.SetRTS(on); }
  void SetOnLost(LostHandler handler) override { port_.SetOnWatcherEnd(std::move(handler)); }

  // The component under the link.
  TXComm& Port() { return port_; }

 private:
  TXComm port_;
};

}  // namespace tarvik
