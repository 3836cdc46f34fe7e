// Drives the real main window the way an operator does (connect, record,
// start, ..., stop) and measures it from inside: CPU share, resident memory,
// and the time from launch to the window shown. The latency to the display's
// pixels is screen_latency's. A measuring tool for bench/app/soak.sh, not a test.
#include <pthread.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>
#include <vtkObject.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <deque>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/MainWindow.h"
#include "viewer/SceneWidget.h"
#include "viewer/vtkViewer.h"

namespace {

int64_t NowNs(clockid_t clock = CLOCK_MONOTONIC) {
  timespec ts{};
  clock_gettime(clock, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

// utime + stime of a /proc stat file, in clock ticks.
int64_t CpuTicks(const std::string& statPath) {
  std::ifstream in(statPath);
  std::string line;
  std::getline(in, line);
  const size_t close = line.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream rest(line.substr(close + 2));
  std::string field;
  int64_t utime = 0, stime = 0;
  for (int i = 3; i <= 15 && rest >> field; ++i) {
    if (i == 14) utime = std::stoll(field);
    if (i == 15) stime = std::stoll(field);
  }
  return utime + stime;
}

long StatusKb(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const std::string k = std::string(key) + ":";
  while (std::getline(in, line)) {
    if (line.rfind(k, 0) == 0) return std::stol(line.substr(k.size()));
  }
  return -1;
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return -1;
  std::sort(v.begin(), v.end());
  const size_t i = std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5));
  return v[i];
}

// Answers the next modal widget with `handler`, from a fresh event.
void AnswerNextModal(std::function<void(QWidget*)> handler) {
  auto* timer = new QTimer;
  QObject::connect(timer, &QTimer::timeout, [timer, handler]() {
    QWidget* w = QApplication::activeModalWidget();
    if (!w || !w->isVisible()) return;
    timer->stop();
    timer->deleteLater();
    QTimer::singleShot(0, [w, handler]() { handler(w); });
  });
  timer->start(10);
}

void PressOk(QWidget* w) {
  if (auto* box = qobject_cast<QMessageBox*>(w)) {
    std::fprintf(stderr, "soak: message box: %s\n", qPrintable(box->text()));
    box->button(QMessageBox::Ok)->click();
  }
}

struct Options {
  QString port;
  QString baud = "460800";
  QString csv;
  int seconds = 600;
  QString report;
  QString screenshot;
  int64_t t0RealtimeNs = 0;  // process launch, for the start-up figure
  bool startupOnly = false;
};

}  // namespace

int main(int argc, char* argv[]) {
  vtkObject::SetGlobalWarningDisplay(0);
  vtkViewer::PrepareOpenGL();
  QApplication app(argc, argv);

  Options opt;
  const QStringList args = app.arguments();
  for (int i = 1; i + 1 < args.size(); i += 2) {
    const QString& k = args[i];
    const QString& v = args[i + 1];
    if (k == "--port")
      opt.port = v;
    else if (k == "--baud")
      opt.baud = v;
    else if (k == "--csv")
      opt.csv = v;
    else if (k == "--seconds")
      opt.seconds = v.toInt();
    else if (k == "--report")
      opt.report = v;
    else if (k == "--screenshot")
      opt.screenshot = v;
    else if (k == "--t0-ns")
      opt.t0RealtimeNs = v.toLongLong();
    else if (k == "--startup-only")
      opt.startupOnly = v == "1";
  }

  // Measured from the first-start settings, leaving the operator's saved ones alone.
  QTemporaryDir settingsDir;
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
  MainWindow window;
  window.setWindowTitle(MainWindow::kWindowTitle);
  auto* view = window.findChild<vtkViewer*>("viewerWidget");
  auto* gl = view->findChild<SceneWidget*>("viewer");

  std::vector<std::string> lines;
  auto note = [&lines](const std::string& s) {
    lines.push_back(s);
    std::fprintf(stderr, "soak: %s\n", s.c_str());
  };

  // Start-up: from the launch of the process to the first frame of the view on screen.
  bool firstSwap = true;
  QObject::connect(gl, &SceneWidget::Presented, [&]() {
    if (!firstSwap) return;
    firstSwap = false;
    if (opt.t0RealtimeNs > 0) note("startup_ms=" + std::to_string((NowNs(CLOCK_REALTIME) - opt.t0RealtimeNs) / 1e6));
  });
  window.show();

  auto writeReport = [&]() {
    if (opt.report.isEmpty()) return;
    std::ofstream out(opt.report.toStdString());
    for (const auto& l : lines) out << l << "\n";
  };

  if (opt.startupOnly) {
    // Idle for three seconds, then report the resident memory peak.
    QTimer::singleShot(3000, [&]() {
      note("idle_rss_kb=" + std::to_string(StatusKb("VmRSS")));
      note("idle_peak_rss_kb=" + std::to_string(StatusKb("VmHWM")));
      writeReport();
      window.close();
    });
    return app.exec();
  }

  auto* connectButton = window.findChild<QPushButton*>("connectButton");
  auto* startButton = window.findChild<QPushButton*>("enableLidarButton");
  auto* stopButton = window.findChild<QPushButton*>("disableLidarButton");
  auto* save = window.findChild<QAction*>("actionSaveDataCSV");

  std::vector<double> cpu;
  long rssStart = -1;
  const long ticksPerSecond = sysconf(_SC_CLK_TCK);
  int64_t lastCpu = 0, lastWall = 0;
  QTimer sampler;
  int secondsRun = 0;

  QTimer::singleShot(500, [&]() {
    window.findChild<QComboBox*>("baudrateBox")->setCurrentText(opt.baud);
    window.findChild<QComboBox*>("serialPortBox")->setEditText(opt.port);
    AnswerNextModal(PressOk);  // only shown if the connection fails
    connectButton->click();
    // Connecting runs beside the event loop: the button is usable again once it has ended.
    auto* connecting = new QTimer;
    QObject::connect(connecting, &QTimer::timeout, [&, connecting]() {
      if (!connectButton->isEnabled()) return;
      connecting->stop();
      connecting->deleteLater();
      if (connectButton->text() != QStringLiteral("断开")) {
        note("error=connect failed");
        writeReport();
        QApplication::exit(2);
        return;
      }
      AnswerNextModal([&](QWidget* w) {
        auto* dialog = qobject_cast<QFileDialog*>(w);
        dialog->findChild<QLineEdit*>("fileNameEdit")->setText(opt.csv);
        QMetaObject::invokeMethod(dialog, "accept", Qt::DirectConnection);
      });
      save->trigger();
      AnswerNextModal(PressOk);
      startButton->click();
      lastCpu = CpuTicks("/proc/self/stat");
      lastWall = NowNs();
      sampler.start(1000);
    });
    connecting->start(20);
  });

  QObject::connect(&sampler, &QTimer::timeout, [&]() {
    ++secondsRun;
    const int64_t ticks = CpuTicks("/proc/self/stat");
    const int64_t wall = NowNs();
    cpu.push_back(100.0 * (ticks - lastCpu) / ticksPerSecond / ((wall - lastWall) / 1e9));
    lastCpu = ticks;
    lastWall = wall;
    if (secondsRun == 5) rssStart = StatusKb("VmRSS");
    if (secondsRun % 30 == 0)
      note("rss_at_" + std::to_string(secondsRun) + "s_kb=" + std::to_string(StatusKb("VmRSS")));
    if (!opt.screenshot.isEmpty() && secondsRun == 3) {
      // A measuring line: right-click the view until a point is picked.
      auto* target = gl;
      for (int r = 40; r < 200; r += 6) {
        const QPoint pos = target->rect().center() + QPoint(r, r / 3);
        QMouseEvent press(QEvent::MouseButtonPress, pos, target->mapToGlobal(pos), Qt::RightButton, Qt::RightButton,
                          Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, pos, target->mapToGlobal(pos), Qt::RightButton, Qt::NoButton,
                            Qt::NoModifier);
        QApplication::sendEvent(target, &press);
        QApplication::sendEvent(target, &release);
        float d = 0, a = 0;
        uint8_t in = 0;
        view->GetSelectedPoint(&d, &a, &in);
        if (d > 0) break;
      }
    }
    if (!opt.screenshot.isEmpty() && secondsRun == 4) window.grab().save(opt.screenshot);
    if (secondsRun < opt.seconds) return;

    sampler.stop();
    AnswerNextModal(PressOk);
    stopButton->click();
    const long rssEnd = StatusKb("VmRSS");
    // Let the last points reach the file, then stop recording and close.
    QTimer::singleShot(1500, [&, rssEnd]() {
      save->trigger();
      cpu.erase(cpu.begin());  // the first second includes connecting
      char buf[256];
      std::snprintf(buf, sizeof buf, "cpu_median_percent=%.1f", Percentile(cpu, 0.5));
      note(buf);
      note("rss_start_kb=" + std::to_string(rssStart));
      note("rss_end_kb=" + std::to_string(rssEnd));
      // CPU per thread over the whole run, by thread name.
      {
        std::map<std::string, double> perThread;
        QDir tasks(QStringLiteral("/proc/self/task"));
        for (const QString& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
          std::ifstream comm(("/proc/self/task/" + tid + "/comm").toStdString());
          std::string name;
          std::getline(comm, name);
          perThread[name] += 100.0 * CpuTicks(("/proc/self/task/" + tid + "/stat").toStdString()) / ticksPerSecond /
                             (secondsRun + 2.0);
        }
        std::string line = "thread_cpu_percent";
        for (const auto& [name, share] : perThread) {
          char part[128];
          std::snprintf(part, sizeof part, " %s=%.1f", name.c_str(), share);
          line += part;
        }
        note(line);
      }
      const KXLinkStats link = window.Protocol()->GetLinkStats();
      note("link_packets=" + std::to_string(link.packets) + " link_crc_errors=" + std::to_string(link.crcErrors) +
           " link_skipped_bytes=" + std::to_string(link.skippedBytes) +
           " link_overflow_chunks=" + std::to_string(link.overflowChunks));
      writeReport();
      window.close();
    });
  });

  return app.exec();
}
