// lds-sim: a simulated sensor on a pseudo-terminal (or a given device). The
// scene, the packets, the command parsing, the faults and the pacing live in
// lds_sim; this file only moves bytes and keeps time.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "protocol/KXPacket.h"
#include "serial/StdDescriptors.h"
#include "sim/SimCommand.h"
#include "sim/SimFaults.h"
#include "sim/SimOptions.h"
#include "sim/SimPacer.h"
#include "sim/SimPacket.h"
#include "sim/SimScene.h"

namespace {

int gSignalPipe[2] = {-1, -1};

void OnSignal(int) {
  int saved = errno;
  char c = 1;
  ssize_t ignored = write(gSignalPipe[1], &c, 1);
  (void)ignored;
  errno = saved;
}

int64_t MonotonicNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

speed_t BaudConstant(int baud) {
  switch (baud) {
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    case 230400:
      return B230400;
    case 460800:
      return B460800;
    case 921600:
      return B921600;
    default:
      return B0;
  }
}

void MakeRaw(int fd, int baud) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) return;
  cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  if (speed_t s = BaudConstant(baud); s != B0) cfsetspeed(&tio, s);
  tcsetattr(fd, TCSANOW, &tio);
}

// Written through a temporary file and a rename, so that a reader never sees
// a half-written file.
// On failure errno says why.
bool WriteFileAtomically(const std::string& path, const std::string& text) {
  std::string tmp = path + ".tmp";
  FILE* f = std::fopen(tmp.c_str(), "w");
  if (!f) return false;
  bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  int saved = errno;
  if (std::fclose(f) != 0 && ok) {
    ok = false;
    saved = errno;
  }
  if (ok && std::rename(tmp.c_str(), path.c_str()) == 0) return true;
  if (ok) saved = errno;
  unlink(tmp.c_str());
  errno = saved;
  return false;
}

class Simulator {
 public:
  explicit Simulator(const sim::SimOptions& o)
      : opt_(o),
        pacer_(sim::LinePacer::ByteTimeNs(o.baud), sim::LinePacer::PacketPeriodNs(o.pps, o.baud)),
        generator_(scene_, o.rps, pacer_.PeriodNs(), o.seed),
        faults_(sim::FaultConfig{o.badCrcEvery, o.garbageEvery, o.garbageBytes}, o.seed) {
    generator_.SetNoise(o.noiseMm);
    generator_.SetMarker(!o.markerLog.empty());
  }

  ~Simulator() {
    if (capture_) std::fclose(capture_);
    if (replay_) std::fclose(replay_);
    if (marker_) std::fclose(marker_);
    if (fd_ >= 0) close(fd_);
    if (slaveKeeper_ >= 0) close(slaveKeeper_);
  }

  int Run() {
    if (!opt_.linkPath.empty() && !LinkPathFree()) return 2;
    // The device is checked before any file is touched.
    if (!opt_.devicePath.empty())
      if (const int status = OpenDevice(); status != 0) return status;
    if (!OpenFiles() || !OpenLine()) return 1;
    // The counters file is written once before anything is announced: one
    // that cannot be written fails now, with the reason, not later in silence.
    if (!opt_.statsFile.empty() && !WriteStats()) return 1;
    // The link exists before the path is announced, so that a caller that
    // waits for the first line can use either.
    if (!opt_.linkPath.empty() && !MakeLink()) return 1;
    std::printf("%s\n", path_.c_str());
    std::fflush(stdout);

    t0_ = MonotonicNs();
    streaming_ = opt_.replayFile.empty() ? opt_.autostart : !opt_.waitStart;
    int status = Loop();
    if (!Finish()) status = 1;
    return status;
  }

 private:
  bool OpenFiles() {
    if (!opt_.captureFile.empty() && !(capture_ = std::fopen(opt_.captureFile.c_str(), "wb"))) {
      std::fprintf(stderr, "lds-sim: cannot write %s: %s\n", opt_.captureFile.c_str(), std::strerror(errno));
      return false;
    }
    if (!opt_.replayFile.empty()) {
      // A directory opens like a file and only fails at the first read.
      struct stat st {};
      replay_ = std::fopen(opt_.replayFile.c_str(), "rb");
      if (replay_ && fstat(fileno(replay_), &st) == 0 && S_ISDIR(st.st_mode)) errno = EISDIR;
      if (!replay_ || S_ISDIR(st.st_mode)) {
        std::fprintf(stderr, "lds-sim: cannot read %s: %s\n", opt_.replayFile.c_str(), std::strerror(errno));
        return false;
      }
    }
    if (!opt_.markerLog.empty() && !(marker_ = std::fopen(opt_.markerLog.c_str(), "w"))) {
      std::fprintf(stderr, "lds-sim: cannot write %s: %s\n", opt_.markerLog.c_str(), std::strerror(errno));
      return false;
    }
    return true;
  }

  // The link path may hold nothing, or a link that an earlier lds-sim left
  // behind: one to a pseudo-terminal that no longer exists. Anything else,
  // a device link among them, belongs to someone else and is kept.
  bool LinkPathFree() {
    struct stat st {};
    if (lstat(opt_.linkPath.c_str(), &st) != 0) return true;
    char target[512] = {};
    const ssize_t n = S_ISLNK(st.st_mode) ? readlink(opt_.linkPath.c_str(), target, sizeof target - 1) : -1;
    if (n > 0 && std::strncmp(target, "/dev/pts/", 9) == 0 && stat(target, &st) != 0 && errno == ENOENT) return true;
    std::fprintf(stderr,
                 "lds-sim: %s already exists; not replacing it (only a link that lds-sim left to a pseudo-terminal "
                 "that is gone is replaced)\n",
                 opt_.linkPath.c_str());
    return false;
  }

  // Only a terminal device takes the packets as a line: a regular file
  // would be overwritten from its first byte. 0, or the exit status.
  int OpenDevice() {
    fd_ = open(opt_.devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
      std::fprintf(stderr, "lds-sim: cannot open %s: %s\n", opt_.devicePath.c_str(), std::strerror(errno));
      return 1;
    }
    if (!isatty(fd_)) {
      std::fprintf(stderr, "lds-sim: %s is not a terminal device; --device needs a serial port or a terminal\n",
                   opt_.devicePath.c_str());
      return 2;
    }
    MakeRaw(fd_, opt_.baud);
    path_ = opt_.devicePath;
    return 0;
  }

  bool OpenLine() {
    if (fd_ >= 0) return true;  // the device, opened first
    char name[256] = {};
    int master = -1, slave = -1;
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
      std::fprintf(stderr, "lds-sim: cannot create a pseudo-terminal: %s\n", std::strerror(errno));
      return false;
    }
    // Our own open slave keeps the master readable while no host has the port
    // open, and lets us drop bytes that nobody reads.
    MakeRaw(slave, opt_.baud);
    MakeRaw(master, opt_.baud);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    fd_ = master;
    slaveKeeper_ = slave;
    path_ = name;
    return true;
  }

  bool MakeLink() {
    // A stale link from an earlier run is replaced in one step.
    std::string tmp = opt_.linkPath + ".tmp" + std::to_string(getpid());
    unlink(tmp.c_str());
    if (symlink(path_.c_str(), tmp.c_str()) != 0 || rename(tmp.c_str(), opt_.linkPath.c_str()) != 0) {
      std::fprintf(stderr, "lds-sim: cannot create link %s: %s\n", opt_.linkPath.c_str(), std::strerror(errno));
      unlink(tmp.c_str());
      return false;
    }
    linkMade_ = true;
    return true;
  }

  // Only while it still points at our terminal: a later instance may have
  // taken the name over.
  void RemoveLink() {
    char target[512] = {};
    ssize_t n = readlink(opt_.linkPath.c_str(), target, sizeof target - 1);
    if (n > 0 && path_ == std::string(target, static_cast<size_t>(n))) unlink(opt_.linkPath.c_str());
  }

  int64_t Now() const { return MonotonicNs() - t0_; }

  int Loop() {
    int64_t nextTickNs = 0;
    for (;;) {
      int64_t now = Now();
      // Once a second the counters and the capture reach the disk, so that
      // readers see them while the simulator runs.
      if (now >= nextTickNs) {
        if (!opt_.statsFile.empty()) WriteStats();
        if (capture_ && std::fflush(capture_) != 0) return CaptureFailed();
        nextTickNs = now + 1'000'000'000;
      }
      if (!pending_.empty() && !FlushPending(now)) return 1;
      if (pending_.empty()) {
        if (hangupDue_) return 0;
        if (streaming_ && !SendDue(now)) return 1;
      }
      // After a command, once its acknowledgement is out, the counters are
      // written at once: a host that stopped the stream finds them final.
      if (commandSeen_ && pending_.empty() && !opt_.statsFile.empty()) WriteStats();
      if (pending_.empty()) commandSeen_ = false;

      int64_t wakeNs = nextTickNs;
      if (streaming_ && pending_.empty() && !replayDone_) wakeNs = std::min(wakeNs, NextSendNs(now));
      if (!pending_.empty()) wakeNs = std::min(wakeNs, now + 10'000'000);
      int64_t waitNs = std::max<int64_t>(0, wakeNs - Now());
      timespec ts{static_cast<time_t>(waitNs / 1'000'000'000), static_cast<long>(waitNs % 1'000'000'000)};
      pollfd fds[2] = {{fd_, static_cast<short>(POLLIN | (pending_.empty() ? 0 : POLLOUT)), 0},
                       {gSignalPipe[0], POLLIN, 0}};
      int n = ppoll(fds, 2, &ts, nullptr);
      if (n < 0 && errno != EINTR) {
        std::fprintf(stderr, "lds-sim: poll failed: %s\n", std::strerror(errno));
        return 1;
      }
      if (n <= 0) continue;
      if (fds[1].revents & POLLIN) return 0;
      if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
        if (!ReadCommands()) return 1;
      }
    }
  }

  // Reads what the host wrote and answers the commands in it.
  bool ReadCommands() {
    uint8_t buf[256];
    ssize_t n = read(fd_, buf, sizeof buf);
    if (n < 0) {
      if (errno == EAGAIN || errno == EINTR) return true;
      // A pty master reads EIO while no slave is open; ours always is, so this
      // is only a real device going away.
      std::fprintf(stderr, "lds-sim: read from %s failed: %s\n", path_.c_str(), std::strerror(errno));
      return false;
    }
    if (n == 0) {
      std::fprintf(stderr, "lds-sim: %s was closed\n", path_.c_str());
      return false;
    }
    for (sim::SimCommand c : parser_.Feed(buf, static_cast<size_t>(n))) {
      commandSeen_ = true;
      int64_t now = Now();
      if (c == sim::SimCommand::Start) {
        if (!streaming_) {
          nextIndex_ = std::max(nextIndex_, pacer_.FirstIndexAfter(now));
          pacer_.Book(now, 0);
        }
        streaming_ = true;
      } else {
        streaming_ = false;
      }
      SendAck(now);
    }
    return true;
  }

  void SendAck(int64_t now) {
    if (opt_.ack == sim::AckStyle::None) return;
    if (opt_.ack == sim::AckStyle::Short)
      Queue(kx::kAckShort, sizeof kx::kAckShort);
    else
      Queue(kx::kAckLong, sizeof kx::kAckLong);
    pacer_.Book(now, opt_.ack == sim::AckStyle::Short ? sizeof kx::kAckShort : sizeof kx::kAckLong);
    ++stats_.acks;
  }

  int64_t NextSendNs(int64_t now) const {
    if (replay_) return std::max(pacer_.LineFreeNs(), now);
    return pacer_.Next(nextIndex_, now).sendAtNs;
  }

  // Sends whatever is due by now: the next packet of the scene, or the next
  // piece of the replayed file.
  bool SendDue(int64_t now) {
    if (replay_) {
      if (replayDone_ || pacer_.LineFreeNs() > now) return true;
      uint8_t buf[kx::kPacketSize];
      size_t n = std::fread(buf, 1, sizeof buf, replay_);
      if (n == 0) {
        replayDone_ = true;
        std::fprintf(stderr, "lds-sim: replay of %s finished\n", opt_.replayFile.c_str());
        return true;
      }
      pacer_.Book(std::max(pacer_.LineFreeNs(), now - sim::LinePacer::kMaxLagNs), n);
      Queue(buf, n);
      replayCounter_.Feed(buf, n, stats_);
      return FlushPending(now);
    }
    sim::LinePacer::Slot slot = pacer_.Next(nextIndex_, now);
    if (slot.sendAtNs > now) return true;
    sim::PacketBytes packet = sim::EncodePacket(generator_.MakePacket(slot.index));
    nextIndex_ = slot.index + 1;
    uint64_t number = stats_.packets + 1;
    std::vector<uint8_t> junk;
    if (faults_.Apply(number, packet, junk)) ++stats_.badCrc;
    Queue(packet.data(), packet.size());
    Queue(junk.data(), junk.size());
    pacer_.Book(slot.sendAtNs, packet.size() + junk.size());
    stats_.packets = number;
    stats_.points += kx::kPointsPerPacket;
    stats_.garbageBytes += junk.size();
    if (opt_.hangupAfter != 0 && number >= opt_.hangupAfter) hangupDue_ = true;
    const bool flushed = FlushPending(now);
    if (marker_ && flushed && pending_.empty()) LogCompletedRevolutions(slot.index);
    return flushed;
  }

  // Notes the write time of the packet that completes each revolution: the
  // first packet that holds points of the next one.
  void LogCompletedRevolutions(uint64_t index) {
    const uint64_t revolution = generator_.RevolutionAtEnd(index);
    if (!revolutionSeen_) {
      revolutionSeen_ = true;
      loggedRevolution_ = revolution;
      return;
    }
    const int64_t now = MonotonicNs();
    for (; loggedRevolution_ < revolution; ++loggedRevolution_)
      std::fprintf(marker_, "%llu %lld\n", static_cast<unsigned long long>(loggedRevolution_),
                   static_cast<long long>(now));
    std::fflush(marker_);
  }

  void Queue(const uint8_t* data, size_t size) { pending_.insert(pending_.end(), data, data + size); }

  // Writes queued bytes as far as the terminal takes them. A terminal whose
  // buffer stays full has nobody reading it: like a line without a listener,
  // its stale bytes are dropped so that a host that connects later gets
  // fresh data.
  bool FlushPending(int64_t now) {
    while (!pending_.empty()) {
      ssize_t n = write(fd_, pending_.data(), pending_.size());
      if (n > 0) {
        if (capture_ && std::fwrite(pending_.data(), 1, static_cast<size_t>(n), capture_) != static_cast<size_t>(n)) {
          CaptureFailed();
          return false;
        }
        stats_.bytes += static_cast<uint64_t>(n);
        pending_.erase(pending_.begin(), pending_.begin() + n);
        blockedSinceNs_ = -1;
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EAGAIN) {
        if (blockedSinceNs_ < 0) blockedSinceNs_ = now;
        if (slaveKeeper_ >= 0 && now - blockedSinceNs_ > 1'000'000'000) {
          tcflush(slaveKeeper_, TCIFLUSH);
          blockedSinceNs_ = -1;
          continue;
        }
        return true;
      }
      std::fprintf(stderr, "lds-sim: write to %s failed: %s\n", path_.c_str(), std::strerror(errno));
      return false;
    }
    return true;
  }

  bool WriteStats() {
    if (WriteFileAtomically(opt_.statsFile, sim::FormatStatsFile(stats_))) return true;
    if (!statsWarned_)
      std::fprintf(stderr, "lds-sim: cannot write %s: %s\n", opt_.statsFile.c_str(), std::strerror(errno));
    statsWarned_ = true;
    return false;
  }

  // A capture that misses bytes would mislead whoever replays it.
  int CaptureFailed() {
    std::fprintf(stderr, "lds-sim: writing %s failed: %s\n", opt_.captureFile.c_str(), std::strerror(errno));
    return 1;
  }

  // Returns false when the capture could not be completed.
  bool Finish() {
    if (hangupDue_ && slaveKeeper_ >= 0) {
      // Give a reading host up to two seconds to take the last packets before
      // the line goes dead. Bytes just written may still be on their way into
      // the count, so the queue must read empty twice in a row.
      int64_t until = MonotonicNs() + 2'000'000'000;
      int emptyReads = 0, queued = 0;
      while (emptyReads < 2 && MonotonicNs() < until) {
        usleep(5000);
        if (ioctl(slaveKeeper_, FIONREAD, &queued) != 0) break;
        emptyReads = queued == 0 ? emptyReads + 1 : 0;
      }
    }
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    if (slaveKeeper_ >= 0) close(slaveKeeper_);
    slaveKeeper_ = -1;
    if (linkMade_) RemoveLink();
    bool ok = true;
    if (capture_) {
      ok = std::fclose(capture_) == 0;
      capture_ = nullptr;
      if (!ok) std::fprintf(stderr, "lds-sim: writing %s failed\n", opt_.captureFile.c_str());
    }
    if (!opt_.statsFile.empty()) WriteStats();
    std::fprintf(stderr, "%s\n", sim::FormatSummary(stats_).c_str());
    return ok;
  }

  sim::SimOptions opt_;
  sim::SimScene scene_;
  sim::LinePacer pacer_;
  sim::ScanGenerator generator_;
  sim::FaultInjector faults_;
  sim::CommandParser parser_;
  sim::SimStats stats_;
  int fd_ = -1;
  int slaveKeeper_ = -1;
  std::string path_;
  bool linkMade_ = false;
  FILE* capture_ = nullptr;
  FILE* replay_ = nullptr;
  FILE* marker_ = nullptr;
  bool revolutionSeen_ = false;
  uint64_t loggedRevolution_ = 0;
  sim::StreamCounter replayCounter_;
  bool replayDone_ = false;
  bool streaming_ = false;
  bool hangupDue_ = false;
  bool statsWarned_ = false;
  bool commandSeen_ = false;
  int64_t t0_ = 0;
  uint64_t nextIndex_ = 0;
  int64_t blockedSinceNs_ = -1;
  std::vector<uint8_t> pending_;
};

}  // namespace

int main(int argc, char** argv) {
  EnsureStandardDescriptors();
  sim::ParseResult parsed = sim::ParseSimOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.ok) {
    std::fprintf(stderr, "lds-sim: %s\n%s", parsed.error.c_str(), sim::SimUsage());
    return 2;
  }
  if (parsed.options.help) {
    std::fputs(sim::SimUsage(), stdout);
    return 0;
  }
  if (pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    std::perror("lds-sim: pipe");
    return 1;
  }
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGHUP, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  Simulator simulator(parsed.options);
  return simulator.Run();
}
