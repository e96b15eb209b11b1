#pragma once
// The few things of the program that differ between the systems: the
// console (is it a terminal, how wide, which character set), Ctrl+C, and
// where the program file lies. console_posix.cpp and console_win32.cpp, chosen
// by CMake.
#include <filesystem>
#include <string>
#include <string_view>

#include "cli/clioutput.h"

namespace tarvik::cli {

// The program's standard output and error.
class ConsoleOutput final : public CliOutput {
 public:
  ConsoleOutput();
  void Write(Stream stream, std::string_view cp1251) override;
  bool OutIsTerminal() const override { return outIsTerminal_; }
  bool OutMovesCursor() const override { return outMovesCursor_; }
  int Columns() const override;
  int Rows() const override;
  bool OutFailed() const override { return out_ == WriteState::Failed; }

 private:
  // After the first failed write nothing more is written to that stream.
  enum class WriteState { Open, ReaderGone, Failed };

  bool outIsTerminal_;
  bool outMovesCursor_;
  WriteState out_ = WriteState::Open;
  WriteState err_ = WriteState::Open;
};

// The width COLUMNS gives (as a shell exports it), for a terminal that does
// not tell its own; 0 when it is not set or is not a width.
int ColumnsFromEnvironment();

// From now on Ctrl+C (and on POSIX SIGTERM and SIGHUP) no longer ends the
// process; InterruptRequested reports it instead. Call it before any thread
// starts: on POSIX the signals are then held for the whole process, so no
// system call of a worker is ever cut short by one.
void HoldInterrupts();
// True once an interrupt has come since the last call that returned true.
bool InterruptRequested();

// A terminal the user may name as a file (the one the program runs on, a
// pseudo-terminal of another window), told without opening it: a serial
// port is a character device too, and its open may wait for a carrier or
// raise the modem lines.
bool IsTerminalPath(const std::filesystem::path& path);

// The folder of the program file.
std::filesystem::path ProgramFolder();

}  // namespace tarvik::cli
