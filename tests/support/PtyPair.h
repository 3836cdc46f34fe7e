#pragma once

// A real pseudo-terminal pair for tests: the slave path is opened by the code
// under test as a serial port; the test plays the device on the master side.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

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
    termios tio{};
    tcgetattr(slave_, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave_, TCSANOW, &tio);
    tcgetattr(master_, &tio);
    cfmakeraw(&tio);
    tcsetattr(master_, TCSANOW, &tio);
  }
  ~PtyPair() {
    CloseMaster();
    if (slave_ >= 0) close(slave_);
  }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  const std::string& SlavePath() const { return slavePath_; }
  int MasterFd() const { return master_; }

  // Closing our copy of the slave makes the master see a hang-up once the
  // code under test closes its own; keep it until then by default.
  void CloseSlaveKeeper() {
    if (slave_ >= 0) close(slave_);
    slave_ = -1;
  }
  // Hang up the device side: reads on the slave then fail.
  void CloseMaster() {
    if (master_ >= 0) close(master_);
    master_ = -1;
  }

  void Write(const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
      ssize_t n = ::write(master_, p, size);
      if (n < 0) throw std::runtime_error("write to pty master failed");
      p += n;
      size -= static_cast<size_t>(n);
    }
  }
  void Write(const std::vector<uint8_t>& bytes) { Write(bytes.data(), bytes.size()); }

  // Reads what the code under test wrote, until `count` bytes or the timeout.
  std::vector<uint8_t> Read(size_t count, std::chrono::milliseconds timeout) {
    std::vector<uint8_t> out;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (out.size() < count) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd pfd{master_, POLLIN, 0};
      if (poll(&pfd, 1, static_cast<int>(left.count())) <= 0) break;
      uint8_t buf[512];
      ssize_t n = ::read(master_, buf, std::min(sizeof buf, count - out.size()));
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
