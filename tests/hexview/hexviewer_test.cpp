#include "hexview/ui/hexviewer.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <string>
#include <vector>

#include "common/ui/qtext.h"
#include "common/ui/translations.h"
#include "firmware/hexfile.h"
#include "simulator/hexrecord.h"

namespace tarvik {
namespace {

// Records of 16 bytes from address 0, each byte its row number; then the
// end record. Checksums are computed, so the files load.
QByteArray HexFile(int rows, const QByteArray& extra = {}) {
  QByteArray text;
  for (int row = 0; row < rows; ++row) {
    const QByteArray cell = QByteArray::number(row & 0xFF, 16).rightJustified(2, '0').toUpper();
    const std::string record =
        sim::HexRecord(static_cast<unsigned>(row * 16), 0, cell.repeated(16).toStdString());
    text += QByteArray::fromStdString(record) + "\r\n";
  }
  return text + extra + ":00000001FF\r\n";
}

// Configuration bytes above 64 KiB: six of them.
const QByteArray kConfiguration = ":020000040030CA\r\n:0600000000271E81000F25\r\n";

// A window with a file chooser that hands out the queued paths and an error
// hook that records the messages.
class HexViewerTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    window_.SetFileChooser([this](QWidget*) {
      ++chooserCalls_;
      return nextChoice_;
    });
    window_.SetErrorHook([this](const QString& text) { errors_.push_back(text); });
  }

  QString Write(const QString& name, const QByteArray& bytes) {
    const QString path = dir_.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return path;
  }

  void Choose(const QString& path) {
    nextChoice_ = path;
    QTest::mouseClick(window_.Ui().browseButton, Qt::LeftButton);
  }

  QAbstractItemModel& Model() const { return *window_.Ui().sgHex->model(); }
  QString Cell(int row, int column) const { return Model().index(row - 1, column - 1).data().toString(); }
  QString Address(int row) const { return Model().headerData(row - 1, Qt::Vertical).toString(); }

  void ExpectNoFileChosen() const {
    EXPECT_EQ(window_.Path(), "");
    EXPECT_TRUE(window_.Ui().etPath->text().isEmpty());
    EXPECT_EQ(window_.Grid().Rows, EmptyHexGrid().Rows);
    EXPECT_EQ(Model().rowCount(), 8);
    EXPECT_EQ(Address(1), QString());
    EXPECT_EQ(Cell(1, 1), QString());
    EXPECT_TRUE(window_.Ui().lbLeftOut->text().isEmpty());
  }

  QTemporaryDir dir_;
  TformUpdateInsertion window_;
  QString nextChoice_;
  int chooserCalls_ = 0;
  std::vector<QString> errors_;
};

TEST_F(HexViewerTest, StartsWithTheHeadingsAndNoFile) {
  EXPECT_EQ(window_.windowTitle(), QStringLiteral("Обновление версии прошивки"));
  EXPECT_EQ(window_.Ui().fileGroup->title(), QStringLiteral("Выберите файл с прошивкой"));
  EXPECT_EQ(window_.Ui().pathLabel->text(), QStringLiteral("Путь к файлу:"));
  EXPECT_FALSE(window_.Ui().browseButton->icon().isNull());
  EXPECT_TRUE(window_.Ui().btnOK->isDefault());
  EXPECT_EQ(Model().columnCount(), 16);
  EXPECT_EQ(Model().headerData(0, Qt::Horizontal).toString(), QStringLiteral("00"));
  EXPECT_EQ(Model().headerData(15, Qt::Horizontal).toString(), QStringLiteral("0F"));
  EXPECT_EQ(window_.Ui().sgHex->selectionBehavior(), QAbstractItemView::SelectRows);
  EXPECT_EQ(window_.Ui().sgHex->horizontalHeader()->sectionSize(0), 35);
  ExpectNoFileChosen();
}

TEST_F(HexViewerTest, LoadsTheChosenFileIntoTheGrid) {
  // A Cyrillic name travels to the reflash as Windows-1251.
  const QString path = Write(QStringLiteral("прошивка.hex"), HexFile(12, kConfiguration));
  Choose(path);

  EXPECT_EQ(chooserCalls_, 1);
  EXPECT_TRUE(errors_.empty());
  EXPECT_EQ(window_.Path(), ToCp(QDir::toNativeSeparators(path)));
  EXPECT_EQ(FromCp(window_.Path()), window_.Ui().etPath->text());
  ASSERT_EQ(window_.Grid().Rows.size(), 13u);
  EXPECT_EQ(window_.Grid().Rows[12][0], "000B0");
  EXPECT_EQ(window_.Grid().Rows[12][16], "0B");
  // The view shows the grid.
  EXPECT_EQ(Model().rowCount(), 12);
  EXPECT_EQ(Address(1), QStringLiteral("00000"));
  EXPECT_EQ(Address(12), QStringLiteral("000B0"));
  EXPECT_EQ(Cell(11, 16), QStringLiteral("0A"));
  // The configuration bytes are not in the grid, and the window says so.
  EXPECT_EQ(window_.BytesLeftOut(), 6u);
  EXPECT_TRUE(window_.Ui().lbLeftOut->text().contains(QStringLiteral(": 6")))
      << window_.Ui().lbLeftOut->text().toStdString();
}

// The viewer loads what it can and tells what it left out; the reflash
// then writes the grid.
TEST_F(HexViewerTest, TellsDataAboveTheGridAndAfterTheEndRecord) {
  const QByteArray after = QByteArray::fromStdString(sim::HexRecord(0x200, 0, "0102030405")) + "\r\n";
  Choose(Write(QStringLiteral("both.hex"), HexFile(12, kConfiguration) + after));
  EXPECT_TRUE(errors_.empty());
  ASSERT_EQ(window_.Grid().Rows.size(), 13u);
  EXPECT_EQ(window_.BytesLeftOut(), 6u);
  EXPECT_EQ(window_.Ui().lbLeftOut->text(),
            QStringLiteral("Данные выше 64 КБ не загружены, пропущено байт: 6\n"
                           "Данные после записи конца файла не загружены, пропущено байт: 5"));
}

TEST_F(HexViewerTest, ASecondShorterFileLeavesNothingOfTheFirst) {
  Choose(Write(QStringLiteral("long.hex"), HexFile(20, kConfiguration)));
  ASSERT_EQ(Model().rowCount(), 20);
  const QString shortPath = Write(QStringLiteral("short.hex"), HexFile(2));
  Choose(shortPath);

  EXPECT_TRUE(errors_.empty());
  EXPECT_EQ(window_.Ui().etPath->text(), QDir::toNativeSeparators(shortPath));
  ASSERT_EQ(window_.Grid().Rows.size(), 9u);
  EXPECT_EQ(Model().rowCount(), 8);
  EXPECT_EQ(Address(2), QStringLiteral("00010"));
  EXPECT_EQ(Cell(2, 1), QStringLiteral("01"));
  for (std::size_t row = 3; row < 9; ++row) EXPECT_EQ(window_.Grid().Rows[row], HexGridRow{}) << row;
  EXPECT_EQ(Address(3), QString());
  EXPECT_EQ(window_.BytesLeftOut(), 0u);
  EXPECT_TRUE(window_.Ui().lbLeftOut->text().isEmpty());
}

TEST_F(HexViewerTest, CancellingTheChoiceChangesNothing) {
  const QString path = Write(QStringLiteral("a.hex"), HexFile(3));
  Choose(path);
  const HexGrid before = window_.Grid();
  Choose(QString());

  EXPECT_EQ(chooserCalls_, 2);
  EXPECT_TRUE(errors_.empty());
  EXPECT_EQ(window_.Ui().etPath->text(), QDir::toNativeSeparators(path));
  EXPECT_EQ(window_.Grid().Rows, before.Rows);
}

// A file that does not load is reported once, naming the file and what is
// wrong, and leaves no file chosen: nothing of it, and nothing of the file
// before it, can reach the device.
TEST_F(HexViewerTest, AFileThatDoesNotLoadLeavesNoFileChosen) {
  QByteArray badChecksum = HexFile(5);
  badChecksum[badChecksum.indexOf("\r\n:10001000") + 44] ^= 1;  // the second record's checksum
  const struct {
    const char* name;
    QByteArray bytes;  // empty: the file is not written
    const char* reason;
  } cases[] = {
      {"checksum.hex", badChecksum, "Ошибка в строке 2 файла: неверная контрольная сумма"},
      {"cut.hex", HexFile(4).left(HexFile(4).indexOf(":00000001FF")), "нет записи конца файла"},
      {"empty.hex", QByteArray(" "), "в файле нет данных"},
      {"missing.hex", {}, "Файл не найден."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Choose(Write(QStringLiteral("good.hex"), HexFile(10)));
    ASSERT_EQ(Model().rowCount(), 10);
    errors_.clear();

    const QString path = c.bytes.isEmpty() ? dir_.filePath(QString::fromLatin1(c.name))
                                           : Write(QString::fromLatin1(c.name), c.bytes);
    Choose(path);

    ASSERT_EQ(errors_.size(), 1u);
    EXPECT_TRUE(errors_[0].contains(QString::fromLatin1(c.name))) << errors_[0].toStdString();
    EXPECT_TRUE(errors_[0].contains(QString::fromUtf8(c.reason))) << errors_[0].toStdString();
    ExpectNoFileChosen();
  }
}

// The system's reason for refusing a file is given in Russian, whatever the
// language the system speaks. The refusals are POSIX ones (a file of /proc,
// a file without read permission).
#ifndef _WIN32
TEST_F(HexViewerTest, AFileTheSystemRefusesIsReportedWithARussianReason) {
  std::vector<std::pair<QString, const char*>> cases = {
      // Readable by name, but reading it fails.
      {QStringLiteral("/proc/self/mem"), "Не удалось прочитать файл: ошибка ввода-вывода"},
  };
  // The system lets root read anything.
  const QString locked = Write(QStringLiteral("locked.hex"), HexFile(2));
  QFile::setPermissions(locked, QFileDevice::WriteOwner);
  if (::geteuid() != 0) cases.emplace_back(locked, "Не удалось прочитать файл: нет доступа");
  for (const auto& [path, reason] : cases) {
    SCOPED_TRACE(path.toStdString());
    errors_.clear();
    Choose(path);
    ASSERT_EQ(errors_.size(), 1u);
    EXPECT_TRUE(errors_[0].endsWith(QString::fromUtf8(reason))) << errors_[0].toStdString();
    ExpectNoFileChosen();
  }
}
#endif

// A file of tens of megabytes takes seconds to read: the window keeps
// painting meanwhile and shows the busy cursor, which goes once the file is
// there.
TEST_F(HexViewerTest, ALargeFileLoadsUnderTheBusyCursorWhileTheWindowKeepsRunning) {
  // 64 KiB of data and then megabytes of it above, which the grid leaves out.
  std::string text;
  const std::string data(32, 'A');
  for (unsigned segment = 0; segment < 40; ++segment) {
    char upper[5];
    std::snprintf(upper, sizeof upper, "%04X", segment);
    text += sim::HexRecord(0, 4, upper) + "\r\n";
    for (unsigned address = 0; address < 0x10000; address += 16)
      text += sim::HexRecord(address, 0, data) + "\r\n";
  }
  text += ":00000001FF\r\n";
  const QString path = Write(QStringLiteral("large.hex"), QByteArray::fromStdString(text));
  window_.show();
  int ticks = 0;
  bool busy = false;
  QTimer watch;
  watch.setInterval(5);
  QObject::connect(&watch, &QTimer::timeout, [&] {
    ++ticks;
    busy = busy || (QApplication::overrideCursor() != nullptr &&
                    QApplication::overrideCursor()->shape() == Qt::WaitCursor);
  });
  watch.start();
  Choose(path);
  watch.stop();
  EXPECT_TRUE(errors_.empty());
  EXPECT_EQ(window_.Grid().Rows.size(), 4097u);
  EXPECT_GT(window_.BytesLeftOut(), 0u);
  EXPECT_GT(ticks, 0) << "the window ran its timers during the load";
  EXPECT_TRUE(busy);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the cursor is back";
}

TEST_F(HexViewerTest, AFolderIsNoFile) {
  Choose(Write(QStringLiteral("good.hex"), HexFile(2)));
  Choose(dir_.path());
  ASSERT_EQ(errors_.size(), 1u);
  ExpectNoFileChosen();
}

TEST_F(HexViewerTest, OkAndCancelCloseWithTheirResults) {
  for (const bool ok : {true, false}) {
    window_.open();
    ASSERT_TRUE(window_.isVisible());
    QTest::mouseClick(ok ? window_.Ui().btnOK : window_.Ui().btnCancel, Qt::LeftButton);
    EXPECT_FALSE(window_.isVisible());
    EXPECT_EQ(window_.result(), ok ? QDialog::Accepted : QDialog::Rejected);
  }
}

// The browse button's own dialog: HEX files, from the home folder, an
// existing file only; cancelling it changes nothing.
TEST(HexFileDialog, OffersHexFilesFromTheHomeFolder) {
  TformUpdateInsertion window;
  std::vector<QString> errors;
  window.SetErrorHook([&errors](const QString& text) { errors.push_back(text); });
  bool seen = false;
  QTimer::singleShot(0, [&seen] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    seen = true;
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Открыть"));
    EXPECT_EQ(dialog->nameFilters(), QStringList{QStringLiteral("HEX FILES (*.hex)")});
    EXPECT_EQ(QDir(dialog->directory()).canonicalPath(), QDir(QDir::homePath()).canonicalPath());
    EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFile);
    dialog->reject();
  });
  window.LoadHexFile();
  EXPECT_TRUE(seen);
  EXPECT_TRUE(errors.empty());
  EXPECT_EQ(window.Path(), "");
  EXPECT_EQ(window.Grid().Rows, EmptyHexGrid().Rows);
}

}  // namespace
}  // namespace tarvik

namespace tarvik {
namespace {

// The viewer's buttons and Qt's own file dialog speak Russian once the
// translation the program carries is installed, as the program does at
// start.
TEST(HexFileDialog, SpeaksRussian) {
  ASSERT_TRUE(InstallQtRussian(*QCoreApplication::instance()));
  TformUpdateInsertion window;
  EXPECT_EQ(window.Ui().btnOK->text(), QStringLiteral("ОК"));
  EXPECT_EQ(window.Ui().btnCancel->text(), QStringLiteral("Отмена"));
  QStringList texts;
  QTimer::singleShot(0, [&texts] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    for (const QLabel* label : dialog->findChildren<QLabel*>()) texts << label->text();
    for (const QPushButton* button : dialog->findChildren<QPushButton*>()) texts << button->text();
    dialog->reject();
  });
  ChooseHexFile(&window);
  const QString all = texts.join(QStringLiteral(" | "));
  for (const char* english : {"Look in:", "File name:", "Files of type:", "&Open", "Cancel"}) {
    EXPECT_FALSE(texts.contains(QString::fromLatin1(english))) << english << " in " << all.toStdString();
  }
  EXPECT_TRUE(texts.contains(QStringLiteral("Отмена"))) << all.toStdString();
}

}  // namespace
}  // namespace tarvik
