#pragma once

#include <pcl/point_types.h>

#include <QString>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "protocol/KXScanPoint.h"

// The files a recording writes. Each reports its first failure through a
// false result and an error text, keeps what it already wrote, and refuses
// further writes afterwards.

// CSV rows exactly as the window writes them: each row formatted by a
// QTextStream with its default settings (the angle as a float in general
// notation with six significant digits). The bytes go out through plain
// writes, once per batch, so that a failure carries the system's reason.
class CsvRecorder {
 public:
  ~CsvRecorder();
  // Opens for appending: an existing file keeps its content.
  bool Open(const std::string& path, std::string& error);
  bool WriteHeader(std::string& error);
  bool WriteRows(const std::vector<KXScanPoint>& rows, std::string& error);
  bool Close(std::string& error);
  bool IsOpen() const { return fd >= 0; }

  // The text of one batch of rows, each ended by a line feed.
  static QString FormatRows(const std::vector<KXScanPoint>& rows);

 private:
  bool WriteText(const QString& text, std::string& error);

  std::string path;
  int fd = -1;
  bool failed = false;
};

// Hands received chunks from the serial I/O thread to the recording thread,
// which writes them; the I/O thread never waits on the disk.
class RawSpool {
 public:
  void Append(const uint8_t* data, uint32_t size);
  // Swaps the collected bytes into `out` (whose old content is discarded), so
  // that the two buffers keep their capacity and steady state needs no allocation.
  void TakeInto(std::vector<uint8_t>& out);

 private:
  std::mutex mutex;
  std::vector<uint8_t> bytes;
};

// Every received byte, unchanged, appended to a file.
class RawRecorder {
 public:
  ~RawRecorder();
  bool Open(const std::string& path, std::string& error);
  bool Write(const std::vector<uint8_t>& bytes, std::string& error);
  bool Close(std::string& error);
  uint64_t BytesWritten() const { return written; }

 private:
  std::string path;
  int fd = -1;
  uint64_t written = 0;
  bool failed = false;
};

// One PCD file per completed revolution, DIR/rev_NNNNNN.pcd, binary, with the
// filled slots only.
class PcdRecorder {
 public:
  // Creates the directory when needed; refuses one that already holds
  // revolution files, so that an earlier recording is never overwritten.
  bool Open(const std::string& dir, std::string& error);
  bool WriteRevolution(long number, const std::vector<KXScanPoint>& frame, std::string& error);
  static std::string FileName(long number);

 private:
  std::string dir;
  bool failed = false;
};

// The viewer's conversion of a point to metres in the plane z = 0, with the
// same single- and double-precision steps; `rotationSign` +1 is counter-clockwise.
pcl::PointXYZI ToCloudPoint(const KXScanPoint& point, int rotationSign = 1);
