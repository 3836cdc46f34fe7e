#include "app/AppSettings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <QTemporaryDir>
#include <cmath>
#include <functional>

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

// Writes the settings that `fill` sets as the whole settings file. QSettings
// replaces a file through QSaveFile too, but of a failure it says only that
// there was one, not why. So it writes a scratch copy in the temporary
// folder, and QSaveFile puts the copy's bytes in place: the old file stays
// until the new one is complete, and a failure comes with the system's reason.
bool Write(const std::function<void(QSettings&)>& fill, QString* error) {
  QByteArray bytes;
  {
    const QTemporaryDir scratch;
    QSettings s(scratch.path() + "/settings.conf", QSettings::IniFormat);
    fill(s);
    s.sync();
    QFile copy(s.fileName());
    // The file is smaller than a disk block: on a full disk none of it is
    // written, and QSettings may not notice (see the flush below).
    if (!scratch.isValid() || s.status() != QSettings::NoError || !copy.open(QIODevice::ReadOnly) ||
        (bytes = copy.readAll()).isEmpty()) {
      *error = QCoreApplication::translate("AppSettings", "无法在临时文件夹 %1 中写入").arg(QDir::tempPath());
      return false;
    }
  }
  const QString path = AppSettings::FileName();
  // Saved on every change, and again on closing: an unchanged file is not written again.
  QFile old(path);
  if (old.size() == bytes.size() && old.open(QIODevice::ReadOnly) && old.readAll() == bytes) return true;
  QDir().mkpath(QFileInfo(path).absolutePath());
  QSaveFile file(path);
  // Flushed before the commit: Qt 5.15's commit misses an error of its own
  // last flush, and on a full disk puts an empty file in place of the old one.
  if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush() && file.commit())
    return true;
  *error = file.errorString();
  return false;
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

QString AppSettings::FileName() { return QSettings(kOrganisation, kApplication).fileName(); }

bool AppSettings::Save(const WindowSettings& w, QString* error) {
  Language language = Language::Chinese;
  const bool keepLanguage = ParseLanguage(Text(QSettings(kOrganisation, kApplication), kLanguageKey), &language);
  // Only the values written here: what a damaged file held is dropped, not merged.
  return Write(
      [&](QSettings& s) {
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
      },
      error);
}

bool AppSettings::SaveLanguage(Language language, QString* error) {
  const QSettings old(kOrganisation, kApplication);
  return Write(
      [&](QSettings& s) {
        for (const QString& key : old.allKeys()) s.setValue(key, old.value(key));
        s.setValue(kLanguageKey, LanguageCode(language));
      },
      error);
}
