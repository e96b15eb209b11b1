#include "common/stdstreams.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace tarvik {
namespace {

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// In a child that starts with the given standard descriptors closed: each
// closed one is the null device afterwards, opened for its direction, the
// open ones are left as they were, and the next file opened gets a number
// above them. The exit code names the first check that failed.
int ClaimInChild(const std::vector<int>& closed) {
  struct stat before[3]{};
  for (int fd = 0; fd <= 2; ++fd) ::fstat(fd, &before[fd]);
  for (const int fd : closed) ::close(fd);
  EnsureStandardStreams();
  struct stat null {};
  if (::stat("/dev/null", &null) != 0) return 10;
  for (int fd = 0; fd <= 2; ++fd) {
    struct stat now {};
    if (::fstat(fd, &now) != 0) return 20 + fd;
    const bool wasClosed = std::find(closed.begin(), closed.end(), fd) != closed.end();
    if (!SameFile(now, wasClosed ? null : before[fd])) return 30 + fd;
    const int mode = ::fcntl(fd, F_GETFL) & O_ACCMODE;
    if (wasClosed && mode != (fd == 0 ? O_RDONLY : O_WRONLY)) return 40 + fd;
  }
  const int next = ::open("/dev/null", O_RDONLY);
  return next > 2 ? 0 : 50;
}

TEST(StandardStreams, ClosedOnesGoToTheNullDeviceBeforeAnythingIsOpened) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::vector<int> cases[] = {{0}, {1}, {2}, {1, 2}, {0, 1, 2}, {}};
  for (const std::vector<int>& closed : cases) {
    std::string name;
    for (const int fd : closed) name += std::to_string(fd) + " ";
    SCOPED_TRACE("closed: " + name);
    EXPECT_EXIT(std::_Exit(ClaimInChild(closed)), ::testing::ExitedWithCode(0), "");
  }
}

}  // namespace
}  // namespace tarvik
