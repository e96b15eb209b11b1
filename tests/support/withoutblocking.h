#pragma once
// Runs a read of path on another thread and fails the test when it has not
// ended within a minute: a read that opens a FIFO with no writer would wait
// for ever, while a read of 64 MiB takes seconds under a sanitizer on a busy
// machine. The FIFO is then opened for writing, which sets the read free, so
// the test still ends.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace tarvik::test {

template <typename F>
auto WithoutBlocking(const std::filesystem::path& path, F read) {
  auto result = std::async(std::launch::async, read);
  if (result.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
    ADD_FAILURE() << "reading " << path << " blocked";
#ifndef _WIN32
    const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0) ::close(fd);
#endif
  }
  return result.get();
}

}  // namespace tarvik::test
