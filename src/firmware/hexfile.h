#pragma once
// Intel HEX text into the viewer's grid of 16-byte rows. Every record is
// checked (record mark, digits, byte count against its length, checksum,
// the length each record type must have), so a damaged or cut-off file is
// refused with the line that is wrong instead of being written to a device
// as if it were the whole firmware.
//
// The grid covers the first 64 KiB of program memory: block numbers have
// four hex digits. Data at or above 64 KiB (configuration or data memory
// reached through a segment or upper-address record) is not loaded; the
// result says how many bytes of the file were left out that way, and how
// many stand in data records after the end-of-file record. Records
// may come in any order and may run past the end of a 16-byte row; a byte
// that two records both fill is an error. Cells the file does not fill in
// a reached row read "FF", as an erased flash does.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "common/inifile.h"
#include "firmware/hexgrid.h"

namespace tarvik {

// The grid holds at most this many data rows: 64 KiB in 16-byte rows.
inline constexpr int kHexGridMaxDataRows = 4096;
// Row 0 (headings) and eight data rows: the grid never has fewer rows.
inline constexpr int kHexGridMinRows = 9;

enum class HexFault {
  None,
  NoRecordMark,     // a line that does not start with ':'
  BadDigit,         // a character that is no hexadecimal digit
  OddLength,        // half a byte at the end of the record
  ShortRecord,      // fewer digits than count, address, type and checksum
  ByteCount,        // the byte count does not match the record's length
  Checksum,         // the record's bytes do not sum to zero
  UnknownType,      // a record type other than 00 to 05
  BadRecordLength,  // an end-of-file, address or start record of the wrong length
  Overlap,          // a data byte that an earlier record already filled
  NoEndRecord,      // the file ends without its end-of-file record
  NoData,           // no data record at all
  NoDataInRange,    // data only at or above 64 KiB
};

// What went wrong, in Russian (Windows-1251), without the line.
std::string HexFaultText(HexFault fault);

// A file larger than this is no firmware file; the viewer and the command
// line refuse it unread.
inline constexpr std::uintmax_t kMaxHexFileBytes = 64 * 1024 * 1024;

// What the viewer and the command line say of a file they cannot take, and
// of data they leave out (Windows-1251).
std::string HexFileNotFoundText();
std::string HexFileTooLargeText(std::uintmax_t bytes);
std::string BytesLeftOutText(std::size_t bytes);
std::string BytesAfterEndText(std::size_t bytes);

struct HexLoad {
  HexFault Fault = HexFault::None;
  // 1-based line and character position of the fault; 0 where the fault
  // belongs to no line or to no single character.
  int Line = 0;
  int Column = 0;
  // The message for the user (Windows-1251), naming the line; empty when
  // the load succeeded.
  std::string Error;
  // Data bytes of the file at or above 64 KiB, which the grid cannot hold.
  std::size_t BytesLeftOut = 0;
  // Data bytes of data records after the end-of-file record, which are not
  // part of the file's image.
  std::size_t BytesAfterEnd = 0;
  // Data rows the file reaches (rows 1 to this one are filled); 0 on error.
  int DataRows = 0;
  // On success the loaded grid; on error the empty grid, so nothing of a
  // half-read file can be used.
  HexGrid Grid;

  bool Ok() const { return Fault == HexFault::None; }
};

// What a load left out, one line a cause (BytesLeftOutText,
// BytesAfterEndText); empty when it left out nothing.
std::vector<std::string> LeftOutLines(const HexLoad& load);

// The headings row ("" then "00" to "0F") and eight empty rows: the grid of
// a viewer with no file chosen.
HexGrid EmptyHexGrid();

// Parses a whole HEX file given as its text. Accepts CR LF, LF or CR line
// ends, a missing final line end, blank lines, upper- or lower-case digits
// (cells are kept in upper case, as the embedded images write them) and
// records of any length. Lines after the end-of-file record are only
// counted: the data bytes of the data records among them (other lines there
// are not looked at further).
HexLoad LoadHexText(std::string_view text);

// A HEX file taken from disk: how reading it went and, once read, what
// parsing it gave. The viewer and the command line both take their files
// this way, so a file one of them refuses the other refuses too.
struct HexFileLoad {
  // Read when the text was read (Load then says whether it parsed);
  // otherwise why not. A FIFO or a device is never opened, so the load
  // never waits on one.
  FileReadStatus Read = FileReadStatus::Read;
  // Why the file could not be read (FileReadProblem) when it is no regular
  // file or the system refused it; empty otherwise.
  std::string ReadProblem;
  // The parsed text: grid, data rows and the bytes left out. Whenever the
  // file cannot be used, the empty grid and no counts.
  HexLoad Load;
  // Why the file cannot be used, in the viewer's words (Windows-1251):
  // HexFileNotFoundText, HexFileTooLargeText, "Не удалось прочитать файл: "
  // and the problem, or the line that is wrong. Empty when it loaded.
  std::string Error;

  bool Ok() const { return Error.empty(); }
};

// Reads the file at path (at most kMaxHexFileBytes of it) and parses it.
HexFileLoad LoadHexFile(const std::filesystem::path& path);

}  // namespace tarvik
