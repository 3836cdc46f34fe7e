// The receiver fed directly: byte streams cut into chunks of several sizes,
// angles, the point queue's limit and the receive area's overflow rule.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>
#include <vector>

#include "protocol/KXProtocol.h"
#include "tests/link/LinkTestSupport.h"

using linktest::Packet;
using linktest::operator+;
using Bytes = std::vector<uint8_t>;

namespace {

void Feed(KXProtocol& protocol, const Bytes& bytes, size_t chunk = 4096) {
  testing::internal::CaptureStdout();  // the receiver reports CRC errors and overflows there
  for (size_t at = 0; at < bytes.size(); at += chunk)
    protocol.OnDataReceived(bytes.data() + at, static_cast<uint32_t>(std::min(chunk, bytes.size() - at)));
  testing::internal::GetCapturedStdout();
}

Bytes Flip(Bytes bytes, size_t at) {
  bytes[at] ^= 0x01;
  return bytes;
}

// A type-0xB0 response: four bytes, then the CRC-32 of those four at offset 4.
Bytes CrcResponse() {
  Bytes frame = {0x5A, 0x08, 0xB0, 0x07};
  const uint32_t crc = kx::Crc32Words(frame.data(), 4);
  for (int i = 0; i < 4; ++i) frame.push_back(static_cast<uint8_t>(crc >> (8 * i)));
  return frame;
}

// A 6-byte type-0xB0 frame followed by two bytes that complete a matching
// check value: only a receiver reading past the frame's end would accept it.
Bytes ShortResponse() {
  Bytes frame = {0x5A, 0x06, 0xB0, 0x00};
  const uint32_t crc = kx::Crc32Words(frame.data(), 2);
  for (int i = 0; i < 4; ++i) frame.push_back(static_cast<uint8_t>(crc >> (8 * i)));
  return frame;
}

const Bytes kSumResponse = {0x5A, 0x06, 0x11, 0x20, 0x30, 0xC1 /* the sum of the others */};

struct StreamCase {
  const char* name;
  Bytes stream;
  uint64_t packets, crcErrors, skipped, acks;
  std::vector<uint16_t> firstDistances;  // of each decoded packet, in order
  uint8_t responseType = 0xB0;
};

}  // namespace

TEST(Decoder, StreamsDecodeTheSameWhereverTheyAreCut) {
  Bytes padded = Bytes{0x5A, 0xC8} + Packet(0) + Packet(12) + Packet(24) + Packet(36);
  padded.resize(200, 0xEE);
  const StreamCase cases[] = {
      {"two packets, a header waits", Packet(100) + Packet(112) + Bytes{0x54}, 2, 0, 0, 0, {100, 112}},
      {"junk and false headers go a byte at a time",
       Bytes{0, 0x54, 0, 0x4F, 0x54, 0x5A, 3, 0xFF} + Packet(500),
       1,
       0,
       8,
       0,
       {500}},
      {"bad CRC counted, next packet decoded", Flip(Packet(1), 10) + Packet(42), 1, 1, 0, 0, {42}},
      {"short and long acknowledgements", {0x4F, 0x4B, 0x55, 0xAB, 0x0A, 0x42, 0x5A}, 0, 0, 0, 2, {}},
      {"long acknowledgement that fails swallows five bytes",
       {0x55, 0xAB, 0x0A, 0x4F, 0x4B, 0x55, 0xAB, 0x0A, 0x42, 0},
       0,
       0,
       10,
       0,
       {}},
      {"0x4F then another byte", {0x4F, 0x4F, 0x4B}, 0, 0, 1, 1, {}},
      {"checked response accepted", CrcResponse(), 0, 0, 0, 1, {}},
      {"response with a wrong CRC skipped whole", Flip(CrcResponse(), 3), 0, 0, 8, 0, {}},
      {"response too short for its check value never read past its end", ShortResponse(), 0, 0, 7, 0, {}},
      {"response of an unexpected type skipped unchecked", kSumResponse, 0, 0, 6, 0, {}},
      {"expected type with an additive checksum", kSumResponse + Flip(kSumResponse, 5), 0, 0, 6, 1, {}, 0x11},
      {"response length swallows packets inside it", padded + Packet(900), 1, 0, 200, 0, {900}},
  };
  for (const StreamCase& c : cases) {
    for (size_t chunk : {1, 7, 47, 512}) {
      KXProtocol protocol;
      protocol.SetExpectedResponseType(c.responseType);
      Feed(protocol, c.stream, chunk);
      const KXLinkStats s = protocol.GetLinkStats();
      EXPECT_EQ(std::make_tuple(s.packets, s.crcErrors, s.skippedBytes, s.acks, s.bytesReceived),
                std::make_tuple(c.packets, c.crcErrors, c.skipped, c.acks, uint64_t{c.stream.size()}))
          << c.name << ", chunks of " << chunk;
      const auto points = protocol.TakeScanPoints();
      std::vector<uint16_t> firsts;
      for (size_t i = 0; i < points.size(); i += 12) firsts.push_back(points[i].distance);
      EXPECT_EQ(firsts, c.firstDistances) << c.name << ", chunks of " << chunk;
      EXPECT_EQ(points.size(), 12 * firsts.size()) << c.name;
    }
  }
}

TEST(Decoder, PointsAnglesSpeedAndTime) {
  const struct {
    const char* name;
    uint16_t start, end;
    float offset, first, second, last;
  } cases[] = {
      {"plain sweep", 1000, 2100, 0.0f, 10.0f, 11.0f, 21.0f},
      {"sweep across 0 degrees", 35000, 1000, 0.0f, 350.0f, 351.81818f, 10.0f},
      {"negative offset wraps up", 0, 1100, -1.0f, 359.0f, 0.0f, 10.0f},
      {"positive offset wraps down", 34900, 35900, 1.5f, 350.5f, 351.40909f, 0.5f},
  };
  for (const auto& c : cases) {
    KXProtocol protocol;
    protocol.SetAngleOffset(c.offset);
    Feed(protocol, Packet(100, c.start, c.end, 2160, 54321));
    const auto points = protocol.TakeScanPoints();
    ASSERT_EQ(points.size(), 12u) << c.name;
    EXPECT_NEAR(points[0].angle, c.first, 1e-3) << c.name;
    EXPECT_NEAR(points[1].angle, c.second, 1e-3) << c.name;
    EXPECT_NEAR(points[11].angle, c.last, 1e-3) << c.name;
    for (int k = 0; k < 12; ++k)
      EXPECT_EQ(std::make_pair(+points[k].distance, +points[k].intensity), std::make_pair(100 + k, 10 + k))
          << c.name << " point " << k;
    float rpm = 0;
    uint16_t stamp = 0;
    protocol.GetSpeedAndTimestamp(&rpm, &stamp);
    EXPECT_FLOAT_EQ(rpm, 360.0f);
    EXPECT_EQ(stamp, 54321);
  }
}

// The queue goes a whole oldest packet at a time once it holds more than its
// limit, and every point it lets go is counted.
TEST(Decoder, QueueLimitTrimsWholePacketsAndCountsThem) {
  const struct {
    const char* name;
    size_t limit;
    int packets;
    size_t lowerTo;
    int packetsAfter;
    size_t kept;
    uint64_t dropped;
    uint16_t firstKept;
  } cases[] = {
      {"default limit lets 360 queued points grow", 360, 31, 360, 0, 372, 0, 0},
      {"default limit trims above 360", 360, 33, 360, 0, 372, 24, 24},
      {"lowered limit trims a long queue at once", 1200, 100, 100, 1, 108, 1104, 1104},
      {"limit 0 keeps the newest packet", 0, 2, 0, 0, 12, 12, 12},
  };
  for (const auto& c : cases) {
    KXProtocol protocol;
    protocol.SetQueueLimit(c.limit);
    int n = 0;
    for (; n < c.packets; ++n) Feed(protocol, Packet(static_cast<uint16_t>(12 * n)));
    protocol.SetQueueLimit(c.lowerTo);
    for (; n < c.packets + c.packetsAfter; ++n) Feed(protocol, Packet(static_cast<uint16_t>(12 * n)));
    const auto points = protocol.TakeScanPoints();
    ASSERT_EQ(points.size(), c.kept) << c.name;
    EXPECT_EQ(points.front().distance, c.firstKept) << c.name;
    EXPECT_EQ(points.back().distance, 12 * n - 1) << c.name;
    EXPECT_EQ(protocol.GetLinkStats().droppedPoints, c.dropped) << c.name;
  }
}

TEST(Decoder, OverflowDropsTheChunkAndKeepsWhatWasBuffered) {
  KXProtocol protocol;
  Bytes pending(254, 0);  // a 255-byte response frame short of its last byte
  pending[0] = 0x5A;
  pending[1] = 0xFF;
  Feed(protocol, pending);
  Feed(protocol, Bytes(1024 - 254 + 1, 0));
  EXPECT_EQ(protocol.GetLinkStats().overflowChunks, 1u);
  EXPECT_EQ(protocol.GetLinkStats().skippedBytes, 0u);

  Bytes fits(1024 - 254, 0);  // exactly fills the area: accepted
  fits.back() = 0x4F;         // alone at the end, it waits for its second byte
  Feed(protocol, fits);
  Feed(protocol, {0x4B});
  const KXLinkStats s = protocol.GetLinkStats();
  EXPECT_EQ(std::make_tuple(s.overflowChunks, s.skippedBytes, s.acks, s.bytesReceived),
            std::make_tuple(uint64_t{1}, uint64_t{1023}, uint64_t{1}, uint64_t{254 + 771 + 770 + 1}));
}
