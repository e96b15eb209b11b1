#pragma once
// What the reflash worker changes in the reflash window. Each step runs
// synchronously on the UI thread; the worker waits for it. The worker keeps
// the progress count and the times itself and hands the window finished
// values, so the window only shows them. Texts are Windows-1251.
#include <cstdint>
#include <string>

#include "reflash/reflashreport.h"

namespace tarvik {

class ReflashView {
 public:
  virtual ~ReflashView() = default;
  // FlashState := Running.
  virtual void MarkRunning() = 0;
  // Only while FlashState is Running: what went wrong, what the device is
  // left with and what to do, in red; the start button disabled, the exit
  // button enabled.
  virtual void ShowFailure(const ReflashReport& report) = 0;
  // The status line in black with the stage text.
  virtual void ShowStage(const std::string& text) = 0;
  // The progress bar: total parts and parts complete.
  virtual void ShowProgress(std::int32_t total, std::int32_t partsComplete) = 0;
  // The elapsed-time label.
  virtual void ShowElapsed(const std::string& text) = 0;
  // The remaining-time label.
  virtual void ShowRemaining(const std::string& text) = 0;
  virtual void DisableExit() = 0;
  // FlashState := Done; the exit button reads "Завершить перепрошивку". The
  // version the device named afterwards becomes the current one: the
  // success text in green when it is the image's, a warning that says what
  // it named, or that it named nothing, when not.
  virtual void ShowSuccess(const ReflashReport& report) = 0;
};

}  // namespace tarvik
