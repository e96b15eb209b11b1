#include "common/ui/comboboxpatch.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMouseEvent>
#include <memory>
#include <stdexcept>

#include "connect/ui/connectdlg.h"

namespace tarvik {
namespace {

TEST(ComboBoxPatch, OnlyOneInstanceAtATime) {
  auto first = std::make_unique<TComboBoxPatch>();
  try {
    TComboBoxPatch second;
    FAIL() << "a second instance was created";
  } catch (const std::logic_error& e) {
    EXPECT_STREQ(e.what(), "Only one TComboBoxPatch can exist per application.");
  }
  first.reset();
  EXPECT_NO_THROW(TComboBoxPatch{});
}

// The port box of the connection dialog with its list open.
class ComboBoxPatchHover : public testing::Test {
 protected:
  void SetUp() override {
    dlg_ = std::make_unique<TdlgConnect>([] {
      return std::vector<std::string>{"COM1", "COM2 " + std::string(400, 'x')};
    });
    dlg_->show();
    dlg_->Ui().ComPorts->showPopup();
    view_ = dlg_->Ui().ComPorts->view();
    ASSERT_TRUE(view_->isVisible());
  }

  void MoveOver(int row) {
    const QPoint at = view_->visualRect(view_->model()->index(row, 0)).center();
    QMouseEvent move(QEvent::MouseMove, at, view_->viewport()->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(view_->viewport(), &move);
  }

  QPoint ExpectedHintPos(int row) const {
    const QRect item = view_->visualRect(view_->model()->index(row, 0));
    return view_->viewport()->mapToGlobal(item.topLeft()) + QPoint(10, 13);
  }

  TComboBoxPatch patch_;
  std::unique_ptr<TdlgConnect> dlg_;
  QAbstractItemView* view_ = nullptr;
};

TEST_F(ComboBoxPatchHover, ShowsItemBesideItAndHidesOnLeave) {
  const QLabel* hint = patch_.HintWindow();
  MoveOver(0);
  ASSERT_TRUE(hint->isVisible());
  EXPECT_EQ(hint->text(), QStringLiteral("COM1"));
  EXPECT_EQ(hint->pos(), ExpectedHintPos(0));
  EXPECT_TRUE(hint->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_TRUE(hint->windowFlags() & Qt::WindowDoesNotAcceptFocus);

  MoveOver(1);
  EXPECT_EQ(hint->text(), dlg_->Ui().ComPorts->itemText(1));
  EXPECT_EQ(hint->pos(), ExpectedHintPos(1));

  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(view_->viewport(), &leave);
  EXPECT_FALSE(hint->isVisible());
}

TEST_F(ComboBoxPatchHover, OnlyWideItemsWhenNotAlways) {
  patch_.AlwaysShowHint = false;
  const QLabel* hint = patch_.HintWindow();
  MoveOver(0);
  EXPECT_FALSE(hint->isVisible());
  MoveOver(1);
  EXPECT_TRUE(hint->isVisible());
  MoveOver(0);
  EXPECT_FALSE(hint->isVisible());
}

TEST_F(ComboBoxPatchHover, ClosingTheListHidesTheHint) {
  MoveOver(0);
  ASSERT_TRUE(patch_.HintWindow()->isVisible());
  dlg_->Ui().ComPorts->hidePopup();
  EXPECT_FALSE(patch_.HintWindow()->isVisible());
}

}  // namespace
}  // namespace tarvik
