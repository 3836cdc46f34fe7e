#pragma once

#include <QString>

#include "app/Language.h"
#include "scan/FrameAssembler.h"

// What the window remembers between starts. The member defaults are the
// first-start state: angle calibration on, every other switch off, point
// size 3, counter-clockwise, 230400 baud, no angle offset.
struct WindowSettings {
  QString port;  // empty: the first port found
  int baud = 230400;
  int pointSize = 3;
  int rotationSign = 1;  // +1 counter-clockwise, -1 clockwise
  int trails = 1;        // revolutions shown together, 1 to 20
  ScanSettings scan;     // its edge margin is not an operator setting and is not kept
  float angleOffset = 0.0f;
  QString saveDir;  // empty: the working directory
};

// The one place that knows the settings' keys, ranges and types. Loading
// checks each field on its own: a missing, unreadable, out-of-range or
// mistyped value falls back to its default and leaves the others alone.
// Saving rewrites the whole file, so a damaged one is replaced cleanly; the
// language is kept. The new file replaces the old one only once it has been
// written in full: a save that fails (a full disk) leaves the old file as it was.
class AppSettings {
 public:
  static WindowSettings Defaults();
  static WindowSettings Load();
  // False, with the system's reason, when the file cannot be written.
  static bool Save(const WindowSettings& settings, QString* error);
  // The language for the next start, with the other settings as the file holds them.
  static bool SaveLanguage(Language language, QString* error);
  static QString FileName();
};
