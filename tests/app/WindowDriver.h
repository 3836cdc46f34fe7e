#pragma once

// Helpers that drive the real window the way an operator does: click its
// buttons and actions, and answer the modal dialogs and message boxes that
// the commands open, from a timer that finds the active modal widget.
#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "app/MainWindow.h"

namespace apptest {

// What a message box showed.
struct SeenBox {
  QString title;
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
};

// Answers the next modal widgets, one handler per widget, in order.
class ModalAnswerer {
 public:
  using Handler = std::function<void(QWidget*)>;

  ModalAnswerer() {
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [this]() { Poll(); });
  }
  void Then(Handler h) {
    handlers.push_back(std::move(h));
    timer.start();
  }
  // A message box: remember what it said and press its OK button.
  void ThenBox(SeenBox* seen) {
    Then([seen](QWidget* w) {
      auto* box = qobject_cast<QMessageBox*>(w);
      ASSERT_NE(box, nullptr) << "expected a message box, got " << w->metaObject()->className();
      seen->title = box->windowTitle();
      seen->text = box->text();
      seen->icon = box->icon();
      box->button(QMessageBox::Ok)->click();
    });
  }
  bool Done() const { return handlers.empty(); }
  int Answered() const { return answered; }

 private:
  void Poll() {
    if (handlers.empty()) {
      timer.stop();
      return;
    }
    QWidget* w = QApplication::activeModalWidget();
    if (!w || !w->isVisible() || WasAnswered(w)) return;
    answeredWidgets.emplace_back(w);
    Handler h = std::move(handlers.front());
    handlers.pop_front();
    ++answered;
    // Run the handler from its own event: it may open the next modal widget
    // (an overwrite question), and this timer cannot fire again while one of
    // its own activations is still running.
    QPointer<QWidget> target(w);
    QTimer::singleShot(0, &timer, [h = std::move(h), target]() {
      if (target) h(target.data());
    });
  }

  // Every widget handed to a handler so far, not only the last one: when a
  // question box closes, the dialog that opened it is the active modal widget
  // again for a moment, until it closes too, and must not take the handler
  // meant for the widget that comes after it. Closed widgets leave null
  // pointers behind, which match nothing.
  bool WasAnswered(QWidget* w) const {
    auto same = [w](const QPointer<QWidget>& p) { return p.data() == w; };
    return std::any_of(answeredWidgets.begin(), answeredWidgets.end(), same);
  }

  QTimer timer;
  std::deque<Handler> handlers;
  std::vector<QPointer<QWidget>> answeredWidgets;
  int answered = 0;
};

// Processes events until `done` holds or the time runs out.
inline bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

// Fills the save dialog with a path and accepts it; an overwrite question
// that follows for an existing file is answered by the caller.
inline ModalAnswerer::Handler AcceptSaveDialog(const QString& path, QString* caption = nullptr,
                                               QStringList* filters = nullptr, QString* directory = nullptr) {
  return [=](QWidget* w) {
    auto* dialog = qobject_cast<QFileDialog*>(w);
    ASSERT_NE(dialog, nullptr) << "expected the save dialog";
    if (caption) *caption = dialog->windowTitle();
    if (filters) *filters = dialog->nameFilters();
    if (directory) *directory = dialog->directory().absolutePath();
    auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit");
    ASSERT_NE(edit, nullptr);
    edit->setText(path);
    QMetaObject::invokeMethod(dialog, "accept", Qt::DirectConnection);
  };
}

inline ModalAnswerer::Handler RejectDialog() {
  return [](QWidget* w) {
    auto* dialog = qobject_cast<QDialog*>(w);
    ASSERT_NE(dialog, nullptr);
    dialog->reject();
  };
}

// Presses the Yes button of a question box (the overwrite question).
inline ModalAnswerer::Handler AnswerYes() {
  return [](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    ASSERT_NE(box, nullptr);
    box->button(QMessageBox::Yes)->click();
  };
}

// Gives the form of a window: tests read widgets by their object names.
inline QAction* ActionOf(MainWindow& w, const char* name) { return w.findChild<QAction*>(name); }
template <typename T>
T* WidgetOf(MainWindow& w, const char* name) {
  return w.findChild<T*>(name);
}

}  // namespace apptest
