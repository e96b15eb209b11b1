#include "firmware/firmwareversion.h"

#include <gtest/gtest.h>

#include <string>

namespace tarvik {

// Found by GoogleTest through argument-dependent lookup.
void PrintTo(const FirmwareVersion& v, std::ostream* os) {
  *os << "{" << v.Major << ", " << v.TypeNumber << ", " << v.Build << ", \"" << v.VersionText << "\", \""
      << v.TypeCode << "\", \"" << v.Suffix << "\", \"" << v.FamilyCode << "\", " << v.FamilyMajor << ", "
      << v.FamilyMinor << "}";
}

namespace {

struct ParseCase {
  const char* text;
  FirmwareVersion expected;
};

// Fields: Major, TypeNumber, Build, VersionText, TypeCode, Suffix, FamilyCode, FamilyMajor, FamilyMinor.
const ParseCase kParseCases[] = {
    // A device line of the classic kind; the type's family code comes from the type number.
    {"VER 14.003.037", {14, 3, 37, "VER 14.003.037", "14.003.000", "", "QLT1", -1, -1}},
    // The rest of a device-type line: the family part is read last and gives the text.
    {"14.002.000;QTT1.000.000", {14, 2, 0, "VER QTT1.000.000", "14.002.000", "", "QTT1", 0, 0}},
    {"14.001.000;", {14, 1, 0, "VER 14.001.000", "14.001.000", "", "", -1, -1}},
    // A family device's line and a family image header.
    {"QTT1.001.002", {14, 2, -1, "VER QTT1.001.002", "", "", "QTT1", 1, 2}},
    {"VER QTT1.001.001", {14, 2, -1, "VER QTT1.001.001", "", "", "QTT1", 1, 1}},
    {"VER QEVQ1.002.001", {14, 8, -1, "VER QEVQ1.002.001", "", "", "QEVQ1", 2, 1}},
    // Fewer than three groups leave the numbers unset, and the texts show it.
    {"VER 14.003", {-1, -1, -1, "VER -01.-001.-001", "-01.-001.000", "", "", -1, -1}},
    {"VER", {-1, -1, -1, "VER -01.-001.-001", "-01.-001.000", "", "", -1, -1}},
    {"", {}},
    // Further groups form the suffix, which follows the build directly.
    {"VER 14.003.037.5", {14, 3, 37, "VER 14.003.0375.", "14.003.000", "5.", "QLT1", -1, -1}},
    {"VER 14.003.037.5.12", {14, 3, 37, "VER 14.003.0375.12.", "14.003.000", "5.12.", "QLT1", -1, -1}},
    // Two adjacent dots give an empty, unreadable group.
    {"VER 14..037", {14, -1, 37, "VER 14.-001.037", "14.-001.000", "", "", -1, -1}},
    // A group beyond 32 bits is no number.
    {"VER 14.003.99999999999", {14, 3, -1, "VER 14.003.-001", "14.003.000", "", "QLT1", -1, -1}},
    // Letters and blanks between the groups drop out.
    {"VER 14.0a03.0 37 OK", {14, 3, 37, "VER 14.003.037", "14.003.000", "", "QLT1", -1, -1}},
    // ";" divides before any family code is looked for.
    {"VER 14.012.000;QTT3.003.001", {14, 12, 0, "VER QTT3.003.001", "14.012.000", "", "QTT3", 3, 1}},
    {"QTT1 9;QHT1.002.001", {14, 9, -1, "VER QHT1.002.001", "-01.-001.000", "", "QHT1", 2, 1}},
    // Words after the third item of a family version are ignored.
    {"VER QHT1.002.001 beta 7", {14, 9, -1, "VER QHT1.002.001", "", "", "QHT1", 2, 1}},
    {"QZT1  005\t001", {14, 5, -1, "VER QZT1.005.001", "", "", "QZT1", 5, 1}},
    {"VER QTT1.0A1.002", {14, 2, -1, "VER QTT1.-001.002", "", "", "QTT1", -1, 2}},
    // A family version with too few items still gets major 14.
    {"QTT1", {14, -1, -1, "VER .-001.-001", "", "", "", -1, -1}},
    // A family code in lower case is no family code: the text is numeric.
    {"qtt1.001.002", {1, 1, 2, "VER 01.001.002", "01.001.000", "", "", -1, -1}},
};

TEST(ParseVersion, Table) {
  for (const ParseCase& c : kParseCases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ParseVersion(c.text), c.expected);
  }
}

TEST(ParseVersion, TextFieldsAreCutTo255Characters) {
  std::string numeric = "VER 14.003.037";
  for (int i = 0; i < 200; ++i) numeric += ".12";
  const FirmwareVersion v = ParseVersion(numeric);
  EXPECT_EQ(v.Build, 37);
  EXPECT_EQ(v.Suffix.size(), kMaxVersionTextLength);
  EXPECT_EQ(v.VersionText.size(), kMaxVersionTextLength);
  EXPECT_EQ(v.VersionText.substr(0, 20), "VER 14.003.03712.12.");

  const std::string longCode = "QTT1" + std::string(300, 'X');
  const FirmwareVersion f = ParseVersion("VER " + longCode + ".001.002");
  EXPECT_EQ(f.FamilyCode, longCode.substr(0, kMaxVersionTextLength));
  EXPECT_EQ(f.VersionText, ("VER " + longCode).substr(0, kMaxVersionTextLength));
  EXPECT_EQ(f.TypeNumber, -1);
  EXPECT_EQ(f.FamilyMajor, 1);
}

TEST(FamilyMaps, TypeNumbersAndCodesMapBothWays) {
  const struct {
    std::int32_t type;
    const char* code;
  } rows[] = {{2, "QTT1"}, {3, "QLT1"}, {5, "QZT1"}, {8, "QEVQ1"}, {9, "QHT1"}, {12, "QTT3"}};
  for (const auto& row : rows) {
    EXPECT_EQ(FamilyCodeOfType(row.type), row.code);
    EXPECT_EQ(TypeOfFamilyCode(row.code), row.type);
    EXPECT_TRUE(HasFamilyCode(std::string("x") + row.code + "y"));
  }
  for (std::int32_t type : {-1, 0, 1, 4, 7, 10}) EXPECT_EQ(FamilyCodeOfType(type), "") << type;
  // Only the exact, whole code counts.
  for (const char* text : {"", "qtt1", "QTT1 ", "QTT", "QTT2", "QEVQ"})
    EXPECT_EQ(TypeOfFamilyCode(text), -1) << text;
  for (const char* text : {"", "qtt1", "QTT", "QTT2", "QEVQ", "Q TT1"})
    EXPECT_FALSE(HasFamilyCode(text)) << text;
}

TEST(KeepVersionChars, KeepsDigitsAndDotsOnly) {
  EXPECT_EQ(KeepVersionChars("VER 14.003.037\r\n"), "14.003.037");
  EXPECT_EQ(KeepVersionChars("-1..+2;x\xC0"), "1..2");
  EXPECT_EQ(KeepVersionChars(""), "");
}

}  // namespace
}  // namespace tarvik
