// The device link: the receiver fed directly, the serial port on real pseudo-terminals, and the whole
// road of a measurement from a device played by the test on a pseudo-terminal to the assembler's frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <boost/system/system_error.hpp>
#include <chrono>
#include <fstream>
#include <functional>
#include <thread>
#include <tuple>

#include "protocol/KXPacket.h"
#include "protocol/KXProtocol.h"
#include "protocol/RawReplay.h"
#include "scan/FrameAssembler.h"
#include "serial/AsyncSerial.h"
#include "tests/support/PtyPair.h"

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

namespace {

// Twelve points at distances first, first+1, ... and intensities 10, 11, ...,
// angles in hundredths of a degree, turning at 3600 degrees a second.
Bytes Packet(int first, int start = 0, int end = 1100, int stamp = 0) {
  Bytes p(kx::kPacketSize, 0);
  p[0] = kx::kPacketHeader;
  p[1] = kx::kPacketVerLen;
  kx::WriteU16(&p[kx::kOffSpeed], 3600);
  kx::WriteU16(&p[kx::kOffStartAngle], static_cast<uint16_t>(start));
  kx::WriteU16(&p[kx::kOffEndAngle], static_cast<uint16_t>(end));
  kx::WriteU16(&p[kx::kOffTimestamp], static_cast<uint16_t>(stamp));
  for (int k = 0; k < 12; ++k) {
    kx::WriteU16(&p[kx::kOffPoints + 3 * k], static_cast<uint16_t>(first + k));
    p[kx::kOffPoints + 3 * k + 2] = static_cast<uint8_t>(10 + k);
  }
  p[kx::kOffCrc] = kx::Crc8(p.data(), kx::kPacketSize - 1);
  return p;
}

Bytes operator+(Bytes a, const Bytes& b) { return a.insert(a.end(), b.begin(), b.end()), a; }

bool WaitFor(const std::function<bool()>& condition) {
  for (auto end = std::chrono::steady_clock::now() + 5s; !condition();) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

void Feed(KXProtocol& protocol, const Bytes& bytes, size_t chunk = 4096) {
  testing::internal::CaptureStdout();  // where the receiver reports CRC errors and overflows
  for (size_t at = 0; at < bytes.size(); at += chunk)
    protocol.OnDataReceived(bytes.data() + at, static_cast<uint32_t>(std::min(chunk, bytes.size() - at)));
  testing::internal::GetCapturedStdout();
}

Bytes Flip(Bytes bytes, size_t at) { return bytes[at] ^= 0x01, bytes; }

// A response frame's head followed by the CRC-32 of its first n - 4 bytes. For
// n < 8 the check value runs past the frame's end.
Bytes WithCrc(Bytes frame) {
  const uint32_t crc = kx::Crc32Words(frame.data(), frame[1] - 4u);
  for (int i = 0; i < 4; ++i) frame.push_back(static_cast<uint8_t>(crc >> (8 * i)));
  return frame;
}

}  // namespace

TEST(Decoder, StreamsDecodeTheSameWhereverTheyAreCut) {
  // Both checks against values worked out apart from our code, as the tables below build on them.
  const auto* digits = reinterpret_cast<const uint8_t*>("123456789");
  EXPECT_EQ(std::make_pair(kx::Crc8(digits, 9), kx::Crc32Words(digits, 9)), std::make_pair(uint8_t{0xC3}, 0xAFF19057u));
  const Bytes sum = {0x5A, 0x06, 0x11, 0x20, 0x30, 0xC1};  // type 0x11, additive checksum
  Bytes covered = Bytes{0x5A, 0xC8} + Packet(0) + Packet(12) + Packet(24) + Packet(36);
  covered.resize(200, 0xEE);
  // Name, stream, packets, CRC errors, skipped bytes, acks, first distance of each packet, response type.
  const std::tuple<const char*, Bytes, int, int, int, int, std::vector<uint16_t>, int> cases[] = {
      {"two packets, a header waits", Packet(100) + Packet(112) + Bytes{0x54}, 2, 0, 0, 0, {100, 112}, 0xB0},
      {"junk, false headers", Bytes{0, 0x54, 0, 0x4F, 0x54, 0x5A, 3, 0xFF} + Packet(500), 1, 0, 8, 0, {500}, 0xB0},
      {"bad CRC, then a packet", Flip(Packet(1), 10) + Packet(42), 1, 1, 0, 0, {42}, 0xB0},
      {"short and long acknowledgements", {0x4F, 0x4B, 0x55, 0xAB, 0x0A, 0x42, 0x5A}, 0, 0, 0, 2, {}, 0xB0},
      {"wrong long acknowledgements", {0x55, 0xAB, 0x0A, 0x4F, 0x4B, 0x55, 0xAB, 0x0A, 0x42, 0}, 0, 0, 10, 0, {}, 0xB0},
      {"0x4F then another byte", {0x4F, 0x4F, 0x4B}, 0, 0, 1, 1, {}, 0xB0},
      {"checked response", WithCrc({0x5A, 0x08, 0xB0, 0x07}), 0, 0, 0, 1, {}, 0xB0},
      {"response with a wrong CRC", Flip(WithCrc({0x5A, 0x08, 0xB0, 0x07}), 3), 0, 0, 8, 0, {}, 0xB0},
      {"response shorter than its check; last byte waits", WithCrc({0x5A, 0x06, 0xB0, 0x00}), 0, 0, 7, 0, {}, 0xB0},
      {"response of an unexpected type", sum, 0, 0, 6, 0, {}, 0xB0},
      {"type 0x11 expected, right and wrong sum", sum + Flip(sum, 5), 0, 0, 6, 1, {}, 0x11},
      {"response covering packets", covered + Packet(900), 1, 0, 200, 0, {900}, 0xB0},
  };
  for (const auto& [name, stream, packets, crcErrors, skipped, acks, firstDistances, type] : cases) {
    for (size_t chunk : {1, 7, 47, 512}) {
      KXProtocol protocol;
      protocol.SetExpectedResponseType(uint8_t(type));
      Feed(protocol, stream, chunk);
      const KXLinkStats s = protocol.GetLinkStats();
      std::vector<uint16_t> firsts;
      for (const auto& p = protocol.TakeScanPoints(); firsts.size() * 12 < p.size();)
        firsts.push_back(p[firsts.size() * 12].distance);
      EXPECT_EQ(std::make_tuple(s.packets, s.crcErrors, s.skippedBytes, s.acks, s.bytesReceived, firsts),
                std::make_tuple(packets, crcErrors, skipped, acks, stream.size(), firstDistances))
          << name << ", chunks of " << chunk;
    }
  }
}

// The other wraps come through on the whole road below.
TEST(Decoder, NegativeOffsetWrapsUp) {
  KXProtocol protocol;
  protocol.SetAngleOffset(-1);
  Feed(protocol, Packet(100));
  EXPECT_EQ(protocol.TakeScanPoints().front().angle, 359.0f);
}

// Above its limit the queue loses whole oldest packets, and counts every point.
TEST(Decoder, QueueLimitTrimsWholePacketsAndCountsThem) {
  // Name, limit, limit set before the last packets, packets before and after, points kept and dropped.
  const std::tuple<const char*, size_t, size_t, int, int, size_t, uint64_t> cases[] = {
      {"360 queued points are not above the default", 360, 360, 31, 0, 372, 0},
      {"above the default", 360, 360, 33, 0, 372, 24},
      {"a lowered limit trims a long queue at once", 1200, 100, 100, 1, 108, 1104},
      {"limit 0 keeps the newest packet", 0, 0, 2, 0, 12, 12}};
  for (const auto& [name, limit, lowerTo, packets, more, kept, dropped] : cases) {
    KXProtocol protocol;
    protocol.SetQueueLimit(limit);
    int n = 0;
    for (; n < packets; ++n) Feed(protocol, Packet(12 * n));
    protocol.SetQueueLimit(lowerTo);
    for (; n < packets + more; ++n) Feed(protocol, Packet(12 * n));
    const auto points = protocol.TakeScanPoints();
    ASSERT_EQ(points.size(), kept) << name;
    EXPECT_EQ(std::make_tuple(points.front().distance, points.back().distance, protocol.GetLinkStats().droppedPoints),
              std::make_tuple(12 * n - kept, 12 * n - 1, dropped))
        << name;
  }
}

TEST(Decoder, OverflowDropsTheChunkAndKeepsWhatWasBuffered) {
  KXProtocol protocol;
  Feed(protocol, Bytes{0x5A, 0xFF} + Bytes(252, 0));  // a 255-byte response short of its last byte
  Feed(protocol, Bytes(771, 0));                      // 1025 bytes in all: dropped
  Feed(protocol, Bytes(769, 0) + Bytes{0x4F});        // exactly 1024: taken, and the 0x4F waits
  Feed(protocol, {0x4B});
  const KXLinkStats s = protocol.GetLinkStats();
  EXPECT_EQ(std::make_tuple(s.overflowChunks, s.skippedBytes, s.acks, s.bytesReceived),
            std::make_tuple(1u, 1023u, 1u, 1796u));
}

// A missing device, a rejected setting, two closes, a hang-up: after each the
// same object opens again, and bytes flow both ways.
// A raw recording: `turns` revolutions of three packets each, 10 ms apart,
// the timestamps passing 65535 on the way.
Bytes Recording(int turns) {
  Bytes out;
  for (int i = 0; i < 3 * turns; ++i)
    out = out + Packet(i, i % 3 * 12000, i % 3 * 12000 + 11000, (65500 + 10 * i) % 65536);
  return out;
}

TEST(Replay, PlaysEveryByteAndStepsByRevolution) {
  const Bytes rec = Recording(4);  // revolutions start at packets 3, 6 and 9: two whole ones
  const Bytes tail(rec.begin(), rec.begin() + 20);
  // Name, file, packets, whole revolutions, recorded ms, decoded packets, CRC errors, skipped bytes.
  const std::tuple<const char*, Bytes, size_t, int, int64_t, uint64_t, uint64_t, uint64_t> cases[] = {
      {"clean", rec, 12, 2, 110, 12, 0, 0},
      {"junk, a bad packet, a cut-off tail", Bytes(5, 0x00) + Flip(rec, 100) + tail, 11, 2, 110, 11, 1, 5},
      {"a gap of 40 s counts as none", rec + Packet(99, 0, 1100, 40000), 13, 3, 110, 13, 0, 0},
      {"empty", {}, 0, 0, 0, 0, 0, 0},
      {"junk only", Bytes(100, 0x00), 0, 0, 0, 0, 0, 99},
  };
  for (const auto& [name, file, packets, turns, endMs, decoded, crc, skipped] : cases) {
    SCOPED_TRACE(name);
    const std::string path = testing::TempDir() + "replay.raw";
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), file.size());
    RawReplay replay;
    std::string error;
    ASSERT_TRUE(replay.Open(path, error)) << error;
    EXPECT_EQ(std::make_pair(replay.Packets(), replay.Revolutions()), std::make_pair(packets, turns));
    KXProtocol protocol;
    testing::internal::CaptureStdout();
    // One revolution at a time, then nothing more to play.
    std::vector<std::pair<int, uint64_t>> steps;
    for (int i = 0; i < 4; ++i) {
      replay.PlayRevolution(protocol);
      steps.emplace_back(replay.Revolution(), protocol.GetLinkStats().packets);
    }
    testing::internal::GetCapturedStdout();
    if (name == std::string("clean")) {
      EXPECT_EQ(steps, (std::vector<std::pair<int, uint64_t>>{{1, 7}, {2, 10}, {2, 12}, {2, 12}}));
    }
    const KXLinkStats stats = protocol.GetLinkStats();
    EXPECT_TRUE(replay.AtEnd());
    EXPECT_EQ(replay.TimeMs(), endMs);
    EXPECT_EQ(stats.bytesReceived, file.size());
    EXPECT_EQ(std::make_tuple(stats.packets, stats.crcErrors, stats.skippedBytes),
              std::make_tuple(decoded, crc, skipped));
    replay.Rewind();
    EXPECT_EQ(std::make_tuple(replay.Revolution(), replay.TimeMs(), replay.NextTimeMs()),
              std::make_tuple(0, int64_t{0}, packets ? int64_t{0} : int64_t{-1}));
    protocol.ResetReceiver();  // a cut-off tail must not run into the replay's first packet
    EXPECT_EQ(replay.PlayPackets(2, protocol), std::min<size_t>(2, packets));
    EXPECT_EQ(protocol.GetLinkStats().crcErrors, crc);
  }
  RawReplay replay;
  std::string error;
  EXPECT_FALSE(replay.Open("/nonexistent/replay.raw", error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(replay.Open(testing::TempDir(), error));  // a folder
  EXPECT_FALSE(replay.Open("/dev/zero", error));         // endless: no regular file
}

TEST(SerialPort, FailuresLeaveTheObjectUsable) {
  PtyPair pty, fresh;
  CallbackAsyncSerial port;
  std::atomic<size_t> received{0};
  port.setReadCallback([&](const char*, size_t size) { received += size; });
  EXPECT_THROW(port.open("/dev/no-such-lds-device", 115200), boost::system::system_error);
  EXPECT_THROW(port.open(pty.SlavePath(), 12345), boost::system::system_error);
  EXPECT_FALSE(port.isOpen());
  port.open(pty.SlavePath(), 115200);
  port.close();
  port.close();
  port.open(pty.SlavePath(), 460800);
  pty.Write("ping", 4);
  ASSERT_TRUE(WaitFor([&] { return received == 4; }));
  port.write("po", 2);
  port.write("ng", 2);
  EXPECT_EQ(pty.Read(4, 3s), (std::vector<uint8_t>{'p', 'o', 'n', 'g'}));

  // After a hang-up and close, nothing left of the failed port disturbs the next.
  pty.CloseMaster();
  ASSERT_TRUE(WaitFor([&] { return port.hasError(); }));
  EXPECT_TRUE(port.isOpen());
  port.write("lost", 4);
  port.close();
  port.open(fresh.SlavePath(), 460800);
  fresh.Write("back", 4);
  ASSERT_TRUE(WaitFor([&] { return received == 8; }));
  port.write("ok", 2);
  EXPECT_EQ(fresh.Read(2, 3s), (std::vector<uint8_t>{'o', 'k'}));
  EXPECT_FALSE(port.hasError());
  port.clearReadCallback();
}

TEST(Road, FromTheDeviceToFramesAndBack) {
  PtyPair pty, fresh;
  std::atomic<bool> answer{true}, stop{false};
  std::vector<uint8_t> commands;
  std::thread device([&] {  // keeps every command frame and, while `answer` is set, acknowledges it
    while (!stop) {
      const auto frame = pty.Read(5, 20ms);
      commands = commands + frame;
      if (frame.size() == 5 && answer) pty.Write(kx::kAckLong, 5);
    }
  });
  KXProtocol protocol;
  std::atomic<uint64_t> observed{0};
  protocol.SetRawObserver([&](const uint8_t*, uint32_t size) { observed += size; });
  testing::internal::CaptureStderr();
  EXPECT_FALSE(protocol.Connect("/dev/no-such-lds-device", 230400));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: open serial port failed.\nNo such file or directory\n");
  ASSERT_TRUE(protocol.Connect(pty.SlavePath(), 230400));
  EXPECT_FALSE(protocol.Connect(fresh.SlavePath(), 230400));  // already connected
  ASSERT_TRUE(protocol.EnableLidar());

  // Three turns and a packet, 50 packets a turn: packet j holds slots 12j to 12j + 11 at 1000 + slot mm,
  // its angles sent 0.6 degrees early and put right by the offset, so packet 0 runs across 0 degrees.
  // Groups of one to three packets, junk before every fourth group; packet 70 arrives corrupted.
  protocol.SetAngleOffset(0.6f);
  ScanFilter filter;
  FrameAssembler assembler(filter);
  ScanSettings settings;
  settings.enableAngleCalib = false;
  std::vector<std::vector<KXScanPoint>> frames;
  uint64_t written = 5, junk = 0;
  for (int i = 0, group = 0; i < 151; ++group) {
    std::vector<uint8_t> bytes;
    if (group % 4 == 0) bytes = {0x00, 0x54, 0x01}, junk += 3;
    for (int n = 0; n <= group % 3 && i < 151; ++n, ++i) {
      const int start = (36000 + 720 * (i % 50) - 60) % 36000;
      auto packet = Packet(1000 + 12 * (i % 50), start, (start + 660) % 36000, i);
      packet[20] ^= i == 70 ? 0x40 : 0;
      bytes = bytes + packet;
    }
    pty.Write(bytes);
    written += bytes.size();
    ASSERT_TRUE(WaitFor([&] { return protocol.GetLinkStats().bytesReceived == written; }));
    const auto result = assembler.Step(protocol.TakeScanPoints(), settings, false);
    EXPECT_EQ(result.anomaly, FrameAssembler::Anomaly::None) << "group " << group;
    if (result.frameReady) frames.push_back(result.frame);
  }
  ASSERT_EQ(frames.size(), 3u);
  for (size_t f = 0; f < 3; ++f) {
    for (int s = 0; s < 600; ++s) {
      const bool lost = f == 1 && s >= 240 && s < 252;  // the corrupted packet's, cleared by the next batch
      const KXScanPoint& p = frames[f][s];
      ASSERT_EQ(std::make_tuple(p.distance, p.intensity, FrameAssembler::FilingSlot(p.angle)),
                lost ? std::make_tuple(0, 0, 0) : std::make_tuple(1000 + s, 10 + s % 12, s))
          << "frame " << f << ", slot " << s;
    }
  }
  float rpm = 0;
  uint16_t stamp = 0;
  protocol.GetSpeedAndTimestamp(&rpm, &stamp);
  EXPECT_EQ(std::make_tuple(rpm, stamp), std::make_tuple(600.0f, 150));

  // A silent device: the earlier acknowledgement must not count. The command
  // is sent once more on a new connection with the same settings, and fails.
  answer = false;
  EXPECT_FALSE(protocol.DisableLidar());
  answer = true;
  EXPECT_TRUE(protocol.DisableLidar());
  const KXLinkStats s = protocol.GetLinkStats();
  EXPECT_EQ(std::make_tuple(s.packets, s.crcErrors, s.skippedBytes, s.acks, s.droppedPoints, s.bytesReceived),
            std::make_tuple(150u, 1u, junk, 2u, 0u, written + 5));
  EXPECT_EQ(observed, s.bytesReceived);
  stop = true;
  device.join();
  const std::vector<uint8_t> on(kx::kCmdEnable, kx::kCmdEnable + 5), off(kx::kCmdDisable, kx::kCmdDisable + 5);
  EXPECT_EQ(commands, on + off + off + off);

  // A hung-up device leaves the link failed until Disconnect.
  pty.CloseMaster();
  ASSERT_TRUE(WaitFor([&] { return !protocol.IsConnected(); }));
  EXPECT_FALSE(protocol.EnableLidar());
  EXPECT_FALSE(protocol.Connect(fresh.SlavePath(), 230400));
  EXPECT_TRUE(protocol.Disconnect());
  EXPECT_TRUE(protocol.Connect(fresh.SlavePath(), 230400));
}
