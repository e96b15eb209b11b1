// The standard streams on Linux and other POSIX systems.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "common/stdstreams.h"

namespace tarvik {

void EnsureStandardStreams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free number is fd itself, the ones below being open by now.
    const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd) {
      ::dup2(opened, fd);
      ::close(opened);
    }
  }
}

}  // namespace tarvik
