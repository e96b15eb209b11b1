#pragma once
// The command words that drive controls through the output queue. Pure word
// logic lives here so it is checked without any window; the Qt appliers only
// decide which control a word reaches.
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string_view>

namespace tarvik {

// A word that had to be a number or a colour and is neither. The appliers
// catch it, so the target keeps its state.
class WordError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

inline constexpr std::string_view kWordRepaint = "Repaint12345";
inline constexpr std::string_view kWordEnableTrue = "enabletrue";
inline constexpr std::string_view kWordEnableFalse = "enablefalse";
inline constexpr std::string_view kWordShow = "Show";
inline constexpr std::string_view kWordClose = "Close";

// A number as text: optional sign, digits with an optional fraction, an
// optional exponent; nothing around it.
std::optional<double> ParseNumberWord(std::string_view word);

// True for a non-zero number, "True" in any letter case; false for zero,
// "False" in any letter case and every other text.
bool ReadBooleanWord(std::string_view word);

// "Click", "click", "CLICK" and every other letter case of it.
bool IsClickWord(std::string_view word);

// A 32-bit integer in decimal or, after "$" or "0x", hexadecimal. Throws
// WordError for anything else.
std::int32_t ReadIntegerWord(std::string_view word);

struct Rgb {
  std::uint8_t r = 0;
  std::uint8_t g = 0;
  std::uint8_t b = 0;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

// A colour name ("clGreen", "clred", ...) or a number whose low three bytes
// are red, green and blue from the lowest byte up. Negative numbers and
// unknown names throw WordError.
Rgb ReadColorWord(std::string_view word);

// The font colour a label takes before it shows the given Windows-1251 caption:
// green for an established connection, red for a broken one, none otherwise.
std::optional<Rgb> LabelColorFor(std::string_view cp1251Caption);

}  // namespace tarvik
