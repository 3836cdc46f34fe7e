#include "record/RecordOutputs.h"

#include <fcntl.h>
#include <pcl/io/pcd_io.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

bool CsvRecorder::Open(const std::string& path, std::string& error) {
  file.setFileName(QString::fromStdString(path));
  if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
    error = "cannot open CSV file " + path + ": " + file.errorString().toStdString();
    return false;
  }
  stream.setDevice(&file);
  return true;
}

bool CsvRecorder::Check(std::string& error) {
  if (stream.status() == QTextStream::Ok && file.error() == QFileDevice::NoError) return true;
  failed = true;
  error = "writing CSV file " + file.fileName().toStdString() + " failed: " + file.errorString().toStdString();
  return false;
}

bool CsvRecorder::WriteHeader(std::string& error) {
  if (failed) return false;
  stream << "angle,dist,intensity\n";
  stream.flush();
  return Check(error);
}

bool CsvRecorder::WriteRows(const std::vector<KXScanPoint>& rows, std::string& error) {
  if (failed) return false;
  if (rows.empty()) return true;
  for (const KXScanPoint& p : rows) {
    // Both integers go out in decimal; a bare uint8_t would be written as a character.
    stream << p.angle << ',' << static_cast<unsigned>(p.distance) << ',' << static_cast<unsigned>(p.intensity) << '\n';
  }
  stream.flush();
  return Check(error);
}

bool CsvRecorder::Close(std::string& error) {
  if (!file.isOpen()) return !failed;
  bool ok = true;
  if (!failed) {
    stream.flush();
    ok = Check(error);
  }
  stream.setDevice(nullptr);
  file.close();
  if (ok && file.error() != QFileDevice::NoError) {
    error = "closing CSV file " + file.fileName().toStdString() + " failed: " + file.errorString().toStdString();
    ok = false;
  }
  return ok && !failed;
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
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      failed = true;
      error = "writing raw file " + path + " failed: " + std::strerror(n < 0 ? errno : ENOSPC);
      return false;
    }
    done += static_cast<size_t>(n);
    written += static_cast<uint64_t>(n);
  }
  return true;
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
