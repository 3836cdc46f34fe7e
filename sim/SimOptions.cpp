#include "sim/SimOptions.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>
#include <set>

namespace sim {
namespace {

bool ParseU64(const std::string& text, uint64_t min, uint64_t max, uint64_t* out) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return false;
  errno = 0;
  char* end = nullptr;
  unsigned long long v = std::strtoull(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < min || v > max) return false;
  *out = v;
  return true;
}

bool ParseDouble(const std::string& text, double min, double max, double* out) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  double v = std::strtod(text.c_str(), &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(v) || v < min || v > max) return false;
  *out = v;
  return true;
}

}  // namespace

const char* SimUsage() {
  return "Usage: lds-sim [options]\n"
         "Simulated laser distance sensor on a pseudo-terminal. Prints the terminal's\n"
         "path as the first line of standard output, answers the start and stop\n"
         "commands and streams measurement packets of a simulated room while started.\n"
         "\n"
         "  --link PATH            keep a symbolic link PATH to the terminal (removed at exit);\n"
         "                         an existing PATH is refused unless it is a link to a\n"
         "                         terminal that no longer exists\n"
         "  --device PATH          use an existing serial device instead of a new terminal\n"
         "  --ack short|long       acknowledge with 4F 4B (short, default) or 55 AB 0A 42 5A\n"
         "  --no-ack               never acknowledge (a silent sensor)\n"
         "  --autostart            stream at once, without waiting for the start command\n"
         "  --rps R                revolutions per second, 0.1 to 50 (default 10)\n"
         "  --pps N|max            points per second, 12 to 100000, or as many as the\n"
         "                         line carries (default 4500; the line rate always wins)\n"
         "  --baud B               line rate in bit/s, 10-bit bytes (default 230400)\n"
         "  --seed N               seed of the distance noise and the junk bytes (default 1)\n"
         "  --noise MM             standard deviation of the distance noise, 0 to 2000 mm\n"
         "                         (default 3); it is clipped at 10/3 of that value\n"
         "  --marker FILE          draw a marker at 140 to 160 degrees that stands at 1 m in\n"
         "                         even and at 2 m in odd revolutions, and append a line\n"
         "                         \"REVOLUTION NS\" to FILE when the packet that completes\n"
         "                         a revolution is written (NS: CLOCK_MONOTONIC nanoseconds)\n"
         "  --bad-crc-every N      give every Nth packet a wrong CRC\n"
         "  --garbage-every N      send junk bytes after every Nth packet\n"
         "  --garbage-bytes K      number of junk bytes each time, 1 to 4096 (default 8);\n"
         "                         junk never holds 54, 4F, 55 or 5A, so no frame starts in it\n"
         "  --hangup-after N       close the terminal after N packets and exit\n"
         "  --capture FILE         write every byte sent to FILE\n"
         "  --replay FILE          send the bytes of FILE instead of the room, paced at the\n"
         "                         line rate; it starts at once, and pauses on the stop\n"
         "                         command and resumes on the start command; once the file\n"
         "                         is sent the simulator idles until it is stopped; its\n"
         "                         counters count the packets, junk and acknowledgements\n"
         "                         found in the bytes sent\n"
         "  --wait-start           with --replay: wait for the start command first\n"
         "  --stats-file FILE      rewrite FILE once a second and at exit with the counters\n"
         "                         packets=, bad_crc=, garbage_bytes=, bytes=, points=, acks=\n"
         "  --help                 show this help\n"
         "\n"
         "SIGINT, SIGTERM and SIGHUP remove the link and exit with status 0. At exit a summary of\n"
         "the counters goes to standard error.\n";
}

ParseResult ParseSimOptions(const std::vector<std::string>& args) {
  ParseResult r;
  SimOptions& o = r.options;
  bool garbageBytesGiven = false;
  using Setter = std::function<bool(const std::string&)>;
  const std::map<std::string, Setter> withValue = {
      {"--link", [&](const std::string& v) { return !(o.linkPath = v).empty(); }},
      {"--device", [&](const std::string& v) { return !(o.devicePath = v).empty(); }},
      {"--ack",
       [&](const std::string& v) {
         if (v == "short")
           o.ack = AckStyle::Short;
         else if (v == "long")
           o.ack = AckStyle::Long;
         else
           return false;
         return true;
       }},
      {"--rps", [&](const std::string& v) { return ParseDouble(v, 0.1, 50.0, &o.rps); }},
      {"--pps",
       [&](const std::string& v) {
         if (v == "max") {
           o.pps = 0;
           return true;
         }
         return ParseDouble(v, 12.0, 100000.0, &o.pps);
       }},
      {"--baud",
       [&](const std::string& v) {
         uint64_t b;
         if (!ParseU64(v, 300, 4000000, &b)) return false;
         o.baud = static_cast<int>(b);
         return true;
       }},
      {"--seed", [&](const std::string& v) { return ParseU64(v, 0, UINT64_MAX, &o.seed); }},
      {"--bad-crc-every", [&](const std::string& v) { return ParseU64(v, 1, UINT64_MAX, &o.badCrcEvery); }},
      {"--garbage-every", [&](const std::string& v) { return ParseU64(v, 1, UINT64_MAX, &o.garbageEvery); }},
      {"--garbage-bytes",
       [&](const std::string& v) {
         garbageBytesGiven = true;
         return ParseU64(v, 1, 4096, &o.garbageBytes);
       }},
      {"--hangup-after", [&](const std::string& v) { return ParseU64(v, 1, UINT64_MAX, &o.hangupAfter); }},
      {"--capture", [&](const std::string& v) { return !(o.captureFile = v).empty(); }},
      {"--replay", [&](const std::string& v) { return !(o.replayFile = v).empty(); }},
      {"--stats-file", [&](const std::string& v) { return !(o.statsFile = v).empty(); }},
      {"--noise", [&](const std::string& v) { return ParseDouble(v, 0.0, 2000.0, &o.noiseMm); }},
      {"--marker", [&](const std::string& v) { return !(o.markerLog = v).empty(); }},
  };

  std::set<std::string> seen;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i], value;
    bool inlineValue = false;
    if (name.rfind("--", 0) == 0) {
      size_t eq = name.find('=');
      if (eq != std::string::npos) {
        value = name.substr(eq + 1);
        name = name.substr(0, eq);
        inlineValue = true;
      }
    }
    // A second value would silently replace the first.
    if (name.rfind("--", 0) == 0 && name != "--help" && !seen.insert(name).second) {
      r.error = "option " + name + " given twice";
      return r;
    }
    if (name == "--help" || name == "-h") {
      o.help = true;
    } else if (name == "--no-ack") {
      o.ack = AckStyle::None;
    } else if (name == "--autostart") {
      o.autostart = true;
    } else if (name == "--wait-start") {
      o.waitStart = true;
    } else if (auto it = withValue.find(name); it != withValue.end()) {
      if (!inlineValue) {
        if (i + 1 >= args.size()) {
          r.error = "option " + name + " needs a value";
          return r;
        }
        value = args[++i];
      }
      if (!it->second(value)) {
        r.error = "invalid value '" + value + "' for " + name;
        return r;
      }
      continue;
    } else {
      r.error = "unknown option '" + args[i] + "'";
      return r;
    }
    if (inlineValue) {
      r.error = "option " + name + " takes no value";
      return r;
    }
  }

  if (!o.linkPath.empty() && !o.devicePath.empty()) {
    r.error = "--link and --device cannot be combined";
    return r;
  }
  if (garbageBytesGiven && o.garbageEvery == 0) {
    r.error = "--garbage-bytes needs --garbage-every";
    return r;
  }
  if (o.waitStart && o.replayFile.empty()) {
    r.error = "--wait-start needs --replay";
    return r;
  }
  if (!o.replayFile.empty() && (o.badCrcEvery || o.garbageEvery || o.hangupAfter)) {
    r.error = "--bad-crc-every, --garbage-every and --hangup-after apply to the simulated room, not to --replay";
    return r;
  }
  if (!o.replayFile.empty() && o.replayFile == o.captureFile) {
    r.error = "--capture would overwrite the file given to --replay";
    return r;
  }
  if (o.autostart && o.waitStart) {
    r.error = "--autostart and --wait-start cannot be combined";
    return r;
  }
  r.ok = true;
  return r;
}

}  // namespace sim
