// The console on Windows: text goes to a console as UTF-16, so the console's
// code page does not matter; redirected output is written in that code page
// (the system's ANSI code page when there is no console), with CR LF line
// ends, as Windows programs read it.
#include <windows.h>

#include <atomic>
#include <string>
#include <string_view>
#include <vector>

#include "cli/console.h"
#include "common/codepage_win32.h"

namespace tarvik::cli {
namespace {

std::atomic<bool> interrupted{false};

BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  interrupted.store(true);
  return TRUE;
}

HANDLE HandleOf(Stream stream) {
  return ::GetStdHandle(stream == Stream::Out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

bool IsConsole(HANDLE handle) {
  DWORD mode = 0;
  return handle != INVALID_HANDLE_VALUE && handle != nullptr && ::GetConsoleMode(handle, &mode) != 0;
}

}  // namespace

namespace {

// Not in every MinGW's headers.
constexpr DWORD kVirtualTerminalProcessing = 0x0004;

// A console of Windows 10 and later takes the escape sequences once asked
// to; an older one does not, and a batch then writes plain lines.
bool TakesEscapes(HANDLE handle) {
  DWORD mode = 0;
  if (!::GetConsoleMode(handle, &mode)) return false;
  return (mode & kVirtualTerminalProcessing) != 0 ||
         ::SetConsoleMode(handle, mode | kVirtualTerminalProcessing) != 0;
}

}  // namespace

ConsoleOutput::ConsoleOutput()
    : outIsTerminal_(IsConsole(HandleOf(Stream::Out))),
      outMovesCursor_(outIsTerminal_ && TakesEscapes(HandleOf(Stream::Out))) {}

void ConsoleOutput::Write(Stream stream, std::string_view cp1251) {
  const HANDLE handle = HandleOf(stream);
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return;
  WriteState& state = stream == Stream::Out ? out_ : err_;
  if (state != WriteState::Open) return;
  const std::wstring wide = WideText(cp1251);
  if (IsConsole(handle)) {
    DWORD written = 0;
    if (!::WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr)) {
      state = WriteState::Failed;
    }
    return;
  }
  std::wstring lines;
  lines.reserve(wide.size());
  for (const wchar_t c : wide) {
    if (c == L'\n') lines += L'\r';
    lines += c;
  }
  const UINT consolePage = ::GetConsoleOutputCP();
  const std::string text = NarrowText(lines, consolePage != 0 ? consolePage : ::GetACP());
  std::string_view rest = text;
  while (!rest.empty()) {
    DWORD written = 0;
    if (!::WriteFile(handle, rest.data(), static_cast<DWORD>(rest.size()), &written, nullptr) ||
        written == 0) {
      const DWORD error = ::GetLastError();
      // A pipe whose reader has gone.
      state =
          error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE ? WriteState::ReaderGone : WriteState::Failed;
      return;
    }
    rest.remove_prefix(written);
  }
}

int ConsoleOutput::Columns() const {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (::GetConsoleScreenBufferInfo(HandleOf(Stream::Out), &info) &&
      info.srWindow.Right > info.srWindow.Left) {
    return info.srWindow.Right - info.srWindow.Left + 1;
  }
  return ColumnsFromEnvironment();
}

int ConsoleOutput::Rows() const {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (::GetConsoleScreenBufferInfo(HandleOf(Stream::Out), &info) &&
      info.srWindow.Bottom > info.srWindow.Top) {
    return info.srWindow.Bottom - info.srWindow.Top + 1;
  }
  return 0;
}

// A log goes to a file; the console is standard error, which -v fills.
bool IsTerminalPath(const std::filesystem::path&) { return false; }

void HoldInterrupts() { ::SetConsoleCtrlHandler(OnConsoleControl, TRUE); }

bool InterruptRequested() { return interrupted.exchange(false); }

std::filesystem::path ProgramFolder() {
  std::vector<wchar_t> name(MAX_PATH);
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
    if (length == 0) return std::filesystem::current_path();
    if (length < name.size()) return std::filesystem::path(std::wstring(name.data(), length)).parent_path();
    name.resize(name.size() * 2);
  }
}

}  // namespace tarvik::cli
