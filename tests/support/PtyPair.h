#pragma once

// A real pseudo-terminal pair for tests: the code under test opens the slave
// path as its serial port; the test plays the device on the master side.
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

class PtyPair {
 public:
  PtyPair() {
    char name[256] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) throw std::runtime_error("openpty failed");
    slavePath_ = name;
    for (int fd : {master_, slave_}) {
      termios tio{};
      tcgetattr(fd, &tio);
      cfmakeraw(&tio);
      tcsetattr(fd, TCSANOW, &tio);
    }
  }
  // Our copy of the slave stays open, so the master sees no hang-up when the
  // code under test closes its port.
  ~PtyPair() {
    CloseMaster();
    close(slave_);
  }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  const std::string& SlavePath() const { return slavePath_; }
  // Hangs up the device side: reads on the slave fail from then on.
  void CloseMaster() {
    if (master_ >= 0) close(master_);
    master_ = -1;
  }

  void Write(const void* data, size_t size) {
    for (auto* p = static_cast<const uint8_t*>(data); size > 0;) {
      const ssize_t n = ::write(master_, p, size);
      if (n < 0) throw std::runtime_error("write to pty master failed");
      p += n;
      size -= static_cast<size_t>(n);
    }
  }
  void Write(const std::vector<uint8_t>& bytes) { Write(bytes.data(), bytes.size()); }

  // What the code under test wrote, until `count` bytes or the timeout.
  std::vector<uint8_t> Read(size_t count, std::chrono::milliseconds timeout) {
    std::vector<uint8_t> out;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (out.size() < count) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      pollfd pfd{master_, POLLIN, 0};
      if (left.count() <= 0 || poll(&pfd, 1, static_cast<int>(left.count())) <= 0) break;
      uint8_t buf[512];
      const ssize_t n = ::read(master_, buf, std::min(sizeof buf, count - out.size()));
      if (n <= 0) break;
      out.insert(out.end(), buf, buf + n);
    }
    return out;
  }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slavePath_;
};
