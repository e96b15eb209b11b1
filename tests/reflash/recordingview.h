#pragma once
// A reflash window stand-in: it keeps the window's FlashState as the real one
// does and records every step the worker hands it, and whether each ran on
// the UI thread.
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "common/text.h"
#include "reflash/flashstate.h"
#include "reflash/reflashview.h"

namespace tarvik::test {

class RecordingView final : public ReflashView {
 public:
  struct Progress {
    std::int32_t total;
    std::int32_t parts;
    bool operator==(const Progress&) const = default;
  };

  void MarkRunning() override {
    Note("running");
    state = TFlashState::Running;
  }
  void ShowFailure(const ReflashReport& shown) override {
    Note("failure");
    report = shown;
    if (state == TFlashState::Running) failureShown = true;
  }
  void ShowStage(ReflashStage stage) override {
    const std::string text = StageText(stage);
    Note("stage " + Cp1251ToUtf8(text));
    stages.push_back(text);
  }
  void ShowProgress(std::int32_t total, std::int32_t parts) override {
    Note("progress");
    progress.push_back({total, parts});
  }
  void ShowElapsed(const std::string& text) override {
    Note("elapsed");
    elapsed.push_back(text);
  }
  void ShowRemaining(const std::string& text) override {
    Note("remaining");
    remaining.push_back(text);
  }
  void DisableExit() override { Note("disable exit"); }
  void ShowSuccess(const ReflashReport& shown) override {
    Note("success");
    report = shown;
    state = TFlashState::Done;
    successShown = true;
  }

  // The steps other than the progress and time updates, in order.
  std::vector<std::string> Milestones() const {
    std::vector<std::string> out;
    for (const std::string& event : events) {
      if (event != "progress" && event != "elapsed" && event != "remaining") out.push_back(event);
    }
    return out;
  }

  TFlashState state = TFlashState::Starting;
  bool failureShown = false;
  bool successShown = false;
  // What the last success or failure step was told.
  ReflashReport report;
  std::vector<std::string> events;
  std::vector<std::string> stages;
  std::vector<Progress> progress;
  std::vector<std::string> elapsed;
  std::vector<std::string> remaining;
  int offUiThread = 0;

 private:
  void Note(const std::string& event) {
    if (std::this_thread::get_id() != uiThread_) ++offUiThread;
    events.push_back(event);
  }

  std::thread::id uiThread_ = std::this_thread::get_id();
};

}  // namespace tarvik::test
