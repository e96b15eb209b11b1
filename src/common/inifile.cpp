#include "common/inifile.h"

#include <fstream>
#include <sstream>

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

std::string ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

IniFile::IniFile(std::filesystem::path path, bool writeThrough)
    : path_(std::move(path)), writeThrough_(writeThrough), doc_(IniDocument::Parse(ReadFileBytes(path_))) {}

std::string IniFile::ReadString(std::string_view section, std::string_view key, std::string_view fallback) const {
  return doc_.ReadString(section, key, fallback);
}

std::int32_t IniFile::ReadInteger(std::string_view section, std::string_view key, std::int32_t fallback) const {
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
  std::ofstream out(path_, std::ios::binary | std::ios::trunc);
  const std::string text = doc_.Serialize();
  if (!out || !out.write(text.data(), static_cast<std::streamsize>(text.size())) || !out.flush()) {
    throw IniError("Unable to write file " + path_.string());
  }
}

std::string ReadProfileString(const std::filesystem::path& path, std::string_view section, std::string_view key,
                              std::string_view fallback) {
  return IniDocument::Parse(ReadFileBytes(path)).ReadString(section, key, fallback);
}

}  // namespace tarvik
