#include "record/RecordOutputs.h"

#include <fcntl.h>
#include <pcl/io/pcd_io.h>
#include <unistd.h>

#include <QTextStream>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// Writes all of `size` bytes; false with errno set on failure.
bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {
      errno = ENOSPC;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

CsvRecorder::~CsvRecorder() {
  if (fd >= 0) ::close(fd);
}

bool CsvRecorder::Open(const std::string& filePath, std::string& error) {
  path = filePath;
  fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = "cannot open CSV file " + path + ": " + std::strerror(errno);
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
  if (WriteAll(fd, bytes.constData(), static_cast<size_t>(bytes.size()))) return true;
  failed = true;
  error = "writing CSV file " + path + " failed: " + std::strerror(errno);
  return false;
}

bool CsvRecorder::WriteHeader(std::string& error) { return WriteText(QStringLiteral("angle,dist,intensity\n"), error); }

bool CsvRecorder::WriteRows(const std::vector<KXScanPoint>& rows, std::string& error) {
  if (failed) return false;
  if (rows.empty()) return true;
  return WriteText(FormatRows(rows), error);
}

bool CsvRecorder::Close(std::string& error) {
  if (fd < 0) return !failed;
  const int result = ::close(fd);
  fd = -1;
  if (result != 0 && !failed) {
    failed = true;
    error = "closing CSV file " + path + " failed: " + std::strerror(errno);
  }
  return !failed;
}

void RawSpool::Append(const uint8_t* data, uint32_t size) {
  std::lock_guard<std::mutex> lock(mutex);
  bytes.insert(bytes.end(), data, data + size);
}

void RawSpool::TakeInto(std::vector<uint8_t>& out) {
  out.clear();
  std::lock_guard<std::mutex> lock(mutex);
  out.swap(bytes);
}

RawRecorder::~RawRecorder() {
  if (fd >= 0) ::close(fd);
}

bool RawRecorder::Open(const std::string& filePath, std::string& error) {
  path = filePath;
  fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = "cannot open raw file " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool RawRecorder::Write(const std::vector<uint8_t>& bytes, std::string& error) {
  if (failed || fd < 0) return false;
  if (WriteAll(fd, reinterpret_cast<const char*>(bytes.data()), bytes.size())) {
    written += bytes.size();
    return true;
  }
  failed = true;
  error = "writing raw file " + path + " failed: " + std::strerror(errno);
  return false;
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

bool PcdRecorder::Open(const std::string& directory, std::string& error) {
  dir = directory;
  std::error_code ec;
  fs::create_directories(dir, ec);
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
  pcl::PointCloud<pcl::PointXYZI> cloud;
  cloud.reserve(frame.size());
  for (const KXScanPoint& p : frame) {
    if (p.distance != 0) cloud.push_back(ToCloudPoint(p));
  }
  cloud.width = static_cast<uint32_t>(cloud.size());
  cloud.height = 1;
  cloud.is_dense = true;

  const std::string path = (fs::path(dir) / FileName(number)).string();
  pcl::PCDWriter writer;
  int result = 0;
  try {
    if (cloud.empty()) {
      // PCL refuses to write a cloud without points; a revolution whose
      // points were all filtered out still gets its (empty) file.
      std::ofstream out(path, std::ios::binary | std::ios::trunc);
      out << writer.generateHeader(cloud) << "DATA ascii\n";
      out.close();
      result = out ? 0 : -1;
    } else {
      result = writer.writeBinary(path, cloud);
    }
  } catch (const std::exception& e) {
    error = "writing PCD file " + path + " failed: " + e.what();
    failed = true;
    return false;
  }
  if (result != 0) {
    error = "writing PCD file " + path + " failed" + (errno ? std::string(": ") + std::strerror(errno) : "");
    failed = true;
    return false;
  }
  return true;
}

pcl::PointXYZI ToCloudPoint(const KXScanPoint& point, int rotationSign) {
  const float a = static_cast<float>(static_cast<double>(point.angle) / 180.0 * M_PI);
  const float d = static_cast<float>(point.distance);
  const float dx = d * std::cos(a);
  const float dy = d * static_cast<float>(rotationSign) * std::sin(a);
  pcl::PointXYZI out;
  out.x = static_cast<float>(static_cast<double>(dx) * 0.001);
  out.y = static_cast<float>(static_cast<double>(dy) * 0.001);
  out.z = 0.0f;
  out.intensity = static_cast<float>(point.intensity);
  return out;
}
