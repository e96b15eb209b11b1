#pragma once
// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes. The name is new for every object, in this
// process and in any other running at the same time.
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>

namespace tarvik::test {

class TempDir {
 public:
  explicit TempDir(const std::string& prefix) {
    std::random_device seed;
    std::mt19937_64 random(seed());
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
      path_ = base / (prefix + "-" + std::to_string(random()));
      std::error_code e;
      // False when the folder was already there: somebody else's, try anew.
      if (std::filesystem::create_directory(path_, e)) return;
    }
    throw std::runtime_error("no fresh temporary folder for " + prefix);
  }
  ~TempDir() {
    std::error_code e;
    std::filesystem::remove_all(path_, e);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace tarvik::test
