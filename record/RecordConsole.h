#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

// Keeps the terminal, a pipe or a log from ever holding up the recording.
//
// The decoder prints its reports ("CRC error found:" and the packet) on the
// thread that reads the port. While a recording runs, standard output is a
// pipe that a reader thread here drains at once; it passes at most
// `kReportsPerSecond` reports a second and counts the lines it leaves out.
// The recorder's own messages go through Post. Only a writer thread touches
// the real standard output and error, so only that thread waits when they are
// slow; what it cannot pass on within `kMaxQueuedBytes` is left out and counted.
class RecordConsole {
 public:
  static constexpr int kReportsPerSecond = 5;
  static constexpr size_t kMaxQueuedBytes = 64 * 1024;

  RecordConsole() = default;
  ~RecordConsole();
  RecordConsole(const RecordConsole&) = delete;
  RecordConsole& operator=(const RecordConsole&) = delete;

  // Takes standard output over. False with `error` set when it cannot.
  bool Start(std::string& error);
  // Queues `text` for standard error (`toStderr`) or output.
  void Post(const std::string& text, bool toStderr = true);
  // True once the reader of standard output has gone (a closed pipe).
  bool StdoutClosed() const { return stdoutClosed.load(); }
  // Gives standard output back, passes on what is queued within `waitMs` and
  // returns the number of lines left out. Later output goes out directly.
  uint64_t Finish(int waitMs);

 private:
  struct Chunk {
    bool toStderr;
    std::string text;
  };
  void ReadLoop();
  void WriteLoop();
  void PassLine(const std::string& line, int64_t nowMs);
  void Queue(Chunk chunk, uint64_t lines);

  int realStdout = -1;
  int pipeRead = -1;
  std::thread reader, writer;
  std::mutex mutex;
  std::condition_variable wake, drained;
  std::deque<Chunk> queue;
  size_t queuedBytes = 0;
  bool stopping = false;
  bool writing = false;
  std::atomic<bool> stdoutClosed{false};
  std::atomic<uint64_t> linesLeftOut{0};
  // Reader state: the current second, reports passed in it, and whether the
  // lines that follow a report header are passed.
  std::string partial;
  int64_t windowStartMs = 0;
  int reportsInWindow = 0;
  int continuationLines = 0;
  bool passingReport = true;
  uint64_t leftOutShown = 0;
};
