#include "firmware/selection.h"

#include <gtest/gtest.h>

#include <string>

#include "common/text.h"
#include "firmware/devicetypes.h"
#include "shippedcatalogue.h"

namespace tarvik {
namespace {

using test::ShippedCatalogue;

const std::string kReceiver = Utf8ToCp1251("QTN Радиоканальный приемник");
const std::string kKeyFob = Utf8ToCp1251("QFQ Радиобрелок");
const std::string kKeypad = Utf8ToCp1251("QNF Радиоканальная клавиатура");

TEST(IsVersionSupported, DependsOnlyOnMajorAndType) {
  const struct {
    std::string version;
    bool supported;
  } cases[] = {
      {"VER 14.001.042", true},
      {"VER 14.002.017", true},  // no image of build 17, yet a known type
      {"VER 14.012.001", true},
      {"VER 14.003.000", true},
      {"VER 14.010.001", false},  // the control panel
      {"VER 14.006.001", false},
      {"VER 15.002.028", false},
      {"VER 14.003", false},
      {"qtt1.001.002", false},
      {"", false},
  };
  for (const auto& c : cases) {
    // notRelease is set only on a match.
    bool notRelease = true;
    EXPECT_EQ(IsVersionSupported(ShippedCatalogue(), c.version, notRelease), c.supported) << c.version;
    EXPECT_EQ(notRelease, !c.supported) << c.version;
  }
  for (const DeviceTypeRow& type : kDeviceTypes) {
    if (type.familyLine.empty()) continue;
    const std::string line = std::string(FamilyCodeOf(type)) + ".001.001";
    bool notRelease = true;
    EXPECT_TRUE(IsVersionSupported(ShippedCatalogue(), line, notRelease)) << line;
    EXPECT_TRUE(IsVersionSupported(ShippedCatalogue(), "VER " + line, notRelease)) << line;
    EXPECT_FALSE(notRelease);
  }
}

TEST(IsVersionSupported, TypeWithASuffixIsNotARelease) {
  const std::string image = "VER 14.021.003\r\n";
  FirmwareCatalogue catalogue;
  catalogue.LoadCatalogue(CatalogueSource{
      .Types = {{.typeNumber = 21, .displayName = "AAA", .versionLine = "14.021.000.7"}},
      .Resources = {{.Name = {}, .Number = 1, .Data = image}},
  });
  bool notRelease = false;
  EXPECT_TRUE(IsVersionSupported(catalogue, "VER 14.021.003", notRelease));
  EXPECT_TRUE(notRelease);
}

TEST(TypeVersionText, ByIndex) {
  const struct {
    int index;
    const char* text;
  } cases[] = {{0, "VER 14.001.000"},
               {1, "VER QTT1.000.000"},
               {4, "VER 14.004.000"},
               {6, "VER 14.007.000"},
               {8, "VER QHT1.000.000"},
               {-1, ""},
               {9, ""}};
  for (const auto& c : cases) EXPECT_EQ(TypeVersionText(ShippedCatalogue(), c.index), c.text) << c.index;
}

TEST(ListImagesForVersion, NumericAndFamilyImagesOfTheTypeInCatalogueOrder) {
  const std::vector<ImageChoice> doorDetector = {
      {"VER 14.002.028", 1}, {"VER QTT1.001.001", 2}, {"VER QTT1.001.002", 3}};
  EXPECT_EQ(ListImagesForVersion(ShippedCatalogue(), "VER 14.002.020"), doorDetector);
  EXPECT_EQ(ListImagesForVersion(ShippedCatalogue(), "QTT1.001.002"), doorDetector);
  const std::vector<ImageChoice> keyFob = {
      {"VER 14.004.015", 8}, {"VER 14.004.016", 9}, {"VER 14.004.017", 24}, {"VER 14.004.018", 25}};
  EXPECT_EQ(ListImagesForVersion(ShippedCatalogue(), "VER 14.004.000"), keyFob);
  EXPECT_TRUE(ListImagesForVersion(ShippedCatalogue(), "VER 14.010.001").empty());
}

TEST(ListImageVersions, EveryImageInCatalogueOrder) {
  const std::vector<std::string> lines = ListImageVersions(ShippedCatalogue());
  ASSERT_EQ(lines.size(), 26u);
  EXPECT_EQ(lines.front(), "VER 14.001.042");
  EXPECT_EQ(lines[2], "VER QTT1.001.001");
  EXPECT_EQ(lines.back(), "VER 14.004.018");
}

TEST(TypeNameForImage, OnlyImagesWhoseTypeCodeAppearsInATypeVersion) {
  const struct {
    int image;
    std::string name;
  } cases[] = {
      {0, kReceiver},
      {8, kKeyFob},
      {9, kKeyFob},
      {24, kKeyFob},
      {25, kKeyFob},
      {12, kKeypad},
      {19, kKeypad},
      // Types with a family firmware show their family version, which holds no type code.
      {1, ""},
      {5, ""},
      {22, ""},
      // Family images have no type code.
      {2, ""},
      {23, ""},
      {-1, ""},
      {26, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(TypeNameForImage(ShippedCatalogue(), c.image), c.name) << c.image;
}

TEST(DeviceTypeNames, DisplayNamesInCatalogueOrder) {
  const std::vector<std::string> names = DeviceTypeNames(ShippedCatalogue());
  ASSERT_EQ(names.size(), 9u);
  EXPECT_EQ(names[0], kReceiver);
  EXPECT_EQ(names[3], Utf8ToCp1251("QЛT Радиоканальный объемный извещатель"));
  EXPECT_EQ(names[8], Utf8ToCp1251("QHT Датчик разбития стекла"));
}

TEST(SelectImage, WindowTexts) {
  const std::string label = Utf8ToCp1251("Текущая версия прошивки :");
  const struct {
    const char* what;
    int image;
    std::optional<std::string> versionLine;
    bool groupHidden;
    ReflashSelection expected;
  } cases[] = {
      {"device line kept",
       1,
       "VER 14.002.020",
       true,
       {1, true, "VER 14.002.020", "VER 14.002.028", "", label, true, 0}},
      {"bootloader banner becomes the image's type code",
       0,
       "BootLdr 2.1",
       true,
       {0, true, "VER 14.001.000", "VER 14.001.042", kReceiver, label, true, 0}},
      {"bootloader in any letter case",
       9,
       "bootloader",
       true,
       {9, true, "VER 14.004.000", "VER 14.004.016", kKeyFob, label, true, 0}},
      {"family image has no type code",
       2,
       "BOOTLDR",
       true,
       {2, true, "VER ", "VER QTT1.001.001", "", label, true, 0}},
      {"no controller leaves the old name",
       6,
       std::nullopt,
       false,
       {6, false, std::nullopt, "VER 14.003.039", "", label, true, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const ReflashSelection s = SelectImage(ShippedCatalogue(), c.image, c.versionLine, c.groupHidden);
    EXPECT_EQ(s.SelectedImage, c.expected.SelectedImage);
    EXPECT_EQ(s.NamesVisible, c.expected.NamesVisible);
    EXPECT_EQ(s.OldName, c.expected.OldName);
    EXPECT_EQ(s.NewName, c.expected.NewName);
    EXPECT_EQ(s.Caption, c.expected.Caption);
    EXPECT_EQ(s.CurrentVersionLabel, c.expected.CurrentVersionLabel);
    EXPECT_TRUE(s.HideDevicePictures);
    EXPECT_EQ(s.ProgressComplete, 0);
  }
}

}  // namespace
}  // namespace tarvik
