#include "cli/usageerror.h"

#include <CLI/Error.hpp>

namespace tarvik::cli {
namespace {

std::optional<NamedOption> OptionIn(const CLI::Error& error, const UsageErrorFacts& facts) {
  if (!facts.optionNamedIn) return std::nullopt;
  return facts.optionNamedIn(error.what());
}

std::string Unplaced(const std::vector<std::string>& unplaced) {
  if (unplaced.empty()) return "лишние аргументы";
  const std::string& first = unplaced.front();
  // A word after "--" or where an operand stands is an operand, and an
  // option the program does not know looks like one.
  if (first.size() > 1 && first.front() == '-') return "неизвестный ключ " + first.substr(0, first.find('='));
  return "лишний аргумент \"" + first + "\"";
}

std::string Mismatch(const CLI::Error& error, const std::optional<NamedOption>& option) {
  if (!option) return "у ключа не то число значений";
  if (!option->takesValue) return "ключ " + option->name + " не принимает значения";
  if (std::string_view(error.what()).find("At Most") != std::string_view::npos) {
    return "ключ " + option->name + " указан больше одного раза";
  }
  return "ключу " + option->name + " нужно значение";
}

std::string BadValue(const std::optional<NamedOption>& option) {
  return option ? "неверное значение ключа " + option->name : "неверное значение ключа";
}

// "A requires B", "A excludes B": the two names around the word.
std::pair<std::string, std::string> AroundWord(std::string_view text, std::string_view word) {
  const std::size_t at = text.find(word);
  if (at == std::string_view::npos) return {};
  return {std::string(text.substr(0, at)), std::string(text.substr(at + word.size()))};
}

}  // namespace

std::string UsageErrorText(const CLI::Error& error, const UsageErrorFacts& facts) {
  const std::optional<NamedOption> option = OptionIn(error, facts);
  if (dynamic_cast<const CLI::ExtrasError*>(&error)) return Unplaced(facts.unplaced);
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&error)) return Mismatch(error, option);
  if (dynamic_cast<const CLI::ValidationError*>(&error)) {
    return facts.checkSaid.empty() ? BadValue(option) : facts.checkSaid;
  }
  if (dynamic_cast<const CLI::ConversionError*>(&error)) return BadValue(option);
  if (dynamic_cast<const CLI::ExcludesError*>(&error)) {
    if (facts.excluding.size() == 2)
      return facts.excluding[0] + " и " + facts.excluding[1] + " исключают друг друга";
    return "ключи исключают друг друга";
  }
  if (dynamic_cast<const CLI::RequiresError*>(&error)) {
    const auto [needs, needed] = AroundWord(error.what(), " requires ");
    if (needs.empty() || needed.empty()) return "не хватает ключа";
    return "ключу " + needs + " нужен и ключ " + needed;
  }
  if (dynamic_cast<const CLI::RequiredError*>(&error)) {
    // The command word is the one thing the parser is told is required.
    return option ? "нужен ключ " + option->name : "не указана команда";
  }
  if (dynamic_cast<const CLI::FileError*>(&error) || dynamic_cast<const CLI::ConfigError*>(&error)) {
    return "не читается файл с аргументами";
  }
  // The parser's own faults (a declaration it rejects, a state it should
  // never reach): nothing the user can mend but a report.
  return "аргументы не разобраны (" + std::string(error.get_name().empty() ? "CLI" : error.get_name()) + ")";
}

}  // namespace tarvik::cli
