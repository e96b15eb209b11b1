#include "reflash/reflashreport.h"

#include <exception>
#include <vector>

#include "common/text.h"
#include "device/connection.h"
#include "device/controller.h"

namespace tarvik {

const char* ReflashOutcomeName(ReflashOutcome outcome) {
  switch (outcome) {
    case ReflashOutcome::NotRun:
      return "not run";
    case ReflashOutcome::Running:
      return "running";
    case ReflashOutcome::Succeeded:
      return "succeeded";
    case ReflashOutcome::Failed:
      return "failed";
    case ReflashOutcome::Stopped:
      return "stopped";
  }
  return "?";
}

const char* ReflashCauseName(ReflashCause cause) {
  switch (cause) {
    case ReflashCause::None:
      return "none";
    case ReflashCause::Stopped:
      return "stopped";
    case ReflashCause::LineLost:
      return "line_lost";
    case ReflashCause::EraseNotTaken:
      return "erase_not_taken";
    case ReflashCause::EraseUnanswered:
      return "erase_unanswered";
    case ReflashCause::GroupNotTaken:
      return "group_not_taken";
    case ReflashCause::GroupUnanswered:
      return "group_unanswered";
    case ReflashCause::CommitNotTaken:
      return "commit_not_taken";
    case ReflashCause::BadImage:
      return "bad_image";
    case ReflashCause::Error:
      return "error";
  }
  return "?";
}

const char* DeviceAfterName(DeviceAfter device) {
  switch (device) {
    case DeviceAfter::Unchanged:
      return "unchanged";
    case DeviceAfter::InBootloader:
      return "in_bootloader";
    case DeviceAfter::Erased:
      return "erased";
    case DeviceAfter::Committing:
      return "committing";
    case DeviceAfter::Written:
      return "written";
  }
  return "?";
}

const char* VersionCheckName(VersionCheck check) {
  switch (check) {
    case VersionCheck::NotAsked:
      return "not_asked";
    case VersionCheck::Verified:
      return "verified";
    case VersionCheck::OtherVersion:
      return "other_version";
    case VersionCheck::NoAnswer:
      return "no_answer";
  }
  return "?";
}

VersionCheckResult CheckVersionAfterReflash(TController& controller, const std::string& imageVersion) {
  std::string reply;
  bool answered = false;
  try {
    answered = controller.Device->ReadVersion(reply);
  } catch (const std::exception& e) {
    controller.WriteLog(e.what());
  }
  VersionCheckResult result;
  const std::vector<std::string> lines = SplitLines(reply);
  if (answered && !lines.empty()) result.versionLine = Trim(lines.front());
  if (result.versionLine.empty()) {
    result.check = VersionCheck::NoAnswer;
  } else {
    result.check =
        result.versionLine == Trim(imageVersion) ? VersionCheck::Verified : VersionCheck::OtherVersion;
  }
  return result;
}

std::string ReflashCauseText(const ReflashReport& report) {
  switch (report.cause) {
    case ReflashCause::None:
      return {};
    case ReflashCause::Stopped:
      return Utf8ToCp1251("Перепрошивка прервана.");
    case ReflashCause::LineLost:
      return LinkLostText() + ".";
    case ReflashCause::EraseNotTaken:
      return Utf8ToCp1251("Устройство не выполнило очистку памяти после трёх попыток.");
    case ReflashCause::EraseUnanswered:
      return Utf8ToCp1251("Устройство не ответило на команду очистки памяти.");
    case ReflashCause::GroupNotTaken:
      return Utf8ToCp1251("Блок ") + report.block +
             Utf8ToCp1251(" не принят устройством после трёх попыток.");
    case ReflashCause::GroupUnanswered:
      return Utf8ToCp1251("Устройство не ответило на запись блока ") + report.block + ".";
    case ReflashCause::CommitNotTaken:
      return Utf8ToCp1251("Устройство не подтвердило загрузку новой прошивки.");
    case ReflashCause::BadImage:
      return Utf8ToCp1251("Образ прошивки не может быть записан.");
    case ReflashCause::Error:
      return Utf8ToCp1251("Ошибка: ") + report.detail + ".";
  }
  return {};
}

std::string DeviceAfterText(DeviceAfter device) {
  switch (device) {
    case DeviceAfter::Unchanged:
      return Utf8ToCp1251("Прошивка устройства не изменена.");
    case DeviceAfter::InBootloader:
      return Utf8ToCp1251("Устройство переведено в режим перепрошивки, его память не стёрта.");
    case DeviceAfter::Erased:
      return Utf8ToCp1251("Память устройства стёрта: оно осталось в режиме перепрошивки без прошивки.");
    case DeviceAfter::Committing:
      return Utf8ToCp1251("Устройство могло начать перепрошивку: его прошивка неизвестна.");
    case DeviceAfter::Written:
      return Utf8ToCp1251("Новая прошивка записана.");
  }
  return {};
}

std::string ReflashAdviceText(const ReflashReport& report) {
  switch (report.device) {
    case DeviceAfter::InBootloader:
    case DeviceAfter::Erased:
      return Utf8ToCp1251("Подключитесь к устройству снова: ему будет предложена прошивка.");
    case DeviceAfter::Committing:
      return Utf8ToCp1251("Подождите минуту и подключитесь к устройству снова.");
    case DeviceAfter::Written:
      return Utf8ToCp1251("Подключитесь к устройству снова и проверьте его версию.");
    case DeviceAfter::Unchanged:
      break;
  }
  switch (report.cause) {
    case ReflashCause::LineLost:
      return Utf8ToCp1251("Проверьте кабель и подключитесь снова.");
    case ReflashCause::Stopped:
    case ReflashCause::BadImage:
    case ReflashCause::None:
      return {};
    default:
      return Utf8ToCp1251("Подключитесь снова и повторите перепрошивку.");
  }
}

std::string ReflashFailureText(const ReflashReport& report) {
  std::string text = ReflashCauseText(report);
  const auto add = [&text](const std::string& sentence) {
    if (sentence.empty()) return;
    if (!text.empty()) text += ' ';
    text += sentence;
  };
  add(DeviceAfterText(report.device));
  add(ReflashAdviceText(report));
  return text;
}

std::string VerifiedText(const std::string& version) {
  return Utf8ToCp1251("Проверено: устройство называет версию записанной прошивки ") + version + ".";
}

std::string NotVerifiedText(const std::string& answered, const std::string& image) {
  return Utf8ToCp1251("Не проверено: устройство называет версию ") + answered +
         Utf8ToCp1251(", а записана прошивка ") + image + ".";
}

std::string NoAnswerAfterReflashText() {
  return Utf8ToCp1251("После перепрошивки устройство не отвечает: прошивка не проверена.");
}

std::string VersionCheckText(const ReflashReport& report) {
  switch (report.check) {
    case VersionCheck::Verified:
      return VerifiedText(Trim(report.imageVersion));
    case VersionCheck::OtherVersion:
      return NotVerifiedText(report.versionAfter, Trim(report.imageVersion));
    case VersionCheck::NoAnswer:
      return NoAnswerAfterReflashText();
    case VersionCheck::NotAsked:
      break;
  }
  return {};
}

std::string StageCheckingText() { return Utf8ToCp1251("Проверка версии прошивки..."); }

}  // namespace tarvik
