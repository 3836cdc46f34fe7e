#include "app/AppSettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <cmath>

#include "app/Language.h"

namespace {

// The file the language choice lives in too (app/Language.cpp).
const char kOrganisation[] = "lds-tool";
const char kApplication[] = "lds-tool";
const char kLanguageKey[] = "language";

// A value as the text the file holds. Anything else a hand-edited file can
// make of it (a list, from a comma) counts as missing.
QString Text(const QSettings& s, const char* key) {
  const QVariant v = s.value(key);
  return v.userType() == QMetaType::QStringList ? QString() : v.toString().trimmed();
}

bool ReadBool(const QSettings& s, const char* key, bool fallback) {
  const QString t = Text(s, key);
  // Strict: QVariant would take any other non-empty text for true.
  if (t == "true") return true;
  if (t == "false") return false;
  return fallback;
}

int ReadInt(const QSettings& s, const char* key, int low, int high, int fallback) {
  bool ok = false;
  const int v = Text(s, key).toInt(&ok);
  return ok && v >= low && v <= high ? v : fallback;
}

double ReadDouble(const QSettings& s, const char* key, double low, double high, double fallback) {
  bool ok = false;
  const double v = Text(s, key).toDouble(&ok);
  return ok && std::isfinite(v) && v >= low && v <= high ? v : fallback;
}

}  // namespace

WindowSettings AppSettings::Defaults() {
  WindowSettings d;
  d.saveDir = QDir::currentPath();
  return d;
}

WindowSettings AppSettings::Load() {
  const WindowSettings d = Defaults();
  WindowSettings w = d;
  // A file that cannot be read at all gives no values, and so the defaults.
  const QSettings s(kOrganisation, kApplication);
  w.port = Text(s, "link/port");
  const int baud = ReadInt(s, "link/baud", 0, 460800, d.baud);
  w.baud = baud == 115200 || baud == 230400 || baud == 460800 ? baud : d.baud;
  // The ranges are those the window's dialogs offer.
  w.pointSize = ReadInt(s, "view/pointSize", 1, 10, d.pointSize);
  w.trails = ReadInt(s, "view/trails", 1, 20, d.trails);
  const QString rotation = Text(s, "view/rotation");
  w.rotationSign = rotation == "clockwise" ? -1 : rotation == "counterclockwise" ? 1 : d.rotationSign;
  w.angleOffset = static_cast<float>(ReadDouble(s, "scan/angleOffset", -360, 360, d.angleOffset));
  w.scan.enableAngleCalib = ReadBool(s, "scan/angleCalib", d.scan.enableAngleCalib);
  w.scan.enableAlgoFilter = ReadBool(s, "scan/pointFilter", d.scan.enableAlgoFilter);
  w.scan.enableDistCorrect = ReadBool(s, "scan/distCorrect", d.scan.enableDistCorrect);
  w.scan.enableAngleEdgeFilter = ReadBool(s, "scan/edgeFilter", d.scan.enableAngleEdgeFilter);
  w.scan.enableWaterNoiseFilter = ReadBool(s, "scan/waterNoiseFilter", d.scan.enableWaterNoiseFilter);
  w.scan.diffThr = ReadDouble(s, "scan/diffThr", 0, 10000, d.scan.diffThr);
  w.scan.filterMinRange = ReadInt(s, "scan/minRange", 0, 10000, d.scan.filterMinRange);
  w.scan.filterMaxRange = ReadInt(s, "scan/maxRange", 0, 10000, d.scan.filterMaxRange);
  w.scan.filterIntensityThr = ReadInt(s, "scan/intensityThr", 0, 10000, d.scan.filterIntensityThr);
  // A folder that has gone since (a removed drive) is no place to start a dialog in.
  const QString dir = Text(s, "file/saveDir");
  if (!dir.isEmpty() && QFileInfo(dir).isDir()) w.saveDir = dir;
  return w;
}

bool AppSettings::Save(const WindowSettings& w) {
  Language language = Language::Chinese;
  bool keepLanguage = false;
  QString path;
  {
    const QSettings old(kOrganisation, kApplication);
    keepLanguage = ParseLanguage(Text(old, kLanguageKey), &language);
    path = old.fileName();
  }
  // Start from an empty file: what a damaged one held is dropped, not merged,
  // and one that cannot even be read is replaced.
  QFile::remove(path);
  QSettings s(kOrganisation, kApplication);
  if (keepLanguage) s.setValue(kLanguageKey, LanguageCode(language));
  s.setValue("link/port", w.port);
  s.setValue("link/baud", w.baud);
  s.setValue("view/pointSize", w.pointSize);
  s.setValue("view/trails", w.trails);
  s.setValue("view/rotation", w.rotationSign < 0 ? "clockwise" : "counterclockwise");
  s.setValue("scan/angleOffset", static_cast<double>(w.angleOffset));
  s.setValue("scan/angleCalib", w.scan.enableAngleCalib);
  s.setValue("scan/pointFilter", w.scan.enableAlgoFilter);
  s.setValue("scan/distCorrect", w.scan.enableDistCorrect);
  s.setValue("scan/edgeFilter", w.scan.enableAngleEdgeFilter);
  s.setValue("scan/waterNoiseFilter", w.scan.enableWaterNoiseFilter);
  s.setValue("scan/diffThr", w.scan.diffThr);
  s.setValue("scan/minRange", w.scan.filterMinRange);
  s.setValue("scan/maxRange", w.scan.filterMaxRange);
  s.setValue("scan/intensityThr", w.scan.filterIntensityThr);
  s.setValue("file/saveDir", w.saveDir);
  s.sync();
  return s.status() == QSettings::NoError;
}
