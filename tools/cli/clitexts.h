#pragma once
// What tarvik-cli tells the user, in Russian, as Windows-1251. Where a window
// of the program says the same thing, the text is the window's.
#include <cstddef>
#include <string>

namespace tarvik::cli {

// As the HEX viewer words them. The texts the windows show as they are come
// from the core with them (device/connection.h, reflash/updatethread.h,
// firmware/hexfile.h).
std::string HexNotLoadedText(const std::string& path, const std::string& reason);
// problem: why (FileReadProblem).
std::string FileUnreadableText(const std::string& problem);

// The command line's own.
// The text padded with blanks to width, on the right (left: true) or the left.
std::string PaddedColumn(std::string text, std::size_t width, bool left);

std::string DeviceTypeLabel();  // "Устройство:"
std::string UnitNameLabel();    // "Модель:"
// "Доступна следующая версия для перепрошивки: VER ... (прошивка N)"
std::string OfferedText(int number, const std::string& version);
std::string ImageNumberUnknownText(int number, std::size_t count);
// rulesName: the rules file's name (update.ini, or the one --rules names).
std::string NeedsImageText(const std::string& versionLine, const std::string& rulesName);
std::string BootloaderNeedsImageText();
std::string ImageDoesNotFitText(int number, const std::string& image, const std::string& versionLine);
std::string ImageOfNoTypeText(int number, const std::string& image);
std::string RulesDisagreeText(int rulesNumber, const std::string& rulesImage, int optionNumber,
                              const std::string& optionImage, const std::string& rulesName);
std::string NoImagesForVersionText(const std::string& versionLine);
std::string WouldAskText();
std::string ImageListHead();
std::string InterruptedText();
std::string ReflashInterruptedText();
std::string RulesFileMissingText(const std::string& path);
std::string RulesFileNotReadText(const std::string& path, const std::string& problem);
std::string AllowDroppedDataText();
std::string LogFileErrorText(const std::string& path);
std::string CatalogueErrorText(const std::string& what);
std::string NoPortsText();
std::string WaitingForPortText(const std::string& port, int seconds);
std::string OutputFailedText();
// After the reflash: a stop taken while the device was asked for its version
// (what it named is told by the core, reflash/reflashreport.h).
std::string VerifyInterruptedText();
std::string NoAnsweringPortsText();
std::string RecordFileErrorText(const std::string& path);
// --log, --record: a path that is no regular file (problem: what it is,
// FileReadProblem).
std::string LogFileNotAFileText(const std::string& path, const std::string& problem);
std::string RecordFileNotAFileText(const std::string& path, const std::string& problem);
// The same port named twice (as the user wrote each).
std::string PortNamedTwiceText(const std::string& first, const std::string& second);
// --all: a port the search passed over, and why.
std::string PortNotOpenedText(const std::string& reason);
std::string PortSilentText();
std::string PortForeignText(const std::string& answer);
std::string PortProbeFailedText(const std::string& reason);
std::string PassedOverHead();
// The live table's last line where the terminal has no room for the rest.
std::string HiddenRowsText(std::size_t count);
// --expect: fewer devices answered than the bench has.
std::string FewerDevicesText(std::size_t answered, int expected);

}  // namespace tarvik::cli
