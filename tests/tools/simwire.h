#pragma once
// The tool's side of the line for the simulator tests: a plain descriptor on
// the slave, so these tests stand apart from the serial layer.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>

namespace tarvik::simtest {

struct Reply {
  std::string text;
  bool hungUp = false;
  long long ms = 0;  // from the end of sending to the last byte received
};

inline bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Sixteen data bytes as 32 hex digits, different for every record number.
inline std::string RecordData(int record) {
  std::string data;
  for (int i = 0; i < 16; ++i) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02X", (record * 37 + i * 11 + 5) & 0xFF);
    data += pair;
  }
  return data;
}

inline std::string GroupData(int firstRecord, int records) {
  std::string data;
  for (int i = 0; i < records; ++i) data += RecordData(firstRecord + i);
  return data;
}

inline int CheckByte(const std::string& data) {
  int check = 0;
  for (std::size_t i = 0; i + 1 < data.size(); i += 2) check ^= std::stoi(data.substr(i, 2), nullptr, 16);
  return check;
}

// "+W" + block + ":" + data + ":" + check byte + CR, as the tool frames it.
inline std::string WireWrite(int block, const std::string& data, int checkDelta = 0) {
  char head[8];
  char tail[4];
  std::snprintf(head, sizeof head, "+W%04X:", block);
  std::snprintf(tail, sizeof tail, "%02X", (CheckByte(data) ^ checkDelta) & 0xFF);
  return std::string(head) + data + ":" + tail + "\r";
}

class Wire {
 public:
  explicit Wire(const std::string& path) { fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK); }
  ~Wire() {
    if (fd_ >= 0) ::close(fd_);
  }
  Wire(const Wire&) = delete;
  Wire& operator=(const Wire&) = delete;
  int Fd() const { return fd_; }

  void Send(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const auto n = ::write(fd_, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
      } else if (n < 0 && errno != EAGAIN) {
        return;
      }
    }
  }

  // Reads until an answer is plainly complete, or until the line has been
  // quiet for quietMs (answers without a closing word), or a hang-up. The
  // answer's time counts from start.
  Reply Read(int quietMs = 150, int maxMs = 5000,
             std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now()) {
    Reply reply;
    auto last = start;
    for (;;) {
      const auto now = std::chrono::steady_clock::now();
      if (now - last > std::chrono::milliseconds(quietMs) || now - start > std::chrono::milliseconds(maxMs))
        break;
      pollfd pfd{fd_, POLLIN, 0};
      ::poll(&pfd, 1, 5);
      char buffer[256];
      const auto n = ::read(fd_, buffer, sizeof buffer);
      if (n > 0) {
        reply.text.append(buffer, static_cast<std::size_t>(n));
        last = std::chrono::steady_clock::now();
        reply.ms = std::chrono::duration_cast<std::chrono::milliseconds>(last - start).count();
        if (Complete(reply.text)) break;
      } else if ((n < 0 && errno == EIO) || n == 0 || (pfd.revents & POLLHUP) != 0) {
        reply.hungUp = true;
        break;
      }
    }
    return reply;
  }

  // The answer's time counts from before the command is written: a test
  // thread held up between the two would otherwise see a paced answer early.
  Reply Exchange(const std::string& bytes, int quietMs = 150) {
    const auto start = std::chrono::steady_clock::now();
    Send(bytes);
    return Read(quietMs, 5000, start);
  }

 private:
  static bool Complete(const std::string& text) {
    for (const char* end : {"OK\r\n", "ERROR\r\n", "ERR CHECK\r\n", "NO CARRIER\r\n"}) {
      if (EndsWith(text, end)) return true;
    }
    return false;
  }

  int fd_ = -1;
};

}  // namespace tarvik::simtest
