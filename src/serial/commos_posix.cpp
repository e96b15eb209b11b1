// Serial backend for Linux: a tty under /dev driven through termios2 (which
// carries any bit rate, not only the classic table), ioctls for the queue
// counts and the modem lines, and poll with a self-pipe for the event wait.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <vector>

#include "common/text.h"
#include "serial/commos.h"
#include "serial/descriptor_posix.h"

#ifndef BOTHER
#define BOTHER 0010000
#endif

namespace tarvik::commos {

const char* const kOsErrorName = "error";

int KeepAboveStandardStreams(int fd) {
  if (fd < 0 || fd > STDERR_FILENO) return fd;
  const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  const int saved = errno;
  ::close(fd);
  errno = saved;
  return moved;
}

namespace {

// The kernel's own termios record with the explicit rate fields; the C
// library's termios has room for them but no way to pass them down.
struct KernelTermios2 {
  tcflag_t c_iflag;
  tcflag_t c_oflag;
  tcflag_t c_cflag;
  tcflag_t c_lflag;
  cc_t c_line;
  cc_t c_cc[19];
  speed_t c_ispeed;
  speed_t c_ospeed;
};

const unsigned long kGetTermios2 = _IOR('T', 0x2A, KernelTermios2);
const unsigned long kSetTermios2 = _IOW('T', 0x2B, KernelTermios2);

int Ioctl(int fd, unsigned long request, void* arg) {
  int r;
  do {
    r = ::ioctl(fd, request, arg);
  } while (r < 0 && errno == EINTR);
  return r;
}

// Rates with a classic code travel as that code, so that every termios
// user reads them back as usual; any other rate travels as a number.
struct RateCode {
  std::uint32_t Rate;
  tcflag_t Code;
};
constexpr RateCode kRateCodes[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

tcflag_t RateFlag(std::uint32_t rate) {
  for (const RateCode& r : kRateCodes) {
    if (r.Rate == rate) return r.Code;
  }
  return BOTHER;
}

tcflag_t SizeFlag(std::uint8_t byteSize) {
  switch (byteSize) {
    case 5:
      return CS5;
    case 6:
      return CS6;
    case 7:
      return CS7;
    default:
      return CS8;
  }
}

std::uint8_t ByteSizeOf(tcflag_t cflag) {
  switch (cflag & CSIZE) {
    case CS5:
      return 5;
    case CS6:
      return 6;
    case CS7:
      return 7;
    default:
      return 8;
  }
}

// The terminals that belong to the user, not to a device: /dev/tty (the
// controlling terminal under another name), the console, the multiplexer
// that hands out new pseudo-terminals, and the virtual consoles tty0 to
// tty63. Configuring one of them would take over the user's screen or shell.
constexpr unsigned kTtyAuxMajor = 5;  // tty 0, console 1, ptmx 2
constexpr unsigned kVirtualConsoleMajor = 4;
constexpr unsigned kVirtualConsoles = 64;

bool IsUsersTerminal(const std::string& path, dev_t rdev) {
  const unsigned maj = major(rdev);
  const unsigned min = minor(rdev);
  if (maj == kTtyAuxMajor && min <= 2) return true;
  if (maj == kVirtualConsoleMajor && min < kVirtualConsoles) return true;
  // A container may bind another terminal onto /dev/console; the name still
  // says what it is.
  char resolved[PATH_MAX];
  return ::realpath(path.c_str(), resolved) != nullptr && std::strcmp(resolved, "/dev/console") == 0;
}

// ---- other programs on the port ----

// Unix 98 pseudo-terminal slaves (/dev/pts/N): eight majors of 256 minors,
// N counted across them; their master is the multiplexer's node 5:2.
constexpr unsigned kPtySlaveMajor = 136;
constexpr unsigned kPtySlaveMajors = 8;
constexpr unsigned kPtyMasterMinor = 2;

// N of /dev/pts/N, or -1 for any other device.
long PtyIndex(dev_t rdev) {
  const unsigned maj = major(rdev);
  if (maj < kPtySlaveMajor || maj >= kPtySlaveMajor + kPtySlaveMajors) return -1;
  return static_cast<long>((maj - kPtySlaveMajor) * 256 + minor(rdev));
}

bool IsNumber(const char* text) {
  return *text != '\0' &&
         std::all_of(text, text + std::strlen(text), [](char c) { return c >= '0' && c <= '9'; });
}

// A folder opened for reading its entries, on a kept descriptor; null when
// it cannot be read (another user's process, one that has just ended).
DIR* OpenFolder(int atFd, const std::string& path) {
  const int fd = KeepAboveStandardStreams(::openat(atFd, path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd < 0) return nullptr;
  DIR* folder = ::fdopendir(fd);
  if (folder == nullptr) ::close(fd);
  return folder;
}

// The start of a small file (a line of /proc, a lock file); empty when it
// cannot be read.
std::string ReadSmallFile(int atFd, const std::string& path) {
  const int fd = KeepAboveStandardStreams(::openat(atFd, path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (fd < 0) return {};
  char buffer[256];
  ssize_t n;
  do {
    n = ::read(fd, buffer, sizeof buffer);
  } while (n < 0 && errno == EINTR);
  ::close(fd);
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

// The program of a process as the system names it, and its number:
// "minicom, pid 1234".
std::string ProcessName(const std::string& procRoot, long pid) {
  std::string program = Trim(ReadSmallFile(AT_FDCWD, procRoot + "/" + std::to_string(pid) + "/comm"));
  // The name is the locale's text; the message is the core's.
  program = LocaleToCp1251(program);
  return program.empty() ? "pid " + std::to_string(pid) : program + ", pid " + std::to_string(pid);
}

// Whether the process behind folder pid of the process root has the device
// open; devicePath is where the device's node is, links followed. A process
// that also holds the master of the same pseudo-terminal is the far end of
// the line (a device's simulation, a bridge to a network port), not a
// program in the way.
bool HoldsDevice(int procFd, const char* pid, const std::string& devicePath, dev_t device) {
  DIR* fds = OpenFolder(procFd, std::string(pid) + "/fd");
  if (fds == nullptr) return false;
  const long ptyIndex = PtyIndex(device);
  bool deviceHeld = false;
  bool masterHeld = false;
  while (const dirent* entry = ::readdir(fds)) {
    if (!IsNumber(entry->d_name)) continue;
    // A descriptor's link names the node it was opened by, so the text
    // picks the few worth a look at the file itself out of the many (a
    // process may hold thousands, sockets and files).
    char target[PATH_MAX];
    const ssize_t n = ::readlinkat(::dirfd(fds), entry->d_name, target, sizeof target);
    if (n <= 0 || n == sizeof target) continue;
    const std::string_view text(target, static_cast<std::size_t>(n));
    const bool master = ptyIndex >= 0 && (text == "/dev/ptmx" || text == "/dev/pts/ptmx");
    if (text != devicePath && !master) continue;
    struct stat st {};
    if (::fstatat(::dirfd(fds), entry->d_name, &st, 0) != 0 || !S_ISCHR(st.st_mode)) continue;
    if (st.st_rdev == device) {
      deviceHeld = true;
    } else if (master && major(st.st_rdev) == kTtyAuxMajor && minor(st.st_rdev) == kPtyMasterMinor) {
      const std::string info = ReadSmallFile(procFd, std::string(pid) + "/fdinfo/" + entry->d_name);
      const std::size_t at = info.find("tty-index:");
      if (at != std::string::npos && std::strtol(info.c_str() + at + 10, nullptr, 10) == ptyIndex) {
        masterHeld = true;
      }
    }
  }
  ::closedir(fds);
  return deviceHeld && !masterHeld;
}

// Another process that has the device open, named as ProcessName names it;
// empty when there is none. Only the processes whose descriptors the user
// may look at are seen: the rest are root's, or another user's, whom the
// exclusive mode keeps out.
std::string OtherHolder(const std::string& procRoot, const std::string& devicePath, dev_t device) {
  DIR* processes = OpenFolder(AT_FDCWD, procRoot);
  if (processes == nullptr) return {};
  const std::string self = std::to_string(::getpid());
  std::string holder;
  while (const dirent* entry = ::readdir(processes)) {
    if (!IsNumber(entry->d_name) || entry->d_name == self) continue;
    if (HoldsDevice(::dirfd(processes), entry->d_name, devicePath, device)) {
      holder = ProcessName(procRoot, std::strtol(entry->d_name, nullptr, 10));
      break;
    }
  }
  ::closedir(processes);
  return holder;
}

// The name of the lock file that serial programs leave for a device:
// "LCK.." + its place under /dev with slashes as underscores ("LCK..ttyUSB0",
// "LCK..pts_3"), or + the last part of a path elsewhere.
std::string LockFileName(const std::string& path) {
  const std::filesystem::path normal = std::filesystem::path(path).lexically_normal();
  const std::string text = normal.string();
  std::string name = text.rfind("/dev/", 0) == 0 ? text.substr(5) : normal.filename().string();
  std::replace(name.begin(), name.end(), '/', '_');
  return "LCK.." + name;
}

// The process that a lock file names: its number as text, the form every
// current program writes; 0 when there is none, -1 when the file holds
// something else (a form this tool does not read, which may well belong to
// a program that runs).
long LockOwner(const std::string& file) {
  const std::string raw = ReadSmallFile(AT_FDCWD, file);
  // Digits and blanks only: the binary form of old programs may well hold
  // bytes that read as digits, with zeros after them.
  if (raw.find_first_not_of("0123456789 \t\r\n") != std::string::npos) return -1;
  const std::string text = Trim(raw);
  if (text.empty()) return 0;
  const std::optional<std::int32_t> pid = ParseInt32(text);
  if (!pid) return -1;
  return *pid > 0 ? *pid : 0;
}

bool Runs(long pid) { return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM); }

// The process that holds a lock file on the port under one of its names,
// named; empty when none does. A lock whose process has gone is removed, as
// serial programs do with a stale one.
std::string LockHolder(const TOpenOptions& options, const std::vector<std::string>& names) {
  for (const std::string& folder : options.LockDirs) {
    for (const std::string& name : names) {
      const std::string file = folder + "/" + name;
      struct stat st {};
      if (::lstat(file.c_str(), &st) != 0) continue;
      const long owner = LockOwner(file);
      if (owner < 0) return "the lock file " + file;
      if (Runs(owner)) return ProcessName(options.ProcRoot, owner);
      ::unlink(file.c_str());
    }
  }
  return {};
}

// Takes this tool's lock file for the port in the first folder that will
// have it and returns its path; empty without one (no such folder, no right
// to write there), since the port then opens as it would without lock
// files. holder names the program that took the lock first, if one did
// just now.
std::string TakeLockFile(const TOpenOptions& options, const std::string& name, std::string& holder) {
  for (const std::string& folder : options.LockDirs) {
    const std::string file = folder + "/" + name;
    const int fd = KeepAboveStandardStreams(
        ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0644));
    if (fd < 0) {
      if (errno == EEXIST) {
        const long owner = LockOwner(file);
        if (owner < 0) {
          holder = "the lock file " + file;
          return {};
        }
        if (Runs(owner)) {
          holder = ProcessName(options.ProcRoot, owner);
          return {};
        }
      }
      continue;
    }
    // The process number as ten characters and a line end, the form of the
    // lock files that serial programs share.
    char text[16];
    const int size = std::snprintf(text, sizeof text, "%10ld\n", static_cast<long>(::getpid()));
    const bool written = ::write(fd, text, static_cast<std::size_t>(size)) == size;
    ::close(fd);
    if (written) return file;
    ::unlink(file.c_str());
  }
  return {};
}

// Only a lock file that still names this process is removed: a stale one
// may have been taken over by another program since.
void RemoveLockFile(const std::string& file) {
  if (!file.empty() && LockOwner(file) == ::getpid()) ::unlink(file.c_str());
}

// A character device that the system files under a class other than the
// terminals (the null device, a sound card) is no serial line, whatever it
// would answer once opened. Pseudo-terminals are not filed at all.
bool IsFiledAsNoTerminal(dev_t rdev) {
  const std::string entry =
      "/sys/dev/char/" + std::to_string(major(rdev)) + ":" + std::to_string(minor(rdev)) + "/subsystem";
  char target[PATH_MAX];
  const ssize_t n = ::readlink(entry.c_str(), target, sizeof target - 1);
  if (n <= 0) return false;
  return std::filesystem::path(std::string(target, static_cast<std::size_t>(n))).filename() != "tty";
}

// The terminal this process is attached to, whatever name it was opened by.
bool IsControllingTerminal(int fd) {
  pid_t session = 0;
  return Ioctl(fd, TIOCGSID, &session) == 0 && session == ::getsid(0);
}

class PosixCommDevice final : public TCommDevice {
 public:
  PosixCommDevice(int fd, int stopRead, int stopWrite, std::string lockFile, Clock& clock)
      : fd_(fd), stopRead_(stopRead), stopWrite_(stopWrite), lockFile_(std::move(lockFile)), clock_(clock) {}

  ~PosixCommDevice() override {
    // On a pseudo-terminal exclusive mode outlives the descriptor for as long
    // as the other side stays open; clear it so the port can be opened again.
    Ioctl(fd_, TIOCNXCL, nullptr);
    ::close(fd_);
    ::close(stopRead_);
    ::close(stopWrite_);
    RemoveLockFile(lockFile_);
  }

  bool SetState(const TDeviceControlBlock& dcb) override {
    // The tty counts 5 to 8 data bits and one or two stop bits; anything
    // else the line cannot do is refused like a driver refuses it.
    if (dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > 4 || dcb.StopBits > 2) {
      errno = EINVAL;
      return false;
    }
    KernelTermios2 t{};
    if (Ioctl(fd_, kGetTermios2, &t) < 0) return false;

    // Raw bytes both ways: no line editing, echo, signals or translation.
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                                        IXOFF | IXANY | INPCK | IGNPAR);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | CBAUD | CIBAUD);
    t.c_cflag |= CREAD | CLOCAL | RateFlag(dcb.BaudRate) | SizeFlag(dcb.ByteSize);
    // One byte wanted and no timer: an empty queue then answers EAGAIN, so a
    // read that returns 0 can only mean the other side has gone.
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    t.c_ispeed = dcb.BaudRate;
    t.c_ospeed = dcb.BaudRate;

    switch (dcb.Parity) {
      case 1:
        t.c_cflag |= PARENB | PARODD;
        break;
      case 2:
        t.c_cflag |= PARENB;
        break;
      case 3:
        t.c_cflag |= PARENB | PARODD | CMSPAR;
        break;
      case 4:
        t.c_cflag |= PARENB | CMSPAR;
        break;
      default:
        break;
    }
    if (dcb.StopBits != 0) t.c_cflag |= CSTOPB;
    if (dcb.fParity) t.c_iflag |= INPCK;
    // The tty has one switch for both halves of the hardware handshake.
    if (dcb.fOutxCtsFlow || dcb.fRtsControl == TRtsControl::Handshake) t.c_cflag |= CRTSCTS;
    if (dcb.fInX) t.c_iflag |= IXOFF;
    if (dcb.fOutX) t.c_iflag |= IXON;
    t.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);

    if (Ioctl(fd_, kSetTermios2, &t) < 0) return false;

    // Lines without a handshake are held as configured; a tty without modem
    // lines (a pseudo-terminal) simply has none to hold.
    if (dcb.fDtrControl != TDtrControl::Handshake) SetLine(TIOCM_DTR, dcb.fDtrControl == TDtrControl::Enable);
    if (dcb.fRtsControl != TRtsControl::Handshake) SetLine(TIOCM_RTS, dcb.fRtsControl == TRtsControl::Enable);
    dcb_ = dcb;
    return true;
  }

  bool GetState(TDeviceControlBlock& dcb) override {
    KernelTermios2 t{};
    if (Ioctl(fd_, kGetTermios2, &t) < 0) return false;
    dcb = dcb_;
    dcb.BaudRate = t.c_ospeed;
    dcb.ByteSize = ByteSizeOf(t.c_cflag);
    if ((t.c_cflag & PARENB) == 0) {
      dcb.Parity = 0;
    } else if ((t.c_cflag & CMSPAR) != 0) {
      dcb.Parity = (t.c_cflag & PARODD) != 0 ? 3 : 4;
    } else {
      dcb.Parity = (t.c_cflag & PARODD) != 0 ? 1 : 2;
    }
    if ((t.c_cflag & CSTOPB) == 0) {
      dcb.StopBits = 0;
    } else if (dcb.StopBits == 0) {
      dcb.StopBits = 2;
    }
    dcb.fParity = (t.c_iflag & INPCK) != 0;
    dcb.fInX = (t.c_iflag & IXOFF) != 0;
    dcb.fOutX = (t.c_iflag & IXON) != 0;
    if ((t.c_cflag & CRTSCTS) == 0) {
      dcb.fOutxCtsFlow = false;
      if (dcb.fRtsControl == TRtsControl::Handshake) dcb.fRtsControl = TRtsControl::Enable;
    } else if (!dcb.fOutxCtsFlow && dcb.fRtsControl != TRtsControl::Handshake) {
      dcb.fOutxCtsFlow = true;
      dcb.fRtsControl = TRtsControl::Handshake;
    }
    dcb.XonChar = static_cast<char>(t.c_cc[VSTART]);
    dcb.XoffChar = static_cast<char>(t.c_cc[VSTOP]);
    return true;
  }

  void Purge() override { ::tcflush(fd_, TCIOFLUSH); }

  // The tty keeps its own queue sizes; the asked ones stay in the port's model.
  bool SetupQueues(std::uint32_t, std::uint32_t) override { return true; }
  void GetQueueSizes(std::uint32_t& inputSize, std::uint32_t& outputSize) override {
    inputSize = 0;
    outputSize = 0;
  }

  bool SetTimeouts(const TDriverTimeouts& timeouts) override {
    timeouts_ = timeouts;
    return true;
  }
  bool GetTimeouts(TDriverTimeouts& timeouts) override {
    timeouts = timeouts_;
    return true;
  }

  TIoResult InputCount() override { return Count(FIONREAD); }
  TIoResult OutputCount() override { return Count(TIOCOUTQ); }

  TIoResult Write(const char* data, std::uint32_t count) override {
    // A write is over when the bytes have left the driver, not when the
    // kernel has taken them, and the driver time-outs bound the whole of it.
    const std::uint64_t limit =
        std::uint64_t{timeouts_.WriteMultiplier} * count + std::uint64_t{timeouts_.WriteConstant};
    const std::uint64_t start = clock_.NowMs();
    auto timeUp = [&] { return limit != 0 && clock_.NowMs() - start >= limit; };

    std::uint32_t written = 0;
    while (written < count) {
      const ssize_t n = ::write(fd_, data + written, count - written);
      if (n > 0) {
        written += static_cast<std::uint32_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return {0, errno};
      if (timeUp()) break;
      clock_.SleepMs(1);
    }
    for (;;) {
      const TIoResult pending = OutputCount();
      if (pending.Error != 0) return {0, pending.Error};
      if (pending.Count == 0) return {written, 0};
      if (timeUp()) {
        // What the line did not take in time is dropped, as a driver does
        // when a write times out.
        ::tcflush(fd_, TCOFLUSH);
        return {pending.Count < written ? written - pending.Count : 0, 0};
      }
      clock_.SleepMs(1);
    }
  }

  TIoResult Read(char* data, std::uint32_t count) override {
    for (;;) {
      const ssize_t n = ::read(fd_, data, count);
      if (n > 0) return {static_cast<std::uint32_t>(n), 0};
      if (n == 0) return {0, EIO};
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return {0, 0};
      return {0, errno};
    }
  }

  void SetRts(bool on) override { SetLine(TIOCM_RTS, on); }

  TWaitResult WaitEvent(bool watchInput, int timeoutMs) override {
    pollfd fds[2] = {{stopRead_, POLLIN, 0}, {fd_, static_cast<short>(watchInput ? POLLIN : 0), 0}};
    const int r = ::poll(fds, 2, timeoutMs);
    if (r < 0) return errno == EINTR ? TWaitResult::TimedOut : TWaitResult::Failed;
    if ((fds[0].revents & POLLIN) != 0) return TWaitResult::Stopped;
    if ((fds[1].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) return TWaitResult::Failed;
    if ((fds[1].revents & POLLIN) != 0) return TWaitResult::Input;
    return TWaitResult::TimedOut;
  }

  bool WaitInput(std::uint32_t timeoutMs) override {
    pollfd fd{fd_, POLLIN, 0};
    const int r = ::poll(&fd, 1, static_cast<int>(timeoutMs));
    return r != 0;
  }

  void SignalStop() override {
    const char one = 1;
    // A full pipe already holds a signal, so a failed write loses nothing.
    [[maybe_unused]] const ssize_t n = ::write(stopWrite_, &one, 1);
  }

 private:
  TIoResult Count(unsigned long request) {
    int n = 0;
    if (Ioctl(fd_, request, &n) < 0) return {0, errno};
    return {static_cast<std::uint32_t>(n < 0 ? 0 : n), 0};
  }

  void SetLine(int bit, bool on) { Ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bit); }

  const int fd_;
  const int stopRead_;
  const int stopWrite_;
  // This tool's lock file for the port; empty when it has none.
  const std::string lockFile_;
  Clock& clock_;
  TDeviceControlBlock dcb_;
  TDriverTimeouts timeouts_;
};

// Why the system refused a port, by its error code.
TOpenFailure CauseOf(int code) {
  switch (code) {
    case ENOENT:
    case ENOTDIR:
    case ENODEV:  // a node whose driver has no device behind it
    case ENXIO:   // an adapter unplugged, a legacy port without a chip
      return TOpenFailure::Missing;
    case EBUSY:
    case EWOULDBLOCK:
      return TOpenFailure::Busy;
    case EACCES:
    case EPERM:
    case EROFS:
      return TOpenFailure::NoPermission;
    case ENOTTY:
      return TOpenFailure::NotASerialLine;
    default:
      return TOpenFailure::Other;
  }
}

// The open proper, once the port has been found free; before is the node
// as it was looked at.
std::unique_ptr<TCommDevice> OpenLine(const std::string& path, const struct stat& before,
                                      const std::string& lockFile, Clock& clock, TOpenError& error) {
  const int fd = KeepAboveStandardStreams(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (fd < 0) {
    error.Cause = CauseOf(errno);
    error.Code = errno;
    return nullptr;
  }
  // The node may have been swapped between the look and the open; and a
  // character device that is no terminal (the null device, a sound card)
  // has no line to set.
  struct stat after {};
  if (::fstat(fd, &after) < 0 || !S_ISCHR(after.st_mode) || after.st_rdev != before.st_rdev ||
      !::isatty(fd) || IsControllingTerminal(fd)) {
    ::close(fd);
    error.Cause = TOpenFailure::NotASerialLine;
    return nullptr;
  }
  // TIOCEXCL keeps other users out but not root; the advisory lock is what
  // every instance of this tool respects, root or not, even one that the
  // look at the processes cannot see.
  if (::flock(fd, LOCK_EX | LOCK_NB) < 0) {
    error.Cause = CauseOf(errno);
    error.Code = error.Cause == TOpenFailure::Busy ? 0 : errno;
    ::close(fd);
    return nullptr;
  }
  Ioctl(fd, TIOCEXCL, nullptr);
  int pipeFds[2];
  if (::pipe2(pipeFds, O_NONBLOCK | O_CLOEXEC) < 0) {
    error.Cause = TOpenFailure::Other;
    error.Code = errno;
    ::close(fd);
    return nullptr;
  }
  const int stopRead = KeepAboveStandardStreams(pipeFds[0]);
  const int stopWrite = KeepAboveStandardStreams(pipeFds[1]);
  if (stopRead < 0 || stopWrite < 0) {
    error.Cause = TOpenFailure::Other;
    error.Code = errno;
    for (const int made : {fd, stopRead, stopWrite}) {
      if (made >= 0) ::close(made);
    }
    return nullptr;
  }
  return std::make_unique<PosixCommDevice>(fd, stopRead, stopWrite, lockFile, clock);
}

}  // namespace

std::unique_ptr<TCommDevice> OpenDevice(const std::string& name, Clock& clock, TOpenError& error,
                                        const TOpenOptions& options) {
  error = {};
  const auto failed = [&error](TOpenFailure cause, int code) -> std::unique_ptr<TCommDevice> {
    error.Cause = cause;
    error.Code = code;
    return nullptr;
  };
  const std::string path = "/dev/" + name;
  // Only character devices are opened at all: opening a FIFO, a plain file
  // or a folder by a port name does nothing a port could use, and some
  // devices act on the open itself.
  struct stat before {};
  if (::stat(path.c_str(), &before) < 0) return failed(CauseOf(errno), errno);
  if (!S_ISCHR(before.st_mode) || IsUsersTerminal(path, before.st_rdev) ||
      IsFiledAsNoTerminal(before.st_rdev)) {
    return failed(TOpenFailure::NotASerialLine, 0);
  }

  // Another program on the line would take the device's answers; and the
  // open itself may raise the modem lines, which some devices take for a
  // reset. So a port in use is refused before it is opened: by the
  // processes that have it open, and by the lock files that serial programs
  // leave under the name they opened and under the device's own. This
  // tool's own lock goes under the device's name (ttyUSB0 however it was
  // reached, by-id link or not), the one other programs look for.
  char resolved[PATH_MAX];
  const std::string devicePath = ::realpath(path.c_str(), resolved) != nullptr
                                     ? std::string(resolved)
                                     : std::filesystem::path(path).lexically_normal().string();
  std::vector<std::string> lockNames = {LockFileName(devicePath)};
  if (LockFileName(path) != lockNames.front()) lockNames.push_back(LockFileName(path));
  error.Holder = OtherHolder(options.ProcRoot, devicePath, before.st_rdev);
  if (error.Holder.empty()) error.Holder = LockHolder(options, lockNames);
  if (error.Holder.empty()) {
    const std::string lockFile = TakeLockFile(options, lockNames.front(), error.Holder);
    if (error.Holder.empty()) {
      auto device = OpenLine(path, before, lockFile, clock, error);
      if (!device) RemoveLockFile(lockFile);
      return device;
    }
  }
  return failed(TOpenFailure::Busy, 0);
}

std::string OsErrorText(int error) {
  char buffer[512];
  // The GNU strerror_r returns its text, which need not be the buffer.
  const char* text = ::strerror_r(error, buffer, sizeof buffer);
  // In the locale's character set, which need not be the core's.
  return text != nullptr ? LocaleToCp1251(text) : std::string();
}

}  // namespace tarvik::commos
