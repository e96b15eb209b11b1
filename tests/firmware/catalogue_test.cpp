#include "firmware/catalogue.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "common/resources.h"
#include "common/text.h"
#include "firmware/devicetypes.h"
#include "shippedcatalogue.h"

namespace tarvik {
namespace {

using test::ShippedCatalogue;

struct TypeRow {
  const char* name;  // UTF-8
  std::int32_t typeNumber;
  const char* typeCode;
  const char* familyCode;
  const char* versionText;
  std::int32_t family;  // FamilyMajor and FamilyMinor
};

const TypeRow kTypes[] = {
    {"QTN Радиоканальный приемник", 1, "14.001.000", "", "VER 14.001.000", -1},
    {"QTT Радиоканальный магнитоконтактный извещатель", 2, "14.002.000", "QTT1", "VER QTT1.000.000", 0},
    {"QTT Радиоканальный магнитоконтактный извещатель (малый)", 12, "14.012.000", "QTT3", "VER QTT3.000.000",
     0},
    {"QЛT Радиоканальный объемный извещатель", 3, "14.003.000", "QLT1", "VER QLT1.000.000", 0},
    {"QFQ Радиобрелок", 4, "14.004.000", "", "VER 14.004.000", -1},
    {"QZT Радиоканальный извещатель задымления", 5, "14.005.000", "QZT1", "VER QZT1.000.000", 0},
    {"QNF Радиоканальная клавиатура", 7, "14.007.000", "", "VER 14.007.000", -1},
    {"QEVQ Ручной пожарный извещатель", 8, "14.008.000", "QEVQ1", "VER QEVQ1.000.000", 0},
    {"QHT Датчик разбития стекла", 9, "14.009.000", "QHT1", "VER QHT1.000.000", 0},
};

struct ImageRow {
  const char* header;
  std::size_t records;
  std::int32_t typeNumber;
  std::int32_t build;
  const char* familyCode;
  std::int32_t familyMajor;
  std::int32_t familyMinor;
  const char* typeCode;
};

const ImageRow kImages[] = {
    {"VER 14.001.042", 1568, 1, 42, "", -1, -1, "14.001.000"},
    {"VER 14.002.028", 952, 2, 28, "QTT1", -1, -1, "14.002.000"},
    {"VER QTT1.001.001", 944, 2, -1, "QTT1", 1, 1, ""},
    {"VER QTT1.001.002", 952, 2, -1, "QTT1", 1, 2, ""},
    {"VER QTT3.003.001", 928, 12, -1, "QTT3", 3, 1, ""},
    {"VER 14.003.037", 912, 3, 37, "QLT1", -1, -1, "14.003.000"},
    {"VER 14.003.039", 1088, 3, 39, "QLT1", -1, -1, "14.003.000"},
    {"VER QLT1.001.001", 1088, 3, -1, "QLT1", 1, 1, ""},
    {"VER 14.004.015", 968, 4, 15, "", -1, -1, "14.004.000"},
    {"VER 14.004.016", 1072, 4, 16, "", -1, -1, "14.004.000"},
    {"VER 14.005.003", 1000, 5, 3, "QZT1", -1, -1, "14.005.000"},
    {"VER QZT1.005.001", 992, 5, -1, "QZT1", 5, 1, ""},
    {"VER 14.007.003", 1368, 7, 3, "", -1, -1, "14.007.000"},
    {"VER 14.007.004", 1456, 7, 4, "", -1, -1, "14.007.000"},
    {"VER 14.007.005", 1520, 7, 5, "", -1, -1, "14.007.000"},
    {"VER 14.007.006", 1528, 7, 6, "", -1, -1, "14.007.000"},
    {"VER 14.007.007", 1528, 7, 7, "", -1, -1, "14.007.000"},
    {"VER 14.007.008", 1664, 7, 8, "", -1, -1, "14.007.000"},
    {"VER 14.007.010", 1672, 7, 10, "", -1, -1, "14.007.000"},
    {"VER 14.007.011", 1696, 7, 11, "", -1, -1, "14.007.000"},
    {"VER 14.008.002", 952, 8, 2, "QEVQ1", -1, -1, "14.008.000"},
    {"VER QEVQ1.002.001", 944, 8, -1, "QEVQ1", 2, 1, ""},
    {"VER 14.009.002", 1000, 9, 2, "QHT1", -1, -1, "14.009.000"},
    {"VER QHT1.002.001", 992, 9, -1, "QHT1", 2, 1, ""},
    {"VER 14.004.017", 1072, 4, 17, "", -1, -1, "14.004.000"},
    {"VER 14.004.018", 1072, 4, 18, "", -1, -1, "14.004.000"},
};

TEST(ShippedCatalogue, DeviceTypes) {
  const auto& types = ShippedCatalogue().DeviceTypes();
  ASSERT_EQ(types.size(), std::size(kTypes));
  for (std::size_t i = 0; i < types.size(); ++i) {
    SCOPED_TRACE(i);
    const TypeRow& row = kTypes[i];
    const FirmwareVersion& v = types[i].Version;
    EXPECT_EQ(types[i].DisplayName, Utf8ToCp1251(row.name));
    EXPECT_EQ(v.Major, 14);
    EXPECT_EQ(v.TypeNumber, row.typeNumber);
    EXPECT_EQ(v.Build, 0);
    EXPECT_EQ(v.TypeCode, row.typeCode);
    EXPECT_EQ(v.FamilyCode, row.familyCode);
    EXPECT_EQ(v.VersionText, row.versionText);
    EXPECT_EQ(v.Suffix, "");
    EXPECT_EQ(v.FamilyMajor, row.family);
    EXPECT_EQ(v.FamilyMinor, row.family);
  }
  // The motion detector's model code carries the Cyrillic letter El, not a Latin L.
  EXPECT_EQ(types[3].DisplayName.substr(0, 3), "Q\xCBT");
  EXPECT_EQ(types[0].DisplayName.substr(0, 6), "QTN \xD0\xE0");
}

TEST(ShippedCatalogue, Images) {
  const auto& images = ShippedCatalogue().FirmwareImages();
  const auto& lines = ShippedCatalogue().ImageLines();
  ASSERT_EQ(images.size(), std::size(kImages));
  ASSERT_EQ(lines.size(), std::size(kImages));
  for (std::size_t i = 0; i < images.size(); ++i) {
    SCOPED_TRACE(kImages[i].header);
    const ImageRow& row = kImages[i];
    const FirmwareVersion& v = images[i];
    EXPECT_EQ(v.VersionText, row.header);
    EXPECT_EQ(v.Major, 14);
    EXPECT_EQ(v.TypeNumber, row.typeNumber);
    EXPECT_EQ(v.Build, row.build);
    EXPECT_EQ(v.FamilyCode, row.familyCode);
    EXPECT_EQ(v.FamilyMajor, row.familyMajor);
    EXPECT_EQ(v.FamilyMinor, row.familyMinor);
    EXPECT_EQ(v.TypeCode, row.typeCode);
    ASSERT_EQ(lines[i].size(), row.records + 1);
    EXPECT_EQ(lines[i].front(), row.header);
  }
}

// The reflash worker takes the 32 data digits of every record at fixed
// positions, so every record must have exactly the stored layout.
TEST(ShippedCatalogue, RecordsAreContiguousSixteenByteRecords) {
  const auto isHex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); };
  for (const auto& image : ShippedCatalogue().ImageLines()) {
    SCOPED_TRACE(image.front());
    for (std::size_t r = 1; r < image.size(); ++r) {
      const std::string& line = image[r];
      ASSERT_EQ(line.size(), 43u) << "record " << r;
      ASSERT_EQ(line.substr(0, 3), ":10") << "record " << r;
      char address[5];
      std::snprintf(address, sizeof address, "%04zX", (r - 1) * 16);
      ASSERT_EQ(line.substr(3, 4), address) << "record " << r;
      ASSERT_EQ(line.substr(7, 2), "00") << "record " << r;
      for (std::size_t k = 1; k < line.size(); ++k)
        ASSERT_TRUE(isHex(line[k])) << "record " << r << " at " << k;
    }
  }
}

TEST(EmbeddedResources, FoundByNumber) {
  for (int n = 1; n <= 26; ++n) {
    const auto image = FindResource(n);
    ASSERT_TRUE(image.has_value()) << n;
    EXPECT_EQ(image->substr(0, 4), "VER ") << n;
    EXPECT_EQ(image->substr(image->size() - 2), "\r\n") << n;
  }
  for (int n : {0, -1, 27}) EXPECT_FALSE(FindResource(n).has_value()) << n;
}

// A catalogue held in memory, for catalogues other than the shipped one.
class MemoryCatalogue {
 public:
  std::vector<DeviceTypeRow> types;
  std::map<int, std::string> numbered;

  CatalogueSource Source() const {
    CatalogueSource source{.Types = types, .Resources = {}};
    for (const auto& [number, data] : numbered)
      source.Resources.push_back({.Name = {}, .Number = number, .Data = data});
    return source;
  }
};

std::string Image(const std::string& header, int records) {
  std::string text = header + "\r\n";
  for (int r = 0; r < records; ++r) {
    char line[64];
    std::snprintf(line, sizeof line, ":10%04X00%032X%02X\r\n", r * 16, r, r & 0xFF);
    text += line;
  }
  return text;
}

class CustomCatalogue : public ::testing::Test {
 protected:
  void SetUp() override {
    files_.types = {{.typeNumber = 21, .displayName = "AAA first", .versionLine = "14.021.000"},
                    {.typeNumber = 22, .displayName = "BBB second", .versionLine = "14.022.000.7"}};
    files_.numbered[1] = Image("VER 14.021.001", 1);
    files_.numbered[2] = Image("VER 14.022.005", 4000);
    // Lone LF line ends and no line end after the last record.
    files_.numbered[3] = "VER 14.021.002\n:10000000" + std::string(32, 'F') + "AB";
  }
  MemoryCatalogue files_;
};

TEST_F(CustomCatalogue, LoadsAnyTypeImageAndRecordCount) {
  FirmwareCatalogue catalogue;
  catalogue.LoadCatalogue(files_.Source());
  ASSERT_EQ(catalogue.DeviceTypes().size(), 2u);
  EXPECT_EQ(catalogue.DeviceTypes()[0].DisplayName, "AAA first");
  EXPECT_EQ(catalogue.DeviceTypes()[1].Version.TypeNumber, 22);
  EXPECT_EQ(catalogue.DeviceTypes()[1].Version.Suffix, "7.");
  ASSERT_EQ(catalogue.FirmwareImages().size(), 3u);
  EXPECT_EQ(catalogue.FirmwareImages()[1].Build, 5);
  EXPECT_EQ(catalogue.ImageLines()[0].size(), 2u);
  EXPECT_EQ(catalogue.ImageLines()[1].size(), 4001u);
  EXPECT_EQ(catalogue.ImageLines()[1].back().substr(3, 4), "F9F0");
  EXPECT_EQ(catalogue.ImageLines()[2],
            (std::vector<std::string>{"VER 14.021.002", ":10000000" + std::string(32, 'F') + "AB"}));
}

TEST_F(CustomCatalogue, NamesAndVersionsAreCutTo255Characters) {
  const std::string name(300, 'N');
  const std::string version = "14.021.000" + std::string(300, ' ');
  files_.types = {{.typeNumber = 21, .displayName = name, .versionLine = version}};
  FirmwareCatalogue catalogue;
  catalogue.LoadCatalogue(files_.Source());
  EXPECT_EQ(catalogue.DeviceTypes()[0].DisplayName, std::string(255, 'N'));
  EXPECT_EQ(catalogue.DeviceTypes()[0].Version.TypeCode, "14.021.000");
}

TEST_F(CustomCatalogue, FailuresThrowAndKeepThePreviousCatalogue) {
  const struct {
    const char* what;
    void (*breakIt)(MemoryCatalogue&);
  } cases[] = {
      {"an image missing between two", [](MemoryCatalogue& f) { f.numbered.erase(2); }},
      {"no image 1", [](MemoryCatalogue& f) { f.numbered.erase(1); }},
      {"no image at all", [](MemoryCatalogue& f) { f.numbered.clear(); }},
      {"an image numbered 0", [](MemoryCatalogue& f) { f.numbered[0] = Image("VER 14.021.003", 1); }},
      {"a type twice", [](MemoryCatalogue& f) { f.types.push_back(f.types.front()); }},
      {"a type whose line names another number", [](MemoryCatalogue& f) { f.types[1].typeNumber = 23; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    MemoryCatalogue broken = files_;
    c.breakIt(broken);
    FirmwareCatalogue catalogue;
    catalogue.LoadCatalogue();
    EXPECT_THROW(catalogue.LoadCatalogue(broken.Source()), CatalogueError);
    EXPECT_EQ(catalogue.FirmwareImages().size(), 26u);
    EXPECT_EQ(catalogue.DeviceTypes().size(), 9u);
  }
}

// What is wrong is named: which image, which rows of the table.
TEST_F(CustomCatalogue, RefusalsNameTheirCause) {
  const struct {
    const char* what;
    void (*breakIt)(MemoryCatalogue&);
    const char* message;
  } cases[] = {
      {"gap", [](MemoryCatalogue& f) { f.numbered.erase(2); },
       "The embedded firmware image 2 is missing (the images go on with 3)"},
      {"no image 1", [](MemoryCatalogue& f) { f.numbered.erase(1); },
       "The embedded firmware image 1 is missing (the images go on with 2)"},
      {"no image", [](MemoryCatalogue& f) { f.numbered.clear(); },
       "The embedded firmware image 1 is missing"},
      {"clash", [](MemoryCatalogue& f) { f.types.push_back(f.types.front()); },
       "The table of device types is at fault: device types 21 and 21: two rows have the same type number"},
      {"hidden token",
       [](MemoryCatalogue& f) {
         f.types = {{.typeNumber = 21,
                     .displayName = "A",
                     .versionLine = "14.021.000",
                     .bootloaderToken = "TT",
                     .tokenRank = 1},
                    {.typeNumber = 22,
                     .displayName = "B",
                     .versionLine = "14.022.000",
                     .bootloaderToken = "QTT3",
                     .tokenRank = 2}};
       },
       "The table of device types is at fault: device types 21 and 22: the first row's bootloader token is "
       "searched first and is part of the second's, so no unit name finds the second"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    MemoryCatalogue broken = files_;
    c.breakIt(broken);
    FirmwareCatalogue catalogue;
    try {
      catalogue.LoadCatalogue(broken.Source());
      ADD_FAILURE() << "loaded";
    } catch (const CatalogueError& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
  }
}

}  // namespace
}  // namespace tarvik
