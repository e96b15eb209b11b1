#include "hexview/ui/hexviewer.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QStringList>
#include <QStyle>
#include <QTableView>
#include <QToolButton>
#include <filesystem>

#include "common/ui/placement.h"
#include "common/ui/qtext.h"
#include "common/ui/waitpainting.h"
#include "common/uisync.h"
#include "common/workerthread.h"
#include "firmware/hexfile.h"

namespace tarvik {

// The grid as the view shows it: row 0 of the grid is the horizontal
// header, column 0 the vertical one, so both stay in place while the cells
// scroll.
class HexGridModel : public QAbstractTableModel {
 public:
  explicit HexGridModel(QObject* parent) : QAbstractTableModel(parent), grid_(EmptyHexGrid()) {}

  const HexGrid& Grid() const { return grid_; }
  void SetGrid(HexGrid grid) {
    beginResetModel();
    grid_ = std::move(grid);
    endResetModel();
  }

  int rowCount(const QModelIndex& parent) const override {
    return parent.isValid() ? 0 : static_cast<int>(grid_.Rows.size()) - 1;
  }
  int columnCount(const QModelIndex& parent) const override {
    return parent.isValid() ? 0 : kHexGridColumns - 1;
  }

  QVariant data(const QModelIndex& index, int role) const override {
    if (!index.isValid()) return {};
    if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::Alignment(Qt::AlignCenter));
    if (role != Qt::DisplayRole) return {};
    return Text(Cell(index.row() + 1, index.column() + 1));
  }

  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::Alignment(Qt::AlignCenter));
    if (role != Qt::DisplayRole || section < 0) return {};
    return Text(orientation == Qt::Horizontal ? Cell(0, section + 1) : Cell(section + 1, 0));
  }

 private:
  const std::string& Cell(int row, int column) const {
    return grid_.Rows[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)];
  }
  // Cells hold hex digits and addresses only.
  static QString Text(const std::string& cell) {
    return QString::fromLatin1(cell.data(), static_cast<qsizetype>(cell.size()));
  }

  HexGrid grid_;
};

namespace {

constexpr int kViewerClientWidth = 643;
constexpr int kViewerClientHeight = 306;
constexpr int kColumnWidth = 35;
constexpr int kRowHeight = 17;
constexpr int kButtonBarHeight = 36;
constexpr QSize kButtonSize(75, 25);

QFont ViewerFont() {
  QFont font(QStringLiteral("Tahoma"), 8);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

}  // namespace

QString ChooseHexFile(QWidget* parent) {
  QFileDialog dialog(parent, Ru("Открыть"), QDir::homePath(), QStringLiteral("HEX FILES (*.hex)"));
  dialog.setObjectName(QStringLiteral("openHex"));
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  if (dialog.exec() != QDialog::Accepted) return {};
  const QStringList files = dialog.selectedFiles();
  return files.isEmpty() ? QString() : files.first();
}

TformUpdateInsertion::TformUpdateInsertion(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint), chooseFile_(ChooseHexFile) {
  setObjectName(QStringLiteral("formUpdateInsertion"));
  showError_ = [this](const QString& text) { QMessageBox::critical(this, Ru("Ошибка"), text); };
  BuildUi();
}

TformUpdateInsertion::~TformUpdateInsertion() = default;

void TformUpdateInsertion::BuildUi() {
  setWindowTitle(Ru("Обновление версии прошивки"));
  setFont(ViewerFont());
  setFixedSize(kViewerClientWidth, kViewerClientHeight);

  ui_.fileGroup = new QGroupBox(Ru("Выберите файл с прошивкой"), this);
  ui_.fileGroup->setObjectName(QStringLiteral("fileGroup"));
  ui_.fileGroup->setGeometry(8, 8, 625, 74);

  ui_.pathLabel = new QLabel(Ru("Путь к файлу:"), ui_.fileGroup);
  ui_.pathLabel->setObjectName(QStringLiteral("pathLabel"));
  ui_.pathLabel->setGeometry(12, 20, 200, 14);

  ui_.etPath = new QLineEdit(ui_.fileGroup);
  ui_.etPath->setObjectName(QStringLiteral("etPath"));
  // The path names the file the grid shows; a typed path would name a file
  // that was never loaded while OK wrote the old grid.
  ui_.etPath->setReadOnly(true);
  ui_.etPath->setGeometry(12, 38, 530, 22);
  ui_.pathLabel->setBuddy(ui_.etPath);

  ui_.browseButton = new QToolButton(ui_.fileGroup);
  ui_.browseButton->setObjectName(QStringLiteral("browseButton"));
  ui_.browseButton->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
  ui_.browseButton->setToolTip(Ru("Открыть файл"));
  ui_.browseButton->setGeometry(546, 38, 28, 22);
  connect(ui_.browseButton, &QToolButton::clicked, this, [this] { LoadHexFile(); });

  model_ = new HexGridModel(this);
  ui_.sgHex = new QTableView(this);
  ui_.sgHex->setObjectName(QStringLiteral("sgHex"));
  ui_.sgHex->setModel(model_);
  ui_.sgHex->setGeometry(8, 88, 625, 177);
  ui_.sgHex->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ui_.sgHex->setSelectionBehavior(QAbstractItemView::SelectRows);
  ui_.sgHex->setSelectionMode(QAbstractItemView::SingleSelection);
  ui_.sgHex->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  ui_.sgHex->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  ui_.sgHex->setShowGrid(true);
  ui_.sgHex->setCornerButtonEnabled(false);
  QHeaderView* columns = ui_.sgHex->horizontalHeader();
  columns->setMinimumSectionSize(kColumnWidth);
  columns->setDefaultSectionSize(kColumnWidth);
  columns->setSectionResizeMode(QHeaderView::Fixed);
  columns->setHighlightSections(false);
  columns->setFixedHeight(kRowHeight + 2);
  QHeaderView* rows = ui_.sgHex->verticalHeader();
  rows->setMinimumSectionSize(kRowHeight);
  rows->setDefaultSectionSize(kRowHeight);
  rows->setSectionResizeMode(QHeaderView::Fixed);
  rows->setHighlightSections(false);
  rows->setMinimumWidth(kColumnWidth);
  rows->setDefaultAlignment(Qt::AlignCenter);

  ui_.dialogButtons = new QWidget(this);
  ui_.dialogButtons->setObjectName(QStringLiteral("dialogButtons"));
  ui_.dialogButtons->setGeometry(0, kViewerClientHeight - kButtonBarHeight, kViewerClientWidth,
                                 kButtonBarHeight);
  ui_.lbLeftOut = new QLabel(ui_.dialogButtons);
  ui_.lbLeftOut->setObjectName(QStringLiteral("lbLeftOut"));
  ui_.btnOK = new QPushButton(Ru("ОК"), ui_.dialogButtons);
  ui_.btnOK->setObjectName(QStringLiteral("btnOK"));
  ui_.btnOK->setDefault(true);
  ui_.btnCancel = new QPushButton(Ru("Отмена"), ui_.dialogButtons);
  ui_.btnCancel->setObjectName(QStringLiteral("btnCancel"));
  auto* bar = new QHBoxLayout(ui_.dialogButtons);
  bar->setContentsMargins(8, 0, 8, 0);
  bar->addWidget(ui_.lbLeftOut, 1);
  for (QPushButton* button : {ui_.btnOK, ui_.btnCancel}) {
    button->setFixedSize(kButtonSize);
    bar->addWidget(button);
  }
  connect(ui_.btnOK, &QPushButton::clicked, this, &QDialog::accept);
  connect(ui_.btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TformUpdateInsertion::LoadHexFile() {
  const QString path = chooseFile_ ? chooseFile_(this) : QString();
  if (path.isEmpty()) return;
  LoadFile(path);
}

void TformUpdateInsertion::LoadFile(const QString& path) {
  // A file of tens of megabytes takes seconds to read and lay out: that
  // happens on a worker, under the busy cursor, while the windows keep
  // painting and what the user does meanwhile is dropped.
  HexFileLoad read;
  UiStepQueue sync;
  {
    TWorkerThread worker(sync);
    worker.SetErrorSink([&read](const std::string& what) { read.Error = what; });
    const std::filesystem::path file(path.toStdU16String());
    // The loader's, not this window's browse button.
    worker.Start([&read, file] { read = tarvik::LoadHexFile(file); });
    QApplication::setOverrideCursor(Qt::WaitCursor);
    WaitPainting(sync, [&worker] { return worker.Finished(); });
    QApplication::restoreOverrideCursor();
  }
  if (!read.Ok()) {
    Fail(path, FromCp(read.Error));
    return;
  }
  QStringList leftOut;
  for (const std::string& line : LeftOutLines(read.Load)) leftOut.append(FromCp(line));
  ShowLoad(path, std::move(read.Load.Grid), read.Load.BytesLeftOut, leftOut.join(QLatin1Char('\n')));
}

void TformUpdateInsertion::ShowLoad(const QString& path, HexGrid grid, std::size_t leftOut,
                                    const QString& leftOutText) {
  ui_.etPath->setText(QDir::toNativeSeparators(path));
  model_->SetGrid(std::move(grid));
  ui_.sgHex->scrollToTop();
  bytesLeftOut_ = leftOut;
  ui_.lbLeftOut->setText(leftOutText);
}

void TformUpdateInsertion::Fail(const QString& path, const QString& reason) {
  // Nothing of the file stays: OK must not hand a part of it to the device.
  ShowLoad(QString(), EmptyHexGrid(), 0, QString());
  if (showError_) {
    showError_(Ru("Файл \"%1\" не загружен.\n%2").arg(QDir::toNativeSeparators(path), reason));
  }
}

std::string TformUpdateInsertion::Path() const { return ToCp(ui_.etPath->text()); }

const HexGrid& TformUpdateInsertion::Grid() const { return model_->Grid(); }

void TformUpdateInsertion::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous()) return;
  CentreOnScreen(*this);
}

}  // namespace tarvik
