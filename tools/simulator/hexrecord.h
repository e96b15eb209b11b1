#pragma once
// Intel HEX records for the files a simulated device is flashed from: the
// tests, the benchmarks and the demonstration road write their files with
// this one writer.
#include <cstdio>
#include <string>
#include <string_view>

namespace tarvik::sim {

// One record with its byte count and checksum worked out; data as hex
// digits, two per byte.
inline std::string HexRecord(unsigned address, unsigned type, std::string_view data) {
  const unsigned count = static_cast<unsigned>(data.size() / 2);
  unsigned sum = count + ((address >> 8) & 0xFF) + (address & 0xFF) + type;
  for (std::size_t i = 0; i + 1 < data.size(); i += 2)
    sum += static_cast<unsigned>(std::stoul(std::string(data.substr(i, 2)), nullptr, 16));
  char head[10];
  char tail[3];
  std::snprintf(head, sizeof head, ":%02X%04X%02X", count & 0xFF, address & 0xFFFF, type & 0xFF);
  std::snprintf(tail, sizeof tail, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
  return head + std::string(data) + tail;
}

}  // namespace tarvik::sim
