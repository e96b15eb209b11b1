#include "firmware/hexfile.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "common/text.h"
#include "simulator/hexrecord.h"
#include "support/tempdir.h"
#include "support/withoutblocking.h"

namespace tarvik {
namespace {

using test::WithoutBlocking;

std::string Hex(unsigned value, int digits) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) text += kDigits[(value >> shift) & 0xF];
  return text;
}

// One record with a correct byte count and checksum; data as hex text.
std::string Rec(unsigned type, unsigned address, std::string_view data) {
  return sim::HexRecord(address, type, data);
}
std::string Data(unsigned address, std::string_view data) { return Rec(0x00, address, data); }
std::string Linear(unsigned upper) { return Rec(0x04, 0, Hex(upper, 4)); }
std::string Segment(unsigned segment) { return Rec(0x02, 0, Hex(segment, 4)); }
const std::string kEnd = ":00000001FF";

// count bytes first, first + 1, ... as hex text.
std::string Bytes(unsigned first, unsigned count) {
  std::string text;
  for (unsigned i = 0; i < count; ++i) text += Hex((first + i) & 0xFF, 2);
  return text;
}
std::string Ff(unsigned count) {
  std::string text;
  for (unsigned i = 0; i < count; ++i) text += "FF";
  return text;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string File(const std::vector<std::string>& lines, std::string_view lineEnd = "\r\n") {
  std::string text;
  for (const std::string& line : lines) text += line + std::string(lineEnd);
  return text;
}

// A row as "label cells": the address, a blank, the 16 cells run together.
std::string RowText(const HexGridRow& row) {
  std::string text = row[0] + " ";
  for (int k = 1; k < kHexGridColumns; ++k) text += row[static_cast<std::size_t>(k)];
  return text;
}

bool IsUpperHexByte(const std::string& cell) {
  return cell.size() == 2 && std::string_view("0123456789ABCDEF").find(cell[0]) != std::string_view::npos &&
         std::string_view("0123456789ABCDEF").find(cell[1]) != std::string_view::npos;
}

// What every loaded grid must look like whatever the file: the headings,
// rows 1 to DataRows labelled by their block and holding 16 byte cells,
// every other row empty, at least nine rows.
void ExpectWellFormed(const HexLoad& load) {
  const auto& rows = load.Grid.Rows;
  ASSERT_GE(rows.size(), static_cast<std::size_t>(kHexGridMinRows));
  ASSERT_LE(rows.size(), static_cast<std::size_t>(kHexGridMaxDataRows + 1));
  EXPECT_EQ(rows[0], EmptyHexGrid().Rows[0]);
  EXPECT_EQ(rows.size(), std::max<std::size_t>(kHexGridMinRows, static_cast<std::size_t>(load.DataRows) + 1));
  for (std::size_t r = 1; r < rows.size(); ++r) {
    SCOPED_TRACE("row " + std::to_string(r));
    if (r <= static_cast<std::size_t>(load.DataRows)) {
      EXPECT_EQ(rows[r][0], Hex(static_cast<unsigned>(r - 1), 4) + "0");
      for (int k = 1; k < kHexGridColumns; ++k)
        EXPECT_TRUE(IsUpperHexByte(rows[r][static_cast<std::size_t>(k)]));
    } else {
      EXPECT_EQ(rows[r], HexGridRow{});
    }
  }
}

TEST(HexGrid, EmptyGridHasTheHeadingsAndEightEmptyRows) {
  const HexGrid grid = EmptyHexGrid();
  ASSERT_EQ(grid.Rows.size(), 9u);
  EXPECT_EQ(grid.Rows[0][0], "");
  EXPECT_EQ(grid.Rows[0][1], "00");
  EXPECT_EQ(grid.Rows[0][10], "09");
  EXPECT_EQ(grid.Rows[0][11], "0A");
  EXPECT_EQ(grid.Rows[0][16], "0F");
  for (std::size_t r = 1; r < 9; ++r) EXPECT_EQ(grid.Rows[r], HexGridRow{});
}

struct LoadCase {
  const char* name;
  std::string text;
  int dataRows;
  // Rows to check, by index, as RowText writes them.
  std::vector<std::pair<std::size_t, std::string>> rows;
  std::size_t leftOut = 0;
  std::size_t afterEnd = 0;
};

// A small program as a compiler for an 8-bit controller writes it (written
// by another Intel HEX implementation): a start record first, the reset
// vector and the interrupt vector with a gap between them and before the
// code, a code record that runs past its row, configuration bytes behind an
// upper-address record.
const char kCompilerFile[] =
    ":0400000500000024D3\r\n"
    ":020000040000FA\r\n"
    ":04000000EF12F0000B\r\n"
    ":06000800826A010E1200E5\r\n"
    ":10002400052A4F7499BEE3082D52779CC1E60B3024\r\n"
    ":10003400557A9FC4E90E33587DA2C7EC11365B8014\r\n"
    ":04004400A5CAEF1446\r\n"
    ":020000040030CA\r\n"
    ":0600000000271E81000F25\r\n"
    ":00000001FF\r\n";

std::vector<LoadCase> LoadCases() {
  std::vector<LoadCase> cases;
  {
    // 0x00 to 0x7F in 16-byte records fills rows 1 to 8 and no more.
    std::vector<std::string> lines;
    for (unsigned a = 0; a < 0x80; a += 16) lines.push_back(Data(a, Bytes(a, 16)));
    lines.push_back(kEnd);
    cases.push_back(
        {"eight full rows", File(lines), 8, {{1, "00000 " + Bytes(0, 16)}, {8, "00070 " + Bytes(0x70, 16)}}});
  }
  cases.push_back({"one 8-byte record at 0004",
                   File({Data(0x0004, Bytes(0xA0, 8)), kEnd}),
                   1,
                   {{1, "00000 FFFFFFFF" + Bytes(0xA0, 8) + "FFFFFFFF"}}});
  cases.push_back({"first record at 0010",
                   File({Data(0x0010, Bytes(1, 16)), kEnd}),
                   2,
                   {{1, "00000 " + Ff(16)}, {2, "00010 " + Bytes(1, 16)}}});
  {
    std::vector<std::string> lines;
    for (unsigned a = 0; a < 0x30; a += 8) lines.push_back(Data(a, Bytes(a, 8)));
    lines.push_back(kEnd);
    cases.push_back(
        {"8-byte records", File(lines), 3, {{1, "00000 " + Bytes(0, 16)}, {3, "00020 " + Bytes(0x20, 16)}}});
  }
  cases.push_back({"32-byte records",
                   File({Data(0, Bytes(0, 32)), Data(0x20, Bytes(0x20, 32)), kEnd}),
                   4,
                   {{1, "00000 " + Bytes(0, 16)}, {4, "00030 " + Bytes(0x30, 16)}}});
  cases.push_back({"a record running past its row",
                   File({Data(0x0008, Bytes(0x40, 16)), kEnd}),
                   2,
                   {{1, "00000 " + Ff(8) + Bytes(0x40, 8)}, {2, "00010 " + Bytes(0x48, 8) + Ff(8)}}});
  cases.push_back({"a gap of many blocks is filled with FF rows",
                   File({Data(0, Bytes(0, 16)), Data(0x0100, Bytes(0x80, 4)), kEnd}),
                   17,
                   {{1, "00000 " + Bytes(0, 16)},
                    {2, "00010 " + Ff(16)},
                    {16, "000F0 " + Ff(16)},
                    {17, "00100 " + Bytes(0x80, 4) + Ff(12)}}});
  cases.push_back({"records in descending order",
                   File({Data(0x0010, Bytes(0x10, 16)), Data(0, Bytes(0, 16)), kEnd}),
                   2,
                   {{1, "00000 " + Bytes(0, 16)}, {2, "00010 " + Bytes(0x10, 16)}}});
  cases.push_back({"records side by side in one row",
                   File({Data(0x0008, "0809"), Data(0x0002, "0203"), Data(0x000A, "0A"), kEnd}),
                   1,
                   {{1, "00000 FFFF0203FFFFFFFF08090AFFFFFFFFFF"}}});
  cases.push_back({"lower-case digits become upper case",
                   File({Lower(Data(0, "ABCDEF0F")), kEnd}),
                   1,
                   {{1, "00000 ABCDEF0F" + Ff(12)}}});
  cases.push_back(
      {"LF line ends", File({Data(0, Bytes(0, 16)), kEnd}, "\n"), 1, {{1, "00000 " + Bytes(0, 16)}}});
  cases.push_back(
      {"CR line ends", File({Data(0, Bytes(0, 16)), kEnd}, "\r"), 1, {{1, "00000 " + Bytes(0, 16)}}});
  cases.push_back(
      {"mixed line ends",
       Data(0, Bytes(0, 4)) + "\r\n" + Data(4, Bytes(4, 4)) + "\n" + Data(8, Bytes(8, 4)) + "\r" + kEnd,
       1,
       {{1, "00000 " + Bytes(0, 12) + Ff(4)}}});
  cases.push_back(
      {"no final line end", Data(0, Bytes(0, 16)) + "\r\n" + kEnd, 1, {{1, "00000 " + Bytes(0, 16)}}});
  cases.push_back({"blank lines, blanks around records and a byte order mark",
                   "\xEF\xBB\xBF\r\n  " + Data(0, Bytes(0, 16)) + " \t\r\n\r\n\t" + kEnd + "  \r\n\r\n",
                   1,
                   {{1, "00000 " + Bytes(0, 16)}}});
  cases.push_back({"lines after the end record are not read",
                   File({Data(0, Bytes(0, 4)), kEnd, "garbage", ":zz"}),
                   1,
                   {{1, "00000 " + Bytes(0, 4) + Ff(12)}}});
  // Another image appended, say: its data is not loaded, not even where it
  // would overlap, but it is counted; its other records and lines that are
  // no record are not data.
  cases.push_back({"data records after the end record are counted, not loaded",
                   File({Data(0, Bytes(0, 4)), kEnd, Data(0x10, Bytes(0, 16)), "garbage", Linear(1),
                         Data(0, Bytes(0, 3)), ":zz", " " + Data(0x20, "AABB") + "\t", kEnd}),
                   1,
                   {{1, "00000 " + Bytes(0, 4) + Ff(12)}},
                   0,
                   21});
  cases.push_back({"address records at zero change nothing",
                   File({Linear(0), Data(0, Bytes(0, 4)), Segment(0), Data(4, Bytes(4, 4)), kEnd}),
                   1,
                   {{1, "00000 " + Bytes(0, 8) + Ff(8)}}});
  cases.push_back({"start records are ignored",
                   File({Rec(0x03, 0, "12345678"), Data(0, Bytes(0, 4)), Rec(0x05, 0, "00000100"), kEnd}),
                   1,
                   {{1, "00000 " + Bytes(0, 4) + Ff(12)}}});
  cases.push_back({"an empty data record fills nothing",
                   File({Data(0, ""), Data(0x10, Bytes(0, 2)), kEnd}),
                   2,
                   {{1, "00000 " + Ff(16)}, {2, "00010 " + Bytes(0, 2) + Ff(14)}}});
  cases.push_back({"configuration memory above 64 KiB is left out",
                   File({Data(0, Bytes(0, 16)), Linear(0x0030), Data(0, Bytes(0, 14)), Linear(0x00F0),
                         Data(0, Bytes(0, 16)), kEnd}),
                   1,
                   {{1, "00000 " + Bytes(0, 16)}},
                   30});
  cases.push_back({"a non-zero segment is left out",
                   File({Data(0, Bytes(0, 16)), Segment(0x1000), Data(0, Bytes(0, 8)), kEnd}),
                   1,
                   {{1, "00000 " + Bytes(0, 16)}},
                   8});
  // The grid follows the addresses, not the order of the records: data that
  // lies in the first 64 KiB is loaded wherever it stands in the file.
  cases.push_back({"back to the first 64 KiB after configuration memory",
                   File({Linear(0x0030), Data(0, Bytes(0, 6)), Linear(0), Data(0x10, Bytes(0, 2)), kEnd}),
                   2,
                   {{1, "00000 " + Ff(16)}, {2, "00010 " + Bytes(0, 2) + Ff(14)}},
                   6});
  cases.push_back({"a segment below 64 KiB moves the data",
                   File({Segment(0x0001), Data(0x0002, Bytes(0xC0, 2)), kEnd}),
                   2,
                   {{2, "00010 FFFF" + Bytes(0xC0, 2) + Ff(12)}}});
  cases.push_back({"a record running past 64 KiB keeps its first part",
                   File({Data(0xFFF8, Bytes(0, 16)), kEnd}),
                   4096,
                   {{4095, "0FFE0 " + Ff(16)}, {4096, "0FFF0 " + Ff(8) + Bytes(0, 8)}},
                   8});
  cases.push_back({"a file written by a compiler",
                   kCompilerFile,
                   5,
                   {{1, "00000 EF12F000FFFFFFFF826A010E1200FFFF"},
                    {2, "00010 " + Ff(16)},
                    {3, "00020 FFFFFFFF052A4F7499BEE3082D52779C"},
                    {4, "00030 C1E60B30557A9FC4E90E33587DA2C7EC"},
                    {5, "00040 11365B80A5CAEF14" + Ff(8)}},
                   6});
  return cases;
}

TEST(LoadHexText, Layouts) {
  for (const LoadCase& c : LoadCases()) {
    SCOPED_TRACE(c.name);
    const HexLoad load = LoadHexText(c.text);
    ASSERT_TRUE(load.Ok()) << Cp1251ToUtf8(load.Error);
    EXPECT_EQ(load.Error, "");
    EXPECT_EQ(load.DataRows, c.dataRows);
    EXPECT_EQ(load.BytesLeftOut, c.leftOut);
    EXPECT_EQ(load.BytesAfterEnd, c.afterEnd);
    ExpectWellFormed(load);
    for (const auto& [index, text] : c.rows) {
      ASSERT_LT(index, load.Grid.Rows.size());
      EXPECT_EQ(RowText(load.Grid.Rows[index]), text) << "row " << index;
    }
  }
}

TEST(LoadHexText, FullSixtyFourKibibytes) {
  std::vector<std::string> lines;
  for (unsigned a = 0; a < 0x10000; a += 16) lines.push_back(Data(a, Bytes(a >> 4, 16)));
  lines.push_back(kEnd);
  const HexLoad load = LoadHexText(File(lines));
  ASSERT_TRUE(load.Ok()) << Cp1251ToUtf8(load.Error);
  EXPECT_EQ(load.DataRows, 4096);
  ASSERT_EQ(load.Grid.Rows.size(), 4097u);
  EXPECT_EQ(RowText(load.Grid.Rows[4096]), "0FFF0 " + Bytes(0xFF, 16));
  EXPECT_EQ(load.BytesLeftOut, 0u);
}

struct FaultCase {
  const char* name;
  std::string text;
  HexFault fault;
  int line;
  int column = 0;
};

// What the user reads of each fault, after where it is.
std::string FaultText(HexFault fault) {
  switch (fault) {
    case HexFault::NoRecordMark:
      return "запись не начинается с двоеточия";
    case HexFault::BadDigit:
      return "недопустимый символ вместо шестнадцатеричной цифры";
    case HexFault::OddLength:
      return "нечётное число цифр в записи";
    case HexFault::ShortRecord:
      return "запись слишком короткая";
    case HexFault::ByteCount:
      return "число байтов записи не совпадает с её длиной";
    case HexFault::Checksum:
      return "неверная контрольная сумма";
    case HexFault::UnknownType:
      return "неизвестный тип записи";
    case HexFault::BadRecordLength:
      return "неверная длина служебной записи";
    case HexFault::Overlap:
      return "данные записи накладываются на уже загруженные";
    case HexFault::NoEndRecord:
      return "нет записи конца файла, файл оборван";
    case HexFault::NoData:
      return "в файле нет данных";
    case HexFault::NoDataInRange:
      return "все данные файла лежат за пределами первых 64 КБ";
    case HexFault::None:
      break;
  }
  return "";
}

std::string WithChecksum(std::string record, int delta) {
  const unsigned sum = static_cast<unsigned>(std::stoul(record.substr(record.size() - 2), nullptr, 16));
  record.replace(record.size() - 2, 2, Hex((sum + static_cast<unsigned>(delta)) & 0xFF, 2));
  return record;
}

std::vector<FaultCase> FaultCases() {
  const std::string good = Data(0, Bytes(0, 16));
  // A data digit changed in transit: only the checksum shows it.
  std::string changed = Data(0x10, Bytes(0x30, 16));
  changed[12] = changed[12] == '0' ? '1' : '0';
  return {
      {"no record mark", File({good, "10001000" + Bytes(0, 16) + "00", kEnd}), HexFault::NoRecordMark, 2, 1},
      {"no record mark after blanks", File({"  1000"}), HexFault::NoRecordMark, 1, 3},
      {"a letter that is no digit", File({good, ":1000100G" + Bytes(0, 16) + "00", kEnd}), HexFault::BadDigit,
       2, 9},
      {"a character of another alphabet", File({good, Data(0x10, "00") + "\xC0\xC1", kEnd}),
       HexFault::BadDigit, 2, 14},
      {"a blank inside the record", File({":10 0000" + Bytes(0, 16) + "00"}), HexFault::BadDigit, 1, 4},
      {"half a byte", File({good, Data(0x10, Bytes(0, 4)) + "0", kEnd}), HexFault::OddLength, 2},
      {"a record mark alone", File({":", kEnd}), HexFault::ShortRecord, 1},
      {"no checksum", File({":00000001", kEnd}), HexFault::ShortRecord, 1},
      {"byte count larger than the data", File({good, ":10001000" + Bytes(0, 8) + "00", kEnd}),
       HexFault::ByteCount, 2},
      {"byte count smaller than the data", File({good, ":04001000" + Bytes(0, 8) + "00", kEnd}),
       HexFault::ByteCount, 2},
      {"256 data bytes", File({":00000000" + Bytes(0, 256) + "00", kEnd}), HexFault::ByteCount, 1},
      {"a checksum one too high", File({good, WithChecksum(Data(0x10, Bytes(7, 16)), 1), kEnd}),
       HexFault::Checksum, 2},
      {"a changed data digit", File({good, changed, kEnd}), HexFault::Checksum, 2},
      {"an unknown record type", File({good, Rec(0x06, 0, "00"), kEnd}), HexFault::UnknownType, 2, 8},
      {"an end record with data", File({good, Rec(0x01, 0, "00")}), HexFault::BadRecordLength, 2},
      {"an upper-address record of one byte", File({Rec(0x04, 0, "00"), good, kEnd}),
       HexFault::BadRecordLength, 1},
      {"a segment record of three bytes", File({Rec(0x02, 0, "000000"), good, kEnd}),
       HexFault::BadRecordLength, 1},
      {"a start record of two bytes", File({good, Rec(0x05, 0, "0000"), kEnd}), HexFault::BadRecordLength, 2},
      {"the same record twice", File({good, good, kEnd}), HexFault::Overlap, 2, 10},
      {"a record overlapping the end of another", File({good, Data(0x000E, Bytes(0, 4)), kEnd}),
       HexFault::Overlap, 2, 10},
      {"a record running backwards into filled cells",
       File({Data(0x0020, Bytes(0, 16)), Data(0x0018, Bytes(0, 16)), kEnd}), HexFault::Overlap, 2, 26},
      {"an overlap reached through a segment record",
       File({good, Data(0x10, Bytes(0, 16)), Segment(0x0001), Data(0, "00"), kEnd}), HexFault::Overlap, 4,
       10},
      {"a file cut after a record", File({good, Data(0x10, Bytes(0, 16))}), HexFault::NoEndRecord, 2},
      {"an empty file", "", HexFault::NoData, 0},
      {"blank lines only", "\r\n  \r\n", HexFault::NoData, 0},
      {"an end record only", File({kEnd}), HexFault::NoData, 0},
      {"address records only", File({Linear(0), kEnd}), HexFault::NoData, 0},
      {"data above 64 KiB only", File({Linear(1), good, kEnd}), HexFault::NoDataInRange, 0},
      {"binary bytes",
       std::string("\x7f"
                   "ELF\x02\x01\x01\0\0\0",
                   10),
       HexFault::NoRecordMark, 1, 1},
  };
}

TEST(LoadHexText, FaultsNameTheLineAndLeaveNoGrid) {
  for (const FaultCase& c : FaultCases()) {
    SCOPED_TRACE(c.name);
    const HexLoad load = LoadHexText(c.text);
    EXPECT_FALSE(load.Ok());
    EXPECT_EQ(load.Fault, c.fault) << Cp1251ToUtf8(load.Error);
    EXPECT_EQ(load.Line, c.line);
    EXPECT_EQ(load.Column, c.column);
    EXPECT_EQ(load.Grid.Rows, EmptyHexGrid().Rows);
    EXPECT_EQ(load.DataRows, 0);
    const std::string message = Cp1251ToUtf8(load.Error);
    EXPECT_EQ(Cp1251ToUtf8(HexFaultText(c.fault)), FaultText(c.fault));
    EXPECT_NE(message.find(FaultText(c.fault)), std::string::npos) << message;
    if (c.line > 0) {
      const std::string where = c.fault == HexFault::NoEndRecord ? "после строки " : "Ошибка в строке ";
      EXPECT_NE(message.find(where + std::to_string(c.line) + " "), std::string::npos) << message;
    }
  }
}

TEST(LoadHexText, MessagesReadAsTheUserSeesThem) {
  const std::string good = Data(0, Bytes(0, 16));
  EXPECT_EQ(Cp1251ToUtf8(LoadHexText(File({good, WithChecksum(good, -1), kEnd})).Error),
            "Ошибка в строке 2 файла: неверная контрольная сумма");
  EXPECT_EQ(Cp1251ToUtf8(LoadHexText(File({good, ":1000x000"})).Error),
            "Ошибка в строке 2 файла, позиция 6: недопустимый символ вместо шестнадцатеричной цифры");
  EXPECT_EQ(
      Cp1251ToUtf8(LoadHexText(File({Data(0x20, "AA"), good, Data(0x1F, "0102"), kEnd})).Error),
      "Ошибка в строке 3 файла, позиция 12: данные записи накладываются на уже загруженные (адрес 0020)");
  EXPECT_EQ(Cp1251ToUtf8(LoadHexText(File({good, Data(0x10, "00")})).Error),
            "Ошибка в файле: после строки 2 нет записи конца файла, файл оборван");
  EXPECT_EQ(Cp1251ToUtf8(LoadHexText(File({kEnd})).Error), "Ошибка в файле: в файле нет данных");
}

// Data beyond 64 KiB is counted, never stored: many records of it
// leave the grid at the one row that the file fills below 64 KiB.
TEST(LoadHexText, DataBeyondTheGridIsCountedNotStored) {
  const std::string record = Data(0xFFF0, Bytes(0, 16));
  std::string text = Data(0, "AA") + "\n" + Linear(0xFFFF) + "\n";
  for (int i = 0; i < 100'000; ++i) text += record + "\n";
  text += kEnd;
  const HexLoad load = LoadHexText(text);
  ASSERT_TRUE(load.Ok()) << Cp1251ToUtf8(load.Error);
  EXPECT_EQ(load.DataRows, 1);
  EXPECT_EQ(load.Grid.Rows.size(), 9u);
  EXPECT_EQ(load.BytesLeftOut, 1'600'000u);
}

TEST(LoadHexText, WhatWasLeftOutIsToldOneLineACause) {
  const std::string above = Linear(1) + "\r\n" + Data(0, Bytes(0, 5)) + "\r\n" + Linear(0) + "\r\n";
  const std::string after = Data(0x40, Bytes(0, 7)) + "\r\n";
  struct Case {
    const char* name;
    std::string text;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"nothing", File({Data(0, "AA"), kEnd}), {}},
      {"above 64 KiB",
       above + File({Data(0, "AA"), kEnd}),
       {"Данные выше 64 КБ не загружены, пропущено байт: 5"}},
      {"after the end record",
       File({Data(0, "AA"), kEnd}) + after,
       {"Данные после записи конца файла не загружены, пропущено байт: 7"}},
      {"both",
       above + File({Data(0, "AA"), kEnd}) + after,
       {"Данные выше 64 КБ не загружены, пропущено байт: 5",
        "Данные после записи конца файла не загружены, пропущено байт: 7"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const HexLoad load = LoadHexText(c.text);
    ASSERT_TRUE(load.Ok()) << Cp1251ToUtf8(load.Error);
    std::vector<std::string> lines;
    for (const std::string& line : LeftOutLines(load)) lines.push_back(Cp1251ToUtf8(line));
    EXPECT_EQ(lines, c.lines);
  }
}

TEST(LoadHexText, LongestRecordsAreRead) {
  const HexLoad load = LoadHexText(File({Data(0, Bytes(0, 255)), kEnd}));
  ASSERT_TRUE(load.Ok()) << Cp1251ToUtf8(load.Error);
  EXPECT_EQ(load.DataRows, 16);
  EXPECT_EQ(RowText(load.Grid.Rows[16]), "000F0 " + Bytes(0xF0, 15) + "FF");
}

// A file on disk the way the viewer and the command line both take it: what
// stands at the path decides before any byte is read, so nothing that is no
// regular file is ever opened, and each refusal names its cause.
TEST(LoadHexFile, TakesOnlyARegularFileOfAtMostSixtyFourMebibytes) {
  const test::TempDir dir("tarvik-hexfile");
  const auto write = [&dir](const char* name, const std::string& text) {
    const std::filesystem::path path = dir.Path() / name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
  };
  const std::string above = Linear(1) + "\r\n" + Data(0, Bytes(0, 5)) + "\r\n" + Linear(0) + "\r\n";
  const std::filesystem::path good = write("good.hex", File({Data(0, Bytes(0, 16)), Data(0x10, "AB"), kEnd}));
  const std::filesystem::path leftOut =
      write("leftout.hex", above + File({Data(0, "AA"), kEnd}) + File({Data(0x40, Bytes(0, 7))}));
  const std::filesystem::path bad = write("bad.hex", File({WithChecksum(Data(0, "AA"), -1), kEnd}));
  const std::filesystem::path folder = dir.Path() / "folder.hex";
  std::filesystem::create_directory(folder);
  // Sparse: refused by its size, so never read.
  const std::filesystem::path huge = write("huge.hex", "");
  std::filesystem::resize_file(huge, std::uintmax_t{100} << 20);
  const std::filesystem::path edge = write("edge.hex", "");
  std::filesystem::resize_file(edge, std::uintmax_t{64} << 20);

  struct Case {
    std::filesystem::path path;
    FileReadStatus read;
    std::string error;  // empty: the file loaded
    std::string readProblem;
    std::size_t leftOut = 0;
    std::size_t afterEnd = 0;
    int dataRows = 0;
  };
  std::vector<Case> cases = {
      {good, FileReadStatus::Read, "", "", 0, 0, 2},
      {leftOut, FileReadStatus::Read, "", "", 5, 7, 1},
      {bad, FileReadStatus::Read, "Ошибка в строке 1 файла: неверная контрольная сумма", ""},
      {dir.Path() / "none.hex", FileReadStatus::Missing, "Файл не найден.", ""},
      {folder, FileReadStatus::NotAFile, "Не удалось прочитать файл: это папка, а не файл",
       "это папка, а не файл"},
      {huge, FileReadStatus::TooLarge, "Файл слишком велик для файла прошивки (104857600 байт).", ""},
      // At the limit the file is read; 64 MiB of zero bytes are no records.
      {edge, FileReadStatus::Read, "Ошибка в строке 1 файла, позиция 1: запись не начинается с двоеточия",
       ""},
  };
#ifndef _WIN32
  const std::filesystem::path fifo = dir.Path() / "fifo.hex";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  cases.push_back({fifo, FileReadStatus::NotAFile,
                   "Не удалось прочитать файл: это именованный канал, а не файл",
                   "это именованный канал, а не файл"});
  cases.push_back({"/dev/zero", FileReadStatus::NotAFile,
                   "Не удалось прочитать файл: это устройство, а не файл", "это устройство, а не файл"});
  // Opened, but reading it fails.
  cases.push_back({"/proc/self/mem", FileReadStatus::Failed, "Не удалось прочитать файл: ошибка ввода-вывода",
                   "ошибка ввода-вывода"});
#endif

  for (const Case& c : cases) {
    SCOPED_TRACE(c.path.string());
    const HexFileLoad file = WithoutBlocking(c.path, [&c] { return LoadHexFile(c.path); });
    EXPECT_EQ(file.Read, c.read);
    EXPECT_EQ(Cp1251ToUtf8(file.Error), c.error);
    EXPECT_EQ(file.Ok(), c.error.empty());
    EXPECT_EQ(Cp1251ToUtf8(file.ReadProblem), c.readProblem);
    EXPECT_EQ(file.Load.BytesLeftOut, c.leftOut);
    EXPECT_EQ(file.Load.BytesAfterEnd, c.afterEnd);
    EXPECT_EQ(file.Load.DataRows, c.dataRows);
    if (!file.Ok()) {
      EXPECT_EQ(file.Load.Grid.Rows, EmptyHexGrid().Rows);
    }
  }
}

// What the file holds arrives as the text would have given it.
TEST(LoadHexFile, GivesTheGridTheTextGives) {
  const test::TempDir dir("tarvik-hexfile");
  const std::string text = File({Linear(1), Data(0, "01"), Linear(0), Data(0x25, Bytes(0x30, 20)), kEnd});
  const std::filesystem::path path = dir.Path() / "a.hex";
  std::ofstream(path, std::ios::binary) << text;

  const HexFileLoad file = LoadHexFile(path);
  ASSERT_TRUE(file.Ok()) << Cp1251ToUtf8(file.Error);
  EXPECT_EQ(file.Load.Grid.Rows, LoadHexText(text).Grid.Rows);
  EXPECT_EQ(RowText(file.Load.Grid.Rows[3]), "00020 FFFFFFFFFF" + Bytes(0x30, 11));
  std::vector<std::string> lines;
  for (const std::string& line : LeftOutLines(file.Load)) lines.push_back(Cp1251ToUtf8(line));
  EXPECT_EQ(lines, std::vector<std::string>{"Данные выше 64 КБ не загружены, пропущено байт: 1"});
}

}  // namespace
}  // namespace tarvik
