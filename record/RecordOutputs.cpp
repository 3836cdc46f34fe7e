#include "record/RecordOutputs.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <QTextStream>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "protocol/KXPacket.h"

namespace fs = std::filesystem;

namespace {

// Writes all of `size` bytes; false with errno set on failure. `done` counts
// the bytes written either way.
bool WriteAll(int fd, const char* data, size_t size, size_t& done) {
  done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {
      errno = ENOSPC;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

// Opens for appending, creating the file when needed; `created` says whether
// this call made it.
int OpenForAppend(const std::string& path, bool& created) {
  const int flags = O_WRONLY | O_APPEND | O_CLOEXEC;
  int fd = ::open(path.c_str(), flags | O_CREAT | O_EXCL, 0644);
  created = fd >= 0;
  if (fd < 0 && errno == EEXIST) fd = ::open(path.c_str(), flags);
  return fd;
}

}  // namespace

CsvRecorder::~CsvRecorder() {
  if (fd >= 0) ::close(fd);
}

bool CsvRecorder::Open(const std::string& filePath, std::string& error) {
  path = filePath;
  fd = OpenForAppend(path, created);
  if (fd < 0) {
    error = "cannot open " + what + " " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

QString CsvRecorder::FormatRows(const std::vector<KXScanPoint>& rows) {
  QString text;
  QTextStream stream(&text);
  for (const KXScanPoint& p : rows) {
    // Both integers go out in decimal; a bare uint8_t would be written as a character.
    stream << p.angle << ',' << static_cast<unsigned>(p.distance) << ',' << static_cast<unsigned>(p.intensity) << '\n';
  }
  stream.flush();
  return text;
}

bool CsvRecorder::WriteText(const QString& text, std::string& error) {
  if (failed || fd < 0) return false;
  const QByteArray bytes = text.toUtf8();
  // Where the text starts: -1 where the file cannot seek (a pipe).
  const off_t start = ::lseek(fd, 0, SEEK_END);
  size_t done = 0;
  if (WriteAll(fd, bytes.constData(), static_cast<size_t>(bytes.size()), done)) return true;
  failed = true;
  error = "writing " + what + " " + path + " failed: " + std::strerror(errno);
  // A full disk or a size limit stops a write mid-row: the file is cut back
  // after its last whole row, so that a reader never meets a cut-off one.
  // Shrinking needs no space; a device without a length (/dev/full) refuses it.
  const int lineEnd = done > 0 ? bytes.lastIndexOf('\n', static_cast<int>(done) - 1) : -1;
  if (start >= 0 && ::ftruncate(fd, start + lineEnd + 1) != 0) errno = 0;
  return false;
}

bool CsvRecorder::WriteRows(const std::vector<KXScanPoint>& rows, std::string& error) {
  if (failed) return false;
  if (rows.empty()) return true;
  return Append(FormatRows(rows), error);
}

bool CsvRecorder::Append(const QString& text, std::string& error) {
  if (headerWritten) return WriteText(text, error);
  headerWritten = true;
  return WriteText(QString::fromStdString(header) + '\n' + text, error);
}

bool StatsRecorder::WriteRevolution(const RevolutionFigures& f, std::string& error) {
  char row[256];
  std::snprintf(row, sizeof row, "%ld,%lld,%lld,%g,%u,%u,%u,%u,%u,%llu,%llu\n", f.number,
                static_cast<long long>(f.timeMs), static_cast<long long>(f.durationMs), static_cast<double>(f.speedRpm),
                f.points, f.emptyPoints, unsigned{f.minMm}, unsigned{f.medianMm}, unsigned{f.maxMm},
                static_cast<unsigned long long>(f.crcErrors), static_cast<unsigned long long>(f.skippedBytes));
  return Append(QString::fromLatin1(row), error);
}

bool StatsRecorder::WriteGap(int64_t timeMs, int64_t durationMs, std::string& error) {
  char row[64];
  std::snprintf(row, sizeof row, "gap,%lld,%lld,,,,,,,,\n", static_cast<long long>(timeMs),
                static_cast<long long>(durationMs));
  return Append(QString::fromLatin1(row), error);
}

void CsvRecorder::RemoveIfUnused() {
  if (created && !headerWritten) ::unlink(path.c_str());
}

bool CsvRecorder::Close(std::string& error) {
  if (fd < 0) return !failed;
  const int result = ::close(fd);
  fd = -1;
  if (result != 0 && !failed) {
    failed = true;
    error = "closing " + what + " " + path + " failed: " + std::strerror(errno);
  }
  return !failed;
}

RawRecorder::~RawRecorder() {
  if (fd >= 0) ::close(fd);
}

bool RawRecorder::Open(const std::string& filePath, std::string& error) {
  path = filePath;
  fd = OpenForAppend(path, created);
  if (fd < 0) {
    error = "cannot open raw file " + path + ": " + std::strerror(errno);
    return false;
  }
  // Our own open file: a pipe or FIFO behind it then never blocks a write.
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  return true;
}

bool RawRecorder::Fail(const std::string& what, std::string& error) {
  failed = true;
  error = what;
  return false;
}

bool RawRecorder::Pump(std::string& error) {
  while (head < queued.size()) {
    const ssize_t n = ::write(fd, queued.data() + head, queued.size() - head);
    if (n > 0) {
      head += static_cast<size_t>(n);
      written += static_cast<uint64_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) break;
    if (n == 0) errno = ENOSPC;
    return Fail("writing raw file " + path + " failed: " + std::strerror(errno), error);
  }
  if (head == queued.size()) {
    queued.clear();
    head = 0;
  } else if (head > kMaxQueued) {
    queued.erase(queued.begin(), queued.begin() + static_cast<std::ptrdiff_t>(head));
    head = 0;
  }
  return true;
}

bool RawRecorder::Write(const std::vector<uint8_t>& bytes, std::string& error) {
  if (failed || fd < 0) return false;
  queued.insert(queued.end(), bytes.begin(), bytes.end());
  if (!Pump(error)) return false;
  if (Queued() > kMaxQueued)
    return Fail("the raw file " + path + " does not take the bytes as fast as they arrive (" +
                    std::to_string(Queued()) + " bytes waiting)",
                error);
  return true;
}

bool RawRecorder::Drain(int waitMs, const std::function<bool()>& stop, std::string& error) {
  if (failed || fd < 0) return false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  while (Pump(error) && Queued() > 0) {
    if (std::chrono::steady_clock::now() >= deadline || stop())
      return Fail(
          "the last " + std::to_string(Queued()) + " bytes could not be written to the raw file " + path + " in time",
          error);
    pollfd out{fd, POLLOUT, 0};
    ::poll(&out, 1, 20);
  }
  return !failed;
}

void RawRecorder::RemoveIfUnused() {
  if (created && written == 0) ::unlink(path.c_str());
}

void RawRevolutionCut::Feed(const uint8_t* data, size_t size, const RecordedSpan& span, std::vector<uint8_t>& out) {
  if (done) return;
  held.insert(held.end(), data, data + size);
  for (;;) {
    const kx::Frame f = kx::FrameAt(held.data() + scan, held.size() - scan);
    if (f.kind == kx::FrameKind::Incomplete) break;
    if (f.kind == kx::FrameKind::Packet) found.push_back({packets++, scan, scan + f.size});
    scan += f.size;
  }
  size_t drop = 0;  // bytes of `held` that come before the cut
  if (!started) {
    // Before the first revolution has begun, it begins at the first point
    // not yet filed or later: only from the packet before that one on may
    // bytes be needed.
    const int64_t firstPoint = span.first >= 0 ? span.first : static_cast<int64_t>(span.seen);
    const uint64_t fromPacket = static_cast<uint64_t>(std::max<int64_t>(firstPoint / kx::kPointsPerPacket - 1, 0));
    const auto from = std::find_if(found.begin(), found.end(), [&](const Found& f) { return f.index >= fromPacket; });
    drop = from != found.end() ? from->start : scan;
    started = span.first >= 0 && from != found.end();
  }
  size_t keep = drop;  // bytes of `held` known to belong to the cut end here
  if (started) {
    // The cut ends at least with the packet after the one that holds the
    // next point to be filed.
    const int64_t endPoint = span.next >= 0 ? span.next : static_cast<int64_t>(span.seen);
    const uint64_t lastPacket = static_cast<uint64_t>(endPoint / kx::kPointsPerPacket + 1);
    for (const Found& f : found) {
      if (f.index > lastPacket) break;
      if (f.start < drop) continue;
      keep = f.end;
      passedOn = f.index + 1;
    }
    done = span.next >= 0 && passedOn > lastPacket;
  }
  out.insert(out.end(), held.begin() + static_cast<std::ptrdiff_t>(drop),
             held.begin() + static_cast<std::ptrdiff_t>(keep));
  held.erase(held.begin(), held.begin() + static_cast<std::ptrdiff_t>(keep));
  scan -= keep;
  found.erase(found.begin(), std::find_if(found.begin(), found.end(), [&](const Found& f) { return f.start >= keep; }));
  for (Found& f : found) f.start -= keep, f.end -= keep;
  if (done) held.clear();
}

bool RawRecorder::Close(std::string& error) {
  if (fd < 0) return !failed;
  const int result = ::close(fd);
  fd = -1;
  if (result != 0 && !failed) {
    failed = true;
    error = "closing raw file " + path + " failed: " + std::strerror(errno);
  }
  return !failed;
}

std::string PcdRecorder::FileName(long number) {
  char name[32];
  std::snprintf(name, sizeof name, "rev_%06ld.pcd", number);
  return name;
}

void PcdRecorder::RemoveIfUnused() {
  std::error_code ec;
  if (created && fs::is_empty(dir, ec)) fs::remove(dir, ec);
}

bool PcdRecorder::Open(const std::string& directory, std::string& error) {
  dir = directory;
  std::error_code ec;
  created = fs::create_directories(dir, ec);
  if (ec || !fs::is_directory(dir, ec)) {
    error = "cannot create PCD directory " + dir + (ec ? ": " + ec.message() : std::string(": not a directory"));
    return false;
  }
  for (const fs::directory_entry& entry : fs::directory_iterator(dir, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("rev_", 0) == 0 && entry.path().extension() == ".pcd") {
      error = "PCD directory " + dir + " already holds a recording (" + name + "); choose an empty directory";
      return false;
    }
  }
  if (ec) {
    error = "cannot read PCD directory " + dir + ": " + ec.message();
    return false;
  }
  if (::access(dir.c_str(), W_OK) != 0) {
    error = "cannot write to PCD directory " + dir + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool PcdRecorder::WriteRevolution(long number, const std::vector<KXScanPoint>& frame, std::string& error) {
  if (failed) return false;
  if (WritePcdFile((fs::path(dir) / FileName(number)).string(), frame, 1, error)) return true;
  failed = true;
  return false;
}
