#pragma once

#include <QFile>
#include <QString>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "protocol/KXScanPoint.h"

// 文件 → 保存.csv: every filed point as an `angle,dist,intensity` row. The GUI
// thread starts and stops a recording, the worker writes the rows; the file
// is touched only under one lock.
class CsvRecorder {
 public:
  enum class Outcome { Recording, OpenFailed, HeaderFailed };

  // Opens `path` for appending and writes the header line.
  Outcome Start(const QString& path);
  void Stop();
  bool Active() const { return active.load(); }
  // Writes the rows while recording. False when a write failed: the recording
  // has then ended, and the file keeps every whole row that reached it.
  bool Write(const std::vector<KXScanPoint>& rows);

  // Of the last recording started: whether its file was there before (the
  // rows follow the old content), the rows written since, and why it failed.
  bool Appended() const { return appended; }
  uint64_t Rows() const { return rows.load(); }
  QString Error();

 private:
  // Writes whole lines; returns the lines that reached the file. One that
  // reached it in part (a disk filling up) is cut off again, so that the file
  // ends with a whole row. Caller holds the lock.
  uint64_t WriteLines(const QByteArray& lines, bool* ok);

  std::atomic<bool> active{false};
  std::atomic<uint64_t> rows{0};
  bool appended = false;
  QString error;
  std::mutex mutex;
  QFile file;
};
