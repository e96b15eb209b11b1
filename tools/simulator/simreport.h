#pragma once
// What the simulated device saw during one session, for tests and the demo.
#include <cstdint>
#include <map>
#include <string>
#include <utility>
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
  // The device's flash as the writes left it: block number (four upper-case
  // hex digits) to its 16 bytes as 32 upper-case hex digits. A block that is
  // not here reads FF; an erase clears it all. In the bootloader a write
  // programs over what the block holds, so bits only go from 1 to 0 until the
  // next erase, as on a real flash; a staged device keeps the upload as sent.
  std::map<std::string, std::string> flash;
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
  // Which fault met which command: its index in commands and the fault's
  // kind name, with "!" after it when the command was lost.
  std::vector<std::pair<std::size_t, std::string>> faultLog;
  // Bytes in front of a "+" or on lines without one.
  std::uint32_t strayBytes = 0;
  // The version line "+v" answers after a complete reflash; empty until one.
  std::string versionAfter;
  bool hungUp = false;
  bool exitedAfterLast = false;

  std::string ToJson() const;
  // One line per written group, "XXXX:hexdata", in block order.
  std::string ImageRecords() const;
  // One line per 16-byte block, "XXXX:" + 32 hex digits, from block 0000 to
  // the highest one written, blocks never written reading all FF; empty when
  // nothing was written. ExpectedFlash gives the same lines for an image.
  std::string FlashRecords() const;
};

// The flash an image leaves on a device when it is written whole: line k of
// the image (its header is line 0) becomes block k - 1, its data digits
// (characters 10 to 41) the block's bytes. Lines in the format of
// FlashRecords, so the two compare as text.
std::string ExpectedFlash(const std::vector<std::string>& imageLines);

// Programs data (hex digits, 32 a block, the last block filled up with FF)
// into the flash from the given block on; blocks past FFFF are dropped.
// overwrite false: bits only go from 1 to 0, as on a flash that is not erased
// first.
void ProgramFlash(std::map<std::string, std::string>& flash, unsigned firstBlock, const std::string& data,
                  bool overwrite);

// Fills complete, records, highestBlock, expectedCommit and commitMatches from
// the recorded facts.
void Summarise(SimReport& report, bool staged);

// XOR of the bytes written as upper-case hex digit pairs; -1 when the text is
// empty, of odd length or holds anything else.
int XorOfHexBytes(const std::string& hex);

// A block number as the write commands carry it: four upper-case hex digits.
std::string Hex4(unsigned value);

bool WriteTextFile(const std::string& path, const std::string& text);

}  // namespace tarvik::sim
