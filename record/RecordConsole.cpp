#include "record/RecordConsole.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace {

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Blocking write of everything; false when the reader has gone or the write failed.
bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

size_t CountLines(const std::string& text) {
  size_t lines = 0;
  for (char c : text) lines += c == '\n';
  return lines;
}

}  // namespace

RecordConsole::~RecordConsole() {
  if (reader.joinable() || writer.joinable()) Finish(0);
}

bool RecordConsole::Start(std::string& error) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    error = std::string("cannot create a pipe for the decoder's reports: ") + std::strerror(errno);
    return false;
  }
  std::fflush(stdout);
  realStdout = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  if (realStdout < 0 || ::dup2(fds[1], STDOUT_FILENO) < 0) {
    error = std::string("cannot redirect standard output: ") + std::strerror(errno);
    ::close(fds[0]);
    ::close(fds[1]);
    if (realStdout >= 0) ::close(realStdout);
    realStdout = -1;
    return false;
  }
  ::close(fds[1]);
  pipeRead = fds[0];
  windowStartMs = NowMs();
  writer = std::thread([this] { WriteLoop(); });
  reader = std::thread([this] { ReadLoop(); });
  return true;
}

void RecordConsole::Queue(Chunk chunk, uint64_t lines) {
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (queuedBytes + chunk.text.size() > kMaxQueuedBytes) {
      linesLeftOut += lines;
      return;
    }
    queuedBytes += chunk.text.size();
    queue.push_back(std::move(chunk));
  }
  wake.notify_one();
}

void RecordConsole::Post(const std::string& text, bool toStderr) {
  if (!writer.joinable()) {
    std::fputs(text.c_str(), toStderr ? stderr : stdout);
    std::fflush(toStderr ? stderr : stdout);
    return;
  }
  Queue(Chunk{toStderr, text}, CountLines(text));
}

void RecordConsole::PassLine(const std::string& line, int64_t nowMs) {
  if (nowMs - windowStartMs >= 1000) {
    windowStartMs = nowMs;
    reportsInWindow = 0;
    const uint64_t leftOut = linesLeftOut.load();
    if (leftOut != leftOutShown) {
      Queue(Chunk{false, "lds-record: " + std::to_string(leftOut - leftOutShown) + " decoder report lines left out\n"},
            0);
      leftOutShown = leftOut;
    }
  }
  // A CRC report is a header line and two more: the packet and the checksum.
  if (continuationLines > 0) {
    --continuationLines;
  } else {
    if (line.rfind("CRC error found:", 0) == 0) continuationLines = 2;
    passingReport = reportsInWindow < kReportsPerSecond;
    if (passingReport) ++reportsInWindow;
  }
  if (passingReport) {
    Queue(Chunk{false, line}, 1);
  } else {
    ++linesLeftOut;
  }
}

void RecordConsole::ReadLoop() {
  char buf[65536];
  for (;;) {
    pollfd fds[2] = {{pipeRead, POLLIN, 0}, {realStdout, 0, 0}};
    const int n = ::poll(fds, stdoutClosed ? 1 : 2, 200);
    if (n < 0 && errno != EINTR) break;
    if (!stdoutClosed && (fds[1].revents & (POLLERR | POLLHUP))) stdoutClosed = true;
    if (n <= 0 || !(fds[0].revents & (POLLIN | POLLHUP))) continue;
    const ssize_t got = ::read(pipeRead, buf, sizeof buf);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;  // every writer has gone: Finish gave standard output back
    partial.append(buf, static_cast<size_t>(got));
    const int64_t now = NowMs();
    size_t start = 0;
    for (size_t end; (end = partial.find('\n', start)) != std::string::npos; start = end + 1)
      PassLine(partial.substr(start, end + 1 - start), now);
    partial.erase(0, start);
  }
  if (!partial.empty()) PassLine(partial + "\n", NowMs());
}

void RecordConsole::WriteLoop() {
  std::unique_lock<std::mutex> lock(mutex);
  for (;;) {
    wake.wait(lock, [this] { return stopping || !queue.empty(); });
    if (queue.empty()) return;
    Chunk chunk = std::move(queue.front());
    queue.pop_front();
    writing = true;
    lock.unlock();
    const int fd = chunk.toStderr ? STDERR_FILENO : realStdout;
    if (!(chunk.toStderr == false && stdoutClosed) && !WriteAll(fd, chunk.text.data(), chunk.text.size()) &&
        !chunk.toStderr && errno == EPIPE)
      stdoutClosed = true;
    lock.lock();
    writing = false;
    queuedBytes -= chunk.text.size();
    if (queue.empty()) drained.notify_all();
  }
}

uint64_t RecordConsole::Finish(int waitMs) {
  if (!reader.joinable()) return linesLeftOut;
  std::fflush(stdout);
  ::dup2(realStdout, STDOUT_FILENO);  // closes the pipe's write end: the reader sees its end
  reader.join();
  ::close(pipeRead);
  const uint64_t leftOut = linesLeftOut.load();
  if (leftOut != leftOutShown)
    Queue(Chunk{false, "lds-record: " + std::to_string(leftOut - leftOutShown) + " decoder report lines left out\n"},
          0);
  std::unique_lock<std::mutex> lock(mutex);
  const bool done =
      drained.wait_for(lock, std::chrono::milliseconds(waitMs), [this] { return queue.empty() && !writing; });
  stopping = true;
  lock.unlock();
  wake.notify_one();
  // A writer still held up by a stalled reader is left behind; the process
  // ends without waiting for it.
  if (done) {
    writer.join();
    ::close(realStdout);
  } else {
    writer.detach();
  }
  return linesLeftOut;
}
