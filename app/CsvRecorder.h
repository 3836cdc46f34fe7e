#pragma once

#include <QFile>
#include <QString>
#include <QTextStream>
#include <atomic>
#include <mutex>
#include <vector>

#include "protocol/KXScanPoint.h"

// 文件 → 保存.csv: every filed point as an `angle,dist,intensity` row. The GUI
// thread starts and stops a recording, the worker writes the rows; the file
// and its stream are touched only under one lock.
class CsvRecorder {
 public:
  enum class Outcome { Recording, OpenFailed, HeaderFailed };

  // Opens `path` for appending and writes the header line.
  Outcome Start(const QString& path);
  void Stop();
  bool Active() const { return active.load(); }
  // Writes the rows while recording. False when a write failed: the recording
  // has then ended, and what reached the file stays there.
  bool Write(const std::vector<KXScanPoint>& rows);

 private:
  // Closes the file and drops whatever the stream could not write. Caller holds the lock.
  void Close();

  std::atomic<bool> active{false};
  std::mutex mutex;
  QFile file;
  QTextStream stream;
};
