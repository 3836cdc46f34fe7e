#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "protocol/KXPacket.h"
#include "protocol/KXProtocol.h"
#include "tests/link/LinkTestSupport.h"

using linktest::Append;
using linktest::MakeNumberedPacket;
using linktest::MakePacket;
using linktest::PacketFields;

namespace {

void Feed(KXProtocol& protocol, const std::vector<uint8_t>& bytes) {
  protocol.OnDataReceived(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

// Feeds the bytes and returns what the receiver printed on standard output.
std::string FeedCapturing(KXProtocol& protocol, const std::vector<uint8_t>& bytes) {
  testing::internal::CaptureStdout();
  Feed(protocol, bytes);
  return testing::internal::GetCapturedStdout();
}

std::vector<float> Angles(const std::vector<KXScanPoint>& points) {
  std::vector<float> out;
  for (const auto& p : points) out.push_back(p.angle);
  return out;
}

std::vector<float> AnglesOf(uint16_t start, uint16_t end, float offset) {
  KXProtocol protocol;
  protocol.SetAngleOffset(offset);
  PacketFields fields;
  fields.startAngle = start;
  fields.endAngle = end;
  Feed(protocol, MakePacket(fields));
  return Angles(protocol.TakeScanPoints());
}

}  // namespace

TEST(Crc8, CheckValueAndTable) {
  const char* digits = "123456789";
  EXPECT_EQ(kx::Crc8(reinterpret_cast<const uint8_t*>(digits), 9), 0xC3);
  const uint8_t first[8] = {0x00, 0x4D, 0x9A, 0xD7, 0x79, 0x34, 0xE3, 0xAE};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(kx::kCrc8Table[i], first[i]) << "entry " << i;
}

TEST(Decoder, PacketSplitOverChunksIsDecodedOnceComplete) {
  KXProtocol protocol;
  PacketFields fields;
  fields.speed = 2160;  // 6 turns a second
  fields.startAngle = 1000;
  fields.endAngle = 2100;
  fields.timestamp = 54321;
  for (int k = 0; k < 12; ++k) {
    fields.distances[k] = static_cast<uint16_t>(1000 + 250 * k);
    fields.intensities[k] = static_cast<uint8_t>(200 + k);
  }
  const auto packet = MakePacket(fields);

  Feed(protocol, {packet.begin(), packet.begin() + 20});
  Feed(protocol, {packet.begin() + 20, packet.begin() + 40});
  EXPECT_TRUE(protocol.TakeScanPoints().empty());
  Feed(protocol, {packet.begin() + 40, packet.end()});

  auto points = protocol.TakeScanPoints();
  ASSERT_EQ(points.size(), 12u);
  for (int k = 0; k < 12; ++k) {
    EXPECT_FLOAT_EQ(points[k].angle, 10.0f + k);
    EXPECT_EQ(points[k].distance, 1000 + 250 * k);
    EXPECT_EQ(points[k].intensity, 200 + k);
  }
  float speed = 0;
  uint16_t stamp = 0;
  protocol.GetSpeedAndTimestamp(&speed, &stamp);
  EXPECT_FLOAT_EQ(speed, 360.0f);
  EXPECT_EQ(stamp, 54321);
  EXPECT_TRUE(protocol.TakeScanPoints().empty());

  // A chunk boundary in the middle of a packet, then the next packet whole.
  std::vector<uint8_t> two = MakeNumberedPacket(1);
  Append(two, MakeNumberedPacket(13));
  Feed(protocol, {two.begin(), two.begin() + 60});
  Feed(protocol, {two.begin() + 60, two.end()});
  points = protocol.TakeScanPoints();
  ASSERT_EQ(points.size(), 24u);
  for (int i = 0; i < 24; ++i) EXPECT_EQ(points[i].distance, 1 + i);
  EXPECT_EQ(protocol.GetLinkStats().packets, 3u);
}

TEST(Decoder, GarbageIsSkippedByteByByteIncludingFalseHeaders) {
  KXProtocol protocol;
  // 0x54 and 0x4F followed by the wrong byte, and a short response header:
  // each advances one byte only.
  std::vector<uint8_t> stream = {0x00, 0x54, 0x00, 0x4F, 0x54, 0x5A, 0x03, 0xFF};
  Append(stream, MakeNumberedPacket(500));
  Feed(protocol, stream);
  auto points = protocol.TakeScanPoints();
  ASSERT_EQ(points.size(), 12u);
  EXPECT_EQ(points[0].distance, 500);
  auto stats = protocol.GetLinkStats();
  EXPECT_EQ(stats.skippedBytes, 8u);
  EXPECT_EQ(stats.packets, 1u);
  EXPECT_EQ(stats.acks, 0u);
}

TEST(Decoder, CorruptedPacketIsReportedAndTheNextOneDecoded) {
  KXProtocol protocol;
  PacketFields good;
  good.speed = 3600;
  good.timestamp = 10;
  Feed(protocol, MakePacket(good));
  protocol.TakeScanPoints();

  PacketFields other;
  other.speed = 720;
  other.timestamp = 20;
  auto bad = MakePacket(other);
  bad[10] ^= 0x01;
  std::vector<uint8_t> stream = bad;
  Append(stream, MakeNumberedPacket(42, 30));

  std::string expected = "CRC error found:\n";
  char hex[8];
  for (uint8_t b : bad) {
    std::snprintf(hex, sizeof hex, "%02x ", b);
    expected += hex;
  }
  std::snprintf(hex, sizeof hex, "%02x", kx::Crc8(bad.data(), 46));
  expected += std::string("\nCalculate CRC: ") + hex + "\n";

  // Decode the bad packet alone first: no points, speed and time unchanged.
  EXPECT_EQ(FeedCapturing(protocol, bad), expected);
  EXPECT_TRUE(protocol.TakeScanPoints().empty());
  float speed = 0;
  uint16_t stamp = 0;
  protocol.GetSpeedAndTimestamp(&speed, &stamp);
  EXPECT_FLOAT_EQ(speed, 600.0f);
  EXPECT_EQ(stamp, 10);

  EXPECT_EQ(FeedCapturing(protocol, stream), expected);
  auto points = protocol.TakeScanPoints();
  ASSERT_EQ(points.size(), 12u);
  EXPECT_EQ(points[0].distance, 42);
  protocol.GetSpeedAndTimestamp(&speed, &stamp);
  EXPECT_EQ(stamp, 30);
  EXPECT_EQ(protocol.GetLinkStats().crcErrors, 2u);
}

TEST(Decoder, QueueIsTrimmedToWholePacketsAbove360) {
  KXProtocol protocol;
  for (uint16_t i = 0; i < 30; ++i) Feed(protocol, MakeNumberedPacket(i * 12));
  // 360 queued: the next packet is appended without trimming.
  Feed(protocol, MakeNumberedPacket(30 * 12));
  auto points = protocol.TakeScanPoints();
  ASSERT_EQ(points.size(), 372u);
  EXPECT_EQ(points.front().distance, 0);

  for (uint16_t i = 0; i < 33; ++i) Feed(protocol, MakeNumberedPacket(i * 12));
  // 372 queued before each of the last two: the oldest packet goes each time.
  points = protocol.TakeScanPoints();
  ASSERT_EQ(points.size(), 372u);
  EXPECT_EQ(points.front().distance, 24);
  EXPECT_EQ(points.back().distance, 32 * 12 + 11);
  EXPECT_TRUE(protocol.TakeScanPoints().empty());
}

// Every point the trimming removes is counted, at the default limit and
// when a lowered limit trims a long queue in one step.
TEST(Decoder, TrimmedPointsAreCountedAsDropped) {
  KXProtocol protocol;
  for (uint16_t i = 0; i < 33; ++i) Feed(protocol, MakeNumberedPacket(i * 12));
  EXPECT_EQ(protocol.GetLinkStats().droppedPoints, 24u);
  EXPECT_EQ(protocol.GetLinkStats().packets, 33u);
  protocol.TakeScanPoints();
  Feed(protocol, MakeNumberedPacket(0));
  EXPECT_EQ(protocol.GetLinkStats().droppedPoints, 24u);  // an empty queue drops nothing

  protocol.SetQueueLimit(1200);
  for (uint16_t i = 0; i < 99; ++i) Feed(protocol, MakeNumberedPacket(i * 12));
  EXPECT_EQ(protocol.GetLinkStats().droppedPoints, 24u);
  protocol.SetQueueLimit(100);  // 1200 queued: the oldest 92 packets go at once
  Feed(protocol, MakeNumberedPacket(5000));
  EXPECT_EQ(protocol.GetLinkStats().droppedPoints, 24u + 1104u);
  const auto points = protocol.TakeScanPoints();
  ASSERT_EQ(points.size(), 108u);
  EXPECT_EQ(points.front().distance, 91 * 12);
  EXPECT_EQ(points.back().distance, 5011);

  protocol.SetQueueLimit(0);  // keeps the newest packet only
  Feed(protocol, MakeNumberedPacket(0));
  Feed(protocol, MakeNumberedPacket(12));
  EXPECT_EQ(protocol.TakeScanPoints().front().distance, 12);
  EXPECT_EQ(protocol.GetLinkStats().droppedPoints, 24u + 1104u + 12u);
}

// A consumer that sets a large limit gets every point of a long backlog, in
// order; the limit is then applied with the same rule as the default.
TEST(Decoder, ALargeQueueLimitKeepsABacklogWhole) {
  KXProtocol protocol;
  protocol.SetQueueLimit(24000);
  std::vector<uint8_t> burst;
  for (uint16_t i = 0; i < 2000; ++i) Append(burst, MakeNumberedPacket(static_cast<uint16_t>(i * 12)));
  for (size_t at = 0; at < burst.size(); at += 512) {
    std::vector<uint8_t> chunk(burst.begin() + at, burst.begin() + std::min(burst.size(), at + 512));
    Feed(protocol, chunk);
  }
  Feed(protocol, MakeNumberedPacket(7));  // 24000 queued, not more: appended
  auto points = protocol.TakeScanPoints();
  ASSERT_EQ(points.size(), 24012u);
  for (size_t i = 0; i < 24000; ++i) ASSERT_EQ(points[i].distance, i) << i;
  EXPECT_EQ(points.back().distance, 18);
  EXPECT_EQ(protocol.GetLinkStats().droppedPoints, 0u);

  for (uint16_t i = 0; i < 2002; ++i) Feed(protocol, MakeNumberedPacket(i));
  EXPECT_EQ(protocol.TakeScanPoints().size(), 24012u);
  EXPECT_EQ(protocol.GetLinkStats().droppedPoints, 12u);
}

TEST(Decoder, AcknowledgementFrames) {
  KXProtocol protocol;
  Feed(protocol, {0x4F, 0x4B});
  EXPECT_EQ(protocol.GetLinkStats().acks, 1u);
  Feed(protocol, {0x55, 0xAB, 0x0A, 0x42, 0x5A});
  EXPECT_EQ(protocol.GetLinkStats().acks, 2u);

  // A long acknowledgement that does not match still consumes five bytes, so
  // the 0x4F 0x4B inside it is not seen.
  Feed(protocol, {0x55, 0xAB, 0x0A, 0x4F, 0x4B});
  EXPECT_EQ(protocol.GetLinkStats().acks, 2u);
  EXPECT_EQ(protocol.GetLinkStats().skippedBytes, 5u);
  Feed(protocol, {0x55, 0xAB, 0x0A, 0x42, 0x00});
  EXPECT_EQ(protocol.GetLinkStats().acks, 2u);
  EXPECT_EQ(protocol.GetLinkStats().skippedBytes, 10u);

  // 0x4F then another byte: one byte skipped, the other byte starts a frame.
  Feed(protocol, {0x4F, 0x4F, 0x4B});
  EXPECT_EQ(protocol.GetLinkStats().acks, 3u);
  EXPECT_EQ(protocol.GetLinkStats().skippedBytes, 11u);

  // Headers split over chunks wait for their rest.
  Feed(protocol, {0x55, 0xAB, 0x0A});
  Feed(protocol, {0x42});
  EXPECT_EQ(protocol.GetLinkStats().acks, 3u);
  Feed(protocol, {0x5A, 0x4F});
  Feed(protocol, {0x4B});
  EXPECT_EQ(protocol.GetLinkStats().acks, 5u);
}

TEST(Decoder, ResponseFramesOfBothCheckKinds) {
  KXProtocol protocol;
  // Type 0xB0 with the word-wise CRC-32 of its first four bytes at offset 4.
  std::vector<uint8_t> crcFrame = {0x5A, 0x08, 0xB0, 0x07, 0, 0, 0, 0};
  uint32_t crc = kx::Crc32Words(crcFrame.data(), 4);
  for (int i = 0; i < 4; ++i) crcFrame[4 + i] = static_cast<uint8_t>(crc >> (8 * i));
  Feed(protocol, crcFrame);
  EXPECT_EQ(protocol.GetLinkStats().acks, 1u);
  crcFrame[3] ^= 0x10;
  Feed(protocol, crcFrame);
  EXPECT_EQ(protocol.GetLinkStats().acks, 1u);
  EXPECT_EQ(protocol.GetLinkStats().skippedBytes, 8u);
  // Too short to hold its check value: never accepted, still consumed whole.
  Feed(protocol, {0x5A, 0x05, 0xB0, 0xFF, 0xFF});
  EXPECT_EQ(protocol.GetLinkStats().acks, 1u);
  EXPECT_EQ(protocol.GetLinkStats().skippedBytes, 13u);

  // Other types end in an additive checksum; a frame of another type than the
  // expected one is skipped unchecked.
  const std::vector<uint8_t> sumFrame = {0x5A, 0x06, 0x11,
                                         0x20, 0x30, static_cast<uint8_t>(0x5A + 0x06 + 0x11 + 0x20 + 0x30)};
  Feed(protocol, sumFrame);
  EXPECT_EQ(protocol.GetLinkStats().acks, 1u);
  EXPECT_EQ(protocol.GetLinkStats().skippedBytes, 19u);
  protocol.SetExpectedResponseType(0x11);
  Feed(protocol, sumFrame);
  EXPECT_EQ(protocol.GetLinkStats().acks, 2u);
  auto wrongSum = sumFrame;
  wrongSum[5] ^= 0x01;
  Feed(protocol, wrongSum);
  EXPECT_EQ(protocol.GetLinkStats().acks, 2u);
  EXPECT_EQ(protocol.GetLinkStats().skippedBytes, 25u);
}

TEST(Decoder, ResponseLengthGovernsWhatIsConsumed) {
  KXProtocol protocol;
  // 0x5A 0x10 with 12 bytes buffered waits for the other 4.
  std::vector<uint8_t> frame(16, 0x00);
  frame[0] = 0x5A;
  frame[1] = 0x10;
  frame[2] = 0x33;
  Feed(protocol, {frame.begin(), frame.begin() + 12});
  EXPECT_EQ(protocol.GetLinkStats().skippedBytes, 0u);
  Feed(protocol, {frame.begin() + 12, frame.end()});
  EXPECT_EQ(protocol.GetLinkStats().skippedBytes, 16u);

  // A stray 0x5A 0xC8 swallows the next 200 bytes, packets inside included,
  // and the stream is back in step after them.
  std::vector<uint8_t> stream = {0x5A, 0xC8};
  for (uint16_t i = 0; i < 4; ++i) Append(stream, MakeNumberedPacket(i * 12));
  stream.resize(200, 0xEE);
  Feed(protocol, {stream.begin(), stream.begin() + 199});
  EXPECT_EQ(protocol.GetLinkStats().skippedBytes, 16u);
  std::vector<uint8_t> rest = {stream.back()};
  Append(rest, MakeNumberedPacket(900));
  Feed(protocol, rest);
  auto points = protocol.TakeScanPoints();
  ASSERT_EQ(points.size(), 12u);
  EXPECT_EQ(points[0].distance, 900);
  EXPECT_EQ(protocol.GetLinkStats().skippedBytes, 216u);
}

TEST(Decoder, OverflowDropsTheChunkAndKeepsTheBufferedBytes) {
  KXProtocol protocol;
  // A 255-byte response frame that lacks its last byte keeps 254 bytes buffered.
  std::vector<uint8_t> pending(254, 0x00);
  pending[0] = 0x5A;
  pending[1] = 0xFF;
  pending[2] = 0x01;
  Feed(protocol, pending);

  std::vector<uint8_t> tooMuch(1024 - 254 + 1, 0x00);
  EXPECT_EQ(FeedCapturing(protocol, tooMuch), "Buffer overflow!\n");
  auto stats = protocol.GetLinkStats();
  EXPECT_EQ(stats.overflowChunks, 1u);
  EXPECT_EQ(stats.skippedBytes, 0u);
  EXPECT_EQ(stats.bytesReceived, 254u + tooMuch.size());

  // Exactly 1024 is accepted: the frame completes and the rest is skipped.
  std::vector<uint8_t> fits(1024 - 254, 0x00);
  fits.back() = 0x4F;  // alone at the end: waits as a possible frame start
  EXPECT_EQ(FeedCapturing(protocol, fits), "");
  stats = protocol.GetLinkStats();
  EXPECT_EQ(stats.overflowChunks, 1u);
  EXPECT_EQ(stats.skippedBytes, 1023u);
  Feed(protocol, {0x4B});
  EXPECT_EQ(protocol.GetLinkStats().acks, 1u);
}

TEST(Decoder, AnglesWrapWithTheOffset) {
  const std::vector<float> wrapped = {350.0f,    351.81818f, 353.63636f, 355.45455f, 357.27273f, 359.09091f,
                                      0.909088f, 2.7272644f, 4.5454407f, 6.363617f,  8.181793f,  10.0f};
  auto angles = AnglesOf(35000, 1000, 0.0f);
  ASSERT_EQ(angles.size(), 12u);
  for (int k = 0; k < 12; ++k) EXPECT_NEAR(angles[k], wrapped[k], 1e-3) << "point " << k;

  angles = AnglesOf(0, 1100, -1.0f);
  ASSERT_EQ(angles.size(), 12u);
  EXPECT_FLOAT_EQ(angles[0], 359.0f);
  for (int k = 1; k < 12; ++k) EXPECT_FLOAT_EQ(angles[k], static_cast<float>(k - 1));

  // A positive offset pushes the end of the sweep past 360 and back to 0.
  angles = AnglesOf(34900, 35900, 1.5f);
  EXPECT_FLOAT_EQ(angles[0], 350.5f);
  EXPECT_NEAR(angles[11], 0.5f, 1e-4);

  KXProtocol protocol;
  protocol.SetAngleOffset(-1.5f);
  float offset = 0;
  protocol.GetAngleOffset(&offset);
  EXPECT_EQ(offset, -1.5f);
}

TEST(Decoder, AngleArithmeticFollowsTheStatedPrecisions) {
  // Start 350.00 and end 10.00 + 360 in float, the step in float, each angle
  // summed in float and corrected by 360 in double.
  auto angles = AnglesOf(35000, 1000, 0.25f);
  const float start = static_cast<float>(35000 * 0.01);
  const float end = static_cast<float>(static_cast<double>(static_cast<float>(1000 * 0.01)) + 360.0);
  const float step = (end - start) / 11.0f;
  for (int k = 0; k < 12; ++k) {
    float a = static_cast<float>(k) * step + start + 0.25f;
    if (a >= 360.0f) a = static_cast<float>(static_cast<double>(a) - 360.0);
    EXPECT_EQ(angles[k], a) << "point " << k;
  }
}

TEST(Decoder, LinkCountersAddUpOverAMixedStream) {
  KXProtocol protocol;
  std::vector<uint8_t> stream = {0x11, 0x22, 0x33};  // 3 skipped
  Append(stream, MakeNumberedPacket(0));             // decoded
  auto bad = MakeNumberedPacket(12);
  bad[46] ^= 0xFF;
  Append(stream, bad);                     // CRC error
  Append(stream, {0x4F, 0x4B});            // ack
  Append(stream, {0x55, 0xAB, 0, 0, 0});   // 5 skipped
  Append(stream, MakeNumberedPacket(24));  // decoded
  Append(stream, {0x54});                  // waits

  testing::internal::CaptureStdout();
  for (size_t at = 0; at < stream.size(); at += 7) {
    std::vector<uint8_t> chunk(stream.begin() + at, stream.begin() + std::min(stream.size(), at + 7));
    Feed(protocol, chunk);
  }
  std::vector<uint8_t> huge(1100, 0);
  Feed(protocol, huge);  // overflow
  testing::internal::GetCapturedStdout();

  // Reconnects never reset the counters; neither does draining the queue.
  protocol.TakeScanPoints();
  const auto stats = protocol.GetLinkStats();
  EXPECT_EQ(stats.bytesReceived, stream.size() + huge.size());
  EXPECT_EQ(stats.packets, 2u);
  EXPECT_EQ(stats.crcErrors, 1u);
  EXPECT_EQ(stats.skippedBytes, 8u);
  EXPECT_EQ(stats.overflowChunks, 1u);
  EXPECT_EQ(stats.acks, 1u);
}
