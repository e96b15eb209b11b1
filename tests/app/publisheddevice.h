#pragma once
// The main window and its reflash window, offscreen, with a simulated
// device published under /dev as the only port the connection dialog lists,
// under a name of this process's own.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/formmain.h"
#include "common/clock.h"
#include "reflash/ui/reflashwindow.h"
#include "simulator/devicesimulator.h"

namespace tarvik::test {

class PublishedDeviceTest : public ::testing::Test {
 protected:
  // linkPrefix: the start of the /dev name, different for each test program
  // so that two of them can run at once.
  explicit PublishedDeviceTest(std::string linkPrefix)
      : linkName_(std::move(linkPrefix) + std::to_string(::getpid())) {}

  // The windows, not yet shown, waiting on the clock the device will share;
  // false when no port can be published here.
  bool MakeWindows(Clock& clock = SystemClock()) {
    if (::access("/dev", W_OK) != 0) return false;
    clock_ = &clock;
    main_ = std::make_unique<TformMain>(dir_.path(), false, nullptr, clock);
    reflash_ = std::make_unique<TformUpdateIns>(main_->ReflashHooks(), main_.get());
    main_->SetReflashForm(reflash_.get());
    main_->SetPortList([this] { return std::vector<std::string>{linkName_}; });
    // A stop asked for in a test is meant: the question is answered "stop"
    // and kept.
    main_->SetStopQuestion([this](const QString& question) {
      stopQuestions_.push_back(question);
      return true;
    });
    return true;
  }
  void TearDown() override {
    if (main_) main_->close();
    main_.reset();
    reflash_.reset();
    if (sim_) sim_->Stop();
  }

  // Publishes the device; it answers at once, on the windows' clock.
  void StartDevice(sim::SimOptions options) {
    options.unpaced = true;
    options.clock = clock_;
    options.linkPath = "/dev/" + linkName_;
    // After a reflash it starts what it was written, as a device does.
    if (options.knownImages == nullptr && options.versionAfter.empty() && reflash_) {
      options.knownImages = &reflash_->Catalogue().ImageLines();
    }
    sim_ = std::make_unique<sim::DeviceSimulator>(options);
    ASSERT_TRUE(sim_->Start()) << sim_->Error();
  }
  void WriteRules(const std::string& text) const {
    std::ofstream(QFile::encodeName(dir_.filePath(QStringLiteral("update.ini"))).toStdString(),
                  std::ios::binary)
        << text;
  }

  QTemporaryDir dir_;
  std::string linkName_;
  std::unique_ptr<TformMain> main_;
  std::vector<QString> stopQuestions_;
  std::unique_ptr<TformUpdateIns> reflash_;
  std::unique_ptr<sim::DeviceSimulator> sim_;

 private:
  Clock* clock_ = nullptr;
};

}  // namespace tarvik::test
