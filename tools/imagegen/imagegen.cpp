// Writes stand-in firmware images:
//
//   tarvik-imagegen <output directory>
//
// The images carry the real headers and record counts, but their data is
// pseudo-random: the real firmware is delivered separately by each
// deployment. The output is the same on every run and every machine. The
// device types they belong to are the table in firmware/devicetypes.h.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>

#include "firmware/firmwareversion.h"

namespace {

struct ImageSpec {
  std::string_view header;
  int records;
};

constexpr ImageSpec kImages[] = {
    {"VER 14.001.042", 1568},   {"VER 14.002.028", 952},    {"VER QTT1.001.001", 944},
    {"VER QTT1.001.002", 952},  {"VER QTT3.003.001", 928},  {"VER 14.003.037", 912},
    {"VER 14.003.039", 1088},   {"VER QLT1.001.001", 1088}, {"VER 14.004.015", 968},
    {"VER 14.004.016", 1072},   {"VER 14.005.003", 1000},   {"VER QZT1.005.001", 992},
    {"VER 14.007.003", 1368},   {"VER 14.007.004", 1456},   {"VER 14.007.005", 1520},
    {"VER 14.007.006", 1528},   {"VER 14.007.007", 1528},   {"VER 14.007.008", 1664},
    {"VER 14.007.010", 1672},   {"VER 14.007.011", 1696},   {"VER 14.008.002", 952},
    {"VER QEVQ1.002.001", 944}, {"VER 14.009.002", 1000},   {"VER QHT1.002.001", 992},
    {"VER 14.004.017", 1072},   {"VER 14.004.018", 1072},
};

// splitmix64: small, fast and identical on every platform.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint8_t NextByte() {
    if (left_ == 0) {
      std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
      z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
      z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
      word_ = z ^ (z >> 31);
      left_ = 8;
    }
    const auto b = static_cast<std::uint8_t>(word_ & 0xFF);
    word_ >>= 8;
    --left_;
    return b;
  }

 private:
  std::uint64_t state_;
  std::uint64_t word_ = 0;
  int left_ = 0;
};

void AppendHex(std::string& out, unsigned value, int digits) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) out += kDigits[(value >> shift) & 0xF];
}

// The closing byte is deliberately not the Intel HEX checksum: nothing may
// rely on it, and a tool that checks it must fail on these files.
std::string Record(unsigned address, Random& random) {
  std::string line = ":10";
  AppendHex(line, address, 4);
  line += "00";
  unsigned sum = 0x10 + (address >> 8) + (address & 0xFF);
  for (int i = 0; i < 16; ++i) {
    const std::uint8_t b = random.NextByte();
    sum += b;
    AppendHex(line, b, 2);
  }
  const unsigned checksum = (0x100 - (sum & 0xFF)) & 0xFF;
  AppendHex(line, checksum ^ 0x5A, 2);
  return line;
}

bool WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.flush();
  if (!out) {
    std::cerr << "cannot write " << path.string() << '\n';
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: tarvik-imagegen <output directory>\n";
    return 2;
  }
  const std::filesystem::path dir = argv[1];
  std::error_code ec;
  std::filesystem::create_directories(dir / "images", ec);
  if (ec) {
    std::cerr << "cannot create " << (dir / "images").string() << ": " << ec.message() << '\n';
    return 1;
  }

  constexpr int kImageCount = static_cast<int>(std::size(kImages));
  // An image of a type the program does not know would never be offered.
  for (const ImageSpec& image : kImages) {
    if (tarvik::KnownTypeNumber(tarvik::ParseVersion(image.header).TypeNumber) == 0) {
      std::cerr << "no device type for " << image.header << '\n';
      return 1;
    }
  }
  for (int i = 0; i < kImageCount; ++i) {
    Random random(0x5441525649ull * 1000 + static_cast<std::uint64_t>(i + 1));
    std::string text = std::string(kImages[i].header) + "\r\n";
    text.reserve(static_cast<std::size_t>(kImages[i].records) * 45 + 32);
    for (int r = 0; r < kImages[i].records; ++r)
      text += Record(static_cast<unsigned>(r) * 16, random) + "\r\n";
    char name[16];
    std::snprintf(name, sizeof name, "%03d.hex", i + 1);
    if (!WriteFile(dir / "images" / name, text)) return 1;
  }
  return 0;
}
