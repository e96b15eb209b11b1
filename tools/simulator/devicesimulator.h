#pragma once
// One simulated device on a pseudo-terminal: it answers the tool's commands
// the way a sensor, its bootloader or a type-10 panel does, records what it
// received and can misbehave on purpose. Runs on its own thread.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "common/clock.h"
#include "simulator/simreport.h"

namespace tarvik::sim {

enum class FaultKind {
  Silence,    // no answer at all
  Garbage,    // random bytes that never spell "ok" in any case
  NoOk,       // the usual answer with every "OK" taken out
  WrongEcho,  // a write answered with the echo of another block number
  Slow,       // the usual answer after delayMs
  NoCarrier,  // "NO CARRIER" instead of the answer
  HangUp,     // the pseudo-terminal is closed once the command was handled
  LowerEcho,  // a write echoed with its hex letters in lower case
  // The usual answer in two pieces with a pause of delayMs between them, cut
  // at splitAt.
  Split,
  // The usual answer (a write's echo first) with a "NO CARRIER" line before
  // its closing "OK": the line went down just after the device answered.
  EchoNoCarrier,
  // "+v" answered as before the reflash, whatever was written since: a
  // device that kept running its old firmware.
  StaleVersion,
};

struct Fault {
  FaultKind kind = FaultKind::Silence;
  // "" matches every command, "W" every write, "EE" every commit, "W" and
  // four hex digits the writes of that block ("W0008"), any other text the
  // command name exactly ("v", "un", "BL", "BE"). A wrong or lower-case echo
  // with no command given applies to the writes.
  std::string command;
  // 0: every matching command; n: only the n-th matching one (counted from 1).
  std::uint32_t nth = 0;
  // Slow: how long the answer is held back; split: the pause between its
  // two pieces.
  std::uint32_t delayMs = 0;
  // Split: how many bytes of the answer go before the pause; negative counts
  // from its end; 0 cuts it in the middle. Each piece keeps at least a byte.
  std::int32_t splitAt = 0;
  // The device never carried the command out (it did not hear it whole, or
  // failed to program it): nothing is stored, erased or switched, and the
  // answer is what the other faults on it make of the usual one.
  bool lost = false;
};

// Reads KIND[@CMD][#N][=MS][!], for example "silence@un", "wrong-echo#3",
// "slow=300@v", "hangup#5", "silence!@W0008#2" or "split=400/-2@W"; kinds:
// silence, garbage, no-ok, wrong-echo, slow, no-carrier, hangup, lower-echo,
// split, echo-no-carrier. "!" marks the command as lost; split takes =MS/AT,
// AT as splitAt. The parts after KIND may come in any order.
bool ParseFault(const std::string& faultText, Fault& fault, std::string& error);
// The text ParseFault reads back into the same fault.
std::string FaultText(const Fault& fault);
// A count or a time of up to nine decimal digits, nothing else.
bool ParseDecimal(const std::string& text, std::uint32_t& value);
const char* FaultKindName(FaultKind kind);

struct SimOptions {
  // First line of the "+v" answer outside the bootloader: a numeric line such
  // as "VER 14.002.020" or a family line such as "QTT1.001.002".
  std::string version = "VER 14.002.020";
  // The "+v" answer in bootloader mode; the tool looks for "BootLdr".
  std::string banner = "BootLdr v1.0";
  // Model code of the "+un" answer, which reads "UN: " + code + CR LF + "OK".
  std::string unitName = "QTT1";
  // The device sits in its bootloader from the start.
  bool startInBootloader = false;
  // A type-10 device: writes are taken without "BL" and echoed with all four
  // digits of the block number, and the commit command "EE" is accepted.
  bool staged = false;
  // Refuse "BE" and writes outside the bootloader (a staged device takes
  // writes anyway), as a real device does.
  bool requireBootloader = true;
  // How long "BE" takes before it is answered.
  std::uint32_t eraseMs = 2000;
  // How long programming a stored group takes before its echo is sent.
  std::uint32_t writeLatencyMs = 0;
  // Digits of the block number in a write's echo: 0 takes the mode's own
  // (3 in the bootloader, 4 on a staged device); 1 to 4 echo that many of
  // its last digits, as a device with other firmware might.
  std::uint32_t echoDigits = 0;
  // Commands are taken and answers leave at once instead of at 19200 bit/s,
  // 10 bits a byte.
  bool unpaced = false;
  // A symbolic link to the slave side, made at Start and removed at Stop, so
  // the port list can show the device under a fixed name.
  std::string linkPath;
  // Stop serving once block 0000 was written in bootloader mode (or, staged,
  // once the commit was answered) with an unspoiled answer; the master side
  // is closed after the tool has read that answer.
  bool exitAfterLast = false;
  std::vector<Fault> faults;
  // The flash the device starts with, as SimReport::flash holds it: a device
  // that an earlier session left half written.
  std::map<std::string, std::string> initialFlash;
  // After a complete reflash the device starts the firmware it was written,
  // and "+v" answers its version line: this text when given, else the
  // header of the known image whose data the flash now holds. Without
  // either it stays as it was (in its bootloader after a reflash there).
  std::string versionAfter;
  // Images the device knows by their data: a header line, then records. Not
  // owned; they must outlive the simulator.
  const std::vector<std::vector<std::string>>* knownImages = nullptr;
  // Seed of the garbage bytes, so a failing run can be repeated.
  std::uint32_t seed = 1;
  // Erase time, write latency and slow answers are waited on this clock; the wire rate is a
  // property of the line and always uses real time. nullptr: SystemClock().
  Clock* clock = nullptr;
};

class DeviceSimulator {
 public:
  explicit DeviceSimulator(SimOptions options);
  ~DeviceSimulator();
  DeviceSimulator(const DeviceSimulator&) = delete;
  DeviceSimulator& operator=(const DeviceSimulator&) = delete;

  // Opens the pseudo-terminal, makes the link and starts serving. False with
  // Error() set when the terminal or the link cannot be made.
  bool Start();
  // Ends serving, closes the terminal and removes the link. The report stays
  // readable afterwards. Safe to call twice.
  void Stop();

  const std::string& SlavePath() const { return slavePath_; }
  const std::string& Error() const { return error_; }
  // A snapshot, summarised; callable from any thread at any time.
  SimReport Report() const;
  // True once the device stopped serving by itself (hang-up fault or
  // exitAfterLast).
  bool Finished() const { return finished_.load(); }
  // Waits in real time until done(report) holds, re-checked after every
  // command; false on time-out.
  bool WaitUntil(const std::function<bool(const SimReport&)>& done, std::uint32_t timeoutMs) const;
  bool WaitFinished(std::uint32_t timeoutMs) const;
  // Waits in real time until every command the tool has sent so far has been
  // handled (one that is still being answered, or still on the line behind
  // it, included), so that the report is whole; false on time-out.
  bool WaitIdle(std::uint32_t timeoutMs) const;
  // Bytes from the tool wait to be read, or a command is being handled (its
  // answer's pauses included): what WaitIdle waits out.
  bool Working() const;

 private:
  struct Answer {
    std::string text;
    std::string key;    // what the faults match against
    std::string block;  // a write's block number, empty otherwise
    bool last = false;  // the answer that ends the upload when exitAfterLast is set
  };

  void Run();
  void HandleLine(const std::string& line);
  Answer Process(const std::string& name);
  // A command the device did not carry out: only recorded.
  Answer Lost(const std::string& name);
  Answer ProcessWrite(const std::string& name);
  Answer ProcessCommit(const std::string& name);
  // The echo of a stored write: the last digits of its block number.
  std::string Echo(const std::string& block) const;
  void Send(const std::string& text);
  // Sends the answer in two pieces with a pause between them.
  void SendSplit(const std::string& text, const Fault& split);
  bool WriteAll(const char* data, std::size_t size);
  // Waits on the options' clock in short slices so Stop is not held up.
  void Wait(std::uint32_t ms);
  void DrainThenClose();
  void CloseLine();
  void CloseAll();
  void Record(const std::function<void(SimReport&)>& change);
  std::string Garbage();

  SimOptions options_;
  Clock& clock_;
  std::string slavePath_;
  std::string error_;
  int master_ = -1;
  // Kept open so the terminal keeps its raw settings and the master never
  // sees a hang-up while the tool has the port closed.
  int slave_ = -1;
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  bool linkMade_ = false;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> finished_{false};
  // Taking or answering commands; set before the bytes leave the line.
  std::atomic<bool> busy_{false};
  // Once a complete reflash told it: "+v" answers this (see versionAfter).
  void StartWrittenFirmware();

  bool bootloader_ = false;
  // What "+v" answers outside the bootloader now.
  std::string version_;
  std::vector<std::uint32_t> faultCounts_;
  std::mt19937 random_;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  SimReport report_;
};

}  // namespace tarvik::sim
