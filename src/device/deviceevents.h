#pragma once
// What a connection tells its front end: the port opened, what the device
// is, that it did not answer or that its line went, that it is busy, and the
// lines of its traffic log. Each front end maps them to its own widgets or
// words; the core names none of them.
//
// Events come from worker threads (the port's watcher, the main worker
// thread, a task's thread) as well as from the thread that owns the
// connection, and the calling thread waits for each: an implementation hands
// what it shows to its own thread and returns quickly, and never waits for
// the connection from inside one.
#include <chrono>
#include <string>

#include "common/clock.h"
#include "common/logwriter.h"
#include "device/deviceidentity.h"

namespace tarvik {

class DeviceEvents {
 public:
  using TimePoint = std::chrono::system_clock::time_point;

  virtual ~DeviceEvents() = default;
  // The port opened.
  virtual void Connected(const std::string& /*port*/) {}
  // Identification starts: whatever was offered for the last device is void.
  virtual void Identifying() {}
  // The device answered its version query: the reply as one line shows it
  // (a bootloader's banner without the "OK" under it). More questions may
  // follow before it is identified.
  virtual void Answered(const std::string& /*answer*/) {}
  // What the device is, once worked out.
  virtual void Identified(const DeviceIdentity& /*identity*/) {}
  // What the last answer said of the device does not hold (it answered
  // nothing, or nothing the tool can read).
  virtual void IdentityCleared() {}
  // Identification failed: the device said nothing the tool can read, and
  // the connection is to end.
  virtual void NoAnswer() {}
  // An idle identified line went (the cable pulled, the adapter gone); the
  // connection is to end. Told once per connection, never while a worker or
  // a task has the device: those meet the failure in their own exchange.
  virtual void LineLost(const std::string& /*reason*/) {}
  // A worker has the device and nothing else may start (true), or has given
  // it back (false).
  virtual void Busy(bool /*busy*/) {}
  // A procedure on the device ended and asks for the connection to end.
  virtual void DisconnectRequested() {}
  // A line of the traffic log, with the time it was written.
  virtual void LogLine(TimePoint /*when*/, const std::string& /*text*/) {}
  // A line a procedure writes of its own outcome after the traffic lines;
  // the log shows it without its time.
  virtual void OutcomeLine(TimePoint /*when*/, const std::string& /*text*/) {}
};

// A connection that tells nothing: a bench, a test that only drives the
// device.
inline DeviceEvents& SilentDeviceEvents() {
  static DeviceEvents none;
  return none;
}

// The traffic log of a connection, told as LogLine events.
class EventLogWriter final : public TLogWriter {
 public:
  EventLogWriter(DeviceEvents& events, Clock& clock) : events_(events), clock_(clock) {}
  void WriteLine(const std::string& text) override { events_.LogLine(clock_.WallNow(), text); }

 private:
  DeviceEvents& events_;
  Clock& clock_;
};

// Only the traffic lines of another's events: a probe of the port search
// writes to the main log, and nothing else of the main window may react to
// it (its disconnect button above all).
class LogOnlyEvents final : public DeviceEvents {
 public:
  explicit LogOnlyEvents(DeviceEvents& target) : target_(target) {}
  void LogLine(TimePoint when, const std::string& text) override { target_.LogLine(when, text); }
  void OutcomeLine(TimePoint when, const std::string& text) override { target_.OutcomeLine(when, text); }

 private:
  DeviceEvents& target_;
};

}  // namespace tarvik
