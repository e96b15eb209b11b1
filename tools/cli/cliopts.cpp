#include "cli/cliopts.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <cstddef>
#include <limits>
#include <string_view>

#include "cli/exitcodes.h"
#include "cli/usageerror.h"
#include "common/buildversion.h"
#include "common/text.h"

namespace tarvik::cli {
namespace {

namespace fs = std::filesystem;

// The commands an option belongs to, one bit each.
using CommandSet = unsigned;
constexpr CommandSet Of(Command command) { return 1u << static_cast<unsigned>(command); }
constexpr CommandSet kDecides = Of(Command::Identify) | Of(Command::Flash);
constexpr CommandSet kOnDevice = kDecides | Of(Command::FlashHex);

constexpr std::size_t kAnyNumber = std::numeric_limits<std::size_t>::max();

struct CommandRow {
  std::string_view name;
  Command command;
  std::size_t fewestOperands;
  std::size_t mostOperands;
};

constexpr std::array<CommandRow, 6> kCommands = {{
    {"help", Command::Help, 0, kAnyNumber},
    {"ports", Command::Ports, 0, 0},
    {"images", Command::Images, 0, 0},
    {"identify", Command::Identify, 1, kAnyNumber},
    {"flash", Command::Flash, 1, kAnyNumber},
    {"flash-hex", Command::FlashHex, 2, 2},
}};

constexpr int kMaxImageNumber = 9999;
// More ports than any bench has.
constexpr int kMaxExpected = 9999;
// A day: longer than any fixture takes to come back.
constexpr int kMaxWaitSeconds = 86400;

// A whole number from 0 to most, digits only.
std::optional<int> WholeNumber(std::string_view text, int most) {
  if (text.empty() || text.size() > 9 ||
      !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  const int number = ParseInt32Or(text, -1);
  if (number < 0 || number > most) return std::nullopt;
  return number;
}

std::string Joined(const std::vector<std::string>& items) {
  std::string text;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) text += i + 1 == items.size() ? " и " : ", ";
    text += items[i];
  }
  return text;
}

// "команде flash-hex", "командам identify и flash".
std::string ScopeWords(CommandSet commands) {
  if (commands == kOnDevice) return "командам, которые обращаются к устройству";
  std::vector<std::string> names;
  for (const CommandRow& row : kCommands) {
    if (commands & Of(row.command)) names.emplace_back(row.name);
  }
  return (names.size() == 1 ? "команде " : "командам ") + Joined(names);
}

// One option: how the parser knows it, which commands take it, and its
// lines of the help.
struct OptionRow {
  CLI::Option* option = nullptr;
  // "--log": the name the messages use.
  std::string name{};
  // Every spelling: "-q", "--quiet".
  std::vector<std::string> spellings{};
  // "--log ФАЙЛ", "-q, --quiet" (UTF-8).
  std::string label{};
  bool takesValue = false;
  CommandSet commands = 0;
  std::string_view help;
};

// The options in one place: each is declared once, with its names, its
// value and its check, the commands it belongs to and its help, and the
// parser, the help and the messages all read it from here.
class OptionTable {
 public:
  explicit OptionTable(CLI::App& app) : app_(app) {}

  void Flag(const std::string& names, bool& target, CommandSet commands, std::string_view help) {
    CLI::Option* option = app_.add_flag(names, target)->disable_flag_override();
    Add(option, names, "", commands, help);
  }

  void Path(const std::string& names, std::string_view valueName, std::optional<fs::path>& target,
            CommandSet commands, std::string_view help) {
    CLI::Option* option =
        app_.add_option_function<std::string>(names, [&target](const std::string& value) { target = value; });
    Add(option, names, valueName, commands, help);
    Check(option, [name = rows_.back().name](const std::string& value) {
      return value.empty() ? "ключу " + name + " нужно непустое значение" : std::string();
    });
  }

  // A whole number from least to most; wrong(value) is what the user reads
  // when the value is not one.
  void Number(const std::string& names, std::string_view valueName, std::optional<int>& target, int least,
              int most, CommandSet commands, std::string_view help,
              std::string (*wrong)(const std::string& value)) {
    CLI::Option* option = app_.add_option_function<std::string>(
        names, [&target, most](const std::string& value) { target = WholeNumber(value, most); });
    Add(option, names, valueName, commands, help);
    Check(option, [least, most, wrong](const std::string& value) {
      const std::optional<int> number = WholeNumber(value, most);
      return number && *number >= least ? std::string() : wrong(value);
    });
  }

  // Either, not both.
  void Excludes(const std::string& first, const std::string& second) {
    Find(first)->option->excludes(Find(second)->option);
    exclusions_.emplace_back(first, second);
  }

  const std::vector<OptionRow>& Rows() const { return rows_; }

  // "--log=": an empty value written into the option's own argument. The
  // parser would take the next argument for it instead; none is meant.
  std::optional<std::string> EmptyInlineValue(const std::vector<std::string>& args) const {
    for (std::size_t i = 0; i < args.size(); ++i) {
      const std::string& arg = args[i];
      if (arg == "--") break;
      const OptionRow* row = Find(arg.substr(0, arg.find('=')));
      if (row == nullptr || !row->takesValue) continue;
      if (arg.size() == row->name.size() + 1 && arg.back() == '=') {
        return "ключу " + row->name + " нужно непустое значение";
      }
      // Its value is the next argument, whatever it looks like.
      if (arg.find('=') == std::string::npos) ++i;
    }
    return std::nullopt;
  }

  // The first word before "--" that looks like an option the program does
  // not know ("-V", "--frobnicate", the x of "-qx"); none when all are known.
  std::optional<std::string> UnknownOption(const std::vector<std::string>& args) const {
    for (std::size_t i = 0; i < args.size(); ++i) {
      const std::string& arg = args[i];
      if (arg == "--") break;
      if (arg.size() < 2 || arg.front() != '-') continue;
      const std::string name = arg.substr(0, arg.find('='));
      if (arg.starts_with("--")) {
        const OptionRow* row = Find(name);
        if (row == nullptr && name != "--help" && name != "--version") return name;
        if (row != nullptr && row->takesValue && arg.find('=') == std::string::npos) ++i;
        continue;
      }
      // Short flags, one letter each, maybe run together.
      for (std::size_t at = 1; at < arg.size(); ++at) {
        const std::string letter = std::string("-") + arg[at];
        const OptionRow* row = Find(letter);
        if (row == nullptr && letter != "-h") return letter;
        if (row != nullptr && row->takesValue) break;
      }
    }
    return std::nullopt;
  }

  UsageErrorFacts Facts() const {
    UsageErrorFacts facts{.unplaced = app_.remaining(),
                          .optionNamedIn = [this](std::string_view text) { return NamedIn(text); },
                          .checkSaid = checkSaid_};
    for (const auto& [first, second] : exclusions_) {
      if (Find(first)->option->count() > 0 && Find(second)->option->count() > 0) {
        facts.excluding = {first, second};
      }
    }
    return facts;
  }

  // An option given that the command does not take: why it cannot be used,
  // naming every option of its scope, so one message shows all that the
  // command would refuse; empty when all fit.
  std::string Misplaced(Command command) const {
    const auto given = std::find_if(rows_.begin(), rows_.end(), [command](const OptionRow& row) {
      return row.option->count() > 0 && (row.commands & Of(command)) == 0;
    });
    if (given == rows_.end()) return {};
    std::vector<std::string> names;
    for (const OptionRow& row : rows_) {
      if (row.commands == given->commands) names.push_back(row.name);
    }
    return Joined(names) + (names.size() == 1 ? " нужен только " : " нужны только ") +
           ScopeWords(given->commands);
  }

 private:
  void Add(CLI::Option* option, const std::string& names, std::string_view valueName, CommandSet commands,
           std::string_view help) {
    OptionRow row{.option = option, .takesValue = !valueName.empty(), .commands = commands, .help = help};
    for (const std::string_view spelling : Split(names, ',')) row.spellings.emplace_back(spelling);
    row.name = row.spellings.back();
    for (const std::string& spelling : row.spellings) row.label += (row.label.empty() ? "" : ", ") + spelling;
    if (row.takesValue) row.label += " " + std::string(valueName);
    // A value option given twice is a mistake, not a choice of the last.
    if (row.takesValue) option->multi_option_policy(CLI::MultiOptionPolicy::Throw);
    rows_.push_back(std::move(row));
  }

  template <typename CheckValue>
  void Check(CLI::Option* option, CheckValue check) {
    option->check(CLI::Validator(
        [this, check](std::string& value) {
          checkSaid_ = check(value);
          return checkSaid_;
        },
        ""));
  }

  const OptionRow* Find(std::string_view spelling) const {
    for (const OptionRow& row : rows_) {
      if (std::find(row.spellings.begin(), row.spellings.end(), spelling) != row.spellings.end()) return &row;
    }
    return nullptr;
  }

  // The parser's texts begin with the option's name, with or without its
  // dashes: "--log: 1 required TEXT missing", "quiet was given ...".
  std::optional<NamedOption> NamedIn(std::string_view text) const {
    for (const OptionRow& row : rows_) {
      for (const std::string& spelling : row.spellings) {
        for (std::string_view name : {std::string_view(spelling),
                                      std::string_view(spelling).substr(spelling.find_first_not_of('-'))}) {
          if (text.starts_with(name) &&
              (text.size() == name.size() || text[name.size()] == ':' || text[name.size()] == ' ')) {
            return NamedOption{.name = row.name, .takesValue = row.takesValue};
          }
        }
      }
    }
    return std::nullopt;
  }

  CLI::App& app_;
  std::vector<OptionRow> rows_;
  std::vector<std::pair<std::string, std::string>> exclusions_;
  std::string checkSaid_;
};

std::string WrongImageNumber(const std::string& value) {
  return "--image ждёт номер прошивки из списка images, а не \"" + value + "\"";
}
std::string WrongWait(const std::string& value) {
  return "--wait ждёт число секунд от 0 до " + std::to_string(kMaxWaitSeconds) + ", а не \"" + value + "\"";
}

std::string WrongExpected(const std::string& value) {
  return "--expect ждёт число устройств от 1 до " + std::to_string(kMaxExpected) + ", а не \"" + value + "\"";
}

// Every option of the program, a line each (UTF-8 help).
void DeclareOptions(OptionTable& table, CliOptions& o) {
  table.Number(
      "--image", "N", o.image, 1, kMaxImageNumber, kDecides,
      "прошивка номер N (см. images) там, где окно спросило бы пользователя: для типа устройства нет "
      "правила в update.ini, или устройство в режиме перепрошивки не назвало модель. Если правила "
      "выбирают другую прошивку, flash отказывается.",
      WrongImageNumber);
  table.Path("--rules", "ФАЙЛ", o.rules, kDecides, "правила обновления из этого файла вместо update.ini");
  table.Flag("--no-rules", o.noRules, kDecides, "без правил: прошивку называет --image");
  table.Flag("--allow-dropped-data", o.allowDroppedData, Of(Command::FlashHex),
             "flash-hex: записать файл, часть данных которого устройство принять не может (выше 64 КБ или "
             "после записи конца файла), без этих данных; без ключа такой файл не записывается");
  table.Path("--log", "ФАЙЛ", o.log, kOnDevice,
             "дописывать в файл журнал обмена: в каждой строке время по ISO 8601 с поясом, порт и текст; "
             "Windows-1251, CR LF. Несколько запусков могут писать в один файл");
  table.Flag("-q,--quiet", o.quiet, kOnDevice, "без хода перепрошивки: только итог и ошибки");
  table.Flag("-v,--verbose", o.verbose, kOnDevice, "журнал обмена ещё и в стандартный поток ошибок");
  table.Number("--wait", "СЕК", o.waitSeconds, 0, kMaxWaitSeconds, kOnDevice,
               "ждать появления порта до СЕК секунд (приспособление переподключают); Ctrl+C прекращает "
               "ожидание",
               WrongWait);
  table.Flag("--all", o.all, kDecides,
             "вместо ПОРТА - все порты системы, на которых отвечает устройство (как при автоматическом "
             "поиске)");
  table.Number("--expect", "N", o.expect, 1, kMaxExpected, kDecides,
               "с --all: ожидается не меньше N отвечающих устройств; если их меньше, ничего не "
               "записывается (код 3), а итог называет пропущенные порты",
               WrongExpected);
  table.Flag("--no-verify", o.noVerify, Of(Command::Flash),
             "не спрашивать версию устройства после перепрошивки (без ключа: проверено, только если "
             "устройство называет версию записанной прошивки)");
  table.Path("--record", "ФАЙЛ", o.record, kDecides,
             "дописывать в файл по строке JSON на каждое устройство: время начала и конца, порт, "
             "устройство, версии до и после, прошивка и её SHA-256, итог и код завершения");
  table.Flag("--json", o.json, Of(Command::Ports) | kDecides,
             "сведения в виде JSON для сценариев: ports - список портов; identify и flash - строка "
             "отчёта (как у --record) на каждое устройство вместо текста");
  table.Excludes("--rules", "--no-rules");
}

// Asked for where an option stands; the value of an option (--log --help)
// is a value, and after "--" it is an operand.
bool HelpAsked(const CLI::App& app) { return app.get_help_ptr()->count() > 0; }

ParsedArguments Fail(const std::string& utf8) { return {.options = {}, .error = Utf8ToCp1251(utf8)}; }

ParsedArguments Asked(Command command) {
  ParsedArguments parsed;
  parsed.options.command = command;
  return parsed;
}

constexpr std::size_t kHelpWidth = 79;
constexpr std::size_t kCodeColumn = 5;
constexpr std::size_t kOptionColumn = 17;

// Words of a Windows-1251 text (one byte a character) in lines of at most
// kHelpWidth characters: the first after lead, the others after indent.
std::string Wrap(const std::string& text, const std::string& lead, const std::string& indent) {
  std::string out;
  std::string line = lead;
  bool empty = true;
  for (const std::string_view word : Split(text, ' ')) {
    if (word.empty()) continue;
    if (!empty && line.size() + 1 + word.size() > kHelpWidth) {
      out += line + "\n";
      line = indent;
      empty = true;
    }
    if (!empty) line += ' ';
    line += word;
    empty = false;
  }
  return out + line + "\n";
}

// "  --log ФАЙЛ     text", the label on a line of its own when it is long.
std::string HelpRow(const std::string& label, std::string_view help) {
  const std::string indent(kOptionColumn, ' ');
  std::string lead = "  " + Utf8ToCp1251(label);
  if (lead.size() + 1 > kOptionColumn) {
    lead += "\n" + indent;
  } else {
    lead.resize(kOptionColumn, ' ');
  }
  // Wrap counts from the start of the line the text starts on.
  const std::size_t cut = lead.rfind('\n');
  const std::string head = cut == std::string::npos ? "" : lead.substr(0, cut + 1);
  return head + Wrap(Utf8ToCp1251(help), lead.substr(head.size()), indent);
}

}  // namespace

ParsedArguments ParseArguments(const std::vector<std::string>& args) {
  CliOptions options;
  CLI::App app("", "tarvik-cli");
  app.set_help_flag("-h,--help");
  app.set_version_flag("--version", VersionText());
  OptionTable table(app);
  DeclareOptions(table, options);
  std::string word;
  std::vector<std::string> operands;
  app.add_option("command", word)->required();
  app.add_option("operands", operands);

  if (const std::optional<std::string> empty = table.EmptyInlineValue(args)) return Fail(*empty);
  try {
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    return Asked(Command::Help);
  } catch (const CLI::CallForVersion&) {
    return Asked(Command::Version);
  } catch (const CLI::Error& error) {
    // Help asked for wins over what else is wrong.
    if (HelpAsked(app)) return Asked(Command::Help);
    // An option the program does not know is the mistake to name, rather
    // than the command it left missing ("tarvik-cli -V").
    if (dynamic_cast<const CLI::RequiredError*>(&error) != nullptr) {
      if (const std::optional<std::string> unknown = table.UnknownOption(args))
        return Fail("неизвестный ключ " + *unknown);
    }
    return Fail(UsageErrorText(error, table.Facts()));
  }

  const auto row =
      std::find_if(kCommands.begin(), kCommands.end(), [&](const CommandRow& r) { return r.name == word; });
  if (row == kCommands.end()) return Fail("неизвестная команда \"" + word + "\"");
  options.command = row->command;
  if (options.command == Command::Help) return Asked(Command::Help);

  const std::string name(row->name);
  if (options.all && (Of(options.command) & kDecides) != 0) {
    if (!operands.empty()) return Fail("с ключом --all порты не указываются: \"" + operands.front() + "\"");
  } else if (operands.size() < row->fewestOperands) {
    return Fail(row->command == Command::FlashHex && operands.size() == 1
                    ? "команде flash-hex нужен HEX-файл после порта"
                    : "команде " + name + " нужен порт");
  }
  if (operands.size() > row->mostOperands)
    return Fail("лишний аргумент \"" + operands[row->mostOperands] + "\"");
  if (const std::string misplaced = table.Misplaced(options.command); !misplaced.empty())
    return Fail(misplaced);
  if (options.expect && !options.all) return Fail("--expect нужен только вместе с --all");

  if (options.command == Command::FlashHex) {
    options.ports = {operands[0]};
    options.hexFile = fs::path(operands[1]);
  } else {
    options.ports = std::move(operands);
  }
  return {.options = options, .error = {}};
}

std::string VersionText() { return std::string("tarvik-cli ") + TARVIK_FILE_VERSION; }

std::string UsageText() {
  std::string text = Utf8ToCp1251(R"(Использование:
  tarvik-cli ports                       последовательные порты системы и что
                                         о них знает система
  tarvik-cli images                      встроенные прошивки и их номера
  tarvik-cli identify ПОРТ... [ключи]    определить устройство и показать, что
                                         сделала бы команда flash
  tarvik-cli flash ПОРТ... [ключи]       определить устройство, выбрать прошивку
                                         по каталогу и update.ini, перепрошить и
                                         проверить версию
  tarvik-cli flash --all [ключи]         то же на всех портах, где отвечает
                                         устройство
  tarvik-cli flash-hex ПОРТ ФАЙЛ [ключи] перепрошить устройство из HEX-файла, как
                                         «Обновление версии прошивки» сервисного
                                         меню

ПОРТ - имя порта, как его выводит ports: COM3, ttyUSB0, /dev/ttyUSB0 или
/dev/serial/by-id/.... Несколько портов identify и flash обслуживают сразу,
каждое устройство отдельно; на терминале - таблица по строке на порт, в конце
итог по каждому порту.

Ключи пишутся до команды или после неё; значение - через пробел или через
«=» (--log ФАЙЛ, --log=ФАЙЛ); короткие ключи можно слить (-qv). После «--»
ключей нет: всё дальше - порты и файлы.

Ключи:
)");
  CliOptions unused;
  CLI::App app;
  OptionTable table(app);
  DeclareOptions(table, unused);
  for (const OptionRow& row : table.Rows()) text += HelpRow(row.label, row.help);
  text += HelpRow("-h, --help", "эта справка");
  text += HelpRow("--version", "версия программы");
  text += Utf8ToCp1251(R"(
Без --rules правила update.ini ищутся там же, где их читает окно программы.
Ход перепрошивки на терминале - строка с полосой, прошедшим и оставшимся
временем, обновляемая на месте и укороченная по ширине терминала; в файл или
канал - по строке на каждый этап и на каждые 10 %. Ctrl+C останавливает обмен
между командами, ждёт конца команды, которая уже отправлена, и закрывает порт.

Коды завершения:
)");
  for (const ExitCodeRow& row : kExitCodes) {
    std::string code = std::to_string(ToInt(row.code));
    code.resize(kCodeColumn, ' ');
    text += Wrap(Utf8ToCp1251(row.meaning), "  " + code, std::string(2 + kCodeColumn, ' '));
  }
  text += Utf8ToCp1251(R"(
identify кончается тем кодом, которым кончилась бы команда flash (0, 3, 4 или
6). У нескольких устройств код - код худшего итога в порядке 130, 5, 8, 3, 4,
6; 0 - только если все устройства перепрошиты.

Код 6 отделён от 0, чтобы непрошитое устройство не сошло за прошитое: если
update.ini по ошибке не охватывает сборку устройства, каждое устройство ушло
бы со стенда со старой прошивкой и кодом 0. Где «обновлять не нужно» - тоже
успех, проверяйте оба: rc=$?; [ $rc -eq 0 ] || [ $rc -eq 6 ]
)");
  return text;
}

}  // namespace tarvik::cli
