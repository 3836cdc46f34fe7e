#include "app/StopSignals.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
int fds[2] = {-1, -1};  // the handler writes into [1], the event loop reads [0]

void OnSignal(int number) {
  const int saved = errno;
  const char byte = static_cast<char>(number);
  // Non-blocking: with the socket full, a signal already waits to be read.
  (void)!::write(fds[1], &byte, 1);
  errno = saved;
}

}  // namespace

StopSignals::StopSignals(QObject* parent) : QObject(parent) {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) != 0) {
    std::fprintf(stderr, "lds-tool: %s; SIGTERM, SIGINT and SIGHUP end the program without closing the window\n",
                 std::strerror(errno));
    return;
  }
  notifier = new QSocketNotifier(fds[0], QSocketNotifier::Read, this);
  connect(notifier, &QSocketNotifier::activated, this, [] {
    char number = 0;
    while (::read(fds[0], &number, 1) == 1)
      std::fprintf(stderr, "lds-tool: %s, closing as the window's close does\n", strsignal(number));
    QCoreApplication::exit(0);
  });
  struct sigaction action = {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &action, &old[i]);
}

StopSignals::~StopSignals() {
  if (!notifier) return;
  for (size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &old[i], nullptr);
  delete notifier;
  ::close(fds[0]);
  ::close(fds[1]);
  fds[0] = fds[1] = -1;
}
