#include "serial/StdDescriptors.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

void EnsureStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free number is taken, and the lower ones are open by now:
    // this lands on `fd` itself.
    const int opened = ::open("/dev/null", O_RDWR);
    if (opened < 0) return;
    if (opened != fd) {
      ::dup2(opened, fd);
      ::close(opened);
    }
  }
}
