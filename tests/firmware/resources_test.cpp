// The embedded images are the files of resources/images, byte for byte:
// line ends and all.
#include "common/resources.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace tarvik {
namespace {

namespace fs = std::filesystem;

std::string FileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(EmbeddedResources, HoldTheirFilesByteForByte) {
  const fs::path root = TARVIK_RESOURCE_DIR;
  int images = 0;
  for (const auto& entry : fs::directory_iterator(root / "images")) {
    if (entry.path().extension() != ".hex") continue;
    const int number = std::stoi(entry.path().stem().string());
    const std::string bytes = FileBytes(entry.path());
    ASSERT_FALSE(bytes.empty()) << entry.path();
    EXPECT_EQ(FindResource(number), bytes) << entry.path();
    ++images;
  }
  EXPECT_EQ(images, 26);
}

}  // namespace
}  // namespace tarvik
