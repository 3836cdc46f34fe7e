// Network links at the port and protocol level: the address parser, and a
// device played by the test on a pseudo-terminal behind a real ser2net on
// 127.0.0.1. Nothing here talks to any address but loopback.
#include <gtest/gtest.h>
#include <termios.h>

#include <atomic>
#include <boost/system/system_error.hpp>
#include <filesystem>
#include <numeric>

#include "protocol/KXPacket.h"
#include "protocol/KXProtocol.h"
#include "serial/AsyncSerial.h"
#include "serial/PortAddress.h"
#include "tests/support/PtyPair.h"
#include "tests/support/Ser2net.h"

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

namespace {

TEST(PortAddress, ParsesEveryFormAndRefusesMalformedOnes) {
  // Text, kind, path or host, port, canonical form.
  const std::tuple<std::string, PortAddress::Kind, std::string, int, std::string> valid[] = {
      {"/dev/ttyUSB0", PortAddress::Kind::Device, "/dev/ttyUSB0", 0, "/dev/ttyUSB0"},
      {"ttyS0", PortAddress::Kind::Device, "ttyS0", 0, "ttyS0"},
      {"tcp://robot:2000", PortAddress::Kind::Tcp, "robot", 2000, "tcp://robot:2000"},
      {"rfc2217://192.168.1.20:65535", PortAddress::Kind::Rfc2217, "192.168.1.20", 65535, ""},
      {"tcp://[::1]:1", PortAddress::Kind::Tcp, "::1", 1, "tcp://[::1]:1"},
      {"tcp://pi-4.local:02000", PortAddress::Kind::Tcp, "pi-4.local", 2000, "tcp://pi-4.local:2000"},
  };
  for (const auto& [text, kind, where, port, canonical] : valid) {
    PortAddress a;
    std::string error;
    ASSERT_TRUE(ParsePortAddress(text, a, error)) << text << ": " << error;
    EXPECT_EQ(std::make_tuple(a.kind, kind == PortAddress::Kind::Device ? a.path : a.host, int{a.port}),
              std::make_tuple(kind, where, port))
        << text;
    EXPECT_EQ(a.ToString(), canonical.empty() ? text : canonical);
  }
  const std::pair<std::string, std::string> malformed[] = {
      {"", "no port given"},
      {"tcp://robot", "no port after the host"},
      {"tcp://robot:", "must be a number from 1 to 65535, not \"\""},
      {"tcp://robot:0", "not \"0\""},
      {"tcp://robot:70000", "not \"70000\""},
      {"tcp://robot:abc", "not \"abc\""},
      {"tcp://robot:20 00", "not \"20 00\""},
      {"udp://robot:2000", "unknown kind of address \"udp://\""},
      {"tcp://::1:2000", "an IPv6 address goes in brackets"},
      {"tcp://[::1:2000", "unclosed ["},
      {"tcp://[::1]2000", "no port after the host"},
      {"tcp://[10.0.0.1]:2000", "\"10.0.0.1\" is not an IPv6 address"},
      {"tcp://:2000", "no host in \"tcp://:2000\" (expected tcp://HOST:PORT)"},
      {"rfc2217://my robot:2000", "\"my robot\" is not a host name"},
      {"tcp://-robot:2000", "is not a host name"},
  };
  for (const auto& [text, message] : malformed) {
    PortAddress a;
    std::string error;
    EXPECT_FALSE(ParsePortAddress(text, a, error)) << text;
    EXPECT_NE(error.find(message), std::string::npos) << text << ": " << error;
  }
}

class Network : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/lds-net-XXXXXX";
    dir = mkdtemp(name);
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
  std::string dir;
};

// Every byte value both ways, 0xFF (telnet's escape) and CR NUL included,
// through both accepters; the baud rate chosen reaches the far device; a
// killed server fails the port with the reason; the same object reconnects.
TEST_F(Network, EveryByteCrossesBothAcceptersAndAKilledServerIsNoticed) {
  Bytes all(512);
  std::iota(all.begin(), all.end(), 0);
  for (auto accepter : {Ser2net::Accepter::Raw, Ser2net::Accepter::Rfc2217}) {
    PtyPair device;
    Ser2net server(dir, device.SlavePath(), accepter);
    SCOPED_TRACE(server.Address());
    CallbackAsyncSerial port;
    std::mutex mutex;
    Bytes received;
    port.setReadCallback([&](const char* data, size_t size) {
      std::lock_guard<std::mutex> lock(mutex);
      received.insert(received.end(), data, data + size);
    });
    port.open(server.Address(), 460800);
    device.Write(all);
    port.write(reinterpret_cast<const char*>(all.data()), all.size());
    EXPECT_EQ(device.Read(all.size(), 5s), all);
    ASSERT_TRUE(WaitFor(
        [&] {
          std::lock_guard<std::mutex> lock(mutex);
          return received.size() >= all.size();
        },
        5s));
    EXPECT_EQ(received, all);
    termios line{};
    const int settings = open(device.SlavePath().c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
    ASSERT_EQ(tcgetattr(settings, &line), 0);
    close(settings);
    const bool asked = accepter == Ser2net::Accepter::Rfc2217;
    EXPECT_EQ(cfgetospeed(&line), asked ? B460800 : B230400);
    EXPECT_EQ(line.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), tcflag_t{CS8});

    server.Kill();
    ASSERT_TRUE(WaitFor([&] { return port.hasError(); }, 2s));
    EXPECT_EQ(port.errorText(), "the peer closed the connection");
    server.Start();
    port.close();
    port.open(server.Address(), 230400);
    port.write("ok", 2);
    EXPECT_EQ(device.Read(2, 5s), (Bytes{'o', 'k'}));
    port.clearReadCallback();
  }
}

// The protocol object over a network link: start and stop acknowledged, and a
// command without an answer sent once more over a new connection.
TEST_F(Network, CommandsAreAcknowledgedAndRetriedOverANewConnection) {
  PtyPair device;
  Ser2net server(dir, device.SlavePath(), Ser2net::Accepter::Rfc2217);
  std::atomic<int> frames{0};
  std::atomic<bool> stop{false};
  std::thread sensor([&] {  // answers every command frame but the second
    while (!stop) {
      if (device.Read(5, 20ms).size() == 5 && ++frames != 2) device.Write(kx::kAckShort, sizeof kx::kAckShort);
    }
  });
  KXProtocol protocol;
  ASSERT_TRUE(protocol.Connect(server.Address(), 230400)) << protocol.LastError();
  EXPECT_TRUE(protocol.EnableLidar());
  EXPECT_TRUE(protocol.DisableLidar());
  EXPECT_EQ(frames, 3);
  EXPECT_TRUE(protocol.IsConnected());
  stop = true;
  sensor.join();
}

// Each failure gives its reason in the user's words, through the protocol
// object as the window and the recorder see it.
TEST_F(Network, FailuresGiveTheirReason) {
  PtyPair device;
  Ser2net telnet(dir, device.SlavePath(), Ser2net::Accepter::Telnet);
  // A server that resets the connection as it accepts it.
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), size), 0);
  getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
  listen(listener, 1);
  std::thread resetter([&] {
    const int peer = accept(listener, nullptr, nullptr);
    const linger abort{1, 0};
    setsockopt(peer, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    std::this_thread::sleep_for(100ms);
    close(peer);
  });
  const std::string resetting = "tcp://127.0.0.1:" + std::to_string(ntohs(address.sin_port));

  KXProtocol holder;
  ASSERT_TRUE(holder.Connect(device.SlavePath(), 230400));
  // Port, reason on connecting, reason once connected.
  const std::tuple<std::string, std::string, std::string> rows[] = {
      {"tcp://127.0.0.1:" + std::to_string(Ser2net::FreePort()), "connection refused", ""},
      {"rfc2217://127.0.0.1:" + std::to_string(telnet.Port()), "the server refused RFC 2217 (COM-PORT-OPTION)", ""},
      {"tcp://sensor.lds.invalid:2000", "name not found", ""},
      {"tcp://[::1", "unclosed [ around the IPv6 address in \"tcp://[::1\" (expected tcp://HOST:PORT)", ""},
      {device.SlavePath(), "port in use (Device or resource busy)", ""},
      {resetting, "", "the connection was reset"},
  };
  for (const auto& [port, onConnect, later] : rows) {
    KXProtocol protocol;
    testing::internal::CaptureStderr();
    EXPECT_EQ(protocol.Connect(port, 230400), onConnect.empty()) << port;
    const std::string console = testing::internal::GetCapturedStderr();
    if (!onConnect.empty()) {
      EXPECT_EQ(console, "Error: open serial port failed.\n" + onConnect + "\n");
      EXPECT_EQ(protocol.LastError(), onConnect);
    } else {
      ASSERT_TRUE(WaitFor([&] { return !protocol.IsConnected(); }, 2s));
      EXPECT_EQ(protocol.LastError(), later);
    }
  }
  resetter.join();
  close(listener);
}

}  // namespace
