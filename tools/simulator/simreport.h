#pragma once
// What the simulated device saw during one session, for tests and the demo.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace tarvik::sim {

struct SimReport {
  // "firmware", "bootloader" or "staged": the mode the device was in at the end.
  std::string mode;
  // Every command in arrival order: the name after "+", but "W" + block
  // number for the write commands so a full image stays readable.
  std::vector<std::string> commands;
  // Block numbers of the writes that were stored, in order (retries repeat).
  std::vector<std::string> writes;
  // The received image: block number (four upper-case hex digits) to the
  // data hex digits of its group. Cleared by an erase.
  std::map<std::string, std::string> image;
  // Block numbers of writes whose check byte did not match their data.
  std::vector<std::string> checkErrors;
  // Write and commit commands that did not have the expected shape.
  std::vector<std::string> malformed;
  // Commands refused because the device was not in the mode that takes them.
  std::vector<std::string> refused;
  bool eraseSeen = false;
  // The image covers every record from block 0 to the highest one without a
  // gap, and an erase came before it (a staged device needs no erase).
  bool complete = false;
  std::size_t records = 0;
  std::string lastBlock;
  std::string highestBlock;
  // The value of the last commit command, and the one the stored groups call
  // for (four accumulators over the groups in block order).
  std::string commit;
  std::string expectedCommit;
  bool commitMatches = false;
  // How many times a configured fault changed or withheld an answer.
  std::uint32_t faultsApplied = 0;
  // Bytes in front of a "+" or on lines without one.
  std::uint32_t strayBytes = 0;
  bool hungUp = false;
  bool exitedAfterLast = false;

  std::string ToJson() const;
  // One line per block, "XXXX:hexdata", in block order.
  std::string ImageRecords() const;
};

// Fills complete, records, highestBlock, expectedCommit and commitMatches from
// the recorded facts.
void Summarise(SimReport& report, bool staged);

// XOR of the bytes written as upper-case hex digit pairs; -1 when the text is
// empty, of odd length or holds anything else.
int XorOfHexBytes(const std::string& hex);

bool WriteTextFile(const std::string& path, const std::string& text);

}  // namespace tarvik::sim
