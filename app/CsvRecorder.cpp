#include "app/CsvRecorder.h"

#include <QTextStream>

CsvRecorder::Outcome CsvRecorder::Start(const QString& path) {
  std::lock_guard<std::mutex> lock(mutex);
  file.setFileName(path);
  appended = file.exists();
  rows.store(0);
  error.clear();
  // Unbuffered: what a write could not pass on is never left in a buffer to
  // reach the file later, after the cut below.
  if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text | QIODevice::Unbuffered)) {
    error = file.errorString();
    return Outcome::OpenFailed;
  }
  bool ok = false;
  WriteLines("angle,dist,intensity\n", &ok);
  if (ok) {
    active.store(true);
    return Outcome::Recording;
  }
  // A file that takes no header would take no rows either.
  file.close();
  return Outcome::HeaderFailed;
}

void CsvRecorder::Stop() {
  std::lock_guard<std::mutex> lock(mutex);
  active.store(false);
  file.close();
}

bool CsvRecorder::Write(const std::vector<KXScanPoint>& batch) {
  std::lock_guard<std::mutex> lock(mutex);
  // Read under the lock: rows filed while recording but due after the
  // operator stopped it are dropped, never written to a closed file.
  if (!active.load()) return true;
  // One write for the whole batch, which reaches the file before the call
  // returns, as a flushing line end after each row would.
  QByteArray lines;
  QTextStream out(&lines);
  for (const KXScanPoint& p : batch)
    out << p.angle << ',' << p.distance << ',' << static_cast<unsigned>(p.intensity) << '\n';
  out.flush();
  bool ok = false;
  rows.fetch_add(WriteLines(lines, &ok));
  if (ok) return true;

  // A full disk or a vanished device: end the recording as the stop command
  // does and keep the whole rows that reached the file.
  active.store(false);
  file.close();
  return false;
}

uint64_t CsvRecorder::WriteLines(const QByteArray& lines, bool* ok) {
  qint64 done = 0;
  while (done < lines.size()) {
    // A write that stops short (a disk filling up) leaves Qt without the
    // system's reason; the next try at the rest fails with it.
    const qint64 n = file.write(lines.constData() + done, lines.size() - done);
    if (n <= 0) break;
    done += n;
  }
  *ok = done == lines.size();
  if (*ok) return static_cast<uint64_t>(lines.count('\n'));
  error = file.errorString();
  // The lines that reached the file in full end at the last line end written.
  const int whole = done > 0 ? lines.lastIndexOf('\n', static_cast<int>(done) - 1) + 1 : 0;
  if (done > whole) file.resize(file.size() - (done - whole));
  return static_cast<uint64_t>(lines.left(whole).count('\n'));
}

QString CsvRecorder::Error() {
  std::lock_guard<std::mutex> lock(mutex);
  return error;
}
