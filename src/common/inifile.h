#pragma once
// INI files with Windows profile semantics: section and key names match
// without regard to ASCII letter case, a missing file, section or key gives
// the default, values are kept byte for byte (Windows-1251). The whole file
// is read into memory and written back whole, with CR LF line ends.
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tarvik {

class IniError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class IniDocument {
 public:
  IniDocument() = default;
  static IniDocument Parse(std::string_view text);
  std::string Serialize() const;

  // The value of the first matching key in the first matching section.
  std::string ReadString(std::string_view section, std::string_view key, std::string_view fallback) const;
  std::int32_t ReadInteger(std::string_view section, std::string_view key, std::int32_t fallback) const;
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, std::int32_t value);
  bool HasSection(std::string_view section) const;

 private:
  struct Entry {
    std::string key;  // empty for a line that is not key=value (kept as raw)
    std::string value;
    std::string raw;
  };
  struct Section {
    std::string name;
    std::vector<Entry> entries;
  };
  Section* FindSection(std::string_view name);
  const Section* FindSection(std::string_view name) const;

  std::vector<std::string> preamble_;  // lines before the first section
  std::vector<Section> sections_;
};

// An INI file on disk. In memory (TMemIniFile-like) by default; with
// writeThrough every write is saved at once.
class IniFile {
 public:
  explicit IniFile(std::filesystem::path path, bool writeThrough = false);

  const std::filesystem::path& Path() const { return path_; }
  std::string ReadString(std::string_view section, std::string_view key, std::string_view fallback) const;
  std::int32_t ReadInteger(std::string_view section, std::string_view key, std::int32_t fallback) const;
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, std::int32_t value);
  // Writes the whole file; throws IniError when it cannot.
  void Save() const;

 private:
  std::filesystem::path path_;
  bool writeThrough_;
  IniDocument doc_;
};

// One profile-string read, the file opened anew (as the rules file is read
// for every question).
std::string ReadProfileString(const std::filesystem::path& path, std::string_view section, std::string_view key,
                              std::string_view fallback);

// The whole file as bytes; empty when it cannot be read.
std::string ReadFileBytes(const std::filesystem::path& path);

}  // namespace tarvik
