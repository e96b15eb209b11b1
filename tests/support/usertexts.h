#pragma once
// The texts the user reads, spelled out once, in UTF-8. Tests compare what
// the program shows with these, never with the program's own text
// functions, which would let a misspelt text pass; tests/common/
// usertexts_test.cpp holds each of those functions to its text here.
#include <string>
#include <string_view>

#include "common/text.h"

namespace tarvik::test::text {

// The reflash: its stages, its outcome and the labels beside the bar.
inline constexpr std::string_view kStageSwitching = "Идет переход в режим перепрошивки...";
inline constexpr std::string_view kStageErasing = "Идет очистка памяти...";
inline constexpr std::string_view kStageLoading = "Идет загрузка новой версии прошивки...";
inline constexpr std::string_view kStageReflashing = "Идет перепрошивка...";
inline constexpr std::string_view kReflashSucceeded = "Перепрошивка успешно завершена!";
inline constexpr std::string_view kReflashFailed = "В процессе перепрошивки возникли ошибки!";
inline constexpr std::string_view kOfferedVersionLabel = "Доступна следующая версия для перепрошивки:";
inline constexpr std::string_view kElapsedLabel = "Времени прошло:";
inline constexpr std::string_view kRemainingLabel = "Времени осталось:";
inline constexpr std::string_view kCurrentVersionLabel = "Текущая версия прошивки :";

// The service-menu reflash.
inline constexpr std::string_view kEraseFailed =
    "ОШИБКА! Прошивка не обновлена! Не удалось стереть содержимое флэш.";
inline constexpr std::string_view kWriteFailed =
    "ОШИБКА! Прошивка не обновлена! Не удалось записать строку из файла прошивки.";

// The connection and the decision.
inline constexpr std::string_view kLinkLost = "Связь с устройством потеряна";
inline constexpr std::string_view kClosing = "Завершение обмена с устройством...";
inline constexpr std::string_view kNoAnswer = "Устройство не отвечает";
inline constexpr std::string_view kNoUpdateNeeded = "Данное устройство не требует обновления прошивки";
inline std::string OpenPortError(std::string_view message) {
  return "Ошибка при открытии Com порта! " + std::string(message);
}
// After the message of a port the user may not open.
inline constexpr std::string_view kDialoutHint =
    " Для доступа к порту пользователь должен входить в группу dialout.";
inline std::string UnsupportedVersion(std::string_view versionLine) {
  return "Версия " + std::string(versionLine) + " не поддерживается";
}
inline std::string RuleNamesNoImage(std::string_view typeCode, std::string_view value,
                                    std::string_view file = "update.ini") {
  return "Правило обновления " + std::string(typeCode) + "=" + std::string(value) + " в файле " +
         std::string(file) + " не указывает ни одной прошивки, имеющейся в программе";
}
inline std::string RulesFileUnreadable(std::string_view path, std::string_view problem) {
  return "Не удалось прочитать файл правил обновления " + std::string(path) + " (" + std::string(problem) +
         "). Прошивка выбирается без правил обновления.";
}

// HEX files.
inline constexpr std::string_view kHexFileNotFound = "Файл не найден.";
inline std::string HexFileTooLarge(std::string_view bytes) {
  return "Файл слишком велик для файла прошивки (" + std::string(bytes) + " байт).";
}
inline std::string BytesLeftOut(std::string_view bytes) {
  return "Данные выше 64 КБ не загружены, пропущено байт: " + std::string(bytes);
}
inline std::string BytesAfterEnd(std::string_view bytes) {
  return "Данные после записи конца файла не загружены, пропущено байт: " + std::string(bytes);
}

// As the core holds it: Windows-1251.
inline std::string Cp(std::string_view utf8) { return Utf8ToCp1251(utf8); }

}  // namespace tarvik::test::text
