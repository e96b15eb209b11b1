#include "cli/clitexts.h"

#include "common/text.h"
#include "reflash/updatethread.h"

namespace tarvik::cli {

std::string HexNotLoadedText(const std::string& path, const std::string& reason) {
  return Utf8ToCp1251("Файл \"") + path + Utf8ToCp1251("\" не загружен.\n") + reason;
}
std::string FileUnreadableText(const std::string& problem) {
  return Utf8ToCp1251("Не удалось прочитать файл: ") + problem + ".";
}

std::string PaddedColumn(std::string text, std::size_t width, bool left) {
  if (text.size() < width) text.insert(left ? text.size() : 0, width - text.size(), ' ');
  return text;
}

std::string DeviceTypeLabel() { return Utf8ToCp1251("Устройство:"); }
std::string UnitNameLabel() { return Utf8ToCp1251("Модель:"); }
std::string OfferedText(int number, const std::string& version) {
  return OfferedVersionLabelText() + " " + version +
         Utf8ToCp1251(" (прошивка " + std::to_string(number) + ")");
}
std::string ImageNumberUnknownText(int number, std::size_t count) {
  return Utf8ToCp1251("Прошивки номер " + std::to_string(number) + " нет: в каталоге их " +
                      std::to_string(count) + " (см. images).");
}
std::string NeedsImageText(const std::string& versionLine, const std::string& rulesName) {
  return Utf8ToCp1251("Для версии ") + versionLine + Utf8ToCp1251(" правила ") + rulesName +
         Utf8ToCp1251(" не выбирают прошивку: укажите её ключом --image N.");
}
std::string BootloaderNeedsImageText() {
  return Utf8ToCp1251(
      "Подключенное устройство находится в процедуре перепрошивки и не назвало свою модель: укажите "
      "прошивку ключом --image N (см. images), её тип будет типом устройства.");
}
std::string ImageDoesNotFitText(int number, const std::string& image, const std::string& versionLine) {
  return Utf8ToCp1251("Прошивка " + std::to_string(number) + " (") + image +
         Utf8ToCp1251(") не подходит для версии ") + versionLine + ".";
}
std::string ImageOfNoTypeText(int number, const std::string& image) {
  return Utf8ToCp1251("Прошивка " + std::to_string(number) + " (") + image +
         Utf8ToCp1251(") не относится ни к одному типу устройств каталога.");
}
std::string RulesDisagreeText(int rulesNumber, const std::string& rulesImage, int optionNumber,
                              const std::string& optionImage, const std::string& rulesName) {
  return Utf8ToCp1251("Правила ") + rulesName +
         Utf8ToCp1251(" выбирают прошивку " + std::to_string(rulesNumber) + " (") + rulesImage +
         Utf8ToCp1251("), а --image называет прошивку " + std::to_string(optionNumber) + " (") + optionImage +
         Utf8ToCp1251("); устройство не перепрошивалось.");
}
std::string NoImagesForVersionText(const std::string& versionLine) {
  return Utf8ToCp1251("Для версии ") + versionLine + Utf8ToCp1251(" нет встроенных прошивок.");
}
std::string WouldAskText() { return Utf8ToCp1251("Команде flash понадобится ключ --image N."); }
std::string ImageListHead() { return Utf8ToCp1251("Подходящие прошивки:"); }
std::string InterruptedText() { return Utf8ToCp1251("Прервано."); }
std::string ReflashInterruptedText() {
  return Utf8ToCp1251(
      "Перепрошивка прервана: прошивка устройства может быть неполной, повторите перепрошивку.");
}
std::string RulesFileMissingText(const std::string& path) {
  return Utf8ToCp1251("Файл правил \"") + path + Utf8ToCp1251("\" не найден.");
}
std::string RulesFileNotReadText(const std::string& path, const std::string& problem) {
  return Utf8ToCp1251("Не удалось прочитать файл правил \"") + path + "\": " + problem + ".";
}
std::string AllowDroppedDataText() {
  return Utf8ToCp1251(
      "Устройство не может принять эти данные. Чтобы записать файл без них, укажите ключ "
      "--allow-dropped-data.");
}
std::string LogFileErrorText(const std::string& path) {
  return Utf8ToCp1251("Не удалось записать журнал в файл \"") + path + "\".";
}
std::string CatalogueErrorText(const std::string& what) {
  return Utf8ToCp1251("Каталог прошивок не загружен: ") + what;
}
std::string NoPortsText() { return Utf8ToCp1251("Последовательных портов нет."); }
std::string WaitingForPortText(const std::string& port, int seconds) {
  return Utf8ToCp1251("Порта ") + port + Utf8ToCp1251(" нет, ожидание до ") + std::to_string(seconds) +
         Utf8ToCp1251(" сек...");
}
std::string OutputFailedText() {
  return Utf8ToCp1251("стандартный вывод не принял текст: итог команды до читателя не дошёл.");
}

std::string VerifyInterruptedText() {
  return Utf8ToCp1251("Проверка прервана: прошивка записана, но не проверена.");
}
std::string NoAnsweringPortsText() {
  return Utf8ToCp1251("Ни на одном последовательном порту устройство не ответило.");
}
std::string RecordFileErrorText(const std::string& path) {
  return Utf8ToCp1251("Не удалось записать отчёт в файл \"") + path + "\".";
}

std::string LogFileNotAFileText(const std::string& path, const std::string& problem) {
  return Utf8ToCp1251("Не удалось записать журнал в \"") + path + "\": " + problem + ".";
}
std::string RecordFileNotAFileText(const std::string& path, const std::string& problem) {
  return Utf8ToCp1251("Не удалось записать отчёт в \"") + path + "\": " + problem + ".";
}
std::string PortNamedTwiceText(const std::string& first, const std::string& second) {
  if (first == second) return Utf8ToCp1251("Порт ") + first + Utf8ToCp1251(" назван дважды.");
  return Utf8ToCp1251("Порт ") + second + Utf8ToCp1251(" назван дважды: это тот же порт, что и ") + first +
         ".";
}
std::string PortNotOpenedText(const std::string& reason) { return Utf8ToCp1251("не открывается: ") + reason; }
std::string PortSilentText() { return Utf8ToCp1251("устройство не отвечает"); }
std::string PortForeignText(const std::string& answer) {
  return Utf8ToCp1251("отвечает не как устройство, которое обслуживает программа: \"") + answer + "\"";
}
std::string PortProbeFailedText(const std::string& reason) {
  return Utf8ToCp1251("ошибка при опросе: ") + reason;
}
std::string HiddenRowsText(std::size_t count) {
  return Utf8ToCp1251("... и ещё портов: " + std::to_string(count) + " (не помещаются на экране)");
}
std::string PassedOverHead() { return Utf8ToCp1251("Пропущены порты:"); }
std::string FewerDevicesText(std::size_t answered, int expected) {
  return Utf8ToCp1251("Отвечают устройств: " + std::to_string(answered) + ", а ожидается не меньше " +
                      std::to_string(expected) + " (--expect); ничего не записано.");
}

}  // namespace tarvik::cli
