#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <string>
#include <vector>

#include "common/text.h"
#include "firmware/catalogue.h"
#include "firmware/selection.h"
#include "firmware/ui/selectdevicetypeform.h"
#include "firmware/ui/selectfirmvareform.h"

namespace tarvik {
namespace {

// A device of type 2: one numeric image, then the two family images, each
// line carrying its own image index.
const std::vector<ImageChoice> kTypeTwoImages{
    {"VER 14.002.028", 1}, {"VER QTT1.001.001", 21}, {"VER QTT1.001.002", 22}};

class SelectFirmvareFormTest : public testing::Test {
 protected:
  void SetUp() override {
    form_.SetVersion("VER 14.002.020", kTypeTwoImages);
    form_.SetNotRelease(false);
    form_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form_));
  }

  void DoubleClickRow(int row) {
    QListWidget* list = form_.Ui().imageList;
    const QRect rect = list->visualItemRect(list->item(row));
    // The first click of a double-click arrives as a click of its own.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, rect.center());
  }

  TSelectFirmvareForm form_;
};

TEST_F(SelectFirmvareFormTest, FilledFromVersion) {
  EXPECT_EQ(form_.windowTitle(), QStringLiteral("Укажите предпочитаемую прошивку"));
  EXPECT_EQ(form_.Ui().currentVersionLabel->text(),
            QStringLiteral("Текущая версия прошивки: VER 14.002.020"));
  EXPECT_EQ(form_.Version(), "VER 14.002.020");
  EXPECT_EQ(form_.frameGeometry().center(), form_.screen()->availableGeometry().center());
  // The system draws the caption in its own font, bold on many desktops,
  // beside the window's icon and buttons, and cuts what does not fit.
  QFont titleFont = QApplication::font("QMdiSubWindowTitleBar");
  titleFont.setBold(true);
  EXPECT_GE(form_.width(), QFontMetrics(titleFont).horizontalAdvance(form_.windowTitle()) + 120);
  EXPECT_GE(form_.width(), 306);
  EXPECT_EQ(form_.height(), 337);
  ASSERT_EQ(form_.Ui().imageList->count(), 3);
  EXPECT_EQ(form_.Ui().imageList->item(0)->text(), QStringLiteral("VER 14.002.028"));
  EXPECT_EQ(form_.Ui().imageList->item(2)->text(), QStringLiteral("VER QTT1.001.002"));
  EXPECT_EQ(form_.ChosenImage, -1);
  // A second filling replaces the lines.
  form_.SetVersion("VER 14.001.040", {{"VER 14.001.042", 0}});
  EXPECT_EQ(form_.Ui().imageList->count(), 1);
}

TEST_F(SelectFirmvareFormTest, EnterWithoutSelectionConfirmsWithMinusOne) {
  QTest::keyClick(form_.Ui().imageList, Qt::Key_Return);
  EXPECT_FALSE(form_.isVisible());
  EXPECT_EQ(form_.result(), QDialog::Accepted);
  EXPECT_EQ(form_.ChosenImage, -1);
}

TEST_F(SelectFirmvareFormTest, ConfirmTakesIndexCarriedByEachLine) {
  for (int row = 0; row < 3; ++row) {
    form_.Ui().imageList->setCurrentRow(row);
    form_.show();
    QTest::mouseClick(form_.Ui().flashButton, Qt::LeftButton);
    EXPECT_EQ(form_.result(), QDialog::Accepted);
    EXPECT_EQ(form_.ChosenImage, kTypeTwoImages[static_cast<std::size_t>(row)].ImageIndex) << "row " << row;
  }
}

TEST_F(SelectFirmvareFormTest, DoubleClickRecordsButLeavesOpenAndCancelCancels) {
  DoubleClickRow(2);
  EXPECT_TRUE(form_.isVisible());
  EXPECT_EQ(form_.ChosenImage, 22);
  QTest::mouseClick(form_.Ui().cancelButton, Qt::LeftButton);
  EXPECT_FALSE(form_.isVisible());
  EXPECT_EQ(form_.result(), QDialog::Rejected);
}

TEST_F(SelectFirmvareFormTest, EscapeCancels) {
  form_.Ui().imageList->setCurrentRow(1);
  QTest::keyClick(form_.Ui().imageList, Qt::Key_Escape);
  EXPECT_FALSE(form_.isVisible());
  EXPECT_EQ(form_.result(), QDialog::Rejected);
}

TEST_F(SelectFirmvareFormTest, WarningShownExactlyWhenNotRelease) {
  const QString warning = QStringLiteral(
      "Внимание:\nПодключенное устройство опознано системой, однако его прошивка СКОРЕЕ ВСЕГО не является "
      "релизной.");
  EXPECT_EQ(form_.Ui().notReleaseLabel->text(), warning);
  for (const bool flag : {false, true, false, true}) {
    form_.SetNotRelease(flag);
    EXPECT_EQ(form_.Ui().notReleaseLabel->isVisible(), flag);
    EXPECT_EQ(form_.NotRelease(), flag);
  }
}

TEST(SelectFirmvareForm, WarningHiddenBeforeTheFlagIsGiven) {
  TSelectFirmvareForm form;
  form.show();
  EXPECT_FALSE(form.Ui().notReleaseLabel->isVisible());
  EXPECT_EQ(form.Ui().currentVersionLabel->text(), QStringLiteral("Текущая версия прошивки:"));
}

// Runs the device-type dialog modally; the action answers it from inside the
// modal loop.
template <typename Action>
int RunDeviceTypeDialog(TSelectDeviceTypeForm& form, const std::vector<std::string>& names, Action action) {
  QTimer::singleShot(0, &form, [&] { action(form); });
  return form.ShowModalWithNames(names);
}

TEST(SelectDeviceTypeForm, ModalResultAndSelection) {
  const std::vector<std::string> names{Utf8ToCp1251("QTN Радиоканальный приемник"),
                                       Utf8ToCp1251("QFQ Радиобрелок"),
                                       Utf8ToCp1251("QNF Радиоканальная клавиатура")};
  struct Case {
    const char* name;
    int row;  // selected before answering; -1: none
    bool confirm;
    int expectedResult;
    int expectedIndex;
  };
  const Case cases[] = {
      {"EnterWithoutSelection", -1, true, QDialog::Accepted, -1},
      {"ConfirmSecond", 1, true, QDialog::Accepted, 1},
      {"CancelAfterSelecting", 2, false, QDialog::Rejected, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TSelectDeviceTypeForm form;
    const int result = RunDeviceTypeDialog(form, names, [&](TSelectDeviceTypeForm& shown) {
      if (c.row >= 0) shown.Ui().DeviceListBox->setCurrentRow(c.row);
      if (c.confirm) {
        QTest::keyClick(shown.Ui().DeviceListBox, Qt::Key_Return);
      } else {
        QTest::mouseClick(shown.Ui().CancelButton, Qt::LeftButton);
      }
    });
    EXPECT_EQ(result, c.expectedResult);
    EXPECT_EQ(form.SelectedIndex(), c.expectedIndex);
    ASSERT_EQ(form.Ui().DeviceListBox->count(), 3);
    EXPECT_EQ(form.Ui().DeviceListBox->item(1)->text(), QStringLiteral("QFQ Радиобрелок"));
  }
}

TEST(SelectDeviceTypeForm, Texts) {
  TSelectDeviceTypeForm form;
  EXPECT_EQ(form.windowTitle(), QStringLiteral("Тип"));
  EXPECT_EQ(
      form.Ui().promptLabel->text(),
      QStringLiteral("Подключенное устройство находится в процедуре перепрошивки. Укажите тип устройства:"));
  EXPECT_TRUE(form.Ui().promptLabel->wordWrap());
  EXPECT_EQ(form.Ui().OkButton->text(), QStringLiteral("Выбрать"));
  EXPECT_TRUE(form.Ui().OkButton->isDefault());
  EXPECT_EQ(form.Ui().CancelButton->text(), QStringLiteral("Отмена"));
  form.show();
  EXPECT_EQ(form.size(), QSize(233, 247));
  EXPECT_EQ(form.frameGeometry().center(), form.screen()->availableGeometry().center());
}

TEST(SelectDeviceTypeForm, EveryShippedNameIsReadWhole) {
  FirmwareCatalogue catalogue;
  catalogue.LoadCatalogue();
  TSelectDeviceTypeForm form;
  form.SetNames(DeviceTypeNames(catalogue));
  form.show();
  QListWidget* list = form.Ui().DeviceListBox;
  for (int row = 0; row < list->count(); ++row) {
    const QString text = list->item(row)->text();
    EXPECT_LE(list->fontMetrics().horizontalAdvance(text), list->viewport()->width()) << text.toStdString();
  }
  EXPECT_GE(form.width(), 233) << "never narrower than designed";
}

}  // namespace
}  // namespace tarvik
