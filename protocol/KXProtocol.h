#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "protocol/KXScanPoint.h"

class CallbackAsyncSerial;

// Link-health counters, counted from construction on and never reset by
// reconnects. A snapshot is consistent: taken under the data lock.
struct KXLinkStats {
  uint64_t bytesReceived = 0;   // bytes handed to the receiver
  uint64_t packets = 0;         // measurement packets decoded
  uint64_t crcErrors = 0;       // measurement packets with a wrong CRC
  uint64_t skippedBytes = 0;    // bytes skipped while out of step
  uint64_t overflowChunks = 0;  // chunks dropped because the receive area was full
  uint64_t acks = 0;            // acknowledgement and accepted response frames
};

// The one object through which the rest of the system talks to the sensor:
// connection, the two command frames with acknowledgement wait, and the
// receiver that turns the byte stream into scan points.
class KXProtocol {
 public:
  KXProtocol();
  ~KXProtocol();
  KXProtocol(const KXProtocol&) = delete;
  KXProtocol& operator=(const KXProtocol&) = delete;

  bool Connect(const std::string& port, int baud);
  bool Disconnect();
  bool IsConnected();
  bool EnableLidar();
  bool DisableLidar();
  void GetAngleOffset(float* offset);
  void SetAngleOffset(float offset);

  // Receive handler: called on the serial I/O thread with 1 to 512 bytes.
  void OnDataReceived(const uint8_t* data, uint32_t length);
  // Moves every queued point out, oldest first.
  std::vector<KXScanPoint> TakeScanPoints();
  void GetSpeedAndTimestamp(float* speed, uint16_t* timestamp);
  KXLinkStats GetLinkStats();

 private:
  bool SendCommand(const uint8_t* frame, size_t size);
  void DecodePacket(const uint8_t* packet);

  std::string portName;
  int baudRate = 0;
  std::shared_ptr<CallbackAsyncSerial> serial;
  uint8_t rxBuffer[1280] = {};
  int rxLength = 0;
  std::mutex commandMutex;
  std::mutex dataMutex;
  std::deque<KXScanPoint> pointQueue;
  float speedRpm = 0.0f;
  uint16_t timestamp = 0;
  std::atomic<float> angleOffset{0.0f};
  std::atomic<bool> ackReceived{false};
  uint8_t expectedResponseType = 0xB0;
  KXLinkStats stats;
};
