#include <vtkObject.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "app/AppOptions.h"
#include "app/Language.h"
#include "app/MainWindow.h"
#include "app/StopSignals.h"
#include "serial/StdDescriptors.h"
#include "viewer/vtkViewer.h"

namespace {

// Qt ends the process with an abort and a hint about reinstalling when it
// finds no display. Its messages are held back while the application object
// starts; without a display one line says what is missing first, and Qt's own
// lines about the display follow for the reason.
QStringList& HeldMessages() {
  static QStringList held;
  return held;
}

void StartupMessageHandler(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type != QtFatalMsg) {
    HeldMessages() << message;
    return;
  }
  const QByteArray display = qgetenv("DISPLAY");
  std::fprintf(stderr, "lds-tool: no display to show the window on (DISPLAY=%s); lds-record records without one.\n",
               display.isEmpty() ? "" : display.constData());
  for (const QString& held : HeldMessages()) std::fprintf(stderr, "  %s\n", qPrintable(held));
  std::_Exit(1);
}

}  // namespace

int main(int argc, char* argv[]) {
  // Before any file is opened: a closed stdout or stderr would otherwise take the first one.
  EnsureStandardDescriptors();
  QStringList args;
  for (int i = 1; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
  const AppOptions options = ParseAppOptions(args);
  if (options.help) {
    std::fputs(AppUsage(), stdout);
    return 0;
  }
  if (!options.error.isEmpty()) {
    std::fprintf(stderr, "lds-tool: %s\n%s", qPrintable(options.error), AppUsage());
    return 2;
  }

  vtkObject::SetGlobalWarningDisplay(0);
  // The VTK widget needs its OpenGL format as the default before any window exists.
  vtkViewer::PrepareOpenGL();
  qInstallMessageHandler(StartupMessageHandler);
  QApplication app(argc, argv);
  qInstallMessageHandler(nullptr);
  for (const QString& message : HeldMessages()) std::fprintf(stderr, "%s\n", qPrintable(message));
  // Before the window, and so gone after it: a signal while it closes changes nothing.
  const StopSignals stopSignals;
  const Translators translators(ChooseLanguage(options.language));
  MainWindow window;
  window.setWindowTitle(MainWindow::kWindowTitle);
  if (!options.port.isEmpty()) window.UsePort(options.port, options.baud, options.connect);
  window.ShowDiagnosis(options.diagnosis);
  window.show();
  return app.exec();
}
