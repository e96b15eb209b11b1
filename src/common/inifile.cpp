#include "common/inifile.h"

#include <cerrno>
#include <fstream>
#include <system_error>
#include <vector>

#include "common/text.h"

namespace tarvik {
namespace {

bool SameName(std::string_view a, std::string_view b) { return AsciiUpper(a) == AsciiUpper(b); }

// Windows strips one pair of matching quotes around a value.
std::string Unquote(std::string value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

}  // namespace

IniDocument IniDocument::Parse(std::string_view text) {
  IniDocument doc;
  for (const std::string& line : SplitLines(text)) {
    const std::string trimmed = Trim(line);
    if (!trimmed.empty() && trimmed.front() == '[') {
      const auto close = trimmed.find(']');
      Section s;
      s.name = Trim(trimmed.substr(1, close == std::string::npos ? std::string::npos : close - 1));
      doc.sections_.push_back(std::move(s));
      continue;
    }
    Entry e;
    e.raw = line;
    const auto eq = line.find('=');
    if (!trimmed.empty() && trimmed.front() != ';' && eq != std::string::npos) {
      e.key = Trim(line.substr(0, eq));
      e.value = Trim(line.substr(eq + 1));
    }
    if (doc.sections_.empty()) {
      doc.preamble_.push_back(line);
    } else {
      doc.sections_.back().entries.push_back(std::move(e));
    }
  }
  return doc;
}

std::string IniDocument::Serialize() const {
  std::string out;
  for (const auto& line : preamble_) out += line + "\r\n";
  for (const auto& s : sections_) {
    out += "[" + s.name + "]\r\n";
    for (const auto& e : s.entries) {
      out += e.key.empty() ? e.raw : e.key + "=" + e.value;
      out += "\r\n";
    }
  }
  return out;
}

IniDocument::Section* IniDocument::FindSection(std::string_view name) {
  for (auto& s : sections_) {
    if (SameName(s.name, name)) return &s;
  }
  return nullptr;
}

const IniDocument::Section* IniDocument::FindSection(std::string_view name) const {
  for (const auto& s : sections_) {
    if (SameName(s.name, name)) return &s;
  }
  return nullptr;
}

bool IniDocument::HasSection(std::string_view section) const { return FindSection(section) != nullptr; }

std::string IniDocument::ReadString(std::string_view section, std::string_view key,
                                    std::string_view fallback) const {
  if (const Section* s = FindSection(section)) {
    for (const auto& e : s->entries) {
      if (!e.key.empty() && SameName(e.key, key)) return Unquote(e.value);
    }
  }
  return std::string(fallback);
}

std::int32_t IniDocument::ReadInteger(std::string_view section, std::string_view key,
                                      std::int32_t fallback) const {
  return ParseInt32Or(ReadString(section, key, ""), fallback);
}

void IniDocument::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  Section* s = FindSection(section);
  if (s == nullptr) {
    sections_.push_back(Section{std::string(section), {}});
    s = &sections_.back();
  }
  for (auto& e : s->entries) {
    if (!e.key.empty() && SameName(e.key, key)) {
      e.value = std::string(value);
      return;
    }
  }
  // A new key goes after the section's last key, before trailing blank lines.
  auto pos = s->entries.end();
  while (pos != s->entries.begin() && std::prev(pos)->key.empty() && Trim(std::prev(pos)->raw).empty()) --pos;
  s->entries.insert(pos, Entry{std::string(key), std::string(value), {}});
}

void IniDocument::WriteInteger(std::string_view section, std::string_view key, std::int32_t value) {
  WriteString(section, key, std::to_string(value));
}

FileRead ReadSettingsFile(const std::filesystem::path& path, std::uintmax_t maxBytes) {
  FileRead result;
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(path, error);
  if (status.type() == std::filesystem::file_type::not_found) return result;
  if (error) {
    result.status = FileReadStatus::Failed;
    result.systemText = FileErrorReason(error);
    return result;
  }
  result.type = status.type();
  if (status.type() != std::filesystem::file_type::regular) {
    result.status = FileReadStatus::NotAFile;
    return result;
  }
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (!error && size > maxBytes) {
    result.status = FileReadStatus::TooLarge;
    return result;
  }
  errno = 0;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    result.status = FileReadStatus::Failed;
    result.systemText = FileErrorReason(std::error_code(errno != 0 ? errno : EIO, std::generic_category()));
    return result;
  }
  // A file that grows while it is read (or a system file whose size says
  // nothing) is still cut off at the limit.
  std::string bytes;
  std::vector<char> chunk(std::size_t{1} << 16);
  while (in) {
    in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    bytes.append(chunk.data(), static_cast<std::size_t>(in.gcount()));
    if (bytes.size() > maxBytes) {
      result.status = FileReadStatus::TooLarge;
      return result;
    }
  }
  if (in.bad()) {
    result.status = FileReadStatus::Failed;
    result.systemText = FileErrorReason(std::make_error_code(std::errc::io_error));
    return result;
  }
  result.status = FileReadStatus::Read;
  result.bytes = std::move(bytes);
  return result;
}

std::string FileReadProblem(const FileRead& read) {
  switch (read.status) {
    case FileReadStatus::Read:
    case FileReadStatus::Missing:
      return {};
    case FileReadStatus::NotAFile:
      switch (read.type) {
        case std::filesystem::file_type::directory:
          return Utf8ToCp1251("это папка, а не файл");
        case std::filesystem::file_type::fifo:
          return Utf8ToCp1251("это именованный канал, а не файл");
        case std::filesystem::file_type::character:
        case std::filesystem::file_type::block:
          return Utf8ToCp1251("это устройство, а не файл");
        default:
          return Utf8ToCp1251("это не обычный файл");
      }
    case FileReadStatus::TooLarge:
      return Utf8ToCp1251("файл больше " + std::to_string(kMaxSettingsFileBytes >> 20) + " МБ");
    case FileReadStatus::Failed:
      return read.systemText;
  }
  return {};
}

std::string FileErrorReason(std::error_code error) {
  struct Reason {
    std::errc cause;
    const char* text;
  };
  static constexpr Reason kReasons[] = {
      {std::errc::permission_denied, "нет доступа"},
      {std::errc::operation_not_permitted, "нет доступа"},
      {std::errc::no_such_file_or_directory, "нет такого файла или папки"},
      {std::errc::not_a_directory, "часть пути не является папкой"},
      {std::errc::is_a_directory, "это папка"},
      {std::errc::read_only_file_system, "диск доступен только для чтения"},
      {std::errc::no_space_on_device, "на диске нет места"},
      {std::errc::too_many_files_open, "открыто слишком много файлов"},
      {std::errc::too_many_files_open_in_system, "открыто слишком много файлов"},
      {std::errc::io_error, "ошибка ввода-вывода"},
      {std::errc::device_or_resource_busy, "файл занят другой программой"},
      {std::errc::text_file_busy, "файл занят другой программой"},
      {std::errc::filename_too_long, "слишком длинное имя файла"},
      {std::errc::too_many_symbolic_link_levels, "слишком много символических ссылок"},
      {std::errc::file_too_large, "файл слишком большой"},
      {std::errc::not_enough_memory, "недостаточно памяти"},
      {std::errc::invalid_argument, "недопустимое имя файла"},
  };
  for (const Reason& reason : kReasons) {
    if (error == reason.cause) return Utf8ToCp1251(reason.text);
  }
  return Utf8ToCp1251("системная ошибка ") + std::to_string(error.value());
}

std::string WriteFileReplacing(const std::filesystem::path& path, std::string_view bytes) {
  std::filesystem::path beside = path;
  beside += ".new";
  errno = 0;
  {
    std::ofstream out(beside, std::ios::binary | std::ios::trunc);
    if (out && out.write(bytes.data(), static_cast<std::streamsize>(bytes.size())) && out.flush()) {
      out.close();
      if (out) {
        std::error_code error;
        std::filesystem::rename(beside, path, error);
        if (!error) return {};
        std::filesystem::remove(beside, error);
        return FileErrorReason(error);
      }
    }
  }
  const int cause = errno != 0 ? errno : EIO;
  std::error_code ignored;
  std::filesystem::remove(beside, ignored);
  return FileErrorReason(std::error_code(cause, std::generic_category()));
}

std::string PathText(const std::filesystem::path& path) {
  // UTF-8 on every system: a path's own narrow form is the ANSI code page on
  // Windows and may not hold every name.
  const std::u8string utf8 = path.u8string();
  return Utf8ToCp1251(std::string_view(reinterpret_cast<const char*>(utf8.data()), utf8.size()));
}

std::string ReadFileBytes(const std::filesystem::path& path) { return ReadSettingsFile(path).bytes; }

IniFile::IniFile(std::filesystem::path path, bool writeThrough)
    : path_(std::move(path)), writeThrough_(writeThrough) {
  const FileRead read = ReadSettingsFile(path_);
  readProblem_ = FileReadProblem(read);
  doc_ = IniDocument::Parse(read.bytes);
}

std::string IniFile::ReadString(std::string_view section, std::string_view key,
                                std::string_view fallback) const {
  return doc_.ReadString(section, key, fallback);
}

std::int32_t IniFile::ReadInteger(std::string_view section, std::string_view key,
                                  std::int32_t fallback) const {
  return doc_.ReadInteger(section, key, fallback);
}

void IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  doc_.WriteString(section, key, value);
  if (writeThrough_) Save();
}

void IniFile::WriteInteger(std::string_view section, std::string_view key, std::int32_t value) {
  doc_.WriteInteger(section, key, value);
  if (writeThrough_) Save();
}

void IniFile::Save() const {
  const std::string cannot = Utf8ToCp1251("Не удалось записать файл ") + PathText(path_) + ": ";
  // What could not be read is not replaced by the empty settings that stood
  // in for it; and opening a FIFO to write would wait for a reader.
  if (!readProblem_.empty()) {
    throw IniError(cannot + Utf8ToCp1251("его не удалось прочитать, и он оставлен как есть"));
  }
  std::error_code error;
  const std::filesystem::file_type type = std::filesystem::status(path_, error).type();
  if (type != std::filesystem::file_type::not_found && type != std::filesystem::file_type::regular) {
    throw IniError(cannot + Utf8ToCp1251("это не обычный файл"));
  }
  errno = 0;
  std::ofstream out(path_, std::ios::binary | std::ios::trunc);
  const std::string text = doc_.Serialize();
  if (!out || !out.write(text.data(), static_cast<std::streamsize>(text.size())) || !out.flush()) {
    const int cause = errno != 0 ? errno : EIO;
    throw IniError(cannot + FileErrorReason(std::error_code(cause, std::generic_category())));
  }
}

std::string ReadProfileString(const std::filesystem::path& path, std::string_view section,
                              std::string_view key, std::string_view fallback) {
  return IniDocument::Parse(ReadSettingsFile(path).bytes).ReadString(section, key, fallback);
}

}  // namespace tarvik
