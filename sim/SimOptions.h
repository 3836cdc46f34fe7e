#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

enum class AckStyle { Short, Long, None };

struct SimOptions {
  std::string linkPath;    // --link: symlink kept pointing at the pty slave
  std::string devicePath;  // --device: use this device instead of a new pty
  AckStyle ack = AckStyle::Short;
  bool autostart = false;
  double rps = 10.0;
  double pps = 4500.0;  // points per second; 0 = as many as the line carries
  int baud = 230400;
  uint64_t seed = 1;
  uint64_t badCrcEvery = 0;
  uint64_t garbageEvery = 0;
  uint64_t garbageBytes = 8;
  uint64_t hangupAfter = 0;  // 0 = never
  std::string captureFile;
  std::string replayFile;
  bool waitStart = false;
  std::string statsFile;
  double noiseMm = 3.0;   // --noise: standard deviation of the distance noise
  std::string markerLog;  // --marker: alternate a marker and log each revolution's end
  bool help = false;
};

struct ParseResult {
  bool ok = false;
  std::string error;  // set when !ok
  SimOptions options;
};

ParseResult ParseSimOptions(const std::vector<std::string>& args);
const char* SimUsage();

}  // namespace sim
