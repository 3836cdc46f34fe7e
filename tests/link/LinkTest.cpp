// The serial port and the protocol object on real pseudo-terminals, with the
// test playing the device on the master side.
#include <gtest/gtest.h>

#include <atomic>
#include <boost/system/system_error.hpp>
#include <mutex>
#include <string>
#include <thread>

#include "protocol/KXProtocol.h"
#include "serial/AsyncSerial.h"
#include "tests/link/LinkTestSupport.h"
#include "tests/support/PtyPair.h"

using linktest::WaitFor;
using linktest::operator+;
using namespace std::chrono_literals;

namespace {

struct Received {
  std::mutex mutex;
  std::string bytes;
  void Attach(CallbackAsyncSerial& port) {
    port.setReadCallback([this](const char* data, size_t size) {
      std::lock_guard<std::mutex> lock(mutex);
      bytes.append(data, size);
    });
  }
  bool Is(const std::string& expected) {
    std::lock_guard<std::mutex> lock(mutex);
    return bytes == expected;
  }
};

std::string ReadString(PtyPair& pty, size_t count) {
  const auto bytes = pty.Read(count, 3s);
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace

// Open, a rejected setting, close twice, reopen: each step leaves the same
// object usable, and bytes flow both ways after each.
TEST(SerialPort, OpenCloseAndFailuresLeaveTheObjectUsable) {
  PtyPair pty;
  CallbackAsyncSerial port;
  Received received;
  received.Attach(port);
  EXPECT_THROW(port.open("/dev/no-such-lds-device", 115200), boost::system::system_error);
  EXPECT_THROW(port.open(pty.SlavePath(), 12345), boost::system::system_error);
  EXPECT_FALSE(port.isOpen());
  port.open(pty.SlavePath(), 115200);
  ASSERT_TRUE(port.isOpen());
  pty.Write("ping", 4);
  ASSERT_TRUE(WaitFor([&] { return received.Is("ping"); }));
  port.write("pong", 4);
  EXPECT_EQ(ReadString(pty, 4), "pong");
  port.close();
  port.close();
  EXPECT_FALSE(port.isOpen());
  port.open(pty.SlavePath(), 460800);
  port.write("again", 5);
  EXPECT_EQ(ReadString(pty, 5), "again");
  EXPECT_FALSE(port.hasError());

  // Writes from several threads go out whole and in call order.
  std::mutex order;
  uint16_t next = 0;
  auto writer = [&] {
    for (int i = 0; i < 300; ++i) {
      std::lock_guard<std::mutex> lock(order);
      const uint16_t seq = next++;
      port.write(reinterpret_cast<const char*>(&seq), sizeof seq);
    }
  };
  std::thread a(writer), b(writer);
  const auto out = pty.Read(1200, 5s);
  a.join();
  b.join();
  ASSERT_EQ(out.size(), 1200u);
  for (uint16_t i = 0; i < 600; ++i) ASSERT_EQ(out[2 * i] | out[2 * i + 1] << 8, i);
}

// A hang-up sets the error flag; after close, a new device works with the
// same object, and nothing of the failed port disturbs it.
TEST(SerialPort, HangUpThenCloseAndReopen) {
  auto pty = std::make_unique<PtyPair>();
  CallbackAsyncSerial port(pty->SlavePath(), 460800);
  Received received;
  received.Attach(port);
  pty->CloseMaster();
  ASSERT_TRUE(WaitFor([&] { return port.hasError(); }));
  EXPECT_TRUE(port.isOpen());
  port.write("lost", 4);
  port.close();

  PtyPair fresh;
  port.open(fresh.SlavePath(), 460800);
  fresh.Write("back", 4);
  ASSERT_TRUE(WaitFor([&] { return received.Is("back"); }));
  port.write("ok", 2);
  EXPECT_EQ(ReadString(fresh, 2), "ok");
  EXPECT_FALSE(port.hasError());
}

// A callback that clears itself is never called again; the port reads on.
TEST(SerialPort, CallbackClearingItself) {
  PtyPair pty;
  CallbackAsyncSerial port(pty.SlavePath(), 115200);
  std::atomic<int> calls{0};
  port.setReadCallback([&](const char*, size_t) {
    ++calls;
    port.clearReadCallback();
  });
  pty.Write("a", 1);
  ASSERT_TRUE(WaitFor([&] { return calls == 1; }));
  pty.Write("b", 1);
  port.write("x", 1);
  EXPECT_EQ(ReadString(pty, 1), "x");
  std::this_thread::sleep_for(50ms);  // time for "b" to reach a callback, were there one
  EXPECT_EQ(calls, 1);
}

// The test answers each command frame with "OK" while `answer` is set.
TEST(Protocol, CommandsWaitForTheirOwnAcknowledgement) {
  PtyPair pty;
  std::atomic<bool> answer{true}, stop{false};
  std::mutex mutex;
  std::vector<uint8_t> commands;
  std::thread device([&] {
    while (!stop) {
      const auto frame = pty.Read(5, 20ms);
      std::lock_guard<std::mutex> lock(mutex);
      commands.insert(commands.end(), frame.begin(), frame.end());
      if (frame.size() == 5 && answer) pty.Write(kx::kAckShort, 2);
    }
  });
  auto sent = [&] {
    std::lock_guard<std::mutex> lock(mutex);
    return commands;
  };
  const std::vector<uint8_t> enable(kx::kCmdEnable, kx::kCmdEnable + 5), disable(kx::kCmdDisable, kx::kCmdDisable + 5);

  KXProtocol protocol;
  EXPECT_FALSE(protocol.EnableLidar());  // never connected: nothing is sent
  testing::internal::CaptureStderr();
  EXPECT_FALSE(protocol.Connect("/dev/no-such-lds-device", 230400));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: open serial port failed.\nNo such file or directory\n");
  ASSERT_TRUE(protocol.Connect(pty.SlavePath(), 230400));
  EXPECT_FALSE(protocol.Connect(pty.SlavePath(), 230400));  // already connected
  EXPECT_TRUE(protocol.EnableLidar());
  EXPECT_EQ(sent(), enable);

  // A silent device: the earlier acknowledgement must not count. The command
  // is retried once on a fresh connection with the same settings.
  answer = false;
  EXPECT_FALSE(protocol.DisableLidar());
  ASSERT_TRUE(WaitFor([&] { return sent().size() == 15; }));
  EXPECT_EQ(sent(), enable + disable + disable);
  answer = true;
  EXPECT_TRUE(protocol.DisableLidar());
  EXPECT_EQ(protocol.GetLinkStats().acks, 2u);

  EXPECT_TRUE(protocol.Disconnect());
  EXPECT_FALSE(protocol.IsConnected());
  EXPECT_FALSE(protocol.EnableLidar());
  stop = true;
  device.join();
  EXPECT_EQ(sent().size(), 20u);
}

// A hung-up device leaves the link failed until Disconnect; then a new
// device connects and decodes.
TEST(Protocol, HungUpDeviceUntilDisconnect) {
  auto pty = std::make_unique<PtyPair>();
  KXProtocol protocol;
  ASSERT_TRUE(protocol.Connect(pty->SlavePath(), 460800));
  pty->CloseMaster();
  ASSERT_TRUE(WaitFor([&] { return !protocol.IsConnected(); }));
  EXPECT_FALSE(protocol.EnableLidar());
  PtyPair fresh;
  EXPECT_FALSE(protocol.Connect(fresh.SlavePath(), 460800));
  protocol.Disconnect();
  ASSERT_TRUE(protocol.Connect(fresh.SlavePath(), 460800));
  fresh.Write(linktest::Packet(7));
  ASSERT_TRUE(WaitFor([&] { return protocol.GetLinkStats().packets == 1; }));
  EXPECT_EQ(protocol.TakeScanPoints().size(), 12u);
}
