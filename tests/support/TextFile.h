#pragma once

// Reading what the programs under test wrote: lines of a text, and the
// counters of a key=value file such as lds-sim's --stats-file.
#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"

// The lines of a text, without their line ends.
inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t start = 0, end; start < text.size(); start = end + 1) {
    end = std::min(text.find('\n', start), text.size());
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

// The value of `key=N` in a counters file; -1 when it is missing.
inline long Stat(const std::string& file, const std::string& key) {
  std::smatch m;
  const std::string text = ReadFile(file);
  return std::regex_search(text, m, std::regex("(^|\n)" + key + "=(\\d+)")) ? std::stol(m[2]) : -1;
}
