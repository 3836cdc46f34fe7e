#pragma once

// Drives the real window as an operator does: answers the modal dialogs its
// commands open, waits on the event loop, and runs the simulated sensor.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <deque>
#include <functional>
#include <vector>

#include "app/MainWindow.h"
#include "sim/SimPacket.h"

namespace apptest {

// Answers the next modal widgets, one handler each, in order. Each widget is
// answered once: when a question box closes, the dialog under it is the
// active modal widget again for a moment and must not take the next handler.
class ModalAnswerer {
 public:
  using Handler = std::function<void(QWidget*)>;
  ModalAnswerer() {
    QObject::connect(&timer, &QTimer::timeout, [this] { Poll(); });
    timer.start(10);
  }
  void Then(Handler h) { handlers.push_back(std::move(h)); }
  // A message box: its title and text as "title|text", then OK.
  void ThenBox(QString* seen) {
    Then([seen](QWidget* w) {
      auto* box = qobject_cast<QMessageBox*>(w);
      ASSERT_NE(box, nullptr) << w->metaObject()->className();
      *seen = box->windowTitle() + "|" + box->text();
      QAbstractButton* yes = box->button(QMessageBox::Yes);  // a question
      (yes ? yes : box->button(QMessageBox::Ok))->click();
    });
  }
  // The save dialog: a path typed in and accepted.
  void ThenSave(const QString& path) {
    Then([path](QWidget* w) {
      auto* dialog = qobject_cast<QFileDialog*>(w);
      ASSERT_NE(dialog, nullptr) << w->metaObject()->className();
      dialog->findChild<QLineEdit*>("fileNameEdit")->setText(path);
      QMetaObject::invokeMethod(dialog, "accept");
    });
  }
  bool Done() const { return handlers.empty(); }

 private:
  void Poll() {
    QWidget* w = QApplication::activeModalWidget();
    if (handlers.empty() || !w || !w->isVisible()) return;
    for (const auto& p : answered)
      if (p.data() == w) return;
    answered.emplace_back(w);
    // From an event of its own: the handler may open the next modal widget.
    QTimer::singleShot(0, &timer, [h = std::move(handlers.front()), target = QPointer<QWidget>(w)] {
      if (target) h(target.data());
    });
    handlers.pop_front();
  }
  QTimer timer;
  std::deque<Handler> handlers;
  std::vector<QPointer<QWidget>> answered;
};

// Settings of the test's own: none left by another test, none of the user's.
struct OwnSettings {
  OwnSettings() { QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path()); }
  QTemporaryDir dir;
};

inline bool WaitFor(const std::function<bool()>& done, int timeoutMs = 5000) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > timeoutMs) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

template <typename T = QWidget>
T* Find(QObject& window, const char* name) {
  T* found = window.findChild<T*>(name);
  EXPECT_NE(found, nullptr) << name;
  return found;
}

// One lds-sim; its path is the terminal it announced. Through setpriv it
// ends with this process even if a test aborts.
struct Sim {
  explicit Sim(const QStringList& args) {
    proc.start("/usr/bin/setpriv", QStringList{"--pdeathsig", "TERM", LDS_SIM_PATH} + args);
    if (proc.waitForStarted(5000) && proc.waitForReadyRead(5000)) path = QString(proc.readLine()).trimmed();
  }
  ~Sim() {
    proc.terminate();
    proc.waitForFinished(5000);
  }
  QProcess proc;
  QString path;
};

// Raw bytes of `turns` revolutions of the simulated room, starting part-way
// through the first (so turns - 1 whole ones), with bad packets and junk.
inline std::vector<uint8_t> RoomRecording(int turns) {
  sim::SimScene scene;
  sim::ScanGenerator generator(scene, 10.0, 1000000000 / 375, 7);  // 37.5 packets a revolution
  std::vector<uint8_t> bytes;
  for (uint64_t i = 13; i < 13 + static_cast<uint64_t>(turns * 37.5); ++i) {
    sim::PacketBytes p = sim::EncodePacket(generator.MakePacket(i));
    if (i % 41 == 0) p[20] ^= 0x5a;                                  // a CRC error
    if (i % 29 == 0) bytes.insert(bytes.end(), {0xaa, 0x00, 0x54});  // junk, a false header among it
    bytes.insert(bytes.end(), p.begin(), p.end());
  }
  return bytes;
}

}  // namespace apptest
