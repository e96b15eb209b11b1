// The network link's connection over POSIX sockets.
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "serial/descriptor_posix.h"
#include "serial/netsocket.h"

namespace tarvik::netos {
namespace {

class PosixSocket final : public TSocket {
 public:
  PosixSocket(int fd, int stopRead, int stopWrite) : fd_(fd), stopRead_(stopRead), stopWrite_(stopWrite) {}
  ~PosixSocket() override {
    ::close(fd_);
    ::close(stopRead_);
    ::close(stopWrite_);
  }
  PosixSocket(const PosixSocket&) = delete;
  PosixSocket& operator=(const PosixSocket&) = delete;

  commos::TIoResult Send(const char* data, std::uint32_t count, std::uint32_t timeoutMs) override {
    commos::TIoResult result;
    while (result.Count < count) {
      const ssize_t n = ::send(fd_, data + result.Count, count - result.Count, MSG_NOSIGNAL);
      if (n > 0) {
        result.Count += static_cast<std::uint32_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
        result.Error = errno;
        break;
      }
      pollfd room{fd_, POLLOUT, 0};
      if (::poll(&room, 1, static_cast<int>(timeoutMs)) <= 0) break;
    }
    return result;
  }

  TReceiveResult Receive(char* data, std::uint32_t count) override {
    TReceiveResult result;
    for (;;) {
      const ssize_t n = ::recv(fd_, data, count, MSG_DONTWAIT);
      if (n > 0) {
        result.Count = static_cast<std::uint32_t>(n);
      } else if (n == 0) {
        result.Closed = count != 0;
      } else if (errno == EINTR) {
        continue;
      } else if (errno != EAGAIN && errno != EWOULDBLOCK) {
        result.Error = errno;
      }
      return result;
    }
  }

  bool WaitReadable(std::uint32_t timeoutMs) override {
    pollfd fd{fd_, POLLIN, 0};
    return ::poll(&fd, 1, static_cast<int>(timeoutMs)) != 0;
  }

  commos::TWaitResult WaitEnded(int timeoutMs, std::string& reason) override {
    // POLLRDHUP: the far end's close shows without reading the bytes that
    // may still wait before it.
    pollfd fds[2] = {{stopRead_, POLLIN, 0}, {fd_, POLLRDHUP, 0}};
    const int r = ::poll(fds, 2, timeoutMs);
    if (r < 0) return errno == EINTR ? commos::TWaitResult::TimedOut : commos::TWaitResult::Failed;
    if ((fds[0].revents & POLLIN) != 0) return commos::TWaitResult::Stopped;
    if ((fds[1].revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) == 0)
      return commos::TWaitResult::TimedOut;
    int error = 0;
    socklen_t size = sizeof error;
    ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &size);
    reason = error != 0 ? commos::OsErrorText(error) : std::string("the server closed the connection");
    return commos::TWaitResult::Failed;
  }

  void SignalStop() override {
    const char one = 1;
    // A full pipe already holds a signal, so a failed write loses nothing.
    [[maybe_unused]] const ssize_t n = ::write(stopWrite_, &one, 1);
  }

 private:
  const int fd_;
  const int stopRead_;
  const int stopWrite_;
};

// Wakes the clock's sleep once a connection under way has an outcome.
class ConnectOutcome final : public Wakeup {
 public:
  explicit ConnectOutcome(int fd) : fd_(fd) {}
  bool Wait(std::uint32_t realMs) override {
    pollfd fd{fd_, POLLOUT, 0};
    return ::poll(&fd, 1, static_cast<int>(realMs)) > 0;
  }

 private:
  const int fd_;
};

TConnectFailure CauseOf(int code) {
  switch (code) {
    case ECONNREFUSED:
      return TConnectFailure::Refused;
    case ETIMEDOUT:
    case EHOSTUNREACH:
    case ENETUNREACH:
      return TConnectFailure::NoAnswer;
    default:
      return TConnectFailure::Other;
  }
}

// One address of the host: connected, or -1 with error set.
int ConnectOne(const addrinfo& address, Clock& clock, std::uint64_t deadline, TConnectError& error) {
  const int fd = commos::KeepAboveStandardStreams(
      ::socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, address.ai_protocol));
  if (fd < 0) {
    error = {TConnectFailure::Other, errno, commos::OsErrorText(errno)};
    return -1;
  }
  // A command is a few bytes that must leave at once.
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  if (::connect(fd, address.ai_addr, address.ai_addrlen) == 0) return fd;
  if (errno != EINPROGRESS) {
    error = {CauseOf(errno), errno, commos::OsErrorText(errno)};
    ::close(fd);
    return -1;
  }
  ConnectOutcome outcome(fd);
  for (;;) {
    const std::uint64_t now = clock.NowMs();
    if (now >= deadline) {
      error = {TConnectFailure::NoAnswer, 0, ""};
      ::close(fd);
      return -1;
    }
    if (!clock.SleepMs(static_cast<std::uint32_t>(deadline - now), outcome)) continue;
    int code = 0;
    socklen_t size = sizeof code;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &code, &size) < 0) code = errno;
    if (code == 0) return fd;
    error = {CauseOf(code), code, commos::OsErrorText(code)};
    ::close(fd);
    return -1;
  }
}

}  // namespace

std::unique_ptr<TSocket> Connect(const std::string& host, std::uint16_t port, Clock& clock,
                                 std::uint32_t timeoutMs, TConnectError& error) {
  const std::uint64_t deadline = clock.NowMs() + timeoutMs;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const int resolved = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
  if (resolved != 0) {
    // A machine without a name server answers "try again" for any name.
    const bool unknown =
        resolved == EAI_NONAME || resolved == EAI_NODATA || resolved == EAI_FAIL || resolved == EAI_AGAIN;
    error = {unknown ? TConnectFailure::UnknownHost : TConnectFailure::Other, 0, ::gai_strerror(resolved)};
    return nullptr;
  }
  int fd = -1;
  error = {TConnectFailure::UnknownHost, 0, ""};
  for (const addrinfo* a = found; a != nullptr && fd < 0; a = a->ai_next)
    fd = ConnectOne(*a, clock, deadline, error);
  ::freeaddrinfo(found);
  if (fd < 0) return nullptr;
  int pipeFds[2];
  if (::pipe2(pipeFds, O_NONBLOCK | O_CLOEXEC) < 0) {
    error = {TConnectFailure::Other, errno, commos::OsErrorText(errno)};
    ::close(fd);
    return nullptr;
  }
  error = {};
  return std::make_unique<PosixSocket>(fd, commos::KeepAboveStandardStreams(pipeFds[0]),
                                       commos::KeepAboveStandardStreams(pipeFds[1]));
}

}  // namespace tarvik::netos
