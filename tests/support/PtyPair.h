#pragma once

// A real pseudo-terminal pair: the code under test opens the slave path as its
// serial port, and the test plays the device on the master side.
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

class PtyPair {
 public:
  PtyPair() {
    char name[256] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) throw std::runtime_error("openpty failed");
    slavePath_ = name;
    termios tio{};  // raw bytes both ways (the settings belong to the slave side)
    tcgetattr(master_, &tio);
    cfmakeraw(&tio);
    tcsetattr(master_, TCSANOW, &tio);
  }
  // Our copy of the slave stays open, so that closing the port is no hang-up.
  ~PtyPair() { close(slave_), CloseMaster(); }
  PtyPair(const PtyPair&) = delete;

  const std::string& SlavePath() const { return slavePath_; }
  // Hangs up the device side: reads on the slave fail from then on.
  void CloseMaster() { close(std::exchange(master_, -1)); }

  void Write(const void* data, size_t size) {
    if (::write(master_, data, size) != static_cast<ssize_t>(size)) throw std::runtime_error("pty write failed");
  }
  void Write(const std::vector<uint8_t>& bytes) { Write(bytes.data(), bytes.size()); }

  // What the code under test wrote: `count` bytes, or fewer at the timeout.
  std::vector<uint8_t> Read(size_t count, std::chrono::milliseconds timeout) {
    std::vector<uint8_t> out(count);
    size_t got = 0;
    for (auto end = std::chrono::steady_clock::now() + timeout; got < count;) {
      pollfd pfd{master_, POLLIN, 0};
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      if (left.count() <= 0 || poll(&pfd, 1, static_cast<int>(left.count())) <= 0) break;
      const ssize_t n = ::read(master_, out.data() + got, count - got);
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    out.resize(got);
    return out;
  }

 private:
  int master_ = -1, slave_ = -1;
  std::string slavePath_;
};
