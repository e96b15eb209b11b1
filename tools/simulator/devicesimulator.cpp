#include "simulator/devicesimulator.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace tarvik::sim {
namespace {

// 19200 bit/s with a start bit, 8 data bits and a stop bit.
constexpr double kByteMicros = 10.0 * 1'000'000.0 / 19200.0;
// Bytes written together when pacing: about 2 ms of wire time.
constexpr std::size_t kPaceChunk = 4;
// A line longer than this is noise, not a command (a full write is 137).
constexpr std::size_t kMaxLine = 4096;
constexpr std::size_t kMaxRecordedName = 40;

const char kOk[] = "OK\r\n";
const char kError[] = "ERROR\r\n";
const char kCheckError[] = "ERR CHECK\r\n";
const char kLineEnd[] = "\r\nOK\r\n";

bool IsUpperHex(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
  });
}

std::string Capped(const std::string& name) { return name.substr(0, kMaxRecordedName); }

std::string ModeName(bool staged, bool bootloader) {
  if (staged) return "staged";
  return bootloader ? "bootloader" : "firmware";
}

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

struct FaultKindText {
  FaultKind kind;
  const char* name;
};

constexpr FaultKindText kFaultKinds[] = {
    {FaultKind::Silence, "silence"},
    {FaultKind::Garbage, "garbage"},
    {FaultKind::NoOk, "no-ok"},
    {FaultKind::WrongEcho, "wrong-echo"},
    {FaultKind::Slow, "slow"},
    {FaultKind::NoCarrier, "no-carrier"},
    {FaultKind::HangUp, "hangup"},
    {FaultKind::LowerEcho, "lower-echo"},
    {FaultKind::Split, "split"},
    {FaultKind::EchoNoCarrier, "echo-no-carrier"},
    {FaultKind::StaleVersion, "stale-version"},
};

constexpr const char* kFaultMarks = "@#=!";
const char kNoCarrierLine[] = "NO CARRIER\r\n";

// The flash holds the image's records, block k the data of line k + 1.
bool FlashHolds(const std::map<std::string, std::string>& flash, const std::vector<std::string>& image) {
  constexpr std::size_t kDataAt = 9;
  constexpr std::size_t kDataDigits = 32;
  for (std::size_t line = 1; line < image.size(); ++line) {
    const auto block = flash.find(Hex4(static_cast<unsigned>(line - 1)));
    const std::string& record = image[line];
    if (block == flash.end() || record.size() < kDataAt + kDataDigits) return false;
    for (std::size_t i = 0; i < kDataDigits; ++i) {
      if (std::toupper(static_cast<unsigned char>(record[kDataAt + i])) != block->second[i]) return false;
    }
  }
  return true;
}

// What the faults match a command by: "W" for a write, "EE" for a commit,
// the name for anything else.
std::string KeyOf(const std::string& name) {
  if (name.rfind("W", 0) == 0) return "W";
  if (name.rfind("EE", 0) == 0) return "EE";
  return name;
}

}  // namespace

const char* FaultKindName(FaultKind kind) {
  for (const auto& entry : kFaultKinds) {
    if (entry.kind == kind) return entry.name;
  }
  return "?";
}

bool ParseDecimal(const std::string& text, std::uint32_t& value) {
  if (text.empty() || text.size() > 9 ||
      !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return false;
  }
  value = static_cast<std::uint32_t>(std::stoul(text));
  return true;
}

namespace {

// A byte offset: an optional minus sign and up to nine digits.
bool ParseSigned(const std::string& text, std::int32_t& value) {
  const bool negative = !text.empty() && text.front() == '-';
  std::uint32_t magnitude = 0;
  if (!ParseDecimal(negative ? text.substr(1) : text, magnitude)) return false;
  value = negative ? -static_cast<std::int32_t>(magnitude) : static_cast<std::int32_t>(magnitude);
  return true;
}

}  // namespace

bool ParseFault(const std::string& faultText, Fault& fault, std::string& error) {
  const auto end = faultText.find_first_of(kFaultMarks);
  const std::string kindText = faultText.substr(0, end);
  const auto* found = std::find_if(std::begin(kFaultKinds), std::end(kFaultKinds),
                                   [&](const FaultKindText& entry) { return kindText == entry.name; });
  if (found == std::end(kFaultKinds)) {
    error = "unknown fault kind \"" + kindText + "\"";
    return false;
  }
  Fault result;
  result.kind = found->kind;
  const bool timed = result.kind == FaultKind::Slow || result.kind == FaultKind::Split;
  bool haveDelay = false;
  std::size_t pos = end;
  while (pos != std::string::npos) {
    const char mark = faultText[pos];
    const auto next = faultText.find_first_of(kFaultMarks, pos + 1);
    const std::string value = faultText.substr(pos + 1, next == std::string::npos ? next : next - pos - 1);
    if (mark == '!') {
      if (!value.empty()) {
        error = "\"!\" takes no value in \"" + faultText + "\"";
        return false;
      }
      result.lost = true;
    } else if (mark == '@') {
      if (value.empty()) {
        error = "empty command name in \"" + faultText + "\"";
        return false;
      }
      result.command = value;
    } else if (mark == '#') {
      if (!ParseDecimal(value, result.nth) || result.nth == 0) {
        error = "bad count in \"" + faultText + "\" (want #1, #2, ...)";
        return false;
      }
    } else {
      const auto slash = result.kind == FaultKind::Split ? value.find('/') : std::string::npos;
      if (!ParseDecimal(value.substr(0, slash), result.delayMs) ||
          (slash != std::string::npos && !ParseSigned(value.substr(slash + 1), result.splitAt))) {
        error = "bad delay in \"" + faultText + "\" (want =MS" +
                (result.kind == FaultKind::Split ? " or =MS/AT)" : ")");
        return false;
      }
      haveDelay = true;
    }
    pos = next;
  }
  if (timed && !haveDelay) {
    error = kindText + " needs a delay, e.g. " + kindText + "=300";
    return false;
  }
  if (!timed && haveDelay) {
    error = "only slow and split take a delay";
    return false;
  }
  fault = result;
  return true;
}

std::string FaultText(const Fault& fault) {
  std::string text = FaultKindName(fault.kind);
  if (fault.kind == FaultKind::Slow || fault.kind == FaultKind::Split) {
    text += "=" + std::to_string(fault.delayMs);
    if (fault.kind == FaultKind::Split && fault.splitAt != 0) text += "/" + std::to_string(fault.splitAt);
  }
  if (fault.lost) text += "!";
  if (!fault.command.empty()) text += "@" + fault.command;
  if (fault.nth != 0) text += "#" + std::to_string(fault.nth);
  return text;
}

DeviceSimulator::DeviceSimulator(SimOptions options)
    : options_(std::move(options)),
      clock_(options_.clock != nullptr ? *options_.clock : SystemClock()),
      faultCounts_(options_.faults.size(), 0),
      random_(options_.seed) {
  bootloader_ = options_.startInBootloader;
  version_ = options_.version;
  report_.mode = ModeName(options_.staged, bootloader_);
  report_.flash = options_.initialFlash;
}

DeviceSimulator::~DeviceSimulator() { Stop(); }

bool DeviceSimulator::Start() {
  if (thread_.joinable() || master_ >= 0) {
    error_ = "already started";
    return false;
  }
  auto fail = [this](const std::string& what) {
    error_ = what + ": " + std::strerror(errno);
    CloseAll();
    return false;
  };
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0) return fail("posix_openpt");
  if (::grantpt(master_) != 0) return fail("grantpt");
  if (::unlockpt(master_) != 0) return fail("unlockpt");
  char name[128];
  if (::ptsname_r(master_, name, sizeof name) != 0) return fail("ptsname_r");
  slavePath_ = name;
  if (::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK) != 0) return fail("fcntl");

  slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave_ < 0) return fail("open " + slavePath_);
  termios raw{};
  if (::tcgetattr(slave_, &raw) != 0) return fail("tcgetattr");
  ::cfmakeraw(&raw);
  ::cfsetispeed(&raw, B19200);
  ::cfsetospeed(&raw, B19200);
  if (::tcsetattr(slave_, TCSANOW, &raw) != 0) return fail("tcsetattr");

  int wake[2];
  if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) return fail("pipe2");
  wakeRead_ = wake[0];
  wakeWrite_ = wake[1];

  if (!options_.linkPath.empty()) {
    struct stat st {};
    if (::lstat(options_.linkPath.c_str(), &st) == 0) {
      // A link left behind by an earlier run that was killed is replaced.
      if (!S_ISLNK(st.st_mode)) {
        errno = EEXIST;
        return fail(options_.linkPath + " exists and is not a link");
      }
      ::unlink(options_.linkPath.c_str());
    }
    if (::symlink(slavePath_.c_str(), options_.linkPath.c_str()) != 0)
      return fail("symlink " + options_.linkPath);
    linkMade_ = true;
  }

  stop_ = false;
  thread_ = std::thread([this] { Run(); });
  return true;
}

void DeviceSimulator::Stop() {
  if (thread_.joinable()) {
    stop_ = true;
    if (wakeWrite_ >= 0) {
      [[maybe_unused]] auto written = ::write(wakeWrite_, "x", 1);
    }
    thread_.join();
  }
  CloseAll();
}

void DeviceSimulator::CloseLine() {
  // WaitIdle looks at the master from another thread.
  std::lock_guard lock(mutex_);
  CloseFd(master_);
  CloseFd(slave_);
}

void DeviceSimulator::CloseAll() {
  CloseLine();
  CloseFd(wakeRead_);
  CloseFd(wakeWrite_);
  if (linkMade_) {
    // Only our own link goes: another run may have taken the name meanwhile.
    char target[256];
    const auto size = ::readlink(options_.linkPath.c_str(), target, sizeof target - 1);
    if (size > 0 && std::string(target, static_cast<std::size_t>(size)) == slavePath_) {
      ::unlink(options_.linkPath.c_str());
    }
    linkMade_ = false;
  }
}

SimReport DeviceSimulator::Report() const {
  std::lock_guard lock(mutex_);
  SimReport copy = report_;
  Summarise(copy, options_.staged);
  return copy;
}

bool DeviceSimulator::WaitUntil(const std::function<bool(const SimReport&)>& done,
                                std::uint32_t timeoutMs) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
    SimReport copy = report_;
    Summarise(copy, options_.staged);
    return done(copy);
  });
}

bool DeviceSimulator::WaitFinished(std::uint32_t timeoutMs) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return finished_.load(); });
}

bool DeviceSimulator::Working() const {
  if (busy_.load()) return true;
  std::lock_guard lock(mutex_);
  int pending = 0;
  // A closed line has nothing more to bring.
  return master_ >= 0 && ::ioctl(master_, FIONREAD, &pending) == 0 && pending != 0;
}

bool DeviceSimulator::WaitIdle(std::uint32_t timeoutMs) const {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (!Working()) return true;
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void DeviceSimulator::Record(const std::function<void(SimReport&)>& change) {
  {
    std::lock_guard lock(mutex_);
    change(report_);
  }
  changed_.notify_all();
}

void DeviceSimulator::Run() {
  std::string line;
  char buffer[512];
  // When the first byte of the line came: a device on a real line sees the
  // end of a command only after all its bytes have crossed the wire.
  std::chrono::steady_clock::time_point lineStart;
  while (!stop_ && !finished_) {
    pollfd fds[2] = {{master_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
    const int ready = ::poll(fds, 2, -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[1].revents != 0) break;
    if ((fds[0].revents & POLLIN) == 0) {
      // Nothing to read yet the master is flagged: do not spin on it.
      ::poll(&fds[1], 1, 20);
      continue;
    }
    busy_ = true;
    const auto count = ::read(master_, buffer, sizeof buffer);
    if (count <= 0) {
      busy_ = false;
      continue;
    }
    const auto arrived = std::chrono::steady_clock::now();
    for (ssize_t i = 0; i < count && !stop_ && !finished_; ++i) {
      const char c = buffer[i];
      if (c == '\r' || c == '\n') {
        // The port search ends its probe with CR LF; the LF makes an empty line.
        if (!line.empty()) {
          if (!options_.unpaced) {
            std::this_thread::sleep_until(
                lineStart + std::chrono::microseconds(
                                static_cast<long long>(static_cast<double>(line.size() + 1) * kByteMicros)));
          }
          HandleLine(line);
        }
        line.clear();
      } else if (line.size() < kMaxLine) {
        if (line.empty()) lineStart = arrived;
        line += c;
      }
    }
    busy_ = false;
  }
  busy_ = false;
}

void DeviceSimulator::HandleLine(const std::string& line) {
  const auto plus = line.rfind('+');
  if (plus == std::string::npos) {
    Record([&](SimReport& r) { r.strayBytes += static_cast<std::uint32_t>(line.size()); });
    return;
  }
  if (plus > 0) Record([&](SimReport& r) { r.strayBytes += static_cast<std::uint32_t>(plus); });
  const std::string name = line.substr(plus + 1);

  // The faults that meet this command, chosen before it is carried out,
  // since one of them may keep it from being carried out at all.
  const std::string key = KeyOf(name);
  const std::string blockTarget = key == "W" ? "W" + name.substr(1, 4) : std::string();
  std::vector<const Fault*> met;
  for (std::size_t i = 0; i < options_.faults.size(); ++i) {
    const Fault& fault = options_.faults[i];
    std::string command = fault.command;
    const bool echoFault = fault.kind == FaultKind::WrongEcho || fault.kind == FaultKind::LowerEcho;
    if (echoFault && command.empty()) command = "W";
    if (fault.kind == FaultKind::StaleVersion && command.empty()) command = "v";
    if (!command.empty() && command != key && command != blockTarget) continue;
    ++faultCounts_[i];
    if (fault.nth != 0 && faultCounts_[i] != fault.nth) continue;
    met.push_back(&fault);
  }
  const bool lost = std::any_of(met.begin(), met.end(), [](const Fault* fault) { return fault->lost; });
  const Answer answer = lost ? Lost(name) : Process(name);
  if (stop_) return;

  bool silence = false, garbage = false, noOk = false, wrongEcho = false, lowerEcho = false,
       noCarrier = false, echoNoCarrier = false, hangUp = false, stale = false;
  const Fault* split = nullptr;
  std::uint32_t delay = 0;
  std::uint32_t applied = 0;
  std::vector<std::string> appliedKinds;
  for (const Fault* fault : met) {
    switch (fault->kind) {
      case FaultKind::Silence:
        silence = true;
        break;
      case FaultKind::Garbage:
        garbage = true;
        break;
      case FaultKind::NoOk:
        noOk = true;
        break;
      case FaultKind::WrongEcho:
      case FaultKind::LowerEcho:
        // Only a write that names a block has an echo to spoil.
        if (answer.block.empty()) continue;
        (fault->kind == FaultKind::WrongEcho ? wrongEcho : lowerEcho) = true;
        break;
      case FaultKind::Slow:
        delay += fault->delayMs;
        break;
      case FaultKind::NoCarrier:
        noCarrier = true;
        break;
      case FaultKind::HangUp:
        hangUp = true;
        break;
      case FaultKind::Split:
        split = fault;
        break;
      case FaultKind::EchoNoCarrier:
        echoNoCarrier = true;
        break;
      case FaultKind::StaleVersion:
        // Only the version query has a version to keep.
        if (answer.key != "v") continue;
        stale = true;
        break;
    }
    ++applied;
    appliedKinds.push_back(std::string(FaultKindName(fault->kind)) + (fault->lost ? "!" : ""));
  }

  std::string text = answer.text;
  if (stale) text = (options_.startInBootloader ? options_.banner : options_.version) + kLineEnd;
  if (wrongEcho) {
    text = Echo(Hex4(static_cast<unsigned>(std::stoul(answer.block, nullptr, 16)) + 4)) + kLineEnd;
  }
  if (lowerEcho) {
    const auto end = std::min(text.find('\r'), text.size());
    std::transform(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(end), text.begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
  }
  if (noOk) {
    for (const std::string word : {"OK\r\n", "OK"}) {
      for (auto at = text.find(word); at != std::string::npos; at = text.find(word))
        text.erase(at, word.size());
    }
  }
  if (echoNoCarrier) {
    // Before the closing "OK", so the tool reads it with the answer.
    const auto ok = text.rfind("OK");
    text.insert(ok == std::string::npos ? text.size() : ok, kNoCarrierLine);
  }
  if (garbage) text = Garbage();
  if (noCarrier) text = kNoCarrierLine;
  if (silence) text.clear();
  if (applied > 0) {
    Record([&](SimReport& r) {
      r.faultsApplied += applied;
      const std::size_t index = r.commands.empty() ? 0 : r.commands.size() - 1;
      for (const std::string& kind : appliedKinds) r.faultLog.emplace_back(index, kind);
    });
  }
  if (delay > 0) Wait(delay);
  if (stop_) return;
  if (split != nullptr) {
    SendSplit(text, *split);
  } else {
    Send(text);
  }

  // The answer first, as a device answers its last write before it starts
  // the firmware written.
  if (answer.last) StartWrittenFirmware();

  if (hangUp) {
    // An answer already on its way still reaches the tool, as on a real line.
    if (!text.empty()) {
      DrainThenClose();
    } else {
      CloseLine();
    }
    Record([this](SimReport& r) {
      r.hungUp = true;
      finished_ = true;
    });
  } else if (options_.exitAfterLast && answer.last && applied == 0) {
    DrainThenClose();
    Record([this](SimReport& r) {
      r.exitedAfterLast = true;
      finished_ = true;
    });
  }
}

DeviceSimulator::Answer DeviceSimulator::Lost(const std::string& name) {
  Answer answer;
  answer.key = KeyOf(name);
  if (answer.key == "W") {
    const std::string block = name.substr(1, 4);
    Record([&](SimReport& r) { r.commands.push_back("W" + block); });
    // The echo the other faults spoil; the block was not written.
    if (block.size() == 4 && IsUpperHex(block)) {
      answer.block = block;
      answer.text = Echo(block) + kLineEnd;
    }
  } else {
    Record([&](SimReport& r) { r.commands.push_back(Capped(name)); });
    answer.text = kOk;
  }
  return answer;
}

DeviceSimulator::Answer DeviceSimulator::Process(const std::string& name) {
  if (name.rfind("W", 0) == 0) return ProcessWrite(name);
  if (name.rfind("EE", 0) == 0) return ProcessCommit(name);

  Answer answer;
  answer.key = name;
  Record([&](SimReport& r) { r.commands.push_back(Capped(name)); });
  if (name == "v") {
    answer.text = (bootloader_ ? options_.banner : version_) + kLineEnd;
  } else if (name == "un") {
    answer.text = "UN: " + options_.unitName + kLineEnd;
  } else if (name == "BL") {
    bootloader_ = true;
    Record([&](SimReport& r) { r.mode = ModeName(options_.staged, true); });
    answer.text = kOk;
  } else if (name == "BE") {
    if (options_.requireBootloader && !bootloader_ && !options_.staged) {
      Record([](SimReport& r) { r.refused.push_back("BE"); });
      answer.text = kError;
    } else {
      Wait(options_.eraseMs);
      if (stop_) return answer;
      Record([](SimReport& r) {
        r.image.clear();
        r.flash.clear();
        r.eraseSeen = true;
      });
      answer.text = kOk;
    }
  } else {
    answer.text = kError;
  }
  return answer;
}

DeviceSimulator::Answer DeviceSimulator::ProcessWrite(const std::string& name) {
  Answer answer;
  answer.key = "W";
  const std::string block = name.substr(1, 4);
  const std::string shortName = "W" + block;
  Record([&](SimReport& r) { r.commands.push_back(shortName); });

  // "W" + four hex digits + ":" + data + ":" + two hex digits of check byte.
  const auto second = name.rfind(':');
  const bool shaped = name.size() >= 10 && IsUpperHex(block) && block.size() == 4 && name[5] == ':' &&
                      second != std::string::npos && second > 6 && name.size() - second == 3;
  const std::string data = shaped ? name.substr(6, second - 6) : std::string();
  const int sent = shaped ? XorOfHexBytes(name.substr(second + 1)) : -1;
  const int actual = XorOfHexBytes(data);
  if (sent < 0 || actual < 0) {
    Record([&](SimReport& r) { r.malformed.push_back(shortName); });
    answer.text = kError;
    return answer;
  }
  if (!options_.staged && options_.requireBootloader && !bootloader_) {
    Record([&](SimReport& r) { r.refused.push_back(shortName); });
    answer.text = kError;
    return answer;
  }
  if (sent != actual) {
    Record([&](SimReport& r) { r.checkErrors.push_back(block); });
    answer.text = kCheckError;
    return answer;
  }
  // Programming takes its time before the device answers.
  Wait(options_.writeLatencyMs);
  if (stop_) return answer;
  const auto first = static_cast<unsigned>(std::stoul(block, nullptr, 16));
  Record([&](SimReport& r) {
    r.image[block] = data;
    ProgramFlash(r.flash, first, data, options_.staged);
    r.writes.push_back(block);
    r.lastBlock = block;
  });
  answer.block = block;
  answer.text = Echo(block) + kLineEnd;
  answer.last = block == "0000" && !options_.staged;
  return answer;
}

DeviceSimulator::Answer DeviceSimulator::ProcessCommit(const std::string& name) {
  Answer answer;
  answer.key = "EE";
  Record([&](SimReport& r) { r.commands.push_back(Capped(name)); });
  const std::string value = name.substr(2);
  if (value.size() != 8 || !IsUpperHex(value)) {
    Record([&](SimReport& r) { r.malformed.push_back(Capped(name)); });
    answer.text = kError;
    return answer;
  }
  if (!options_.staged) {
    Record([&](SimReport& r) { r.refused.push_back(Capped(name)); });
    answer.text = kError;
    return answer;
  }
  bool matches = false;
  Record([&](SimReport& r) {
    r.commit = value;
    SimReport summary = r;
    Summarise(summary, true);
    matches = summary.commitMatches;
  });
  // A device does not take an upload whose accumulators disagree with it.
  answer.text = matches ? kOk : kCheckError;
  answer.last = matches;
  return answer;
}

void DeviceSimulator::StartWrittenFirmware() {
  std::string version = options_.versionAfter;
  {
    std::lock_guard lock(mutex_);
    // Summarised in place: the summary's fields are worked out anew at every
    // report, and a copy of a whole image's report takes its time.
    Summarise(report_, options_.staged);
    if (!report_.complete) return;
    if (version.empty() && options_.knownImages != nullptr) {
      for (const std::vector<std::string>& image : *options_.knownImages) {
        if (!image.empty() && image.size() == report_.records + 1 && FlashHolds(report_.flash, image)) {
          version = image.front();
          break;
        }
      }
    }
  }
  if (version.empty()) return;
  version_ = version;
  bootloader_ = false;
  Record([&](SimReport& r) {
    r.versionAfter = version;
    r.mode = ModeName(options_.staged, false);
  });
}

std::string DeviceSimulator::Echo(const std::string& block) const {
  const std::size_t digits =
      options_.echoDigits != 0 ? std::min<std::size_t>(options_.echoDigits, 4) : (options_.staged ? 4 : 3);
  return block.substr(block.size() - digits);
}

void DeviceSimulator::Send(const std::string& text) {
  if (text.empty()) return;
  if (options_.unpaced) {
    WriteAll(text.data(), text.size());
    return;
  }
  // Each byte becomes readable when its stop bit would have arrived.
  const auto start = std::chrono::steady_clock::now();
  for (std::size_t sent = 0; sent < text.size() && !stop_;) {
    const std::size_t chunk = std::min(kPaceChunk, text.size() - sent);
    const auto due = start + std::chrono::microseconds(
                                 static_cast<long long>(static_cast<double>(sent + chunk) * kByteMicros));
    std::this_thread::sleep_until(due);
    if (!WriteAll(text.data() + sent, chunk)) return;
    sent += chunk;
  }
}

void DeviceSimulator::SendSplit(const std::string& text, const Fault& split) {
  if (text.size() < 2) {
    Send(text);
    return;
  }
  const auto size = static_cast<std::int64_t>(text.size());
  std::int64_t cut = split.splitAt > 0 ? split.splitAt : size / 2;
  if (split.splitAt < 0) cut = size + split.splitAt;
  cut = std::clamp<std::int64_t>(cut, 1, size - 1);
  Send(text.substr(0, static_cast<std::size_t>(cut)));
  Wait(split.delayMs);
  if (stop_) return;
  Send(text.substr(static_cast<std::size_t>(cut)));
}

bool DeviceSimulator::WriteAll(const char* data, std::size_t size) {
  while (size > 0 && !stop_) {
    const auto written = ::write(master_, data, size);
    if (written > 0) {
      data += written;
      size -= static_cast<std::size_t>(written);
      continue;
    }
    if (written < 0 && errno != EAGAIN && errno != EINTR) return false;
    // The tool is not reading and the terminal's buffer is full.
    pollfd fds[2] = {{master_, POLLOUT, 0}, {wakeRead_, POLLIN, 0}};
    ::poll(fds, 2, 20);
  }
  return size == 0;
}

void DeviceSimulator::Wait(std::uint32_t ms) {
  const auto start = clock_.NowMs();
  while (!stop_) {
    const auto elapsed = clock_.NowMs() - start;
    if (elapsed >= ms) break;
    clock_.SleepMs(static_cast<std::uint32_t>(std::min<std::uint64_t>(ms - elapsed, 10)));
  }
}

void DeviceSimulator::DrainThenClose() {
  // Closing the master flushes what the tool has not read yet, so wait until
  // the last answer has left the terminal's input queue (bounded, in case the
  // tool has stopped reading). An answer just written may not have reached
  // that queue yet on a busy machine, so an empty queue counts only once it
  // has stayed empty for a while.
  constexpr auto kQuiet = std::chrono::milliseconds(200);
  const auto start = std::chrono::steady_clock::now();
  const auto deadline = start + std::chrono::seconds(3);
  auto emptySince = start;
  while (!stop_) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) break;
    int pending = 0;
    if (::ioctl(slave_, FIONREAD, &pending) != 0) break;
    if (pending > 0) {
      emptySince = now;
    } else if (now - emptySince >= kQuiet) {
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  CloseLine();
}

std::string DeviceSimulator::Garbage() {
  std::uniform_int_distribution<int> length(8, 40);
  std::uniform_int_distribution<int> byte(0, 255);
  std::string text;
  const int size = length(random_);
  while (static_cast<int>(text.size()) < size) {
    const char c = static_cast<char>(byte(random_));
    // Nothing that could read as "ok" in any case, and no hex digit that
    // could pass for an echo once blanks and control bytes are trimmed.
    if (c == 'o' || c == 'O' || c == 'k' || c == 'K' || std::isxdigit(static_cast<unsigned char>(c)) != 0) {
      continue;
    }
    text += c;
  }
  return text;
}

}  // namespace tarvik::sim
