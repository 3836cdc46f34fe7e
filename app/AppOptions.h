#pragma once

#include <QString>
#include <QStringList>

// The window's command line: a port to fill in, its baud rate, whether to
// connect at start, whether to open the diagnosis view, and the interface
// language. Parsed before any window or display exists, so that bad
// arguments and --help work everywhere.
struct AppOptions {
  QString port;  // checked with the port address parser
  int baud = 0;  // 0 when not given: the saved rate, or 230400, stays
  bool connect = false;
  bool diagnosis = false;  // open the diagnosis view at start
  QString language;        // "zh", "en", or empty to follow the saved choice and the locale
  bool help = false;
  QString error;  // set when the arguments cannot be used
};

AppOptions ParseAppOptions(const QStringList& args);
const char* AppUsage();
