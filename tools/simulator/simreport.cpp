#include "simulator/simreport.h"

#include <cstdio>
#include <fstream>

#include "common/text.h"

namespace tarvik::sim {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Hex2(int value) {
  char text[3];
  std::snprintf(text, sizeof text, "%02X", value & 0xFF);
  return text;
}

// Commands and answers are Windows-1251 bytes; JSON wants UTF-8.
std::string JsonString(const std::string& cp1251) {
  std::string out = "\"";
  for (char c : Cp1251ToUtf8(cp1251)) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04X", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string JsonList(const std::vector<std::string>& items) {
  std::string out = "[";
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += ", ";
    out += JsonString(items[i]);
  }
  return out + "]";
}

const char* JsonBool(bool value) { return value ? "true" : "false"; }

constexpr std::size_t kBlockDigits = 32;
constexpr unsigned kLastBlock = 0xFFFF;
const std::string kErasedBlock(kBlockDigits, 'F');

// Every block from 0000 to the highest one written, FF where nothing was.
std::vector<std::pair<std::string, std::string>> FlashBlocks(
    const std::map<std::string, std::string>& flash) {
  std::vector<std::pair<std::string, std::string>> blocks;
  if (flash.empty()) return blocks;
  const auto highest = static_cast<unsigned>(std::stoul(flash.rbegin()->first, nullptr, 16));
  for (unsigned block = 0; block <= highest; ++block) {
    const std::string key = Hex4(block);
    const auto found = flash.find(key);
    blocks.emplace_back(key, found == flash.end() ? kErasedBlock : found->second);
  }
  return blocks;
}

}  // namespace

int XorOfHexBytes(const std::string& hex) {
  if (hex.empty() || hex.size() % 2 != 0) return -1;
  int check = 0;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int high = HexDigit(hex[i]);
    const int low = HexDigit(hex[i + 1]);
    if (high < 0 || low < 0) return -1;
    check ^= high * 16 + low;
  }
  return check;
}

void Summarise(SimReport& report, bool staged) {
  report.records = 0;
  report.highestBlock.clear();
  bool contiguous = !report.image.empty();
  std::size_t expected = 0;
  int accumulators[4] = {0, 0, 0, 0};
  std::size_t group = 0;
  // The map is ordered by the fixed-width hex text, which is block order.
  for (const auto& [block, data] : report.image) {
    const auto number = static_cast<std::size_t>(std::stoul(block, nullptr, 16));
    if (number != expected || data.size() % 32 != 0) contiguous = false;
    expected = number + data.size() / 32;
    report.records += data.size() / 32;
    report.highestBlock = block;
    const int check = XorOfHexBytes(data);
    accumulators[(group % 8) / 2] ^= check < 0 ? 0 : check;
    ++group;
  }
  report.complete = contiguous && (report.eraseSeen || staged);
  report.expectedCommit.clear();
  for (int value : accumulators) report.expectedCommit += Hex2(value);
  report.commitMatches = !report.commit.empty() && report.commit == report.expectedCommit;
}

std::string SimReport::ImageRecords() const {
  std::string out;
  for (const auto& [block, data] : image) out += block + ":" + data + "\n";
  return out;
}

std::string SimReport::FlashRecords() const {
  std::string out;
  for (const auto& [block, data] : FlashBlocks(flash)) out += block + ":" + data + "\n";
  return out;
}

std::string ExpectedFlash(const std::vector<std::string>& imageLines) {
  std::map<std::string, std::string> flash;
  for (std::size_t line = 1; line < imageLines.size(); ++line) {
    const std::string& record = imageLines[line];
    const std::string data = record.size() > 11 ? record.substr(9, record.size() - 11) : std::string();
    ProgramFlash(flash, static_cast<unsigned>(line - 1), data.substr(0, kBlockDigits), true);
  }
  std::string out;
  for (const auto& [block, data] : FlashBlocks(flash)) out += block + ":" + data + "\n";
  return out;
}

void ProgramFlash(std::map<std::string, std::string>& flash, unsigned firstBlock, const std::string& data,
                  bool overwrite) {
  for (std::size_t at = 0; at < data.size(); at += kBlockDigits) {
    const unsigned block = firstBlock + static_cast<unsigned>(at / kBlockDigits);
    if (block > kLastBlock) return;
    std::string bytes = data.substr(at, kBlockDigits);
    bytes.resize(kBlockDigits, 'F');
    const std::string key = Hex4(block);
    const auto old = flash.find(key);
    if (!overwrite && old != flash.end()) {
      for (std::size_t i = 0; i < kBlockDigits; ++i) {
        const int mixed = HexDigit(bytes[i]) & HexDigit(old->second[i]);
        bytes[i] = "0123456789ABCDEF"[mixed < 0 ? 0 : mixed];
      }
    }
    flash[key] = bytes;
  }
}

std::string SimReport::ToJson() const {
  std::string out = "{\n";
  auto field = [&out](const char* name, const std::string& json, bool last = false) {
    out += "  \"";
    out += name;
    out += "\": " + json + (last ? "\n" : ",\n");
  };
  std::vector<std::string> blocks;
  for (const auto& entry : image) blocks.push_back(entry.first);
  field("mode", JsonString(mode));
  field("commands", JsonList(commands));
  field("writes", JsonList(writes));
  field("blocks", JsonList(blocks));
  field("records", std::to_string(records));
  field("eraseSeen", JsonBool(eraseSeen));
  field("complete", JsonBool(complete));
  field("lastBlock", JsonString(lastBlock));
  field("highestBlock", JsonString(highestBlock));
  field("checkErrors", JsonList(checkErrors));
  field("malformed", JsonList(malformed));
  field("refused", JsonList(refused));
  std::string flashJson = "{";
  for (const auto& [block, data] : FlashBlocks(flash)) {
    flashJson += (flashJson.size() > 1 ? ", " : "") + JsonString(block) + ": " + JsonString(data);
  }
  field("flash", flashJson + "}");
  field("commit", JsonString(commit));
  field("expectedCommit", JsonString(expectedCommit));
  field("commitMatches", JsonBool(commitMatches));
  field("faultsApplied", std::to_string(faultsApplied));
  field("strayBytes", std::to_string(strayBytes));
  field("versionAfter", JsonString(versionAfter));
  field("hungUp", JsonBool(hungUp));
  field("exitedAfterLast", JsonBool(exitedAfterLast), true);
  return out + "}\n";
}

bool WriteTextFile(const std::string& path, const std::string& text) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << text;
  return static_cast<bool>(file.flush());
}

std::string Hex4(unsigned value) {
  char text[5];
  std::snprintf(text, sizeof text, "%04X", value & 0xFFFFu);
  return text;
}

}  // namespace tarvik::sim
