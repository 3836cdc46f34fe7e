#include <gtest/gtest.h>

#include <atomic>
#include <boost/system/system_error.hpp>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "serial/AsyncSerial.h"
#include "tests/link/LinkTestSupport.h"
#include "tests/support/PtyPair.h"

using linktest::ThreadCount;
using linktest::WaitFor;
using namespace std::chrono_literals;

namespace {

// Collects what the read callback delivers, and on which thread.
struct Received {
  std::mutex mutex;
  std::string bytes;
  std::thread::id thread;
  std::atomic<int> calls{0};

  std::function<void(const char*, size_t)> Callback() {
    return [this](const char* data, size_t size) {
      std::lock_guard<std::mutex> lock(mutex);
      bytes.append(data, size);
      thread = std::this_thread::get_id();
      ++calls;
    };
  }
  std::string Bytes() {
    std::lock_guard<std::mutex> lock(mutex);
    return bytes;
  }
};

}  // namespace

TEST(SerialPort, DeliversReceivedBytesOnItsIoThread) {
  PtyPair pty;
  Received received;
  CallbackAsyncSerial port(pty.SlavePath(), 460800);
  port.setReadCallback(received.Callback());
  EXPECT_TRUE(port.isOpen());
  EXPECT_FALSE(port.hasError());

  pty.Write("hello, sensor", 13);
  ASSERT_TRUE(WaitFor([&] { return received.Bytes().size() >= 13; }));
  EXPECT_EQ(received.Bytes(), "hello, sensor");
  std::lock_guard<std::mutex> lock(received.mutex);
  EXPECT_NE(received.thread, std::this_thread::get_id());
}

TEST(SerialPort, WritesFromSeveralThreadsGoOutInCallOrder) {
  PtyPair pty;
  CallbackAsyncSerial port(pty.SlavePath(), 115200);

  // Each write carries a sequence number taken under the same lock as the
  // call, so the call order is known; the device side must see it unchanged.
  constexpr int kThreads = 4;
  constexpr int kWritesPerThread = 300;
  std::mutex orderMutex;
  uint32_t next = 0;
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([&] {
      for (int i = 0; i < kWritesPerThread; ++i) {
        std::lock_guard<std::mutex> lock(orderMutex);
        uint32_t seq = next++;
        port.write(reinterpret_cast<const char*>(&seq), sizeof seq);
      }
    });
  }
  const size_t expected = kThreads * kWritesPerThread * sizeof(uint32_t);
  std::vector<uint8_t> out = pty.Read(expected, 5000ms);
  for (auto& w : writers) w.join();

  ASSERT_EQ(out.size(), expected);
  for (uint32_t i = 0; i < kThreads * kWritesPerThread; ++i) {
    uint32_t seq;
    std::memcpy(&seq, &out[i * sizeof seq], sizeof seq);
    ASSERT_EQ(seq, i) << "at write " << i;
  }
  EXPECT_FALSE(port.hasError());
}

TEST(SerialPort, CloseJoinsTheIoThreadIsHarmlessTwiceAndTheObjectReopens) {
  PtyPair pty;
  const int before = ThreadCount();
  Received received;
  CallbackAsyncSerial port(pty.SlavePath(), 230400);
  port.setReadCallback(received.Callback());
  EXPECT_EQ(ThreadCount(), before + 1);

  port.close();
  EXPECT_FALSE(port.isOpen());
  EXPECT_EQ(ThreadCount(), before);
  port.close();
  EXPECT_FALSE(port.isOpen());

  port.open(pty.SlavePath(), 230400);
  EXPECT_TRUE(port.isOpen());
  EXPECT_EQ(ThreadCount(), before + 1);
  pty.Write("again", 5);
  ASSERT_TRUE(WaitFor([&] { return received.Bytes() == "again"; }));
  port.write("out", 3);
  auto out = pty.Read(3, 2000ms);
  EXPECT_EQ(std::string(out.begin(), out.end()), "out");
}

TEST(SerialPort, FailedOpenThrowsAndLeavesNoThreadNorOpenDevice) {
  const int before = ThreadCount();
  try {
    CallbackAsyncSerial port("/dev/does-not-exist-lds", 115200);
    FAIL() << "open of a missing device succeeded";
  } catch (const boost::system::system_error& e) {
    EXPECT_EQ(e.code(), boost::system::errc::no_such_file_or_directory);
  }
  EXPECT_EQ(ThreadCount(), before);

  // The same on an existing object: it stays closed and usable.
  CallbackAsyncSerial port;
  EXPECT_THROW(port.open("/dev/does-not-exist-lds", 115200), boost::system::system_error);
  EXPECT_FALSE(port.isOpen());
  EXPECT_EQ(ThreadCount(), before);
  PtyPair pty;
  // A device that opens but rejects a setting is closed again, so the same
  // object can open it once the setting is right.
  EXPECT_THROW(port.open(pty.SlavePath(), 12345), boost::system::system_error);
  EXPECT_FALSE(port.isOpen());
  EXPECT_EQ(ThreadCount(), before);
  port.open(pty.SlavePath(), 115200);
  EXPECT_TRUE(port.isOpen());
}

TEST(SerialPort, HangUpSetsTheErrorFlagAndTheObjectRecoversThroughClose) {
  auto pty = std::make_unique<PtyPair>();
  Received received;
  CallbackAsyncSerial port(pty->SlavePath(), 460800);
  port.setReadCallback(received.Callback());
  pty->Write("mid-stream", 10);
  ASSERT_TRUE(WaitFor([&] { return received.Bytes().size() == 10; }));

  pty->CloseMaster();
  ASSERT_TRUE(WaitFor([&] { return port.hasError(); }));
  EXPECT_TRUE(port.isOpen());
  port.write("lost", 4);  // must neither crash nor block

  port.close();
  EXPECT_FALSE(port.isOpen());

  // Whatever the failed port left behind must not disturb the next one.
  PtyPair fresh;
  port.open(fresh.SlavePath(), 460800);
  EXPECT_FALSE(port.hasError());
  fresh.Write("back", 4);
  ASSERT_TRUE(WaitFor([&] { return received.Bytes() == "mid-streamback"; }));
  port.write("ok", 2);
  auto out = fresh.Read(2, 2000ms);
  EXPECT_EQ(std::string(out.begin(), out.end()), "ok");
}

TEST(SerialPort, ClearedCallbackIsNeverCalledAgain) {
  PtyPair pty;
  CallbackAsyncSerial port(pty.SlavePath(), 460800);
  std::atomic<bool> cleared{false};
  std::atomic<int> callsAfterClear{0};
  std::atomic<int> calls{0};
  port.setReadCallback([&](const char*, size_t) {
    if (cleared) ++callsAfterClear;
    ++calls;
    // Widen the window in which clearReadCallback meets a running call.
    std::this_thread::sleep_for(200us);
  });

  std::atomic<bool> stop{false};
  std::thread device([&] {
    const char chunk[64] = {};
    while (!stop) {
      pty.Write(chunk, sizeof chunk);
      std::this_thread::sleep_for(100us);
    }
  });
  ASSERT_TRUE(WaitFor([&] { return calls > 20; }));
  port.clearReadCallback();
  cleared = true;
  std::this_thread::sleep_for(20ms);
  stop = true;
  device.join();
  EXPECT_EQ(callsAfterClear, 0);
  EXPECT_TRUE(port.isOpen());
  EXPECT_FALSE(port.hasError());
}

TEST(SerialPort, CallbackMayClearItselfAndDestroyingAnOpenPortJoinsItsThread) {
  PtyPair pty;
  const int before = ThreadCount();
  std::atomic<int> calls{0};
  {
    CallbackAsyncSerial port(pty.SlavePath(), 115200);
    port.setReadCallback([&](const char*, size_t) {
      ++calls;
      port.clearReadCallback();
    });
    pty.Write("a", 1);
    ASSERT_TRUE(WaitFor([&] { return calls == 1; }));
    pty.Write("b", 1);
    port.write("x", 1);
    ASSERT_EQ(pty.Read(1, 2000ms).size(), 1u);  // the port still works after the self-clear
    EXPECT_EQ(calls, 1);
  }
  EXPECT_EQ(ThreadCount(), before);
}
