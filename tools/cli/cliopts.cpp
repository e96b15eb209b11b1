#include "cli/cliopts.h"

#include <algorithm>
#include <string_view>

#include "cli/exitcodes.h"
#include "common/text.h"

namespace tarvik::cli {
namespace {

constexpr int kMaxImageNumber = 9999;

struct CommandRow {
  std::string_view name;
  Command command;
  std::size_t operands;
};

constexpr std::array<CommandRow, 5> kCommands = {{
    {"ports", Command::Ports, 0},
    {"images", Command::Images, 0},
    {"identify", Command::Identify, 1},
    {"flash", Command::Flash, 1},
    {"flash-hex", Command::FlashHex, 2},
}};

bool TalksToDevice(Command command) {
  return command == Command::Identify || command == Command::Flash || command == Command::FlashHex;
}

bool IsHelpOption(std::string_view arg) { return arg == "--help" || arg == "-h"; }

// An option whose value is the next argument (--log FILE, not --log=FILE).
bool TakesValue(std::string_view flag) { return flag == "--image" || flag == "--rules" || flag == "--log"; }

bool Decides(Command command) { return command == Command::Identify || command == Command::Flash; }

std::optional<int> ImageNumber(std::string_view text) {
  if (text.empty() || text.size() > 4 ||
      !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  const int number = ParseInt32Or(text, 0);
  if (number < 1 || number > kMaxImageNumber) return std::nullopt;
  return number;
}

constexpr std::size_t kHelpWidth = 79;
constexpr std::size_t kCodeColumn = 5;

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

ParsedArguments Fail(const std::string& utf8) { return {.options = {}, .error = Utf8ToCp1251(utf8)}; }

}  // namespace

ParsedArguments ParseArguments(const std::vector<std::string>& args) {
  if (args.empty()) return Fail("не указана команда");
  // Asked for where a command or an option stands; the value of an option
  // (--log help) is a value, and a word after the command is an operand.
  if (args.front() == "help" || IsHelpOption(args.front())) return {};
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (IsHelpOption(args[i])) return {};
    if (TakesValue(args[i])) ++i;
  }

  const auto row = std::find_if(kCommands.begin(), kCommands.end(),
                                [&](const CommandRow& r) { return r.name == args.front(); });
  if (row == kCommands.end()) return Fail("неизвестная команда \"" + args.front() + "\"");

  CliOptions options;
  options.command = row->command;
  std::vector<std::string> operands;
  for (std::size_t i = 1; i < args.size(); ++i) {
    std::string flag = args[i];
    std::optional<std::string> inlineValue;
    if (flag.rfind("--", 0) == 0) {
      if (const std::size_t equals = flag.find('='); equals != std::string::npos) {
        inlineValue = flag.substr(equals + 1);
        flag.resize(equals);
      }
    }
    const bool takesValue = TakesValue(flag);
    if (inlineValue && !takesValue) return Fail("ключ " + flag + " не принимает значения");
    std::string value;
    if (takesValue) {
      if (inlineValue) {
        value = *inlineValue;
      } else if (i + 1 < args.size()) {
        value = args[++i];
      } else {
        return Fail("ключу " + flag + " нужно значение");
      }
      if (value.empty()) return Fail("ключу " + flag + " нужно непустое значение");
    }

    if (flag == "--image") {
      options.image = ImageNumber(value);
      if (!options.image) return Fail("--image ждёт номер прошивки из списка images, а не \"" + value + "\"");
    } else if (flag == "--rules") {
      options.rules = std::filesystem::path(value);
    } else if (flag == "--no-rules") {
      options.noRules = true;
    } else if (flag == "--allow-dropped-data") {
      options.allowDroppedData = true;
    } else if (flag == "--log") {
      options.log = std::filesystem::path(value);
    } else if (flag == "--quiet" || flag == "-q") {
      options.quiet = true;
    } else if (flag == "--verbose" || flag == "-v") {
      options.verbose = true;
    } else if (flag.size() > 1 && flag.front() == '-') {
      return Fail("неизвестный ключ " + flag);
    } else {
      operands.push_back(args[i]);
    }
  }

  const std::string name(row->name);
  if (operands.size() < row->operands) {
    return Fail(row->command == Command::FlashHex && operands.size() == 1
                    ? "команде flash-hex нужен HEX-файл после порта"
                    : "команде " + name + " нужен порт");
  }
  if (operands.size() > row->operands) return Fail("лишний аргумент \"" + operands[row->operands] + "\"");
  if (!operands.empty()) options.port = operands[0];
  if (operands.size() > 1) options.hexFile = std::filesystem::path(operands[1]);

  if ((options.image || options.rules || options.noRules) && !Decides(options.command)) {
    return Fail("--image, --rules и --no-rules нужны только командам identify и flash");
  }
  if (options.rules && options.noRules) return Fail("--rules и --no-rules исключают друг друга");
  if (options.allowDroppedData && options.command != Command::FlashHex) {
    return Fail("--allow-dropped-data нужен только команде flash-hex");
  }
  if ((options.log || options.quiet || options.verbose) && !TalksToDevice(options.command)) {
    return Fail("--log, --quiet и --verbose нужны только командам, которые обращаются к устройству");
  }
  return {.options = options, .error = {}};
}

std::string UsageText() {
  std::string text = R"(Использование:
  tarvik-cli ports                       последовательные порты системы
  tarvik-cli images                      встроенные прошивки и их номера
  tarvik-cli identify ПОРТ [ключи]       определить устройство и показать, что
                                         сделала бы команда flash
  tarvik-cli flash ПОРТ [ключи]          определить устройство, выбрать прошивку
                                         по каталогу и update.ini, перепрошить
  tarvik-cli flash-hex ПОРТ ФАЙЛ [ключи] перепрошить устройство из HEX-файла, как
                                         «Обновление версии прошивки» сервисного
                                         меню

ПОРТ - имя порта, как его выводит ports: COM3, ttyUSB0 или /dev/ttyUSB0.

Ключи:
  --image N      прошивка номер N (см. images) там, где окно спросило бы
                 пользователя: для типа устройства нет правила в update.ini,
                 или устройство в режиме перепрошивки не назвало модель. Если
                 правила выбирают другую прошивку, flash отказывается.
  --rules ФАЙЛ   правила обновления из этого файла вместо update.ini
  --no-rules     без правил: прошивку называет --image
  --allow-dropped-data
                 flash-hex: записать файл, часть данных которого устройство
                 принять не может (выше 64 КБ или после записи конца файла),
                 без этих данных; без ключа такой файл не записывается
  --log ФАЙЛ     дописывать в файл журнал обмена в виде журнала сообщений
                 программы: дата, время, текст; Windows-1251, CR LF
  -q, --quiet    без хода перепрошивки: только итог и ошибки
  -v, --verbose  журнал обмена ещё и в стандартный поток ошибок
  -h, --help     эта справка

Без --rules правила update.ini ищутся там же, где их читает окно программы.
Ход перепрошивки на терминале - строка с полосой, прошедшим и оставшимся
временем, обновляемая на месте; в файл или канал - по строке на каждый этап
и на каждые 10 %. Ctrl+C останавливает обмен между командами, ждёт конца
команды, которая уже отправлена, и закрывает порт.

Коды завершения:
)";
  std::string result = Utf8ToCp1251(text);
  for (const ExitCodeRow& row : kExitCodes) {
    std::string code = std::to_string(ToInt(row.code));
    code.resize(kCodeColumn, ' ');
    result += Wrap(Utf8ToCp1251(row.meaning), "  " + code, std::string(2 + kCodeColumn, ' '));
  }
  result += Utf8ToCp1251(R"(
Код 6 отделён от 0, чтобы непрошитое устройство не сошло за прошитое: если
update.ini по ошибке не охватывает сборку устройства, каждое устройство ушло
бы со стенда со старой прошивкой и кодом 0. Где «обновлять не нужно» - тоже
успех, проверяйте оба: rc=$?; [ $rc -eq 0 ] || [ $rc -eq 6 ]
)");
  return result;
}

}  // namespace tarvik::cli
