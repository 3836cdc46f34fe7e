// Measures what reaches the display: the real main window shows lds-sim's room
// with its revolution marker (1 m in even, 2 m in odd revolutions, at 150
// degrees, away from the angles that calibration leaves empty), and a thread of
// its own reads the two marker spots from the X server's pixels about every
// millisecond. Each revolution's latency runs from the simulator writing the
// packet that completes it (its --marker log) to the display first showing that
// revolution's marker. A revolution whose marker never shows before the next
// one with the same parity is missed.
// With "tcp" or "rfc2217" after the seconds, the window connects through a
// real ser2net on 127.0.0.1 that serves the simulator's terminal, as a robot
// would serve its sensor. With WIDTHxHEIGHT, the whole window takes that size
// (the screen must hold it).
// A measuring program, not a test:
//
//   xvfb-run -a -s "-screen 0 1920x1080x24" build/bench/screen_latency SECONDS [tcp|rfc2217] [1920x1080]
#include <vtkObject.h>

#include <QApplication>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "app/MainWindow.h"
#include "tests/support/Ser2net.h"
#include "viewer/SceneWidget.h"
#include "viewer/vtkViewer.h"
// clang-format off
#include <X11/Xlib.h>
#include <X11/Xutil.h>
// clang-format on

namespace {

int64_t NowNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

bool Coloured(unsigned long pixel) {
  const int r = (pixel >> 16) & 0xff, g = (pixel >> 8) & 0xff, b = pixel & 0xff;
  return std::max({r, g, b}) - std::min({r, g, b}) > 60;
}

struct Change {
  int64_t ns;
  int parity;  // 0: the 1 m marker shows, 1: the 2 m marker
};

// Polls two small squares of the root window and notes every change of which
// marker is lit.
class MarkerWatcher {
 public:
  MarkerWatcher(QPoint even, QPoint odd) : even(even), odd(odd) {}
  void Start() {
    thread = std::thread([this] { Run(); });
  }
  std::vector<Change> Stop() {
    running = false;
    thread.join();
    return changes;
  }
  long Polls() const { return polls; }

 private:
  bool Lit(Display* d, QPoint at) {
    XImage* img = XGetImage(d, DefaultRootWindow(d), at.x() - 3, at.y() - 3, 7, 7, AllPlanes, ZPixmap);
    if (!img) return false;
    int n = 0;
    for (int y = 0; y < 7; ++y)
      for (int x = 0; x < 7; ++x) n += Coloured(XGetPixel(img, x, y));
    XDestroyImage(img);
    return n >= 2;
  }
  void Run() {
    Display* d = XOpenDisplay(nullptr);
    int state = -1;
    while (running) {
      const bool e = Lit(d, even), o = Lit(d, odd);
      const int64_t now = NowNs();
      ++polls;
      const int seen = e && !o ? 0 : (o && !e ? 1 : -1);
      if (seen >= 0 && seen != state) {
        changes.push_back({now, seen});
        state = seen;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(700));
    }
    XCloseDisplay(d);
  }
  QPoint even, odd;
  std::thread thread;
  std::atomic<bool> running{true};
  std::atomic<long> polls{0};
  std::vector<Change> changes;
};

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return -1;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5))];
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::max(5, std::atoi(argv[1])) : 60;
  vtkObject::SetGlobalWarningDisplay(0);
  vtkViewer::PrepareOpenGL();
  QApplication app(argc, argv);
  QTemporaryDir tmp;
  const QString marks = tmp.path() + "/marks";
  QProcess sim;
  sim.start(LDS_SIM_PATH, {"--autostart", "--pps", "6000", "--marker", marks});
  if (!sim.waitForStarted() || !sim.waitForReadyRead(5000)) {
    std::fprintf(stderr, "lds-sim did not start\n");
    return 1;
  }
  QString port = QString(sim.readLine()).trimmed();
  std::unique_ptr<Ser2net> server;
  std::string via;
  int width = 0, height = 0;
  for (int i = 2; i < argc; ++i) {
    char tail = 0;
    if (std::sscanf(argv[i], "%dx%d%c", &width, &height, &tail) == 2 && width >= 640 && height >= 480) continue;
    if (!via.empty() || std::strchr(argv[i], 'x')) {
      std::fprintf(stderr, "expected tcp, rfc2217 or a size like 1920x1080 (at least 640x480), not %s\n", argv[i]);
      return 2;
    }
    via = argv[i];
  }
  if (via == "tcp" || via == "rfc2217") {
    server = std::make_unique<Ser2net>(tmp.path().toStdString(), port.toStdString(),
                                       via == "tcp" ? Ser2net::Accepter::Raw : Ser2net::Accepter::Rfc2217);
    port = QString::fromStdString(server->Address());
  } else if (!via.empty()) {
    std::fprintf(stderr, "the way to the sensor is tcp or rfc2217, not %s\n", via.c_str());
    return 2;
  }
  std::printf("port %s\n", port.toStdString().c_str());

  // Measured from the first-start settings, leaving the operator's saved ones alone.
  QTemporaryDir settingsDir;
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
  MainWindow window;
  std::atomic<long> published{0};
  QObject::connect(&window, &MainWindow::signalScanFrame, &window, [&](std::vector<KXScanPoint> f) {
    published += std::any_of(f.begin(), f.end(), [](const KXScanPoint& p) { return p.distance != 0; });
  });
  if (width > 0) window.resize(width, height);
  window.show();
  window.UsePort(port, 230400, true);

  // The camera looks down on the origin from 40 m with a 30 degree view
  // angle, +x up and +y to the left: the marker at 150 degrees lies below
  // and left of the centre of the view.
  auto* view = window.findChild<SceneWidget*>("viewer");
  MarkerWatcher* watcher = nullptr;
  int64_t startNs = 0, endNs = 0;
  long publishedAtStart = 0, publishedAtEnd = 0;
  QTimer::singleShot(3000, [&] {
    const QPoint centre = view->mapToGlobal(view->rect().center());
    const double pixelsPerMetre = view->height() / (2 * 40 * std::tan(M_PI / 12));
    auto at = [&](double metres) {
      const double a = 150.0 * M_PI / 180.0;
      return centre + QPoint(static_cast<int>(std::lround(-std::sin(a) * metres * pixelsPerMetre)),
                             static_cast<int>(std::lround(-std::cos(a) * metres * pixelsPerMetre)));
    };
    watcher = new MarkerWatcher(at(1.0), at(2.0));
    publishedAtStart = published;
    startNs = NowNs();
    watcher->Start();
  });
  QTimer::singleShot(3000 + seconds * 1000, [&] {
    endNs = NowNs();
    publishedAtEnd = published;
    app.quit();
  });
  app.exec();
  const std::vector<Change> changes = watcher->Stop();
  sim.terminate();
  sim.waitForFinished();

  std::vector<std::pair<long, int64_t>> completed;  // revolution, write time of its last packet
  std::ifstream in(marks.toStdString());
  long rev = 0;
  long long ns = 0;
  while (in >> rev >> ns)
    if (ns > startNs + 200'000'000 && ns < endNs - 500'000'000) completed.emplace_back(rev, ns);

  std::vector<double> latencies;
  size_t next = 0;
  long missed = 0;
  for (size_t i = 0; i < completed.size(); ++i) {
    const int parity = static_cast<int>(completed[i].first % 2);
    // The revolution two later shows the same marker again: a change found
    // only after that one was written belongs to it, not to this one.
    const int64_t limit = i + 2 < completed.size() ? completed[i + 2].second : endNs;
    while (next < changes.size() && changes[next].ns < completed[i].second) ++next;
    size_t k = next;
    while (k < changes.size() && changes[k].parity != parity) ++k;
    if (k < changes.size() && changes[k].ns < limit) {
      latencies.push_back((changes[k].ns - completed[i].second) / 1e6);
      next = k + 1;
    } else {
      ++missed;
    }
  }
  std::printf("window %dx%d, view %dx%d\n", window.width(), window.height(), view->width(), view->height());
  std::printf("window %d s: revolutions completed %zu, published frames %ld, presented %zu, missed %ld\n", seconds,
              completed.size(), publishedAtEnd - publishedAtStart, latencies.size(), missed);
  std::printf("latency from the last packet written to the display (ms): median %.1f, p99 %.1f, max %.1f\n",
              Percentile(latencies, 0.5), Percentile(latencies, 0.99), Percentile(latencies, 1.0));
  std::printf("display polls: %ld (one every %.2f ms)\n", watcher->Polls(),
              seconds * 1000.0 / std::max(1L, watcher->Polls()));
  return latencies.empty() ? 1 : 0;
}
