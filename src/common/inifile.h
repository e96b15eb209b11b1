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
#include <system_error>
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

// The largest settings file that is read. A real one holds a few kB; a rules
// file of 50 MB has always been read and still is.
inline constexpr std::uintmax_t kMaxSettingsFileBytes = std::uintmax_t{64} << 20;

enum class FileReadStatus {
  Read,
  Missing,   // nothing at the path
  NotAFile,  // a FIFO, a device, a folder: never opened, so never waited on
  TooLarge,  // larger than the limit
  Failed,    // the system refused the read
};

struct FileRead {
  FileReadStatus status = FileReadStatus::Missing;
  // What stands at the path, so that NotAFile can say what it is instead.
  std::filesystem::file_type type = std::filesystem::file_type::not_found;
  std::string bytes{};
  std::string systemText{};  // why the system refused (FileErrorReason), for Failed
  // Read, or missing, which reads as empty settings.
  bool Usable() const { return status == FileReadStatus::Read || status == FileReadStatus::Missing; }
};

// Reads a settings file without ever blocking and without limit-less growth:
// only a regular file (or a link to one) is opened, and only when it holds
// at most maxBytes.
FileRead ReadSettingsFile(const std::filesystem::path& path, std::uintmax_t maxBytes = kMaxSettingsFileBytes);

// Why a settings file could not be read, in Russian (Windows-1251) for the
// user; empty when it was read or is missing.
std::string FileReadProblem(const FileRead& read);

// Why the system refused a file, in Russian (Windows-1251): the common causes
// by name, any other by its number. The system's own text would be in the
// language of the system's locale, often English.
std::string FileErrorReason(std::error_code error);

// Replaces the file with the bytes: they are written beside it and renamed
// over it, so a failed write leaves the file there as it was. Empty when
// written; otherwise why not (FileErrorReason).
std::string WriteFileReplacing(const std::filesystem::path& path, std::string_view bytes);

// A path as Windows-1251 text, for messages; a name is taken as UTF-8.
std::string PathText(const std::filesystem::path& path);

// An INI file on disk. In memory (TMemIniFile-like) by default; with
// writeThrough every write is saved at once. A file that is there but cannot
// be read gives empty settings and is never written over, so what it holds
// is kept.
class IniFile {
 public:
  explicit IniFile(std::filesystem::path path, bool writeThrough = false);

  const std::filesystem::path& Path() const { return path_; }
  // Why the file could not be read (FileReadProblem); empty when it was read
  // or is missing.
  const std::string& ReadProblem() const { return readProblem_; }
  std::string ReadString(std::string_view section, std::string_view key, std::string_view fallback) const;
  std::int32_t ReadInteger(std::string_view section, std::string_view key, std::int32_t fallback) const;
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, std::int32_t value);
  // Writes the whole file; throws IniError when it cannot, or when the file
  // there could not be read or is not a regular file.
  void Save() const;

 private:
  std::filesystem::path path_;
  bool writeThrough_;
  std::string readProblem_;
  IniDocument doc_;
};

// One profile-string read, the file opened anew (as the rules file is read
// for every question).
std::string ReadProfileString(const std::filesystem::path& path, std::string_view section,
                              std::string_view key, std::string_view fallback);

// The whole file as bytes (ReadSettingsFile); empty when it cannot be read.
std::string ReadFileBytes(const std::filesystem::path& path);

}  // namespace tarvik
