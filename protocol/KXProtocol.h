#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "protocol/KXScanPoint.h"

class CallbackAsyncSerial;

// Link-health counters, counted from construction on and never reset by
// reconnects. The receiver adds each chunk's counts in one step under the data
// lock, so a snapshot always reflects whole chunks.
//
// skippedBytes counts every byte consumed without yielding a packet or an
// acknowledgement, except those of packets with a wrong CRC (counted in
// crcErrors): each single-byte advance counts 1, a 0x55 0xAB frame whose
// other three bytes do not match counts 5, and a response frame of an
// unexpected type or with a failed check counts its n bytes. Bytes of a chunk
// dropped by the overflow rule count in bytesReceived and overflowChunks only.
//
// droppedPoints counts the decoded points that the point queue discarded
// because its consumer did not take them in time (see SetQueueLimit); they
// were counted in packets but never reached TakeScanPoints.
struct KXLinkStats {
  uint64_t bytesReceived = 0;   // bytes handed to the receiver, dropped chunks included
  uint64_t packets = 0;         // measurement packets decoded
  uint64_t crcErrors = 0;       // measurement packets with a wrong CRC
  uint64_t skippedBytes = 0;    // bytes skipped while out of step (see above)
  uint64_t overflowChunks = 0;  // chunks dropped because the receive area was full
  uint64_t acks = 0;            // acknowledgement and accepted response frames
  uint64_t droppedPoints = 0;   // decoded points trimmed from a full queue
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

  // `port` is any text ParsePortAddress takes: a device path, tcp://HOST:PORT
  // or rfc2217://HOST:PORT. Blocks until the port is open or has failed; a
  // network address gives up after kConnectTimeoutMs.
  bool Connect(const std::string& port, int baud);
  bool Disconnect();
  bool IsConnected();
  // Why the link is down, in words fit for the user: the reason of the last
  // failed Connect ("connection refused", "Permission denied", a malformed
  // address), or, while the port has failed since connecting, the reason of
  // that failure (the device was unplugged, the peer closed the connection).
  // Empty after a successful Connect until something fails.
  std::string LastError();
  static constexpr int kConnectTimeoutMs = 5000;
  bool EnableLidar();
  bool DisableLidar();
  void GetAngleOffset(float* offset);
  void SetAngleOffset(float offset);

  // Receive handler: called on the serial I/O thread with 1 to 512 bytes.
  void OnDataReceived(const uint8_t* data, uint32_t length);
  // Forgets a partly received packet, as connecting does. For a byte source
  // other than the port (a replay): call it only while disconnected.
  void ResetReceiver() { rxLength = 0; }
  // Moves every queued point out, oldest first.
  std::vector<KXScanPoint> TakeScanPoints();
  // How many points the queue may hold before a packet is appended: when it
  // holds more, the oldest go a whole packet (12 points) at a time until it
  // holds no more than the limit, and are counted in droppedPoints. The
  // default of 360 keeps only about 30 ms at the highest line rate; a
  // consumer that may be starved for longer sets a larger limit. Safe to call
  // from any thread; takes effect with the next packet.
  void SetQueueLimit(size_t points);
  // Points waiting in the queue.
  size_t QueuedPoints();
  void GetSpeedAndTimestamp(float* speed, uint16_t* timestamp);
  KXLinkStats GetLinkStats();

  // Type byte a response frame must carry to be accepted (0xB0, checked with
  // the response CRC-32, until changed). Other types are skipped unchecked.
  void SetExpectedResponseType(uint8_t type);

  // Whether this object writes its console lines: the receiver's reports
  // ("CRC error found:" with the packet, "Buffer overflow!") and a second
  // connect's line on standard output, a failed connect's lines on standard
  // error. On until switched off. A library inside someone else's program
  // keeps quiet: the link counters and LastError carry the same facts, and a
  // slow standard output must never hold up the thread that reads the port.
  // A caller that connects again every second switches it off meanwhile and
  // reports the reasons itself.
  void SetConsoleReports(bool on) { consoleReports.store(on, std::memory_order_relaxed); }

  // Observer of the raw byte stream: called on the serial I/O thread with each
  // received chunk before it is decoded. May be set or cleared (with an empty
  // function) at any time; once the call that clears it has returned, the old
  // observer is never called again. It must not call SetRawObserver itself.
  void SetRawObserver(std::function<void(const uint8_t*, uint32_t)> observer);

 private:
  bool SendCommand(const uint8_t* frame, size_t size);
  void DecodePacket(const uint8_t* packet, KXLinkStats& delta);

  void SetLastError(const std::string& reason);

  std::string portName;
  int baudRate = 0;
  std::mutex lastErrorMutex;
  std::string lastError;
  std::shared_ptr<CallbackAsyncSerial> serial;
  uint8_t rxBuffer[1280] = {};
  int rxLength = 0;
  std::mutex commandMutex;
  std::mutex dataMutex;
  std::deque<KXScanPoint> pointQueue;
  std::atomic<size_t> queueLimit{360};
  float speedRpm = 0.0f;
  uint16_t timestamp = 0;
  std::atomic<float> angleOffset{0.0f};
  std::atomic<bool> ackReceived{false};
  std::atomic<uint8_t> expectedResponseType{0xB0};
  std::atomic<bool> consoleReports{true};
  KXLinkStats stats;
  std::mutex observerMutex;
  std::function<void(const uint8_t*, uint32_t)> rawObserver;
};
