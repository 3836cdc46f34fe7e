#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "protocol/KXScanPoint.h"
#include "protocol/RawSpool.h"
#include "scan/PcdFile.h"
#include "scan/RevolutionStats.h"

// The files a recording writes. Each reports its first failure through a
// false result and an error text, keeps what it already wrote, and refuses
// further writes afterwards.

// CSV rows exactly as the window writes them: each row formatted by a
// QTextStream with its default settings (the angle as a float in general
// notation with six significant digits). The bytes go out through plain
// writes, once per batch, so that a failure carries the system's reason.
class CsvRecorder {
 public:
  CsvRecorder() : CsvRecorder("angle,dist,intensity", "CSV file") {}
  ~CsvRecorder();
  // Opens for appending: an existing file keeps its content. The header goes
  // out with the first rows, so a run that records nothing adds nothing.
  bool Open(const std::string& path, std::string& error);
  bool WriteRows(const std::vector<KXScanPoint>& rows, std::string& error);
  bool Close(std::string& error);
  bool IsOpen() const { return fd >= 0; }
  // Removes the file if this run created it and wrote nothing to it.
  void RemoveIfUnused();

  // The text of one batch of rows, each ended by a line feed.
  static QString FormatRows(const std::vector<KXScanPoint>& rows);

 protected:
  // A file of other rows: its header line and what messages call it.
  CsvRecorder(std::string header, std::string what) : header(std::move(header)), what(std::move(what)) {}
  // Appends whole lines, after the header the first time.
  bool Append(const QString& text, std::string& error);

 private:
  bool WriteText(const QString& text, std::string& error);

  std::string header;
  std::string what;
  std::string path;
  int fd = -1;
  bool failed = false;
  bool created = false;
  bool headerWritten = false;
};

// One row per completed revolution (see RevolutionFigures), written as the
// revolution completes, so that a reader following the file sees it at once.
class StatsRecorder : public CsvRecorder {
 public:
  static constexpr char kHeader[] =
      "revolution,time_ms,duration_ms,speed_rpm,points,empty_points,min_mm,median_mm,max_mm,crc_errors,skipped_bytes";
  StatsRecorder() : CsvRecorder(kHeader, "stats file") {}
  bool WriteRevolution(const RevolutionFigures& figures, std::string& error);
  // A row "gap,TIME,DURATION" with the other columns empty: the link was down
  // for `durationMs` until `timeMs`.
  bool WriteGap(int64_t timeMs, int64_t durationMs, std::string& error);
};

// Every received byte, unchanged, appended to a file. Writes never wait: a
// pipe or FIFO that does not take the bytes now keeps them queued, and one
// that falls more than kMaxQueued bytes behind fails the recording, so that a
// slow reader can neither hold the recorder up nor make it grow.
class RawRecorder {
 public:
  static constexpr size_t kMaxQueued = 256 * 1024;

  ~RawRecorder();
  bool Open(const std::string& path, std::string& error);
  // Queues the bytes and writes what the file takes now.
  bool Write(const std::vector<uint8_t>& bytes, std::string& error);
  // Waits up to `waitMs` for the queued bytes to go out, or until `stop` holds.
  bool Drain(int waitMs, const std::function<bool()>& stop, std::string& error);
  bool Close(std::string& error);
  void RemoveIfUnused();
  uint64_t BytesWritten() const { return written; }
  size_t Queued() const { return queued.size() - head; }

 private:
  bool Pump(std::string& error);
  bool Fail(const std::string& what, std::string& error);

  std::string path;
  int fd = -1;
  uint64_t written = 0;
  bool failed = false;
  bool created = false;
  std::vector<uint8_t> queued;
  size_t head = 0;  // bytes of `queued` already written
};

// Where the revolutions a recording keeps lie in the stream of decoded
// points, counted from 0 at the first point decoded (points the protocol's
// queue dropped included): the points before `seen` have been filed; the
// first kept revolution begins with point `first`, and point `next` begins
// the one after the last kept. -1 while not known.
struct RecordedSpan {
  uint64_t seen = 0;
  int64_t first = -1;
  int64_t next = -1;
};

// With --revolutions N, the part of the byte stream that carries the
// revolutions the CSV rows keep, with one whole packet of margin at each end,
// so that a replay shows the same revolutions: from the packet before the one
// that holds the point `first`, through the packet after the one that holds
// the point `next`. The cut follows the rows' own revolutions (see
// RecordSession::Span) rather than judging angles itself, and finds the
// packets by the decoder's framing rule, so that its packet k carries decoded
// points 12k to 12k + 11.
class RawRevolutionCut {
 public:
  // Takes the next received bytes and what the rows have decided by now;
  // appends to `out` the bytes (of this and earlier calls) known to belong to
  // the cut.
  void Feed(const uint8_t* data, size_t size, const RecordedSpan& span, std::vector<uint8_t>& out);
  // The decoder forgets a partly received packet when it connects again: so
  // does the cut. Call it before each new connection.
  void Restart() { scan = held.size(); }
  // True once the closing packet has been passed on.
  bool Done() const { return done; }

 private:
  struct Found {
    uint64_t index;  // counted as the decoder counts packets
    size_t start;    // in `held`
    size_t end;
  };
  std::vector<uint8_t> held;  // bytes not yet decided
  size_t scan = 0;            // where the framing goes on in `held`
  uint64_t packets = 0;       // packets found so far
  std::vector<Found> found;   // packets in `held`, in order
  bool started = false;       // the first packet of the cut has gone out
  uint64_t passedOn = 0;      // the packets before this index have gone out
  bool done = false;
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
  // Removes the directory if this run created it and it is still empty.
  void RemoveIfUnused();

 private:
  std::string dir;
  bool failed = false;
  bool created = false;
};
