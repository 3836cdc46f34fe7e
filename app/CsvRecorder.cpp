#include "app/CsvRecorder.h"

#include <QBuffer>

CsvRecorder::Outcome CsvRecorder::Start(const QString& path) {
  std::lock_guard<std::mutex> lock(mutex);
  file.setFileName(path);
  appended = file.exists();
  rows.store(0);
  error.clear();
  if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
    error = file.errorString();
    return Outcome::OpenFailed;
  }
  stream.setDevice(&file);
  stream << "angle,dist,intensity" << Qt::endl;
  if (stream.status() == QTextStream::Ok && file.error() == QFileDevice::NoError) {
    active.store(true);
    return Outcome::Recording;
  }
  // A file that takes no header would take no rows either.
  error = Reason();
  Close();
  return Outcome::HeaderFailed;
}

void CsvRecorder::Stop() {
  std::lock_guard<std::mutex> lock(mutex);
  active.store(false);
  Close();
}

bool CsvRecorder::Write(const std::vector<KXScanPoint>& batch) {
  std::lock_guard<std::mutex> lock(mutex);
  // Read under the lock: rows filed while recording but due after the
  // operator stopped it are dropped, never written to a closed file.
  if (!active.load()) return true;
  for (const KXScanPoint& p : batch) {
    stream << p.angle << ',' << p.distance << ',' << static_cast<unsigned>(p.intensity) << Qt::endl;
  }
  if (stream.status() == QTextStream::Ok && file.error() == QFileDevice::NoError) {
    rows.fetch_add(batch.size());
    return true;
  }

  // A full disk or a vanished device: end the recording as the stop command
  // does and keep what reached the file.
  error = Reason();
  active.store(false);
  Close();
  return false;
}

QString CsvRecorder::Reason() {
  // A write that stops short (a disk filling up) leaves Qt without the
  // system's reason; a second try at the rest fails with it.
  file.flush();
  return file.errorString();
}

QString CsvRecorder::Error() {
  std::lock_guard<std::mutex> lock(mutex);
  return error;
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
