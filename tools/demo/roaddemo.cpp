// tarvik-road PROGRAM_DIR PORT OUT_DIR
//
// Runs the tool's road from start to decision the way a technician would,
// on the real windows: the connection dialog opens at start, the port PORT
// is chosen, the device is identified and the decision opens the reflash
// window; then the window is left, which disconnects. Each window it passes
// is saved as a picture in OUT_DIR. Exit status 0 when the road was whole.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <clocale>
#include <cstdio>
#include <functional>

#include "app/appwindows.h"
#include "connect/ui/connectdlg.h"
#include "serial/comportworker.h"

namespace {

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
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  std::setlocale(LC_ALL, "");
  QApplication::setApplicationName(QStringLiteral("tarvikflash"));
  if (argc != 4) {
    std::fprintf(stderr, "usage: tarvik-road PROGRAM_DIR PORT OUT_DIR\n");
    return 2;
  }
  const QString programDir = QDir(QString::fromLocal8Bit(argv[1])).absolutePath() + QLatin1Char('/');
  const QString port = QString::fromLocal8Bit(argv[2]);
  QDir out(QString::fromLocal8Bit(argv[3]));
  out.mkpath(QStringLiteral("."));

  tarvik::AppWindows windows(programDir);
  tarvik::TformMain& main = windows.formMain;
  bool dialogSeen = false;
  main.SetConnectDialogRunner([&](tarvik::TdlgConnect& dialog) {
    dialogSeen = true;
    dialog.show();
    Settle(300);
    const int row = dialog.ComPorts->findText(port);
    if (row >= 0) dialog.ComPorts->setCurrentIndex(row);
    std::printf("connection dialog lists %d port(s); choosing %s\n", dialog.ComPorts->count(),
                qPrintable(dialog.ComPorts->currentText()));
    Save(dialog, out, "01-connection-dialog.png");
    return row >= 0 ? QDialog::Accepted : QDialog::Rejected;
  });
  // The demonstration shows the serial traffic as it goes.
  main.SetLogVisible(true);
  main.show();

  tarvik::TformUpdateIns& reflash = windows.formUpdateIns;
  if (!WaitFor([&] { return reflash.isVisible(); }, 15000)) {
    std::fprintf(stderr, "the decision did not open the reflash window%s\n",
                 dialogSeen ? "" : " (the connection dialog never opened)");
    Save(main, out, "error-main-window.png");
    return 1;
  }
  Settle(300);  // let the queued status texts reach the status bar
  std::printf("device: %s; offered: %s\n", qPrintable(reflash.Ui().lbOldName->text()),
              qPrintable(reflash.Ui().lbNewName->text()));
  Save(main, out, "02-main-window-connected.png");
  Save(reflash, out, "03-reflash-window.png");

  reflash.Ui().btnExit->click();
  const bool disconnected = WaitFor([&] { return main.PortWorker() == nullptr; }, 5000);
  Settle(200);
  Save(main, out, "04-main-window-after-exit.png");
  std::printf("%s\n", disconnected ? "left the reflash window; disconnected" : "still connected");
  main.close();
  return disconnected ? 0 : 1;
}
