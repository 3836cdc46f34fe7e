#pragma once

// Runs a program as a child process with its standard output and error in
// files, for tests that drive lds-record and lds-sim as a user would.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
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
  // `outDir`/<name>.out and .err receive the child's output. `fileSizeLimit`
  // > 0 caps the size of every file the child writes (writes beyond fail).
  ChildProcess(const std::vector<std::string>& argv, const std::string& outDir, const std::string& name,
               long fileSizeLimit = 0)
      : outPath(outDir + "/" + name + ".out"), errPath(outDir + "/" + name + ".err") {
    // Everything the child needs is prepared before fork: only async-signal-safe
    // calls run between fork and exec.
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
      int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(out, STDOUT_FILENO);
      dup2(err, STDERR_FILENO);
      if (fileSizeLimit > 0) {
        rlimit limit{static_cast<rlim_t>(fileSizeLimit), static_cast<rlim_t>(fileSizeLimit)};
        setrlimit(RLIMIT_FSIZE, &limit);
        signal(SIGXFSZ, SIG_IGN);  // a write beyond the limit then fails with EFBIG
      }
      execv(args[0], args.data());
      _exit(127);
    }
  }
  ~ChildProcess() {
    if (pid > 0 && !exited) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  void Signal(int sig) {
    if (!exited) kill(pid, sig);
  }

  // Exit status, or -1 on timeout (the child is then killed), or 128 + signal.
  int Wait(std::chrono::milliseconds timeout) {
    if (exited) return status;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
      int raw = 0;
      pid_t r = waitpid(pid, &raw, WNOHANG);
      if (r == pid) {
        exited = true;
        status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
        return status;
      }
      if (std::chrono::steady_clock::now() >= deadline) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        exited = true;
        status = -1;
        return status;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  bool Running() {
    if (exited) return false;
    int raw = 0;
    if (waitpid(pid, &raw, WNOHANG) == pid) {
      exited = true;
      status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
      return false;
    }
    return true;
  }

  std::string Out() const { return ReadFile(outPath); }
  std::string Err() const { return ReadFile(errPath); }

 private:
  std::string outPath;
  std::string errPath;
  pid_t pid = -1;
  bool exited = false;
  int status = -1;
};
