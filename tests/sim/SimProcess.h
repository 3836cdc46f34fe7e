#pragma once

// Runs lds-sim as a child process for end-to-end tests and plays the host on
// the terminal it prints.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

class SimProcess {
 public:
  explicit SimProcess(const std::vector<std::string>& args) {
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) return;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_adddup2(&fa, err[1], 2);
    posix_spawn_file_actions_addclose(&fa, out[0]);
    posix_spawn_file_actions_addclose(&fa, err[0]);
    std::vector<std::string> all = {LDS_SIM_EXE};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, LDS_SIM_EXE, &fa, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
    close(out[1]);
    close(err[1]);
    out_ = out[0];
    err_ = err[0];
  }
  ~SimProcess() {
    if (pid_ > 0 && status_ < 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (tty_ >= 0) close(tty_);
    close(out_);
    close(err_);
  }

  // The first line of standard output, without its line end.
  std::string FirstLine(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    std::string line;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    char c;
    while (std::chrono::steady_clock::now() < deadline) {
      pollfd p{out_, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      if (read(out_, &c, 1) != 1) break;
      if (c == '\n') return line;
      line += c;
    }
    return line;
  }

  // Opens the terminal the simulator printed, raw, as a host would.
  bool OpenTty(const std::string& path) {
    tty_ = open(path.c_str(), O_RDWR | O_NOCTTY);
    if (tty_ < 0) return false;
    termios tio{};
    tcgetattr(tty_, &tio);
    cfmakeraw(&tio);
    tcsetattr(tty_, TCSANOW, &tio);
    return true;
  }
  void Write(const std::vector<uint8_t>& bytes) { (void)!write(tty_, bytes.data(), bytes.size()); }

  // Reads until `count` bytes arrived, the line stays quiet for `quiet`, or
  // it is hung up.
  std::vector<uint8_t> Read(size_t count, std::chrono::milliseconds quiet = std::chrono::seconds(5)) {
    std::vector<uint8_t> got;
    hungUp_ = false;
    while (got.size() < count) {
      pollfd p{tty_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(quiet.count())) <= 0) break;
      uint8_t buf[4096];
      ssize_t n = read(tty_, buf, std::min(sizeof buf, count - got.size()));
      if (n <= 0) {
        hungUp_ = true;
        break;
      }
      got.insert(got.end(), buf, buf + n);
    }
    return got;
  }
  bool HungUp() const { return hungUp_; }

  void Signal(int sig) { kill(pid_, sig); }
  // Exit status, or -1 when it did not exit in time.
  int Wait(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (status_ < 0 && std::chrono::steady_clock::now() < deadline) {
      int st = 0;
      if (waitpid(pid_, &st, WNOHANG) == pid_)
        status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
      else
        usleep(5000);
    }
    return status_;
  }
  // Everything on standard output or error so far (call after Wait).
  std::string Stdout() { return Drain(out_); }
  std::string Stderr() { return Drain(err_); }

 private:
  static std::string Drain(int fd) {
    std::string s;
    char buf[4096];
    pollfd p{fd, POLLIN, 0};
    while (poll(&p, 1, 0) > 0) {
      ssize_t n = read(fd, buf, sizeof buf);
      if (n <= 0) break;
      s.append(buf, static_cast<size_t>(n));
    }
    return s;
  }

  pid_t pid_ = -1;
  int status_ = -1;
  int out_ = -1, err_ = -1, tty_ = -1;
  bool hungUp_ = false;
};

inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}
