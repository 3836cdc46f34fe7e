#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "lds/Export.h"
#include "lds/LinkStats.h"
#include "lds/Revolution.h"
#include "lds/Settings.h"

namespace lds {

// A sensor on a port. A thread of the library reads it, decodes the packets,
// applies the settings and collects whole revolutions, which wait in order
// until Next takes them. Every operation may be called from any thread.
//
//   lds::Sensor sensor;
//   sensor.Open("/dev/ttyUSB0");             // or "tcp://robot:2000"
//   sensor.Start();
//   lds::Revolution rev;
//   while (sensor.Next(rev, std::chrono::seconds(5))) { ... }
class LDS_API Sensor {
 public:
  // Revolutions that may wait for Next; when one more is complete, the oldest
  // is dropped and counted in LinkStats::droppedRevolutions. A minute at ten
  // revolutions a second.
  static constexpr size_t kMaxWaiting = 600;

  // Throws Error when a setting is invalid (see Settings::Check).
  explicit Sensor(const Settings& settings = Settings());
  // Closes, as Close does.
  ~Sensor();
  Sensor(const Sensor&) = delete;
  Sensor& operator=(const Sensor&) = delete;

  // Opens the port: a device path (/dev/ttyUSB0, a /dev/serial/by-id link),
  // tcp://HOST:PORT or rfc2217://HOST:PORT, at 115200, 230400 or 460800
  // baud. Blocks until the port is open; a network address gives up after
  // 5 s. Throws Error with the reason when it cannot open, or is open already.
  void Open(const std::string& port, int baud = 230400);
  // Stops the sensor if this object started it, and closes the port; the
  // revolutions still waiting are dropped. Harmless when not open.
  void Close();
  // True from a successful Open until Close, also once the port has been
  // lost (Next then throws with the reason; Close releases it).
  bool IsOpen() const;

  // Sends the start (stop) command and waits for the sensor's
  // acknowledgement, up to about 1.5 s with one reconnect. Throws Error when
  // the sensor does not acknowledge, the port has been lost, or it is not open.
  void Start();
  void Stop();

  // Takes the next revolution, waiting up to `timeout` for it: true with
  // `revolution` filled, false when none arrived in time. Throws Error when
  // the port has been lost (once the revolutions received before have been
  // taken) or the sensor is not open.
  bool Next(Revolution& revolution, std::chrono::milliseconds timeout);

  Settings GetSettings() const;
  // Throws Error when a setting is invalid, keeping the old ones.
  void SetSettings(const Settings& settings);

  LinkStats GetLinkStats() const;

  // Observer of every byte received, before it is decoded (for a raw
  // recording). Called on the library's reading thread, which it must not
  // hold up; an empty function removes it, and once that call has returned
  // the old observer is never called again.
  void SetRawObserver(std::function<void(const uint8_t* data, size_t size)> observer);

 private:
  class Impl;
  std::unique_ptr<Impl> impl;
};

}  // namespace lds
