#include "app/CsvRecorder.h"

#include <QBuffer>

CsvRecorder::Outcome CsvRecorder::Start(const QString& path) {
  std::lock_guard<std::mutex> lock(mutex);
  file.setFileName(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) return Outcome::OpenFailed;
  stream.setDevice(&file);
  stream << "angle,dist,intensity" << Qt::endl;
  if (stream.status() == QTextStream::Ok && file.error() == QFileDevice::NoError) {
    active.store(true);
    return Outcome::Recording;
  }
  // A file that takes no header would take no rows either.
  Close();
  return Outcome::HeaderFailed;
}

void CsvRecorder::Stop() {
  std::lock_guard<std::mutex> lock(mutex);
  active.store(false);
  Close();
}

bool CsvRecorder::Write(const std::vector<KXScanPoint>& rows) {
  std::lock_guard<std::mutex> lock(mutex);
  // Read under the lock: rows filed while recording but due after the
  // operator stopped it are dropped, never written to a closed file.
  if (!active.load()) return true;
  for (const KXScanPoint& p : rows) {
    stream << p.angle << ',' << p.distance << ',' << static_cast<unsigned>(p.intensity) << Qt::endl;
  }
  if (stream.status() == QTextStream::Ok && file.error() == QFileDevice::NoError) return true;

  // A full disk or a vanished device: end the recording as the stop command
  // does and keep what reached the file.
  active.store(false);
  Close();
  return false;
}

void CsvRecorder::Close() {
  // A stream hears of its device closing through a signal. Closed by the
  // worker, that signal crosses to the GUI thread and flushes the stream there
  // later, unlocked, while the worker may already write the next file with
  // it. Every row is flushed as it is written, so the stream is drained here
  // instead and the signal is held back.
  file.blockSignals(true);
  file.close();
  file.blockSignals(false);
  // After a failed write the stream still holds the rows it could not pass
  // on, and would hand them to the next file it is attached to. Let them
  // drain into a sink and detach the stream.
  QBuffer sink;
  sink.open(QIODevice::WriteOnly);
  stream.setDevice(&sink);
  stream.flush();
  stream.setDevice(nullptr);
  stream.resetStatus();
}
