// The console on Linux: UTF-8 terminals, signals held for the whole process
// and taken when the program asks, the program file from /proc.
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "cli/console.h"
#include "common/text.h"

namespace tarvik::cli {
namespace {

// The stop signals the program watches: those it was not told to ignore (a
// run under nohup keeps ignoring SIGHUP, and goes on when the terminal
// closes).
sigset_t watched;

// Device numbers of the terminals: /dev/tty (5, 0), and the pseudo-
// terminals' slaves.
constexpr unsigned kTtyAuxMajor = 5;
constexpr unsigned kPtySlaveFirstMajor = 136;
constexpr unsigned kPtySlaveLastMajor = 143;

}  // namespace

ConsoleOutput::ConsoleOutput()
    : outIsTerminal_(::isatty(STDOUT_FILENO) == 1), outMovesCursor_(outIsTerminal_) {}

void ConsoleOutput::Write(Stream stream, std::string_view cp1251) {
  // Straight to the descriptor: nothing waits in a buffer, and each failure
  // is seen where it happens.
  const int fd = stream == Stream::Out ? STDOUT_FILENO : STDERR_FILENO;
  WriteState& state = stream == Stream::Out ? out_ : err_;
  if (state != WriteState::Open) return;
  const std::string text = Cp1251ToUtf8(cp1251);
  std::string_view rest = text;
  while (!rest.empty()) {
    const ssize_t written = ::write(fd, rest.data(), rest.size());
    if (written > 0) {
      rest.remove_prefix(static_cast<std::size_t>(written));
    } else if (written < 0 && errno == EINTR) {
      continue;
    } else {
      state = written < 0 && errno == EPIPE ? WriteState::ReaderGone : WriteState::Failed;
      return;
    }
  }
}

int ConsoleOutput::Columns() const {
  // A terminal whose size nobody has set (a serial console, some pseudo-
  // terminals) answers 0.
  winsize size{};
  if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return ColumnsFromEnvironment();
}

int ConsoleOutput::Rows() const {
  winsize size{};
  if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0) return size.ws_row;
  return 0;
}

bool IsTerminalPath(const std::filesystem::path& path) {
  struct stat named {};
  if (::stat(path.c_str(), &named) != 0 || !S_ISCHR(named.st_mode)) return false;
  // The controlling terminal by its own name, and any pseudo-terminal.
  if (major(named.st_rdev) == kTtyAuxMajor && minor(named.st_rdev) == 0) return true;
  if (major(named.st_rdev) >= kPtySlaveFirstMajor && major(named.st_rdev) <= kPtySlaveLastMajor) return true;
  // The terminal of one of the program's own streams, by whatever name.
  for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    struct stat stream {};
    if (::isatty(fd) == 1 && ::fstat(fd, &stream) == 0 && stream.st_rdev == named.st_rdev) return true;
  }
  return false;
}

void HoldInterrupts() {
  sigemptyset(&watched);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction current {};
    if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler != SIG_IGN)
      sigaddset(&watched, signal);
  }
  pthread_sigmask(SIG_BLOCK, &watched, nullptr);
  // A reader that goes away (a pipe into head) must not end the process in
  // the middle of a reflash: the write fails instead, and the work goes on.
  ::signal(SIGPIPE, SIG_IGN);
  // Nor a file that reaches the size limit (ulimit -f) set for the bench:
  // that write fails, and the lost record is told by the exit code.
  ::signal(SIGXFSZ, SIG_IGN);
}

bool InterruptRequested() {
  const timespec now{0, 0};
  return ::sigtimedwait(&watched, nullptr, &now) > 0;
}

std::filesystem::path ProgramFolder() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return std::filesystem::current_path(error);
  return self.parent_path();
}

}  // namespace tarvik::cli
