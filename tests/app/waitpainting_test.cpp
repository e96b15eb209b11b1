// The wait that keeps the windows painting while a worker finishes: what the
// user does meanwhile is dropped, not replayed afterwards, and a dialog that
// opens during the wait still takes input.
#include "common/ui/waitpainting.h"

#include <gtest/gtest.h>

#include <QDialog>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <thread>

#include "common/uisync.h"
#include "support/qtpump.h"
#include "support/systeminput.h"

namespace tarvik {
namespace {

using test::PumpUntil;

class WaitPaintingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window_.resize(200, 100);
    button_ = new QPushButton(QStringLiteral("Go"), &window_);
    button_->setGeometry(10, 10, 100, 30);
    QObject::connect(button_, &QPushButton::clicked, [this] { ++clicks_; });
    window_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
  }

  // Waits about ms while a worker sleeps, running during() inside the wait.
  void WaitWhile(int ms, const std::function<void()>& during) {
    std::atomic<bool> done{false};
    std::thread worker([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
      done.store(true);
    });
    QTimer::singleShot(ms / 4, &window_, during);
    WaitPainting(sync_, [&] { return done.load(); });
    worker.join();
  }

  UiStepQueue sync_;
  QWidget window_;
  QPushButton* button_ = nullptr;
  int clicks_ = 0;
};

TEST_F(WaitPaintingTest, AClickGivenDuringTheWaitIsDroppedAndOneAfterItIsTaken) {
  WaitWhile(200, [&] { test::PostSystemClick(button_); });
  QTest::qWait(100);
  EXPECT_EQ(clicks_, 0) << "the click during the wait was replayed";
  test::PostSystemClick(button_);
  EXPECT_TRUE(PumpUntil([&] { return clicks_ == 1; }, 2000)) << "a click after the wait is taken";
}

TEST_F(WaitPaintingTest, ADialogThatOpensDuringTheWaitTakesInput) {
  bool accepted = false;
  WaitWhile(200, [&] {
    QDialog dialog(&window_);
    auto* ok = new QPushButton(QStringLiteral("OK"), &dialog);
    ok->setGeometry(10, 10, 60, 30);
    QObject::connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
    QTimer::singleShot(50, &dialog, [&] { test::PostSystemClick(ok); });
    // Should the click never arrive, the dialog still ends.
    QTimer::singleShot(3000, &dialog, &QDialog::reject);
    accepted = dialog.exec() == QDialog::Accepted;
  });
  EXPECT_TRUE(accepted);
}

}  // namespace
}  // namespace tarvik
