// tarvik-road reflash PROGRAM_DIR PORT OUT_DIR
// tarvik-road service PROGRAM_DIR PORT OUT_DIR
// tarvik-road recovery PROGRAM_DIR PORT OUT_DIR
// tarvik-road lostline PROGRAM_DIR PORT OUT_DIR
// tarvik-road servicefailure PROGRAM_DIR PORT OUT_DIR
// tarvik-road stale PROGRAM_DIR PORT OUT_DIR
//
// Runs one of the tool's roads the way a technician would, on the real
// windows, and saves a picture of each window it passes in OUT_DIR.
//
// reflash: the connection dialog opens at start and PORT is chosen; the
//   device is identified and the decision opens the reflash window; the
//   reflash is started and watched to its success; the window is left,
//   which disconnects.
// service: the service menu is revealed by its access word; the device on
//   PORT is connected and the offered firmware declined; the menu's
//   firmware update opens the HEX viewer, which loads OUT_DIR/service.hex
//   (written here, with a gap between its vectors and its code); OK
//   reflashes the device from it, and the tool disconnects at the end. The
//   flash the device should then hold is written to
//   OUT_DIR/service-expected-flash.txt, in the simulator's --flash-out form.
// recovery: as reflash, but the reflash is left a fifth of the way through,
//   which leaves the device in its bootloader without its first block; the
//   device is connected again, found in its bootloader (as build 0 of its
//   type, which the rules must cover), offered its image again and
//   reflashed to the end.
// lostline: the decision opens the reflash window; the road then writes
//   OUT_DIR/lostline-ready and waits for the line to go (the caller takes
//   the device away), and shows what the window says about it.
// servicefailure: as service, against a device that does not take the
//   writes; the road shows the box that tells the failure and the main
//   window after it.
// stale: as reflash, against a device that keeps its old firmware; the
//   window must say the reflash is not verified and name the version the
//   device names.
//
// Exit status 0 when the road was whole.
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <clocale>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "app/appwindows.h"
#include "common/inifile.h"
#include "common/settingspaths.h"
#include "common/ui/translations.h"
#include "connect/ui/connectdlg.h"
#include "device/connection.h"
#include "hexview/ui/hexviewer.h"
#include "outqueue/ui/statuspane.h"
#include "reflash/ui/partsprogressbar.h"
#include "simulator/hexrecord.h"

namespace {

using tarvik::TformMain;

bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

void Settle(int ms) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

bool Save(QWidget& window, const QDir& out, const char* name) {
  const QString path = out.filePath(QString::fromLatin1(name));
  const bool ok = window.grab().save(path);
  std::printf("%s %s\n", ok ? "saved" : "could not save", qPrintable(path));
  std::fflush(stdout);
  return ok;
}

bool Disconnected(TformMain& main) { return main.Connection().State() == tarvik::ConnectionState::Closed; }

// The connection dialog opens by itself at start; PORT is chosen in it.
// The connection dialog of every later connect chooses PORT too; dialogSeen
// tells whether it has opened.
void ChoosePortAtStart(TformMain& main, const QString& port, const QDir& out,
                       const std::shared_ptr<bool>& dialogSeen, const char* picture) {
  main.SetConnectDialogRunner([port, out, dialogSeen, picture](tarvik::TdlgConnect& dialog) {
    *dialogSeen = true;
    dialog.show();
    Settle(300);
    QComboBox* ports = dialog.Ui().ComPorts;
    const int row = ports->findText(port);
    if (row >= 0) ports->setCurrentIndex(row);
    std::printf("connection dialog lists %d port(s); choosing %s\n", ports->count(),
                qPrintable(ports->currentText()));
    if (picture != nullptr) Save(dialog, out, picture);
    return row >= 0 ? QDialog::Accepted : QDialog::Rejected;
  });
}

// Connects at start and waits for the decision to open the reflash window.
bool OfferedAtStart(tarvik::AppWindows& windows, const QString& port, const QDir& out,
                    const char* connectionPicture) {
  TformMain& main = windows.formMain;
  const auto dialogSeen = std::make_shared<bool>(false);
  ChoosePortAtStart(main, port, out, dialogSeen, connectionPicture);
  main.show();
  if (WaitFor([&] { return windows.formUpdateIns.isVisible(); }, 15000)) return true;
  std::fprintf(stderr, "the decision did not open the reflash window%s\n",
               *dialogSeen ? "" : " (the connection dialog never opened)");
  Save(main, out, "error-main-window.png");
  return false;
}

// Starts the reflash and waits for its verdict: the window's status line
// once the reflash has ended (empty when it did not end in time).
QString ReflashToTheEnd(tarvik::TformUpdateIns& reflash, const QDir& out, const char* runningPicture,
                        const char* finishedPicture) {
  const tarvik::TformUpdateInsUi& ui = reflash.Ui();
  std::printf("reflashing...\n");
  std::fflush(stdout);
  ui.btnUpdateVer->click();
  tarvik::TPartsProgressBar* bar = ui.reflashProgressBar;
  const bool halfWay = WaitFor(
      [&] { return bar->value() >= 40 || reflash.FlashState() == tarvik::TFlashState::Done; }, 300000);
  if (halfWay && runningPicture != nullptr) Save(reflash, out, runningPicture);
  // Done, or a failure: the exit is the only button left and no stage runs.
  const bool ended = WaitFor(
      [&] {
        return reflash.FlashState() == tarvik::TFlashState::Done ||
               (ui.btnExit->isEnabled() && !ui.btnUpdateVer->isEnabled() && !ui.lbTimeLost->isVisible());
      },
      300000);
  Save(reflash, out, finishedPicture);
  std::printf("reflash window says: %s (elapsed %s)\n", qPrintable(ui.lbError->text()),
              qPrintable(ui.lbTimeAfter->text()));
  return ended ? ui.lbError->text() : QString();
}

const QString kSucceeded = QString::fromUtf8("Перепрошивка успешно завершена!");

int RecoveryRoad(tarvik::AppWindows& windows, const QString& port, const QDir& out) {
  TformMain& main = windows.formMain;
  tarvik::TformUpdateIns& reflash = windows.formUpdateIns;
  const tarvik::TformUpdateInsUi& ui = reflash.Ui();
  if (!OfferedAtStart(windows, port, out, nullptr)) return 1;
  std::printf("device: %s; offered: %s\n", qPrintable(ui.lbCurrentVersion->text()),
              qPrintable(ui.lbNewVersion->text()));

  // The technician leaves a fifth of the way through (a cable pulled or
  // the power gone would leave the device the same way).
  std::printf("reflashing, to be cut off...\n");
  std::fflush(stdout);
  ui.btnUpdateVer->click();
  tarvik::TPartsProgressBar* bar = ui.reflashProgressBar;
  if (!WaitFor([&] { return bar->value() >= 20; }, 300000)) {
    std::fprintf(stderr, "the reflash did not get a fifth of the way\n");
    return 1;
  }
  Save(reflash, out, "10-recovery-cut-off.png");
  // Leaving asks first: the technician reads the question and stops.
  bool asked = false;
  QTimer::singleShot(300, &main, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    asked = true;
    Save(*box, out, "19-stop-question.png");
    for (QAbstractButton* button : box->buttons()) {
      if (box->buttonRole(button) == QMessageBox::DestructiveRole) button->click();
    }
  });
  // Once the window is gone the main window tells, in a box, what the stop
  // left the device with.
  bool told = false;
  QTimer boxes;
  boxes.setInterval(100);
  QObject::connect(&boxes, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->text().startsWith(QString::fromUtf8("Перепрошивка прервана"))) return;
    told = true;
    Save(*box, out, "21-stop-told.png");
    box->accept();
  });
  boxes.start();
  ui.btnExit->click();
  if (!asked) {
    std::fprintf(stderr, "the reflash was left without the question\n");
    return 1;
  }
  if (!WaitFor([&] { return Disconnected(main); }, 30000)) {
    std::fprintf(stderr, "still connected after the reflash was left\n");
    return 1;
  }
  Settle(300);
  boxes.stop();
  if (!told) {
    std::fprintf(stderr, "the stop was not told after the window had gone\n");
    return 1;
  }
  Save(main, out, "20-main-window-after-stop.png");
  std::printf("left the reflash at %d%%; disconnected; the status bar says: %s\n", bar->value(),
              qPrintable(main.Ui().panels[2]->text()));

  // Connected again: the device answers from its bootloader.
  main.Ui().tbtnConnect->click();
  if (!WaitFor([&] { return reflash.isVisible(); }, 15000)) {
    std::fprintf(stderr, "the device in its bootloader was offered no reflash\n");
    Settle(300);
    Save(main, out, "error-main-window.png");
    return 1;
  }
  Settle(300);  // let the queued status texts reach the status bar
  std::printf("connected again: the device answers \"%s\"; current: %s; offered: %s\n",
              qPrintable(main.Ui().panels[1]->text().trimmed()), qPrintable(ui.lbCurrentVersion->text()),
              qPrintable(ui.lbNewVersion->text()));
  Save(main, out, "11-recovery-main-window.png");
  Save(reflash, out, "12-recovery-offer.png");
  if (ReflashToTheEnd(reflash, out, nullptr, "13-recovery-finished.png") != kSucceeded) return 1;
  ui.btnExit->click();
  const bool disconnected = WaitFor([&] { return Disconnected(main); }, 5000);
  std::printf("%s\n", disconnected ? "left the reflash window; disconnected" : "still connected");
  main.close();
  return disconnected ? 0 : 1;
}

int ReflashRoad(tarvik::AppWindows& windows, const QString& port, const QDir& out) {
  TformMain& main = windows.formMain;
  tarvik::TformUpdateIns& reflash = windows.formUpdateIns;
  if (!OfferedAtStart(windows, port, out, "01-connection-dialog.png")) return 1;
  Settle(300);  // let the queued status texts reach the status bar
  const tarvik::TformUpdateInsUi& ui = reflash.Ui();
  std::printf("device: %s; offered: %s\n", qPrintable(ui.lbCurrentVersion->text()),
              qPrintable(ui.lbNewVersion->text()));
  Save(main, out, "02-main-window-connected.png");
  Save(reflash, out, "03-reflash-window.png");
  if (ReflashToTheEnd(reflash, out, "04-reflash-running.png", "05-reflash-finished.png") != kSucceeded)
    return 1;

  ui.btnExit->click();
  const bool disconnected = WaitFor([&] { return Disconnected(main); }, 5000);
  Settle(200);
  Save(main, out, "06-main-window-after-reflash.png");
  std::printf("%s\n", disconnected ? "left the reflash window; disconnected" : "still connected");
  main.close();
  return disconnected ? 0 : 1;
}

// A device that keeps running its old firmware after a reflash that wrote
// every block: the window names the version the device names, and says the
// reflash is not verified.
int StaleRoad(tarvik::AppWindows& windows, const QString& port, const QDir& out) {
  TformMain& main = windows.formMain;
  tarvik::TformUpdateIns& reflash = windows.formUpdateIns;
  if (!OfferedAtStart(windows, port, out, nullptr)) return 1;
  const tarvik::TformUpdateInsUi& ui = reflash.Ui();
  const QString offered = ui.lbNewVersion->text();
  const QString said = ReflashToTheEnd(reflash, out, nullptr, "17-stale-version-finished.png");
  const bool told = said.startsWith(QString::fromUtf8("Не проверено: устройство называет версию ")) &&
                    ui.lbCurrentVersion->text() != offered;
  std::printf("the window %s: current version %s\n",
              told ? "says the reflash is not verified" : "DOES NOT warn",
              qPrintable(ui.lbCurrentVersion->text()));
  ui.btnExit->click();
  const bool disconnected = WaitFor([&] { return Disconnected(main); }, 5000);
  Settle(200);
  Save(main, out, "18-main-window-after-stale-version.png");
  main.close();
  return told && disconnected ? 0 : 1;
}

// A program of 0x300 bytes: reset vectors at 0, code from 0x100 on after a
// gap, as a compiler leaves it, in 16-byte records with an end record.
std::string ServiceHexFile() {
  std::string text;
  for (unsigned address = 0; address < 0x300; address += 16) {
    if (address >= 0x40 && address < 0x100) continue;  // the gap
    std::string data;
    for (unsigned i = 0; i < 16; ++i) {
      char cell[3];
      std::snprintf(cell, sizeof cell, "%02X", (address * 7 + i * 13 + 5) & 0xFF);
      data += cell;
    }
    text += tarvik::sim::HexRecord(address, 0, data) + "\r\n";
  }
  return text + tarvik::sim::HexRecord(0, 1, "") + "\r\n";
}

// What the device holds after the service reflash of the grid: every row,
// and the rows that fill the last group of four with FF.
std::string ExpectedServiceFlash(const tarvik::HexGrid& grid) {
  std::string out;
  std::size_t rows = 0;
  for (std::size_t r = 1; r < grid.Rows.size() && !grid.Rows[r][0].empty(); ++r) {
    out += grid.Rows[r][0].substr(0, 4) + ":";
    for (int c = 1; c < tarvik::kHexGridColumns; ++c) out += grid.Rows[r][static_cast<std::size_t>(c)];
    out += "\n";
    ++rows;
  }
  for (std::size_t r = rows; r % 4 != 0; ++r) {
    char block[8];
    std::snprintf(block, sizeof block, "%04X", static_cast<unsigned>(r));
    out += std::string(block) + ":" + std::string(32, 'F') + "\n";
  }
  return out;
}

int LostLineRoad(tarvik::AppWindows& windows, const QString& port, const QDir& out) {
  TformMain& main = windows.formMain;
  tarvik::TformUpdateIns& reflash = windows.formUpdateIns;
  const tarvik::TformUpdateInsUi& ui = reflash.Ui();
  if (!OfferedAtStart(windows, port, out, nullptr)) return 1;
  Settle(300);
  QFile ready(out.filePath(QStringLiteral("lostline-ready")));
  if (!ready.open(QIODevice::WriteOnly)) return 1;
  ready.close();
  std::printf("the reflash window is open; waiting for the line to go...\n");
  std::fflush(stdout);
  const bool told = WaitFor([&] { return Disconnected(main) && !ui.btnUpdateVer->isEnabled(); }, 30000);
  Settle(300);
  Save(reflash, out, "14-reflash-window-line-lost.png");
  std::printf("reflash window says: %s\n", qPrintable(ui.lbError->text()));
  if (!told) return 1;
  ui.btnExit->click();
  Settle(300);
  main.close();
  return reflash.isVisible() ? 1 : 0;
}

int ServiceRoad(tarvik::AppWindows& windows, const QString& port, const QDir& out, bool failing) {
  TformMain& main = windows.formMain;
  ChoosePortAtStart(main, port, out, std::make_shared<bool>(false), nullptr);
  // The failure is told where the technician looks with the log hidden, as
  // it is by default.
  main.SetLogVisible(!failing);
  main.show();

  // The type of this device has no update rule: the tool offers its
  // firmware, which the technician declines; the device stays connected.
  // The offer is a modal dialog with its own event loop, so it is answered
  // from a timer that runs inside that loop.
  bool offerDeclined = false;
  QTimer decline;
  decline.setInterval(200);
  QObject::connect(&decline, &QTimer::timeout, [&] {
    QWidget* offer = QApplication::activeModalWidget();
    if (offer == nullptr || offerDeclined) return;
    offerDeclined = true;
    std::printf("declining the offer of \"%s\"\n", qPrintable(offer->windowTitle()));
    offer->close();
  });
  decline.start();
  const bool connected =
      WaitFor([&] { return offerDeclined && main.Ui().tbtnDisconnect->isEnabled(); }, 15000);
  decline.stop();
  if (!connected) {
    std::fprintf(stderr, "no firmware offer came up, or the device did not stay connected\n");
    Save(main, out, "error-main-window.png");
    return 1;
  }
  Settle(200);

  const QString hexPath = out.filePath(QStringLiteral("service.hex"));
  QFile hexFile(hexPath);
  const std::string hexText = ServiceHexFile();
  if (!hexFile.open(QIODevice::WriteOnly) ||
      hexFile.write(hexText.data(), static_cast<qint64>(hexText.size())) < 0) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(hexPath));
    return 1;
  }
  hexFile.close();

  tarvik::TformUpdateInsertion& viewer = windows.formUpdateInsertion;
  viewer.SetFileChooser([hexPath](QWidget*) { return hexPath; });
  bool viewerSeen = false;
  // The viewer is modal: the road drives it from inside its own event loop.
  QTimer::singleShot(300, &viewer, [&] {
    viewerSeen = true;
    viewer.Ui().browseButton->click();
    Settle(300);
    if (!failing) Save(viewer, out, "07-hex-viewer.png");
    viewer.Ui().btnOK->click();
  });
  // A look at the main window while the device is written.
  if (!failing) QTimer::singleShot(4000, &main, [&] { Save(main, out, "08-service-reflash-running.png"); });
  // A failure is told in a box, which waits for its OK.
  QString boxText;
  QTimer boxes;
  boxes.setInterval(200);
  QObject::connect(&boxes, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !boxText.isEmpty()) return;
    boxText = box->text();
    Settle(300);
    Save(*box, out, "15-service-failure-box.png");
    box->accept();
  });
  boxes.start();
  std::printf("service menu: firmware update from %s\n", qPrintable(hexPath));
  std::fflush(stdout);
  main.Ui().mnuUpdate->trigger();  // returns when the procedure is over
  boxes.stop();
  if (!viewerSeen) {
    std::fprintf(stderr, "the HEX viewer did not open\n");
    return 1;
  }
  const bool disconnected = WaitFor([&] { return Disconnected(main); }, 10000);
  Settle(300);
  Save(main, out,
       failing ? "16-main-window-after-service-failure.png" : "09-main-window-after-service-reflash.png");
  std::printf("status bar: %s\n", qPrintable(main.Ui().panels[2]->text()));
  if (failing) {
    std::printf("the box said: %s\n", qPrintable(boxText));
    main.close();
    return disconnected && !boxText.isEmpty() ? 0 : 1;
  }

  QFile expected(out.filePath(QStringLiteral("service-expected-flash.txt")));
  const std::string flash = ExpectedServiceFlash(viewer.Grid());
  if (!expected.open(QIODevice::WriteOnly) ||
      expected.write(flash.data(), static_cast<qint64>(flash.size())) < 0) {
    return 1;
  }
  std::printf("%s\n", disconnected ? "service reflash over; disconnected" : "still connected");
  main.close();
  return disconnected ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  tarvik::InstallQtRussian(app);
  std::setlocale(LC_ALL, "");
  QApplication::setApplicationName(QStringLiteral("tarvikflash"));
  const std::string road = argc == 5 ? argv[1] : "";
  const bool service = road == "service" || road == "servicefailure";
  if (road != "reflash" && road != "recovery" && road != "lostline" && road != "stale" && !service) {
    std::fprintf(stderr,
                 "usage: tarvik-road reflash|service|recovery|lostline|servicefailure|stale PROGRAM_DIR PORT "
                 "OUT_DIR\n");
    return 2;
  }
  const QString programDir = QDir(QString::fromLocal8Bit(argv[2])).absolutePath() + QLatin1Char('/');
  const QString port = QString::fromLocal8Bit(argv[3]);
  QDir out(QString::fromLocal8Bit(argv[4]));
  out.mkpath(QStringLiteral("."));

  if (service) {
    // The service menu shows only for its access word.
    const auto places = tarvik::ResolveSettingsLocations(std::filesystem::path(programDir.toStdU16String()));
    tarvik::IniFile settings(places.CurrentIni());
    settings.WriteString("Update", "UpdatePanelVersion", "hqzvrd");
    settings.Save();
  }
  tarvik::AppWindows windows(programDir);
  // The demonstration shows the serial traffic as it goes.
  windows.formMain.SetLogVisible(true);
  if (road == "recovery") return RecoveryRoad(windows, port, out);
  if (road == "lostline") return LostLineRoad(windows, port, out);
  if (road == "stale") return StaleRoad(windows, port, out);
  if (service) return ServiceRoad(windows, port, out, road == "servicefailure");
  return ReflashRoad(windows, port, out);
}
