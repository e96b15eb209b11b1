// The console on Linux: UTF-8 terminals, signals held for the whole process
// and taken when the program asks, the program file from /proc.
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <system_error>

#include "cli/console.h"
#include "common/text.h"

namespace tarvik::cli {
namespace {

sigset_t InterruptSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

}  // namespace

ConsoleOutput::ConsoleOutput() : outIsTerminal_(::isatty(STDOUT_FILENO) == 1) {}

void ConsoleOutput::Write(Stream stream, std::string_view cp1251) {
  std::FILE* file = stream == Stream::Out ? stdout : stderr;
  const std::string text = Cp1251ToUtf8(cp1251);
  std::fwrite(text.data(), 1, text.size(), file);
  std::fflush(file);
}

int ConsoleOutput::Columns() const {
  winsize size{};
  if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

void HoldInterrupts() {
  const sigset_t set = InterruptSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  // A reader that goes away (a pipe into head) must not end the process in
  // the middle of a reflash: the write fails instead, and the work goes on.
  ::signal(SIGPIPE, SIG_IGN);
}

bool InterruptRequested() {
  const sigset_t set = InterruptSignals();
  const timespec now{0, 0};
  return ::sigtimedwait(&set, nullptr, &now) > 0;
}

std::filesystem::path ProgramFolder() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return std::filesystem::current_path(error);
  return self.parent_path();
}

std::string PathText(const std::filesystem::path& path) { return Utf8ToCp1251(path.string()); }

}  // namespace tarvik::cli
