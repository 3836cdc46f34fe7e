// The window refusing a file it cannot replay (打开录制… on a 10 GB sparse
// file, /dev/zero, a FIFO): the time from the open to the message box, the
// longest the event loop stood still meanwhile, and the peak resident memory
// while doing so. A measuring tool, not a test:
//   truncate -s 10G /tmp/huge.raw
//   xvfb-run -a build/bench/replay_refusal /tmp/huge.raw
#include <vtkObject.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>

#include "app/MainWindow.h"
#include "app/ReplayController.h"
#include "viewer/vtkViewer.h"

namespace {

long StatusKb(const char* field) {  // a line of /proc/self/status
  QFile f("/proc/self/status");
  if (!f.open(QIODevice::ReadOnly)) return -1;
  for (const QByteArray& line : f.readAll().split('\n'))
    if (line.startsWith(field)) return line.mid(static_cast<int>(qstrlen(field))).trimmed().split(' ')[0].toLong();
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: replay_refusal FILE\n");
    return 2;
  }
  vtkObject::SetGlobalWarningDisplay(0);
  vtkViewer::PrepareOpenGL();
  QApplication app(argc, argv);
  const QTemporaryDir settings;  // none of the user's
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
  MainWindow window;
  window.show();
  auto* replay = window.findChild<ReplayController*>();

  QElapsedTimer clock;
  qint64 refusedMs = -1, stillMs = 0, lastBeat = 0;
  QTimer beat;
  beat.setInterval(5);
  QObject::connect(&beat, &QTimer::timeout, [&] {
    const qint64 now = clock.elapsed();
    stillMs = std::max(stillMs, now - lastBeat);
    lastBeat = now;
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box && refusedMs < 0) {
      refusedMs = now;
      box->done(0);
      QTimer::singleShot(200, &app, &QApplication::quit);
    }
  });
  QTimer::singleShot(500, [&] {           // once the window is up
    QFile peak("/proc/self/clear_refs");  // VmHWM starts again from here
    if (peak.open(QIODevice::WriteOnly)) peak.write("5");
    peak.close();
    std::printf("VmRSS before %ld kB\n", StatusKb("VmRSS:"));
    clock.start();
    beat.start();
    replay->Open(QString::fromLocal8Bit(argv[1]));
  });
  app.exec();
  std::printf("refused after %lld ms; event loop still for at most %lld ms; VmHWM %ld kB\n",
              static_cast<long long>(refusedMs), static_cast<long long>(stillMs), StatusKb("VmHWM:"));
  return refusedMs >= 0 ? 0 : 1;
}
