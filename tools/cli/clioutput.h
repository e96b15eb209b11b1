#pragma once
// Where tarvik-cli's texts go: the program's standard output and error, or a
// test's capture. Every text handed over is Windows-1251, as in the core;
// the sink turns it into the terminal's character set.
#include <string_view>

namespace tarvik::cli {

enum class Stream { Out, Err };

class CliOutput {
 public:
  virtual ~CliOutput() = default;
  virtual void Write(Stream stream, std::string_view cp1251) = 0;
  // Standard output is a terminal, on which a line can be redrawn in place.
  virtual bool OutIsTerminal() const = 0;
  // That terminal moves its cursor on the usual escape sequences (up a
  // line, clear below), so a table of several lines can be redrawn in place.
  virtual bool OutMovesCursor() const { return OutIsTerminal(); }
  // Width of that terminal in characters (COLUMNS where the terminal does
  // not tell); 0 when unknown.
  virtual int Columns() const = 0;
  // Height of that terminal in lines; 0 when unknown. A table taller than
  // the screen cannot be redrawn in place: the lines that scrolled off stay.
  virtual int Rows() const { return 0; }
  // Text for standard output was lost: a write failed (a full disk, an I/O
  // error). A reader that closed its end early (| head) is not a failure:
  // it has read what it wanted.
  virtual bool OutFailed() const { return false; }
};

}  // namespace tarvik::cli
