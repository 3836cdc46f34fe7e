#include "protocol/KXProtocol.h"

#include <algorithm>
#include <boost/system/system_error.hpp>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <thread>

#include "protocol/KXPacket.h"
#include "serial/AsyncSerial.h"
#include "serial/PortAddress.h"

namespace {

constexpr int kReceiveAreaSize = 1024;
constexpr int kResponseAreaOffset = 1024;
constexpr int kPollCount = 50;
constexpr auto kPollInterval = std::chrono::milliseconds(10);
constexpr auto kReconnectPause = std::chrono::milliseconds(500);
static_assert(KXProtocol::kConnectTimeoutMs == AsyncSerial::kNetworkOpenTimeoutMs);

uint32_t ReadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

KXProtocol::KXProtocol() = default;

KXProtocol::~KXProtocol() {
  if (serial && serial->isOpen()) serial->close();
}

bool KXProtocol::Connect(const std::string& port, int baud) {
  const bool reports = consoleReports.load(std::memory_order_relaxed);
  if (serial && serial->isOpen()) {
    if (reports) std::cout << "KXProtocol::Connect Already connected." << std::endl;
    SetLastError("already connected");
    return false;
  }
  // The reason goes to the console under the fixed first line: "Permission
  // denied" or "connection refused" tells the user what to do about it.
  auto openFailed = [this, reports](const std::string& reason) {
    if (reports) std::cerr << "Error: open serial port failed." << std::endl << reason << std::endl;
    SetLastError(reason);
    return false;
  };
  PortAddress address;
  std::string invalid;
  if (!ParsePortAddress(port, address, invalid)) return openFailed(invalid);
  std::shared_ptr<CallbackAsyncSerial> opened;
  try {
    opened = std::make_shared<CallbackAsyncSerial>(
        port, static_cast<uint32_t>(baud),
        boost::asio::serial_port_base::parity(boost::asio::serial_port_base::parity::none),
        boost::asio::serial_port_base::character_size(8),
        boost::asio::serial_port_base::flow_control(boost::asio::serial_port_base::flow_control::none),
        boost::asio::serial_port_base::stop_bits(boost::asio::serial_port_base::stop_bits::one));
  } catch (const boost::system::system_error& e) {
    return openFailed(e.code().message());
  } catch (const std::exception& e) {
    return openFailed(e.what());
  }
  serial = opened;
  if (serial->hasError() || !serial->isOpen()) {
    if (reports) std::cerr << "Error: serial port unexpectedly closed" << std::endl;
    SetLastError(serial->errorText().empty() ? "the port closed as it opened" : serial->errorText());
    return false;
  }
  SetLastError(std::string());
  // Any earlier port's I/O thread has been joined by now and the new port has
  // no callback yet, so the receive state can be reset without a race; the
  // lock inside setReadCallback hands it over to the I/O thread.
  rxLength = 0;
  serial->setReadCallback([this](const char* data, size_t size) {
    OnDataReceived(reinterpret_cast<const uint8_t*>(data), static_cast<uint32_t>(size));
  });
  portName = port;
  baudRate = baud;
  return true;
}

bool KXProtocol::Disconnect() {
  if (serial && serial->isOpen()) serial->close();
  return true;
}

bool KXProtocol::IsConnected() { return serial && serial->isOpen() && !serial->hasError(); }

std::string KXProtocol::LastError() {
  if (serial && serial->isOpen() && serial->hasError()) {
    const std::string reason = serial->errorText();
    if (!reason.empty()) return reason;
  }
  std::lock_guard<std::mutex> lock(lastErrorMutex);
  return lastError;
}

void KXProtocol::SetLastError(const std::string& reason) {
  std::lock_guard<std::mutex> lock(lastErrorMutex);
  lastError = reason;
}

bool KXProtocol::EnableLidar() { return SendCommand(kx::kCmdEnable, sizeof kx::kCmdEnable); }

bool KXProtocol::DisableLidar() { return SendCommand(kx::kCmdDisable, sizeof kx::kCmdDisable); }

bool KXProtocol::SendCommand(const uint8_t* frame, size_t size) {
  if (!IsConnected()) return false;

  auto attempt = [&]() {
    {
      // Only an acknowledgement that arrives after this frame is written
      // counts; an attempt that cannot write must not succeed on an old one.
      std::lock_guard<std::mutex> lock(commandMutex);
      ackReceived = false;
      if (serial && serial->isOpen() && !serial->hasError()) serial->write(reinterpret_cast<const char*>(frame), size);
    }
    for (int i = 0; i < kPollCount; ++i) {
      std::this_thread::sleep_for(kPollInterval);
      if (ackReceived) return true;
    }
    return false;
  };

  if (attempt()) return true;
  if (serial && serial->isOpen()) serial->close();
  std::this_thread::sleep_for(kReconnectPause);
  Connect(portName, baudRate);
  return attempt();
}

void KXProtocol::GetAngleOffset(float* offset) {
  if (offset) *offset = angleOffset.load();
}

void KXProtocol::SetAngleOffset(float offset) { angleOffset = offset; }

void KXProtocol::SetExpectedResponseType(uint8_t type) { expectedResponseType = type; }

void KXProtocol::SetRawObserver(std::function<void(const uint8_t*, uint32_t)> observer) {
  std::lock_guard<std::mutex> lock(observerMutex);
  rawObserver = std::move(observer);
}

void KXProtocol::OnDataReceived(const uint8_t* data, uint32_t length) {
  {
    std::lock_guard<std::mutex> lock(observerMutex);
    if (rawObserver) rawObserver(data, length);
  }

  KXLinkStats delta;
  delta.bytesReceived = length;

  const int total = rxLength + static_cast<int>(length);
  if (length > static_cast<uint32_t>(kReceiveAreaSize) || total > kReceiveAreaSize) {
    if (consoleReports.load(std::memory_order_relaxed)) {
      std::printf("Buffer overflow!\n");
      std::fflush(stdout);
    }
    delta.overflowChunks = 1;
    std::lock_guard<std::mutex> lock(dataMutex);
    stats.bytesReceived += delta.bytesReceived;
    stats.overflowChunks += delta.overflowChunks;
    return;
  }
  if (length > 0) std::memcpy(rxBuffer + rxLength, data, length);

  auto setAck = [this, &delta]() {
    {
      std::lock_guard<std::mutex> lock(commandMutex);
      ackReceived = true;
    }
    ++delta.acks;
  };

  int pos = 0;
  for (;;) {
    const uint8_t* p = rxBuffer + pos;
    const kx::Frame frame = kx::FrameAt(p, static_cast<size_t>(total - pos));
    if (frame.kind == kx::FrameKind::Incomplete) break;
    switch (frame.kind) {
      case kx::FrameKind::Packet:
        DecodePacket(p, delta);
        ++delta.packets;
        break;
      case kx::FrameKind::BadPacket:
        if (consoleReports.load(std::memory_order_relaxed)) {
          std::printf("CRC error found:\n");
          for (size_t i = 0; i < kx::kPacketSize; ++i) std::printf("%02x ", p[i]);
          std::printf("\nCalculate CRC: %02x\n", kx::Crc8(p, kx::kPacketSize - 1));
          std::fflush(stdout);
        }
        ++delta.crcErrors;
        break;
      case kx::FrameKind::Ack:
        setAck();
        break;
      case kx::FrameKind::Response: {
        const int n = static_cast<int>(frame.size);
        bool accepted = false;
        if (p[2] == expectedResponseType.load(std::memory_order_relaxed)) {
          if (p[2] == kx::kResponseTypeCrc32) {
            // The check value sits at offset 4; a frame too short to hold it
            // whole (n < 8) cannot pass, and must not be read past its end.
            accepted = n >= 8 && kx::Crc32Words(p, static_cast<size_t>(n - 4)) == ReadU32(p + 4);
          } else {
            uint8_t sum = 0;
            for (int i = 0; i < n - 1; ++i) sum = static_cast<uint8_t>(sum + p[i]);
            accepted = sum == p[n - 1];
          }
        }
        if (accepted) {
          std::memcpy(rxBuffer + kResponseAreaOffset, p, static_cast<size_t>(n));
          setAck();
        } else {
          delta.skippedBytes += frame.size;
        }
        break;
      }
      case kx::FrameKind::BadAck:
      case kx::FrameKind::Junk:
      case kx::FrameKind::Incomplete:
        delta.skippedBytes += frame.size;
        break;
    }
    pos += static_cast<int>(frame.size);
  }

  const int remaining = total - pos;
  if (remaining > 0 && pos > 0) std::memmove(rxBuffer, rxBuffer + pos, static_cast<size_t>(remaining));
  rxLength = remaining;

  std::lock_guard<std::mutex> lock(dataMutex);
  stats.bytesReceived += delta.bytesReceived;
  stats.packets += delta.packets;
  stats.crcErrors += delta.crcErrors;
  stats.skippedBytes += delta.skippedBytes;
  stats.acks += delta.acks;
  stats.droppedPoints += delta.droppedPoints;
}

void KXProtocol::DecodePacket(const uint8_t* packet, KXLinkStats& delta) {
  const float offset = angleOffset.load(std::memory_order_relaxed);
  const double speed = kx::ReadU16(packet + kx::kOffSpeed);
  const double startField = kx::ReadU16(packet + kx::kOffStartAngle);
  const double endField = kx::ReadU16(packet + kx::kOffEndAngle);

  std::lock_guard<std::mutex> lock(dataMutex);
  speedRpm = static_cast<float>(speed * 60.0 / 360.0);
  // Whole packets go, so that a limit lowered while the queue is long takes
  // effect at once; with a steady limit this removes one packet at most.
  const size_t limit = queueLimit.load(std::memory_order_relaxed);
  if (pointQueue.size() > limit) {
    const size_t excess = pointQueue.size() - limit;
    constexpr size_t kPacketPoints = kx::kPointsPerPacket;
    const size_t drop = std::min(pointQueue.size(), (excess + kPacketPoints - 1) / kPacketPoints * kPacketPoints);
    pointQueue.erase(pointQueue.begin(), pointQueue.begin() + static_cast<std::ptrdiff_t>(drop));
    delta.droppedPoints += drop;
  }

  const float start = static_cast<float>(startField * 0.01);
  float end = static_cast<float>(endField * 0.01);
  if (start > end) end = static_cast<float>(static_cast<double>(end) + 360.0);
  const float step = (end - start) / 11.0f;

  for (int k = 0; k < kx::kPointsPerPacket; ++k) {
    float angle = static_cast<float>(k) * step + start + offset;
    if (angle >= 360.0f) angle = static_cast<float>(static_cast<double>(angle) - 360.0);
    if (angle < 0.0f) angle = static_cast<float>(static_cast<double>(angle) + 360.0);
    const uint8_t* point = packet + kx::kOffPoints + 3 * k;
    KXScanPoint sp;
    sp.angle = angle;
    sp.distance = kx::ReadU16(point);
    sp.intensity = point[2];
    pointQueue.push_back(sp);
  }
  timestamp = kx::ReadU16(packet + kx::kOffTimestamp);
}

void KXProtocol::SetQueueLimit(size_t points) { queueLimit.store(points, std::memory_order_relaxed); }

size_t KXProtocol::QueuedPoints() {
  std::lock_guard<std::mutex> lock(dataMutex);
  return pointQueue.size();
}

std::vector<KXScanPoint> KXProtocol::TakeScanPoints() {
  std::lock_guard<std::mutex> lock(dataMutex);
  std::vector<KXScanPoint> points(pointQueue.begin(), pointQueue.end());
  pointQueue.clear();
  return points;
}

void KXProtocol::GetSpeedAndTimestamp(float* speed, uint16_t* stamp) {
  std::lock_guard<std::mutex> lock(dataMutex);
  if (speed) *speed = speedRpm;
  if (stamp) *stamp = timestamp;
}

KXLinkStats KXProtocol::GetLinkStats() {
  std::lock_guard<std::mutex> lock(dataMutex);
  return stats;
}
