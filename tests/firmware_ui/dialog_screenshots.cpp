// Shows each dialog of the connect-to-decision road with the shipped
// catalogue's data and saves a picture of it: dlg-*.png in the folder named
// on the command line. Under a real X server (QT_QPA_PLATFORM=xcb, ideally
// with a window manager for the title bars) the pictures are screen grabs;
// offscreen they are the widgets' own renderings.
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPixmap>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "common/text.h"
#include "common/ui/comboboxpatch.h"
#include "common/ui/translations.h"
#include "connect/ui/connectdlg.h"
#include "firmware/catalogue.h"
#include "firmware/selection.h"
#include "firmware/ui/selectdevicetypeform.h"
#include "firmware/ui/selectfirmvareform.h"
#include "hexview/ui/hexviewer.h"
#include "reflash/ui/reflashwindow.h"

namespace {

using namespace tarvik;

bool RealScreen() { return QGuiApplication::platformName() == QLatin1String("xcb"); }

void Settle() {
  for (int i = 0; i < 10; ++i) {
    QApplication::processEvents();
    QTest::qWait(50);
  }
}

// The screen area of the windows (with their frames), or the first widget's
// own rendering where there is no real screen.
bool Save(const QString& path, const std::vector<QWidget*>& windows) {
  Settle();
  QPixmap picture;
  if (RealScreen()) {
    QRect area;
    for (QWidget* window : windows) area |= window->frameGeometry();
    area.adjust(-2, -2, 2, 2);
    picture = windows.front()->screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
  } else {
    picture = windows.front()->grab();
  }
  const bool saved = picture.save(path);
  std::printf("%s %s\n", saved ? "saved" : "FAILED", qPrintable(path));
  return saved;
}

int ImageIndexOf(const FirmwareCatalogue& catalogue, const std::string& versionText) {
  const auto& images = catalogue.FirmwareImages();
  for (std::size_t i = 0; i < images.size(); ++i) {
    if (images[i].VersionText == versionText) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  InstallQtRussian(app);
  const QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."));
  const std::string deviceLine = "VER 14.002.020";
  FirmwareCatalogue catalogue;
  catalogue.LoadCatalogue();
  bool ok = true;

  TComboBoxPatch patch;
  {
    TdlgConnect dlg([] { return std::vector<std::string>{"ttyS0", "ttyUSB1", "ttyACM0", "ttyUSB0"}; });
    dlg.Ui().ComPorts->setEditText(QStringLiteral("ttyUSB0"));
    dlg.show();
    ok &= Save(out.filePath(QStringLiteral("dlg-connect.png")), {&dlg});

    dlg.Ui().ComPorts->showPopup();
    Settle();
    QAbstractItemView* view = dlg.Ui().ComPorts->view();
    const QPoint at = view->visualRect(view->model()->index(2, 0)).center();
    QMouseEvent move(QEvent::MouseMove, at, view->viewport()->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(view->viewport(), &move);
    auto* hint = const_cast<QLabel*>(patch.HintWindow());
    ok &= Save(out.filePath(QStringLiteral("dlg-connect-hint.png")), {&dlg, view->window(), hint});
    dlg.Ui().ComPorts->hidePopup();
  }
  {
    TSelectFirmvareForm form;
    form.SetVersion(deviceLine, ListImagesForVersion(catalogue, deviceLine));
    form.SetNotRelease(false);
    form.Ui().imageList->setCurrentRow(0);
    form.show();
    ok &= Save(out.filePath(QStringLiteral("dlg-select-firmware.png")), {&form});
  }
  {
    TSelectDeviceTypeForm form;
    form.SetNames(DeviceTypeNames(catalogue));
    form.show();
    ok &= Save(out.filePath(QStringLiteral("dlg-select-device-type.png")), {&form});
  }
  {
    TformUpdateIns window(TformUpdateInsHooks{});
    window.HideVersionChoice();
    const ReflashSelection chosen =
        SelectImage(catalogue, ImageIndexOf(catalogue, "VER 14.002.028"), deviceLine, true);
    window.ApplySelection(chosen);
    window.show();
    ok &= Save(out.filePath(QStringLiteral("dlg-reflash.png")), {&window});
  }
  // The reflash window's outcomes: a failure with its cause, and a success
  // the device confirmed by naming the image's version.
  TformUpdateInsHooks hooks;
  hooks.Device = [] {
    return std::optional<DeviceIdentity>(DeviceIdentity::FromVersionLine("VER 14.002.020"));
  };
  hooks.StartReflash = [](const std::vector<std::string>&, ReflashView&,
                          std::chrono::system_clock::time_point) { return true; };
  const int offered = ImageIndexOf(catalogue, "VER 14.002.028");
  {
    TformUpdateIns window(hooks);
    window.HideVersionChoice();
    window.ApplySelection(SelectImage(catalogue, offered, deviceLine, true));
    window.show();
    window.btnUpdateVerClick();
    window.MarkRunning();
    window.ShowElapsed(Utf8ToCp1251("14 сек "));
    window.ShowProgress(251, 70);
    ReflashReport failure;
    failure.outcome = ReflashOutcome::Failed;
    failure.cause = ReflashCause::GroupNotTaken;
    failure.block = "00E4";
    failure.device = DeviceAfter::Erased;
    window.ShowFailure(failure);
    ok &= Save(out.filePath(QStringLiteral("dlg-reflash-failure.png")), {&window});
  }
  {
    TformUpdateIns window(hooks);
    window.HideVersionChoice();
    window.ApplySelection(SelectImage(catalogue, offered, deviceLine, true));
    window.show();
    window.btnUpdateVerClick();
    window.MarkRunning();
    window.ShowElapsed(Utf8ToCp1251("47 сек "));
    window.ShowProgress(251, 251);
    window.ShowRemaining(Utf8ToCp1251("0 сек "));
    ReflashReport done;
    done.outcome = ReflashOutcome::Succeeded;
    done.device = DeviceAfter::Written;
    done.check = VersionCheck::Verified;
    done.imageVersion = "VER 14.002.028";
    done.versionAfter = "VER 14.002.028";
    window.ShowSuccess(done);
    ok &= Save(out.filePath(QStringLiteral("dlg-reflash-verified.png")), {&window});
  }
  {
    // Qt's file dialog, in Russian as the program carries it.
    QTimer::singleShot(300, [&] {
      if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
        ok &= Save(out.filePath(QStringLiteral("dlg-open-hex.png")), {dialog});
        dialog->reject();
      }
    });
    ChooseHexFile(nullptr);
  }
  return ok ? 0 : 1;
}
