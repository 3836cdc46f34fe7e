// The raw file of `lds-record --revolutions N --raw`, made the way the
// recorder makes it but without a port: a stream fed to the decoder chunk by
// chunk, the rows filed by a RecordSession, the cut following them. Played
// back the same way, the cut must give the same N revolutions, row for row.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "protocol/KXProtocol.h"
#include "record/RecordSession.h"
#include "sim/SimPacket.h"
#include "tests/support/TextFile.h"

using Bytes = std::vector<uint8_t>;

namespace {

struct Recorded {
  std::string csv;
  Bytes raw;
  RecordedSpan span;
  uint64_t packets = 0;  // decoded
};

// Three revolutions of `stream`, polled every ten packets; with `reconnectAt`
// > 0 the link is lost after that many bytes and comes back, as with
// --reconnect. The cut gets the bytes half a poll ahead of the filed points,
// then half a poll behind, as it gets them from the spool on a live link.
Recorded Record(const Bytes& stream, const ScanSettings& settings, float offset, size_t reconnectAt = 0) {
  const std::string path = testing::TempDir() + "lds-cut-" + std::to_string(getpid()) + ".csv";
  KXProtocol protocol;
  protocol.SetAngleOffset(offset);
  protocol.SetConsoleReports(false);
  CsvRecorder csv;
  std::string error;
  EXPECT_TRUE(csv.Open(path, error)) << error;
  RecordSession session(settings, &csv, nullptr, 3);
  RawRevolutionCut cut;
  Recorded r;
  size_t cutAt = 0;
  auto feedCut = [&](size_t to) {
    to = std::max(cutAt, to);
    cut.Feed(stream.data() + cutAt, to - cutAt, session.Span(), r.raw);
    cutAt = to;
  };
  std::vector<std::string> anomalies;
  const size_t half = 5 * kx::kPacketSize;
  for (size_t at = 0, poll = 0; at < stream.size(); ++poll) {
    const size_t limit = at < reconnectAt ? reconnectAt : stream.size();
    const size_t end = std::min(limit, at + 2 * half);
    if (poll % 2 == 0) feedCut(std::min(limit, end + half));
    protocol.OnDataReceived(stream.data() + at, static_cast<uint32_t>(end - at));
    std::vector<KXScanPoint> points = protocol.TakeScanPoints();
    session.SetLink(protocol.GetLinkStats(), 600.0f, 0);
    EXPECT_TRUE(session.ProcessPoll(std::move(points), error, anomalies)) << error;
    if (poll % 2 == 1) feedCut(end - half);
    if (end == reconnectAt) {
      feedCut(end);
      protocol.ResetReceiver();
      cut.Restart();
      EXPECT_TRUE(session.Gap(0, 0, error));
    }
    at = end;
  }
  feedCut(stream.size());
  EXPECT_TRUE(csv.Close(error)) << error;
  EXPECT_TRUE(cut.Done());
  r.csv = ReadFile(path);
  r.span = session.Span();
  r.packets = protocol.GetLinkStats().packets;
  ::unlink(path.c_str());
  return r;
}

}  // namespace

// The first packet starts anywhere in the turn (two turns of starts, since a
// turn is 37.5 packets), so that in some runs it already passes 0 degrees:
// with an angle offset that puts its start at 359.8 degrees the rows do not
// see that pass, and with the per-point filter its first points are not
// rows at all. A stray 5A byte makes the decoder skip a response frame's
// length, packets included; a link lost halfway through a packet leaves
// bytes that the decoder forgets on reconnecting.
TEST(RawCut, ReplaysToTheRowsOfTheRecordingWhereverTheStreamStarts) {
  const sim::SimScene scene;
  sim::ScanGenerator generator(scene, 10.0, 1000000000 / 375, 7);
  ScanSettings noCalib;
  noCalib.enableAngleCalib = false;
  ScanSettings filtered;
  filtered.enableAlgoFilter = true;
  filtered.enableDistCorrect = true;
  struct Case {
    const char* name;
    ScanSettings settings;
    float offset;
    bool strayByte;
    bool reconnect;
  };
  const Case cases[] = {{"offset", noCalib, 4.6f, false, false},
                        {"calibration and per-point filter", filtered, 0.0f, false, false},
                        {"stray 5A byte", noCalib, 4.6f, true, false},
                        {"reconnect halfway through a packet", noCalib, 4.6f, false, true}};
  for (const Case& c : cases) {
    for (uint64_t first = 0; first < 75; ++first) {
      Bytes stream;
      for (uint64_t i = first; i < first + 200; ++i) {
        if (c.strayByte && i == first + 80) stream.push_back(kx::kResponseHeader);
        const sim::PacketBytes p = sim::EncodePacket(generator.MakePacket(i));
        stream.insert(stream.end(), p.begin(), p.end());
      }
      if (c.reconnect) stream.erase(stream.begin() + 20, stream.begin() + kx::kPacketSize);
      const Recorded recorded = Record(stream, c.settings, c.offset, c.reconnect ? 20 : 0);
      const Recorded replayed = Record(recorded.raw, c.settings, c.offset);
      const std::string what = std::string(c.name) + ", first packet " + std::to_string(first);
      const size_t rows = Lines(recorded.csv).size() - 1;
      ASSERT_GT(rows, 3 * 400u) << what;
      EXPECT_TRUE(replayed.csv == recorded.csv)
          << what << ": " << Lines(replayed.csv).size() - 1 << " rows replayed of " << rows;
      // One packet of margin at each end, none more. Without the per-point
      // filter every point from the first row on is a row: the point after
      // the last row is then known without the session's word.
      EXPECT_EQ(replayed.span.first / 12, std::min<int64_t>(recorded.span.first / 12, 1)) << what;
      const int64_t after = c.settings.enableAlgoFilter ? replayed.span.next : replayed.span.first + rows;
      EXPECT_EQ(after / 12 + 2, static_cast<int64_t>(replayed.packets)) << what;
    }
  }
}
