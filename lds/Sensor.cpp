#include "lds/Sensor.h"

#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "lds/Error.h"
#include "lds/RevolutionBuilder.h"
#include "protocol/KXProtocol.h"

namespace lds {

namespace {

constexpr auto kPollPeriod = std::chrono::milliseconds(10);
// Two seconds of points at the highest line rate, as the recorder keeps: the
// reading thread may be starved for a while on a loaded host.
constexpr size_t kQueueLimitPoints = 24000;

// The threads the library starts (its reader, the port's I/O thread) inherit
// the signal mask of the thread that starts them. Blocking the stop signals
// meanwhile leaves them to the program's own threads: Ctrl-C reaches the
// thread that waits in Next, and Python's handler, there.
class StopSignalsBlocked {
 public:
  StopSignalsBlocked() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) sigaddset(&set, s);
    pthread_sigmask(SIG_BLOCK, &set, &old);
  }
  ~StopSignalsBlocked() { pthread_sigmask(SIG_SETMASK, &old, nullptr); }

 private:
  sigset_t old;
};

}  // namespace

class __attribute__((visibility("hidden"))) Sensor::Impl {
 public:
  explicit Impl(const Settings& s) : settings(s) { protocol.SetConsoleReports(false); }

  void Read();
  Settings CurrentSettings() {
    std::lock_guard<std::mutex> lock(settingsMutex);
    return settings;
  }
  void Command(bool (KXProtocol::*send)(), const char* name, bool starts);

  KXProtocol protocol;
  // Held around every call that may replace or close the port (Connect,
  // Disconnect, the commands with their reconnect) and around the reading
  // thread's look at whether the port still works.
  std::mutex linkMutex;
  std::string port;
  std::atomic<bool> open{false};  // written under linkMutex
  bool started = false;

  std::mutex settingsMutex;
  Settings settings;
  bool settingsChanged = false;

  std::thread reader;
  std::mutex mutex;  // guards what follows
  std::condition_variable arrived;
  std::condition_variable stopping;
  bool running = false;
  std::deque<Revolution> waiting;
  uint64_t droppedRevolutions = 0;
  bool lost = false;
  std::string lostReason;
};

void Sensor::Impl::Command(bool (KXProtocol::*send)(), const char* name, bool starts) {
  std::lock_guard<std::mutex> link(linkMutex);
  if (!open) throw Error("the sensor is not open");
  StopSignalsBlocked blocked;
  if (!(protocol.*send)()) {
    const std::string reason = protocol.IsConnected() ? "" : ": " + protocol.LastError();
    throw Error("the sensor on " + port + " did not acknowledge the " + name + " command" + reason);
  }
  started = starts;
}

void Sensor::Impl::Read() {
  RevolutionBuilder builder(CurrentSettings());
  std::vector<Revolution> done;
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(settingsMutex);
      if (settingsChanged) builder.SetSettings(settings);
      settingsChanged = false;
    }
    // A failed port decodes nothing more: judged before the points are
    // taken, so that the last ones still reach their revolution. A command
    // in progress may close and reopen the port: judge it only when none is.
    bool failed = false;
    std::string reason;
    if (linkMutex.try_lock()) {
      failed = !protocol.IsConnected();
      if (failed) reason = protocol.LastError();
      linkMutex.unlock();
    }
    std::vector<KXScanPoint> points = protocol.TakeScanPoints();
    float rpm = 0.0f;
    uint16_t stamp = 0;
    protocol.GetSpeedAndTimestamp(&rpm, &stamp);
    done.clear();
    builder.Add(std::move(points), rpm, stamp, ToLinkStats(protocol.GetLinkStats()), done);

    std::unique_lock<std::mutex> lock(mutex);
    for (Revolution& r : done) {
      if (waiting.size() >= kMaxWaiting) {
        waiting.pop_front();
        ++droppedRevolutions;
      }
      waiting.push_back(std::move(r));
    }
    if (failed) {
      lost = true;
      lostReason = reason.empty() ? "the port closed" : reason;
    }
    if (!done.empty() || failed) arrived.notify_all();
    if (failed || stopping.wait_for(lock, kPollPeriod, [this] { return !running; })) return;
  }
}

Sensor::Sensor(const Settings& settings) : impl(std::make_unique<Impl>(settings)) {
  const std::string problem = settings.Check();
  if (!problem.empty()) throw Error(problem);
}

Sensor::~Sensor() { Close(); }

void Sensor::Open(const std::string& port, int baud) {
  if (baud != 115200 && baud != 230400 && baud != 460800)
    throw Error("the baud rate must be 115200, 230400 or 460800, not " + std::to_string(baud));
  std::lock_guard<std::mutex> link(impl->linkMutex);
  if (impl->open) throw Error("the sensor is open already, on " + impl->port);
  StopSignalsBlocked blocked;
  {
    std::lock_guard<std::mutex> lock(impl->settingsMutex);
    impl->protocol.SetAngleOffset(impl->settings.angleOffset);
    impl->settingsChanged = false;
  }
  impl->protocol.SetQueueLimit(kQueueLimitPoints);
  if (!impl->protocol.Connect(port, baud)) throw Error("cannot open " + port + ": " + impl->protocol.LastError());
  // Points left from an earlier opening belong to no revolution of this one.
  impl->protocol.TakeScanPoints();
  impl->port = port;
  impl->open = true;
  impl->started = false;
  {
    std::lock_guard<std::mutex> lock(impl->mutex);
    impl->waiting.clear();
    impl->lost = false;
    impl->lostReason.clear();
    impl->running = true;
  }
  impl->reader = std::thread(&Impl::Read, impl.get());
}

void Sensor::Close() {
  std::lock_guard<std::mutex> link(impl->linkMutex);
  if (!impl->open) return;
  // Like the window: a sensor this object started does not spin on after it.
  if (impl->started && impl->protocol.IsConnected()) {
    StopSignalsBlocked blocked;
    impl->protocol.DisableLidar();
  }
  {
    std::lock_guard<std::mutex> lock(impl->mutex);
    impl->running = false;
  }
  impl->stopping.notify_all();
  impl->reader.join();
  impl->protocol.Disconnect();
  impl->open = false;
  impl->started = false;
  {
    std::lock_guard<std::mutex> lock(impl->mutex);
    impl->waiting.clear();
  }
  impl->arrived.notify_all();
}

bool Sensor::IsOpen() const { return impl->open; }

void Sensor::Start() { impl->Command(&KXProtocol::EnableLidar, "start", true); }

void Sensor::Stop() { impl->Command(&KXProtocol::DisableLidar, "stop", false); }

bool Sensor::Next(Revolution& revolution, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(impl->mutex);
  auto ready = [this] { return !impl->waiting.empty() || impl->lost || !impl->running; };
  if (!impl->arrived.wait_for(lock, timeout, ready)) return false;
  if (!impl->waiting.empty()) {
    revolution = std::move(impl->waiting.front());
    impl->waiting.pop_front();
    return true;
  }
  if (impl->lost) throw Error("lost the port " + impl->port + ": " + impl->lostReason);
  throw Error("the sensor is not open");
}

Settings Sensor::GetSettings() const { return impl->CurrentSettings(); }

void Sensor::SetSettings(const Settings& settings) {
  const std::string problem = settings.Check();
  if (!problem.empty()) throw Error(problem);
  std::lock_guard<std::mutex> lock(impl->settingsMutex);
  impl->settings = settings;
  impl->settingsChanged = true;
  impl->protocol.SetAngleOffset(settings.angleOffset);
}

LinkStats Sensor::GetLinkStats() const {
  LinkStats stats = ToLinkStats(impl->protocol.GetLinkStats());
  std::lock_guard<std::mutex> lock(impl->mutex);
  stats.droppedRevolutions = impl->droppedRevolutions;
  return stats;
}

void Sensor::SetRawObserver(std::function<void(const uint8_t* data, size_t size)> observer) {
  if (!observer) {
    impl->protocol.SetRawObserver(nullptr);
    return;
  }
  impl->protocol.SetRawObserver(
      [observer = std::move(observer)](const uint8_t* data, uint32_t size) { observer(data, size); });
}

}  // namespace lds
