#pragma once
// The exit codes of tarvik-cli, in one table: scripts and benches branch on
// them, --help prints them and the README lists them.
#include <array>
#include <string_view>

namespace tarvik::cli {

enum class ExitCode : int {
  Done = 0,
  FileError = 1,
  Usage = 2,
  NoDevice = 3,
  Refused = 4,
  Failed = 5,
  UpToDate = 6,
  OutputFailed = 7,
  NotVerified = 8,
  NotRecorded = 9,
  Interrupted = 130,
};

struct ExitCodeRow {
  ExitCode code;
  // What the code means to the user, UTF-8.
  std::string_view meaning;
};

inline constexpr std::array<ExitCodeRow, 11> kExitCodes = {{
    {ExitCode::Done,
     "готово: устройство перепрошито (и назвало версию записанной прошивки); identify: flash записал бы "
     "прошивку; ports, images: сведения выведены"},
    {ExitCode::FileError,
     "файл не читается или не пишется (HEX-файл, --rules, --log, --record; для --log и --record годится "
     "только обычный файл, для --log ещё и терминал), в HEX-файле есть данные, которые "
     "устройство не примет (без --allow-dropped-data), или не загрузился каталог прошивок; устройству "
     "ничего не отправлено"},
    {ExitCode::Usage,
     "неверный вызов: неизвестная команда или ключ, не хватает аргумента, один порт назван дважды, в "
     "каталоге нет прошивки с таким номером"},
    {ExitCode::NoDevice,
     "нет устройства: порта нет, порт не открывается или устройство не отвечает; с --all: не ответило "
     "ни одно устройство или ответило меньше, чем задано ключом --expect"},
    {ExitCode::Refused,
     "отказ: версия не поддерживается, для неё нет прошивки, нужен ключ --image или указанный образ "
     "не подходит; устройство не перепрошивалось"},
    {ExitCode::Failed,
     "перепрошивка не удалась: устройство не приняло стирание или запись или не ответило после "
     "перепрошивки; его прошивка может быть неполной, повторите перепрошивку"},
    {ExitCode::UpToDate,
     "обновление не требуется: правила update.ini не выбирают для устройства новую прошивку; "
     "устройство не перепрошивалось"},
    {ExitCode::OutputFailed,
     "стандартный вывод не принял текст (диск полон, ошибка записи), а команда иначе кончилась бы кодом 0 "
     "или 6: её итог до читателя не дошёл. Читатель, закрывший канал раньше (| head), ошибкой не считается"},
    {ExitCode::NotVerified,
     "перепрошито, но не проверено: после перепрошивки устройство назвало другую версию, чем у записанной "
     "прошивки"},
    {ExitCode::NotRecorded,
     "отчёт (--record) или журнал (--log) не записан (диск полон, ошибка записи), а команда иначе "
     "кончилась бы кодом 0 или 6: устройство обслужено, но следа от этого не осталось"},
    {ExitCode::Interrupted, "прервано (Ctrl+C): обмен остановлен между командами, порт закрыт"},
}};

inline int ToInt(ExitCode code) { return static_cast<int>(code); }

}  // namespace tarvik::cli
