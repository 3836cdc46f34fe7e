#pragma once

#include <QString>
#include <QStringList>

// The window's command line: a port to fill in, its baud rate, and whether to
// connect at start. Parsed before any window or display exists, so that bad
// arguments and --help work everywhere.
struct AppOptions {
  QString port;
  int baud = 230400;
  bool connect = false;
  bool help = false;
  QString error;  // set when the arguments cannot be used
};

AppOptions ParseAppOptions(const QStringList& args);
const char* AppUsage();
