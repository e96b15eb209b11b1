#pragma once
// The user's words, in Russian, for each kind of error the argument parser
// raises. Its own texts are English and speak of its own terms; what it
// cannot tell (which argument it could not place, what an option's check
// said) the parser hands over as facts.
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace CLI {
class Error;
}

namespace tarvik::cli {

// An option as the program declares it.
struct NamedOption {
  std::string name;  // "--log"
  bool takesValue = false;
};

struct UsageErrorFacts {
  // The arguments the parser could not place, in order.
  std::vector<std::string> unplaced{};
  // The option whose name the parser's text begins with, if any.
  std::function<std::optional<NamedOption>(std::string_view text)> optionNamedIn{};
  // What an option's own check said of its value (UTF-8).
  std::string checkSaid{};
  // Options given together that exclude each other.
  std::vector<std::string> excluding{};
};

// UTF-8. Not for the parser's calls for help and for the version, which
// are answers, not errors.
std::string UsageErrorText(const CLI::Error& error, const UsageErrorFacts& facts);

}  // namespace tarvik::cli
