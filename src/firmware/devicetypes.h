#pragma once
// The device types the tool knows, one row per type: what the type is called,
// how its version lines read, how its firmware family and its bootloader name
// it, how new firmware reaches it and how long its commands may take. Adding
// a type is one row here plus its images in resources/images.
//
// The rows' order is the order of the device-type choice. Where a text may
// hold the codes of several rows, the order of the search is a column of its
// own (familyRank, tokenRank), and CheckDeviceTypes proves at build time that
// no row hides another.
//
// A table in code rather than a file beside the images: the family and
// bootloader lookups run where no catalogue is loaded (parsing a version,
// reading a device's reply), and a contradiction stops the build instead of
// a program in the field.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace tarvik {

// How new firmware reaches a device of the type that runs its own firmware
// (one found in its bootloader always takes the bootloader's).
enum class FlashProcedure {
  Bootloader,  // "BL", "BE", the writes with block 0000 last, a settle wait
  Staged,      // the writes to the running firmware, then its "EE" commit
};

// The time-outs of the commands once the device is known, and the pause
// after every write attempt through the bootloader.
struct DeviceTimings {
  std::int32_t commandMs = 2500;
  std::int32_t slowCommandMs = 15000;  // "BE" and the staged commit
  std::int32_t writeMs = 3500;
  std::uint32_t writePauseMs = 40;
};

struct DeviceTypeRow {
  std::int32_t typeNumber = 0;
  // Model code, a blank and a description, in UTF-8 (Windows-1251 in the
  // catalogue).
  std::string_view displayName = {};
  // Build 0 of the type as its numeric version reads, "14.002.000".
  std::string_view versionLine = {};
  // The same for its firmware family, "QTT1.000.000"; empty for a type
  // without one. The family code is the part before the first dot.
  std::string_view familyLine = {};
  // Where the family code comes in the search of a reply that may hold
  // several (1 first); 0 without a family.
  int familyRank = 0;
  // What a bootloader's unit name holds for this type (case-sensitive), and
  // where it comes in the search (1 first); empty and 0: no bootloader names
  // it.
  std::string_view bootloaderToken = {};
  int tokenRank = 0;
  FlashProcedure procedure = FlashProcedure::Bootloader;
  // In the catalogue the program carries: the device-type choice offers it
  // and its versions are supported. A type whose firmware is delivered
  // elsewhere is still known by its procedure and timings.
  bool listed = true;
  DeviceTimings timings = {};
};

// Where the values come from: the types the bootloader and firmware of each
// device report, and the texts the tool has always shown for them.
inline constexpr std::array<DeviceTypeRow, 10> kDeviceTypes = {{
    {.typeNumber = 1,
     .displayName = "QTN Радиоканальный приемник",
     .versionLine = "14.001.000",
     .bootloaderToken = "TN",
     .tokenRank = 4},
    {.typeNumber = 2,
     .displayName = "QTT Радиоканальный магнитоконтактный извещатель",
     .versionLine = "14.002.000",
     .familyLine = "QTT1.000.000",
     .familyRank = 1,
     .bootloaderToken = "TT",
     .tokenRank = 3},
    {.typeNumber = 12,
     .displayName = "QTT Радиоканальный магнитоконтактный извещатель (малый)",
     .versionLine = "14.012.000",
     .familyLine = "QTT3.000.000",
     .familyRank = 2,
     .bootloaderToken = "QTT3",
     .tokenRank = 2},
    // The model code's second letter is the Cyrillic El; the bootloader and
    // the family write a Latin L, and "LT" finds "QLT" and "QLT1" alike.
    {.typeNumber = 3,
     .displayName = "QЛT Радиоканальный объемный извещатель",
     .versionLine = "14.003.000",
     .familyLine = "QLT1.000.000",
     .familyRank = 5,
     .bootloaderToken = "LT",
     .tokenRank = 1},
    {.typeNumber = 4,
     .displayName = "QFQ Радиобрелок",
     .versionLine = "14.004.000",
     .bootloaderToken = "QFQ1",
     .tokenRank = 6},
    {.typeNumber = 5,
     .displayName = "QZT Радиоканальный извещатель задымления",
     .versionLine = "14.005.000",
     .familyLine = "QZT1.000.000",
     .familyRank = 6,
     .bootloaderToken = "QZT1",
     .tokenRank = 7},
    {.typeNumber = 7,
     .displayName = "QNF Радиоканальная клавиатура",
     .versionLine = "14.007.000",
     .bootloaderToken = "QNF",
     .tokenRank = 5},
    {.typeNumber = 8,
     .displayName = "QEVQ Ручной пожарный извещатель",
     .versionLine = "14.008.000",
     .familyLine = "QEVQ1.000.000",
     .familyRank = 4,
     .bootloaderToken = "QEVQ1",
     .tokenRank = 8},
    {.typeNumber = 9,
     .displayName = "QHT Датчик разбития стекла",
     .versionLine = "14.009.000",
     .familyLine = "QHT1.000.000",
     .familyRank = 3,
     .bootloaderToken = "QHT1",
     .tokenRank = 9},
    // The panel takes its firmware while running it; no image for it
    // travels with the program.
    {.typeNumber = 10,
     .displayName = "QPN Приёмно-контрольная панель",
     .versionLine = "14.010.000",
     .procedure = FlashProcedure::Staged,
     .listed = false},
}};

// The family code of a row: its family line up to the first dot.
constexpr std::string_view FamilyCodeOf(const DeviceTypeRow& row) {
  return row.familyLine.substr(0, row.familyLine.find('.'));
}

// The row of a type number, or null.
constexpr const DeviceTypeRow* DeviceTypeByNumber(std::int32_t typeNumber,
                                                  std::span<const DeviceTypeRow> rows = kDeviceTypes) {
  for (const DeviceTypeRow& row : rows) {
    if (row.typeNumber == typeNumber) return &row;
  }
  return nullptr;
}

// The type number when the table has the type, else 0.
constexpr std::int32_t KnownTypeNumber(std::int32_t typeNumber) {
  return typeNumber > 0 && DeviceTypeByNumber(typeNumber) != nullptr ? typeNumber : 0;
}

// The timings of a type; a type the table does not have gets the defaults.
// The row is looked up by value: GCC with the sanitizers does not take a
// pointer's comparison with null as constant, and the campaign checks its
// copy of the timings at build time.
constexpr DeviceTimings TimingsOfType(std::int32_t typeNumber) {
  for (const DeviceTypeRow& row : kDeviceTypes) {
    if (row.typeNumber == typeNumber) return row.timings;
  }
  return {};
}

// The row whose family code has the rank, or null.
constexpr const DeviceTypeRow* FamilyByRank(int rank, std::span<const DeviceTypeRow> rows = kDeviceTypes) {
  for (const DeviceTypeRow& row : rows) {
    if (rank > 0 && row.familyRank == rank) return &row;
  }
  return nullptr;
}

// The highest search rank of the rows (the family's or the token's).
constexpr int HighestRank(std::span<const DeviceTypeRow> rows, int DeviceTypeRow::*rank) {
  int highest = 0;
  for (const DeviceTypeRow& row : rows) highest = row.*rank > highest ? row.*rank : highest;
  return highest;
}

// The rank of the first family code, in rank order, that occurs in the text
// (case-sensitive), or 0.
constexpr int FindFamilyCode(std::string_view text, std::span<const DeviceTypeRow> rows = kDeviceTypes) {
  for (int rank = 1; rank <= HighestRank(rows, &DeviceTypeRow::familyRank); ++rank) {
    const DeviceTypeRow* row = FamilyByRank(rank, rows);
    if (row != nullptr && text.find(FamilyCodeOf(*row)) != std::string_view::npos) return rank;
  }
  return 0;
}

// The family code of a type number, or empty.
constexpr std::string_view FamilyCodeOfType(std::int32_t typeNumber) {
  const DeviceTypeRow* row = DeviceTypeByNumber(typeNumber);
  return row != nullptr ? FamilyCodeOf(*row) : std::string_view{};
}

// The type number of an exact family code, or -1.
constexpr std::int32_t TypeOfFamilyCode(std::string_view familyCode) {
  for (const DeviceTypeRow& row : kDeviceTypes) {
    if (!row.familyLine.empty() && FamilyCodeOf(row) == familyCode) return row.typeNumber;
  }
  return -1;
}

// The row of the first bootloader token, in rank order, that the unit name
// holds (case-sensitive), or null.
constexpr const DeviceTypeRow* BootloaderModel(std::string_view unitName,
                                               std::span<const DeviceTypeRow> rows = kDeviceTypes) {
  for (int rank = 1; rank <= HighestRank(rows, &DeviceTypeRow::tokenRank); ++rank) {
    for (const DeviceTypeRow& row : rows) {
      if (row.tokenRank == rank && !row.bootloaderToken.empty() &&
          unitName.find(row.bootloaderToken) != std::string_view::npos)
        return &row;
    }
  }
  return nullptr;
}

// The first fault of a table, for the build's check and for a catalogue
// loaded from another table: what is wrong, and the type numbers of the rows
// at fault (otherType 0 when one row is enough to tell).
struct DeviceTypeFault {
  std::string_view what = {};  // empty: the table holds
  std::int32_t typeNumber = 0;
  std::int32_t otherType = 0;
};

namespace device_type_detail {

// The number between the first and the second dot, or -1.
constexpr std::int32_t MiddleGroup(std::string_view line) {
  const std::size_t first = line.find('.');
  if (first == std::string_view::npos) return -1;
  const std::size_t second = line.find('.', first + 1);
  if (second == std::string_view::npos || second == first + 1) return -1;
  std::int32_t value = 0;
  for (std::size_t i = first + 1; i < second; ++i) {
    if (line[i] < '0' || line[i] > '9' || value > 99999) return -1;
    value = value * 10 + (line[i] - '0');
  }
  return value;
}

constexpr bool Holds(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

constexpr DeviceTypeFault CheckRow(const DeviceTypeRow& row) {
  const std::int32_t type = row.typeNumber;
  if (type <= 0) return {"its type number is not above 0", type, 0};
  if (row.displayName.empty()) return {"it has no display name", type, 0};
  if (MiddleGroup(row.versionLine) != type)
    return {"its version line does not name its type number", type, 0};
  const bool family = !row.familyLine.empty();
  if (family && (FamilyCodeOf(row).empty() || FamilyCodeOf(row).size() == row.familyLine.size()))
    return {"its family line does not begin with a family code and a dot", type, 0};
  if (family != (row.familyRank > 0))
    return {"it has a family code without a search rank or the other way", type, 0};
  if (row.bootloaderToken.empty() != (row.tokenRank <= 0))
    return {"it has a bootloader token without a search rank or the other way", type, 0};
  const DeviceTimings& t = row.timings;
  if (t.commandMs <= 0 || t.slowCommandMs <= 0 || t.writeMs <= 0)
    return {"a time-out is not above 0", type, 0};
  return {};
}

constexpr DeviceTypeFault CheckPair(const DeviceTypeRow& a, const DeviceTypeRow& b,
                                    std::span<const DeviceTypeRow> rows) {
  const std::int32_t ta = a.typeNumber;
  const std::int32_t tb = b.typeNumber;
  if (ta == tb) return {"two rows have the same type number", ta, tb};
  if (!a.familyLine.empty() && !b.familyLine.empty()) {
    if (a.familyRank == b.familyRank) return {"two family codes share a search rank", ta, tb};
    // Containment would make the search order decide a reply of the longer
    // code.
    if (Holds(FamilyCodeOf(b), FamilyCodeOf(a)))
      return {"the first row's family code is part of the second's", ta, tb};
  }
  if (!a.bootloaderToken.empty() && !b.bootloaderToken.empty()) {
    if (a.tokenRank == b.tokenRank) return {"two bootloader tokens share a search rank", ta, tb};
    if (Holds(b.bootloaderToken, a.bootloaderToken) && a.tokenRank < b.tokenRank)
      return {
          "the first row's bootloader token is searched first and is part of the second's, "
          "so no unit name finds the second",
          ta, tb};
  }
  // A bootloader that names its model by the family code finds that type.
  if (!a.familyLine.empty() && !a.bootloaderToken.empty() && BootloaderModel(FamilyCodeOf(a), rows) == &b)
    return {"a unit name that is the first row's family code finds the second row", ta, tb};
  return {};
}

}  // namespace device_type_detail

constexpr DeviceTypeFault CheckDeviceTypes(std::span<const DeviceTypeRow> rows) {
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (const DeviceTypeFault fault = device_type_detail::CheckRow(rows[i]); !fault.what.empty())
      return fault;
    for (std::size_t j = 0; j < rows.size(); ++j) {
      if (i == j) continue;
      const DeviceTypeFault fault = device_type_detail::CheckPair(rows[i], rows[j], rows);
      if (!fault.what.empty()) return fault;
    }
  }
  return {};
}

// A failure here names its fault in the firmware tests (DeviceTypeTable).
static_assert(CheckDeviceTypes(kDeviceTypes).what.empty(), "the table of device types contradicts itself");

}  // namespace tarvik
