// The whole road of a measurement: a device played by the test on a real
// pseudo-terminal, the serial port, the protocol object's decoder and the
// assembler, polled batch by batch as the window's worker does.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "protocol/KXProtocol.h"
#include "scan/FrameAssembler.h"
#include "tests/link/LinkTestSupport.h"
#include "tests/support/PtyPair.h"

using namespace std::chrono_literals;
using linktest::operator+;

TEST(Road, ThreeRevolutionsFromTheDeviceBecomeThreeFrames) {
  PtyPair pty;
  std::atomic<bool> stop{false};
  std::thread device([&] {  // acknowledges every command frame
    while (!stop)
      if (pty.Read(5, 20ms).size() == 5) pty.Write(kx::kAckLong, 5);
  });
  KXProtocol protocol;
  std::atomic<uint64_t> observed{0};
  protocol.SetRawObserver([&](const uint8_t*, uint32_t size) { observed += size; });
  ASSERT_TRUE(protocol.Connect(pty.SlavePath(), 460800));
  ASSERT_TRUE(protocol.EnableLidar());

  // 50 packets a revolution, packet j covering slots 12j to 12j+11 at
  // distances 1000 + slot; packet 70 arrives corrupted, and junk comes
  // before every fourth group of one to three packets.
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
      const int j = i % 50;
      auto packet = linktest::Packet(static_cast<uint16_t>(1000 + 12 * j), static_cast<uint16_t>(720 * j),
                                     static_cast<uint16_t>(720 * j + 660));
      if (i == 70) packet[20] ^= 0x40;
      bytes = bytes + packet;
    }
    pty.Write(bytes);
    written += bytes.size();
    ASSERT_TRUE(linktest::WaitFor([&] { return protocol.GetLinkStats().bytesReceived == written; }));
    const auto result = assembler.Step(protocol.TakeScanPoints(), settings, false);
    EXPECT_EQ(result.anomaly, FrameAssembler::Anomaly::None) << "group " << group;
    if (result.frameReady) frames.push_back(result.frame);
  }
  ASSERT_EQ(frames.size(), 3u);
  for (size_t f = 0; f < frames.size(); ++f) {
    for (int s = 0; s < 600; ++s) {
      const bool lost = f == 1 && s >= 240 && s < 252;  // the corrupted packet's slots, cleared by the next batch
      ASSERT_EQ(frames[f][s].distance, lost ? 0 : 1000 + s) << "frame " << f << ", slot " << s;
      ASSERT_NEAR(frames[f][s].angle, lost ? 0.0f : 0.6f * s, 1e-3) << "frame " << f << ", slot " << s;
    }
  }

  ASSERT_TRUE(protocol.DisableLidar());
  const KXLinkStats s = protocol.GetLinkStats();
  EXPECT_EQ(std::make_tuple(s.packets, s.crcErrors, s.skippedBytes, s.acks, s.droppedPoints),
            std::make_tuple(uint64_t{150}, uint64_t{1}, junk, uint64_t{2}, uint64_t{0}));
  EXPECT_EQ(s.bytesReceived, written + 5);
  EXPECT_EQ(observed, s.bytesReceived);
  float rpm = 0;
  protocol.GetSpeedAndTimestamp(&rpm, nullptr);
  EXPECT_FLOAT_EQ(rpm, 600.0f);
  stop = true;
  device.join();
}
