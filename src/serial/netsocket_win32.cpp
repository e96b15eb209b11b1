// The network link's connection over Winsock.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "serial/netsocket.h"

namespace tarvik::netos {
namespace {

// Winsock is started once for the program and left running: a link may be
// opened and closed many times, and the system ends it with the process.
bool StartWinsock(TConnectError& error) {
  static int started = [] {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data);
  }();
  if (started == 0) return true;
  error = {TConnectFailure::Other, started, commos::OsErrorText(started)};
  return false;
}

// Waits for the socket to become readable (or writable, with its failure
// in the error set), at most timeoutMs.
int Select(SOCKET socket, bool write, std::uint32_t timeoutMs) {
  fd_set wanted;
  fd_set failed;
  FD_ZERO(&wanted);
  FD_ZERO(&failed);
  FD_SET(socket, &wanted);
  FD_SET(socket, &failed);
  timeval limit{static_cast<long>(timeoutMs / 1000), static_cast<long>((timeoutMs % 1000) * 1000)};
  return ::select(0, write ? nullptr : &wanted, write ? &wanted : nullptr, &failed, &limit);
}

class WinsockSocket final : public TSocket {
 public:
  WinsockSocket(SOCKET socket, WSAEVENT closed, HANDLE stop)
      : socket_(socket), closed_(closed), stop_(stop) {}
  ~WinsockSocket() override {
    ::closesocket(socket_);
    ::WSACloseEvent(closed_);
    ::CloseHandle(stop_);
  }
  WinsockSocket(const WinsockSocket&) = delete;
  WinsockSocket& operator=(const WinsockSocket&) = delete;

  commos::TIoResult Send(const char* data, std::uint32_t count, std::uint32_t timeoutMs) override {
    commos::TIoResult result;
    while (result.Count < count) {
      const int n = ::send(socket_, data + result.Count, static_cast<int>(count - result.Count), 0);
      if (n > 0) {
        result.Count += static_cast<std::uint32_t>(n);
        continue;
      }
      const int code = ::WSAGetLastError();
      if (code != WSAEWOULDBLOCK) {
        result.Error = code;
        break;
      }
      if (Select(socket_, true, timeoutMs) <= 0) break;
    }
    return result;
  }

  TReceiveResult Receive(char* data, std::uint32_t count) override {
    TReceiveResult result;
    if (count == 0) return result;
    const int n = ::recv(socket_, data, static_cast<int>(count), 0);
    if (n > 0) {
      result.Count = static_cast<std::uint32_t>(n);
    } else if (n == 0) {
      result.Closed = true;
    } else if (const int code = ::WSAGetLastError(); code != WSAEWOULDBLOCK) {
      result.Error = code;
    }
    return result;
  }

  bool WaitReadable(std::uint32_t timeoutMs) override { return Select(socket_, false, timeoutMs) != 0; }

  commos::TWaitResult WaitEnded(int timeoutMs, std::string& reason) override {
    // The close is an event of its own (FD_CLOSE), so the watcher sees it
    // without reading the bytes that may still wait before it.
    const HANDLE handles[2] = {stop_, closed_};
    const DWORD r =
        ::WaitForMultipleObjects(2, handles, FALSE, timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
    if (r == WAIT_OBJECT_0) return commos::TWaitResult::Stopped;
    if (r == WAIT_TIMEOUT) return commos::TWaitResult::TimedOut;
    if (r != WAIT_OBJECT_0 + 1) {
      reason = commos::OsErrorText(static_cast<int>(::GetLastError()));
      return commos::TWaitResult::Failed;
    }
    WSANETWORKEVENTS events{};
    ::WSAEnumNetworkEvents(socket_, closed_, &events);
    const int code = events.iErrorCode[FD_CLOSE_BIT];
    reason = code != 0 ? commos::OsErrorText(code) : std::string("the server closed the connection");
    return commos::TWaitResult::Failed;
  }

  void SignalStop() override { ::SetEvent(stop_); }

 private:
  const SOCKET socket_;
  const WSAEVENT closed_;
  const HANDLE stop_;
};

// Wakes the clock's sleep once a connection under way has an outcome: the
// socket writable when it connected, in the error set when it did not.
class ConnectOutcome final : public Wakeup {
 public:
  explicit ConnectOutcome(SOCKET socket) : socket_(socket) {}
  bool Wait(std::uint32_t realMs) override { return Select(socket_, true, realMs) > 0; }

 private:
  const SOCKET socket_;
};

TConnectFailure CauseOf(int code) {
  switch (code) {
    case WSAECONNREFUSED:
      return TConnectFailure::Refused;
    case WSAETIMEDOUT:
    case WSAEHOSTUNREACH:
    case WSAENETUNREACH:
      return TConnectFailure::NoAnswer;
    default:
      return TConnectFailure::Other;
  }
}

// One address of the host: connected, or INVALID_SOCKET with error set.
SOCKET ConnectOne(const addrinfo& address, Clock& clock, std::uint64_t deadline, TConnectError& error) {
  const SOCKET socket = ::WSASocketW(address.ai_family, address.ai_socktype, address.ai_protocol, nullptr, 0,
                                     WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (socket == INVALID_SOCKET) {
    const int code = ::WSAGetLastError();
    error = {TConnectFailure::Other, code, commos::OsErrorText(code)};
    return INVALID_SOCKET;
  }
  u_long nonBlocking = 1;
  ::ioctlsocket(socket, FIONBIO, &nonBlocking);
  // A command is a few bytes that must leave at once.
  const BOOL one = TRUE;
  ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
  if (::connect(socket, address.ai_addr, static_cast<int>(address.ai_addrlen)) == 0) return socket;
  if (const int code = ::WSAGetLastError(); code != WSAEWOULDBLOCK) {
    error = {CauseOf(code), code, commos::OsErrorText(code)};
    ::closesocket(socket);
    return INVALID_SOCKET;
  }
  ConnectOutcome outcome(socket);
  for (;;) {
    const std::uint64_t now = clock.NowMs();
    if (now >= deadline) {
      error = {TConnectFailure::NoAnswer, 0, ""};
      ::closesocket(socket);
      return INVALID_SOCKET;
    }
    if (!clock.SleepMs(static_cast<std::uint32_t>(deadline - now), outcome)) continue;
    int code = 0;
    int size = sizeof code;
    if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&code), &size) != 0)
      code = ::WSAGetLastError();
    if (code == 0) return socket;
    error = {CauseOf(code), code, commos::OsErrorText(code)};
    ::closesocket(socket);
    return INVALID_SOCKET;
  }
}

}  // namespace

std::unique_ptr<TSocket> Connect(const std::string& host, std::uint16_t port, Clock& clock,
                                 std::uint32_t timeoutMs, TConnectError& error) {
  if (!StartWinsock(error)) return nullptr;
  const std::uint64_t deadline = clock.NowMs() + timeoutMs;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const int resolved = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
  if (resolved != 0) {
    const bool unknown = resolved == WSAHOST_NOT_FOUND || resolved == WSANO_DATA ||
                         resolved == WSATRY_AGAIN || resolved == WSANO_RECOVERY;
    error = {unknown ? TConnectFailure::UnknownHost : TConnectFailure::Other, resolved,
             commos::OsErrorText(resolved)};
    return nullptr;
  }
  SOCKET socket = INVALID_SOCKET;
  error = {TConnectFailure::UnknownHost, 0, ""};
  for (const addrinfo* a = found; a != nullptr && socket == INVALID_SOCKET; a = a->ai_next)
    socket = ConnectOne(*a, clock, deadline, error);
  ::freeaddrinfo(found);
  if (socket == INVALID_SOCKET) return nullptr;
  const WSAEVENT closed = ::WSACreateEvent();
  const HANDLE stop = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  // Only the close is asked for; the socket stays non-blocking as it was.
  if (closed == WSA_INVALID_EVENT || stop == nullptr || ::WSAEventSelect(socket, closed, FD_CLOSE) != 0) {
    const int code = ::WSAGetLastError();
    error = {TConnectFailure::Other, code, commos::OsErrorText(code)};
    if (closed != WSA_INVALID_EVENT) ::WSACloseEvent(closed);
    if (stop != nullptr) ::CloseHandle(stop);
    ::closesocket(socket);
    return nullptr;
  }
  error = {};
  return std::make_unique<WinsockSocket>(socket, closed, stop);
}

}  // namespace tarvik::netos
