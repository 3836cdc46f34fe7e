// The installed program itself: it starts, shows its window, and a close
// request from the window system (what the title bar's close button sends)
// ends it with exit code 0, promptly.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>
#include <cstring>
#include <functional>
#include <thread>

// Last: Xlib defines macros (None, Bool, Status) that other headers use as names.
// clang-format off
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
// clang-format on

namespace {

long WindowPid(Display* d, Window w) {
  Atom type = 0;
  int format = 0;
  unsigned long items = 0, after = 0;
  unsigned char* data = nullptr;
  long pid = -1;
  if (XGetWindowProperty(d, w, XInternAtom(d, "_NET_WM_PID", False), 0, 1, False, XA_CARDINAL, &type, &format, &items,
                         &after, &data) == Success &&
      data && items == 1 && format == 32)
    pid = static_cast<long>(*reinterpret_cast<unsigned long*>(data));
  if (data) XFree(data);
  return pid;
}

// Depth-first search of the window tree for the window with this WM_NAME that
// belongs to process `pid` (other tests on the same display show windows with
// the same title).
Window FindWindowNamed(Display* d, Window w, const char* name, long pid) {
  char* title = nullptr;
  if (XFetchName(d, w, &title) && title) {
    const bool match = std::strcmp(title, name) == 0 && WindowPid(d, w) == pid;
    XFree(title);
    if (match) return w;
  }
  Window root = 0, parent = 0, *children = nullptr;
  unsigned count = 0;
  if (!XQueryTree(d, w, &root, &parent, &children, &count)) return 0;
  Window found = 0;
  for (unsigned i = 0; i < count && !found; ++i) found = FindWindowNamed(d, children[i], name, pid);
  if (children) XFree(children);
  return found;
}

// Other tests share the display and open and close their windows while the
// tree is searched, so a window listed a moment ago may be gone when it is
// queried. Xlib's default handler ends the process on that error; the search
// only needs the query to fail.
int IgnoreXError(Display*, XErrorEvent*) { return 0; }

void SendClose(Display* d, Window w) {
  XEvent ev{};
  ev.xclient.type = ClientMessage;
  ev.xclient.window = w;
  ev.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
  ev.xclient.format = 32;
  ev.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
  ev.xclient.data.l[1] = CurrentTime;
  XSendEvent(d, w, False, NoEventMask, &ev);
  XFlush(d);
}

TEST(ExecutableTest, ShowsItsTitledWindowAndExitsZeroWhenClosed) {
  Display* display = XOpenDisplay(nullptr);
  ASSERT_NE(display, nullptr) << "no X display";
  const XErrorHandler previousHandler = XSetErrorHandler(IgnoreXError);
  QProcess tool;
  tool.setProgram(QStringLiteral(LDS_TOOL_PATH));
  // In a sanitizer build the shipped program cannot pin Mesa's software driver
  // the way the in-process window tests do, so the driver's unloading at exit
  // would read as a leak; those tests cover the window's own leaks.
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  const QString asan = env.value(QStringLiteral("ASAN_OPTIONS"));
  env.insert(QStringLiteral("ASAN_OPTIONS"),
             asan.isEmpty() ? QStringLiteral("detect_leaks=0") : asan + QStringLiteral(":detect_leaks=0"));
  tool.setProcessEnvironment(env);
  tool.start();
  ASSERT_TRUE(tool.waitForStarted(5000));

  Window window = 0;
  QElapsedTimer t;
  t.start();
  while (!window && t.elapsed() < 20000 && tool.state() == QProcess::Running) {
    window = FindWindowNamed(display, DefaultRootWindow(display), "Kestrix Pelto LDS Tool-std.0.2.0",
                             static_cast<long>(tool.processId()));
    if (!window) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_NE(window, 0u) << "the window never appeared; output: " << tool.readAllStandardError().toStdString();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // let it settle into its event loop

  SendClose(display, window);
  const bool finished = tool.waitForFinished(10000);
  if (!finished) tool.kill();
  XCloseDisplay(display);
  XSetErrorHandler(previousHandler);
  ASSERT_TRUE(finished) << "the program hung after its window was closed";
  EXPECT_EQ(tool.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();
}

}  // namespace
