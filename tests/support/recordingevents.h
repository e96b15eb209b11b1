#pragma once
// A front end that writes down what a connection tells it, from any thread,
// in the order told: each event as a short word, the log lines apart.
#include <algorithm>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "device/deviceevents.h"

namespace tarvik::test {

class RecordingEvents : public DeviceEvents {
 public:
  void Connected(const std::string& port) override { Note("connected " + port); }
  void Identifying() override { Note("identifying"); }
  void Answered(const std::string& answer) override { Note("answered " + answer); }
  void Identified(const DeviceIdentity& identity) override { Note("identified " + identity.VersionLine); }
  void IdentityCleared() override { Note("cleared"); }
  void NoAnswer() override { Note("no answer"); }
  void LineLost(const std::string&) override { Note("line lost"); }
  void Busy(bool busy) override { Note(busy ? "busy" : "idle"); }
  void DisconnectRequested() override { Note("disconnect"); }
  void LogLine(TimePoint, const std::string& text) override {
    std::lock_guard lock(mutex_);
    log_.push_back(text);
    everything_.push_back(text);
  }
  void OutcomeLine(TimePoint, const std::string& text) override {
    std::lock_guard lock(mutex_);
    log_.push_back(text);
    everything_.push_back(text);
    outcomeLines_.push_back(text);
  }

  // Every event but the log lines, in order.
  std::vector<std::string> Events() const {
    std::lock_guard lock(mutex_);
    return events_;
  }
  // The events so far, forgotten.
  std::vector<std::string> TakeEvents() {
    std::lock_guard lock(mutex_);
    return std::exchange(events_, {});
  }
  int Count(const std::string& event) const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(std::count(events_.begin(), events_.end(), event));
  }
  // Every log line, the outcome lines included, in order.
  std::vector<std::string> Log() const {
    std::lock_guard lock(mutex_);
    return log_;
  }
  // The events and the log lines in the one order they were told.
  std::vector<std::string> Everything() const {
    std::lock_guard lock(mutex_);
    return everything_;
  }
  std::vector<std::string> OutcomeLines() const {
    std::lock_guard lock(mutex_);
    return outcomeLines_;
  }
  // The answers told for the version line, in order.
  std::vector<std::string> Answers() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> answers;
    for (const std::string& e : events_) {
      if (e.starts_with("answered ")) answers.push_back(e.substr(9));
      if (e == "cleared") answers.push_back("");
    }
    return answers;
  }

 private:
  void Note(const std::string& event) {
    std::lock_guard lock(mutex_);
    events_.push_back(event);
    everything_.push_back(event);
  }

  mutable std::mutex mutex_;
  std::vector<std::string> events_;
  std::vector<std::string> log_;
  std::vector<std::string> outcomeLines_;
  std::vector<std::string> everything_;
};

}  // namespace tarvik::test
