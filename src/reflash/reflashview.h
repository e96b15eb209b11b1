#pragma once
// What the reflash worker changes in the reflash window. Each step runs
// synchronously on the UI thread; the worker waits for it. The worker keeps
// the progress count and the times itself and hands the window finished
// values, so the window only shows them. Texts are Windows-1251.
#include <cstdint>
#include <string>

#include "reflash/reflashreport.h"

namespace tarvik {

// Where a reflash is, for the status line.
enum class ReflashStage {
  Switching,   // the device is asked into its bootloader
  Erasing,     // its memory is erased
  Loading,     // the image's groups are written
  Reflashing,  // a staged device takes the image it was sent
  Checking,    // the device is asked for its version afterwards
};

// The stage as the status line says it (Windows-1251).
std::string StageText(ReflashStage stage);

class ReflashView {
 public:
  virtual ~ReflashView() = default;
  // FlashState := Running.
  virtual void MarkRunning() = 0;
  // Only while FlashState is Running: what went wrong, what the device is
  // left with and what to do, in red; the start button disabled, the exit
  // button enabled.
  virtual void ShowFailure(const ReflashReport& report) = 0;
  // The status line in black with the stage's text.
  virtual void ShowStage(ReflashStage stage) = 0;
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
