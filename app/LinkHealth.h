#pragma once

#include <QString>
#include <cstdint>

#include "protocol/KXProtocol.h"

// Turns successive link-counter snapshots into the status-bar line: point and
// packet rates over the last interval, CRC errors and skipped bytes since the
// connection was made. Plain class so the arithmetic can be tested directly.
class LinkHealth {
 public:
  static constexpr int kPointsPerPacket = 12;

  // Takes the counters at the moment of connecting as the baseline.
  void Start(const KXLinkStats& stats, int64_t nowMs);
  void Stop() { active = false; }
  bool Active() const { return active; }

  // Takes a new snapshot and returns the line to show; empty when inactive.
  QString Sample(const KXLinkStats& stats, int64_t nowMs);

  static QString Format(int64_t pointsPerSecond, int64_t packetsPerSecond, uint64_t crcErrors, uint64_t skippedBytes);

 private:
  bool active = false;
  KXLinkStats base;
  KXLinkStats last;
  int64_t lastMs = 0;
};
