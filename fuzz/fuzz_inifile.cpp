// IniDocument on arbitrary text: parsing, reading, writing and saving. A
// saved document parses back to the same text, and what was written reads
// back unchanged. Input: three NUL-separated fields (section, key, value) to
// write, then the document text.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/inifile.h"
#include "common/text.h"

namespace {

bool HasLineEnd(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

// Names and values that a profile file can hold at all: one line, no
// surrounding blanks, and the characters that would change the line's kind
// kept out.
bool WritableSection(std::string_view s) {
  return !s.empty() && !HasLineEnd(s) && tarvik::Trim(s) == s && s.find(']') == std::string_view::npos;
}
bool WritableKey(std::string_view s) {
  return !s.empty() && !HasLineEnd(s) && tarvik::Trim(s) == s && s.find('=') == std::string_view::npos &&
         s.front() != ';' && s.front() != '[';
}
bool WritableValue(std::string_view s) {
  const bool quoted = s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front();
  return !HasLineEnd(s) && tarvik::Trim(s) == s && !quoted;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::array<std::string_view, 3> fields;
  for (auto& field : fields) {
    const std::size_t nul = input.find('\0');
    if (nul == std::string_view::npos) return 0;
    field = input.substr(0, nul);
    input.remove_prefix(nul + 1);
  }
  const auto [section, key, value] = fields;

  tarvik::IniDocument doc = tarvik::IniDocument::Parse(input);
  const std::string before = doc.ReadString(section, key, "\x01");
  (void)doc.ReadInteger(section, key, 7);
  (void)doc.HasSection(section);

  // Saving is stable: what was saved once is saved again unchanged.
  const std::string saved = doc.Serialize();
  const tarvik::IniDocument reread = tarvik::IniDocument::Parse(saved);
  if (reread.Serialize() != saved) std::abort();
  if (reread.ReadString(section, key, "\x01") != before) std::abort();

  if (WritableSection(section) && WritableKey(key) && WritableValue(value)) {
    doc.WriteString(section, key, value);
    if (doc.ReadString(section, key, "\x01") != value) std::abort();
    const tarvik::IniDocument written = tarvik::IniDocument::Parse(doc.Serialize());
    if (written.ReadString(section, key, "\x01") != value) std::abort();
    if (!written.HasSection(section)) std::abort();
  }
  return 0;
}
