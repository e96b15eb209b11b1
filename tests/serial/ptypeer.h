#pragma once
// A device on the far end of a real pseudo-terminal: the port under test
// opens the slave by name, the peer reads and answers on the master.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

namespace tarvik::test {

class PtyPeer {
 public:
  // What the device does with the bytes received since its last answer.
  struct Action {
    std::string Reply;
    bool HangUp = false;
  };
  using Responder = std::function<std::optional<Action>(const std::string& pending)>;

  PtyPeer() {
    int master = -1;
    char name[128] = {};
    if (::openpty(&master, &slave_, name, nullptr, nullptr) != 0) throw std::runtime_error("openpty failed");
    master_.store(master);
    path_ = name;
    deviceName_ = path_.substr(std::string("/dev/").size());
  }

  ~PtyPeer() {
    Stop();
    const int master = master_.exchange(-1);
    if (master >= 0) ::close(master);
    ::close(slave_);
  }

  PtyPeer(const PtyPeer&) = delete;
  PtyPeer& operator=(const PtyPeer&) = delete;

  // The name to give the port ("pts/5" opens /dev/pts/5).
  const std::string& DeviceName() const { return deviceName_; }
  const std::string& Path() const { return path_; }
  // The slave as the test itself holds it, for looking at its termios.
  int Slave() const { return slave_; }

  // Starts the device thread; without a responder it only listens.
  void Start(Responder responder = {}) {
    responder_ = std::move(responder);
    thread_ = std::thread([this] { Run(); });
  }

  void Stop() {
    stop_.store(true);
    if (thread_.joinable()) thread_.join();
  }

  void Write(const std::string& bytes) {
    const int master = master_.load();
    if (master >= 0) [[maybe_unused]]
      auto n = ::write(master, bytes.data(), bytes.size());
  }

  // Everything the port has sent so far.
  std::string Received() const {
    std::lock_guard lock(mutex_);
    return received_;
  }

  // Waits (real time) until the port has sent at least n bytes.
  bool WaitReceived(std::size_t n, int limitMs = 2000) const {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (std::chrono::steady_clock::now() < until) {
      if (Received().size() >= n) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  }

  bool HungUp() const { return master_.load() < 0; }

  // The device goes away: its end of the terminal closes.
  void HangUp() {
    Stop();
    const int master = master_.exchange(-1);
    if (master >= 0) ::close(master);
  }

 private:
  void Run() {
    std::string pending;
    while (!stop_.load()) {
      const int master = master_.load();
      if (master < 0) return;
      pollfd p{master, POLLIN, 0};
      if (::poll(&p, 1, 5) <= 0 || (p.revents & POLLIN) == 0) {
        // The slave side closed (port closed while the test holds no
        // other opener) reports POLLHUP; keep waiting without spinning.
        if (p.revents != 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        continue;
      }
      char buffer[4096];
      const ssize_t n = ::read(master, buffer, sizeof buffer);
      if (n <= 0) continue;
      {
        std::lock_guard lock(mutex_);
        received_.append(buffer, static_cast<std::size_t>(n));
      }
      pending.append(buffer, static_cast<std::size_t>(n));
      if (!responder_) continue;
      if (auto action = responder_(pending)) {
        pending.clear();
        if (!action->Reply.empty()) Write(action->Reply);
        if (action->HangUp) {
          ::close(master_.exchange(-1));
          return;
        }
      }
    }
  }

  std::atomic<int> master_{-1};
  int slave_ = -1;
  std::string path_;
  std::string deviceName_;
  Responder responder_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::string received_;
};

// Answers each command (bytes up to a CR) with reply.
inline PtyPeer::Responder AnswerEachCommand(std::string reply) {
  return [reply](const std::string& pending) -> std::optional<PtyPeer::Action> {
    if (pending.find('\r') == std::string::npos) return std::nullopt;
    return PtyPeer::Action{reply, false};
  };
}

}  // namespace tarvik::test
