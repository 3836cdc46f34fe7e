// lds-record: records a rotating laser distance sensor without a window.
// A thin shell around RecordSession: arguments, signals, the serial link,
// the 10 ms poll, progress and exit status.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <future>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "protocol/KXProtocol.h"
#include "record/RecordConsole.h"
#include "record/RecordOptions.h"
#include "record/RecordOutputs.h"
#include "record/RecordSession.h"
#include "serial/PortAddress.h"
#include "serial/StdDescriptors.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPollPeriod = std::chrono::milliseconds(10);
constexpr auto kSilenceLimit = std::chrono::seconds(3);
constexpr auto kProgressPeriod = std::chrono::milliseconds(250);
constexpr auto kReconnectPeriod = std::chrono::seconds(1);
// Two seconds of points at the highest line rate: a recording may be starved
// (a slow disk, a loaded host) for far longer than the default queue covers,
// and every point it drops is a hole in the data.
constexpr size_t kQueueLimitPoints = 24000;

std::atomic<int> stopSignals{0};  // stop signals received so far

void OnStopSignal(int) { stopSignals.fetch_add(1); }

// SIGHUP (an ssh session that drops) ends the recording like Ctrl-C; a closed
// pipe is seen as a failed write rather than a fatal signal.
void InstallSignalHandlers() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }
int64_t Ms(Clock::duration d) { return std::chrono::duration_cast<std::chrono::milliseconds>(d).count(); }

// The live progress line on a terminal, through the console so that a
// stopped terminal never holds the recording up.
class Progress {
 public:
  Progress(bool enabled, RecordConsole& console) : enabled(enabled), console(console) {}
  void Show(const std::string& line) {
    if (!enabled) return;
    console.Post("\r" + line + "\033[K");
    shown = true;
  }
  // Ends the live line so that a message can follow on a line of its own.
  void Break() {
    if (shown) console.Post("\n");
    shown = false;
  }

 private:
  bool enabled;
  RecordConsole& console;
  bool shown = false;
};

}  // namespace

int main(int argc, char** argv) {
  EnsureStandardDescriptors();
  RecordOptions options;
  std::string error;
  const ParseOutcome parsed = ParseRecordArgs(std::vector<std::string>(argv + 1, argv + argc), options, error);
  if (parsed == ParseOutcome::Help) {
    std::cout << RecordUsage();
    return 0;
  }
  if (parsed == ParseOutcome::Error) {
    std::cerr << "lds-record: " << error << "\n\n" << RecordUsage();
    return 2;
  }
  InstallSignalHandlers();

  // Open every output before the sensor starts, so that a bad path costs
  // nothing; whatever this run created and left empty goes again at the end.
  std::unique_ptr<CsvRecorder> csv;
  std::unique_ptr<RawRecorder> raw;
  std::unique_ptr<PcdRecorder> pcd;
  std::unique_ptr<StatsRecorder> stats;
  auto removeUnused = [&] {
    if (stats) stats->RemoveIfUnused();
    if (csv) csv->RemoveIfUnused();
    if (raw) raw->RemoveIfUnused();
    if (pcd) pcd->RemoveIfUnused();
  };
  auto openFailed = [&] {
    std::cerr << "lds-record: " << error << '\n';
    removeUnused();
    return 1;
  };
  if (!options.csvPath.empty()) {
    csv = std::make_unique<CsvRecorder>();
    if (!csv->Open(options.csvPath, error)) return openFailed();
  }
  if (!options.rawPath.empty()) {
    raw = std::make_unique<RawRecorder>();
    if (!raw->Open(options.rawPath, error)) return openFailed();
  }
  if (!options.pcdDir.empty()) {
    pcd = std::make_unique<PcdRecorder>();
    if (!pcd->Open(options.pcdDir, error)) return openFailed();
  }
  if (!options.statsPath.empty()) {
    stats = std::make_unique<StatsRecorder>();
    if (!stats->Open(options.statsPath, error)) return openFailed();
  }

  // Left behind at exit, since its writer may still wait on a stalled reader;
  // held by a static so that the leak checker sees it as still in use.
  static RecordConsole* const leftBehind = new RecordConsole;
  RecordConsole& console = *leftBehind;
  if (!console.Start(error)) return openFailed();
  const bool onTerminal = isatty(STDERR_FILENO) == 1;
  Progress progress(onTerminal, console);
  auto finish = [&](int status) {
    removeUnused();
    console.Finish(1000);
    return status;
  };

  KXProtocol protocol;
  protocol.SetAngleOffset(options.angleOffset);
  protocol.SetQueueLimit(kQueueLimitPoints);
  // For --raw every received chunk goes to the spool, from which this thread
  // writes the file; the I/O thread never waits on the disk.
  RawSpool spool;
  std::vector<uint8_t> chunk, cutBytes;
  std::unique_ptr<RawRevolutionCut> cut;
  if (raw && options.revolutions > 0) cut = std::make_unique<RawRevolutionCut>();
  if (raw) protocol.SetRawObserver([&spool](const uint8_t* data, uint32_t size) { spool.Append(data, size); });

  PortAddress address;
  ParsePortAddress(options.port, address, error);
  if (!protocol.Connect(options.port, options.baud)) {
    console.Post("lds-record: cannot " + std::string(address.IsNetwork() ? "connect to " : "open serial port ") +
                 options.port + ": " + protocol.LastError() + "\n");
    return finish(1);
  }
  if (!options.noStart && !protocol.EnableLidar()) {
    console.Post("lds-record: the sensor on " + options.port + " did not acknowledge the start command\n");
    protocol.Disconnect();
    return finish(1);
  }

  int status = 0;
  auto fail = [&](const std::string& message) {
    progress.Break();
    console.Post("lds-record: " + message + "\n");
    status = 1;
  };

  RecordSession session(options.settings, csv.get(), pcd.get(), options.revolutions, stats.get());
  const Clock::time_point start = Clock::now();
  std::vector<std::string> anomalies;
  uint64_t discarded = 0;  // points drained but not recorded after a failure
  auto process = [&](std::vector<KXScanPoint> batch) {
    if (status != 0) {
      discarded += batch.size();
      return;
    }
    anomalies.clear();
    const bool ok = session.ProcessPoll(std::move(batch), error, anomalies);
    for (const std::string& line : anomalies) {
      progress.Break();
      console.Post(line + "\n");
    }
    if (!ok) fail(error + "; recording stopped");
  };
  // One poll: the points taken are filed as one batch, as the window's
  // worker does, and what arrived since the last poll is written raw (with
  // --revolutions, as far as the rows have decided where their revolutions lie).
  auto poll = [&]() {
    if (raw) spool.TakeInto(chunk);
    std::vector<KXScanPoint> points = protocol.TakeScanPoints();
    float rpm = 0.0f;
    uint16_t timestamp = 0;
    protocol.GetSpeedAndTimestamp(&rpm, &timestamp);
    session.SetLink(protocol.GetLinkStats(), rpm,
                    std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
    process(std::move(points));
    if (raw) {
      if (cut) {
        cutBytes.clear();
        cut->Feed(chunk.data(), chunk.size(), session.Span(), cutBytes);
      }
      if (status == 0 && !raw->Write(cut ? cutBytes : chunk, error)) fail(error + "; recording stopped");
    }
  };

  Clock::time_point lastData = start;
  Clock::time_point lastProgress = start;
  uint64_t lastBytes = protocol.GetLinkStats().bytesReceived;
  int closingPolls = 0;
  // While the link is down (--reconnect): since when, when to try next and
  // the reason last reported.
  bool linkDown = false;
  Clock::time_point lostAt, nextAttempt;
  std::string downReason;
  while (status == 0 && stopSignals.load() == 0) {
    poll();
    const Clock::time_point now = Clock::now();
    const KXLinkStats link = protocol.GetLinkStats();
    if (link.bytesReceived != lastBytes) {
      lastBytes = link.bytesReceived;
      lastData = now;
    }
    if (status != 0) break;
    if (console.StdoutClosed()) {
      fail("standard output was closed; recording stopped");
      break;
    }
    if (!linkDown) {
      std::string lost;
      if (!protocol.IsConnected()) {
        lost = protocol.LastError().empty() ? "the port closed" : protocol.LastError();
        if (!options.reconnect) {
          fail("lost the link to " + options.port + ": " + lost + "; recording stopped");
          break;
        }
      } else if (now - lastData >= kSilenceLimit) {
        if (!options.reconnect) {
          fail("the sensor on " + options.port + " sent nothing for 3 s; recording stopped");
          break;
        }
        lost = "the sensor sent nothing for 3 s";
      }
      if (!lost.empty()) {
        progress.Break();
        console.Post("lds-record: lost the link to " + options.port + ": " + lost +
                     "; connecting again every second\n");
        // What arrived before the loss is filed before the gap.
        protocol.Disconnect();
        poll();
        linkDown = true;
        lostAt = now;
        nextAttempt = now + kReconnectPeriod;
        downReason = lost;
      }
    } else if (now >= nextAttempt) {
      nextAttempt = now + kReconnectPeriod;
      if (cut) cut->Restart();
      // Reconnecting reports its reasons in one line each, not every second.
      protocol.SetConsoleReports(false);
      std::string why;
      if (!protocol.Connect(options.port, options.baud)) {
        why = protocol.LastError();
      } else if (!options.noStart && !protocol.EnableLidar()) {
        why = "the sensor did not acknowledge the start command";
        protocol.Disconnect();
      }
      protocol.SetConsoleReports(true);
      const Clock::time_point back = Clock::now();
      if (why.empty()) {
        if (!session.Gap(Ms(lostAt - start), Ms(back - start), error)) {
          fail(error + "; recording stopped");
          break;
        }
        progress.Break();
        char line[200];
        std::snprintf(line, sizeof line, "lds-record: the link to %s is back after %.1f s\n", options.port.c_str(),
                      Seconds(back - lostAt));
        console.Post(line);
        linkDown = false;
        lastData = back;
        lastBytes = protocol.GetLinkStats().bytesReceived;
      } else if (why != downReason) {
        progress.Break();
        console.Post("lds-record: " + options.port + ": " + why + "; trying again\n");
        downReason = why;
      }
    }
    if (options.seconds > 0.0 && Seconds(now - start) >= options.seconds) break;
    // The raw cut closes with the packet after the last revolution's end: it
    // gets up to 300 ms to arrive.
    if (session.RevolutionLimitReached() && (!cut || cut->Done() || ++closingPolls > 30)) break;
    if (onTerminal && now - lastProgress >= kProgressPeriod) {
      lastProgress = now;
      float rpm = 0.0f;
      uint16_t timestamp = 0;
      protocol.GetSpeedAndTimestamp(&rpm, &timestamp);
      const double elapsed = Seconds(now - start);
      const RecordSession::Counters& c = session.Stats();
      char line[240];
      int used = std::snprintf(
          line, sizeof line, "%7.1f s  %ld revolutions  %llu points  %.0f points/s  %.1f r/min  %llu CRC errors",
          elapsed, c.revolutions, static_cast<unsigned long long>(c.pointsFiled),
          elapsed > 0 ? c.pointsFiled / elapsed : 0.0, rpm, static_cast<unsigned long long>(link.crcErrors));
      if (link.droppedPoints > 0 && used > 0 && static_cast<size_t>(used) < sizeof line)
        used += std::snprintf(line + used, sizeof line - static_cast<size_t>(used), "  %llu points dropped",
                              static_cast<unsigned long long>(link.droppedPoints));
      if (linkDown && used > 0 && static_cast<size_t>(used) < sizeof line)
        std::snprintf(line + used, sizeof line - static_cast<size_t>(used), "  link down for %.0f s",
                      Seconds(now - lostAt));
      progress.Show(line);
    }
    std::this_thread::sleep_for(kPollPeriod);
  }
  // A recording that ends while the link is down still marks the gap.
  if (linkDown && status == 0 && !session.Gap(Ms(lostAt - start), Ms(Clock::now() - start), error))
    fail(error + "; what was written is kept");
  const double elapsed = Seconds(Clock::now() - start);
  const int signalsAtEnd = stopSignals.load();

  // Stop the sensor while this thread goes on polling: points that arrive
  // during the acknowledgement wait are recorded too.
  if (protocol.IsConnected()) {
    std::future<bool> stopped = std::async(std::launch::async, [&protocol] { return protocol.DisableLidar(); });
    while (stopped.wait_for(kPollPeriod) != std::future_status::ready) {
      poll();
    }
    if (!stopped.get()) {
      progress.Break();
      console.Post("lds-record: warning: the sensor did not acknowledge the stop command\n");
    }
  }
  protocol.Disconnect();
  // The port's I/O thread has ended: what is spooled now is the complete rest.
  poll();
  protocol.SetRawObserver(nullptr);

  // A slow raw reader gets one second for the rest; another signal ends the wait.
  if (raw && status == 0 &&
      !raw->Drain(
          1000, [&] { return stopSignals.load() != signalsAtEnd; }, error))
    fail(error + "; what was written is kept");
  if (csv && !csv->Close(error) && status == 0) fail(error);
  if (raw && !raw->Close(error) && status == 0) fail(error);
  if (stats && !stats->Close(error) && status == 0) fail(error);

  const RecordSession::Counters& c = session.Stats();
  const KXLinkStats link = protocol.GetLinkStats();
  // The queue is empty after the last poll: every decoded point was either
  // taken or trimmed from the queue while this thread fell behind.
  const uint64_t decoded = link.packets * 12;
  const uint64_t handled = c.pointsTaken + discarded;
  const uint64_t lost = decoded > handled ? decoded - handled : 0;
  progress.Break();
  if (lost > 0) {
    std::string warning = "lds-record: warning: " + std::to_string(lost) + " received points were not recorded";
    if (link.droppedPoints > 0)
      warning += " (" + std::to_string(link.droppedPoints) + " dropped because the recorder fell more than " +
                 std::to_string(kQueueLimitPoints) + " points behind)";
    console.Post(warning + "\n");
  }
  finish(status);
  char outages[80] = "";
  if (options.reconnect || c.outages > 0)
    std::snprintf(outages, sizeof outages, ", %ld outages (%.1f s without a link)", c.outages, c.outageMs / 1000.0);
  std::printf(
      "lds-record: %.1f s, %ld revolutions, %llu points received, %llu points filed, %llu points lost, %llu CRC "
      "errors%s\n",
      elapsed, c.revolutions, static_cast<unsigned long long>(c.pointsTaken),
      static_cast<unsigned long long>(c.pointsFiled), static_cast<unsigned long long>(lost),
      static_cast<unsigned long long>(link.crcErrors), outages);
  std::fflush(stdout);
  return status;
}
