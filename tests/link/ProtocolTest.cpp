#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "protocol/KXPacket.h"
#include "protocol/KXProtocol.h"
#include "tests/link/LinkTestSupport.h"
#include "tests/support/PtyPair.h"

using linktest::MakeNumberedPacket;
using linktest::WaitFor;
using namespace std::chrono_literals;

namespace {

// Plays the sensor on the master side of a pseudo-terminal: records every
// command frame it receives and, while `answer` is set, acknowledges it.
class FakeDevice {
 public:
  explicit FakeDevice(PtyPair& pty) : pty_(pty), thread_([this] { Run(); }) {}
  ~FakeDevice() {
    stop_ = true;
    thread_.join();
  }
  std::atomic<bool> answer{true};
  std::vector<std::vector<uint8_t>> Commands() {
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_;
  }

 private:
  void Run() {
    std::vector<uint8_t> pending;
    while (!stop_) {
      auto bytes = pty_.Read(5, 20ms);
      pending.insert(pending.end(), bytes.begin(), bytes.end());
      while (pending.size() >= 5) {
        std::vector<uint8_t> frame(pending.begin(), pending.begin() + 5);
        pending.erase(pending.begin(), pending.begin() + 5);
        {
          std::lock_guard<std::mutex> lock(mutex_);
          commands_.push_back(frame);
        }
        if (answer) pty_.Write(kx::kAckShort, sizeof kx::kAckShort);
      }
    }
  }
  PtyPair& pty_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<std::vector<uint8_t>> commands_;
  std::thread thread_;
};

const std::vector<uint8_t> kEnable(kx::kCmdEnable, kx::kCmdEnable + 5);
const std::vector<uint8_t> kDisable(kx::kCmdDisable, kx::kCmdDisable + 5);

}  // namespace

TEST(Protocol, SecondConnectIsRefusedAndTheFirstConnectionKeepsWorking) {
  PtyPair pty;
  PtyPair other;
  KXProtocol protocol;
  ASSERT_TRUE(protocol.Connect(pty.SlavePath(), 460800));
  EXPECT_TRUE(protocol.IsConnected());

  testing::internal::CaptureStdout();
  EXPECT_FALSE(protocol.Connect(other.SlavePath(), 115200));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "KXProtocol::Connect Already connected.\n");

  pty.Write(MakeNumberedPacket(100));
  ASSERT_TRUE(WaitFor([&] { return protocol.GetLinkStats().packets == 1; }));
  auto points = protocol.TakeScanPoints();
  ASSERT_EQ(points.size(), 12u);
  EXPECT_EQ(points[0].distance, 100);
  EXPECT_EQ(other.Read(1, 20ms).size(), 0u);
}

TEST(Protocol, MissingPortIsReportedWithTheSystemsReason) {
  KXProtocol protocol;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(protocol.Connect("/dev/does-not-exist-lds", 460800));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: open serial port failed.\nNo such file or directory\n");
  EXPECT_FALSE(protocol.IsConnected());
  EXPECT_TRUE(protocol.Disconnect());
}

TEST(Protocol, FailedConnectKeepsThePreviousPortObject) {
  PtyPair pty;
  FakeDevice device(pty);
  KXProtocol protocol;
  ASSERT_TRUE(protocol.Connect(pty.SlavePath(), 230400));
  protocol.Disconnect();
  EXPECT_FALSE(protocol.IsConnected());
  testing::internal::CaptureStderr();
  EXPECT_FALSE(protocol.Connect("/dev/does-not-exist-lds", 230400));
  testing::internal::GetCapturedStderr();

  // Commands need a working connection and send nothing without one.
  auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(protocol.EnableLidar());
  EXPECT_LT(std::chrono::steady_clock::now() - started, 100ms);
  EXPECT_TRUE(protocol.Connect(pty.SlavePath(), 230400));
  EXPECT_TRUE(protocol.EnableLidar());
  EXPECT_EQ(device.Commands(), std::vector<std::vector<uint8_t>>{kEnable});
}

TEST(Protocol, CommandBeforeAnyConnectReturnsAtOnce) {
  KXProtocol protocol;
  auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(protocol.EnableLidar());
  EXPECT_FALSE(protocol.DisableLidar());
  EXPECT_LT(std::chrono::steady_clock::now() - started, 100ms);
}

TEST(Protocol, CommandIsAcknowledgedByTheDevice) {
  PtyPair pty;
  FakeDevice device(pty);
  KXProtocol protocol;
  ASSERT_TRUE(protocol.Connect(pty.SlavePath(), 460800));

  auto started = std::chrono::steady_clock::now();
  EXPECT_TRUE(protocol.EnableLidar());
  EXPECT_LT(std::chrono::steady_clock::now() - started, 500ms);
  EXPECT_TRUE(protocol.DisableLidar());
  EXPECT_EQ(device.Commands(), (std::vector<std::vector<uint8_t>>{kEnable, kDisable}));
  EXPECT_EQ(protocol.GetLinkStats().acks, 2u);
}

// One acknowledgement must not make every later command succeed: a silent
// device fails the command after a retry on a fresh connection.
TEST(Protocol, SilentDeviceFailsTheCommandAfterReconnectAndRetry) {
  PtyPair pty;
  FakeDevice device(pty);
  KXProtocol protocol;
  ASSERT_TRUE(protocol.Connect(pty.SlavePath(), 460800));
  ASSERT_TRUE(protocol.EnableLidar());

  device.answer = false;
  auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(protocol.DisableLidar());
  auto took = std::chrono::steady_clock::now() - started;
  EXPECT_GE(took, 1500ms);
  EXPECT_LT(took, 5000ms);

  // Sent once, and once more on the reconnected port with the stored settings.
  ASSERT_TRUE(WaitFor([&] { return device.Commands().size() == 3; }));
  EXPECT_EQ(device.Commands(), (std::vector<std::vector<uint8_t>>{kEnable, kDisable, kDisable}));
  EXPECT_TRUE(protocol.IsConnected());

  // The reconnected link still decodes, with a fresh receive area.
  pty.Write(MakeNumberedPacket(7));
  ASSERT_TRUE(WaitFor([&] { return protocol.GetLinkStats().packets == 1; }));
  EXPECT_EQ(protocol.TakeScanPoints().size(), 12u);
}

TEST(Protocol, RawObserverSeesTheStreamAndIsQuietOnceCleared) {
  PtyPair pty;
  KXProtocol protocol;
  std::mutex mutex;
  std::vector<uint8_t> seen;
  std::atomic<bool> cleared{false};
  std::atomic<int> callsAfterClear{0};
  protocol.SetRawObserver([&](const uint8_t* data, uint32_t size) {
    if (cleared) ++callsAfterClear;
    std::lock_guard<std::mutex> lock(mutex);
    seen.insert(seen.end(), data, data + size);
  });
  ASSERT_TRUE(protocol.Connect(pty.SlavePath(), 460800));

  std::vector<uint8_t> stream = {0x01, 0x02};
  for (uint16_t i = 0; i < 5; ++i) linktest::Append(stream, MakeNumberedPacket(i * 12));
  pty.Write(stream);
  ASSERT_TRUE(WaitFor([&] { return protocol.GetLinkStats().bytesReceived == stream.size(); }));
  {
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(seen, stream);
  }
  EXPECT_EQ(protocol.GetLinkStats().packets, 5u);

  std::atomic<bool> stop{false};
  std::thread streamer([&] {
    auto packet = MakeNumberedPacket(0);
    while (!stop) {
      pty.Write(packet);
      std::this_thread::sleep_for(200us);
    }
  });
  ASSERT_TRUE(WaitFor([&] { return protocol.GetLinkStats().packets > 20; }));
  protocol.SetRawObserver(nullptr);
  cleared = true;
  const auto packets = protocol.GetLinkStats().packets;
  ASSERT_TRUE(WaitFor([&] { return protocol.GetLinkStats().packets > packets + 20; }));
  stop = true;
  streamer.join();
  EXPECT_EQ(callsAfterClear, 0);
}

// A consumer that takes nothing for a while keeps every point of the stream
// with a large queue limit, set while the I/O thread decodes; lowered again,
// the queue is trimmed and the count says how many points went.
TEST(Protocol, QueueLimitSetWhileStreamingKeepsOrCountsEveryPoint) {
  PtyPair pty;
  KXProtocol protocol;
  ASSERT_TRUE(protocol.Connect(pty.SlavePath(), 460800));
  std::atomic<bool> stop{false};
  std::atomic<uint16_t> sent{0};
  std::thread streamer([&] {
    while (!stop && sent < 1000) {
      pty.Write(MakeNumberedPacket(static_cast<uint16_t>(sent * 12)));
      ++sent;
    }
  });
  protocol.SetQueueLimit(24000);
  ASSERT_TRUE(WaitFor([&] { return sent == 1000 && protocol.GetLinkStats().packets == 1000; }, 10s));
  stop = true;
  streamer.join();
  // Points that came before the limit was raised may have been trimmed.
  const uint64_t dropped = protocol.GetLinkStats().droppedPoints;
  const auto points = protocol.TakeScanPoints();
  ASSERT_EQ(points.size() + dropped, 12000u);
  for (size_t i = 0; i < points.size(); ++i) ASSERT_EQ(points[i].distance, dropped + i) << i;

  for (uint16_t i = 0; i < 100; ++i) pty.Write(MakeNumberedPacket(i));
  ASSERT_TRUE(WaitFor([&] { return protocol.GetLinkStats().packets == 1100; }));
  protocol.SetQueueLimit(120);
  pty.Write(MakeNumberedPacket(0));
  ASSERT_TRUE(WaitFor([&] { return protocol.GetLinkStats().packets == 1101; }));
  EXPECT_EQ(protocol.TakeScanPoints().size(), 132u);
  EXPECT_EQ(protocol.GetLinkStats().droppedPoints, dropped + 1080u);
}

TEST(Protocol, DisconnectClosesAndConnectWorksAgain) {
  PtyPair pty;
  FakeDevice device(pty);
  KXProtocol protocol;
  EXPECT_TRUE(protocol.Disconnect());  // never connected: nothing to do
  ASSERT_TRUE(protocol.Connect(pty.SlavePath(), 115200));
  EXPECT_TRUE(protocol.Disconnect());
  EXPECT_FALSE(protocol.IsConnected());
  EXPECT_FALSE(protocol.EnableLidar());
  ASSERT_TRUE(protocol.Connect(pty.SlavePath(), 115200));
  EXPECT_TRUE(protocol.EnableLidar());
  EXPECT_EQ(device.Commands().size(), 1u);
}

TEST(Protocol, HungUpDeviceLeavesThePortFailedUntilDisconnect) {
  auto pty = std::make_unique<PtyPair>();
  KXProtocol protocol;
  ASSERT_TRUE(protocol.Connect(pty->SlavePath(), 460800));
  pty->CloseMaster();
  ASSERT_TRUE(WaitFor([&] { return !protocol.IsConnected(); }));
  EXPECT_FALSE(protocol.EnableLidar());

  PtyPair fresh;
  testing::internal::CaptureStdout();
  EXPECT_FALSE(protocol.Connect(fresh.SlavePath(), 460800));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "KXProtocol::Connect Already connected.\n");
  protocol.Disconnect();
  EXPECT_TRUE(protocol.Connect(fresh.SlavePath(), 460800));
  EXPECT_TRUE(protocol.IsConnected());
}
