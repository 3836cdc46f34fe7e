#pragma once

// Runs a program (lds-sim, lds-record) as a child process for tests that
// drive it as a user would: its standard output and error go to unnamed
// temporary files, so a chatty child never blocks on a full pipe and the test
// can read either at any time.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// Polls `condition` every 10 ms until it holds or the timeout passes.
inline bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return condition();
}

class ChildProcess {
 public:
  // argv[0] is the program's path. `fileSizeLimit` > 0 caps the size of every
  // file the child writes (writes beyond it fail with EFBIG). `stdoutFd` >= 0
  // gives the child that descriptor (a pipe, say) as standard output instead.
  explicit ChildProcess(const std::vector<std::string>& argv, long fileSizeLimit = 0, int stdoutFd = -1) {
    out_ = TempFile();
    err_ = TempFile();
    // Everything the child needs is prepared before fork: only
    // async-signal-safe calls run between fork and exec.
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
      dup2(stdoutFd >= 0 ? stdoutFd : out_, STDOUT_FILENO);
      dup2(err_, STDERR_FILENO);
      if (fileSizeLimit > 0) {
        rlimit limit{static_cast<rlim_t>(fileSizeLimit), static_cast<rlim_t>(fileSizeLimit)};
        setrlimit(RLIMIT_FSIZE, &limit);
        signal(SIGXFSZ, SIG_IGN);
      }
      execv(args[0], args.data());
      _exit(127);
    }
  }
  ~ChildProcess() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(out_);
    close(err_);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  void Signal(int sig) {
    if (!exited_) kill(pid_, sig);
  }

  // Exit status, 128 + signal when a signal ended it, or -1 on timeout (the
  // child is then killed).
  int Wait(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!Reap()) {
      if (std::chrono::steady_clock::now() >= deadline) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        exited_ = true;
        status_ = -1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return status_;
  }

  // The first line of standard output without its line end; what there is
  // when the child exits or the timeout passes first.
  std::string FirstLine(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::string out = Out();
    while (out.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      const bool ended = Reap();
      out = Out();
      if (ended) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::string line = out.substr(0, out.find('\n'));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
  }

  // Everything written to standard output or error so far.
  std::string Out() const { return Contents(out_); }
  std::string Err() const { return Contents(err_); }

 private:
  static int TempFile() {
    const char* dir = std::getenv("TMPDIR");
    std::string name = std::string(dir && *dir ? dir : "/tmp") + "/lds-child-XXXXXX";
    const int fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("cannot create a temporary file in " + name);
    unlink(name.c_str());
    return fd;
  }
  static std::string Contents(int fd) {
    std::string s;
    char buf[4096];
    ssize_t n;
    while ((n = pread(fd, buf, sizeof buf, static_cast<off_t>(s.size()))) > 0) s.append(buf, static_cast<size_t>(n));
    return s;
  }
  // True once the child has ended; records its status.
  bool Reap() {
    if (exited_) return true;
    int raw = 0;
    if (waitpid(pid_, &raw, WNOHANG) != pid_) return false;
    exited_ = true;
    status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    return true;
  }

  pid_t pid_ = -1;
  bool exited_ = false;
  int status_ = -1;
  int out_ = -1, err_ = -1;
};
