#pragma once

#include <string>
#include <vector>

#include "scan/FrameAssembler.h"

// Command line of lds-record, parsed into plain values.
struct RecordOptions {
  std::string port;
  int baud = 230400;
  double seconds = 0.0;  // 0: no time limit
  long revolutions = 0;  // 0: no revolution limit
  std::string csvPath;
  std::string rawPath;
  std::string pcdDir;
  std::string statsPath;
  bool noStart = false;
  bool reconnect = false;  // a lost link is connected again, every second, until the limit
  float angleOffset = 0.0f;
  // Same defaults as the window: angle calibration on, every other filter off.
  ScanSettings settings;
};

enum class ParseOutcome { Ok, Help, Error };

// Parses the arguments after the program name. On Error, `error` says what is
// wrong in one line.
ParseOutcome ParseRecordArgs(const std::vector<std::string>& args, RecordOptions& options, std::string& error);

std::string RecordUsage();
