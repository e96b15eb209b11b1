#include "firmware/hexfile.h"

#include <algorithm>
#include <array>
#include <bitset>
#include <cstdint>
#include <memory>
#include <system_error>

#include "common/text.h"

namespace tarvik {
namespace {

constexpr std::uint32_t kMemorySize = 16u * kHexGridMaxDataRows;
constexpr int kRowBytes = 16;
// Byte count, two address bytes, type and checksum around the data.
constexpr std::size_t kRecordFrameBytes = 5;
constexpr std::size_t kMaxRecordBytes = 255 + kRecordFrameBytes;

enum RecordType : std::uint8_t {
  kData = 0x00,
  kEndOfFile = 0x01,
  kSegmentAddress = 0x02,
  kSegmentStart = 0x03,
  kLinearAddress = 0x04,
  kLinearStart = 0x05,
};

const HexGridRow& HeadingRow() {
  static const HexGridRow headings = [] {
    HexGridRow row;
    for (int k = 1; k < kHexGridColumns; ++k) row[static_cast<std::size_t>(k)] = HexDigits(k - 1u, 2);
    return row;
  }();
  return headings;
}

// Splits the text into lines at CR LF, LF or a lone CR; no line end after
// the last line is needed.
class LineReader {
 public:
  explicit LineReader(std::string_view text) : text_(text) {}

  bool Next(std::string_view& line) {
    if (pos_ >= text_.size()) return false;
    const std::string_view rest = text_.substr(pos_);
    const std::size_t lf = std::min(rest.find('\n'), rest.size());
    const std::size_t cr = rest.substr(0, lf).find('\r');
    if (cr == std::string_view::npos || cr + 1 == lf) {
      line = rest.substr(0, cr == std::string_view::npos ? lf : cr);
      pos_ += lf + 1;
    } else {
      line = rest.substr(0, cr);
      pos_ += cr + 1;
    }
    ++number_;
    return true;
  }
  int Number() const { return number_; }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
  int number_ = 0;
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The line without its leading and trailing blanks; start is where it begins
// in the line (the line's size for a blank line).
std::string_view Unblanked(std::string_view line, std::size_t& start) {
  start = static_cast<std::size_t>(std::find_if_not(line.begin(), line.end(), IsBlank) - line.begin());
  if (start == line.size()) return {};
  std::size_t end = line.size();
  while (IsBlank(line[end - 1])) --end;
  return line.substr(start, end - start);
}

// The first 64 KiB of program memory as the file fills it.
struct Memory {
  std::array<std::uint8_t, kMemorySize> bytes{};
  std::bitset<kMemorySize> filled;
  std::uint32_t highest = 0;
  bool any = false;
};

struct Fault {
  HexFault kind = HexFault::None;
  int column = 0;
  std::string detail;  // added to the message after the fault's text
};

struct Record {
  std::array<std::uint8_t, kMaxRecordBytes> bytes{};

  std::uint8_t Count() const { return bytes[0]; }
  std::uint32_t Offset() const { return (std::uint32_t{bytes[1]} << 8) | bytes[2]; }
  std::uint8_t Type() const { return bytes[3]; }
  const std::uint8_t* Data() const { return bytes.data() + 4; }
  std::uint32_t Word(std::size_t index) const {
    return (std::uint32_t{bytes[4 + 2 * index]} << 8) | bytes[5 + 2 * index];
  }
};

// Reads one record from a line that holds more than blanks. column0 is the
// 1-based position of the line's first character that is not a blank.
Fault DecodeRecord(std::string_view line, int column0, Record& record) {
  if (line.front() != ':') return {HexFault::NoRecordMark, column0, {}};
  const std::string_view digits = line.substr(1);
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (HexDigitValue(digits[i]) < 0) return {HexFault::BadDigit, column0 + 1 + static_cast<int>(i), {}};
  }
  if (digits.size() % 2 != 0) return {HexFault::OddLength, 0, {}};
  const std::size_t size = digits.size() / 2;
  if (size < kRecordFrameBytes) return {HexFault::ShortRecord, 0, {}};
  const int count = HexDigitValue(digits[0]) * 16 + HexDigitValue(digits[1]);
  if (size != kRecordFrameBytes + static_cast<std::size_t>(count)) return {HexFault::ByteCount, 0, {}};

  unsigned sum = 0;
  for (std::size_t i = 0; i < size; ++i) {
    const auto byte =
        static_cast<std::uint8_t>(HexDigitValue(digits[2 * i]) * 16 + HexDigitValue(digits[2 * i + 1]));
    record.bytes[i] = byte;
    sum += byte;
  }
  if ((sum & 0xFF) != 0) return {HexFault::Checksum, 0, {}};
  return {};
}

std::string Message(const Fault& fault, int line) {
  std::string text = Utf8ToCp1251("Ошибка в строке ") + std::to_string(line) + Utf8ToCp1251(" файла");
  if (fault.column > 0) text += Utf8ToCp1251(", позиция ") + std::to_string(fault.column);
  return text + ": " + HexFaultText(fault.kind) + fault.detail;
}

HexLoad Failure(HexFault kind, int line, int column, std::string message) {
  HexLoad load;
  load.Fault = kind;
  load.Line = line;
  load.Column = column;
  load.Error = std::move(message);
  load.Grid = EmptyHexGrid();
  return load;
}

// The 256 cell texts, made once: copying a short string is cheaper than
// forming it anew, and a full grid has 65536 cells.
const std::array<std::string, 256>& CellTexts() {
  static const std::array<std::string, 256> texts = [] {
    std::array<std::string, 256> t;
    for (std::uint32_t b = 0; b < 256; ++b) t[b] = HexDigits(b, 2);
    return t;
  }();
  return texts;
}

HexGrid BuildGrid(const Memory& memory, int dataRows) {
  const auto& cells = CellTexts();
  HexGrid grid;
  grid.Rows.resize(static_cast<std::size_t>(std::max(kHexGridMinRows, dataRows + 1)));
  grid.Rows[0] = HeadingRow();
  std::string address = "00000";
  for (int block = 0; block < dataRows; ++block) {
    HexGridRow& row = grid.Rows[static_cast<std::size_t>(block) + 1];
    address.replace(0, 4, HexDigits(static_cast<std::uint32_t>(block), 4));
    row[0] = address;
    const auto first = static_cast<std::uint32_t>(block) * kRowBytes;
    for (std::uint32_t k = 0; k < kRowBytes; ++k) {
      const std::uint32_t at = first + k;
      row[k + 1] = cells[memory.filled[at] ? memory.bytes[at] : 0xFF];
    }
  }
  return grid;
}

}  // namespace

std::string HexFaultText(HexFault fault) {
  switch (fault) {
    case HexFault::None:
      return {};
    case HexFault::NoRecordMark:
      return Utf8ToCp1251("запись не начинается с двоеточия");
    case HexFault::BadDigit:
      return Utf8ToCp1251("недопустимый символ вместо шестнадцатеричной цифры");
    case HexFault::OddLength:
      return Utf8ToCp1251("нечётное число цифр в записи");
    case HexFault::ShortRecord:
      return Utf8ToCp1251("запись слишком короткая");
    case HexFault::ByteCount:
      return Utf8ToCp1251("число байтов записи не совпадает с её длиной");
    case HexFault::Checksum:
      return Utf8ToCp1251("неверная контрольная сумма");
    case HexFault::UnknownType:
      return Utf8ToCp1251("неизвестный тип записи");
    case HexFault::BadRecordLength:
      return Utf8ToCp1251("неверная длина служебной записи");
    case HexFault::Overlap:
      return Utf8ToCp1251("данные записи накладываются на уже загруженные");
    case HexFault::NoEndRecord:
      return Utf8ToCp1251("нет записи конца файла, файл оборван");
    case HexFault::NoData:
      return Utf8ToCp1251("в файле нет данных");
    case HexFault::NoDataInRange:
      return Utf8ToCp1251("все данные файла лежат за пределами первых 64 КБ");
  }
  return {};
}

std::string HexFileNotFoundText() { return Utf8ToCp1251("Файл не найден."); }

std::string HexFileTooLargeText(std::uintmax_t bytes) {
  return Utf8ToCp1251("Файл слишком велик для файла прошивки (" + std::to_string(bytes) + " байт).");
}

std::string BytesLeftOutText(std::size_t bytes) {
  return Utf8ToCp1251("Данные выше 64 КБ не загружены, пропущено байт: " + std::to_string(bytes));
}

std::string BytesAfterEndText(std::size_t bytes) {
  return Utf8ToCp1251("Данные после записи конца файла не загружены, пропущено байт: " +
                      std::to_string(bytes));
}

std::vector<std::string> LeftOutLines(const HexLoad& load) {
  std::vector<std::string> lines;
  if (load.BytesLeftOut > 0) lines.push_back(BytesLeftOutText(load.BytesLeftOut));
  if (load.BytesAfterEnd > 0) lines.push_back(BytesAfterEndText(load.BytesAfterEnd));
  return lines;
}

HexGrid EmptyHexGrid() {
  HexGrid grid;
  grid.Rows.resize(kHexGridMinRows);
  grid.Rows[0] = HeadingRow();
  return grid;
}

HexLoad LoadHexText(std::string_view text) {
  // A byte order mark that some editors put in front of the first line.
  constexpr std::string_view kBom = "\xEF\xBB\xBF";
  if (text.substr(0, kBom.size()) == kBom) text.remove_prefix(kBom.size());

  const auto memory = std::make_unique<Memory>();
  std::size_t leftOut = 0;
  std::size_t dataBytes = 0;
  bool sawRecord = false;
  bool sawEnd = false;
  // The address that the segment or upper-address records put in front of
  // every data record's 16-bit offset.
  std::uint64_t base = 0;
  Record record;

  LineReader lines(text);
  std::string_view line;
  while (!sawEnd && lines.Next(line)) {
    const int number = lines.Number();
    std::size_t start = 0;
    const std::string_view trimmed = Unblanked(line, start);
    if (trimmed.empty()) continue;
    sawRecord = true;

    Fault fault = DecodeRecord(trimmed, static_cast<int>(start) + 1, record);
    if (fault.kind == HexFault::None) {
      const std::size_t count = record.Count();
      switch (record.Type()) {
        case kData: {
          const std::uint64_t first = base + record.Offset();
          for (std::size_t i = 0; i < count; ++i) {
            const std::uint64_t address = first + i;
            if (address >= kMemorySize) {
              ++leftOut;
              continue;
            }
            const auto at = static_cast<std::uint32_t>(address);
            if (memory->filled[at]) {
              // The byte's own place in the line: mark, frame of four bytes, then the data.
              fault = {HexFault::Overlap, static_cast<int>(start + 1 + 2 * (4 + i)) + 1,
                       Utf8ToCp1251(" (адрес ") + HexDigits(at, 4) + ")"};
              break;
            }
            memory->filled[at] = true;
            memory->bytes[at] = record.Data()[i];
            memory->highest = std::max(memory->highest, at);
            memory->any = true;
          }
          dataBytes += count;
          break;
        }
        case kEndOfFile:
          if (count != 0) fault = {HexFault::BadRecordLength, 0, {}};
          sawEnd = true;
          break;
        case kSegmentAddress:
        case kLinearAddress:
          if (count != 2) {
            fault = {HexFault::BadRecordLength, 0, {}};
            break;
          }
          base = std::uint64_t{record.Word(0)} << (record.Type() == kSegmentAddress ? 4 : 16);
          break;
        case kSegmentStart:
        case kLinearStart:
          // Where a processor would start running: nothing for the grid.
          if (count != 4) fault = {HexFault::BadRecordLength, 0, {}};
          break;
        default:
          fault = {HexFault::UnknownType, static_cast<int>(start) + 8, {}};
          break;
      }
    }
    if (fault.kind != HexFault::None)
      return Failure(fault.kind, number, fault.column, Message(fault, number));
  }

  const std::string inFile = Utf8ToCp1251("Ошибка в файле: ");
  if (!sawRecord || (sawEnd && dataBytes == 0)) {
    return Failure(HexFault::NoData, 0, 0, inFile + HexFaultText(HexFault::NoData));
  }
  if (!sawEnd) {
    return Failure(HexFault::NoEndRecord, lines.Number(), 0,
                   inFile + Utf8ToCp1251("после строки ") + std::to_string(lines.Number()) + " " +
                       HexFaultText(HexFault::NoEndRecord));
  }
  if (!memory->any) {
    return Failure(HexFault::NoDataInRange, 0, 0, inFile + HexFaultText(HexFault::NoDataInRange));
  }

  // A second image appended to the first, or data records after the end of
  // the file by mistake: counted so that nobody takes the grid for all of it.
  std::size_t afterEnd = 0;
  while (lines.Next(line)) {
    std::size_t start = 0;
    const std::string_view trimmed = Unblanked(line, start);
    if (!trimmed.empty() && DecodeRecord(trimmed, 1, record).kind == HexFault::None &&
        record.Type() == kData) {
      afterEnd += record.Count();
    }
  }

  HexLoad load;
  load.BytesLeftOut = leftOut;
  load.BytesAfterEnd = afterEnd;
  load.DataRows = static_cast<int>(memory->highest / kRowBytes) + 1;
  load.Grid = BuildGrid(*memory, load.DataRows);
  return load;
}

HexFileLoad LoadHexFile(const std::filesystem::path& path) {
  HexFileLoad result;
  result.Load.Grid = EmptyHexGrid();
  FileRead read = ReadSettingsFile(path, kMaxHexFileBytes);
  result.Read = read.status;
  switch (read.status) {
    case FileReadStatus::Read:
      break;
    case FileReadStatus::Missing:
      result.Error = HexFileNotFoundText();
      return result;
    case FileReadStatus::TooLarge: {
      // Gone or unreadable since: still more than the limit was there.
      std::error_code error;
      const std::uintmax_t size = std::filesystem::file_size(path, error);
      result.Error = HexFileTooLargeText(error ? kMaxHexFileBytes + 1 : size);
      return result;
    }
    case FileReadStatus::NotAFile:
    case FileReadStatus::Failed:
      result.ReadProblem = FileReadProblem(read);
      result.Error = Utf8ToCp1251("Не удалось прочитать файл: ") + result.ReadProblem;
      return result;
  }
  result.Load = LoadHexText(read.bytes);
  result.Error = result.Load.Error;
  return result;
}

}  // namespace tarvik
