#include "serial/seriallink.h"

namespace tarvik {

SerialLink::SerialLink(const std::string& portName, const LinkSettings& settings, Clock& clock,
                       commos::TOpenOptions openOptions)
    : port_(clock, std::move(openOptions)) {
  port_.SetDeviceName(portName);
  port_.SetBaudRate(settings.HighSpeed ? 115200 : 19200);
}

void SerialLink::Open() { port_.Open(); }

void SerialLink::Close() {
  if (port_.IsOpen()) port_.Close();
}

bool SerialLink::ReadAvailable(std::string& text) {
  bool got = false;
  std::string chunk;
  while (port_.IsOpen() && port_.QueueCount(0) != 0) {
    port_.ReadString(chunk);
    text += chunk;
    got = got || !chunk.empty();
  }
  return got;
}

}  // namespace tarvik
