#include "record/RecordOptions.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <set>
#include <utility>

#include "serial/PortAddress.h"

namespace fs = std::filesystem;

namespace {

bool ParseDouble(const std::string& text, double& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  value = std::strtod(text.c_str(), &end);
  return errno == 0 && end == text.c_str() + text.size() && std::isfinite(value);
}

bool ParseLong(const std::string& text, long& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  value = std::strtol(text.c_str(), &end, 10);
  return errno == 0 && end == text.c_str() + text.size();
}

// Where a file named `name` would be written: symbolic links followed, a
// dangling one too, each relative target taken from its link's folder.
fs::path WrittenAt(const std::string& name) {
  std::error_code ec;
  fs::path path = fs::absolute(name, ec);
  // A loop of links ends here; opening the file then fails anyway.
  for (int hops = 0; hops < 40; ++hops) {
    path = fs::weakly_canonical(path, ec);
    if (!fs::is_symlink(fs::symlink_status(path, ec))) break;
    const fs::path target = fs::read_symlink(path, ec);
    if (ec) break;
    path = path.parent_path() / target;
  }
  return path;
}

}  // namespace

std::string RecordUsage() {
  return "Usage: lds-record --port PORT [--baud 230400] [--seconds N | --revolutions N]\n"
         "                  [--csv FILE] [--raw FILE] [--pcd DIR] [--stats FILE] [--no-start]\n"
         "                  [--reconnect]\n"
         "                  [--no-calib] [--algo-filter] [--dist-correct] [--water-filter]\n"
         "                  [--edge-filter] [--angle-offset DEG]\n"
         "\n"
         "Records a rotating laser distance sensor without a window: connects, sends the\n"
         "start command, records until the limit, Ctrl-C (SIGINT, SIGTERM, SIGHUP) or a\n"
         "closed output pipe, then sends the stop command and disconnects.\n"
         "\n"
         "  --port PORT         serial device, e.g. /dev/ttyUSB0, or a sensor on another\n"
         "                      computer served by ser2net: tcp://HOST:PORT (raw bytes)\n"
         "                      or rfc2217://HOST:PORT (telnet; sets the far port's baud\n"
         "                      rate); HOST is a name, an IPv4 or an [IPv6] address\n"
         "  --baud N            baud rate (default 230400; 115200, 230400 or 460800);\n"
         "                      not sent over tcp://, where the far side's rate holds\n"
         "  --seconds N         stop after N seconds (may be fractional)\n"
         "  --revolutions N     record N complete revolutions; the partial first one is\n"
         "                      left out of every file\n"
         "  --csv FILE          append the header \"angle,dist,intensity\" and one row per\n"
         "                      filed point, as the window records them\n"
         "                      (each output needs a file of its own)\n"
         "  --raw FILE          append every received byte unchanged (lds-sim --replay\n"
         "                      plays it back); with --revolutions, the bytes of the\n"
         "                      revolutions recorded and one packet on either side\n"
         "  --pcd DIR           write each completed revolution as DIR/rev_NNNNNN.pcd\n"
         "                      (x, y, z in metres and intensity; empty slots left out);\n"
         "                      DIR is created and must not hold an earlier recording\n"
         "  --stats FILE        append a header and one row per completed revolution:\n"
         "                      its number, time and duration (ms since the start),\n"
         "                      speed (r/min), points filed and those with distance 0,\n"
         "                      minimum, median and maximum distance (mm, of the\n"
         "                      non-zero ones), CRC errors and skipped bytes since the\n"
         "                      previous revolution; a row \"gap,TIME,DURATION\" marks\n"
         "                      each time the link was lost (ms when it came back or\n"
         "                      the recording ended, and how long it was down)\n"
         "  --no-start          do not send the start command (sensor already streaming)\n"
         "  --reconnect         when the link is lost (or the sensor sends nothing for\n"
         "                      3 s), connect again every second, send the start\n"
         "                      command again and go on; no revolution spans the gap;\n"
         "                      with --revolutions the one cut by it is not counted;\n"
         "                      the first connection must succeed\n"
         "  --no-calib          switch the angle calibration off (on by default)\n"
         "  --algo-filter       per-point spike and smoothing filter\n"
         "  --dist-correct      distance correction\n"
         "  --water-filter      water-noise filter on each revolution (120/300/1500/40)\n"
         "  --edge-filter       sector edge filter on each revolution (margin 1.5 deg)\n"
         "  --angle-offset DEG  degrees added to every angle, -360 to 360 (default 0)\n"
         "  --help              show this text\n"
         "\n"
         "Exit status: 0 success, 1 port, sensor or write failure (a closed output pipe\n"
         "or a lost link without --reconnect included), 2 bad arguments. A run that\n"
         "records nothing leaves no new file; whatever ends a run, the rows written so\n"
         "far stay whole.\n";
}

ParseOutcome ParseRecordArgs(const std::vector<std::string>& args, RecordOptions& options, std::string& error) {
  options = RecordOptions{};
  bool haveSeconds = false;
  bool haveRevolutions = false;
  std::set<std::string> seen;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::string value;
    bool inlineValue = false;
    const size_t eq = name.find('=');
    if (name.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
      inlineValue = true;
    }
    auto takeValue = [&](std::string& out) {
      if (inlineValue) {
        out = value;
        return true;
      }
      if (i + 1 >= args.size()) {
        error = "option " + name + " needs a value";
        return false;
      }
      out = args[++i];
      return true;
    };
    auto flag = [&](bool& target, bool setTo) {
      if (inlineValue) {
        error = "option " + name + " takes no value";
        return false;
      }
      target = setTo;
      return true;
    };

    std::string text;
    if (name == "--help" || name == "-h") return ParseOutcome::Help;
    // A second value would silently replace the first.
    if (name.rfind("--", 0) == 0 && !seen.insert(name).second) {
      error = "option " + name + " given twice";
      return ParseOutcome::Error;
    }
    if (name == "--port") {
      if (!takeValue(options.port)) return ParseOutcome::Error;
      PortAddress address;
      std::string invalid;
      if (!ParsePortAddress(options.port, address, invalid)) {
        error = "--port: " + invalid;
        return ParseOutcome::Error;
      }
    } else if (name == "--baud") {
      long baud = 0;
      if (!takeValue(text)) return ParseOutcome::Error;
      if (!ParseLong(text, baud) || (baud != 115200 && baud != 230400 && baud != 460800)) {
        error = "--baud must be 115200, 230400 or 460800, not \"" + text + "\"";
        return ParseOutcome::Error;
      }
      options.baud = static_cast<int>(baud);
    } else if (name == "--seconds") {
      if (!takeValue(text)) return ParseOutcome::Error;
      if (!ParseDouble(text, options.seconds) || options.seconds <= 0.0) {
        error = "--seconds needs a positive number, not \"" + text + "\"";
        return ParseOutcome::Error;
      }
      haveSeconds = true;
    } else if (name == "--revolutions") {
      if (!takeValue(text)) return ParseOutcome::Error;
      if (!ParseLong(text, options.revolutions) || options.revolutions <= 0) {
        error = "--revolutions needs a positive whole number, not \"" + text + "\"";
        return ParseOutcome::Error;
      }
      haveRevolutions = true;
    } else if (name == "--csv" || name == "--raw" || name == "--pcd" || name == "--stats") {
      std::string& target = name == "--csv"   ? options.csvPath
                            : name == "--raw" ? options.rawPath
                            : name == "--pcd" ? options.pcdDir
                                              : options.statsPath;
      if (!takeValue(target)) return ParseOutcome::Error;
      if (target.empty()) {
        error = "option " + name + " needs a path";
        return ParseOutcome::Error;
      }
    } else if (name == "--angle-offset") {
      double offset = 0.0;
      if (!takeValue(text)) return ParseOutcome::Error;
      if (!ParseDouble(text, offset) || offset < -360.0 || offset > 360.0) {
        error = "--angle-offset needs a number of degrees from -360 to 360, not \"" + text + "\"";
        return ParseOutcome::Error;
      }
      options.angleOffset = static_cast<float>(offset);
    } else if (name == "--no-start") {
      if (!flag(options.noStart, true)) return ParseOutcome::Error;
    } else if (name == "--reconnect") {
      if (!flag(options.reconnect, true)) return ParseOutcome::Error;
    } else if (name == "--no-calib") {
      if (!flag(options.settings.enableAngleCalib, false)) return ParseOutcome::Error;
    } else if (name == "--algo-filter") {
      if (!flag(options.settings.enableAlgoFilter, true)) return ParseOutcome::Error;
    } else if (name == "--dist-correct") {
      if (!flag(options.settings.enableDistCorrect, true)) return ParseOutcome::Error;
    } else if (name == "--water-filter") {
      if (!flag(options.settings.enableWaterNoiseFilter, true)) return ParseOutcome::Error;
    } else if (name == "--edge-filter") {
      if (!flag(options.settings.enableAngleEdgeFilter, true)) return ParseOutcome::Error;
    } else {
      error = "unknown argument \"" + args[i] + "\"";
      return ParseOutcome::Error;
    }
  }
  if (options.port.empty()) {
    error = "--port is required";
    return ParseOutcome::Error;
  }
  if (haveSeconds && haveRevolutions) {
    error = "--seconds and --revolutions cannot be combined";
    return ParseOutcome::Error;
  }
  // Two outputs in one file would interleave their contents: compared by
  // the path they are written at and, for existing files, by identity.
  const std::pair<const char*, const std::string*> outputs[] = {{"--csv", &options.csvPath},
                                                                {"--raw", &options.rawPath},
                                                                {"--pcd", &options.pcdDir},
                                                                {"--stats", &options.statsPath}};
  for (size_t a = 0; a < std::size(outputs); ++a) {
    for (size_t b = a + 1; b < std::size(outputs); ++b) {
      const std::string& pa = *outputs[a].second;
      const std::string& pb = *outputs[b].second;
      if (pa.empty() || pb.empty()) continue;
      std::error_code ec;
      if (WrittenAt(pa) == WrittenAt(pb) || fs::equivalent(pa, pb, ec)) {
        error = std::string(outputs[a].first) + " and " + outputs[b].first + " name the same file " + pa;
        return ParseOutcome::Error;
      }
    }
  }
  return ParseOutcome::Ok;
}
