#include "connect/ui/connectdlg.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QToolButton>

#include "common/inifile.h"
#include "common/ui/placement.h"
#include "common/ui/qtext.h"
#include "common/ui/waitpainting.h"
#include "common/workerthread.h"
#include "connect/portselect.h"
#include "serial/link.h"

namespace tarvik {

namespace {

constexpr int kClientWidth = 358;
constexpr int kClientHeight = 75;

// A nine-pin serial plug: the picture of the button that lists the ports.
QIcon SerialPlugIcon() {
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  QPainterPath shell;
  shell.moveTo(1.5, 4.5);
  shell.lineTo(14.5, 4.5);
  shell.lineTo(12.5, 11.5);
  shell.lineTo(3.5, 11.5);
  shell.closeSubpath();
  painter.setPen(QPen(QColor(0x20, 0x20, 0x60), 1.0));
  painter.setBrush(QColor(0xc8, 0xd4, 0xe8));
  painter.drawPath(shell);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0x20, 0x20, 0x60));
  for (int i = 0; i < 5; ++i) painter.drawEllipse(QPointF(3.5 + 2.25 * i, 6.8), 0.8, 0.8);
  for (int i = 0; i < 4; ++i) painter.drawEllipse(QPointF(4.6 + 2.25 * i, 9.2), 0.8, 0.8);
  return QIcon(pixmap);
}

std::vector<std::string> ItemTexts(const QComboBox& box) {
  std::vector<std::string> items;
  items.reserve(static_cast<std::size_t>(box.count()));
  for (int i = 0; i < box.count(); ++i) items.push_back(ToCp(box.itemText(i)));
  return items;
}

}  // namespace

TdlgConnect::TdlgConnect(PortListFn systemPorts, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint), systemPorts_(std::move(systemPorts)) {
  notFoundHook_ = [](const QString& text) {
    // Without an owner, as the search has always shown it.
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Ошибка"), text, QMessageBox::Ok);
    box.exec();
  };
  errorHook_ = [this](const QString& text) { QMessageBox::critical(this, QStringLiteral("Ошибка"), text); };

  setObjectName(QStringLiteral("dlgConnect"));
  setWindowTitle(Ru("Соединение"));
  setFixedSize(kClientWidth, kClientHeight);

  ui_.portLabel = new QLabel(Ru("Com-порт"), this);
  ui_.portLabel->setObjectName(QStringLiteral("portLabel"));
  ui_.portLabel->setGeometry(8, 6, 150, 16);

  ui_.ComPorts = new QComboBox(this);
  ui_.ComPorts->setObjectName(QStringLiteral("ComPorts"));
  ui_.ComPorts->setEditable(true);
  // Typed text stays text: the list shows only what the system registers.
  ui_.ComPorts->setInsertPolicy(QComboBox::NoInsert);
  ui_.ComPorts->setGeometry(8, 24, 150, 24);
  ui_.portLabel->setBuddy(ui_.ComPorts);

  ui_.listPortsButton = new QToolButton(this);
  ui_.listPortsButton->setObjectName(QStringLiteral("listPortsButton"));
  ui_.listPortsButton->setAutoRaise(true);
  ui_.listPortsButton->setIcon(SerialPlugIcon());
  ui_.listPortsButton->setToolTip(Ru("Отобразить com порты системы"));
  ui_.listPortsButton->setFocusPolicy(Qt::NoFocus);
  ui_.listPortsButton->setGeometry(160, 24, 24, 24);

  ui_.OKBtn = new QPushButton(Ru("ОК"), this);
  ui_.OKBtn->setObjectName(QStringLiteral("OKBtn"));
  ui_.OKBtn->setDefault(true);
  ui_.OKBtn->setGeometry(194, 8, 75, 26);

  ui_.CancelBtn = new QPushButton(Ru("Отмена"), this);
  ui_.CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
  ui_.CancelBtn->setGeometry(275, 8, 75, 26);

  ui_.searchButton = new QPushButton(Ru("Автоматический поиск"), this);
  ui_.searchButton->setObjectName(QStringLiteral("searchButton"));
  ui_.searchButton->setFlat(true);
  ui_.searchButton->setAutoDefault(false);
  ui_.searchButton->setStyleSheet(QStringLiteral("color: navy;"));
  ui_.searchButton->setGeometry(194, 40, 156, 26);

  ui_.searchProgressBar = new QProgressBar(this);
  ui_.searchProgressBar->setObjectName(QStringLiteral("searchProgressBar"));
  ui_.searchProgressBar->setTextVisible(false);
  ui_.searchProgressBar->setGeometry(0, kClientHeight - 5, kClientWidth, 5);
  ui_.searchProgressBar->hide();

  setTabOrder(ui_.ComPorts, ui_.OKBtn);
  setTabOrder(ui_.OKBtn, ui_.CancelBtn);
  setTabOrder(ui_.CancelBtn, ui_.searchButton);

  connect(ui_.listPortsButton, &QToolButton::clicked, this, [this] { SpeedButton2Click(); });
  connect(ui_.OKBtn, &QPushButton::clicked, this, &QDialog::accept);
  connect(ui_.CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
  connect(ui_.searchButton, &QPushButton::clicked, this, [this] { SpeedButton1MouseUp(); });
}

void TdlgConnect::LoadPort(const IniFile& ini) {
  const std::string port = ini.ReadString("Connect", "ComPort", "");
  if (!port.empty()) ui_.ComPorts->setEditText(FromCp(port));
}

void TdlgConnect::SavePort(IniFile& ini) const { ini.WriteString("Connect", "ComPort", ChosenPortText()); }

std::string TdlgConnect::ChosenPortText() const { return ToCp(ui_.ComPorts->currentText()); }

void TdlgConnect::SpeedButton2Click() {
  const std::string text = ChosenPortText();
  ui_.ComPorts->clear();
  ui_.ComPorts->clearEditText();
  FillPortsFromSystem();
  // A server's address is never among the system's ports: it stays in the
  // box as typed or remembered, instead of giving way to the first port.
  if (const ParsedLinkAddress typed = ParseLinkAddress(text);
      !typed.Ok() || typed.Address.Kind != LinkKind::Serial) {
    ui_.ComPorts->setCurrentIndex(-1);
    ui_.ComPorts->setEditText(FromCp(text));
    return;
  }
  for (const std::string& pattern : ReselectPatterns(text)) {
    if (SelectItemByPattern(pattern) >= 0) break;
  }
}

void TdlgConnect::FillPortsFromSystem() {
  ui_.ComPorts->clear();
  std::vector<std::string> ports = systemPorts_ ? systemPorts_() : std::vector<std::string>{};
  for (const std::string& port : SortPortNames(std::move(ports))) ui_.ComPorts->addItem(FromCp(port));
  if (ui_.ComPorts->count() > 0 && ui_.ComPorts->currentIndex() < 0) ui_.ComPorts->setCurrentIndex(0);
}

int TdlgConnect::SelectItemByPattern(const std::string& pattern) {
  const int index = tarvik::SelectItemByPattern(ItemTexts(*ui_.ComPorts), pattern);
  if (index >= 0) ui_.ComPorts->setCurrentIndex(index);
  return index;
}

void TdlgConnect::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) FormShow();
}

void TdlgConnect::FormShow() {
  CentreOnScreen(*this);
  SpeedButton2Click();
}

void TdlgConnect::SpeedButton1MouseUp() {
  if (!search_ || searching_) return;
  // The system's ports as they are now, not as they were when the dialog
  // opened (it opens by itself at start, often before the adapter is
  // plugged in); the list shows them, and the search goes in its order.
  SpeedButton2Click();
  const std::vector<std::string> ports = ItemTexts(*ui_.ComPorts);
  searching_ = true;
  SetInputEnabled(false);
  ui_.searchProgressBar->setRange(0, std::max<int>(1, static_cast<int>(ports.size())));
  ui_.searchProgressBar->setValue(0);
  ui_.searchProgressBar->show();

  // The probes run on a worker; this thread serves its steps and keeps the
  // windows painting, so the bar moves while each silent port takes its
  // second.
  std::optional<std::size_t> found;
  std::string error;
  // Written by the worker, read once it has finished.
  std::vector<std::string> failures;
  std::atomic<bool> stop{false};
  {
    TWorkerThread worker(search_->Sync);
    const PortSearchEvents events{
        .Answered =
            [&](std::size_t i) {
              worker.RunStep([&] { ui_.ComPorts->setCurrentIndex(static_cast<int>(i)); });
            },
        .Progress =
            [&](std::size_t probed) {
              worker.RunStep([&] { ui_.searchProgressBar->setValue(static_cast<int>(probed)); });
            },
        .Failed = [&](std::size_t i,
                      const std::string& reason) { failures.push_back(ProbeFailedText(ports[i], reason)); },
    };
    worker.Start([&] {
      try {
        found = SearchPorts(ports, *search_, events, stop);
      } catch (const std::exception& e) {
        error = e.what();
      }
    });
    WaitPainting(search_->Sync, [&] { return worker.Finished(); });
  }

  ui_.searchProgressBar->hide();
  SetInputEnabled(true);
  searching_ = false;
  if (!error.empty()) {
    if (errorHook_) errorHook_(QStringLiteral("Ошибка при поиске устройства! ") + FromCp(error));
  } else if (found) {
    ui_.ComPorts->setCurrentIndex(static_cast<int>(*found));
    ui_.OKBtn->click();
  } else if (notFoundHook_) {
    QString text = QStringLiteral("Устройство не найдено");
    for (const std::string& failure : failures) text += u'\n' + FromCp(failure);
    notFoundHook_(text);
  }
}

void TdlgConnect::SetInputEnabled(bool enabled) {
  for (QWidget* control : std::initializer_list<QWidget*>{ui_.ComPorts, ui_.listPortsButton, ui_.OKBtn,
                                                          ui_.CancelBtn, ui_.searchButton}) {
    control->setEnabled(enabled);
  }
}

void TdlgConnect::reject() {
  if (searching_) return;
  QDialog::reject();
}

void TdlgConnect::closeEvent(QCloseEvent* event) {
  if (searching_) {
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

}  // namespace tarvik
